// The timeline strip's background work: what it reads of the open source on worker threads,
// and how the results reach the strip on the window's thread.
#include <algorithm>
#include <utility>

#include "engine/platform/Platform.h"
#include "engine/reader/OpenedSource.h"
#include "engine/timeline/TimelineSources.h"
#include "window/TimelineStrip.h"

namespace {

// Sound peaks in stretches of about 50 ms, at most this many for the whole source.
constexpr int kMaxPeaks = 4096;
int peakBucketsFor(double seconds) { return std::clamp(static_cast<int>(seconds * 20), 32, kMaxPeaks); }

}  // namespace

void TimelineStrip::setSource(std::shared_ptr<const OpenedSource> source) {
    clearSource();
    if (!source || source->videoStream() < 0) return;
    hasSource_ = true;
    view_ = wholeSource(source->index().frameCount(), width());
    cleanStarts_ = cleanStartFrames(source->index());
    stop_ = std::make_shared<std::atomic<bool>>(false);
    source_ = opened_ = source;
    thumbnailFrames_ = thumbnailKeyframes(cleanStarts_, view_.frameCount, kThumbnails);
    startThumbnails(source);
    hasSound_ = source->audioStream() >= 0;
    if (hasSound_) {
        startSound(source);
    } else {
        waveformDone_ = true;
    }
    update();
}

void TimelineStrip::clearSource() {
    stopWork();
    hasSource_ = hasSound_ = waveformDone_ = blackDone_ = interrupted_ = false;
    source_.reset();
    opened_.reset();
    cleanStarts_.clear();
    thumbnailFrames_.clear();
    thumbnails_.clear();
    peaks_.clear();
    silences_.clear();
    blacks_.clear();
    bands_.clear();
    marker1_ = marker2_ = playhead_ = 1;
    view_ = TimelineView{};
    update();
}

void TimelineStrip::stopWork() {
    ++generation_;  // whatever the stopped work posted and is not yet delivered is dropped
    if (stop_) stop_->store(true);
    for (QThread* worker : workers_) {
        worker->wait();
        delete worker;
    }
    workers_.clear();
    stop_.reset();
}

void TimelineStrip::holdWork() {
    if (holds_++ > 0) return;
    const bool running =
        std::any_of(workers_.begin(), workers_.end(), [](const QThread* worker) { return !worker->isFinished(); });
    if (!running && (!opened_ || blackDone_)) return;
    // What finished workers posted and is not yet delivered is dropped too: resuming makes it again.
    stopWork();
    interrupted_ = true;
}

void TimelineStrip::resumeWork() {
    if (holds_ == 0 || --holds_ > 0 || !std::exchange(interrupted_, false) || !opened_) return;
    stop_ = std::make_shared<std::atomic<bool>>(false);
    const bool thumbnailsDone = thumbnails_.size() == thumbnailFrames_.size();
    if (!thumbnailsDone) startThumbnails(opened_);
    if (!waveformDone_) startSound(opened_);
    if (blackDone_) return;
    // The black pictures' pass starts again from the first picture, once the rest is complete.
    if (thumbnailsDone && waveformDone_) {
        source_.reset();
        startBlack(opened_);
    } else {
        source_ = opened_;
    }
}

void TimelineStrip::startThumbnails(std::shared_ptr<const OpenedSource> source) {
    // The thumbnails come in an order that fills the strip evenly at once and finer later:
    // every 16th first, then every 8th, and so on. Those made before a hold are not made again.
    std::vector<int32_t> order;
    for (size_t step = 16; step >= 1; step /= 2)
        for (size_t i = 0; i < thumbnailFrames_.size(); i += step)
            if ((step == 16 || i % (step * 2) != 0) && !thumbnails_.count(thumbnailFrames_[i]))
                order.push_back(thumbnailFrames_[i]);
    const int generation = generation_;
    workers_.push_back(QThread::create([this, source, order, stop = stop_, generation] {
        runBelowWindow();  // QThread's Low priority does not change a Linux thread's share
        try {
            KeyframePictures pictures(source);
            for (const int32_t frame : order) {
                if (stop->load()) return;
                QImage image = pictures.picture(frame, kThumbnailHeight);
                QMetaObject::invokeMethod(
                    this,
                    [this, frame, generation, image = std::move(image)] {
                        if (generation != generation_) return;
                        thumbnails_[frame] = image;  // a null image: tried, not decodable
                        update();
                        checkDone();
                    },
                    Qt::QueuedConnection);
            }
        } catch (...) {
            // A source whose video cannot be read again shows no thumbnails; the window's own
            // reader reports its problems.
        }
    }));
    workers_.back()->start(QThread::LowPriority);
}

void TimelineStrip::startSound(std::shared_ptr<const OpenedSource> source) {
    const int generation = generation_;
    const double seconds =
        (source->index().endTime() - source->index().firstTime()) * av_q2d(source->video()->time_base);
    workers_.push_back(QThread::create([this, source, seconds, stop = stop_, generation] {
        runBelowWindow();
        auto post = [&](const SoundScan& scan, bool done) {
            QMetaObject::invokeMethod(
                this,
                [this, scan, done, generation] {
                    if (generation != generation_) return;
                    peaks_ = scan.peaks;
                    silences_ = scan.silences;
                    waveformDone_ = done;
                    update();
                    checkDone();
                },
                Qt::QueuedConnection);
        };
        SoundScan last;
        try {
            scanSound(source, peakBucketsFor(seconds), *stop, [&](const SoundScan& scan) {
                last = scan;
                post(scan, false);
            });
        } catch (...) {
            // Sound that cannot be read shows as silence from there on, without silence marks.
        }
        if (!stop->load()) post(last, true);
    }));
    workers_.back()->start(QThread::LowPriority);
}

void TimelineStrip::startBlack(std::shared_ptr<const OpenedSource> source) {
    const int generation = generation_;
    workers_.push_back(QThread::create([this, source, stop = stop_, generation] {
        auto post = [&](const std::vector<FrameSpan>& blacks, bool done) {
            QMetaObject::invokeMethod(
                this,
                [this, blacks, done, generation] {
                    if (generation != generation_) return;
                    blacks_ = blacks;
                    blackDone_ = done;
                    update();
                },
                Qt::QueuedConnection);
        };
        std::vector<FrameSpan> last;
        try {
            scanBlack(source, *stop, [&](const std::vector<FrameSpan>& blacks) {
                last = blacks;
                post(blacks, false);
            });
        } catch (...) {
            // A video that cannot be decoded through shows the black pictures found until then.
        }
        if (!stop->load()) post(last, true);
    }));
    workers_.back()->start(QThread::IdlePriority);
}

void TimelineStrip::checkDone() {
    if (!waveformDone_ || thumbnails_.size() != thumbnailFrames_.size()) return;
    // The black pictures need every picture decoded: that pass waits until the strip is
    // otherwise complete, so it slows neither the thumbnails nor the waveform.
    if (source_) startBlack(std::exchange(source_, nullptr));
    emit backgroundDone();
}

int64_t TimelineStrip::cacheBytes() const {
    int64_t bytes = int64_t(peaks_.capacity()) + int64_t(cleanStarts_.capacity()) * 4 +
                    int64_t(silences_.capacity() + blacks_.capacity()) * int64_t(sizeof(FrameSpan));
    for (const auto& [frame, image] : thumbnails_) bytes += image.sizeInBytes();
    return bytes;
}
