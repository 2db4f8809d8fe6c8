// Round trips: generated clips decoded as the reader delivers them, written through the writer,
// and checked with ffprobe and by reading each output frame's number pattern.
#include <gtest/gtest.h>

#include "WriterTestSupport.h"
#include "engine/writer/FfmpegWriter.h"
#include "engine/writer/WriterCatalog.h"

using namespace writertest;

namespace {

// The output's video lasts as long as the frames fed (within one output frame), and its audio
// ends where it should relative to the video: within one output frame of the offset fed. (The
// generated clips' sound tracks end a little before their pictures.)
// codecDelay: what an audio codec adds by itself (MP3 has up to one frame of encoder delay and one
// of padding, which AVI cannot mark as such).
void expectInSync(const FileFacts& facts, const Fed& fed, double fps, double codecDelay = 0) {
    ASSERT_TRUE(facts.video && facts.audio);
    const double frame = 1.0 / fps + 1e-3;
    EXPECT_NEAR(facts.video->duration(), fed.videoSeconds, frame);
    EXPECT_NEAR(facts.audio->duration() - facts.video->duration(), fed.audioSeconds - fed.videoSeconds,
                frame + codecDelay)
        << "video " << facts.video->duration() << " s, audio " << facts.audio->duration() << " s; fed video "
        << fed.videoSeconds << " s, audio " << fed.audioSeconds << " s";
}

QString probeName(const char* encoder) {
    const std::map<std::string, QString> names{{"libx264", "h264"}};
    const auto it = names.find(encoder);
    return it == names.end() ? QString(encoder) : it->second;
}

}  // namespace

// ---- every AVI video codec, from a Motion JPEG source (full-range YUV frames) ----

class WriterAviCodec : public ::testing::TestWithParam<int> {};

TEST_P(WriterAviCodec, WritesEveryFrameInOrderWithPcmAudio) {
    const int index = GetParam();
    const AviCodec& codec = aviCodecs()[size_t(index - 1)];
    const DecodedClip& source = decoded("avi_mjpeg_pcm");
    FfmpegWriter writer;
    describeSource(writer, source);
    writer.SetAudioPCM(source.sampleRate, 2, 16);
    writer.SetAviVideo(source.width, source.height, source.fps);
    writer.SetVideoCodec(index);
    ASSERT_EQ(writer.VideoCodecName(), codec.name);
    const QString path = outputPath(QStringLiteral("codec-%1.avi").arg(codec.encoder));
    writer.CreateFile(path, kContainerAvi);
    const Fed fed = copyInterleaved(writer, source);
    writer.CloseFile();
    EXPECT_FALSE(writer.isOpen());

    const FileFacts facts = probeFile(path);
    EXPECT_EQ(facts.format, "avi");
    ASSERT_TRUE(facts.video);
    EXPECT_EQ(facts.video->codec, probeName(codec.encoder));
    EXPECT_EQ(facts.video->width, 320);
    EXPECT_EQ(facts.video->height, 240);
    EXPECT_EQ(facts.video->frames, 100);
    EXPECT_EQ(facts.video->headerFrames, 100);
    ASSERT_TRUE(facts.audio);
    EXPECT_EQ(facts.audio->codec, "pcm_s16le");
    EXPECT_EQ(facts.audio->sampleRate, 44100);
    EXPECT_EQ(facts.audio->channels, 2);
    expectInSync(facts, fed, 25);
    EXPECT_EQ(clips::decodeFrameNumbers(path), countUp(100));
}

INSTANTIATE_TEST_SUITE_P(AllCodecs, WriterAviCodec, ::testing::Range(1, int(aviCodecs().size()) + 1));

// ---- every AVI audio option, from an H.264 + AAC source at 30 fps ----

struct AudioCase {
    const char* name;
    std::function<void(VideoSink&, int rate)> set;
    const char* codec;
    int rate;  // 0: the source's
    int channels;
    double codecDelay = 0;  // seconds the codec itself adds
};

