#include "engine/remux/SoundCopier.h"

#include <algorithm>
#include <cstdlib>

#include "engine/common/MediaError.h"

namespace {

constexpr int64_t kNone = IndexedPacket::kNoTime;
// The longest start of sound a file timed by packet order gets by repeating its first frame:
// a few frames of the codec's reordering delay.
constexpr Seconds kLongestLeadIn{0.2};

AVRational finer(AVRational base) {
    constexpr int64_t kFine = 90000;
    const int64_t by = std::max<int64_t>(1, (base.num * kFine + base.den - 1) / base.den);
    return {base.num, int(base.den * by)};
}

}  // namespace

SoundCopier::SoundCopier(const OpenedSource& source, OutputSession& session, const OutputSession::Track& track,
                         StreamTicks from, StreamTicks to, StreamTicks outputStart, SoundJoins joins)
    : source_(source),
      session_(session),
      track_(track),
      stream_(track.source),
      base_(finer(source.facts()->streams[track.source]->time_base)),
      scale_(base_.den / source.facts()->streams[track.source]->time_base.den),
      videoBase_(source.video()->time_base),
      from_(rescaled(from, videoBase_, base_)),
      to_(rescaled(to, videoBase_, base_)),
      outputStart_(rescaled(outputStart, videoBase_, base_)),
      next_(kNone),
      joins_(joins) {
    if (track.encoder)
        feed_ = std::make_unique<SoundFeed>(source, stream_, *track.encoder,
                                            StreamTicks{(to_.value - from_.value) / scale_});
}

bool SoundCopier::Clock::place(AVPacket* packet, Timed& timed, int64_t scale) {
    // A program stream's parser fed from the middle of a frame gives the frame's tail the time of
    // the frame after it, and the frames that follow it times one frame late up to the next
    // container packet: followed, those times would put the whole range a frame late. At most
    // kSettling packets are left out, for a demuxer that tells no packet's position.
    constexpr int kSettling = 16;
    if (settling) {
        if (seen++ == 0 || (packet->pos < 0 && seen <= kSettling)) return false;
        settling = false;
    }
    int64_t ts = packet->pts != kNone ? packet->pts : packet->dts;
    if (ts != kNone) ts *= scale;
    if (next != kNone && (ts == kNone || (ts < next && ts >= next - last))) ts = next;
    if (ts == kNone) return false;
    last = std::max<int64_t>(packet->duration * scale, 1);
    next = ts + last;
    timed.ts = ts;
    timed.ticks = last;
    return true;
}

void SoundCopier::handedByCopy(bool handed) {
    handed_ = handed;
    handClock_ = {};
    handClock_.settling = true;  // the copy's demuxer reads on from where its video was
}

void SoundCopier::take(AVPacket* packet) {
    Timed timed;
    if (done_) return;
    handMoved_ = source_.continueTimeLine(packet, packetBase(), handMoved_);
    if (!handClock_.place(packet, timed, scale_)) return;
    timed.packet = ffmpeg::makePacket();
    if (!timed.packet) throw MediaError(QStringLiteral("Out of memory"));
    av_packet_move_ref(timed.packet.get(), packet);
    fromCopy_.push_back(std::move(timed));
}

