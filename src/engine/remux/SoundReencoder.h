#pragma once
// Sound in a codec the output container cannot carry: decoded and encoded again with the
// container's own sound codec, keeping rate and channels where the encoder takes them.
#include <QString>
#include <cstdint>
#include <functional>

#include "engine/common/FfmpegHandles.h"

extern "C" {
#include <libavformat/avformat.h>
}

class SoundReencoder {
public:
    // Writes an encoded packet, its times in the encoder's time base.
    using Write = std::function<void(AVPacket*, AVRational)>;

    // Sets the output stream up for the container's sound codec. Throws MediaError.
    SoundReencoder(const AVStream* source, const AVOutputFormat* format, AVStream* output);
    // Decodes a source packet whose sound starts at `start` (output time, seconds) and writes
    // what the encoder gives.
    void push(const AVPacket* packet, double start, const Write& write);
    // Encodes what is left.
    void finish(const Write& write);

private:
    void encodeFromFifo(int samples, const Write& write);

    ffmpeg::Codec decoder_, encoder_;
    ffmpeg::Resampler resampler_;
    ffmpeg::AudioFifo fifo_;
    ffmpeg::Frame frame_ = ffmpeg::makeFrame();
    ffmpeg::Packet packet_ = ffmpeg::makePacket();
    int64_t nextPts_ = -1;  // samples: where the next encoded frame starts
};
