#include "window/TimelineStrip.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

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
const QColor kBlackMark(0xb4, 0x6c, 0xf0);    // along the pictures' lower edge
const QColor kSilenceMark(0xf0, 0x6c, 0xb4);  // along the waveform's middle line

}  // namespace

TimelineStrip::TimelineStrip(QWidget* parent) : QWidget(parent) {
    setObjectName("TimelineStrip1");
    setMinimumHeight(kStripHeight);
    setMouseTracking(false);
    setCursor(Qt::PointingHandCursor);
}

TimelineStrip::~TimelineStrip() { stopWork(); }

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
    // Where the picture is black and where the sound is silent.
    paintMarks(p, blacks_, kThumbnailHeight - 4, 4, kBlackMark);
    paintMarks(p, silences_, kWaveTop + (h - kWaveTop) / 2 - 1, 3, kSilenceMark);
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

void TimelineStrip::paintMarks(QPainter& p, const std::vector<FrameSpan>& marks, int top, int height,
                               const QColor& colour) {
    for (const FrameSpan& mark : marks) {
        const int left = xOf(mark.first), right = xOf(mark.last + 1);
        if (right >= 0 && left < width()) p.fillRect(left, top, std::max(right - left, 1), height, colour);
    }
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
