#pragma once
#include <QLoggingCategory>
#include <QString>
#include <exception>
#include <utility>

#include "engine/common/MediaError.h"

// The window's four ways of handling a failing statement:
//  - resume next: the failing statement is skipped and the next one runs (resumeNext);
//  - end quietly: the handler ends without a message (endQuietly);
//  - report: the handler recovers and shows the error's description in a message box;
//  - none: the error goes to the caller.
// What resume next and end quietly swallow is logged under "korvelin.window" at debug level,
// off by default: QT_LOGGING_RULES="korvelin.window.debug=true" shows it.

Q_DECLARE_LOGGING_CATEGORY(lcWindow)

// Logs a swallowed failure with the short label of the step that failed.
void logSwallowed(const char* step, std::exception_ptr error);

// Runs one statement; an exception it throws is logged and swallowed.
template <typename F>
void resumeNext(const char* step, F&& statement) noexcept {
    try {
        std::forward<F>(statement)();
    } catch (...) {
        logSwallowed(step, std::current_exception());
    }
}

// Runs a whole handler body; an exception ends it without a message (logged). Returns false
// when the body ended on an error.
template <typename F>
bool endQuietly(const char* step, F&& body) noexcept {
    try {
        std::forward<F>(body)();
        return true;
    } catch (...) {
        logSwallowed(step, std::current_exception());
        return false;
    }
}
