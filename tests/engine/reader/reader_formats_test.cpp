#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include "engine/reader/FfmpegReader.h"
#include "support/Clips.h"

// The reader on containers and streams beyond the standard clips, and on damaged data.
namespace {

int readNumber(VideoSource& reader) { return clips::frameNumberOf(reader.ReadVideoFrame()); }

QString writeFile(const QString& name, const QByteArray& content) {
    const QString path = clips::clipsFolder() + "/" + name;
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(content);
    return path;
}

TEST(FfmpegReaderFormats, MoreContainersAndStreamsWithoutPresentationTimes) {
    // H.264 in AVI and a raw H.264 stream carry no presentation times (their display order
    // comes from the bitstream); HEVC with B-frames; an MPEG-2 transport stream with open
    // GOPs; QuickTime. A small cache makes every seek decode again.
    const QList<std::pair<QString, clips::Clip>> extra{
        {"h264 in avi",
         clips::make("avi_h264_mp3", "avi", 320, 240, 25, 60, true,
                     {"-c:v", "libx264", "-preset", "veryfast", "-bf", "2", "-g", "12", "-c:a", "libmp3lame"})},
        {"raw h264", clips::make("raw_h264", "h264", 320, 240, 25, 60, false,
                                 {"-c:v", "libx264", "-preset", "veryfast", "-bf", "3", "-g", "20"})},
        {"hevc", clips::make("mp4_hevc", "mp4", 320, 240, 25, 60, true,
                             {"-c:v", "libx265", "-preset", "fast", "-x265-params",
                              "bframes=4:keyint=25:log-level=error", "-c:a", "aac"})},
        {"mpeg-2 ts", clips::make("ts_mpeg2_opengop", "ts", 320, 240, 25, 60, true,
                                  {"-c:v", "mpeg2video", "-bf", "2", "-g", "12", "-c:a", "mp2"}, 48000)},
        {"mov", clips::make("mov_mjpeg", "mov", 320, 240, 25, 60, true, {"-c:v", "mjpeg", "-c:a", "pcm_s16le"})},
        // The AVI muxer counts an empty "dropped frame" entry ahead of MP3 audio in its header.
        {"mpeg-4 with mp3 in avi", clips::make("avi_mpeg4_mp3", "avi", 320, 240, 25, 60, true,
                                               {"-c:v", "mpeg4", "-q:v", "3", "-c:a", "libmp3lame"})},
    };
    QRandomGenerator random(77);
    for (const auto& [label, clip] : extra) {
        SCOPED_TRACE(label.toStdString());
        FfmpegReader reader(4 * 150000);
        reader.OpenFile(clip.path);
        const int count = reader.FrameCount();
        ASSERT_EQ(count, clips::probeFrameCount(clip.path));
        for (int n = 1; n <= 15; ++n) ASSERT_EQ(readNumber(reader), n);
        for (int i = 0; i < 12; ++i) {
            const int n = 1 + random.bounded(count);
            reader.SeekFrame(n);
            ASSERT_EQ(readNumber(reader), n);
        }
        for (int n = 40; n >= 25; --n) {
            reader.SeekFrame(n);
            ASSERT_EQ(readNumber(reader), n);
        }
    }
}

TEST(FfmpegReaderFormats, DamagedDataNeverCrashes) {
    // Overwrite stretches inside each clip with noise and read everything: frames may be
    // replaced or a read may fail with a MediaError, but nothing may crash or hang.
    QRandomGenerator random(99);
    for (const QString& name : clips::videoClipNames()) {
        SCOPED_TRACE(name.toStdString());
        QFile in(clips::get(name).path);
        ASSERT_TRUE(in.open(QIODevice::ReadOnly));
        QByteArray data = in.readAll();
        for (int hole = 0; hole < 4; ++hole) {
            const qsizetype at = data.size() / 5 + random.bounded(int(data.size() * 3 / 5));
            for (qsizetype i = at; i < std::min(data.size(), at + 700); ++i) data[i] = char(random.bounded(256));
        }
        const QString path = writeFile("damaged-" + QFileInfo(in.fileName()).fileName(), data);
        FfmpegReader reader;
        try {
            reader.OpenFile(path);
        } catch (const MediaError& e) {
            EXPECT_FALSE(e.description().isEmpty());
            continue;
        }
        try {
            for (int n = 0; n < reader.FrameCount() + 2; ++n) reader.ReadVideoFrame();
            reader.SeekFrame(reader.FrameCount() / 2);
            reader.ReadVideoFrame();
            while (!reader.ReadAudio(2304).empty()) {
            }
        } catch (const MediaError& e) {
            EXPECT_FALSE(e.description().isEmpty());
        }
    }
}

TEST(FfmpegReaderFormats, VariableFrameRateSeekTimeFindsTheFrameShowing) {
    // Frames 1-25 every 40 ms, then a one-second pause: frame 25 shows from 960 to 2000 ms.
    const clips::Clip clip = clips::make("mkv_vfr_gap", "mkv", 320, 240, 25, 50, false,
                                         {"-vf", "setpts=PTS+gte(N\\,25)*1/TB", "-c:v", "mpeg4", "-q:v", "3"});
    FfmpegReader reader;
    reader.OpenFile(clip.path);
    ASSERT_EQ(reader.FrameCount(), 50);
    reader.SeekFrame(26);
    EXPECT_EQ(reader.VideoTime(), 2000);
    reader.SeekTime(1500);
    EXPECT_EQ(reader.CurrentFrame(), 24);
    EXPECT_EQ(reader.VideoTime(), 960);
    EXPECT_EQ(readNumber(reader), 25);
    EXPECT_EQ(reader.VideoTime(), 2000);
    EXPECT_EQ(readNumber(reader), 26);
    EXPECT_EQ(reader.VideoDuration(), 3000);
}

TEST(FfmpegReaderFormats, SurroundAudioIsMixedDownToStereo) {
    const clips::Clip clip =
        clips::make("mkv_ac3_51", "mkv", 320, 240, 25, 25, true, {"-c:v", "mpeg4", "-c:a", "ac3"}, 48000, 6);
    FfmpegReader reader;
    reader.OpenFile(clip.path);
    EXPECT_EQ(reader.AudioChannels(), 2);
    EXPECT_EQ(reader.AudioSampleRate(), 48000);
    const AudioChunk chunk = reader.ReadAudio(48000);
    EXPECT_EQ(chunk.size(), 24000u);  // 12000 stereo sample frames
    EXPECT_TRUE(std::any_of(chunk.begin(), chunk.end(), [](int16_t s) { return std::abs(s) > 1000; }));
}

}  // namespace

TEST(FfmpegReaderFormats, PlaylistsThatReferToOtherFilesAreNotOpened) {
    // A playlist naming another clip would make the reader open that file instead.
    const QString playlist = clips::clipsFolder() + "/refers-to-other-files.m3u8";
    QFile f(playlist);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(("#EXTM3U\n#EXT-X-TARGETDURATION:4\n#EXTINF:4,\n" + clips::get("ts_h264_mp2").path + "\n#EXT-X-ENDLIST\n")
                .toUtf8());
    f.close();
    FfmpegReader reader;
    try {
        reader.OpenFile(playlist);
        FAIL() << "the playlist was opened";
    } catch (const MediaError& e) {
        EXPECT_TRUE(e.description().contains("refers to other files")) << e.description().toStdString();
    }
    reader.OpenFile(clips::get("avi_noaudio").path);  // still usable
    EXPECT_EQ(reader.FrameCount(), 50);
}
