#include "jobs/CopyJob.h"

#include <utility>

#include "rules/JobRules.h"
#include "rules/MarkerRules.h"

CopyJob::CopyJob(Kind kind, VideoSource& source, FrameSink& sink, OpenOutput openOutput)
    : kind_(kind), source_(source), sink_(sink), openOutput_(std::move(openOutput)) {}

CopyJob CopyJob::cut(VideoSource& source, FrameSink& sink, int32_t startMarker, int32_t endMarker,
                     OpenOutput openOutput) {
    CopyJob job(Kind::Cut, source, sink, std::move(openOutput));
    job.first_ = startMarker;
    job.last_ = endMarker;
    return job;
}

CopyJob CopyJob::split(VideoSource& source, FrameSink& sink, int32_t splitFrame, OpenOutput openOutput) {
    CopyJob job(Kind::Split, source, sink, std::move(openOutput));
    job.first_ = splitFrame;
    return job;
}

bool CopyJob::start() {
    try {
        frameCount_ = source_.FrameCount();
        if (kind_ == Kind::Cut) {
            if (!takeCutRange()) return false;
            // The sound runs from the first frame's own time (the seek) to the end of the last.
            const FrameTiming last = source_.FrameTimes(last_);
            endTime_ = frameEndTime(last.time, last.duration, source_.FrameRate());
            source_.SetSequentialRead(true);
            openOutput_(1);
            source_.SeekFrame(first_);
        } else {
            if (!takeSplitPoint(frameCount_)) return false;
            splitTime_ = source_.FrameTimes(first_).time;
            source_.SetSequentialRead(true);
            source_.SeekTime(0);
            openOutput_(1);
        }
    } catch (...) {
        finish(JobOutcome::Kind::Failed, describeError(std::current_exception()));
        return false;
    }
    return true;
}

bool CopyJob::step() {
    if (!running()) return false;
    try {
        if (kind_ == Kind::Cut)
            stepCut();
        else
            stepSplit();
    } catch (...) {
        finish(JobOutcome::Kind::Failed, describeError(std::current_exception()));
    }
    return running();
}

void CopyJob::stepCut() {
    if (source_.CurrentFrame() >= last_) videoFinished_ = true;
    if (double(source_.AudioTime()) >= endTime_) audioFinished_ = true;
    if (cancelRequested_) return finish(JobOutcome::Kind::Cancelled);
    if (videoFinished_ && audioFinished_) return finish(JobOutcome::Kind::Finished);
    copyVideo();
    copyAudio();
    if (onProgress) onProgress(progress());
}

void CopyJob::stepSplit() {
    // A cancel that came in since the last pass ends the job before anything more is read,
    // so a job cancelled during the first file never starts the second.
    if (cancelRequested_) return finish(JobOutcome::Kind::Cancelled);
    // The first file ends where the next frame due is the split frame: it holds frames 1 to
    // split - 1 and the second file starts with the split frame. Its sound runs to the split
    // frame's own time, where the second file's sound starts, so the two sound tracks meet
    // within one block.
    if (part_ == 1 && (source_.CurrentFrame() + 1 >= first_ || videoFinished_) &&
        (source_.AudioTime() >= splitTime_ || audioFinished_))
        switchToSecondFile();
    copyVideo();
    copyAudio();
    if (onProgress) onProgress(progress());
    if (cancelRequested_) return finish(JobOutcome::Kind::Cancelled);
    if (videoFinished_ && audioFinished_) return finish(JobOutcome::Kind::Finished);
}

void CopyJob::switchToSecondFile() {
    sink_.CloseFile();
    source_.SeekFrame(first_);
    part_ = 2;
    videoFinished_ = audioFinished_ = false;
    openOutput_(2);
}

// Video is read whenever its position is not ahead of the audio's; audio whenever video is.
bool CopyJob::videoDue() const {
    return !videoFinished_ && (source_.VideoTime() <= source_.AudioTime() || audioFinished_);
}

bool CopyJob::audioDue() const {
    return !audioFinished_ && (source_.VideoTime() > source_.AudioTime() || videoFinished_);
}

void CopyJob::copyVideo() {
    if (!videoDue()) return;
    const FrameData frame = source_.ReadVideoFrame();
    if (frame.isEmpty()) {
        videoFinished_ = true;
        return;
    }
    if (onFrame) onFrame(frame);
    sink_.WriteVideoFrame(frame);
}

void CopyJob::copyAudio() {
    if (!audioDue()) return;
    const AudioChunk block = source_.ReadAudio(kJobAudioBlockBytes);
    if (block.empty()) {
        audioFinished_ = true;
        return;
    }
    sink_.WriteAudio(block);
}

JobProgress CopyJob::progress() const {
    JobProgress p;
    p.part = part_;
    p.currentFrame = source_.CurrentFrame();
    p.videoTime = source_.VideoTime();
    p.audioTime = source_.AudioTime();
    p.videoDuration = source_.VideoDuration();
    p.audioDuration = source_.AudioDuration();
    p.percent = kind_ == Kind::Cut ? cutPercent(p.currentFrame, first_, last_)
                                   : splitPercent(p.currentFrame, first_, frameCount_);
    return p;
}

// Closing the output is part of the job: a file that cannot be completed is a failure.
void CopyJob::finish(JobOutcome::Kind kind, const QString& failure) {
    outcome_.kind = kind;
    outcome_.failure = failure;
    try {
        source_.SetSequentialRead(false);  // the window steps through the source again
    } catch (...) {
    }
    try {
        sink_.CloseFile();
    } catch (...) {
        if (kind != JobOutcome::Kind::Failed) {
            outcome_.kind = JobOutcome::Kind::Failed;
            outcome_.failure = describeError(std::current_exception());
        }
    }
}
