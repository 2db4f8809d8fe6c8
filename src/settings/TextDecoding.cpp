#include "settings/TextDecoding.h"

#include <QStringDecoder>
#include <QStringList>

namespace {

// Stateless: an incomplete sequence at the end of the bytes counts as an error (and
// decodes as a replacement character) instead of being held back for more input.
QString decodeWith(QStringConverter::Encoding encoding, const QByteArray& bytes) {
    QStringDecoder decoder(encoding, QStringConverter::Flag::Stateless);
    return decoder.decode(bytes);
}

// Qt's UTF-16 decoder passes a lone surrogate through; it becomes U+FFFD, as an invalid
// UTF-8 sequence does, so that the text can be written out again as UTF-8 unchanged.
QString withoutLoneSurrogates(QString text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (text.at(i).isSurrogate())
            text[i] = QChar::ReplacementCharacter;
    }
    return text;
}

bool isValidUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString ignored = decoder.decode(bytes);
    return !decoder.hasError();
}

QString decodeWindows1252(const QByteArray& bytes) {
    QStringDecoder decoder("windows-1252", QStringConverter::Flag::Stateless);
    if (decoder.isValid()) return decoder.decode(bytes);
    // A Qt build without a converter for the Windows code page: Latin-1 differs from it
    // only in 0x80..0x9F.
    return QString::fromLatin1(bytes);
}

}  // namespace

QString decodeSettingsText(const QByteArray& bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF")) return decodeWith(QStringConverter::Utf8, bytes.mid(3));
    if (bytes.startsWith("\xFF\xFE")) return withoutLoneSurrogates(decodeWith(QStringConverter::Utf16LE, bytes.mid(2)));
    if (bytes.startsWith("\xFE\xFF")) return withoutLoneSurrogates(decodeWith(QStringConverter::Utf16BE, bytes.mid(2)));
    if (isValidUtf8(bytes)) return decodeWith(QStringConverter::Utf8, bytes);
    return decodeWindows1252(bytes);
}

QStringList splitLines(const QString& text) {
    QString unified = text;
    unified.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    unified.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return unified.split(QLatin1Char('\n'));
}
