#include "engine/remux/CueCopier.h"

#include <algorithm>

#include "engine/common/MediaError.h"

namespace {

constexpr int64_t kNone = IndexedPacket::kNoTime;
// How long before the range a cue shown in it may begin: the demuxer starts reading this early.
constexpr Seconds kLongestCue{30};
// Cues are stored near the pictures they go with; the video this far past the range has none
// left behind it.
constexpr Seconds kInterleaving{2};

}  // namespace

std::optional<Cue> cueInRange(Cue cue, int64_t from, int64_t to) {
    if (cue.duration <= 0) return cue.start >= from && cue.start < to ? std::optional<Cue>(cue) : std::nullopt;
    const int64_t end = cue.start + cue.duration;
    if (end <= from || cue.start >= to) return std::nullopt;
    const int64_t start = std::max(cue.start, from);
    return Cue{start, std::min(end, to) - start};
}

CueCopier::CueCopier(const OpenedSource& source, OutputSession& session, const OutputSession::Track& track,
                     StreamTicks from, StreamTicks to, StreamTicks outputStart)
    : source_(source),
      session_(session),
      track_(track),
      input_(source.openDemuxer(track.source, false)),
      videoStream_(source.videoStream()),
      base_(source.facts()->streams[track.source]->time_base),
      videoBase_(source.video()->time_base),
      from_(rescaled(from, videoBase_, base_).value),
      to_(rescaled(to, videoBase_, base_).value),
      outputStart_(rescaled(outputStart, videoBase_, base_).value),
      videoTo_(to.value + ticksAtOrBefore(kInterleaving, videoBase_).value) {
    if (!packet_) throw MediaError(QStringLiteral("Out of memory"));
    // The video is read too (its packets only looked at), so that the end of the range is
    // noticed where the track has no cue after it.
    input_->streams[videoStream_]->discard = AVDISCARD_DEFAULT;
    const int64_t seekTo =
        av_rescale_q(from.value, videoBase_, AV_TIME_BASE_Q) - int64_t(kLongestCue.value * AV_TIME_BASE);
    avformat_seek_file(input_.get(), -1, INT64_MIN, seekTo, seekTo, 0);
}

void CueCopier::writeUntil(StreamTicks until) {
    const int64_t limit = until.value == INT64_MAX ? INT64_MAX : rescaled(until, videoBase_, base_).value;
    for (;;) {
        if (pending_) {
            if ((*pending_)->pts > limit) return;
            session_.writeCopied(pending_->get(), track_, base_);
            pending_.reset();
        }
        if (done_) return;
        AVPacket* a = packet_.get();
        if (av_read_frame(input_.get(), a) < 0) {
            done_ = true;
            continue;
        }
        moved_ = source_.continueTimeLine(a, a->stream_index == videoStream_ ? videoBase_ : base_, moved_);
        const int64_t ts = a->pts != kNone ? a->pts : a->dts;
        if (a->stream_index == videoStream_) {
            done_ = ts != kNone && ts > videoTo_;
            av_packet_unref(a);
            continue;
        }
        const std::optional<Cue> cue =
            a->stream_index == track_.source && ts != kNone ? cueInRange({ts, a->duration}, from_, to_) : std::nullopt;
        if (!cue) {
            if (ts != kNone && ts >= to_) done_ = true;
            av_packet_unref(a);
            continue;
        }
        a->pts = cue->start - from_ + outputStart_;
        a->dts = lastDts_ = std::max(lastDts_, a->pts);
        a->duration = cue->duration;
        pending_.emplace(ffmpeg::makePacket());
        if (!*pending_) throw MediaError(QStringLiteral("Out of memory"));
        av_packet_move_ref(pending_->get(), a);
    }
}
