#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

// Checks inside the fuzz target bodies. A failed check aborts the fuzzer (so libFuzzer saves
// the input); the replay test installs its own handler that records a test failure instead.
namespace fuzzcheck {

using Handler = std::function<void(const std::string& message)>;

inline Handler& handler() {
    static Handler h = [](const std::string& message) {
        std::fprintf(stderr, "fuzz check failed: %s\n", message.c_str());
        std::abort();
    };
    return h;
}

inline void fail(const char* file, int line, const std::string& what) {
    handler()(std::string(file) + ":" + std::to_string(line) + ": " + what);
}

// Printable form of a text for a failure message.
inline std::string show(const QString& text) {
    return QString::fromLatin1(text.toUtf8().toPercentEncoding(" /.:;*?()[]=_-,@\"'")).toStdString();
}

// True when every surrogate of the text is half of a pair.
inline bool wellFormed(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (text.at(i).isSurrogate())
            return false;
    }
    return true;
}

// Number of characters, a surrogate pair counting as one.
inline qsizetype characterCount(const QString& text) {
    qsizetype count = 0;
    for (qsizetype i = 0; i < text.size(); ++i, ++count)
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) ++i;
    return count;
}

// The input split at newlines into UTF-8 texts (invalid bytes read as U+FFFD), at most
// `limit` pieces; the last piece keeps any further newlines.
inline QStringList lines(const QByteArray& input, int limit) {
    QStringList pieces;
    qsizetype start = 0;
    while (pieces.size() + 1 < limit) {
        const qsizetype end = input.indexOf('\n', start);
        if (end < 0) break;
        pieces.append(QString::fromUtf8(input.mid(start, end - start)));
        start = end + 1;
    }
    pieces.append(QString::fromUtf8(input.mid(start)));
    return pieces;
}

}  // namespace fuzzcheck

#define FUZZ_CHECK(condition, what)                                                                         \
    do {                                                                                                    \
        if (!(condition)) ::fuzzcheck::fail(__FILE__, __LINE__, std::string(#condition) + " -- " + (what)); \
    } while (0)
