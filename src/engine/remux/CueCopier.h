#pragma once
// The subtitle cues (or the packets of a data stream) of one range, one track: every cue shown
// in the range, moved with it to its place in the output. A cue that began before the range
// starts with it; one that runs past its end is shortened.
#include <cstdint>
#include <optional>

#include "engine/common/FfmpegHandles.h"
#include "engine/common/MediaTime.h"
#include "engine/reader/OpenedSource.h"
#include "engine/remux/OutputSession.h"

// A cue on the source's timeline, in its stream's time base; duration 0 when unknown.
struct Cue {
    int64_t start = 0, duration = 0;
};
// The part of `cue` shown in [from, to); nullopt when none is. A cue without a duration is
// kept when it starts in the range.
std::optional<Cue> cueInRange(Cue cue, int64_t from, int64_t to);

class CueCopier {
public:
    // The cues of `track` shown between source video time `from` and `to` (video time base),
    // placed at output time outputStart (video time base). Throws MediaError.
    CueCopier(const OpenedSource& source, OutputSession& session, const OutputSession::Track& track, StreamTicks from,
              StreamTicks to, StreamTicks outputStart);
    // Writes cues until one starts past output time `until` (video time base) or the range ends.
    void writeUntil(StreamTicks until);
    void finish() { writeUntil(StreamTicks{INT64_MAX}); }

private:
    const OpenedSource& source_;
    OutputSession& session_;
    OutputSession::Track track_;
    demux::Input input_;
    int videoStream_;
    AVRational base_, videoBase_;      // the track's and the video's time bases
    int64_t from_, to_, outputStart_;  // track time base
    int64_t videoTo_;                  // video time base: once the video passes it, no cue of the range is left
    int64_t lastDts_ = INT64_MIN;
    int64_t moved_ = 0;  // video time base: see OpenedSource::continueTimeLine
    ffmpeg::Packet packet_ = ffmpeg::makePacket();
    std::optional<ffmpeg::Packet> pending_;  // read, starting past `until`
    bool done_ = false;
};
