#pragma once
#include <functional>

extern "C" {
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
}

// One step of a decoder fed from a demuxer: true with the next decoded frame in `frame` (the
// caller unreferences it when done). Packets come from readPacket, which fills `packet` and
// returns false when there are no more; the end of the stream is then signalled once and
// noted in *sentEnd. Damaged packets and frames are skipped. False when the decoder has given
// its last frame, or keeps failing.
bool decodeNextFrame(AVCodecContext* decoder, AVFrame* frame, AVPacket* packet, bool* sentEnd,
                     const std::function<bool()>& readPacket);
