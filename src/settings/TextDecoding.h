#pragma once
#include <QByteArray>
#include <QString>

// Decodes a text file the way the settings files are read: a byte-order mark chooses
// UTF-8 or UTF-16; otherwise the bytes are UTF-8 when they are valid UTF-8 and
// Windows-1252 when they are not (files written by older single-byte editors).
QString decodeSettingsText(const QByteArray& bytes);

// Splits text into lines at CR LF, LF or a lone CR.
QStringList splitLines(const QString& text);
