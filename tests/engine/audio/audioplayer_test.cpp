#include <gtest/gtest.h>

#include <QAudioDevice>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMediaDevices>
#include <QTimer>
#include <cmath>
#include <limits>

#include "engine/audio/AudioPlayer.h"
#include "engine/audio/FakeAudioSink.h"
#include "support/SoundServer.h"

namespace {

// The sound device is looked for before any test asks Qt for devices.
struct SoundDeviceEnvironment : ::testing::Environment {
    void SetUp() override { soundDevice(); }
};
const auto* const kSoundDevice = ::testing::AddGlobalTestEnvironment(new SoundDeviceEnvironment);

// A 440 Hz tone of `ms` milliseconds at 44.1 kHz stereo.
AudioChunk toneOf(int ms) {
    AudioChunk chunk(size_t(44100) * ms / 1000 * 2);
    for (size_t i = 0; i < chunk.size(); ++i)
        chunk[i] = int16_t(8000 * std::sin(2 * M_PI * 440 * double(i / 2) / 44100));
    return chunk;
}

// Runs the event loop until done() or the time limit.
template <typename Done>
void runUntil(Done done, int limitMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limitMs) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// A chunk of `frames` sample frames whose samples count up, so the bytes can be traced.
AudioChunk chunkOf(int frames, int channels, int16_t first = 0) {
    AudioChunk chunk(size_t(frames) * channels);
    for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = int16_t(first + i);
    return chunk;
}

struct Events {
    int endArray = 0;
    int endPlay = 0;
};

class AudioPlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        state = std::make_shared<FakeSinkState>();
        player = std::make_unique<AudioPlayer>(std::make_unique<FakeAudioSink>(state));
        player->SetFormat(8000, 2);
        QObject::connect(player.get(), &AudioPlayer::EndArrayPlay, [this] { ++events.endArray; });
        QObject::connect(player.get(), &AudioPlayer::EndPlay, [this] { ++events.endPlay; });
    }

    std::shared_ptr<FakeSinkState> state;
    std::unique_ptr<AudioPlayer> player;
    Events events;
};

TEST_F(AudioPlayerTest, QueuedAndPlayedAmountsCountSampleFrames) {
    player->Play();
    for (int i = 0; i < 3; ++i) player->QueueSamples(chunkOf(100, 2));
    EXPECT_EQ(player->QueuedSamples(), 300);
    EXPECT_EQ(state->received.size(), 300 * 4);  // all fits the sink
    EXPECT_EQ(player->PlayedSamples(), 0);
    state->playUpTo(240);
    EXPECT_EQ(player->PlayedSamples(), 60);
    // The bytes reach the sink in order and unchanged.
    EXPECT_EQ(reinterpret_cast<const int16_t*>(state->received.constData())[199], 199);
    EXPECT_EQ(reinterpret_cast<const int16_t*>(state->received.constData())[200], 0);
}

TEST_F(AudioPlayerTest, OnlyWhatTheSinkTakesIsHandedOverAndTheRestFollowsOnPump) {
    state->capacity = 400;  // one chunk of 100 stereo frames
    player->Play();
    for (int i = 0; i < 3; ++i) player->QueueSamples(chunkOf(100, 2, int16_t(1000 * i)));
    EXPECT_EQ(state->received.size(), 400);
    player->pump();
    EXPECT_EQ(state->received.size(), 400);  // still full
    state->playUpTo(200);
    player->pump();
    EXPECT_EQ(state->received.size(), 600);
    EXPECT_EQ(reinterpret_cast<const int16_t*>(state->received.constData())[200], 1000);
    EXPECT_EQ(player->QueuedSamples(), 300);
    EXPECT_EQ(player->PlayedSamples(), 50);
}

TEST_F(AudioPlayerTest, EndArrayPlayIsRaisedOncePerChunkWhenItsLastSampleHasPlayed) {
    state->capacity = 400;
    player->Play();
    for (int i = 0; i < 3; ++i) player->QueueSamples(chunkOf(100, 2));
    state->playUpTo(399);
    player->pump();
    EXPECT_EQ(events.endArray, 0);
    state->playUpTo(400);
    player->pump();
    EXPECT_EQ(events.endArray, 1);
    player->pump();
    EXPECT_EQ(events.endArray, 1);  // once per chunk
    state->playAll();
    player->pump();  // second chunk played, third handed over
    EXPECT_EQ(events.endArray, 2);
    state->playAll();
    player->pump();
    EXPECT_EQ(events.endArray, 3);
    EXPECT_EQ(player->PlayedSamples(), 300);
}