// The next packet of the track from the copier's own demuxer, which is opened where the sound
// taken so far ends (the range's start before the first) when it has none; false at the end.
bool SoundCopier::readOwn(Timed& out) {
    if (!input_) openOwn();
    ffmpeg::Packet packet = ffmpeg::makePacket();
    if (!packet) throw MediaError(QStringLiteral("Out of memory"));
    while (av_read_frame(input_.get(), packet.get()) >= 0) {
        if (packet->stream_index == stream_)
            ownMoved_ = source_.continueTimeLine(packet.get(), packetBase(), ownMoved_);
        if (packet->stream_index != stream_ || !ownClock_.place(packet.get(), out, scale_)) {
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

// Opens the copier's own demuxer a second before where the sound taken so far ends (the range's
// start before the first), or at the start of the file when that comes first.
void SoundCopier::openOwn() {
    input_ = source_.openDemuxer(stream_, false);
    ownClock_ = {};
    landing_ = true;
    const AVStream* st = source_.facts()->streams[stream_];
    const int64_t wanted = next_ != kNone ? next_ : from_.value;
    const int64_t seekTo = (wanted - rescaled(StreamTicks{1}, {1, 1}, base_).value) / scale_;  // stream's base
    if (seekTo <= (st->start_time != kNone ? st->start_time : 0)) return;
    bool sought = avformat_seek_file(input_.get(), stream_, INT64_MIN, seekTo, seekTo, 0) >= 0;
    // An AVI whose index marks no sound chunk as a key frame (GStreamer's) seeks by its video only.
    if (!sought && source_.videoStream() >= 0) {
        const int64_t at = rescaled(StreamTicks{seekTo}, st->time_base, videoBase_).value;
        sought = avformat_seek_file(input_.get(), source_.videoStream(), INT64_MIN, at, at, 0) >= 0;
    }
    if (sought)
        ownClock_.settling = true;
    else  // a demuxer whose seek failed reads on from anywhere
        input_ = source_.openDemuxer(stream_, false);
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
        //
        // A range without a join before it starts with the frame that covers its start, and
        // ends with the one that covers its end: its sound reaches past its pictures by less
        // than a frame at either end, and is never shorter. A file timed by packet order plays
        // its first frame at its start, so there the frame nearest the start comes first.
        const bool joined = !feed_ && joins_.joinAt;
        const bool cutByMiddle = !feed_ && joins_.joinsNext;
        const bool byOrder = !feed_ && !joined && outputStart_.value == 0 && session_.timedByOrder();
        const int64_t ideal = ts - from_.value + outputStart_.value;  // where its own picture puts it
        const int64_t half = lastTicks_ / 2;
        const int64_t rangeEnd = outputStart_.value + to_.value - from_.value;
        if (!placed_) {
            if (feed_     ? ts < from_.value
                : joined  ? ideal + half < joins_.joinAt->value
                : byOrder ? ts + half < from_.value
                          : ts + lastTicks_ <= from_.value)
                continue;
            // A source whose sound pauses here keeps its pause: only a frame that meets the
            // join to within one frame is moved onto it.
            const int64_t toJoin = joined ? joins_.joinAt->value - ideal : 0;
            shift_ = std::abs(toJoin) <= lastTicks_ ? toJoin : 0;
            if (byOrder) shift_ = leadIn(ideal);
            placed_ = true;
        }
        const int64_t at = ideal + shift_;
        if (feed_ ? ts >= to_.value : cutByMiddle ? at + half >= rangeEnd : at >= rangeEnd) {
            done_ = true;
            break;
        }
        if (feed_) {
            feed_->push(a, StreamTicks{(ts - from_.value) / scale_});
        } else {
            if (copied_ == 0 && byOrder) fillLeadIn(a, at);
            a->pts = a->dts = at;
            a->duration = lastTicks_;
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
// sound keeps step with the picture within half a sound frame. leadIn() moves the first frame
// `ideal` (output time) to where it then plays, a whole number of frames from the start.
int64_t SoundCopier::leadIn(int64_t ideal) {
    // More than a codec's delay is a source whose sound starts late: repeated, its first frame
    // would sound as a buzz, and copied sound cannot be delayed in such a file.
    if (ideal > ticksAtOrBefore(kLongestLeadIn, base_).value) return 0;
    return std::max<int64_t>(0, (ideal + lastTicks_ / 2) / lastTicks_) * lastTicks_ - ideal;
}

void SoundCopier::fillLeadIn(const AVPacket* first, int64_t at) {
    if (at > ticksAtOrBefore(kLongestLeadIn, base_).value) {
        session_.addNote(QStringLiteral("The sound starts %1 s after the picture in the source; an AVI file cannot "
                                        "delay its sound, so it plays that much early")
                             .arg(av_q2d(base_) * at, 0, 'f', 2));
        return;
    }
    for (int64_t k = at / lastTicks_; k > 0; --k) {
        ffmpeg::Packet copy(av_packet_clone(first));
        if (!copy) throw MediaError(QStringLiteral("Out of memory"));
        copy->pts = copy->dts = at - k * lastTicks_;
        copy->duration = lastTicks_;
        session_.writeCopied(copy.get(), track_, base_);
        ++copied_;
    }
}
