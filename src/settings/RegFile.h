#pragma once
#include <QByteArray>
#include <QMap>
#include <QString>

// The contents of one registry file in the registry editor's export format:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\Software\Halvorin\Vantrel Settings]
//   @="the unnamed default value"
//   "Lang"="English"
//
// Names of keys and values compare without regard to case, as in the registry; the
// spelling first seen is kept. Key paths here are full paths, root name included.

struct RegValue {
    QString name;  // "" = the key's unnamed default value
    bool isString = true;
    QString data;     // the text of a string value
    QString rawData;  // any other kind, kept verbatim (e.g. "dword:00000001")
};

struct RegKey {
    QString path;                    // e.g. "HKEY_LOCAL_MACHINE\Software\Halvorin"
    QMap<QString, RegValue> values;  // by folded value name
};

struct RegData {
    QMap<QString, RegKey> keys;  // by folded key path; sorted, so parents come first
    // The input had text but not the registry file header: nothing was taken from it.
    bool unrecognised = false;
};

// Folded form of a key path or value name, for comparisons without regard to case.
QString regFold(const QString& name);

// A key path is valid when it has no empty part: no leading, trailing or doubled "\".
bool isValidKeyPath(const QString& path);

// Adds the key at `path` (a full path) and every missing parent of it.
void addRegKey(RegData& data, const QString& path);

// Reads the file's bytes. Never fails: what cannot be understood is left out. The file is
// decoded as UTF-16 when it starts with a UTF-16 byte-order mark (the registry editor's
// own export), else as UTF-8, or Windows-1252 when it is not valid UTF-8.
RegData parseRegFile(const QByteArray& bytes);

// Writes the data as UTF-8 text that parseRegFile reads back unchanged.
QByteArray formatRegFile(const RegData& data);

// Quoting of names and string data: "\" and '"' are escaped with a backslash.
QString regQuote(const QString& text);
