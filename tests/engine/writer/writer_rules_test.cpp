// The writer's rules and the output each setting leads to, checked without writing files.
#include <gtest/gtest.h>
#include <QSet>

#include "WriterTestSupport.h"
#include "engine/common/MediaError.h"
#include "engine/writer/FfmpegWriter.h"
#include "engine/writer/WriterCatalog.h"
#include "engine/writer/WriterRules.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace {

bool same(AVRational a, AVRational b) { return av_cmp_q(a, b) == 0; }

// A writer told about a 720x576, 25 fps source with 44.1 kHz stereo sound.
FfmpegWriter& sourceWriter(FfmpegWriter& w, double fps = 25) {
    w.SetVideoFormat(720, 576, fps);
    w.SetAudioFormat(44100, 2);
    w.SetHasVideo(true);
    w.SetHasAudio(true);
    return w;
}

}  // namespace

TEST(WriterRules, FrameRatesBecomeExactFractions) {
    EXPECT_TRUE(same(exactFrameRate(23.97), {24000, 1001}));
    EXPECT_TRUE(same(exactFrameRate(23.976), {24000, 1001}));
    EXPECT_TRUE(same(exactFrameRate(29.97), {30000, 1001}));
    EXPECT_TRUE(same(exactFrameRate(59.94), {60000, 1001}));
    EXPECT_TRUE(same(exactFrameRate(25), {25, 1}));
    EXPECT_TRUE(same(exactFrameRate(30), {30, 1}));
    EXPECT_TRUE(same(exactFrameRate(12.5), {25, 2}));
    EXPECT_TRUE(same(exactFrameRate(0), {0, 1}));
    EXPECT_TRUE(same(exactFrameRate(-5), {0, 1}));
    EXPECT_TRUE(same(exactFrameRate(std::nan("")), {0, 1}));
}

TEST(WriterRules, MpegRatesSnapToTheStandardOnes) {
    EXPECT_TRUE(same(nearestMpegFrameRate({30000, 1001}), {30000, 1001}));
    EXPECT_TRUE(same(nearestMpegFrameRate({25, 1}), {25, 1}));
    EXPECT_TRUE(same(nearestMpegFrameRate({15, 1}), {24000, 1001}));
    EXPECT_TRUE(same(nearestMpegFrameRate({120, 1}), {60, 1}));
    EXPECT_TRUE(same(nearestMpegFrameRate({27, 1}), {25, 1}));
}

TEST(WriterRules, OutputFramesFollowTheSourceClock) {
    const AVRational pal{25, 1}, ntsc{30000, 1001}, low{15, 1};
    for (int n : {0, 1, 7, 100}) EXPECT_EQ(outputFramesAfter(n, pal, pal), n);
    // 25 -> 15 fps: three output frames for every five source frames, the first one at once.
    EXPECT_EQ(outputFramesAfter(1, pal, low), 1);
    EXPECT_EQ(outputFramesAfter(2, pal, low), 2);
    EXPECT_EQ(outputFramesAfter(3, pal, low), 2);
    EXPECT_EQ(outputFramesAfter(5, pal, low), 3);
    EXPECT_EQ(outputFramesAfter(100, pal, low), 60);
    // 25 -> 29.97 fps: 100 source frames (4 s) need 120 output frames (4.004 s).
    EXPECT_EQ(outputFramesAfter(100, pal, ntsc), 120);
    EXPECT_EQ(outputFramesAfter(1, pal, ntsc), 2);
    // Long runs do not drift: an hour of 25 fps at 29.97 fps.
    EXPECT_EQ(outputFramesAfter(90000, pal, ntsc), 107893);  // ceil(3600 * 30000 / 1001)
}

