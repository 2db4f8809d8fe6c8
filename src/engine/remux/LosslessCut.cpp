#include "engine/remux/LosslessCut.h"

#include <algorithm>
#include <optional>

#include "engine/common/Bitstream.h"
#include "engine/common/EngineLog.h"
#include "engine/common/MediaError.h"
#include "engine/common/Wording.h"
#include "engine/output/ContainerRules.h"
#include "engine/reader/Demux.h"
#include "engine/remux/CueCopier.h"
#include "engine/remux/EdgeEncoder.h"
#include "engine/remux/PieceEncoder.h"
#include "engine/remux/PieceQueue.h"
#include "engine/remux/SegmentCopier.h"
#include "engine/remux/SoundCopier.h"

namespace {

// Sound runs this far ahead of the picture written, so the muxer can interleave the two.
constexpr Seconds kSoundLead{0.5};

// Where range r of the source goes: source video time [from, to) shows from output time `at`.
WrittenSpan spanOf(const PacketIndex& index, FrameRange r, int64_t at) {
    return {index.frameTime(r.first), index.frameTime(r.last) + index.frameDuration(r.last), at};
}

std::vector<CutPlan> plansOf(const PacketIndex& index, const std::vector<FrameRange>& ranges) {
    std::vector<CutPlan> plans;
    for (const FrameRange& r : ranges) plans.push_back(planCut(index, r.first, r.last));
    return plans;
}

// The ranges as they follow one another in the output.
std::vector<WrittenSpan> spansOf(const PacketIndex& index, const std::vector<FrameRange>& ranges) {
    std::vector<WrittenSpan> spans;
    int64_t at = 0;
    for (const FrameRange& r : ranges) {
        spans.push_back(spanOf(index, r, at));
        at += spans.back().to - spans.back().from;
    }
    return spans;
}

}  // namespace

// One file being written: its session, and where it is in its ranges.
struct LosslessCut::Run {
    enum class Phase { Head, Copy, Tail, Done };

    const OpenedSource& source;
    CutStats& stats;
    PieceStyle style;
    OutputSession session;
    PacketCursor cursor;
    std::vector<FrameRange> ranges;
    std::vector<CutPlan> plans;  // one per range
    size_t range = 0;
    Phase phase = Phase::Done;
    StreamTicks outputStart;  // video time base: where the current range starts in the output
    PieceQueue pieces;
    std::unique_ptr<SegmentCopier> copier;
    std::vector<std::unique_ptr<SoundCopier>> sounds;  // one per sound track
    std::vector<std::unique_ptr<CueCopier>> cues;      // one per subtitle or data track
    int32_t current = 0;
    int64_t framesBefore = 0;  // video packets written before the current range
    // Per sound track, in order (sound time base): where the last range's copied sound ended.
    std::vector<std::optional<StreamTicks>> soundEnds;

    Run(const std::shared_ptr<const OpenedSource>& s, CutStats& st, const QString& path, const QString& container,
        std::vector<FrameRange> rs, bool piecesEncoded, int64_t writeLimit)
        : source(*s),
          stats(st),
          style(PieceStyle::of(*s)),
          session(*s, path, container, piecesEncoded ? headerWithPieceParameterSets(*s, style) : std::vector<uint8_t>{},
                  spansOf(s->index(), rs), writeLimit),
          cursor(s),
          ranges(std::move(rs)),
          plans(plansOf(s->index(), ranges)),
          pieces(s, style, plans) {}

    const PacketIndex& index() const { return source.index(); }
    // The plan of the range being written (while one is).
    const CutPlan& plan() const { return plans[range]; }
    void startRange();
    void enter(Phase next);
    void prefetchCopy();
    bool writePiece();
    bool step();
    void endPieces();
    void checkRangeComplete();
    void writeTracksUntil(StreamTicks until);
    void handSoundToCopy(bool handed);
    // For progress: the frames of finished phases and of the piece or copy being written.
    int64_t framesWritten() const {
        const PieceWorker* writing = phase == Phase::Head || phase == Phase::Tail ? pieces.next() : nullptr;
        return stats.videoPacketsCopied + stats.videoPacketsEncoded + (writing ? writing->packetsEncoded() : 0) +
               (copier ? copier->packetsCopied() : 0);
    }
};

