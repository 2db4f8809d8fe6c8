#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QtEndian>

#include "../GeometryClips.h"
#include "engine/common/MediaError.h"
#include "engine/image/ImageFile.h"
#include "support/Clips.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

namespace {

// Frame `number` (1-based) of a clip, decoded with FFmpeg and packed as the reader packs it.
FrameData decodeFrame(const QString& path, int number) {
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.toUtf8().constData(), nullptr, nullptr) < 0) return {};
    FrameData result;
    const AVCodec* codec = nullptr;
    avformat_find_stream_info(format, nullptr);
    const int stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    AVCodecContext* decoder = stream >= 0 ? avcodec_alloc_context3(codec) : nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    if (decoder && avcodec_parameters_to_context(decoder, format->streams[stream]->codecpar) >= 0 &&
        avcodec_open2(decoder, codec, nullptr) >= 0) {
        int decoded = 0;
        bool draining = false;
        while (result.isEmpty()) {
            if (!draining) {
                if (av_read_frame(format, packet) < 0) {
                    draining = true;
                    avcodec_send_packet(decoder, nullptr);
                } else {
                    if (packet->stream_index == stream) avcodec_send_packet(decoder, packet);
                    av_packet_unref(packet);
                }
            }
            int got;
            while ((got = avcodec_receive_frame(decoder, frame)) >= 0)
                if (++decoded == number) result = packFrame(frame, number, 0);
            if (draining && got == AVERROR_EOF) break;
        }
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
    return result;
}

// A synthetic frame of odd size (rows that need padding in a bitmap), brighter downwards.
FrameData oddFrame(int w = 33, int h = 17) {
    AVFrame* f = av_frame_alloc();
    f->width = w;
    f->height = h;
    f->format = AV_PIX_FMT_YUV420P;
    av_frame_get_buffer(f, 0);
    for (int p = 0; p < 3; ++p)
        for (int y = 0; y < (p ? (h + 1) / 2 : h); ++y)
            memset(f->data[p] + y * f->linesize[p], p ? 128 : 16 + 6 * y, p ? (w + 1) / 2 : w);
    FrameData data = packFrame(f, 1, 0);
    av_frame_free(&f);
    return data;
}

constexpr int kFrameNumber = 37;

class ImageFileTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        clipFrame = new FrameData(decodeFrame(clips::get("avi_mjpeg_pcm").path, kFrameNumber));
    }
    static void TearDownTestSuite() { delete clipFrame; }
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_FALSE(clipFrame->isEmpty());
        ASSERT_EQ(clips::frameNumberOf(*clipFrame), kFrameNumber);
    }
    QString path(const QString& name) const { return dir.filePath(name); }

    static FrameData* clipFrame;
    QTemporaryDir dir;
    ImageFile writer;
};
FrameData* ImageFileTest::clipFrame = nullptr;

using Saver = int32_t (ImageFile::*)(const FrameData&, const QString&);

struct FfmpegFormat {
    const char* extension;
    Saver save;
    const char* codec;  // as ffprobe names it
};

const FfmpegFormat kFfmpegFormats[] = {
    {"bmp", &ImageFile::SaveBMP, "bmp"},           {"jpg", &ImageFile::SaveJPEG, "mjpeg"},
    {"gif", &ImageFile::SaveGIF, "gif"},           {"tif", &ImageFile::SaveTIFF, "tiff"},
    {"pcx", &ImageFile::SavePCX, "pcx"},           {"tga", &ImageFile::SaveTGA, "targa"},
    {"png", &ImageFile::SavePNG, "png"},           {"ras", &ImageFile::SaveRAS, "sunrast"},
    {"j2k", &ImageFile::SaveJPEG2000, "jpeg2000"},
};