TEST(WriterRules, SizesAreEvenAndFitTheirLimits) {
    EXPECT_EQ(evenSize({321, 241}), QSize(320, 240));
    EXPECT_EQ(evenSize({1, 1}), QSize(2, 2));
    EXPECT_EQ(fitWithin({320, 240}, 0, 0), QSize(320, 240));
    EXPECT_EQ(fitWithin({320, 240}, 176, 144), QSize(176, 132));
    EXPECT_EQ(fitWithin({1920, 1080}, 640, 480), QSize(640, 360));
    EXPECT_EQ(fitWithin({480, 640}, 640, 480), QSize(360, 480));
    EXPECT_EQ(fitWithin({100, 50}, 640, 480), QSize(100, 50));
}

TEST(WriterRules, AudioBitratesAndRatesAreOnesTheCodecsAllow) {
    EXPECT_EQ(mp2Bitrate(224, 2), 224);
    EXPECT_EQ(mp2Bitrate(224, 1), 192);  // mono Layer II stops at 192 kbit/s
    EXPECT_EQ(mp2Bitrate(32, 2), 64);    // stereo starts at 64 kbit/s
    EXPECT_EQ(mp2Bitrate(150, 2), 160);
    EXPECT_EQ(mp2Bitrate(0, 2), 64);
    EXPECT_EQ(nearestRate(mp3SampleRates(), 44100), 44100);
    EXPECT_EQ(nearestRate(mp3SampleRates(), 96000), 48000);
    EXPECT_EQ(nearestRate(mp3SampleRates(), 22000), 22050);
    EXPECT_EQ(mp3Bitrate(128, 44100), 128);
    EXPECT_EQ(mp3Bitrate(320, 22050), 160);
}

TEST(WriterCatalogTest, CodecsAndProfilesAreNamedAndAvailable) {
    ASSERT_GE(aviCodecs().size(), 6u);
    QSet<QString> names;
    for (const AviCodec& c : aviCodecs()) {
        names << c.name;
        EXPECT_NE(avcodec_find_encoder_by_name(c.encoder), nullptr) << c.encoder;
        const CodecSettings d = c.defaults;
        EXPECT_EQ(clampedSettings(d, c.caps), d) << "defaults in range for " << c.encoder;
    }
    EXPECT_EQ(names.size(), int(aviCodecs().size()));
    EXPECT_EQ(aviCodecs().back().name, "MPEG-4 Part 2 (Xvid compatible)");  // first in the window's list

    ASSERT_GE(wmvProfiles().size(), 5u);
    int previous = 0;
    for (const WmvProfile& p : wmvProfiles()) {
        EXPECT_GT(p.videoKbps, previous) << "profiles go from low bandwidth to high quality";
        previous = p.videoKbps;
        EXPECT_TRUE(p.name.contains(QStringLiteral("%1 kbps video").arg(p.videoKbps))) << p.name.toStdString();
        EXPECT_TRUE(p.name.contains(
            QStringLiteral("%1 kbps %2 audio").arg(p.audioKbps).arg(p.audioChannels == 1 ? "mono" : "stereo")))
            << p.name.toStdString();
    }
}

TEST(WriterCatalogTest, TheWriterListsAndSelectsByOneBasedIndex) {
    FfmpegWriter w;
    EXPECT_EQ(w.VideoCodecCount(), int(aviCodecs().size()));
    for (int i = 1; i <= w.VideoCodecCount(); ++i) {
        w.SetVideoCodec(i);
        EXPECT_EQ(w.VideoCodec(), i);
        EXPECT_EQ(w.VideoCodecName(), aviCodecs()[size_t(i - 1)].name);
    }
    EXPECT_EQ(w.WmvProfileCount(), int(wmvProfiles().size()));
    w.SetWmvProfile(1);
    EXPECT_EQ(w.WmvProfileName(), wmvProfiles()[0].name);
}

