#include "jobs/OriginalJob.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <utility>

#include "engine/common/MediaError.h"
#include "engine/remux/OutputSession.h"
#include "rules/JobRules.h"

OriginalJob::OriginalJob(Kind kind, std::shared_ptr<const OpenedSource> source, OutputPath outputPath)
    : kind_(kind), source_(std::move(source)), outputPath_(std::move(outputPath)) {}

OriginalJob::~OriginalJob() = default;

std::unique_ptr<OriginalJob> OriginalJob::cut(std::shared_ptr<const OpenedSource> source, int32_t startMarker,
                                              int32_t endMarker, OutputPath outputPath) {
    std::unique_ptr<OriginalJob> job(new OriginalJob(Kind::Cut, std::move(source), std::move(outputPath)));
    job->first_ = startMarker;
    job->last_ = endMarker;
    return job;
}

std::unique_ptr<OriginalJob> OriginalJob::pieces(std::shared_ptr<const OpenedSource> source, std::vector<Piece> ranges,
                                                 OutputPath outputPath) {
    std::unique_ptr<OriginalJob> job(new OriginalJob(Kind::Pieces, std::move(source), std::move(outputPath)));
    for (const Piece& p : ranges) {
        job->first_ = job->first_ == 0 ? p.first : std::min(job->first_, p.first);
        job->last_ = std::max(job->last_, p.last);
        job->framesTotal_ += p.length();
    }
    job->pieces_ = std::move(ranges);
    return job;
}

std::unique_ptr<OriginalJob> OriginalJob::split(std::shared_ptr<const OpenedSource> source, int32_t splitFrame,
                                                OutputPath outputPath) {
    std::unique_ptr<OriginalJob> job(new OriginalJob(Kind::Split, std::move(source), std::move(outputPath)));
    job->first_ = splitFrame;
    return job;
}

// The frames file `part` holds.
std::vector<FrameRange> OriginalJob::rangesOf(int part) const {
    switch (kind_) {
        case Kind::Cut: return {{first_, last_}};
        case Kind::Split: return {part == 1 ? FrameRange{1, first_ - 1} : FrameRange{first_, frameCount_}};
        case Kind::Pieces: {
            std::vector<FrameRange> ranges;
            for (const Piece& p : pieces_) ranges.push_back({p.first, p.last});
            return ranges;
        }
    }
    return {};
}

bool OriginalJob::start() {
    try {
        if (kind_ == Kind::Cut && !takeCutRange()) return false;
        if (!source_) throw MediaError(QStringLiteral("No video file is open"));
        if (kind_ == Kind::Pieces && pieces_.empty()) throw MediaError(QStringLiteral("There is no piece to write"));
        remux_ = std::make_unique<LosslessCut>(source_);
        remux_->setWriteLimitForTesting(writeLimit_);
        remux_->setContainer(container_);
        frameCount_ = remux_->frameCount();
        if (kind_ == Kind::Split && !takeSplitPoint(frameCount_)) return false;
        // Both files are checked before the first is written: a split refused halfway would
        // leave one file of the two.
        for (int part = 1; part <= (kind_ == Kind::Split ? 2 : 1); ++part) {
            for (const FrameRange& r : rangesOf(part)) {
                if (remux_->canWrite(r.first, r.last)) continue;
                refuse(JobRefusal::EdgesNeedEncoder);
                outcome_.codecName = remux_->codecName();
                // A split names where a split needs no encoding, a cut where a cut may begin and end.
                const CopyableEdges edges =
                    kind_ == Kind::Split ? remux_->splitEdges(first_) : remux_->copyableEdges(r.first, r.last);
                outcome_.edges = {edges.startBefore, edges.startAfter, edges.endBefore, edges.endAfter,
                                  kind_ == Kind::Split};
                return false;
            }
        }
        beginPart(1);
    } catch (...) {
        finish(JobOutcome::Kind::Failed, describeError(std::current_exception()));
        return false;
    }
    return true;
}

void OriginalJob::beginPart(int part) {
    part_ = part;
    const QString path = outputPath_(part);
    remux_->begin(path, rangesOf(part));
    ownOutput(path);
    // Known once the file is set up; told however the job ends, since the file keeps it.
    for (const QString& note : remux_->stats().notes)
        if (!outcome_.notes.contains(note)) outcome_.notes << note;
}

bool OriginalJob::step() {
    if (!running()) return false;
    try {
        if (cancelRequested_) {
            finish(JobOutcome::Kind::Cancelled);
            return false;
        }
        const bool more = remux_->step();
        if (onProgress) onProgress(progress());
        if (!more) {
            addStats();
            if (kind_ == Kind::Split && part_ == 1)
                beginPart(2);
            else
                finish(JobOutcome::Kind::Finished);
        }
    } catch (...) {
        finish(JobOutcome::Kind::Failed, describeError(std::current_exception()));
    }
    return running();
}

JobProgress OriginalJob::progress() const {
    JobProgress p;
    p.part = part_;
    p.currentFrame = remux_->currentFrame();
    // The copy keeps picture and sound together: both are where the frame written last starts.
    // Positions count frames at the header's rate (else 25 fps), as the reader times a video
    // whose timestamps it cannot use; the window only relates them to the duration. At most
    // half the 32-bit range, so the window can add picture and sound positions.
    const double fps = source_->nominalFrameRate();
    const auto atFrame = [fps](int64_t frames) {
        const Milliseconds ms = toMilliseconds(Seconds{frames / fps});
        return int32_t(std::clamp<double>(std::round(ms.value), 0, INT32_MAX / 2));
    };
    p.videoTime = p.audioTime = atFrame(std::max(0, p.currentFrame - 1));
    p.videoDuration = p.audioDuration = atFrame(frameCount_);
    switch (kind_) {
        case Kind::Cut: p.percent = cutPercent(p.currentFrame, first_, last_); break;
        case Kind::Split: p.percent = splitPercent(p.currentFrame, first_, frameCount_); break;
        case Kind::Pieces: p.percent = piecesPercent(remux_->framesWritten(), framesTotal_); break;
    }
    return p;
}

void OriginalJob::addStats() {
    const CutStats& s = remux_->stats();
    stats_.videoPacketsCopied += s.videoPacketsCopied;
    stats_.videoPacketsEncoded += s.videoPacketsEncoded;
    stats_.audioPacketsCopied += s.audioPacketsCopied;
    stats_.firstCopiedFrame = s.firstCopiedFrame;
    stats_.lastCopiedFrame = s.lastCopiedFrame;
    for (const QString& note : s.notes)
        if (!stats_.notes.contains(note)) stats_.notes << note;
    outcome_.notes = stats_.notes;
}

QStringList OriginalJob::containersFor(const OpenedSource& source) { return losslessContainers(source); }
QString OriginalJob::containerMisfit(const OpenedSource& source, const QString& extension) {
    return losslessMisfit(source, extension);
}

// Closing the file is part of the job: a file that cannot be completed is a failure. A
// cancelled file is closed readable; a failed job leaves none of its files.
void OriginalJob::finish(JobOutcome::Kind kind, const QString& failure) {
    outcome_.kind = kind;
    outcome_.failure = failure;
    if (remux_) {
        try {
            remux_->close();
        } catch (...) {
            if (kind != JobOutcome::Kind::Failed) {
                outcome_.kind = JobOutcome::Kind::Failed;
                outcome_.failure = describeError(std::current_exception());
            }
        }
    }
    if (outcome_.kind == JobOutcome::Kind::Failed) removeOwnOutputs();
}
