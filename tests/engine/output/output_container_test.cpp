// The output layer's guarantees, which every file the engine writes shares: a file is never
// replaced, a container is checked before any file exists, and a file that ends without
// content does not stay.
#include <gtest/gtest.h>
#include <QFile>
#include <QTemporaryDir>

#include "engine/common/MediaError.h"
#include "engine/common/Wording.h"
#include "engine/output/ContainerRules.h"
#include "engine/output/OutputContainer.h"
#include "engine/output/WriteBehind.h"

namespace {

struct CarryCase {
    const char* muxer;
    AVCodecID codec;
    bool carried;
};

TEST(ContainerRules, KnowsWhatEachContainerCarries) {
    const CarryCase cases[] = {
        {"vob", AV_CODEC_ID_MPEG2VIDEO, true}, {"vob", AV_CODEC_ID_VP9, false},
        {"vob", AV_CODEC_ID_AC3, true},        {"vob", AV_CODEC_ID_AAC, false},
        {"mpeg", AV_CODEC_ID_H264, false},     {"mpegts", AV_CODEC_ID_H264, true},
        {"mpegts", AV_CODEC_ID_VP9, false},    {"mpegts", AV_CODEC_ID_AAC, true},
        {"mp4", AV_CODEC_ID_PCM_S16LE, false}, {"matroska", AV_CODEC_ID_PRORES, true},
        {"avi", AV_CODEC_ID_MJPEG, true},      {"webm", AV_CODEC_ID_H264, false},
    };
    for (const CarryCase& c : cases)
        EXPECT_EQ(containerCarries(av_guess_format(c.muxer, nullptr, nullptr), c.codec), c.carried)
            << c.muxer << " " << avcodec_get_name(c.codec);
}

TEST(ContainerRules, OffersTheContainersThatCarryEveryStreamAsItIs) {
    const struct {
        std::vector<AVCodecID> codecs;
        const char* carriers;
    } cases[] = {
        {{AV_CODEC_ID_H264, AV_CODEC_ID_AAC}, "mkv mp4 mov ts avi flv"},
        {{AV_CODEC_ID_H264, AV_CODEC_ID_AC3}, "mkv mp4 mov ts m2ts avi"},
        {{AV_CODEC_ID_MPEG2VIDEO, AV_CODEC_ID_MP2}, "mkv mp4 mov ts avi mpg"},
        {{AV_CODEC_ID_VP9, AV_CODEC_ID_OPUS}, "mkv mp4 mov webm"},
        {{AV_CODEC_ID_PRORES, AV_CODEC_ID_PCM_S16LE}, "mkv mov"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(containersCarrying(c.codecs).join(' ').toStdString(), c.carriers) << avcodec_get_name(c.codecs[0]);
}

// The refusals name a container with the article its name is spoken with.
TEST(ContainerRules, NamesAContainerWithItsArticle) {
    const QStringList named{
        "An MP4 (MPEG-4 Part 14)", "An avi", "An mpegts", "An FLV (Flash Video)", "An Ogg", "A Matroska", "A WebM",
        "A QuickTime / MOV",       "A DVD",  "A vob"};
    for (const QString& n : named) EXPECT_EQ(withArticle(n.section(' ', 1), true).toStdString(), n.toStdString());
    EXPECT_EQ(withArticle("mkv").toStdString(), "an mkv");
}

// A container of `muxer` with one stream of `codec`.
std::unique_ptr<OutputContainer> containerWith(const QString& path, const char* muxer, AVCodecID codec) {
    auto container = std::make_unique<OutputContainer>(path, av_guess_format(muxer, nullptr, nullptr));
    AVStream* st = avformat_new_stream(container->format(), nullptr);
    st->codecpar->codec_type = avcodec_get_type(codec);
    st->codecpar->codec_id = codec;
    st->codecpar->width = 320;
    st->codecpar->height = 240;
    st->time_base = {1, 25};
    return container;
}

QString failureOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const MediaError& e) {
        return e.description();
    }
    return {};
}

TEST(OutputContainer, NeverReplacesAFileAndLeavesNoneWhenRefused) {
    QTemporaryDir dir;
    const QString existing = dir.filePath("existing.mkv");
    QFile file(existing);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("the user's work");
    file.close();
    auto onExisting = containerWith(existing, "matroska", AV_CODEC_ID_MPEG4);
    EXPECT_TRUE(failureOf([&] { onExisting->create(); }).contains("already exists"));
    onExisting.reset();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "the user's work");

    const QString refused = dir.filePath("vp9.mpg");
    auto vp9 = containerWith(refused, "vob", AV_CODEC_ID_VP9);
    const QString why = failureOf([&] { vp9->create(); });
    EXPECT_TRUE(why.contains("VP9") && why.contains("MPEG") && why.contains("mkv, mp4")) << why.toStdString();
    EXPECT_FALSE(QFile::exists(refused));
}

TEST(OutputContainer, AFileWithoutContentIsRemovedWhenAbandoned) {
    QTemporaryDir dir;
    const QString path = dir.filePath("empty.mkv");
    auto container = containerWith(path, "matroska", AV_CODEC_ID_MPEG4);
    container->format()->streams[0]->codecpar->codec_tag = 0;
    container->create();
    container->start();
    EXPECT_TRUE(QFile::exists(path));
    container->abandon();
    EXPECT_FALSE(QFile::exists(path)) << "a header alone is no content";
}

// The writer's thread writes the bytes in order while the maker goes on; after the first
// failure nothing more is written, and every later write and the drain report that failure.
TEST(WriteBehind, WritesInOrderAndReportsTheFirstFailureFromThenOn) {
    std::vector<uint8_t> file;
    const size_t room = 500;
    int calls = 0;
    WriteBehind behind(
        [&](const uint8_t* data, int size) {
            ++calls;
            if (file.size() + size_t(size) > room) return AVERROR(ENOSPC);
            file.insert(file.end(), data, data + size);
            return size;
        },
        64);
    std::vector<uint8_t> made;
    for (int i = 0; i < 30; ++i) {
        const std::vector<uint8_t> chunk(size_t(10 + i), uint8_t(i));
        made.insert(made.end(), chunk.begin(), chunk.end());
        const int result = behind.write(chunk.data(), int(chunk.size()));
        if (made.size() <= room) {
            EXPECT_EQ(result, int(chunk.size()));
        }
    }
    EXPECT_EQ(behind.drain(), AVERROR(ENOSPC));
    EXPECT_EQ(behind.write(made.data(), 1), AVERROR(ENOSPC));
    EXPECT_EQ(std::vector<uint8_t>(made.begin(), made.begin() + std::ptrdiff_t(file.size())), file);
    EXPECT_LT(calls, 30) << "nothing is written after the failure";
}

}  // namespace
