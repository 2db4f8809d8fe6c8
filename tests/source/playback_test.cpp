// Preview playback with a driven clock and a sound output without a device.
#include <gtest/gtest.h>
#include <QElapsedTimer>

#include "engine/audio/FakeAudioSink.h"
#include "source/PlaybackRules.h"
#include "support/Clips.h"
#include "support/FakePlatform.h"
#include "support/ForwardingReader.h"
#include "support/WindowHarness.h"

namespace {

TEST(PlaybackRules, PacingTable) {
    EXPECT_FALSE(pacingFor(-20).show);
    EXPECT_FALSE(pacingFor(0).show);
    EXPECT_FALSE(pacingFor(500).show);  // 0.5 rounds to 0
    const PacingDecision one = pacingFor(501);
    EXPECT_TRUE(one.show);
    EXPECT_EQ(one.drop, 0);
    EXPECT_EQ(pacingFor(1499).drop, 0);
    EXPECT_EQ(pacingFor(1500).drop, 1);  // 1.5 rounds to 2: one dropped, one shown
    EXPECT_EQ(pacingFor(2500).drop, 1);  // 2.5 rounds to 2 as well
    EXPECT_EQ(pacingFor(3600).drop, 3);
    EXPECT_EQ(playbackTimerInterval(25), 8);
    EXPECT_EQ(playbackTimerInterval(29.97), 7);
    EXPECT_THROW(playbackTimerInterval(0), std::domain_error);
}

// A reader whose frame reads fail on request, counting the audio chunks read.
struct FlakyReader : ForwardingReader {
    bool* failReads;
    int* audioReads;
    FlakyReader(bool* flag, int* reads) : failReads(flag), audioReads(reads) {}
    AudioChunk ReadAudio(int32_t bytes) override {
        ++*audioReads;
        return real->ReadAudio(bytes);
    }
    FrameData ReadVideoFrame() override {
        if (*failReads) throw MediaError("Read error in the test");
        return real->ReadVideoFrame();
    }
};

struct Playback : ::testing::Test {
    FakePlatform platform;
    std::shared_ptr<FakeSinkState> sink = std::make_shared<FakeSinkState>();
    bool failReads = false;
    int audioReads = 0;
    std::unique_ptr<WindowHarness> h;
    frmMain* w = nullptr;

    void open(int devices = 1, const QString& clip = "avi_mjpeg_pcm") {
        sink->devices = devices;
        sink->capacity = 1 << 20;
        h = std::make_unique<WindowHarness>(true, [this](WindowServices& s) {
            s.makeAudioPlayer = [this] { return std::make_unique<AudioPlayer>(std::make_unique<FakeAudioSink>(sink)); };
            s.makeReader = [this] { return std::make_unique<FlakyReader>(&failReads, &audioReads); };
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
    open();
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

    // On time: nothing is read.
    const int before = w->VideoFileIn1->CurrentFrame();
    w->Timer1_Timer();
    EXPECT_EQ(w->VideoFileIn1->CurrentFrame(), before);
    tickWithLag(500);
    EXPECT_EQ(w->VideoFileIn1->CurrentFrame(), before);
    tickWithLag(501);
    EXPECT_EQ(w->VideoFileIn1->CurrentFrame(), before + 1);
    tickWithLag(1500);  // one frame dropped, the next shown
    EXPECT_EQ(w->VideoFileIn1->CurrentFrame(), before + 3);
    EXPECT_EQ(shown(), before + 3);
    EXPECT_EQ(w->SliderTimePosition1->value(), before + 2);
    tickWithLag(2500);
    EXPECT_EQ(w->VideoFileIn1->CurrentFrame(), before + 5);

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
    open();
    w->SliderTimePosition1->setValue(95);
    w->PlayPosition[1] = w->VideoFileIn1->VideoTime();
    w->cmdPlayStop_Click();
    for (int i = 0; i < 50 && w->Playing; ++i) tickWithLag(600);
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
    tickWithLag(501);
    EXPECT_EQ(w->VideoFileIn1->CurrentFrame(), before + 1);
    w->cmdPlayStop_Click();
    EXPECT_EQ(sink->starts, 0);
}

TEST_F(Playback, TheTickCounterMayWrapDuringPlayback) {
    open();
    platform.ticks = 0xFFFFFF00u;
    w->cmdPlayStop_Click();
    const int before = w->VideoFileIn1->CurrentFrame();
    platform.ticks = 0x00000100u;  // 512 ms later, past the wrap
    w->Timer1_Timer();
    EXPECT_EQ(w->VideoFileIn1->CurrentFrame(), before + 1);
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

}  // namespace