TEST(WriterPlan, AviFollowsTheCodecAndItsSettings) {
    FfmpegWriter w;
    sourceWriter(w).SetAudioPCM(44100, 2, 16);
    w.SetAviVideo(720, 576, 29.97);
    w.SetVideoCodec(w.VideoCodecCount());  // MPEG-4 Part 2
    OutputPlan p = w.plan(kContainerAvi);
    EXPECT_EQ(p.muxer, "avi");
    ASSERT_TRUE(p.video && p.audio);
    EXPECT_EQ(p.video->encoder, "mpeg4");
    EXPECT_EQ(p.video->fourcc, "XVID");
    EXPECT_TRUE(same(p.video->frameRate, {30000, 1001}));
    EXPECT_TRUE(same(p.video->sourceRate, {25, 1}));
    EXPECT_EQ(p.video->qscale, 4);
    EXPECT_EQ(p.video->bitRate, 0);
    EXPECT_EQ(p.audio->encoder, "pcm_s16le");
    EXPECT_EQ(p.audio->sampleRate, 44100);

    CodecSettings s = w.codecSettings(w.VideoCodec());
    s.rateControl = CodecSettings::RateControl::Bitrate;
    s.bitrateKbps = 3000;
    s.keyframeInterval = 12;
    w.setCodecSettings(w.VideoCodec(), s);
    p = w.plan(kContainerAvi);
    EXPECT_EQ(p.video->bitRate, 3000000);
    EXPECT_EQ(p.video->qscale, 0);
    EXPECT_EQ(p.video->gopSize, 12);

    for (int i = 1; i <= w.VideoCodecCount(); ++i)
        if (std::string(aviCodecs()[size_t(i - 1)].encoder) == "libx264") w.SetVideoCodec(i);
    p = w.plan(kContainerAvi);
    EXPECT_EQ(p.video->encoder, "libx264");
    EXPECT_EQ(p.video->crf, 23);
}

TEST(WriterPlan, AviAudioOptionsMapToTheirEncoders) {
    FfmpegWriter w;
    sourceWriter(w).SetAviVideo(720, 576, 25);
    w.SetAudioGSM(44100);
    OutputPlan p = w.plan(kContainerAvi);
    EXPECT_EQ(p.audio->encoder, "libgsm_ms");
    EXPECT_EQ(p.audio->sampleRate, 8000);
    EXPECT_EQ(p.audio->channels, 1);
    EXPECT_EQ(p.audio->sourceRate, 44100);
    EXPECT_EQ(p.audio->sourceChannels, 2);
    w.SetAudioMP3(128, 96000, 2);
    p = w.plan(kContainerAvi);
    EXPECT_EQ(p.audio->encoder, "libmp3lame");
    EXPECT_EQ(p.audio->sampleRate, 48000);
    EXPECT_EQ(p.audio->bitRate, 128000);
    w.SetAudioADPCM(44100, 1);
    EXPECT_EQ(w.plan(kContainerAvi).audio->encoder, "adpcm_ima_wav");
    EXPECT_EQ(w.plan(kContainerAvi).audio->channels, 1);
    w.SetAudioALaw(44100, 2);
    EXPECT_EQ(w.plan(kContainerAvi).audio->encoder, "pcm_alaw");
    w.SetAudioMuLaw(44100, 2);
    EXPECT_EQ(w.plan(kContainerAvi).audio->encoder, "pcm_mulaw");
}

