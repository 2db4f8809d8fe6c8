#include <gtest/gtest.h>

#include "engine/common/FrameData.h"
#include "support/Clips.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace {

struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

FramePtr makeFrame(int w, int h, AVPixelFormat fmt) {
    FramePtr f(av_frame_alloc());
    f->width = w;
    f->height = h;
    f->format = fmt;
    av_frame_get_buffer(f.get(), 32);
    for (int p = 0; p < 4 && f->data[p]; ++p) memset(f->data[p], 128, f->linesize[p] * (p ? h / 2 : h));
    return f;
}

TEST(FrameData, PackedFrameRoundTripsThroughTheHeader) {
    auto frame = makeFrame(33, 17, AV_PIX_FMT_YUV420P);  // odd sizes: chroma planes round up
    const FrameData data = packFrame(frame.get(), 7, 280);
    const auto view = viewFrame(data);
    ASSERT_TRUE(view);
    EXPECT_EQ(view->width(), 33);
    EXPECT_EQ(view->height(), 17);
    EXPECT_EQ(view->format(), AV_PIX_FMT_YUV420P);
    EXPECT_EQ(view->header.frameNumber, 7);
    EXPECT_EQ(view->header.timeMs, 280);
    EXPECT_EQ(view->header.lineSize[1], 17);
    FrameConverter converter;
    const QImage image = converter.toImage(data);
    ASSERT_EQ(image.size(), QSize(33, 17));
}

TEST(FrameData, MalformedArraysAreRejected) {
    auto frame = makeFrame(64, 48, AV_PIX_FMT_YUV420P);
    FrameData data = packFrame(frame.get(), 1, 0);
    EXPECT_FALSE(viewFrame(FrameData()));
    EXPECT_FALSE(viewFrame(data.left(data.size() - 65)));  // truncated planes (64 bytes of slack follow them)
    FrameData badMagic = data;
    badMagic[0] = 'x';
    EXPECT_FALSE(viewFrame(badMagic));
    FrameData hugeWidth = data;
    FrameHeader h;
    memcpy(&h, hugeWidth.constData(), sizeof h);
    h.width = 1 << 20;
    memcpy(hugeWidth.data(), &h, sizeof h);
    EXPECT_FALSE(viewFrame(hugeWidth));
    FrameConverter converter;
    EXPECT_TRUE(converter.toImage(badMagic).isNull());
}

TEST(TestClips, PatternReadsBackTheFrameNumbers) {
    const auto clip = clips::get("avi_mjpeg_pcm");
    const QList<int> numbers = clips::decodeFrameNumbers(clip.path);
    ASSERT_EQ(numbers.size(), clip.frames);
    for (int i = 0; i < numbers.size(); ++i) EXPECT_EQ(numbers[i], i + 1);
}

}  // namespace

TEST(FrameData, OneConverterReadsEveryFrameInItsOwnValueRange) {
    // Luma 16 is black in a plain frame and dark grey in a full-range "J" frame of the same size:
    // the scaler kept from the J frame must not read the plain frame after it as full range.
    auto full = makeFrame(16, 16, AV_PIX_FMT_YUVJ420P);
    auto plain = makeFrame(16, 16, AV_PIX_FMT_YUV420P);
    memset(full->data[0], 16, size_t(full->linesize[0]) * 16);
    memset(plain->data[0], 16, size_t(plain->linesize[0]) * 16);
    FrameConverter converter;
    const QImage grey = converter.toImage(packFrame(full.get(), 1, 0));
    const QImage black = converter.toImage(packFrame(plain.get(), 2, 40));
    ASSERT_FALSE(grey.isNull());
    ASSERT_FALSE(black.isNull());
    EXPECT_NEAR(qGreen(grey.pixel(8, 8)), 16, 2);
    EXPECT_NEAR(qGreen(black.pixel(8, 8)), 0, 2);
}
