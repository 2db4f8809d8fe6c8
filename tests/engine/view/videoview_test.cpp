#include <gtest/gtest.h>

#include "engine/view/VideoView.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace {

// A frame of one grey level (luma 16..235), optionally with a sample aspect ratio.
FrameData greyFrame(int w, int h, int luma, AVRational sar = {1, 1}, int number = 1) {
    AVFrame* f = av_frame_alloc();
    f->width = w;
    f->height = h;
    f->format = AV_PIX_FMT_YUV420P;
    f->sample_aspect_ratio = sar;
    av_frame_get_buffer(f, 0);
    for (int y = 0; y < h; ++y) memset(f->data[0] + y * f->linesize[0], luma, w);
    for (int p = 1; p < 3; ++p)
        for (int y = 0; y < (h + 1) / 2; ++y) memset(f->data[p] + y * f->linesize[p], 128, (w + 1) / 2);
    FrameData data = packFrame(f, number, 0);
    av_frame_free(&f);
    return data;
}

int greyAt(const QImage& image, int x, int y) { return qGray(image.pixel(x, y)); }

bool allBlack(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y)
        for (int x = 0; x < rgb.width(); ++x)
            if ((rgb.pixel(x, y) & 0xffffff) != 0) return false;
    return true;
}

TEST(VideoView, ABurstOfFramesCostsOneConversionPerPaint) {
    VideoView view;
    view.resize(320, 240);
    for (int i = 0; i < 20; ++i) view.ShowFrame(greyFrame(160, 120, 20 + 10 * i, {1, 1}, i + 1));
    EXPECT_EQ(view.conversionCount(), 0);  // nothing converted until painted
    QImage shown = view.renderedImage();
    EXPECT_EQ(view.conversionCount(), 1);
    // The last frame of the burst is the one on show.
    EXPECT_NEAR(greyAt(shown, 160, 120), (210 - 16) * 255 / 219, 3);
    view.renderedImage();
    EXPECT_EQ(view.conversionCount(), 1);  // repaint of the same frame and size: cached
    view.ShowFrame(greyFrame(160, 120, 100));
    const FrameData held = greyFrame(160, 120, 200);
    view.ShowFrame(held);
    view.renderedImage();
    EXPECT_EQ(view.conversionCount(), 2);
    view.ShowFrame(held);  // the window showing the frame it holds again on a repaint
    view.renderedImage();
    EXPECT_EQ(view.conversionCount(), 2);
    FrameData copy = held;
    copy.detach();  // equal bytes in another array count as a new frame
    view.ShowFrame(copy);
    view.renderedImage();
    EXPECT_EQ(view.conversionCount(), 3);
    view.resize(400, 300);  // the frame still fits at its own size: same picture
    view.renderedImage();
    EXPECT_EQ(view.conversionCount(), 3);
    view.resize(80, 60);  // now it shrinks: converted again at the new size
    shown = view.renderedImage();
    EXPECT_EQ(view.conversionCount(), 4);
    EXPECT_EQ(view.targetRect(), QRect(0, 0, 80, 60));
    EXPECT_FALSE(allBlack(shown));
}

TEST(VideoView, ShrinkToFitKeepsTheAspectRatioAndNeverEnlarges) {
    VideoView view;
    view.resize(320, 320);
    view.ShowFrame(greyFrame(640, 480, 235));
    EXPECT_EQ(view.targetRect(), QRect(0, 40, 320, 240));
    view.ShowFrame(greyFrame(100, 50, 235));
    EXPECT_EQ(view.targetRect(), QRect(110, 135, 100, 50));  // small frames stay at their size
    view.ShowFrame(greyFrame(200, 800, 235));
    EXPECT_EQ(view.targetRect(), QRect(120, 0, 80, 320));  // height-limited
    // 720x576 with 16:15 pixels is 768x576 on screen.
    view.resize(384, 400);
    view.ShowFrame(greyFrame(720, 576, 235, {16, 15}));
    EXPECT_EQ(view.targetRect(), QRect(0, 56, 384, 288));
    // A nonsensical aspect ratio is ignored rather than drawn as a sliver.
    view.ShowFrame(greyFrame(384, 200, 235, {1000, 1}));
    EXPECT_EQ(view.targetRect(), QRect(0, 100, 384, 200));
}

TEST(VideoView, EachViewSizeHasItsTargetRectangle) {
    const QSize view(400, 300);
    const QSize wide(200, 100), square(100, 100);
    EXPECT_EQ(videoTargetRect(0, square, view), QRect(150, 100, 100, 100));
    EXPECT_EQ(videoTargetRect(1, wide, view), QRect(100, 100, 200, 100));
    EXPECT_EQ(videoTargetRect(2, wide, view), QRect(150, 125, 100, 50));
    EXPECT_EQ(videoTargetRect(3, wide, view), QRect(175, 137, 50, 25));
    EXPECT_EQ(videoTargetRect(4, wide, view), QRect(0, 50, 400, 200));
    EXPECT_EQ(videoTargetRect(5, wide, view), QRect(0, 0, 400, 300));
    EXPECT_EQ(videoTargetRect(6, square, view), QRect(50, 0, 300, 300));
    EXPECT_EQ(videoTargetRect(7, square, view), QRect(0, -50, 400, 400));
    // Larger than the view: centred and cropped.
    EXPECT_EQ(videoTargetRect(1, QSize(800, 100), view), QRect(-200, 100, 800, 100));
    EXPECT_EQ(videoTargetRect(3, QSize(2, 2), view), QRect(199, 149, 1, 1));  // never below a pixel
    EXPECT_TRUE(videoTargetRect(1, wide, QSize(0, 0)).isEmpty());
    EXPECT_TRUE(videoTargetRect(1, QSize(), view).isEmpty());

    VideoView widget;
    widget.SetViewSize(6);
    EXPECT_EQ(widget.ViewSize(), 6);
    widget.SetViewSize(8);  // unknown modes fall back to shrink to fit
    EXPECT_EQ(widget.ViewSize(), 0);
    widget.SetViewSize(-1);
    EXPECT_EQ(widget.ViewSize(), 0);
}

