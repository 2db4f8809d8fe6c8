#include "settings/RegFile.h"

#include <QStringList>
#include <optional>

#include "settings/TextDecoding.h"

namespace {

const QString kHeader5 = QStringLiteral("Windows Registry Editor Version 5.00");
const QString kHeader4 = QStringLiteral("REGEDIT4");

// Reads a quoted text starting at text[start] == '"'. Inside it "\\" stands for "\" and
// "\"" for '"'; any other backslash is taken as it is. Returns the text and sets `end` to
// the index after the closing quote; nullopt when the quote is never closed.
std::optional<QString> readQuoted(const QString& text, qsizetype start, qsizetype& end) {
    QString result;
    for (qsizetype i = start + 1; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'"') {
            end = i + 1;
            return result;
        }
        if (c == u'\\' && i + 1 < text.size() && (text.at(i + 1) == u'\\' || text.at(i + 1) == u'"')) ++i;
        result.append(text.at(i));
    }
    return std::nullopt;
}

// "hex(1):41,00,00,00" -> the bytes; nullopt when a piece is not a two-digit hex byte.
std::optional<QByteArray> hexBytes(const QString& list) {
    QByteArray bytes;
    for (const QString& piece : list.split(u',', Qt::SkipEmptyParts)) {
        const QString digits = piece.trimmed();
        bool ok = false;
        const uint byte = digits.toUInt(&ok, 16);
        if (!ok || digits.size() > 2) return std::nullopt;
        bytes.append(static_cast<char>(byte));
    }
    return bytes;
}

