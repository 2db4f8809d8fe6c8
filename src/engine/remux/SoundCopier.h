#pragma once
// The sound of one range: the source's whole sound frames copied into the output session, or,
// where the container cannot carry the source's codec, decoded and handed to the session's
// sound encoder (the writer's), placed at the exact sample.
#include <cstdint>

#include "engine/common/FfmpegHandles.h"
#include "engine/common/MediaTime.h"
#include "engine/reader/OpenedSource.h"
#include "engine/remux/OutputSession.h"

class SoundCopier {
public:
    // The sound from source video time `from` to `to` (video time base), placed at output time
    // outputStart (video time base). Throws MediaError.
    SoundCopier(const OpenedSource& source, OutputSession& session, StreamTicks from, StreamTicks to,
                StreamTicks outputStart);
    // Writes sound until it has passed output time `until` (video time base) or the range ends.
    void writeUntil(StreamTicks until);
    // Writes what is left of the range.
    void finish() { writeUntil(StreamTicks{INT64_MAX}); }
    int64_t packetsCopied() const { return copied_; }

private:
    void decode(const AVPacket* packet, StreamTicks start);
    void encodeSamples(const AVFrame* frame);

    const OpenedSource& source_;
    OutputSession& session_;
    demux::Input input_;
    int stream_;
    AVRational base_;  // the source sound's time base
    AVRational videoBase_;
    StreamTicks from_, to_, outputStart_;  // sound time base
    ffmpeg::Packet packet_ = ffmpeg::makePacket();
    bool landing_ = true;  // the next packet is the first after the seek
    bool done_ = false;
    int64_t next_;           // sound time base: where the packet read last ends
    int64_t lastTicks_ = 1;  // its duration
    int64_t copied_ = 0;

    // Encoding again: decoder, converter to the encoder's input, and the samples handed on.
    ffmpeg::Codec decoder_;
    ffmpeg::Resampler converter_;
    ffmpeg::Frame frame_;
    std::vector<int16_t> samples_;
    int rate_ = 0, channels_ = 0;
    SampleIndex samplesWritten_, samplesInRange_;
};
