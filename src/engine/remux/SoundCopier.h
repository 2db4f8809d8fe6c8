#pragma once
// The sound of one range, one track: the source's whole sound frames copied into the output session, or,
// where the container cannot carry the source's codec, decoded and handed to the session's
// sound encoder (the writer's), placed at the exact sample.
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "engine/common/FfmpegHandles.h"
#include "engine/common/MediaTime.h"
#include "engine/reader/OpenedSource.h"
#include "engine/remux/OutputSession.h"
#include "engine/remux/SoundFeed.h"

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
    // The track's stream in the source.
    int sourceStream() const { return stream_; }
    // While the copy between a range's pieces runs, its own demuxer hands the track's packets
    // over (take()) as it reads them, and the copier's own demuxer only fills in what comes
    // before the first of them; before and after the copy, it reads its own. So the copy's
    // bytes are read once.
    void handedByCopy(bool handed);
    // A packet of the track read by the copy (its reference is taken).
    void take(AVPacket* packet);
    // Writes sound until it has passed output time `until` (video time base) or the range ends.
    // While the copy hands packets over, it writes only those at hand.
    void writeUntil(StreamTicks until);
    // Writes what is left of the range.
    void finish() { writeUntil(StreamTicks{INT64_MAX}); }
    int64_t packetsCopied() const { return copied_; }
    // Where the last copied sound frame ends on the output (source sound time base); none
    // before the first.
    std::optional<StreamTicks> outputEnd() const { return outputEnd_; }

private:
    // A packet and where it starts and how long it lasts (source sound time base).
    struct Timed {
        ffmpeg::Packet packet;
        int64_t ts = 0, ticks = 1;
    };
    // The times of the packets of one reading: a packet without its own time, or with its
    // predecessor's (several frames in one program stream packet), follows its predecessor.
    // Where a reading starts after a seek, or where the copy's demuxer starts handing the sound
    // on, it is `settling`: its first packets are left out up to one that starts a container
    // packet of its own, whose time is its own (see place()).
    struct Clock {
        int64_t next = IndexedPacket::kNoTime, last = 1;
        bool settling = false;
        int seen = 0;
        // Fills `timed` with the packet's place (its times `scale` times finer); false for a
        // packet that has none or is left out.
        bool place(AVPacket* packet, Timed& timed, int64_t scale);
    };
    bool nextPacket(Timed& out);
    bool readOwn(Timed& out);
    void openOwn();
    // True for a packet that starts half its length or more before the end of the one taken
    // last: read twice (by the copier's own demuxer and by the copy's).
    bool alreadyTaken(const Timed& p) const {
        return next_ != IndexedPacket::kNoTime && p.ts + (p.ticks + 1) / 2 <= next_;
    }
    int64_t leadIn(int64_t ideal);
    void fillLeadIn(const AVPacket* first, int64_t at);

    const OpenedSource& source_;
    OutputSession& session_;
    OutputSession::Track track_;
    int stream_;
    // The source sound's time base, divided `scale_` times finer where it is coarser than a
    // tick of 90 kHz (an AVI's MP3 counts whole frames), so that a range keeps its length.
    AVRational base_;
    int64_t scale_;
    // The time base of the track's packets as the demuxer gives them.
    AVRational packetBase() const { return source_.facts()->streams[stream_]->time_base; }
    AVRational videoBase_;
    StreamTicks from_, to_, outputStart_;  // sound time base
    demux::Input input_;                   // its own; opened where the sound goes on when needed
    Clock ownClock_, handClock_;
    // Video time base: how far each demuxer's packet before was moved (OpenedSource::continueTimeLine).
    int64_t ownMoved_ = 0, handMoved_ = 0;
    bool landing_ = true;  // the next packet read from input_ is the first after its seek
    bool handed_ = false;  // the copy hands the packets over now
    std::deque<Timed> fromCopy_;
    bool done_ = false;
    int64_t next_;           // sound time base: where the packet taken last ends
    int64_t lastTicks_ = 1;  // its duration
    int64_t copied_ = 0;
    std::unique_ptr<SoundFeed> feed_;  // when the sound is encoded again
    SoundJoins joins_;
    bool placed_ = false;  // the range's first sound frame is written
    int64_t shift_ = 0;    // sound time base: how far the range's frames sit from their own pictures
    std::optional<StreamTicks> outputEnd_;
};
