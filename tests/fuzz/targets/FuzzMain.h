#pragma once
// Start-up shared by the fuzz programs: FFmpeg stays quiet (its complaints about broken
// input are expected by the thousand) and Qt finds no display it does not need.
#include <QByteArray>
#include <cstdint>
#include <cstdlib>

extern "C" {
#include <libavutil/log.h>
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    av_log_set_level(AV_LOG_QUIET);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return 0;
}