TEST_F(AudioPlayerTest, EndPlayComesOnceWhenTheQueueRunsDryAfterPlay) {
    player->Play();
    player->pump();
    EXPECT_EQ(events.endPlay, 0);  // nothing queued yet: not an end
    player->QueueSamples(chunkOf(100, 2));
    player->QueueSamples(chunkOf(50, 2));
    state->playUpTo(400);
    player->pump();
    EXPECT_EQ(events.endPlay, 0);  // the second chunk is still playing
    state->playAll();
    player->pump();
    player->pump();
    EXPECT_EQ(events.endArray, 2);
    EXPECT_EQ(events.endPlay, 1);
    // More sound after the end: it ends again once that has played.
    player->QueueSamples(chunkOf(10, 2));
    state->playAll();
    player->pump();
    EXPECT_EQ(events.endPlay, 2);
}

TEST_F(AudioPlayerTest, HandlersMayQueueMoreOrStopWhileEventsAreRaised) {
    // The window refills on EndArrayPlay and stops on EndPlay.
    int refills = 0;
    QObject::connect(player.get(), &AudioPlayer::EndArrayPlay, [&] {
        if (refills < 2) {
            player->QueueSamples(chunkOf(100, 2));
            ++refills;
        }
    });
    QObject::connect(player.get(), &AudioPlayer::EndPlay, [&] { player->Stop(); });
    state->capacity = 100000;
    player->Play();
    player->QueueSamples(chunkOf(100, 2));
    for (int i = 0; i < 5; ++i) {
        state->playAll();
        player->pump();
    }
    EXPECT_EQ(events.endArray, 3);
    EXPECT_EQ(events.endPlay, 1);
    EXPECT_FALSE(state->started);
    EXPECT_EQ(player->QueuedSamples(), 300);
    EXPECT_EQ(player->PlayedSamples(), 300);
}

TEST_F(AudioPlayerTest, StopStopsTheSinkAndDropsWhatWasNotPlayed) {
    state->capacity = 400;
    player->Play();
    for (int i = 0; i < 3; ++i) player->QueueSamples(chunkOf(100, 2));
    state->playUpTo(200);
    player->Stop();
    EXPECT_FALSE(state->started);
    EXPECT_EQ(player->PlayedSamples(), 50);
    EXPECT_EQ(player->QueuedSamples(), 50);  // nothing left waiting
    player->pump();
    EXPECT_EQ(events.endArray + events.endPlay, 0);
    player->Play();
    EXPECT_TRUE(state->received.isEmpty());  // the dropped chunks do not come back
    EXPECT_EQ(player->QueuedSamples(), 0);
}

TEST_F(AudioPlayerTest, ChunksQueuedBeforePlayArePlayedAndResetPlayerClearsEverything) {
    player->QueueSamples(chunkOf(100, 2));
    EXPECT_TRUE(state->received.isEmpty());
    EXPECT_EQ(player->QueuedSamples(), 100);
    player->Play();
    EXPECT_EQ(state->received.size(), 400);
    EXPECT_EQ(player->QueuedSamples(), 100);
    state->playAll();
    player->ResetPlayer(0);
    EXPECT_EQ(player->QueuedSamples(), 0);
    EXPECT_EQ(player->PlayedSamples(), 0);
    EXPECT_FALSE(state->started);
}

TEST_F(AudioPlayerTest, PartialSampleFramesAndEmptyChunksAreNotQueued) {
    player->Play();
    player->QueueSamples(AudioChunk{1, 2, 3, 4, 5});  // two whole stereo frames and a stray sample
    player->QueueSamples(AudioChunk{});
    player->QueueSamples(AudioChunk{9});
    EXPECT_EQ(player->QueuedSamples(), 2);
    EXPECT_EQ(state->received.size(), 8);
    state->playAll();
    player->pump();
    EXPECT_EQ(events.endArray, 1);
    EXPECT_EQ(events.endPlay, 1);
}