const Saver kAllSavers[] = {&ImageFile::SaveBMP,  &ImageFile::SaveGIF, &ImageFile::SaveJPEG,    &ImageFile::SavePNG,
                            &ImageFile::SaveTIFF, &ImageFile::SaveWMF, &ImageFile::SaveEMF,     &ImageFile::SavePCX,
                            &ImageFile::SaveTGA,  &ImageFile::SaveRAS, &ImageFile::SaveJPEG2000};

QJsonObject firstStream(const QString& file) { return clips::probe(file)["streams"].toArray().first().toObject(); }

TEST_F(ImageFileTest, EveryFfmpegFormatIsARealPictureOfTheFrame) {
    for (const auto& format : kFfmpegFormats) {
        SCOPED_TRACE(format.extension);
        const QString file = path(QStringLiteral("frame.%1").arg(format.extension));
        EXPECT_EQ((writer.*format.save)(*clipFrame, file), 0);
        const QJsonObject stream = firstStream(file);
        EXPECT_EQ(stream["codec_name"].toString(), format.codec);
        EXPECT_EQ(stream["width"].toInt(), 320);
        EXPECT_EQ(stream["height"].toInt(), 240);
        // Decoded by the ffmpeg tool, the picture still shows the frame's number.
        EXPECT_EQ(clips::decodeFrameNumbers(file), QList<int>{kFrameNumber});
    }
}

TEST_F(ImageFileTest, NonSquarePixelsAreSavedAtTheDisplayAspect) {
    // 4:3 DV: 720 x 576 with pixels 16:15 wide is seen, and saved, as 768 x 576 square pixels.
    const FrameData dv = decodeFrame(geometry::dvClip().path, 3);
    for (const auto& [extension, save] :
         {std::pair{"png", &ImageFile::SavePNG}, std::pair{"jpg", &ImageFile::SaveJPEG}}) {
        SCOPED_TRACE(extension);
        const QString file = path(QStringLiteral("dv.%1").arg(extension));
        (writer.*save)(dv, file);
        const QJsonObject stream = firstStream(file);
        EXPECT_EQ(stream["width"].toInt(), 768);
        EXPECT_EQ(stream["height"].toInt(), 576);
        EXPECT_EQ(clips::decodeFrameNumbers(file), QList<int>{3});
    }
}

TEST_F(ImageFileTest, OddAndTinyFramesKeepTheirSizeInEveryFormat) {
    for (const QSize size : {QSize(33, 17), QSize(1, 1)}) {
        const FrameData odd = oddFrame(size.width(), size.height());
        for (const auto& format : kFfmpegFormats) {
            SCOPED_TRACE(format.extension +
                         QStringLiteral(" %1x%2").arg(size.width()).arg(size.height()).toStdString());
            const QString file = path(QStringLiteral("odd.%1").arg(format.extension));
            EXPECT_EQ((writer.*format.save)(odd, file), 0);
            const QJsonObject stream = firstStream(file);
            EXPECT_EQ(stream["codec_name"].toString(), format.codec);
            EXPECT_EQ(stream["width"].toInt(), size.width());
            EXPECT_EQ(stream["height"].toInt(), size.height());
        }
    }
}

TEST_F(ImageFileTest, QtReadsBackJpegPngBmpAndGifAsTheFrame) {
    const std::pair<const char*, Saver> formats[] = {{"jpg", &ImageFile::SaveJPEG},
                                                     {"png", &ImageFile::SavePNG},
                                                     {"bmp", &ImageFile::SaveBMP},
                                                     {"gif", &ImageFile::SaveGIF}};
    for (const auto& [extension, save] : formats) {
        SCOPED_TRACE(extension);
        const QString file = path(QStringLiteral("back.%1").arg(extension));
        (writer.*save)(*clipFrame, file);
        const QImage image(file);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), QSize(320, 240));
        EXPECT_EQ(clips::frameNumberOf(image), kFrameNumber);
    }
}

