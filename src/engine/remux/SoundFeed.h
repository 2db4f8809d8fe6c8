#pragma once
#include <cstdint>
#include <vector>

#include "engine/common/FfmpegHandles.h"
#include "engine/common/MediaTime.h"
#include "engine/reader/OpenedSource.h"
#include "engine/writer/StreamEncoders.h"

// Sound the container cannot carry as it is: the range's packets decoded and handed to the
// writer's sound encoder, each at its exact sample, with silence where the sound has a gap and
// nothing past the range's end.
class SoundFeed {
public:
    // The sound of source stream `stream`; `length`: the range's length in its time base.
    // Throws MediaError.
    SoundFeed(const OpenedSource& source, int stream, AudioEncoder& encoder, StreamTicks length);
    // Decodes a packet whose sound starts `start` into the range (source sound time base).
    void push(const AVPacket* packet, StreamTicks start);
    // Silence up to the range's end where the source's sound stops short of it, so the range
    // after it starts in step.
    void padToEnd();

private:
    void write(const AVFrame* frame);

    AudioEncoder& encoder_;
    AVRational base_;
    ffmpeg::Codec decoder_;
    ffmpeg::Resampler converter_;  // to interleaved 16-bit samples, as the encoder takes them
    ffmpeg::Frame frame_ = ffmpeg::makeFrame();
    std::vector<int16_t> samples_;
    int rate_ = 0, channels_ = 0;
    SampleIndex written_, length_;
};
