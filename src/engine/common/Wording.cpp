#include "engine/common/Wording.h"

namespace {

bool isVowel(QChar c) { return QStringLiteral("aeiou").contains(c.toLower()); }

// Letters whose spoken name starts with a vowel: "eff", "aitch", "el", "em", "en", "ar", "ess", "ex".
bool letterNameStartsWithVowel(QChar c) { return QStringLiteral("aefhilmnorsx").contains(c.toLower()); }

// A word spoken letter by letter: in capitals (MP4, FLV, HEVC), or written without a vowel
// or with a digit (mkv, mp4, h264).
bool spokenAsLetters(const QString& word) {
    bool letters = false, upper = true, vowel = false, digit = false;
    for (const QChar c : word) {
        if (c.isLetter()) {
            letters = true;
            upper = upper && c.isUpper();
            vowel = vowel || isVowel(c);
        }
        digit = digit || c.isDigit();
    }
    return letters && ((upper && word.size() > 1) || !vowel || digit);
}

}  // namespace

QString withArticle(const QString& phrase, bool capital) {
    // The first word: letters and digits up to the first other sign ("MPEG-TS" -> "MPEG").
    QString word;
    for (const QChar c : phrase.trimmed()) {
        if (!c.isLetterOrNumber()) break;
        word += c;
    }
    bool an = false;
    if (!word.isEmpty()) {
        const QChar first = word[0];
        if (first.isDigit())
            an = first == '8' || word.startsWith(QLatin1String("11")) || word.startsWith(QLatin1String("18"));
        else if (word.startsWith(QLatin1String("mpeg"), Qt::CaseInsensitive))
            an = true;  // "em-peg"
        else if (spokenAsLetters(word))
            an = letterNameStartsWithVowel(first);
        else
            an = isVowel(first) && !word.startsWith(QLatin1String("uni"), Qt::CaseInsensitive);
    }
    const QString article = an ? QStringLiteral("an") : QStringLiteral("a");
    return (capital ? article.left(1).toUpper() + article.mid(1) : article) + ' ' + phrase;
}
