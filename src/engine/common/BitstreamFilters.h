#pragma once
// An FFmpeg bitstream filter set up for one stream's packets.
#include "engine/common/FfmpegHandles.h"

extern "C" {
#include <libavcodec/codec_par.h>
#include <libavutil/rational.h>
}

// The filter `name` for packets of a stream described by `par` in time base `timeBase`, or
// FFmpeg's error code when it is unknown or refuses the stream.
struct OpenedFilter {
    ffmpeg::BitstreamFilter filter;
    int error = 0;
};
OpenedFilter openBitstreamFilter(const char* name, const AVCodecParameters* par, AVRational timeBase);