QByteArray readAll(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST_F(ImageFileTest, TheChosenFormatWinsOverTheNameAndTheNameIsKeptExactly) {
    // PNG chosen, ".bmp" typed: a PNG under that name.
    const QString named = path("shot.bmp");
    writer.SavePNG(*clipFrame, named);
    const QByteArray png = readAll(named);
    EXPECT_TRUE(png.startsWith("\x89PNG\r\n\x1a\n"));
    EXPECT_EQ(clips::frameNumberOf(QImage::fromData(png, "PNG")), kFrameNumber);
    // No extension: exactly that name, nothing else left in the folder.
    writer.SaveJPEG(*clipFrame, path("snapshot"));
    writer.SaveEMF(*clipFrame, path("metafile"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files, QDir::Name), (QStringList{"metafile", "shot.bmp", "snapshot"}));
    EXPECT_TRUE(readAll(path("snapshot")).startsWith("\xff\xd8"));
    // An existing file is replaced.
    writer.SaveBMP(*clipFrame, named);
    EXPECT_TRUE(readAll(named).startsWith("BM"));
}

TEST_F(ImageFileTest, BadFramesAndUnwritablePathsThrowReadableErrors) {
    const FrameData truncated = clipFrame->left(clipFrame->size() - 100);
    const QString target = path("never");
    for (Saver save : kAllSavers) {
        for (const FrameData& bad : {FrameData(), truncated, FrameData("not a frame at all")}) {
            try {
                (writer.*save)(bad, target);
                ADD_FAILURE() << "a damaged frame was saved";
            } catch (const MediaError& e) {
                EXPECT_TRUE(e.description().contains("frame")) << e.description().toStdString();
            }
        }
        const QString unwritable = path("missing-folder/picture.out");
        try {
            (writer.*save)(*clipFrame, unwritable);
            ADD_FAILURE() << "saved into a folder that does not exist";
        } catch (const MediaError& e) {
            EXPECT_TRUE(e.description().contains(unwritable)) << e.description().toStdString();
        }
        EXPECT_THROW((writer.*save)(*clipFrame, QString()), MediaError);
    }
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
}

// ---- metafile parsing ----

uint16_t u16At(const QByteArray& b, qsizetype at) { return qFromLittleEndian<uint16_t>(b.constData() + at); }
int16_t i16At(const QByteArray& b, qsizetype at) { return qFromLittleEndian<int16_t>(b.constData() + at); }
uint32_t u32At(const QByteArray& b, qsizetype at) { return qFromLittleEndian<uint32_t>(b.constData() + at); }
int32_t i32At(const QByteArray& b, qsizetype at) { return qFromLittleEndian<int32_t>(b.constData() + at); }

// Checks a BITMAPINFOHEADER + bottom-up 24-bit rows and returns the picture.
QImage readDib(const QByteArray& b, qsizetype at, qsizetype available, QSize expected) {
    EXPECT_EQ(u32At(b, at), 40u);
    EXPECT_EQ(i32At(b, at + 4), expected.width());
    EXPECT_EQ(i32At(b, at + 8), expected.height());
    EXPECT_EQ(u16At(b, at + 12), 1);
    EXPECT_EQ(u16At(b, at + 14), 24);
    EXPECT_EQ(u32At(b, at + 16), 0u);
    const int stride = (expected.width() * 3 + 3) / 4 * 4;
    EXPECT_EQ(u32At(b, at + 20), uint32_t(stride * expected.height()));
    EXPECT_EQ(available, 40 + stride * expected.height());
    if (available != 40 + stride * expected.height()) return {};
    QImage image(expected, QImage::Format_RGB32);
    for (int y = 0; y < expected.height(); ++y) {
        const uchar* row =
            reinterpret_cast<const uchar*>(b.constData()) + at + 40 + qsizetype(expected.height() - 1 - y) * stride;
        for (int x = 0; x < expected.width(); ++x)
            image.setPixel(x, y, qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]));
    }
    return image;
}

