#include "engine/common/EngineLog.h"

#include <QByteArray>

extern "C" {
#include <libavutil/log.h>
}

Q_LOGGING_CATEGORY(lcRemux, "korvelin.remux", QtInfoMsg)
// Damaged media is reported to the user in the program's own words; FFmpeg's lines are
// there for tracing only.
Q_LOGGING_CATEGORY(lcFfmpeg, "korvelin.ffmpeg", QtCriticalMsg)

namespace {

// FFmpeg hands a line over in parts (and from several threads): each thread gathers its own
// up to the line's end.
void logLine(void* object, int level, const char* format, va_list args) {
    if (level > av_log_get_level()) return;
    thread_local QByteArray line;
    thread_local int prefix = 1;
    char part[1024];
    av_log_format_line2(object, level, format, args, part, sizeof part, &prefix);
    line += part;
    if (!line.endsWith('\n')) return;
    line.chop(1);
    if (level <= AV_LOG_ERROR)
        qCWarning(lcFfmpeg, "%s", line.constData());
    else if (level <= AV_LOG_WARNING)
        qCInfo(lcFfmpeg, "%s", line.constData());
    else
        qCDebug(lcFfmpeg, "%s", line.constData());
    line.clear();
}

}  // namespace

void routeFfmpegLog() {
    // FFmpeg formats only the lines the category would show.
    const QLoggingCategory& category = lcFfmpeg();
    av_log_set_level(category.isDebugEnabled()     ? AV_LOG_DEBUG
                     : category.isInfoEnabled()    ? AV_LOG_WARNING
                     : category.isWarningEnabled() ? AV_LOG_ERROR
                                                   : AV_LOG_QUIET);
    av_log_set_callback(logLine);
}