// String data written in hex form: UTF-16LE characters ending in a NUL character.
std::optional<QString> hexString(const QString& data) {
    const qsizetype colon = data.indexOf(u':');
    const std::optional<QByteArray> bytes = hexBytes(data.mid(colon + 1));
    if (!bytes || bytes->isEmpty() || bytes->size() % 2 != 0) return std::nullopt;
    QString text(bytes->size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        text[i] = QChar(static_cast<char16_t>(static_cast<uchar>(bytes->at(2 * i)) |
                                              static_cast<uchar>(bytes->at(2 * i + 1)) << 8));
    if (text.endsWith(QChar(0))) text.chop(1);
    return text;
}

// A line that carries on hex data: not empty, not a key, value or comment line.
bool isContinuation(const QString& line) {
    return !line.isEmpty() && !line.startsWith(u'[') && !line.startsWith(u'"') && !line.startsWith(u'@') &&
           !line.startsWith(u';');
}

bool startsWithHex(const QString& data) { return data.startsWith(QLatin1String("hex"), Qt::CaseInsensitive); }

// One "name"=data or @=data line; nullopt when the line is not a value or deletes one.
std::optional<RegValue> parseValueLine(const QString& line) {
    RegValue value;
    qsizetype rest = 0;
    if (line.startsWith(u'@')) {
        rest = 1;
    } else if (line.startsWith(u'"')) {
        const std::optional<QString> name = readQuoted(line, 0, rest);
        if (!name) return std::nullopt;
        value.name = *name;
    } else {
        return std::nullopt;
    }
    const QString assignment = line.mid(rest).trimmed();
    if (!assignment.startsWith(u'=')) return std::nullopt;
    const QString data = assignment.mid(1).trimmed();
    if (data.isEmpty() || data == u"-") return std::nullopt;

    if (data.startsWith(u'"')) {
        qsizetype end = 0;
        const std::optional<QString> text = readQuoted(data, 0, end);
        if (!text || !data.mid(end).trimmed().isEmpty()) return std::nullopt;
        value.data = *text;
        return value;
    }
    // Other kinds are kept verbatim so that a rewrite of the file does not lose them. String
    // data in hex form (REG_SZ, REG_EXPAND_SZ) still reads as a string.
    value.rawData = data;
    const bool hexText = data.startsWith(QLatin1String("hex(1):"), Qt::CaseInsensitive) ||
                         data.startsWith(QLatin1String("hex(2):"), Qt::CaseInsensitive);
    const std::optional<QString> text = hexText ? hexString(data) : std::nullopt;
    value.isString = text.has_value();
    if (text) value.data = *text;
    return value;
}

bool needsHexForm(const QString& text) {
    for (QChar c : text)
        if (c.unicode() < 0x20 && c != u'\t') return true;
    return false;
}

QString hexForm(const QString& text) {
    QStringList bytes;
    const auto appendByte = [&bytes](uint byte) {
        bytes.append(QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')));
    };
    for (QChar c : text + QChar(0)) {
        appendByte(c.unicode() & 0xFF);
        appendByte(c.unicode() >> 8);
    }
    return QStringLiteral("hex(1):") + bytes.join(u',');
}

}  // namespace

QString regFold(const QString& name) { return name.toCaseFolded(); }

bool isValidKeyPath(const QString& path) {
    if (path.isEmpty()) return false;
    for (const QString& part : path.split(u'\\'))
        if (part.isEmpty()) return false;
    return true;
}

void addRegKey(RegData& data, const QString& path) {
    qsizetype end = -1;
    do {
        end = path.indexOf(u'\\', end + 1);
        const QString prefix = end < 0 ? path : path.left(end);
        const QString folded = regFold(prefix);
        if (!data.keys.contains(folded)) data.keys.insert(folded, RegKey{prefix, {}});
    } while (end >= 0);
}

QString regQuote(const QString& text) {
    QString quoted = text;
    quoted.replace(QLatin1String("\\"), QLatin1String("\\\\"));
    quoted.replace(QLatin1String("\""), QLatin1String("\\\""));
    return u'"' + quoted + u'"';
}

RegData parseRegFile(const QByteArray& bytes) {
    RegData data;
    const QStringList lines = splitLines(decodeSettingsText(bytes));
    qsizetype i = 0;
    const auto skippable = [](const QString& line) { return line.isEmpty() || line.startsWith(u';'); };
    while (i < lines.size() && skippable(lines.at(i).trimmed())) ++i;
    if (i == lines.size()) return data;
    const QString header = lines.at(i).trimmed();
    if (header != kHeader5 && header != kHeader4) {
        data.unrecognised = true;
        return data;
    }

    QString currentKey;  // folded path of the key the value lines belong to; "" = none
    for (++i; i < lines.size(); ++i) {
        QString line = lines.at(i).trimmed();
        if (skippable(line)) continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            const QString path = line.mid(1, line.size() - 2);
            // "[-path]" asks an import to delete the key; in a stored file it names nothing.
            currentKey.clear();
            if (path.startsWith(u'-') || !isValidKeyPath(path)) continue;
            addRegKey(data, path);
            currentKey = regFold(path);
            continue;
        }
        // Hex data may continue on the next lines, each break marked by a closing "\".
        // A mark with no continuation after it is dropped.
        const qsizetype equals = line.indexOf(u'=');
        if (equals > 0 && startsWithHex(line.mid(equals + 1).trimmed())) {
            while (line.endsWith(u'\\')) {
                line.chop(1);
                if (i + 1 < lines.size() && isContinuation(lines.at(i + 1).trimmed())) line += lines.at(++i).trimmed();
            }
        }
        if (currentKey.isEmpty()) continue;
        std::optional<RegValue> value = parseValueLine(line);
        if (!value) continue;
        RegKey& key = data.keys[currentKey];
        const QString folded = regFold(value->name);
        if (key.values.contains(folded)) value->name = key.values[folded].name;  // keep first spelling
        key.values.insert(folded, *value);
    }
    return data;
}

QByteArray formatRegFile(const RegData& data) {
    QString text = kHeader5 + QStringLiteral("\n\n");
    for (const RegKey& key : data.keys) {
        text += u'[' + key.path + QStringLiteral("]\n");
        for (const RegValue& value : key.values) {
            text += value.name.isEmpty() ? QStringLiteral("@") : regQuote(value.name);
            text += u'=';
            if (!value.rawData.isEmpty())
                text += value.rawData;
            else
                text += needsHexForm(value.data) ? hexForm(value.data) : regQuote(value.data);
            text += u'\n';
        }
        text += u'\n';
    }
    return text.toUtf8();
}