// Every frame of a range is written once, copied or encoded: a source whose time stamps
// mislead the index (a clock that starts again) must not give a shorter file that passes
// for a complete one.
void LosslessCut::Run::checkRangeComplete() {
    const FrameRange r = ranges[range];
    const int64_t written = stats.videoPacketsCopied + stats.videoPacketsEncoded - framesBefore;
    framesBefore += written;
    if (written != r.last - r.first + 1)
        throw MediaError(QStringLiteral("Frames %1 to %2 of %3 could not all be written (%4 of %5)")
                             .arg(r.first)
                             .arg(r.last)
                             .arg(source.path())
                             .arg(written)
                             .arg(r.last - r.first + 1));
}

void LosslessCut::Run::startRange() {
    const FrameRange r = ranges[range];
    if (plan().needsEncoding() && !source.openGroupRefusal().isEmpty())
        if (const int32_t key = unusableKeyframe(index(), r.first, plan().hasCopy() ? plan().copyFirst : r.last))
            qCInfo(lcRemux).noquote() << QStringLiteral(
                                             "Frames %1 to %2 of %3 are encoded again, not copied: a "
                                             "copy cannot start at the keyframe of frame %4 (%5)")
                                             .arg(r.first)
                                             .arg(plan().hasCopy() ? plan().copyFirst - 1 : r.last)
                                             .arg(source.path())
                                             .arg(key)
                                             .arg(source.openGroupRefusal());
    const WrittenSpan span = spanOf(index(), r, outputStart.value);
    const StreamTicks from{span.from}, to{span.to};
    session.placeRange(from, outputStart);
    // A file timed by packet order shows its first picture after the codec's delay, while its
    // sound plays from the start: the sound begins that much earlier in the source.
    const StreamTicks soundFrom{from.value - (outputStart.value == 0 ? session.pictureDelay().value : 0)};
    const bool joinsNext = range + 1 < ranges.size();
    size_t soundNumber = 0;
    for (const OutputSession::Track& track : session.tracks()) {
        if (track.type == AVMEDIA_TYPE_AUDIO) {
            if (soundEnds.size() <= soundNumber) soundEnds.resize(soundNumber + 1);
            sounds.push_back(std::make_unique<SoundCopier>(source, session, track, soundFrom, to, outputStart,
                                                           SoundJoins{soundEnds[soundNumber++], joinsNext}));
        } else {
            cues.push_back(std::make_unique<CueCopier>(source, session, track, from, to, outputStart));
        }
    }
    stats.firstCopiedFrame = plan().hasCopy() ? plan().copyFirst : 0;
    stats.lastCopiedFrame = plan().hasCopy() ? plan().copyLast : 0;
    outputStart = StreamTicks{outputStart.value + (to.value - from.value)};
    if (plan().hasHead() && plan().hasCopy()) prefetchCopy();
    enter(Phase::Head);
}

// While the range's head is written, the system reads the start of its copy from the disk.
void LosslessCut::Run::prefetchCopy() {
    // About what a disk gives while a head piece encodes; its own read-ahead follows on.
    constexpr int64_t kAheadBytes = 256 << 20;
    const int64_t from = index().packet(plan().copyBegin).pos;
    const int64_t to = index().packet(plan().copyEnd - 1).pos;
    if (from >= 0 && to > from) source.prefetch(from, std::min(to - from, kAheadBytes));
}

