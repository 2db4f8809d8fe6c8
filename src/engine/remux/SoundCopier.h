#pragma once
// The sound of one range, one track: the source's whole sound frames copied into the output session, or,
// where the container cannot carry the source's codec, decoded and handed to the session's
// sound encoder (the writer's), placed at the exact sample.
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "engine/common/FfmpegHandles.h"
#include "engine/common/MediaTime.h"
#include "engine/reader/OpenedSource.h"
#include "engine/remux/OutputSession.h"

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

// Where copied sound frames meet at the joins of several ranges. The range before ended its
// sound at `joinAt` (output, source sound time base); `joinsNext` says a range follows.
struct SoundJoins {
    std::optional<StreamTicks> joinAt;
    bool joinsNext = false;
};

class SoundCopier {
public:
    // The sound of `track` from source video time `from` to `to` (video time base), placed at
    // output time outputStart (video time base). Throws MediaError.
    SoundCopier(const OpenedSource& source, OutputSession& session, const OutputSession::Track& track, StreamTicks from,
                StreamTicks to, StreamTicks outputStart, SoundJoins joins = {});
    // Writes sound until it has passed output time `until` (video time base) or the range ends.
    void writeUntil(StreamTicks until);
    // Writes what is left of the range.
    void finish() { writeUntil(StreamTicks{INT64_MAX}); }
    int64_t packetsCopied() const { return copied_; }
    // Where the last copied sound frame ends on the output (source sound time base); none
    // before the first.
    std::optional<StreamTicks> outputEnd() const { return outputEnd_; }

private:
    void fillLeadIn(const AVPacket* first, int64_t at);

    const OpenedSource& source_;
    OutputSession& session_;
    OutputSession::Track track_;
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
    std::unique_ptr<SoundFeed> feed_;  // when the sound is encoded again
    SoundJoins joins_;
    bool placed_ = false;  // the range's first sound frame is written
    int64_t shift_ = 0;    // sound time base: how far the range's frames sit from their own pictures
    std::optional<StreamTicks> outputEnd_;
};