QImage checkWmf(const QByteArray& b, QSize size) {
    EXPECT_GE(b.size(), 22 + 18);
    if (b.size() < 22 + 18) return {};
    // Placeable header.
    EXPECT_EQ(u32At(b, 0), 0x9AC6CDD7u);
    EXPECT_EQ(u16At(b, 4), 0);
    EXPECT_EQ((QRect(QPoint(i16At(b, 6), i16At(b, 8)), QPoint(i16At(b, 10), i16At(b, 12)))),
              QRect(QPoint(0, 0), QPoint(size.width(), size.height())));
    EXPECT_EQ(u16At(b, 14), 96);
    uint16_t checksum = 0;
    for (int i = 0; i < 10; ++i) checksum ^= u16At(b, 2 * i);
    EXPECT_EQ(u16At(b, 20), checksum);
    // Standard header.
    const qsizetype h = 22;
    EXPECT_EQ(u16At(b, h), 1);
    EXPECT_EQ(u16At(b, h + 2), 9);
    EXPECT_EQ(u16At(b, h + 4), 0x0300);
    EXPECT_EQ(qsizetype(u32At(b, h + 6)) * 2, b.size() - 22);
    EXPECT_EQ(u16At(b, h + 10), 0);
    const uint32_t maxRecord = u32At(b, h + 12);
    // Records up to META_EOF, which must end the file.
    QList<uint16_t> functions;
    uint32_t largest = 0;
    QImage picture;
    qsizetype at = h + 18;
    while (at + 6 <= b.size()) {
        const qsizetype bytes = qsizetype(u32At(b, at)) * 2;
        const uint16_t function = u16At(b, at + 4);
        functions << function;
        largest = std::max(largest, u32At(b, at));
        EXPECT_GE(bytes, 6);
        if (bytes < 6 || at + bytes > b.size()) break;
        if (function == 0x0F43) {
            EXPECT_EQ(u32At(b, at + 6), 0x00CC0020u);
            EXPECT_EQ(u16At(b, at + 10), 0);
            EXPECT_EQ(i16At(b, at + 12), size.height());  // source h, w, y, x
            EXPECT_EQ(i16At(b, at + 14), size.width());
            EXPECT_EQ(i16At(b, at + 16), 0);
            EXPECT_EQ(i16At(b, at + 18), 0);
            EXPECT_EQ(i16At(b, at + 20), size.height());  // destination h, w, y, x
            EXPECT_EQ(i16At(b, at + 22), size.width());
            EXPECT_EQ(i16At(b, at + 24), 0);
            EXPECT_EQ(i16At(b, at + 26), 0);
            picture = readDib(b, at + 28, bytes - 28, size);
        }
        if (function == 0x020C) {
            EXPECT_EQ(QSize(i16At(b, at + 8), i16At(b, at + 6)), size);
        }
        at += bytes;
        if (function == 0x0000) break;
    }
    EXPECT_EQ(at, b.size());
    EXPECT_EQ(functions, (QList<uint16_t>{0x020B, 0x020C, 0x0F43, 0x0000}));
    EXPECT_EQ(maxRecord, largest);
    return picture;
}

