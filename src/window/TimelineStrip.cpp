#include "window/TimelineStrip.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "engine/common/VideoSource.h"
#include "engine/platform/Platform.h"
#include "engine/reader/OpenedSource.h"
#include "engine/timeline/TimelineSources.h"

namespace {

constexpr int kWaveTop = TimelineStrip::kThumbnailHeight + 2;
constexpr double kTickGapPx = 3;
const QColor kBackground(0x20, 0x22, 0x26);
const QColor kWave(0x6c, 0xb4, 0xe8);
const QColor kTick(0xf5, 0xd0, 0x3c);
const QColor kClean(0x4c, 0xd0, 0x6a);    // a marker where a cut needs no encoding
const QColor kEncoded(0xf2, 0x8c, 0x28);  // a marker where the frames next to it are encoded
const QColor kRange(0xf2, 0x8c, 0x28, 70);
const QColor kKept(0x4c, 0xd0, 0x6a, 60);
const QColor kRemoved(0xe0, 0x40, 0x40, 60);

// Sound peaks in stretches of about 50 ms, at most this many for the whole source.
constexpr int kMaxPeaks = 4096;
int peakBucketsFor(int32_t durationMs) { return std::clamp(durationMs / 50, 32, kMaxPeaks); }

}  // namespace

TimelineStrip::TimelineStrip(QWidget* parent) : QWidget(parent) {
    setObjectName("TimelineStrip1");
    setMinimumHeight(kStripHeight);
    setMouseTracking(false);
    setCursor(Qt::PointingHandCursor);
}

TimelineStrip::~TimelineStrip() { stopWork(); }

void TimelineStrip::setSource(std::shared_ptr<const OpenedSource> source, std::unique_ptr<VideoSource> soundReader) {
    clearSource();
    if (!source || source->videoStream() < 0) return;
    hasSource_ = true;
    view_ = wholeSource(source->index().frameCount(), width());
    cleanStarts_ = cleanStartFrames(source->index());
    stop_ = std::make_shared<std::atomic<bool>>(false);
    startThumbnails(source);
    hasSound_ = soundReader && soundReader->HasAudio();
    if (hasSound_) {
        startWaveform(std::move(soundReader));
    } else {
        waveformDone_ = true;
    }
    update();
}