TEST(WriterPlan, MpegFollowsTheDiscStandards) {
    FfmpegWriter w;
    sourceWriter(w, 29.97).SetMpegVideo(1, 1150, 721, 577, 29.97);
    w.SetMpegAudio(224, 48000, 1);
    OutputPlan p = w.plan(kContainerMpeg);
    EXPECT_EQ(p.muxer, "mpeg");
    EXPECT_EQ(p.video->encoder, "mpeg1video");
    EXPECT_EQ(p.video->width, 720);
    EXPECT_EQ(p.video->height, 576);
    EXPECT_TRUE(same(p.video->frameRate, {30000, 1001}));
    EXPECT_EQ(p.video->gopSize, 18);
    EXPECT_EQ(p.video->bufferSize, 327680);
    EXPECT_EQ(p.audio->encoder, "mp2");
    EXPECT_EQ(p.audio->sampleRate, 44100);
    EXPECT_EQ(p.audio->channels, 1);
    EXPECT_EQ(p.audio->bitRate, 192000);  // clamped for mono

    w.SetMpegVideo(2, 6000, 720, 576, 25);
    w.SetMpegAudio(224, 44100, 2);
    p = w.plan(kContainerMpeg);
    EXPECT_EQ(p.muxer, "dvd");
    EXPECT_EQ(p.video->encoder, "mpeg2video");
    EXPECT_EQ(p.video->gopSize, 15);
    EXPECT_EQ(p.video->maxBFrames, 2);
    EXPECT_EQ(p.audio->sampleRate, 48000);
    EXPECT_EQ(p.audio->bitRate, 224000);

    w.SetMpegVideo(2, 6000, 720, 576, 15);  // not an MPEG rate
    EXPECT_TRUE(same(w.plan(kContainerMpeg).video->frameRate, {24000, 1001}));
    w.SetMpegVideo(2, 0, 720, 576, 25);
    EXPECT_THROW(w.plan(kContainerMpeg), MediaError);
}

TEST(WriterPlan, WmvProfilesLimitTheSizeAndFixTheSound) {
    FfmpegWriter w;
    sourceWriter(w);
    w.SetWmvProfile(1);
    OutputPlan p = w.plan(kContainerWmv);
    EXPECT_EQ(p.muxer, "asf");
    EXPECT_EQ(p.video->encoder, "wmv2");
    EXPECT_EQ(p.video->width, 176);
    EXPECT_EQ(p.video->height, 140);
    EXPECT_EQ(p.video->bitRate, wmvProfiles()[0].videoKbps * 1000);
    EXPECT_EQ(p.audio->encoder, "wmav2");
    EXPECT_EQ(p.audio->channels, 1);
    EXPECT_EQ(p.audio->sampleRate, 22050);
    w.SetWmvProfile(w.WmvProfileCount());
    p = w.plan(kContainerWmv);
    EXPECT_EQ(p.video->width, 720);
    EXPECT_EQ(p.audio->channels, 2);
}

TEST(WriterPlan, SourceWithoutAudioStillTakesTheAudioCallButGetsNoAudioStream) {
    FfmpegWriter w;
    w.SetVideoFormat(320, 240, 25);
    w.SetHasVideo(true);
    w.SetHasAudio(false);
    EXPECT_NO_THROW(w.SetAudioPCM(0, 1, 16));
    EXPECT_NO_THROW(w.SetMpegAudio(128, 0, 2));
    for (int container : {kContainerAvi, kContainerMpeg, kContainerWmv}) {
        const OutputPlan p = w.plan(container);
        EXPECT_TRUE(p.video);
        EXPECT_FALSE(p.audio);
    }
    w.SetHasAudio(true);  // audio asked for, but its format never given
    EXPECT_THROW(w.plan(kContainerAvi), MediaError);
}

TEST(WriterPlan, MissingVideoFactsAreReportedNotGuessed) {
    FfmpegWriter w;
    w.SetHasVideo(true);
    try {
        w.plan(kContainerAvi);
        FAIL() << "no error";
    } catch (const MediaError& e) {
        EXPECT_EQ(e.description(), "The video frame size is not set");
    }
    w.SetVideoFormat(320, 240, 0);
    w.SetAviVideo(320, 240, 0);
    try {
        w.plan(kContainerAvi);
        FAIL() << "no error";
    } catch (const MediaError& e) {
        EXPECT_EQ(e.description(), "The video frame rate is not set");
    }
    w.SetAviVideo(320, 240, 25);  // the output rate alone is enough: frames then arrive at that rate
    EXPECT_TRUE(same(w.plan(kContainerAvi).video->sourceRate, {25, 1}));
}