QImage checkEmf(const QByteArray& b, QSize size) {
    EXPECT_GE(b.size(), 88);
    if (b.size() < 88) return {};
    EXPECT_EQ(u32At(b, 0), 1u);
    EXPECT_EQ(u32At(b, 4), 88u);
    EXPECT_EQ((QRect(QPoint(i32At(b, 8), i32At(b, 12)), QPoint(i32At(b, 16), i32At(b, 20)))),
              QRect(QPoint(0, 0), size));
    // Frame in 0.01 mm at the reference device's resolution.
    const double mmPerPixel = double(i32At(b, 80)) / i32At(b, 72);
    EXPECT_NEAR(i32At(b, 32) + 1, size.width() * mmPerPixel * 100, 1.0);
    EXPECT_NEAR(i32At(b, 36) + 1, size.height() * double(i32At(b, 84)) / i32At(b, 76) * 100, 1.0);
    EXPECT_EQ(u32At(b, 40), 0x464D4520u);
    EXPECT_EQ(u32At(b, 44), 0x00010000u);
    EXPECT_EQ(qsizetype(u32At(b, 48)), b.size());
    const uint32_t recordCount = u32At(b, 52);
    EXPECT_GE(u16At(b, 56), 1);

    QList<uint32_t> types;
    QImage picture;
    qsizetype at = 0;
    while (at + 8 <= b.size()) {
        const uint32_t type = u32At(b, at), bytes = u32At(b, at + 4);
        types << type;
        EXPECT_EQ(bytes % 4, 0u);
        if (bytes < 8 || at + bytes > b.size()) break;
        if (type == 0x51) {
            EXPECT_EQ(QRect(QPoint(i32At(b, at + 8), i32At(b, at + 12)), QPoint(i32At(b, at + 16), i32At(b, at + 20))),
                      QRect(QPoint(0, 0), size));
            EXPECT_EQ(QSize(i32At(b, at + 40), i32At(b, at + 44)), size);  // source size
            EXPECT_EQ(u32At(b, at + 48), 80u);                             // offBmiSrc
            EXPECT_EQ(u32At(b, at + 52), 40u);
            EXPECT_EQ(u32At(b, at + 56), 120u);  // offBitsSrc
            EXPECT_EQ(u32At(b, at + 56) + u32At(b, at + 60), bytes);
            EXPECT_EQ(u32At(b, at + 64), 0u);
            EXPECT_EQ(u32At(b, at + 68), 0x00CC0020u);
            EXPECT_EQ(QSize(i32At(b, at + 72), i32At(b, at + 76)), size);  // destination size
            picture = readDib(b, at + 80, bytes - 80, size);
        }
        if (type == 0x0E) {
            EXPECT_EQ(bytes, 20u);
            EXPECT_EQ(u32At(b, at + bytes - 4), bytes);  // SizeLast
        }
        at += bytes;
    }
    EXPECT_EQ(at, b.size());
    EXPECT_EQ(types, (QList<uint32_t>{1, 0x51, 0x0E}));
    EXPECT_EQ(recordCount, uint32_t(types.size()));
    return picture;
}

TEST_F(ImageFileTest, WmfIsAPlaceableMetafileHoldingTheFrameAsABitmap) {
    ASSERT_EQ(writer.SaveWMF(*clipFrame, path("frame.wmf")), 0);
    const QImage picture = checkWmf(readAll(path("frame.wmf")), QSize(320, 240));
    EXPECT_EQ(clips::frameNumberOf(picture), kFrameNumber);  // bottom-up rows in the right order
    writer.SaveWMF(oddFrame(), path("odd.wmf"));
    const QImage odd = checkWmf(readAll(path("odd.wmf")), QSize(33, 17));
    ASSERT_FALSE(odd.isNull());
    EXPECT_LT(qGray(odd.pixel(16, 0)), qGray(odd.pixel(16, 16)));  // the synthetic frame brightens downwards
}

TEST_F(ImageFileTest, EmfHoldsTheFrameInAStretchDiBitsRecord) {
    ASSERT_EQ(writer.SaveEMF(*clipFrame, path("frame.emf")), 0);
    const QImage picture = checkEmf(readAll(path("frame.emf")), QSize(320, 240));
    EXPECT_EQ(clips::frameNumberOf(picture), kFrameNumber);
    writer.SaveEMF(oddFrame(), path("odd.emf"));
    const QImage odd = checkEmf(readAll(path("odd.emf")), QSize(33, 17));
    ASSERT_FALSE(odd.isNull());
    EXPECT_LT(qGray(odd.pixel(16, 0)), qGray(odd.pixel(16, 16)));
}

}  // namespace
