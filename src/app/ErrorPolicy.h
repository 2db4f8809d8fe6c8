#pragma once
#include <QString>
#include <exception>
#include <utility>

// The window's four ways of handling a failing statement:
//  - resume next: the failing statement is skipped and the next one runs (resumeNext);
//  - end quietly: the handler ends without a message (endQuietly);
//  - report: the handler recovers and shows the error's description in a message box;
//  - none: the error goes to the caller.

// The readable description of the exception being handled (MediaError's description, the
// text of any other std::exception, "Unknown error" otherwise).
QString describeError(std::exception_ptr error);

// Runs one statement; an exception it throws is swallowed.
template <typename F>
void resumeNext(F&& statement) noexcept {
    try {
        std::forward<F>(statement)();
    } catch (...) {
    }
}

// Runs a whole handler body; an exception ends it without a message. Returns false when the
// body ended on an error.
template <typename F>
bool endQuietly(F&& body) noexcept {
    try {
        std::forward<F>(body)();
        return true;
    } catch (...) {
        return false;
    }
}
