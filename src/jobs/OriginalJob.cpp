#include "jobs/OriginalJob.h"

#include <utility>

#include "engine/common/MediaError.h"
#include "rules/JobRules.h"

OriginalJob::OriginalJob(Kind kind, QString sourcePath, OutputPath outputPath)
    : kind_(kind), sourcePath_(std::move(sourcePath)), outputPath_(std::move(outputPath)) {}

OriginalJob::~OriginalJob() = default;

std::unique_ptr<OriginalJob> OriginalJob::cut(const QString& sourcePath, int32_t startMarker, int32_t endMarker,
                                              OutputPath outputPath) {
    std::unique_ptr<OriginalJob> job(new OriginalJob(Kind::Cut, sourcePath, std::move(outputPath)));
    job->first_ = startMarker;
    job->last_ = endMarker;
    return job;
}

std::unique_ptr<OriginalJob> OriginalJob::split(const QString& sourcePath, int32_t splitFrame,
                                                OutputPath outputPath) {
    std::unique_ptr<OriginalJob> job(new OriginalJob(Kind::Split, sourcePath, std::move(outputPath)));
    job->first_ = splitFrame;
    return job;
}

// The frames file `part` holds.
std::pair<int32_t, int32_t> OriginalJob::rangeOf(int part) const {
    if (kind_ == Kind::Cut) return {first_, last_};
    return part == 1 ? std::pair{1, first_ - 1} : std::pair{first_, frameCount_};
}

bool OriginalJob::start() {
    try {
        if (kind_ == Kind::Cut && !takeCutRange()) return false;
        remux_ = std::make_unique<RemuxCut>(sourcePath_);
        frameCount_ = remux_->frameCount();
        if (kind_ == Kind::Split && !takeSplitPoint(frameCount_)) return false;
        // Both files are checked before the first is written: a split refused halfway would
        // leave one file of the two.
        for (int part = 1; part <= (kind_ == Kind::Split ? 2 : 1); ++part) {
            const auto [a, b] = rangeOf(part);
            if (remux_->canWrite(a, b)) continue;
            refuse(JobRefusal::EdgesNeedEncoder);
            outcome_.codecName = remux_->codecName();
            outcome_.edges = remux_->copyableEdges(a, b);
            return false;
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
    const auto [a, b] = rangeOf(part);
    remux_->begin(outputPath_(part), a, b);
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
    // Positions count frames: the window's markers follow the job through the source.
    p.videoTime = p.audioTime = p.currentFrame;
    p.videoDuration = p.audioDuration = frameCount_;
    p.percent = kind_ == Kind::Cut ? cutPercent(p.currentFrame, first_, last_)
                                   : splitPercent(p.currentFrame, first_, frameCount_);
    return p;
}

void OriginalJob::addStats() {
    const RemuxStats& s = remux_->stats();
    stats_.videoPacketsCopied += s.videoPacketsCopied;
    stats_.videoPacketsEncoded += s.videoPacketsEncoded;
    stats_.audioPacketsCopied += s.audioPacketsCopied;
    stats_.firstCopiedFrame = s.firstCopiedFrame;
    stats_.lastCopiedFrame = s.lastCopiedFrame;
}

// Closing the file is part of the job: a file that cannot be completed is a failure. A
// cancelled or failed file is closed all the same, so what was written stays readable.
void OriginalJob::finish(JobOutcome::Kind kind, const QString& failure) {
    outcome_.kind = kind;
    outcome_.failure = failure;
    if (!remux_) return;
    try {
        remux_->close();
    } catch (...) {
        if (kind != JobOutcome::Kind::Failed) {
            outcome_.kind = JobOutcome::Kind::Failed;
            outcome_.failure = describeError(std::current_exception());
        }
    }
}
