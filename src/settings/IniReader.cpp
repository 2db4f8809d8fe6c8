#include "settings/IniReader.h"

#include <QFile>
#include <QStringList>

#include "settings/TextDecoding.h"

namespace {

bool sameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

// Removes one pair of matching single or double quotes around a value.
QString unquoted(const QString& value) {
    if (value.size() >= 2) {
        const QChar first = value.front();
        if ((first == u'"' || first == u'\'') && value.back() == first) return value.mid(1, value.size() - 2);
    }
    return value;
}

// The first `count` characters, counting a surrogate pair as one character so a cut
// never leaves half of one.
QString firstCharacters(const QString& text, int count) {
    int units = 0;
    for (int characters = 0; characters < count && units < text.size(); ++characters)
        units += (text.at(units).isHighSurrogate() && units + 1 < text.size() && text.at(units + 1).isLowSurrogate())
                     ? 2
                     : 1;
    return text.left(units);
}

// The default text loses its trailing blanks, as the Windows function does.
QString withoutTrailingBlanks(QString text) {
    while (!text.isEmpty() && text.back().isSpace()) text.chop(1);
    return text;
}

}  // namespace

std::optional<QString> findIniValue(const QString& iniText, const QString& section, const QString& key) {
    const QString wantedSection = section.trimmed();
    const QString wantedKey = key.trimmed();
    bool inSection = false;
    for (const QString& rawLine : splitLines(iniText)) {
        const QString line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith(u';')) continue;
        if (line.startsWith(u'[')) {
            const qsizetype close = line.indexOf(u']');
            // A line "[name" without its closing bracket names the section up to its end.
            const QString name = line.mid(1, close < 0 ? -1 : close - 1).trimmed();
            inSection = sameName(name, wantedSection);
            continue;
        }
        if (!inSection) continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0) continue;
        if (sameName(line.left(equals).trimmed(), wantedKey)) return unquoted(line.mid(equals + 1).trimmed());
    }
    return std::nullopt;
}

int profileStringFromBytes(const QByteArray& fileBytes, const QString& section, const QString& key,
                           const QString& defaultText, QString& returned, int bufferSize) {
    const std::optional<QString> found = findIniValue(decodeSettingsText(fileBytes), section, key);
    const QString value = found ? *found : withoutTrailingBlanks(defaultText);
    returned = firstCharacters(value, bufferSize > 0 ? bufferSize - 1 : 0);
    return static_cast<int>(returned.size());
}

int GetPrivateProfileString(const QString& section, const QString& key, const QString& defaultText, QString& returned,
                            int bufferSize, const QString& path) {
    QFile file(path);
    // A missing or unreadable file reads like an empty one: every key takes its default.
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    return profileStringFromBytes(bytes, section, key, defaultText, returned, bufferSize);
}

QString readIniText(const QString& path, const QString& section, const QString& key) {
    constexpr int kBufferSize = 255;
    QString buffer;
    const int count = GetPrivateProfileString(section, key, QStringLiteral("Default"), buffer, kBufferSize, path);
    return buffer.left(count);
}

QString readAddedIniText(const QString& path, const QString& fallbackPath, const QString& section, const QString& key) {
    constexpr int kBufferSize = 255;
    QString buffer;
    const int count =
        GetPrivateProfileString(section, key, readIniText(fallbackPath, section, key), buffer, kBufferSize, path);
    return buffer.left(count);
}