TEST_F(AudioPlayerTest, AmountsAndMillisecondsConvertAtTheFormatsRate) {
    player->SetFormat(44100, 2);
    EXPECT_EQ(player->MsToSamples(2500), 110250);
    EXPECT_EQ(player->MsToSamples(9000), 396900);
    EXPECT_EQ(player->SamplesToMs(44100), 1000);
    EXPECT_EQ(player->SamplesToMs(22), 0);  // 0.499 ms
    EXPECT_EQ(player->SamplesToMs(23), 1);  // 0.52 ms
    player->SetFormat(11025, 1);
    EXPECT_EQ(player->MsToSamples(1), 11);  // 11.025
    EXPECT_EQ(player->MsToSamples(2), 22);  // 22.05
    EXPECT_EQ(player->SamplesToMs(11025 * 3), 3000);
    EXPECT_EQ(player->MsToSamples(-1000), -11025);
    player->SetFormat(48000, 2);
    EXPECT_EQ(player->MsToSamples(std::numeric_limits<int32_t>::max()), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(player->SamplesToMs(std::numeric_limits<int32_t>::max()), 44739243);
    // Amounts count sample frames: a mono second is as many amounts as a stereo second.
    player->Play();
    player->QueueSamples(chunkOf(48000, 2));
    EXPECT_EQ(player->SamplesToMs(player->QueuedSamples()), 1000);
}

TEST_F(AudioPlayerTest, SettingsReachTheSinkAndBadFormatsAreRefused) {
    player->SetVolume(65535);
    EXPECT_DOUBLE_EQ(state->volume, 1.0);
    player->SetVolume(0);
    EXPECT_DOUBLE_EQ(state->volume, 0.0);
    player->SetVolume(32768);
    EXPECT_NEAR(state->volume, 0.5, 0.001);
    player->SetVolume(-5);
    EXPECT_DOUBLE_EQ(state->volume, 0.0);
    player->SetVolume(100000);
    EXPECT_DOUBLE_EQ(state->volume, 1.0);
    player->SetBufferCount(50);
    EXPECT_EQ(state->bufferMs, 500);
    player->SetBufferCount(1);
    EXPECT_EQ(state->bufferMs, 100);
    player->SetOutputDevice(0);
    EXPECT_EQ(state->selectedDevice, 0);
    player->SetFormat(22050, 1);
    player->Play();
    EXPECT_EQ(state->sampleRate, 22050);
    EXPECT_EQ(state->channels, 1);
    EXPECT_THROW(player->SetFormat(0, 2), MediaError);
    EXPECT_THROW(player->SetFormat(44100, 0), MediaError);
    EXPECT_THROW(player->SetFormat(44100, -2), MediaError);
}

TEST_F(AudioPlayerTest, AFailingSinkEndsPlaybackWithEndPlay) {
    state->capacity = 400;
    player->Play();
    player->QueueSamples(chunkOf(100, 2));
    player->QueueSamples(chunkOf(100, 2));
    state->failWrites = true;
    state->playAll();
    player->pump();
    EXPECT_EQ(events.endPlay, 1);
    EXPECT_FALSE(state->started);
    player->pump();
    EXPECT_EQ(events.endPlay, 1);
}

TEST_F(AudioPlayerTest, ThePlayersTimerPumpsWhilePlaying) {
    player->Play();
    player->QueueSamples(chunkOf(100, 2));
    state->playAll();
    QEventLoop loop;
    QObject::connect(player.get(), &AudioPlayer::EndPlay, &loop, &QEventLoop::quit);
    QTimer::singleShot(2000, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    loop.exec();
    EXPECT_EQ(events.endPlay, 1);
    EXPECT_LT(clock.elapsed(), 1000);
}

TEST(AudioPlayerNoDevice, AFakeWithoutDeviceKeepsBookkeepingAndRaisesNothing) {
    auto state = std::make_shared<FakeSinkState>();
    state->devices = 0;
    state->canStart = false;
    AudioPlayer player(std::make_unique<FakeAudioSink>(state));
    int raised = 0;
    QObject::connect(&player, &AudioPlayer::EndArrayPlay, [&] { ++raised; });
    QObject::connect(&player, &AudioPlayer::EndPlay, [&] { ++raised; });
    EXPECT_EQ(player.DeviceCount(), 0);
    player.SetFormat(44100, 2);
    player.Play();
    player.QueueSamples(chunkOf(441, 2));
    player.pump();
    EXPECT_EQ(player.QueuedSamples(), 441);
    EXPECT_EQ(player.PlayedSamples(), 0);
    EXPECT_EQ(raised, 0);
    player.Stop();
    EXPECT_EQ(player.QueuedSamples(), 0);
}

TEST(AudioPlayerSystemOutput, ReportsTheSystemsDevicesAndNeverFailsWithoutOne) {
    AudioPlayer player;
    const int outputs = int(QMediaDevices::audioOutputs().size());
    EXPECT_EQ(player.DeviceCount(), outputs);
    std::printf("[          ] sound outputs on this machine: %d\n", outputs);
    player.SetOutputDevice(0);
    player.SetVolume(65535);
    player.SetBufferCount(50);
    player.SetFormat(44100, 2);
    player.ResetPlayer(0);
    player.Play();
    player.QueueSamples(chunkOf(4410, 2));
    player.pump();
    EXPECT_EQ(player.QueuedSamples(), 4410);
    if (outputs == 0) {
        EXPECT_EQ(player.PlayedSamples(), 0);
    }
    player.Stop();
}

// The system's output, a real QAudioSink: the private null sink when no sound server runs.
class SystemOutput : public ::testing::Test {
protected:
    void SetUp() override {
        if (!soundDevice().available) GTEST_SKIP() << "no sound device: " << soundDevice().reason.toStdString();
        ASSERT_GE(player.DeviceCount(), 1);
        player.SetOutputDevice(0);
        player.SetVolume(65535);
        player.SetBufferCount(50);
        player.SetFormat(44100, 2);
        QObject::connect(&player, &AudioPlayer::EndArrayPlay, [this] { ++events.endArray; });
        QObject::connect(&player, &AudioPlayer::EndPlay, [this] { ++events.endPlay; });
        ASSERT_TRUE(recording.waitUntilRecording());
    }
    AudioPlayer player;
    Events events;
    MonitorRecording recording{44100, 2};
};

TEST_F(SystemOutput, PlaysRefillsAndEndsAndTheSoundReachesTheSink) {
    // Four chunks of 100 ms to start with; each finished chunk queues the next, ten in all,
    // as playback refills on EndArrayPlay.
    int queued = 0;
    QObject::connect(&player, &AudioPlayer::EndArrayPlay, [&] {
        if (queued < 10) player.QueueSamples(toneOf(100)), ++queued;
    });
    player.Play();
    EXPECT_TRUE(player.isPlaying());
    for (; queued < 4; ++queued) player.QueueSamples(toneOf(100));
    runUntil([&] { return events.endPlay > 0; }, 15000);
    EXPECT_EQ(events.endArray, 10);
    EXPECT_EQ(events.endPlay, 1);
    EXPECT_EQ(player.QueuedSamples(), 44100);
    EXPECT_EQ(player.PlayedSamples(), 44100);
    QThread::msleep(300);  // the sink's monitor delivers its last part
    const std::vector<int16_t> samples = recording.stop();
    const double span = recording.soundSpanMs(samples);
    EXPECT_NEAR(span, 1000, 30);
    // It is the tone: 440 Hz counted by rising zero crossings of the left channel.
    int crossings = 0;
    for (size_t i = 2; i < samples.size(); i += 2)
        if (samples[i - 2] < 0 && samples[i] >= 0) ++crossings;
    EXPECT_NEAR(crossings / (span / 1000), 440, 15);
}

TEST_F(SystemOutput, StopEndsTheSoundAndNothingIsRaisedAfterwards) {
    player.Play();
    for (int i = 0; i < 30; ++i) player.QueueSamples(toneOf(100));
    runUntil([&] { return player.PlayedSamples() >= 8820; }, 10000);  // 200 ms played
    const int32_t played = player.PlayedSamples();
    EXPECT_GE(played, 8820);
    EXPECT_LT(played, 3 * 44100);
    player.Stop();
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(player.QueuedSamples(), player.PlayedSamples());
    const Events before = events;
    runUntil([] { return false; }, 500);
    EXPECT_EQ(events.endArray, before.endArray);
    EXPECT_EQ(events.endPlay, 0);
    const double span = recording.soundSpanMs(recording.stop());
    EXPECT_GT(span, 100);
    EXPECT_LT(span, 2000);  // far from the three seconds queued
}

}  // namespace
