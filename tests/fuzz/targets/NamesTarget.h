#pragma once
// The output-name rules on arbitrary names. The input is read as lines:
//   source path, output extension, old extension piece, new extension, then names that
//   already exist (for the free-name search).
#include <QSet>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "fuzz/targets/FuzzCheck.h"
#include "rules/OutputNames.h"

namespace fuzztargets {

inline QString folderOf(const QString& path) { return path.left(path.lastIndexOf(u'/') + 1); }

inline void checkNextStep(const QString& path) {
    const qsizetype dot = extensionDot(path);
    const bool hasStep = dot > folderOf(path).size();
    QString next;
    try {
        next = nextNameStep(path);
    } catch (const std::invalid_argument&) {
        FUZZ_CHECK(!hasStep, "refused " + fuzzcheck::show(path));
        return;
    }
    const std::string where = fuzzcheck::show(path) + " -> " + fuzzcheck::show(next);
    FUZZ_CHECK(hasStep, where);
    FUZZ_CHECK(next != path, where);
    FUZZ_CHECK(folderOf(next) == folderOf(path), where);
    FUZZ_CHECK(next.mid(extensionDot(next)) == path.mid(dot), where);
    // Names never get shorter, so the free-name search never comes back to a name.
    FUZZ_CHECK(fuzzcheck::characterCount(next.left(extensionDot(next))) >= fuzzcheck::characterCount(path.left(dot)),
               where);
    if (fuzzcheck::wellFormed(path)) FUZZ_CHECK(fuzzcheck::wellFormed(next), where);
}

inline void fuzzOutputNames(const uint8_t* data, size_t size) {
    const QStringList lines =
        fuzzcheck::lines(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)), 40);
    const auto line = [&lines](int i) { return i < lines.size() ? lines.at(i) : QString(); };
    const QString source = line(0);
    // Extensions come from the program's lists: no folders in them.
    const QString extension = QString(line(1)).remove(u'/');
    const QString oldPiece = line(2);
    const QString newExtension = QString(line(3)).remove(u'/').remove(u'.');

    // Proposal: beside the source, different from it and from each other.
    const auto [first, second] = proposeOutputNames(source, extension);
    const std::string proposal =
        fuzzcheck::show(source) + " -> " + fuzzcheck::show(first) + " , " + fuzzcheck::show(second);
    FUZZ_CHECK(first != source && second != source && first != second, proposal);
    FUZZ_CHECK(folderOf(first) == folderOf(source) && folderOf(second) == folderOf(source), proposal);
    if (!extension.contains(u'.')) {
        QString piece;
        FUZZ_CHECK(extensionPiece(first, &piece) && piece == extension, proposal);
    }
    if (fuzzcheck::wellFormed(source) && fuzzcheck::wellFormed(extension))
        FUZZ_CHECK(fuzzcheck::wellFormed(first) && fuzzcheck::wellFormed(second), proposal);

    // Extension piece and its rewrite: folders never change.
    QString piece;
    const bool hasPiece = extensionPiece(source, &piece);
    FUZZ_CHECK(hasPiece == (extensionDot(source) >= 0), fuzzcheck::show(source));
    if (hasPiece) FUZZ_CHECK(!piece.contains(u'.') && !piece.contains(u'/'), fuzzcheck::show(source));
    const QString rewritten = rewriteExtension(source, oldPiece, newExtension);
    const std::string rewrite = fuzzcheck::show(source) + " " + fuzzcheck::show(oldPiece) + " -> " +
                                fuzzcheck::show(newExtension) + " = " + fuzzcheck::show(rewritten);
    FUZZ_CHECK(folderOf(rewritten) == folderOf(source), rewrite);
    if (!hasPiece || piece != oldPiece) {
        FUZZ_CHECK(rewritten == source, rewrite);
    } else {
        QString newPiece;
        FUZZ_CHECK(extensionPiece(rewritten, &newPiece) && newPiece == newExtension, rewrite);
    }

    // Free-name search: the first name on from the source that does not exist.
    checkNextStep(source);
    QSet<QString> existing;
    for (qsizetype i = 4; i < lines.size(); ++i) existing.insert(lines.at(i));
    int asked = 0;
    const auto exists = [&](const QString& name) {
        ++asked;
        return existing.contains(name);
    };
    try {
        const QString free = freeName(source, exists);
        FUZZ_CHECK(!existing.contains(free), fuzzcheck::show(free));
        FUZZ_CHECK(asked <= existing.size() + 1, fuzzcheck::show(free));
        FUZZ_CHECK(folderOf(free) == folderOf(source), fuzzcheck::show(free));
    } catch (const std::invalid_argument&) {
        // Only a name that exists and cannot be stepped on (no dot in its file name).
    }
    for (const QString& name : existing) checkNextStep(name);

    // Frame picture proposal: the source less its extension, " Frame" and the number.
    const int32_t frame = static_cast<int32_t>(size * 2654435761u);
    const QString picture = framePictureProposal(source, frame);
    const QString tail = QStringLiteral(" Frame") + QString::number(frame);
    const std::string where = fuzzcheck::show(source) + " -> " + fuzzcheck::show(picture);
    FUZZ_CHECK(picture.endsWith(tail), where);
    if (fuzzcheck::wellFormed(source)) FUZZ_CHECK(fuzzcheck::wellFormed(picture), where);
    FUZZ_CHECK(source.startsWith(picture.left(picture.size() - tail.size())), where);
    FUZZ_CHECK(folderOf(picture) == folderOf(source), where);
}

}  // namespace fuzztargets