// Writes what the piece the file is at has encoded; false (the piece counted and gone) once it
// is written.
bool LosslessCut::Run::writePiece() {
    PieceWorker* piece = pieces.next();
    if (piece->writeSome(session)) {
        current = std::max(current, piece->currentFrame());
        return true;
    }
    stats.videoPacketsEncoded += piece->packetsEncoded();
    current = std::max(current, piece->currentFrame());
    pieces.dropNext();
    return false;
}

// Moves to phase `next`, or past it when the plan has nothing for it.
void LosslessCut::Run::enter(Phase next) {
    phase = next;
    switch (phase) {
        case Phase::Head:
            if (!plan().hasHead()) return enter(Phase::Copy);
            return;
        case Phase::Copy:
            if (!plan().hasCopy()) return enter(Phase::Tail);
            // The pieces encoded before carried their own headers; the copy gets the source's back.
            copier = std::make_unique<SegmentCopier>(
                cursor, session, plan(),
                plan().hasHead() ? inBandHeader(source.video()->codecpar) : std::vector<uint8_t>{});
            handSoundToCopy(true);
            return;
        case Phase::Tail:
            if (!plan().hasTail()) return enter(Phase::Done);
            return;
        case Phase::Done:
            checkRangeComplete();
            writeTracksUntil(StreamTicks{INT64_MAX});
            for (size_t k = 0; k < sounds.size(); ++k) {
                stats.audioPacketsCopied += sounds[k]->packetsCopied();
                if (sounds[k]->outputEnd()) soundEnds[k] = sounds[k]->outputEnd();
            }
            stats.notes = session.notes();
            sounds.clear();
            cues.clear();
            if (++range < ranges.size()) startRange();
            return;
    }
}

bool LosslessCut::Run::step() {
    switch (phase) {
        case Phase::Head:
            pieces.startAhead(range, true);
            if (!writePiece()) enter(Phase::Copy);
            break;
        case Phase::Tail:
            pieces.startAhead(range, true);
            if (!writePiece()) enter(Phase::Done);
            break;
        case Phase::Copy:
            pieces.startAhead(range, false);
            if (!copier->step()) {
                stats.videoPacketsCopied += copier->packetsCopied();
                copier.reset();
                handSoundToCopy(false);
                enter(Phase::Tail);
            } else {
                current = copier->currentFrame();
            }
            break;
        case Phase::Done: session.finish(); return false;
    }
    const AVRational base = source.video()->time_base;
    writeTracksUntil(StreamTicks{session.writtenTime().value + ticksAtOrBefore(kSoundLead, base).value});
    return true;
}

// The copy's demuxer reads the sound between the copied pictures anyway: while it runs, it
// hands each sound packet to the copier of its track rather than each track reading the same
// bytes again with a demuxer of its own.
void LosslessCut::Run::handSoundToCopy(bool handed) {
    std::vector<int> streams;
    if (handed)
        for (const auto& sound : sounds) streams.push_back(sound->sourceStream());
    const std::vector<int> taken = cursor.handOn(streams, [this](AVPacket* packet) {
        for (const auto& sound : sounds)
            if (sound->sourceStream() == packet->stream_index) sound->take(packet);
    });
    for (const auto& sound : sounds)
        sound->handedByCopy(std::find(taken.begin(), taken.end(), sound->sourceStream()) != taken.end());
}

void LosslessCut::Run::writeTracksUntil(StreamTicks until) {
    for (const auto& sound : sounds) sound->writeUntil(until);
    for (const auto& cue : cues) cue->writeUntil(until);
}

// A piece cut short (a cancel) still gives the frames its encoder holds; a piece whose
// place in the file is not reached is dropped.
void LosslessCut::Run::endPieces() {
    if ((phase == Phase::Head || phase == Phase::Tail) && pieces.next()) {
        pieces.next()->finishEarly();
        while (writePiece()) {
        }
    }
    pieces.clear();
}

LosslessCut::LosslessCut(std::shared_ptr<const OpenedSource> source) : source_(std::move(source)) {
    if (!source_->video()) throw MediaError(QStringLiteral("%1 holds no video").arg(source_->path()));
}