void TimelineStrip::clearSource() {
    stopWork();
    hasSource_ = hasSound_ = waveformDone_ = false;
    cleanStarts_.clear();
    thumbnailFrames_.clear();
    thumbnails_.clear();
    peaks_.clear();
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

void TimelineStrip::startThumbnails(std::shared_ptr<const OpenedSource> source) {
    thumbnailFrames_ = thumbnailKeyframes(cleanStarts_, view_.frameCount, kThumbnails);
    // The thumbnails come in an order that fills the strip evenly at once and finer later:
    // every 16th first, then every 8th, and so on.
    std::vector<int32_t> order;
    for (size_t step = 16; step >= 1; step /= 2)
        for (size_t i = 0; i < thumbnailFrames_.size(); i += step)
            if (step == 16 || i % (step * 2) != 0) order.push_back(thumbnailFrames_[i]);
    const int generation = generation_;
    workers_.push_back(QThread::create([this, source, order, stop = stop_, generation] {
        runBelowWindow();  // QThread's priorities do not change a Linux thread's share
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

void TimelineStrip::startWaveform(std::unique_ptr<VideoSource> reader) {
    const int generation = generation_;
    std::shared_ptr<VideoSource> owned(std::move(reader));
    workers_.push_back(QThread::create([this, owned, stop = stop_, generation] {
        runBelowWindow();
        auto post = [&](const std::vector<uint8_t>& peaks, bool done) {
            QMetaObject::invokeMethod(
                this,
                [this, peaks, done, generation] {
                    if (generation != generation_) return;
                    peaks_ = peaks;
                    waveformDone_ = done;
                    update();
                    checkDone();
                },
                Qt::QueuedConnection);
        };
        std::vector<uint8_t> last;
        try {
            measureSoundPeaks(*owned, peakBucketsFor(owned->VideoDuration()), *stop,
                              [&](const std::vector<uint8_t>& peaks) {
                                  last = peaks;
                                  post(peaks, false);
                              });
        } catch (...) {
            // Sound that cannot be read further shows as silence from there on.
        }
        if (!stop->load()) post(last, true);
    }));
    workers_.back()->start(QThread::LowPriority);
}

void TimelineStrip::checkDone() {
    if (waveformDone_ && thumbnails_.size() == thumbnailFrames_.size()) emit backgroundDone();
}

int64_t TimelineStrip::cacheBytes() const {
    int64_t bytes = int64_t(peaks_.capacity()) + int64_t(cleanStarts_.capacity()) * 4;
    for (const auto& [frame, image] : thumbnails_) bytes += image.sizeInBytes();
    return bytes;
}

bool TimelineStrip::startsClean(int32_t frame) const {
    return std::binary_search(cleanStarts_.begin(), cleanStarts_.end(), frame);
}

bool TimelineStrip::endsClean(int32_t frame) const { return frame == view_.frameCount || startsClean(frame + 1); }

void TimelineStrip::setMarkers(int32_t marker1, int32_t marker2) {
    marker1_ = marker1;
    marker2_ = marker2;
    update();
}

void TimelineStrip::setPlayhead(int32_t frame) {
    playhead_ = frame;
    view_ = keptInView(view_, frame);
    update();
}

void TimelineStrip::setBands(std::vector<Band> bands) {
    bands_ = std::move(bands);
    update();
}

int TimelineStrip::xOf(int32_t frame) const { return static_cast<int>(std::floor(xOfFrame(view_, frame))); }

const QImage* TimelineStrip::thumbnailFor(int32_t frame) const {
    // The latest ready thumbnail at or before the frame, else the first one after it.
    auto after = thumbnails_.upper_bound(frame);
    for (auto it = after; it != thumbnails_.begin();)
        if (!(--it)->second.isNull()) return &it->second;
    for (auto it = after; it != thumbnails_.end(); ++it)
        if (!it->second.isNull()) return &it->second;
    return nullptr;
}

void TimelineStrip::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), kBackground);
    if (!hasSource_) return;
    const int w = width(), h = height();
    // Thumbnails, one per cell of a thumbnail's width, each the key frame nearest its cell's start.
    if (const QImage* any = thumbnailFor(1)) {
        const int cell = std::max(any->width(), 8);
        for (int x = 0; x < w; x += cell)
            if (const QImage* image = thumbnailFor(frameAtX(view_, x))) p.drawImage(x, 0, *image);
    }
    // Waveform: the loudest peak under each column, around the band's middle line.
    if (!peaks_.empty()) {
        const int middle = kWaveTop + (h - kWaveTop) / 2, half = (h - kWaveTop) / 2;
        p.setPen(kWave);
        for (int x = 0; x < w; ++x) {
            const int a = columnPeak(peaks_, view_, x) * half / 255;
            if (a > 0) p.drawLine(x, middle - a, x, middle + a);
        }
    }
    // Ticks where a cut needs no encoding.
    p.setPen(kTick);
    for (const int32_t frame : ticksInView(cleanStarts_, view_, kTickGapPx)) {
        const int x = xOf(frame);
        p.drawLine(x, h - 7, x, h - 1);
        p.drawLine(x, 0, x, 3);
    }
    // Bands, the marked range, the markers and the playhead.
    auto span = [&](int32_t first, int32_t last) {
        const int left = xOf(std::min(first, last)), right = xOf(std::max(first, last) + 1);
        return QRect(left, 0, std::max(right - left, 1), h);
    };
    for (const Band& band : bands_)
        p.fillRect(span(band.first, band.last), band.kind == BandKind::Kept ? kKept : kRemoved);
    p.fillRect(span(marker1_, marker2_), kRange);
    const int32_t start = std::min(marker1_, marker2_), end = std::max(marker1_, marker2_);
    p.fillRect(xOf(start), 0, 2, h, startsClean(start) ? kClean : kEncoded);
    p.fillRect(xOf(end + 1) - 2, 0, 2, h, endsClean(end) ? kClean : kEncoded);
    p.fillRect(xOf(playhead_), 0, 1, h, Qt::white);
}

void TimelineStrip::choose(double x) {
    if (hasSource_) emit frameChosen(frameAtX(view_, x));
}

void TimelineStrip::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) choose(event->position().x());
}

void TimelineStrip::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) choose(event->position().x());
}

void TimelineStrip::wheelEvent(QWheelEvent* event) {
    if (!hasSource_) return;
    const QPoint delta = event->angleDelta();
    const double steps = (delta.y() != 0 ? delta.y() : delta.x()) / 120.0;
    if (event->modifiers() & Qt::ControlModifier) {
        view_ = zoomedAround(view_, event->position().x(), std::pow(1.25, steps));
    } else {
        view_ = scrolledBy(view_, -steps * width() / 10.0);
    }
    update();
    event->accept();
}

void TimelineStrip::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    view_.width = std::max(width(), 1);
}