void PrintTo(const AudioCase& c, std::ostream* os) { *os << c.name; }

class WriterAviAudio : public ::testing::TestWithParam<AudioCase> {};

TEST_P(WriterAviAudio, EncodesAtTheAskedRateAndChannels) {
    const AudioCase& c = GetParam();
    const DecodedClip& source = decoded("mp4_h264_aac");
    FfmpegWriter writer;
    describeSource(writer, source);
    c.set(writer, source.sampleRate);
    writer.SetAviVideo(source.width, source.height, source.fps);
    const QString path = outputPath(QStringLiteral("audio-%1.avi").arg(c.name));
    writer.CreateFile(path, kContainerAvi);
    const Fed fed = copyInterleaved(writer, source);
    writer.CloseFile();

    const FileFacts facts = probeFile(path);
    ASSERT_TRUE(facts.audio);
    EXPECT_EQ(facts.audio->codec, c.codec);
    EXPECT_EQ(facts.audio->sampleRate, c.rate ? c.rate : source.sampleRate);
    EXPECT_EQ(facts.audio->channels, c.channels);
    ASSERT_TRUE(facts.video);
    EXPECT_EQ(facts.video->frames, 90);
    EXPECT_EQ(facts.video->headerFrames, 90) << "no gap in the video (an audio start-up delay can cause one)";
    expectInSync(facts, fed, 30, c.codecDelay);
    EXPECT_EQ(clips::decodeFrameNumbers(path), countUp(90));
}

