#include "engine/remux/SoundCopier.h"

#include <algorithm>
#include <cstdlib>

#include "engine/common/MediaError.h"

namespace {

constexpr int64_t kNone = IndexedPacket::kNoTime;
// The longest start of sound a file timed by packet order gets by repeating its first frame:
// a few frames of the codec's reordering delay.
constexpr Seconds kLongestLeadIn{0.2};

}  // namespace

SoundCopier::SoundCopier(const OpenedSource& source, OutputSession& session, const OutputSession::Track& track,
                         StreamTicks from, StreamTicks to, StreamTicks outputStart, SoundJoins joins)
    : source_(source),
      session_(session),
      track_(track),
      stream_(track.source),
      base_(source.facts()->streams[track.source]->time_base),
      videoBase_(source.video()->time_base),
      from_(rescaled(from, videoBase_, base_)),
      to_(rescaled(to, videoBase_, base_)),
      outputStart_(rescaled(outputStart, videoBase_, base_)),
      next_(kNone),
      joins_(joins) {
    if (track.encoder)
        feed_ = std::make_unique<SoundFeed>(source, stream_, *track.encoder, StreamTicks{to_.value - from_.value});
}

bool SoundCopier::Clock::place(AVPacket* packet, Timed& timed) {
    int64_t ts = packet->pts != kNone ? packet->pts : packet->dts;
    if (next != kNone && (ts == kNone || (ts < next && ts >= next - last))) ts = next;
    if (ts == kNone) return false;
    last = std::max<int64_t>(packet->duration, 1);
    next = ts + last;
    timed.ts = ts;
    timed.ticks = last;
    return true;
}

void SoundCopier::handedByCopy(bool handed) {
    handed_ = handed;
    handClock_ = {};
}

void SoundCopier::take(AVPacket* packet) {
    Timed timed;
    if (done_) return;
    handMoved_ = source_.continueTimeLine(packet, base_, handMoved_);
    if (!handClock_.place(packet, timed)) return;
    timed.packet = ffmpeg::makePacket();
    if (!timed.packet) throw MediaError(QStringLiteral("Out of memory"));
    av_packet_move_ref(timed.packet.get(), packet);
    fromCopy_.push_back(std::move(timed));
}

// The next packet of the track from the copier's own demuxer, which is opened where the sound
// taken so far ends (the range's start before the first) when it has none; false at the end.
bool SoundCopier::readOwn(Timed& out) {
    if (!input_) {
        input_ = source_.openDemuxer(stream_, false);
        const int64_t wanted = next_ != kNone ? next_ : from_.value;
        const int64_t seekTo = wanted - rescaled(StreamTicks{1}, {1, 1}, base_).value;  // a second early
        avformat_seek_file(input_.get(), stream_, INT64_MIN, seekTo, seekTo, 0);
        ownClock_ = {};
        landing_ = true;
    }
    ffmpeg::Packet packet = ffmpeg::makePacket();
    if (!packet) throw MediaError(QStringLiteral("Out of memory"));
    while (av_read_frame(input_.get(), packet.get()) >= 0) {
        if (packet->stream_index == stream_) ownMoved_ = source_.continueTimeLine(packet.get(), base_, ownMoved_);
        if (packet->stream_index != stream_ || !ownClock_.place(packet.get(), out)) {
            av_packet_unref(packet.get());
            continue;
        }
        if (landing_) {
            landing_ = false;
            // A demuxer that lands after the sound wanted (AVI seeks by its video, and does not
            // seek back) is replaced by a new one read from the start: no sound frame is left out.
            if (out.ts > (next_ != kNone ? next_ : from_.value)) {
                av_packet_unref(packet.get());
                input_ = source_.openDemuxer(stream_, false);
                ownClock_ = {};
                continue;
            }
        }
        out.packet = std::move(packet);
        return true;
    }
    return false;
}

