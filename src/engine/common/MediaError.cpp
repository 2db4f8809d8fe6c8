#include "engine/common/MediaError.h"

QString describeError(std::exception_ptr error) {
    try {
        if (error) std::rethrow_exception(error);
    } catch (const MediaError& e) {
        return e.description();
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
    return {};
}
