#pragma once
// Encoding frames next to a cut point so they join the copied packets: the source's codec,
// profile, level, size, pixel format, pixel aspect, field order and colour description, and
// packets in the source's own bitstream form.
#include <QString>
#include <cstdint>
#include <set>

#include "engine/common/FfmpegHandles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

// A piece's rate cap: bits per second (0 for none) and the buffer that evens them out, which
// holds at least a keyframe like the source's; and the rate the piece aims at (0 for none):
// the source's own over the same frames, with a keyframe like the source's where they hold none.
struct RateCap {
    int64_t bitsPerSecond = 0, bufferBits = 0;
    int64_t aimBitsPerSecond = 0;
};

// True when frames of this stream can be encoded again so that they join its packets: this
// FFmpeg has an encoder for its codec and the encoder opens with the stream's settings.
// *why (when given) receives the reason when not.
bool canEncodeEdges(const AVStream* source, AVRational frameRate, QString* why = nullptr);

// An encoder for one piece of frames (each piece starts with a keyframe and carries its own
// stream headers in band, since the container's header describes the copied packets).
// Frames go in in display order with pts 0, 1, 2, ...; packets come out with those pts and
// decode times in the same units (in display order, except H.264 and MPEG-4 pieces of a
// source with B-frames).
// sourceBitRate: the source's average video bit rate (bits per second, 0 when unknown).
// cap: the highest bit rate the piece may take; an H.264 piece never exceeds what the level
// the stream declares allows either.
// headersOnly: the encoder puts its stream headers in its extradata (for the container's
// header), not in band. threads: 0 for as many as the encoder chooses.
ffmpeg::Codec openEdgeEncoder(const AVStream* source, const AVFrame* firstFrame, AVRational frameRate,
                              int64_t sourceBitRate, const RateCap& cap, const std::set<int>& usedParameterSetIds,
                              bool headersOnly = false, int threads = 0);

// The highest bit rate (bits per second) an H.264 level allows a stream of this profile
// (its coded picture buffer's input rate); 0 for an unknown level.
int64_t h264LevelMaxBitRate(int profile, int level);