// The track's next packet in time order: while the copy hands them over, those at hand (false
// when none is), after what the copier's own demuxer reads before the first of them; before
// and after the copy, its own demuxer's (false at the end of the file).
bool SoundCopier::nextPacket(Timed& out) {
    while (!fromCopy_.empty()) {
        Timed& first = fromCopy_.front();
        if (alreadyTaken(first)) {
            fromCopy_.pop_front();
            continue;
        }
        // The copy's demuxer started reading after the sound taken so far ends (or, at the
        // range's start, after its first frame): the own demuxer reads the sound between.
        const int64_t reach = next_ != kNone ? next_ + first.ticks / 2 : from_.value - first.ticks;
        if (first.ts > reach)
            while (readOwn(out))
                if (!alreadyTaken(out)) {
                    if (out.ts + out.ticks / 2 <= first.ts) return true;
                    break;
                }
        input_.reset();  // behind the copy now: opened again where the sound goes on
        out = std::move(first);
        fromCopy_.pop_front();
        return true;
    }
    if (handed_) return false;
    while (readOwn(out))
        if (!alreadyTaken(out)) return true;
    done_ = true;
    return false;
}

void SoundCopier::writeUntil(StreamTicks until) {
    const int64_t limit = until.value == INT64_MAX ? INT64_MAX : rescaled(until, videoBase_, base_).value;
    Timed p;
    while (!done_ && nextPacket(p)) {
        AVPacket* a = p.packet.get();
        const int64_t ts = p.ts;
        lastTicks_ = p.ticks;
        next_ = ts + lastTicks_;
        // Copied whole frames at a join: the first is the one whose middle comes at or after
        // where the range before ended its sound, moved onto that end; the last is the one
        // whose middle comes before the range's last picture ends. The track runs on without a
        // gap or an overlap, and each range's sound stays within half a frame of its own
        // pictures, however many joins came before. Decoded sound is placed by the sample.
        const bool joined = !feed_ && joins_.joinAt;
        const bool cutByMiddle = !feed_ && joins_.joinsNext;
        const int64_t ideal = ts - from_.value + outputStart_.value;  // where its own picture puts it
        const int64_t half = lastTicks_ / 2;
        if (!placed_) {
            if (joined ? ideal + half < joins_.joinAt->value : ts < from_.value) continue;
            // A source whose sound pauses here keeps its pause: only a frame that meets the
            // join to within one frame is moved onto it.
            const int64_t toJoin = joined ? joins_.joinAt->value - ideal : 0;
            shift_ = std::abs(toJoin) <= lastTicks_ ? toJoin : 0;
            placed_ = true;
        }
        const int64_t at = ideal + shift_;
        if (cutByMiddle ? at + half >= outputStart_.value + to_.value - from_.value : ts >= to_.value) {
            done_ = true;
            break;
        }
        if (feed_) {
            feed_->push(a, StreamTicks{ts - from_.value});
        } else {
            if (copied_ == 0 && outputStart_.value == 0 && session_.timedByOrder()) fillLeadIn(a, at);
            a->pts = a->dts = at;
            session_.writeCopied(a, track_, base_);
            outputEnd_ = StreamTicks{at + lastTicks_};
            ++copied_;
        }
        if (at > limit) break;
    }
    if (done_) {
        fromCopy_.clear();
        input_.reset();
        if (feed_ && joins_.joinsNext) feed_->padToEnd();
    }
}

// A file timed by packet order plays its sound from the first packet on: where the source's
// sound begins later than the file's start (a picture shown after the codec's delay, sound that
// starts with it), its first sound frame is played that many whole times more, so that the
// sound keeps step with the picture within one sound frame.
void SoundCopier::fillLeadIn(const AVPacket* first, int64_t at) {
    // More than a codec's delay is a source whose sound starts late: repeated, its first frame
    // would sound as a buzz, and copied sound cannot be delayed in such a file.
    if (at > ticksAtOrBefore(kLongestLeadIn, base_).value) {
        session_.addNote(QStringLiteral("The sound starts %1 s after the picture in the source; an AVI file cannot "
                                        "delay its sound, so it plays that much early")
                             .arg(av_q2d(base_) * at, 0, 'f', 2));
        return;
    }
    const int64_t repeats = (at + lastTicks_ / 2) / lastTicks_;
    for (int64_t k = repeats; k > 0; --k) {
        ffmpeg::Packet copy(av_packet_clone(first));
        if (!copy) throw MediaError(QStringLiteral("Out of memory"));
        copy->pts = copy->dts = at - k * lastTicks_;
        session_.writeCopied(copy.get(), track_, base_);
        ++copied_;
    }
}
