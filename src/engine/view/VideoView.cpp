// The preview widget.
//
// ViewSize modes. Every size is measured on the frame's display size (its coded size with
// the width corrected by the sample aspect ratio of the frame header), and the picture is
// always centred in the view; a picture larger than the view is cropped equally on both
// sides. Whatever the picture leaves free is black.
//   0  shrink to fit: the display size when it fits, otherwise scaled down to fit keeping
//      the aspect ratio. Never enlarged beyond the display size.
//   1  actual size (100 %)
//   2  half size (50 %)
//   3  quarter size (25 %)
//   4  double size (200 %)
//   5  stretch: fills the whole view, aspect ratio not kept
//   6  fit: as large as fits in the view keeping the aspect ratio (enlarging allowed)
//   7  fit width: the view's full width keeping the aspect ratio (cropped top and bottom
//      when taller than the view)
// Any other value is taken as 0.
//
// Painting converts the frame once per change of frame or of drawn size, and converts it
// straight to the drawn size when shrinking (swscale scales better and cheaper than the
// painter). When enlarging it converts at the coded size and lets the painter scale up,
// so a 200 % view never holds a picture larger than the frame. During playback the painter
// scales without smoothing, which is cheaper.
#include "engine/view/VideoView.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

#include "engine/common/FfmpegHandles.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace {

constexpr int32_t kLastMode = 7;

// a * num / den rounded to nearest, at least 1.
int scaledLength(int64_t a, int64_t num, int64_t den) {
    return static_cast<int>(std::max<int64_t>(1, (a * num + den / 2) / den));
}

QSize scaledSize(QSize size, int num, int den) {
    return {scaledLength(size.width(), num, den), scaledLength(size.height(), num, den)};
}

QSize fitKeepingAspect(QSize picture, QSize view) {
    const bool widthLimited = int64_t(view.width()) * picture.height() <= int64_t(view.height()) * picture.width();
    if (widthLimited) return {view.width(), scaledLength(view.width(), picture.height(), picture.width())};
    return {scaledLength(view.height(), picture.width(), picture.height()), view.height()};
}

QSize drawnSize(int32_t mode, QSize picture, QSize view) {
    switch (mode) {
        case 1: return picture;
        case 2: return scaledSize(picture, 1, 2);
        case 3: return scaledSize(picture, 1, 4);
        case 4: return scaledSize(picture, 2, 1);
        case 5: return view;
        case 6: return fitKeepingAspect(picture, view);
        case 7: return {view.width(), scaledLength(view.width(), picture.height(), picture.width())};
        default:
            if (picture.width() <= view.width() && picture.height() <= view.height()) return picture;
            return fitKeepingAspect(picture, view);
    }
}

// The frame as a 32-bit RGB picture of the given size. FFmpeg's converters work on whole
// blocks of pixels and may touch a few bytes past the end of a row, so the picture lives in
// a buffer FFmpeg allocated for that (the image frees it), and the source gets slack at
// its end.
QImage convertToRgb(FrameConverter& converter, const FrameData& data, QSize size) {
    constexpr int kSourceSlack = 64;
    FrameData padded;
    padded.reserve(data.size() + kSourceSlack);
    padded.append(data);
    const auto view = viewFrame(padded);
    if (!view) return {};
    ffmpeg::Frame frame = ffmpeg::makeFrame();
    if (!frame) return {};
    frame->format = AV_PIX_FMT_BGRA;  // QImage::Format_RGB32 byte order on little-endian machines
    frame->width = size.width();
    frame->height = size.height();
    if (av_frame_get_buffer(frame.get(), 0) < 0 ||
        !converter.convert(*view, AV_PIX_FMT_BGRA, size.width(), size.height(), frame->data, frame->linesize))
        return {};
    // The image takes the frame over and frees it with itself.
    auto release = [](void* info) { ffmpeg::FrameFreer()(static_cast<AVFrame*>(info)); };
    AVFrame* owned = frame.get();
    QImage image(owned->data[0], size.width(), size.height(), owned->linesize[0], QImage::Format_RGB32, release, owned);
    if (!image.isNull()) frame.release();
    return image;
}

}  // namespace

QRect videoTargetRect(int32_t mode, QSize displaySize, QSize viewSize) {
    if (displaySize.isEmpty() || viewSize.isEmpty()) return {};
    const QSize size = drawnSize(mode, displaySize, viewSize);
    return {QPoint((viewSize.width() - size.width()) / 2, (viewSize.height() - size.height()) / 2), size};
}

VideoView::VideoView(QWidget* parent) : QWidget(parent) {
    // The paint handler covers every pixel itself.
    setAttribute(Qt::WA_OpaquePaintEvent);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
}

VideoView::~VideoView() = default;

void VideoView::ShowFrame(const FrameData& frame) {
    // The window redraws the frame it holds on every repaint; the same array (shared, so
    // unchanged) keeps its converted picture.
    if (!frame.isSharedWith(frame_)) {
        frame_ = frame;
        cacheValid_ = false;
    }
    update();
}

void VideoView::Clear() {
    frame_.clear();
    cache_ = QImage();
    cacheValid_ = false;
    update();
}

void VideoView::BeginPlayback(int32_t width, int32_t height) { playing_ = true; }

void VideoView::EndPlayback() {
    playing_ = false;
    update();  // redraw the last frame with smooth scaling
}

void VideoView::SetViewSize(int32_t size) {
    viewSize_ = (size >= 0 && size <= kLastMode) ? size : 0;
    update();
}

QRect VideoView::targetRect() const {
    const auto view = viewFrame(frame_);
    if (!view) return {};
    return videoTargetRect(viewSize_, frameDisplaySize(view->header), size());
}

QImage VideoView::renderedImage() { return grab().toImage(); }

void VideoView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), Qt::black);
    const auto view = viewFrame(frame_);
    if (!view) return;
    const QRect target = videoTargetRect(viewSize_, frameDisplaySize(view->header), size());
    if (target.isEmpty()) return;

    // Convert no larger than the coded frame; the painter does any enlarging.
    const QSize convertSize(std::min(target.width(), view->width()), std::min(target.height(), view->height()));
    if (!cacheValid_ || cacheSize_ != convertSize) {
        cache_ = convertToRgb(converter_, frame_, convertSize);
        cacheSize_ = convertSize;
        cacheValid_ = true;
        ++conversions_;
    }
    if (cache_.isNull()) return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform, !playing_);
    painter.drawImage(target, cache_);
}
