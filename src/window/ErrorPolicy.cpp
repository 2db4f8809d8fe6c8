#include "window/ErrorPolicy.h"

Q_LOGGING_CATEGORY(lcWindow, "korvelin.window", QtInfoMsg)

void logSwallowed(const char* step, std::exception_ptr error) {
    // Describing the error costs a rethrow; only pay it when someone is listening.
    if (lcWindow().isDebugEnabled()) qCDebug(lcWindow).noquote() << step << "failed:" << describeError(error);
}
