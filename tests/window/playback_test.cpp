// Preview playback with a driven clock and a sound output without a device.
#include <gtest/gtest.h>
#include <QElapsedTimer>
#include <QThread>
#include <limits>

#include "engine/audio/FakeAudioSink.h"
#include "rules/PlaybackRules.h"
#include "support/Clips.h"
#include "support/FakePlatform.h"
#include "support/ForwardingReader.h"
#include "support/SoundServer.h"
#include "support/WindowHarness.h"

namespace {

// The sound device is looked for before any test asks Qt for devices.
struct SoundDeviceEnvironment : ::testing::Environment {
    void SetUp() override { soundDevice(); }
};
const auto* const kSoundDevice = ::testing::AddGlobalTestEnvironment(new SoundDeviceEnvironment);

TEST(PlaybackRules, PacingTable) {
    const double p = 40;                            // 25 frames per second
    EXPECT_FALSE(pacingFor(-21, p).show);           // the frame on show is still the nearer one
    const PacingDecision half = pacingFor(-20, p);  // half a period: the next one is as near
    EXPECT_TRUE(half.show);
    EXPECT_EQ(half.drop, 0);
    EXPECT_EQ(pacingFor(0, p).drop, 0);
    EXPECT_EQ(pacingFor(40, p).drop, 0);  // a period late: still shown
    EXPECT_EQ(pacingFor(41, p).drop, 1);  // later: passed, the one nearest the clock shown
    EXPECT_EQ(pacingFor(99, p).drop, 2);
    EXPECT_EQ(pacingFor(100, p).drop, 3);
    EXPECT_EQ(pacingFor(5000, p).drop, 125);
    EXPECT_EQ(pacingFor(std::numeric_limits<int32_t>::max(), 0.01).drop, 32767);
    const double ntsc = framePeriodMs(29.97);
    EXPECT_NEAR(ntsc, 33.367, 0.001);
    EXPECT_FALSE(pacingFor(-17, ntsc).show);
    EXPECT_TRUE(pacingFor(-16, ntsc).show);
    EXPECT_DOUBLE_EQ(framePeriodMs(0), 40);
    EXPECT_DOUBLE_EQ(framePeriodMs(-5), 40);
    EXPECT_EQ(playbackTimerInterval(25), 8);
    EXPECT_EQ(playbackTimerInterval(29.97), 7);
    EXPECT_THROW(playbackTimerInterval(0), std::domain_error);
}

// A reader whose frame reads fail on request, counting the audio chunks read.
struct FlakyReader : ForwardingReader {
    bool* failReads;
    int* audioReads;
    bool* frameLate;
    FlakyReader(bool* flag, int* reads, bool* late) : failReads(flag), audioReads(reads), frameLate(late) {}
    AudioChunk ReadAudio(int32_t bytes) override {
        ++*audioReads;
        return real->ReadAudio(bytes);
    }
    FrameData ReadVideoFrame() override {
        if (*failReads) throw MediaError("Read error in the test");
        return real->ReadVideoFrame();
    }
    // The clock is driven here, tick by tick: each tick finds its frame decoded, as on a
    // machine that decodes in time (a late frame is shown at a later tick, tested apart).
    bool NextFrameReady(int32_t later) override {
        if (*frameLate) return false;
        QElapsedTimer waited;
        waited.start();
        while (!real->NextFrameReady(later) && !waited.hasExpired(10000)) QThread::msleep(1);
        return true;
    }
};

struct Playback : ::testing::Test {
    FakePlatform platform;
    std::shared_ptr<FakeSinkState> sink = std::make_shared<FakeSinkState>();
    bool failReads = false;
    int audioReads = 0;
    bool frameLate = false;
    std::unique_ptr<WindowHarness> h;
    frmMain* w = nullptr;