INSTANTIATE_TEST_SUITE_P(
    AllOptions, WriterAviAudio,
    ::testing::Values(AudioCase{"pcm", [](VideoSink& w, int r) { w.SetAudioPCM(r, 2, 16); }, "pcm_s16le", 0, 2},
                      AudioCase{"adpcm", [](VideoSink& w, int r) { w.SetAudioADPCM(r, 1); }, "adpcm_ima_wav", 0, 1},
                      AudioCase{"alaw", [](VideoSink& w, int r) { w.SetAudioALaw(r, 2); }, "pcm_alaw", 0, 2},
                      AudioCase{"mulaw", [](VideoSink& w, int r) { w.SetAudioMuLaw(r, 1); }, "pcm_mulaw", 0, 1},
                      AudioCase{"mp3", [](VideoSink& w, int r) { w.SetAudioMP3(128, r, 2); }, "mp3", 0, 2,
                                2 * 1152 / 44100.0},
                      AudioCase{"gsm", [](VideoSink& w, int r) { w.SetAudioGSM(r); }, "gsm_ms", 8000, 1}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- MPEG program streams ----

TEST(WriterMpeg, Mpeg1WithMp2AtTheVideoCdRate) {
    const DecodedClip& source = decoded("mp4_h264_aac");  // 30 fps, 44.1 kHz
    FfmpegWriter writer;
    describeSource(writer, source);
    writer.SetMpegVideo(1, 1150, source.width, source.height, 30);
    writer.SetMpegAudio(224, source.sampleRate, 1);
    const QString path = outputPath("mpeg1.mpg");
    writer.CreateFile(path, kContainerMpeg);
    const Fed fed = copyInterleaved(writer, source);
    writer.CloseFile();

    const FileFacts facts = probeFile(path);
    EXPECT_EQ(facts.format, "mpeg");
    ASSERT_TRUE(facts.video && facts.audio);
    EXPECT_EQ(facts.video->codec, "mpeg1video");
    EXPECT_EQ(facts.video->frameRate, "30/1");
    EXPECT_EQ(facts.video->frames, 90);
    EXPECT_EQ(facts.audio->codec, "mp2");
    EXPECT_EQ(facts.audio->sampleRate, 44100);
    EXPECT_EQ(facts.audio->channels, 1);
    expectInSync(facts, fed, 30);
    EXPECT_EQ(clips::decodeFrameNumbers(path), countUp(90));
}

TEST(WriterMpeg, Mpeg2WithMp2AtTheDvdRate) {
    const DecodedClip& source = decoded("avi_mjpeg_pcm");  // 25 fps, 44.1 kHz
    FfmpegWriter writer;
    describeSource(writer, source);
    writer.SetMpegVideo(2, 4000, source.width, source.height, 25);
    writer.SetMpegAudio(128, source.sampleRate, 2);
    const QString path = outputPath("mpeg2.mpg");
    writer.CreateFile(path, kContainerMpeg);
    const Fed fed = copyInterleaved(writer, source);
    writer.CloseFile();

    const FileFacts facts = probeFile(path);
    EXPECT_EQ(facts.format, "mpeg");
    ASSERT_TRUE(facts.video && facts.audio);
    EXPECT_EQ(facts.video->codec, "mpeg2video");
    EXPECT_EQ(facts.video->frames, 100);
    EXPECT_EQ(facts.audio->codec, "mp2");
    EXPECT_EQ(facts.audio->sampleRate, 48000);
    EXPECT_EQ(facts.audio->channels, 2);
    expectInSync(facts, fed, 25);
    EXPECT_EQ(clips::decodeFrameNumbers(path), countUp(100));
}

// ---- every WMV profile ----

class WriterWmvProfile : public ::testing::TestWithParam<int> {};

TEST_P(WriterWmvProfile, WritesAsfWithTheProfilesStreams) {
    const int index = GetParam();
    const WmvProfile& profile = wmvProfiles()[size_t(index - 1)];
    const DecodedClip& source = decoded("avi_mjpeg_pcm");
    FfmpegWriter writer;
    describeSource(writer, source);
    writer.SetWmvProfile(index);
    EXPECT_EQ(writer.WmvProfileName(), profile.name);
    const QString path = outputPath(QStringLiteral("profile-%1.wmv").arg(index));
    writer.CreateFile(path, kContainerWmv);
    const Fed fed = copyInterleaved(writer, source);
    writer.CloseFile();

    const FileFacts facts = probeFile(path);
    EXPECT_EQ(facts.format, "asf");
    ASSERT_TRUE(facts.video && facts.audio);
    EXPECT_EQ(facts.video->codec, "wmv2");
    EXPECT_LE(facts.video->width, profile.maxWidth ? profile.maxWidth : 320);
    EXPECT_LE(facts.video->height, profile.maxHeight ? profile.maxHeight : 240);
    EXPECT_NEAR(double(facts.video->width) / facts.video->height, 4.0 / 3, 0.03) << "shape kept";
    EXPECT_EQ(facts.video->frames, 100);
    EXPECT_EQ(facts.audio->codec, "wmav2");
    EXPECT_EQ(facts.audio->sampleRate, profile.audioRate);
    EXPECT_EQ(facts.audio->channels, profile.audioChannels);
    expectInSync(facts, fed, 25);
    EXPECT_EQ(clips::decodeFrameNumbers(path), countUp(100));
}

INSTANTIATE_TEST_SUITE_P(AllProfiles, WriterWmvProfile, ::testing::Range(1, int(wmvProfiles().size()) + 1));

// ---- output frame rate different from the source's ----

TEST(WriterFrameRate, HigherRateRepeatsFramesAndKeepsTheDuration) {
    const DecodedClip& source = decoded("avi_mjpeg_pcm");  // 100 frames at 25 fps: 4 s
    FfmpegWriter writer;
    describeSource(writer, source);
    writer.SetAudioPCM(source.sampleRate, 2, 16);
    writer.SetAviVideo(source.width, source.height, 29.97);
    const QString path = outputPath("rate-up.avi");
    writer.CreateFile(path, kContainerAvi);
    const Fed fed = copyInterleaved(writer, source);
    writer.CloseFile();

    const FileFacts facts = probeFile(path);
    ASSERT_TRUE(facts.video);
    EXPECT_EQ(facts.video->frameRate, "30000/1001");
    EXPECT_NEAR(facts.video->duration(), 4.0, 1 / 29.97);
    expectInSync(facts, fed, 29.97);
    // Output frame j shows the source frame on screen at j / 29.97 s.
    const QList<int> numbers = clips::decodeFrameNumbers(path);
    ASSERT_EQ(numbers.size(), facts.video->frames);
    for (int j = 0; j < numbers.size(); ++j) EXPECT_EQ(numbers[j], int(j * 1001 * 25 / 30000) + 1) << "frame " << j;
}

TEST(WriterFrameRate, LowerRateDropsFramesAndKeepsTheDurationOfACutRange) {
    const DecodedClip& source = decoded("avi_mjpeg_pcm");
    FfmpegWriter writer;
    describeSource(writer, source);
    writer.SetAudioPCM(source.sampleRate, 2, 16);
    writer.SetAviVideo(source.width, source.height, 15);
    const QString path = outputPath("rate-down.avi");
    writer.CreateFile(path, kContainerAvi);
    const Fed fed = copyInterleaved(writer, source, 20, 50);  // source frames 21..70: 2 s
    writer.CloseFile();

    const FileFacts facts = probeFile(path);
    ASSERT_TRUE(facts.video);
    EXPECT_EQ(facts.video->frames, 30);
    EXPECT_NEAR(facts.video->duration(), 2.0, 1 / 15.0);
    expectInSync(facts, fed, 15);
    const QList<int> numbers = clips::decodeFrameNumbers(path);
    ASSERT_EQ(numbers.size(), 30);
    for (int j = 0; j < 30; ++j) EXPECT_EQ(numbers[j], 21 + j * 25 / 15) << "frame " << j;
}

TEST(WriterFrameRate, MpegUsesTheExactNtscRate) {
    const DecodedClip& source = decoded("mp4_h264_aac");  // 90 frames at 30 fps: 3 s
    FfmpegWriter writer;
    describeSource(writer, source);
    writer.SetMpegVideo(2, 3000, source.width, source.height, 23.97);
    writer.SetMpegAudio(192, source.sampleRate, 2);
    const QString path = outputPath("rate-ntsc.mpg");
    writer.CreateFile(path, kContainerMpeg);
    const Fed fed = copyInterleaved(writer, source);
    writer.CloseFile();

    const FileFacts facts = probeFile(path);
    ASSERT_TRUE(facts.video);
    EXPECT_EQ(facts.video->frameRate, "24000/1001");
    EXPECT_EQ(facts.video->frames, 72);  // ceil(90 * 23.976 / 30)
    EXPECT_NEAR(facts.video->duration(), 3.0, 1 / 23.976);
    expectInSync(facts, fed, 23.976);
}

// ---- stream layouts, odd sizes, and one object writing several files ----

TEST(WriterLayout, VideoOnlySourceGivesAFileWithoutAudio) {
    const DecodedClip& source = decoded("avi_noaudio");
    for (int container : {kContainerAvi, kContainerMpeg, kContainerWmv}) {
        FfmpegWriter writer;
        describeSource(writer, source);
        writer.SetAudioPCM(0, 1, 16);  // what the window passes for a source without audio
        writer.SetAviVideo(source.width, source.height, source.fps);
        writer.SetMpegVideo(1, 1150, source.width, source.height, source.fps);
        writer.SetMpegAudio(128, 0, 2);
        const QString path = outputPath(QStringLiteral("video-only-%1.out").arg(container));
        writer.CreateFile(path, container);
        copyInterleaved(writer, source);
        writer.CloseFile();
        const FileFacts facts = probeFile(path);
        EXPECT_FALSE(facts.audio) << container;
        ASSERT_TRUE(facts.video) << container;
        EXPECT_EQ(facts.video->frames, 50) << container;
        EXPECT_EQ(clips::decodeFrameNumbers(path), countUp(50)) << container;
    }
}

TEST(WriterLayout, AudioOnlySourceGivesAFileWithoutVideo) {
    const DecodedClip& source = decoded("audio_only");  // 2 s at 44.1 kHz stereo
    FfmpegWriter writer;
    describeSource(writer, source);
    writer.SetAudioMP3(128, source.sampleRate, 2);
    const QString path = outputPath("audio-only.avi");
    writer.CreateFile(path, kContainerAvi);
    writer.WriteAudio(source.audio);
    writer.CloseFile();
    const FileFacts facts = probeFile(path);
    EXPECT_FALSE(facts.video);
    ASSERT_TRUE(facts.audio);
    EXPECT_EQ(facts.audio->codec, "mp3");
    EXPECT_NEAR(facts.audio->duration(), 2.0, 0.05);
}

TEST(WriterLayout, OddSourceSizeIsMadeEvenForEveryContainer) {
    const clips::Clip clip =
        clips::make("odd_size_444", "mkv", 321, 241, 25, 20, true,
                    {"-vf", "scale=321:241", "-pix_fmt", "yuv444p", "-c:v", "ffv1", "-c:a", "pcm_s16le"});
    const DecodedClip source = decodeClip(clip.path);
    ASSERT_EQ(source.width, 321);
    for (int container : {kContainerAvi, kContainerMpeg, kContainerWmv}) {
        FfmpegWriter writer;
        describeSource(writer, source);
        writer.SetVideoCodec(codecIndex("libx264"));  // refuses odd sizes
        writer.SetAudioPCM(source.sampleRate, 2, 16);
        writer.SetAviVideo(source.width, source.height, source.fps);
        writer.SetMpegVideo(2, 2000, source.width, source.height, source.fps);
        writer.SetMpegAudio(128, source.sampleRate, 2);
        const QString path = outputPath(QStringLiteral("odd-%1.out").arg(container));
        writer.CreateFile(path, container);
        copyInterleaved(writer, source);
        writer.CloseFile();
        const FileFacts facts = probeFile(path);
        ASSERT_TRUE(facts.video) << container;
        EXPECT_EQ(facts.video->width, 320) << container;
        EXPECT_EQ(facts.video->height, 240) << container;
        EXPECT_EQ(clips::decodeFrameNumbers(path), countUp(20)) << container;
    }
}

TEST(WriterLayout, OneObjectWritesTwoFilesInARowAsASplitDoes) {
    const DecodedClip& source = decoded("mkv_mpeg4_vorbis");  // 100 frames at 25 fps
    FfmpegWriter writer;
    const QString first = outputPath("split_1.avi"), second = outputPath("split_2.wmv");
    describeSource(writer, source);
    writer.SetAudioADPCM(source.sampleRate, 2);
    writer.SetAviVideo(source.width, source.height, source.fps);
    writer.CreateFile(first, kContainerAvi);
    const Fed fedA = copyInterleaved(writer, source, 0, 40);
    writer.CloseFile();
    describeSource(writer, source);
    writer.SetWmvProfile(writer.WmvProfileCount());
    writer.CreateFile(second, kContainerWmv);
    const Fed fedB = copyInterleaved(writer, source, 40, 60);
    writer.CloseFile();

    const FileFacts a = probeFile(first), b = probeFile(second);
    ASSERT_TRUE(a.video && b.video);
    EXPECT_EQ(a.video->frames, 40);
    EXPECT_EQ(b.video->frames, 60);
    expectInSync(a, fedA, 25);
    expectInSync(b, fedB, 25);
    EXPECT_EQ(clips::decodeFrameNumbers(first), countUp(40));
    EXPECT_EQ(clips::decodeFrameNumbers(second), countUp(60, 41));
}