bool LosslessCut::encodable() const {
    if (!encodable_) {
        QString why;
        encodable_ = canEncodeEdges(source_->video(), PieceStyle::of(*source_).frameRate, &why);
        if (!*encodable_)
            qCInfo(lcRemux).noquote() << QStringLiteral("Frames of %1 cannot be encoded again: %2")
                                             .arg(source_->path(), why);
    }
    return *encodable_;
}

LosslessCut::~LosslessCut() {
    if (run_) run_->session.abandon();
}

int32_t LosslessCut::frameCount() const { return source_->index().frameCount(); }
QString LosslessCut::codecName() const { return demux::codecName(source_->video()->codecpar->codec_id); }
bool LosslessCut::canWrite(int32_t first, int32_t last) const {
    return !planCut(source_->index(), first, last).needsEncoding() || encodable();
}
CopyableEdges LosslessCut::copyableEdges(int32_t first, int32_t last) const {
    return ::copyableEdges(source_->index(), first, last);
}
CopyableEdges LosslessCut::splitEdges(int32_t frame) const { return ::splitEdges(source_->index(), frame); }
void LosslessCut::setWriteLimitForTesting(int64_t bytes) { writeLimit_ = bytes; }
int32_t LosslessCut::currentFrame() const { return current_; }
int64_t LosslessCut::framesWritten() const {
    return run_ ? run_->framesWritten() : stats_.videoPacketsCopied + stats_.videoPacketsEncoded;
}
const CutStats& LosslessCut::stats() const { return stats_; }

void LosslessCut::begin(const QString& outputPath, const std::vector<FrameRange>& ranges) {
    if (ranges.empty()) throw MediaError(QStringLiteral("Nothing to write to %1").arg(outputPath));
    bool encodes = false;
    for (const FrameRange& r : ranges) {
        const bool needsEncoding = planCut(source_->index(), r.first, r.last).needsEncoding();
        if (needsEncoding && !encodable())
            throw MediaError(QStringLiteral("Frames of %1 cannot be encoded again").arg(source_->path()));
        encodes = encodes || needsEncoding;
    }
    // FFmpeg's hevc_mp4toannexb puts the source's parameter sets before every IRAP picture,
    // also before those of the pieces, which carry their own under the same numbers: the
    // pieces would decode wrongly.
    const AVCodecParameters* video = source_->video()->codecpar;
    const AVOutputFormat* format = losslessOutputFormat(*source_, outputPath, container_);
    if (encodes && video->codec_id == AV_CODEC_ID_HEVC && format && packetFormFilter(format, video))
        throw MediaError(
            QStringLiteral("HEVC frames encoded again at the cut points cannot go into %1 file; "
                           "cut at key frames, or choose one of: mkv, mp4, mov")
                .arg(withArticle(QString::fromUtf8(format->long_name ? format->long_name : format->name))));
    stats_ = {};
    current_ = 0;
    run_.reset();
    try {
        run_ = std::make_unique<Run>(source_, stats_, outputPath, container_, ranges, encodes, writeLimit_);
        run_->session.create();
        stats_.notes = run_->session.notes();
        run_->startRange();
    } catch (...) {
        if (run_) run_->session.abandon();
        run_.reset();
        throw;
    }
}

bool LosslessCut::step() {
    if (!run_) return false;
    try {
        const bool more = run_->step();
        current_ = std::max(current_, run_->current);
        if (more) return true;
        run_.reset();
        return false;
    } catch (...) {
        run_->session.abandon();
        run_.reset();
        throw;
    }
}

void LosslessCut::close() {
    if (!run_) return;
    std::unique_ptr<Run> run = std::move(run_);
    try {
        run->endPieces();
        run->session.finish();
    } catch (...) {
        run->session.abandon();
        throw;
    }
}