TEST(VideoView, PaintsTheFrameInsideItsRectangleOnBlack) {
    VideoView view;
    view.resize(400, 300);
    view.ShowFrame(greyFrame(100, 100, 235, {2, 1}));  // shown 200x100
    view.SetViewSize(1);
    EXPECT_EQ(view.targetRect(), QRect(100, 100, 200, 100));
    QImage shown = view.renderedImage();
    EXPECT_EQ(shown.size(), QSize(400, 300));
    EXPECT_GT(greyAt(shown, 105, 150), 240);  // stretched across the wide pixels
    EXPECT_GT(greyAt(shown, 295, 150), 240);
    EXPECT_EQ(greyAt(shown, 95, 150), 0);
    EXPECT_EQ(greyAt(shown, 200, 95), 0);
    EXPECT_EQ(greyAt(shown, 200, 205), 0);
    // 200 %: larger than the view, cropped, covering all of it.
    view.SetViewSize(4);
    view.resize(300, 150);
    shown = view.renderedImage();
    EXPECT_EQ(view.targetRect(), QRect(-50, -25, 400, 200));
    EXPECT_GT(greyAt(shown, 0, 0), 240);
    EXPECT_GT(greyAt(shown, 299, 149), 240);
    // Stretch fills the view whatever the aspect ratio.
    view.SetViewSize(5);
    shown = view.renderedImage();
    EXPECT_GT(greyAt(shown, 0, 0), 240);
    EXPECT_GT(greyAt(shown, 299, 149), 240);
}

TEST(VideoView, WidthsThatAreNoMultipleOfTheConvertersBlockAreDrawnWhole) {
    for (const QSize size : {QSize(100, 60), QSize(33, 17), QSize(250, 3)}) {
        VideoView view;
        view.resize(size);
        view.SetViewSize(1);
        view.ShowFrame(greyFrame(size.width(), size.height(), 235));
        const QImage shown = view.renderedImage();
        for (int x : {0, size.width() / 2, size.width() - 1})
            for (int y : {0, size.height() - 1})
                EXPECT_GT(greyAt(shown, x, y), 240) << x << "," << y << " of " << size.width();
    }
}

TEST(VideoView, ClearDropsTheFrameAndPaintsBlack) {
    VideoView view;
    view.resize(200, 100);
    view.ShowFrame(greyFrame(200, 100, 235));
    EXPECT_FALSE(allBlack(view.renderedImage()));
    view.Clear();
    EXPECT_TRUE(view.currentFrame().isEmpty());
    EXPECT_TRUE(view.targetRect().isEmpty());
    EXPECT_TRUE(allBlack(view.renderedImage()));
    // An empty view before any frame is black too.
    VideoView fresh;
    fresh.resize(50, 50);
    EXPECT_TRUE(allBlack(fresh.renderedImage()));
}

TEST(VideoView, MalformedFrameDataDrawsNothing) {
    VideoView view;
    view.resize(160, 120);
    const FrameData good = greyFrame(160, 120, 235);
    FrameHeader header;
    memcpy(&header, good.constData(), sizeof header);
    header.pixelFormat = 100000;
    const FrameData badFormat =
        QByteArray(reinterpret_cast<const char*>(&header), sizeof header) + good.mid(sizeof header);
    const QList<FrameData> damaged{FrameData("garbage"), good.left(good.size() / 2), good.left(sizeof(FrameHeader) - 1),
                                   badFormat, FrameData(4096, '\xff')};
    for (const FrameData& data : damaged) {
        view.ShowFrame(good);
        view.renderedImage();
        view.ShowFrame(data);
        EXPECT_TRUE(allBlack(view.renderedImage()));
        EXPECT_TRUE(view.targetRect().isEmpty());
    }
    EXPECT_EQ(view.conversionCount(), int(damaged.size()));  // only the good frames were converted
}

TEST(VideoView, PlaybackBracketsKeepDrawingFrames) {
    VideoView view;
    view.resize(320, 240);
    view.BeginPlayback(160, 120);
    EXPECT_TRUE(view.isPlaying());
    view.ShowFrame(greyFrame(160, 120, 235));
    view.SetViewSize(6);  // enlarged without smoothing while playing
    QImage shown = view.renderedImage();
    EXPECT_EQ(view.targetRect(), QRect(0, 0, 320, 240));
    EXPECT_GT(greyAt(shown, 319, 239), 240);
    view.EndPlayback();
    EXPECT_FALSE(view.isPlaying());
    shown = view.renderedImage();
    EXPECT_GT(greyAt(shown, 160, 120), 240);
    EXPECT_EQ(view.conversionCount(), 1);  // the drawing mode does not need a new conversion
}

}  // namespace
