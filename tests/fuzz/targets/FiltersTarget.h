#pragma once
// The dialog filter conversion on arbitrary text. Each Qt name filter it makes must read
// back, by Qt's own rule, as the description and exactly the patterns of its pair.
#include <QRegularExpression>
#include <QStringList>
#include <cstddef>
#include <cstdint>

#include "engine/platform/Dialogs.h"
#include "fuzz/targets/FuzzCheck.h"

namespace fuzztargets {

// How Qt's file dialogs split a name filter "Description (pattern pattern)": the patterns
// come from the last parentheses when they hold only the characters Qt accepts there;
// otherwise the whole filter, split at blanks, is taken as patterns.
inline QStringList qtFilterPatterns(const QString& filter) {
    static const QRegularExpression qtRule(
        QStringLiteral("^(.*)\\(([a-zA-Z0-9_.,*? +;#\\-\\[\\]@\\{\\}/!<>\\$%&=^~:\\|]*)\\)$"));
    const QRegularExpressionMatch match = qtRule.match(filter);
    return (match.hasMatch() ? match.captured(2) : filter).split(u' ', Qt::SkipEmptyParts);
}

inline void fuzzDialogFilters(const uint8_t* data, size_t size) {
    const QString pipeFilter = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QStringList filters = qtNameFilters(pipeFilter);
    const QStringList pieces = pipeFilter.split(u'|');
    FUZZ_CHECK(filters.size() <= pieces.size() / 2, fuzzcheck::show(pipeFilter));

    // The pairs that are not both empty, in order, are the filters.
    static const QRegularExpression separators(QStringLiteral("[;\\s]+"));
    qsizetype next = 0;
    for (qsizetype i = 0; i + 1 < pieces.size(); i += 2) {
        const QString description = pieces.at(i).trimmed();
        const QStringList written = pieces.at(i + 1).split(separators, Qt::SkipEmptyParts);
        if (description.isEmpty() && written.isEmpty()) continue;
        FUZZ_CHECK(next < filters.size(), fuzzcheck::show(pipeFilter));
        if (next >= filters.size()) return;
        const QString& filter = filters.at(next++);
        const std::string where = "pair " + fuzzcheck::show(pieces.at(i)) + " | " + fuzzcheck::show(pieces.at(i + 1)) +
                                  " -> " + fuzzcheck::show(filter);
        // The description stays, its line breaks (which Qt's rule cannot read) made blanks.
        bool sameDescription = filter.size() > description.size();
        for (qsizetype k = 0; sameDescription && k < description.size(); ++k)
            sameDescription =
                filter.at(k) == description.at(k) || (description.at(k).isSpace() && filter.at(k) == u' ');
        FUZZ_CHECK(sameDescription, where);
        const QStringList patterns = qtFilterPatterns(filter);
        FUZZ_CHECK(!patterns.isEmpty(), where);
        // Patterns never carry the description's words, and none is empty or holds blanks.
        FUZZ_CHECK(filter.mid(description.size()).trimmed() == u'(' + patterns.join(u' ') + u')', where);
        for (const QString& pattern : patterns) FUZZ_CHECK(!pattern.contains(separators), where);
        // One pattern read for each written one that is more than parentheses; "*" for none.
        qsizetype meant = 0;
        for (const QString& pattern : written) meant += QString(pattern).remove(u'(').remove(u')').isEmpty() ? 0 : 1;
        if (meant == 0)
            FUZZ_CHECK(patterns == QStringList{QStringLiteral("*")}, where);
        else
            FUZZ_CHECK(patterns.size() == meant, where);
    }
    FUZZ_CHECK(next == filters.size(), fuzzcheck::show(pipeFilter));
}

}  // namespace fuzztargets
