#include "jobs/CopyJob.h"

#include <algorithm>
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

CopyJob CopyJob::pieces(VideoSource& source, FrameSink& sink, std::vector<Piece> ranges, OpenOutput openOutput) {
    CopyJob job(Kind::Pieces, source, sink, std::move(openOutput));
    job.ranges_ = std::move(ranges);
    for (const Piece& p : job.ranges_) {
        job.first_ = job.first_ == 0 ? p.first : std::min(job.first_, p.first);
        job.last_ = std::max(job.last_, p.last);
        job.framesTotal_ += p.length();
    }
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
            ownOutput(openOutput_(1));
            source_.SeekFrame(first_);
        } else if (kind_ == Kind::Pieces) {
            if (ranges_.empty()) throw MediaError(QStringLiteral("There is no piece to write"));
            source_.SetSequentialRead(true);
            ownOutput(openOutput_(1));
            startPiece(0);
        } else {
            if (!takeSplitPoint(frameCount_)) return false;
            splitTime_ = source_.FrameTimes(first_).time;
            source_.SetSequentialRead(true);
            source_.SeekTime(0);
            ownOutput(openOutput_(1));
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
        switch (kind_) {
            case Kind::Cut: stepCut(); break;
            case Kind::Split: stepSplit(); break;
            case Kind::Pieces: stepPieces(); break;
        }
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

// Each piece's sound starts at its first frame's own time (the seek) and is owed exactly the
// samples that belong with its pictures at the output's frame rate, counted from the start of
// the file, so a join never shifts the sound of the pieces after it.
void CopyJob::startPiece(size_t index) {
    piece_ = index;
    const Piece& p = ranges_[index];
    source_.SeekFrame(p.first);
    videoFinished_ = false;
    audioFinished_ = !source_.HasAudio();
    const double fps = source_.FrameRate();
    const int32_t rate = source_.AudioSampleRate();
    soundOwed_ = soundSamplesFor(framesBefore_ + p.length(), fps, rate) - soundSamplesFor(framesBefore_, fps, rate);
}

void CopyJob::stepPieces() {
    if (cancelRequested_) return finish(JobOutcome::Kind::Cancelled);
    const Piece& p = ranges_[piece_];
    if (source_.CurrentFrame() >= p.last) videoFinished_ = true;
    if (videoFinished_ && audioFinished_) {
        framesBefore_ += p.length();
        if (piece_ + 1 == ranges_.size()) return finish(JobOutcome::Kind::Finished);
        startPiece(piece_ + 1);
    }
    copyVideo();
    copyPieceAudio();
    if (onProgress) onProgress(progress());
}

// One block of the piece's sound, cut at the sample it is owed; silence where the source's
// sound ends before the piece does, so the pieces after it stay in step.
void CopyJob::copyPieceAudio() {
    if (!audioDue()) return;
    const int64_t channels = std::max(1, source_.AudioChannels());
    AudioChunk block = source_.ReadAudio(kJobAudioBlockBytes);
    if (block.empty()) block.assign(size_t(std::min<int64_t>(soundOwed_, kJobAudioBlockBytes / 2)) * channels, 0);
    const int64_t frames = std::min<int64_t>(int64_t(block.size()) / channels, soundOwed_);
    block.resize(size_t(frames * channels));
    if (!block.empty()) sink_.WriteAudio(block);
    soundOwed_ -= frames;
    if (soundOwed_ <= 0) audioFinished_ = true;
}

void CopyJob::switchToSecondFile() {
    sink_.CloseFile();
    source_.SeekFrame(first_);
    part_ = 2;
    videoFinished_ = audioFinished_ = false;
    ownOutput(openOutput_(2));
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
    switch (kind_) {
        case Kind::Cut: p.percent = cutPercent(p.currentFrame, first_, last_); break;
        case Kind::Split: p.percent = splitPercent(p.currentFrame, first_, frameCount_); break;
        case Kind::Pieces: {
            const Piece& r = ranges_[piece_];
            const int64_t inPiece = std::clamp<int64_t>(p.currentFrame - r.first + 1, 0, r.length());
            p.percent = piecesPercent(framesBefore_ + inPiece, framesTotal_);
            break;
        }
    }
    return p;
}

// Closing the output is part of the job: a file that cannot be completed is a failure. A
// failed job leaves none of its files.
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
    if (outcome_.kind == JobOutcome::Kind::Failed) removeOwnOutputs();
}
