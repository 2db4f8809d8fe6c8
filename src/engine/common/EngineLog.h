#pragma once
// The engine's logging categories. Decisions a user may want to trace (a range encoded
// rather than copied, and why) go to korvelin.remux; the lines FFmpeg and the encoders it
// wraps (x264) print go to korvelin.ffmpeg, which is silent unless enabled, for example
// QT_LOGGING_RULES="korvelin.ffmpeg.debug=true".
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcRemux)
Q_DECLARE_LOGGING_CATEGORY(lcFfmpeg)

// Sends FFmpeg's log lines to korvelin.ffmpeg instead of stderr: errors as warnings,
// warnings as information, the rest as debug lines. Called once, at start-up.
void routeFfmpegLog();
