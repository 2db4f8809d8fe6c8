#pragma once
// The INI reader on arbitrary file bytes: every section and key named in the file (and a
// few that are not) is looked up with several buffer sizes, and once through a real file
// with the language text rule.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QStringList>
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "fuzz/targets/FuzzCheck.h"
#include "settings/IniReader.h"
#include "settings/TextDecoding.h"

namespace fuzztargets {

// Section and key names as a careless reader would pick them out of the text.
inline void iniNames(const QByteArray& bytes, QStringList& sections, QStringList& keys) {
    QSet<QString> seen;
    for (const QString& rawLine : splitLines(decodeSettingsText(bytes))) {
        const QString line = rawLine.trimmed();
        if (line.startsWith(u'[') && sections.size() < 5) {
            const QString name = line.mid(1).section(u']', 0, 0);
            if (!seen.contains(u'[' + name)) sections.append(name), seen.insert(u'[' + name);
        } else if (line.contains(u'=') && keys.size() < 5) {
            const QString name = line.section(u'=', 0, 0);
            if (!seen.contains(name)) keys.append(name), seen.insert(name);
        }
    }
    sections.append(QStringLiteral("Lang"));
    keys.append(QStringLiteral("Default"));
}

inline void checkProfileString(const QByteArray& bytes, const QString& section, const QString& key,
                               const QString& defaultText, int bufferSize) {
    QString returned = QStringLiteral("left over");
    const int count = profileStringFromBytes(bytes, section, key, defaultText, returned, bufferSize);
    const std::string where = "section " + fuzzcheck::show(section) + " key " + fuzzcheck::show(key) + " buffer " +
                              std::to_string(bufferSize) + " returned " + fuzzcheck::show(returned);
    FUZZ_CHECK(count == returned.size(), where);
    FUZZ_CHECK(fuzzcheck::characterCount(returned) <= std::max(bufferSize - 1, 0), where);
    const std::optional<QString> found = findIniValue(decodeSettingsText(bytes), section, key);
    QString full = found ? *found : defaultText;
    if (!found)
        while (!full.isEmpty() && full.back().isSpace()) full.chop(1);
    FUZZ_CHECK(full.startsWith(returned), where + " value " + fuzzcheck::show(full));
    // A cut never separates the halves of a surrogate pair.
    if (fuzzcheck::wellFormed(full)) FUZZ_CHECK(fuzzcheck::wellFormed(returned), where);
    // Everything fits in a buffer big enough for it.
    if (fuzzcheck::characterCount(full) < bufferSize) FUZZ_CHECK(returned == full, where);
}

inline void fuzzIniReader(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QStringList sections, keys;
    iniNames(bytes, sections, keys);
    for (const QString& section : sections)
        for (const QString& key : keys) checkProfileString(bytes, section, key, QStringLiteral("Default"), 255);
    for (int bufferSize : {-1, 0, 1, 2, 3, 8})
        checkProfileString(bytes, sections.front(), keys.front(), QStringLiteral(" Fall back  "), bufferSize);

    // The language text rule reads the same bytes from a file.
    const QString path =
        QDir::temp().filePath(QStringLiteral("korvelin-fuzz-ini-%1.ini").arg(QCoreApplication::applicationPid()));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
    file.write(bytes);
    file.close();
    const QString text = readIniText(path, sections.front(), keys.front());
    QString expected;
    profileStringFromBytes(bytes, sections.front(), keys.front(), QStringLiteral("Default"), expected, 255);
    FUZZ_CHECK(text == expected, "file read " + fuzzcheck::show(text) + " bytes read " + fuzzcheck::show(expected));
    QFile::remove(path);
}

}  // namespace fuzztargets