    void open(int devices = 1, const QString& clip = "avi_mjpeg_pcm") {
        sink->devices = devices;
        sink->capacity = 1 << 20;
        h = std::make_unique<WindowHarness>(true, [this](WindowServices& s) {
            s.makeAudioPlayer = [this] { return std::make_unique<AudioPlayer>(std::make_unique<FakeAudioSink>(sink)); };
            s.makeReader = [this] { return std::make_unique<FlakyReader>(&failReads, &audioReads, &frameLate); };
        });
        w = h->window.get();
        w->OpenSourceVideo(clips::get(clip).path);
        ASSERT_TRUE(w->FileLoaded);
    }
    int shown() const { return clips::frameNumberOf(w->FrameBits); }
    // Moves the clock so that the picture is `lag` ms behind, then ticks once.
    void tickWithLag(int lag) {
        platform.ticks = static_cast<uint32_t>(w->PlayStartTick) +
                         static_cast<uint32_t>(lag + w->VideoFileIn1->VideoTime() - w->PlayPosition[w->PlaySlider]);
        w->Timer1_Timer();
    }
};

TEST_F(Playback, StartAndStopSwitchControlsAndCaptions) {
    open(0);  // the tick count is the clock
    w->cmdPlayStop_Click();
    EXPECT_TRUE(w->Playing);
    EXPECT_EQ(w->PlaySlider, 1);
    for (QWidget* c : {(QWidget*)w->cmdCut, (QWidget*)w->cmdSplit, (QWidget*)w->cmbPlaySld, (QWidget*)w->cmdFile,
                       (QWidget*)w->sldThum, (QWidget*)w->sldThum2})
        EXPECT_FALSE(c->isEnabled()) << c->objectName().toStdString();
    EXPECT_EQ(w->cmdPlayStop->text(), w->GetFromINI("frmMain", "30"));
    EXPECT_TRUE(w->Timer1->isActive());
    EXPECT_EQ(w->Timer1->interval(), 8);
    EXPECT_EQ(w->PlayStartTick, int32_t(platform.ticks));

    // The frame at the start position is due at once; the next one when it is nearer the
    // clock than the one on show; frames more than a period late are dropped.
    const int before = w->VideoFileIn1->CurrentFrame();
    w->Timer1_Timer();
    EXPECT_EQ(w->VideoFileIn1->CurrentFrame(), before + 1);
    tickWithLag(-21);
    EXPECT_EQ(w->VideoFileIn1->CurrentFrame(), before + 1);
    tickWithLag(-20);
    EXPECT_EQ(w->VideoFileIn1->CurrentFrame(), before + 2);
    tickWithLag(40);
    EXPECT_EQ(w->VideoFileIn1->CurrentFrame(), before + 3);
    tickWithLag(41);  // one dropped, the next shown
    EXPECT_EQ(w->VideoFileIn1->CurrentFrame(), before + 5);
    EXPECT_EQ(shown(), before + 5);
    EXPECT_EQ(w->SliderTimePosition1->value(), before + 4);

    w->cmdPlayStop_Click();
    EXPECT_FALSE(w->Playing);
    EXPECT_FALSE(w->Timer1->isActive());
    EXPECT_EQ(w->cmdPlayStop->text(), w->GetFromINI("frmMain", "29"));
    for (QWidget* c : {(QWidget*)w->cmdCut, (QWidget*)w->cmdSplit, (QWidget*)w->cmbPlaySld, (QWidget*)w->cmdFile,
                       (QWidget*)w->sldThum, (QWidget*)w->sldThum2})
        EXPECT_TRUE(c->isEnabled()) << c->objectName().toStdString();
    const int stoppedAt = w->SliderTimePosition1->value();
    const int32_t resume = w->PlayPosition[1];
    EXPECT_EQ(resume, w->VideoFileIn1->VideoTime());

    // The other slider keeps its own position; the first resumes where it stopped.
    w->setListIndex(w->cmbPlaySld, 1);
    w->cmdPlayStop_Click();
    EXPECT_EQ(w->PlaySlider, 2);
    EXPECT_LE(w->VideoFileIn1->VideoTime(), 40);
    w->cmdPlayStop_Click();
    w->setListIndex(w->cmbPlaySld, 0);
    w->cmdPlayStop_Click();
    EXPECT_EQ(w->VideoFileIn1->VideoTime(), resume);
    EXPECT_EQ(w->SliderTimePosition1->value(), stoppedAt);
    w->cmdPlayStop_Click();
}

TEST_F(Playback, AFrameStillBeingDecodedIsShownAtALaterTick) {
    open(0);
    w->cmdPlayStop_Click();
    const int before = w->VideoFileIn1->CurrentFrame();
    frameLate = true;
    tickWithLag(200);  // due, and more: the tick neither waits nor reads
    EXPECT_EQ(w->VideoFileIn1->CurrentFrame(), before);
    EXPECT_TRUE(w->Playing);
    frameLate = false;
    tickWithLag(0);
    EXPECT_EQ(w->VideoFileIn1->CurrentFrame(), before + 1);
    EXPECT_EQ(shown(), before + 1);
    w->cmdPlayStop_Click();
}

TEST_F(Playback, PlayAndStopFollowThePlayingStateWhateverTheCaptions) {
    open();
    // A language file without the Play and Stop captions: both read "Default".
    w->CurLangPath = h->home.path() + "/missing.ini";
    w->cmdPlayStop_Click();
    EXPECT_TRUE(w->Playing);
    w->cmdPlayStop_Click();
    EXPECT_FALSE(w->Playing);
    EXPECT_FALSE(w->Timer1->isActive());
}

TEST_F(Playback, ReachingTheLastFrameStopsAndGoesBackToTheStart) {
    open(0);
    w->SliderTimePosition1->setValue(95);
    w->PlayPosition[1] = w->VideoFileIn1->VideoTime();
    w->cmdPlayStop_Click();
    for (int i = 0; i < 50 && w->Playing; ++i) tickWithLag(0);
    EXPECT_FALSE(w->Playing);
    EXPECT_EQ(w->SliderTimePosition1->value(), 1);
    EXPECT_EQ(w->PlayPosition[1], 1);
    EXPECT_EQ(shown(), 1);
    w->cmdPlayStop_Click();
    EXPECT_LE(w->VideoFileIn1->VideoTime(), 40);
    w->cmdPlayStop_Click();
}

TEST_F(Playback, SoundIsPreReadAndRefilledWithinItsBudgets) {
    open(1, "long_mpeg4");  // 24 s of stereo sound at 44.1 kHz
    audioReads = 0;
    w->cmdPlayStop_Click();
    AudioPlayer& player = *w->AudioPlayer;
    // The sound waits for the first picture, decoded by the first tick.
    EXPECT_FALSE(sink->started);
    EXPECT_EQ(player.QueuedSamples(), 0);
    w->Timer1_Timer();
    const int32_t queued = player.QueuedSamples();
    // The pre-read budget is 2 channels x 110250 (2500 ms) counted in array elements; it
    // stops at that budget or after 101 chunks, whichever comes first.
    EXPECT_LE(audioReads, 101);
    EXPECT_GT(queued, 0);
    EXPECT_TRUE(audioReads == 101 || queued * 2 >= 220500) << audioReads << " chunks, " << queued;
    EXPECT_LT(queued * 2, 220500 + 20000);
    EXPECT_TRUE(sink->started);
    // More than 2000 ms still queued: a finished chunk reads nothing.
    audioReads = 0;
    w->AudioPlayer_EndArrayPlay();
    EXPECT_EQ(player.QueuedSamples(), queued);
    EXPECT_EQ(audioReads, 0);
    // Once it has played, the next finished chunk tops up by the 9000 ms budget (396900
    // elements) or 101 chunks.
    player.pump();
    sink->playAll();
    player.pump();
    w->AudioPlayer_EndArrayPlay();
    const int32_t added = player.QueuedSamples() - queued;
    EXPECT_LE(audioReads, 101);
    EXPECT_TRUE(audioReads == 101 || added * 2 >= 396900) << audioReads << " chunks, " << added;
    EXPECT_LT(added * 2, 396900 + 20000);
    w->cmdPlayStop_Click();
    EXPECT_FALSE(sink->started);
}

TEST_F(Playback, WithoutADeviceTheSilentPictureKeepsItsPace) {
    open(0);
    EXPECT_TRUE(w->NoAudioDevice);
    w->cmdPlayStop_Click();
    EXPECT_TRUE(w->Playing);
    EXPECT_EQ(sink->starts, 0);
    EXPECT_EQ(w->AudioPlayer->QueuedSamples(), 0);
    emit w->AudioPlayer->EndArrayPlay();
    emit w->AudioPlayer->EndPlay();
    EXPECT_EQ(w->AudioPlayer->QueuedSamples(), 0);
    EXPECT_EQ(sink->stops, 0);
    const int before = w->VideoFileIn1->CurrentFrame();
    tickWithLag(0);
    EXPECT_EQ(w->VideoFileIn1->CurrentFrame(), before + 1);
    w->cmdPlayStop_Click();
    EXPECT_EQ(sink->starts, 0);
}

TEST_F(Playback, WithASoundDeviceThePictureFollowsThePlayedSound) {
    open(1, "long_mpeg4");
    w->cmdPlayStop_Click();
    AudioPlayer& player = *w->AudioPlayer;
    const int32_t start = w->PlayPosition[1];
    auto shownTime = [&] { return viewFrame(w->FrameBits)->header.timeMs; };
    // The device has not played anything yet: the frame at the start and no more, however
    // far the ticks run.
    w->Timer1_Timer();  // the first picture is decoded: the sound starts
    const int bytesPerMs = sink->sampleRate * sink->channels * 2 / 1000;
    const int first = shown();
    platform.ticks += 5000;
    for (int i = 0; i < 3; ++i) w->Timer1_Timer();
    EXPECT_EQ(shown(), first);
    // It has played a second: the picture is at that second, frames dropped on the way.
    sink->playUpTo(1000 * bytesPerMs);
    for (int i = 0; i < 30; ++i) w->Timer1_Timer();
    EXPECT_NEAR(shownTime(), start + 1000, 20);
    sink->playUpTo(1200 * bytesPerMs);
    for (int i = 0; i < 20; ++i) w->Timer1_Timer();
    EXPECT_NEAR(shownTime(), start + 1200, 20);
    // The sound ends (the device reports it all played): the tick clock carries on from the
    // sound's last position.
    player.Stop();
    EXPECT_FALSE(player.isPlaying());
    platform.ticks += 400;
    for (int i = 0; i < 20; ++i) w->Timer1_Timer();
    EXPECT_NEAR(shownTime(), start + 1600, 20);
    EXPECT_TRUE(w->Playing);
    w->cmdPlayStop_Click();
}

TEST_F(Playback, TheTickCounterMayWrapDuringPlayback) {
    open(0);
    platform.ticks = 0xFFFFFFE0u;
    w->cmdPlayStop_Click();
    const int before = w->VideoFileIn1->CurrentFrame();
    w->Timer1_Timer();
    tickWithLag(0);  // about 70 ms later, past the wrap
    EXPECT_LT(platform.ticks, 0x100u);
    EXPECT_EQ(w->VideoFileIn1->CurrentFrame(), before + 2);
    EXPECT_TRUE(w->Playing);
    w->cmdPlayStop_Click();
}

TEST_F(Playback, AFailingReadDuringATickStopsPlaybackAndTheWindowStaysUsable) {
    open();
    w->cmdPlayStop_Click();
    failReads = true;
    platform.ticks += 800;
    QElapsedTimer waited;
    waited.start();
    while (w->Playing && waited.elapsed() < 3000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_FALSE(w->Playing);
    EXPECT_FALSE(w->InternalMarkerChange);
    EXPECT_TRUE(w->cmdFile->isEnabled());
    EXPECT_TRUE(w->cmdCut->isEnabled());
    failReads = false;
    w->cmdNextFrame_Click();
    EXPECT_EQ(shown(), w->SliderTimePosition1->value());
}

// Playback through the system's output, a real QAudioSink, with the real clock.
TEST(PlaybackOnTheSystemsOutput, TheSoundReachesTheSinkAndThePictureKeepsToIt) {
    if (!soundDevice().available) GTEST_SKIP() << "no sound device: " << soundDevice().reason.toStdString();
    FakePlatform platform;
    platform.realClock = true;
    WindowHarness h;
    frmMain* w = h.window.get();
    ASSERT_FALSE(w->NoAudioDevice);
    w->OpenSourceVideo(clips::get("long_mpeg4").path);
    ASSERT_TRUE(w->FileLoaded);
    AudioPlayer& player = *w->AudioPlayer;
    int finishedChunks = 0;
    QObject::connect(&player, &AudioPlayer::EndArrayPlay, [&] { ++finishedChunks; });
    MonitorRecording recording(44100, 2);
    ASSERT_TRUE(recording.waitUntilRecording());

    w->cmdPlayStop_Click();
    QElapsedTimer started;
    started.start();
    while (!player.isPlaying() && !started.hasExpired(10000)) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    ASSERT_TRUE(player.isPlaying());
    const int32_t preRead = player.QueuedSamples();
    const int firstFrame = w->VideoFileIn1->CurrentFrame();
    // Never ahead of the played sound by more than half a frame period (the rule shows the
    // next frame once it is the nearer one); how far behind depends on the machine.
    const double halfPeriod = 20;
    double mostAhead = -1e9;
    int lastFrame = -1;
    QElapsedTimer clock;
    clock.start();
    while (w->Playing && clock.elapsed() < 20000 && player.PlayedSamples() < 2 * 44100) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const auto view = viewFrame(w->FrameBits);
        if (!view || view->header.frameNumber == lastFrame || player.PlayedSamples() == 0) continue;
        lastFrame = view->header.frameNumber;
        const double sound = w->PlayPosition[1] + player.SamplesToMs(player.PlayedSamples());
        mostAhead = std::max(mostAhead, view->header.timeMs - sound);
    }
    EXPECT_TRUE(w->Playing);
    EXPECT_GE(player.PlayedSamples(), 2 * 44100);
    EXPECT_LE(mostAhead, halfPeriod + 2);
    EXPECT_GT(w->VideoFileIn1->CurrentFrame() - firstFrame, 25);
    // Finished chunks came from the sink, and with 2 s or less left queued they refilled.
    EXPECT_GT(finishedChunks, 0);
    EXPECT_GT(player.QueuedSamples(), preRead);

    w->cmdPlayStop_Click();
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(player.QueuedSamples(), player.PlayedSamples());
    QThread::msleep(300);
    EXPECT_GT(recording.soundSpanMs(recording.stop()), 1800);  // the clip's tone reached the sink
}

}  // namespace
