// Preview playback with sound. The picture follows a clock: the position the sound device
// has played while it plays the sound, the tick count otherwise (no device, no sound, or
// the sound has ended).
#include <algorithm>
#include <vector>

#include "engine/platform/Platform.h"
#include "rules/Conversions.h"
#include "rules/PlaybackRules.h"
#include "window/ErrorPolicy.h"
#include "window/frmMain.h"

void frmMain::cmdPlayStop_Click() {
    PlaySlider = static_cast<int16_t>(cmbPlaySld->currentIndex() + 1);
    if (!Playing) {
        StartPlayback();
    } else {
        StopPlayback();
    }
}

void frmMain::StartPlayback() {
    Playing = true;
    for (QWidget* w : std::initializer_list<QWidget*>{cmdCut, cmdSplit, cmbPlaySld}) w->setEnabled(false);
    resumeNext("StartPlayback: setText", [&] {
        cmdPlayStop->setText(GetFromINI("frmMain", QString::number(Caption::Stop)));
        cmdPlayStop->update();
    });
    for (QWidget* w : std::initializer_list<QWidget*>{cmdFile, sldThum, sldThum2}) w->setEnabled(false);
    resumeNext("StartPlayback: SeekTime", [&] { VideoFileIn1->SeekTime(PlayPosition.at(PlaySlider)); });
    // The frames to come are decoded on a worker thread while the window shows the ones before.
    resumeNext("StartPlayback: decode ahead", [&] { VideoFileIn1->SetDecodeAhead(true); });
    resumeNext("StartPlayback: BeginPlayback",
               [&] { VideoView1->BeginPlayback(VideoFileIn1->FrameWidth(), VideoFileIn1->FrameHeight()); });

    // Pre-read about 2.5 s of sound before the clock starts (at most 101 chunks).
    float budget = 0;
    resumeNext("StartPlayback: AudioChannels", [&] {
        budget = static_cast<float>(mul32(VideoFileIn1->AudioChannels(), AudioPlayer->MsToSamples(2500)));
    });
    soundWaiting_.clear();
    resumeNext("StartPlayback: pre-read sound", [&] {
        for (int i = 0; i <= 100; ++i) {
            soundWaiting_.push_back(VideoFileIn1->ReadAudio(0));
            const auto upper = static_cast<int64_t>(soundWaiting_.back().size()) - 1;
            if (upper <= 0) {
                soundWaiting_.pop_back();
                break;
            }
            budget -= static_cast<float>(upper);
            if (budget <= 0) break;
        }
    });
    // The sound and the clock start at the first tick that finds the first pictures decoded,
    // so the sound never runs ahead of a picture still being decoded.
    soundStartsWithPicture_ = true;
    PlayStartTick = static_cast<int32_t>(platform().GetTickCount());
    resumeNext("StartPlayback: setInterval",
               [&] { Timer1->setInterval(playbackTimerInterval(VideoFileIn1->FrameRate())); });
    Timer1->start();
}

void frmMain::startSoundAndClock() {
    soundStartsWithPicture_ = false;
    if (!NoAudioDevice) resumeNext("StartPlayback: Play", [&] { AudioPlayer->Play(); });
    PlayStartTick = static_cast<int32_t>(platform().GetTickCount());
    for (auto& chunk : soundWaiting_) {
        if (!NoAudioDevice) resumeNext("StartPlayback: QueueSamples", [&] { AudioPlayer->QueueSamples(chunk); });
        chunk = AudioChunk();  // released once queued
    }
    soundWaiting_.clear();
}

void frmMain::StopPlayback() {
    for (QWidget* w : std::initializer_list<QWidget*>{cmdCut, cmdSplit, cmdFile}) w->setEnabled(true);
    resumeNext("StopPlayback: setText", [&] {
        cmdPlayStop->setText(GetFromINI("frmMain", QString::number(Caption::Play)));
        cmdPlayStop->update();
    });
    // The thumbs move the reader: they come back only with a source to move.
    for (QWidget* w : std::initializer_list<QWidget*>{sldThum, sldThum2}) w->setEnabled(FileLoaded);
    cmbPlaySld->setEnabled(true);
    Playing = false;
    soundStartsWithPicture_ = false;
    soundWaiting_.clear();
    resumeNext("StopPlayback: keep position", [&] { PlayPosition.at(PlaySlider) = VideoFileIn1->VideoTime(); });
    Timer1->stop();
    if (FileLoaded) resumeNext("StopPlayback: decode ahead", [&] { VideoFileIn1->SetDecodeAhead(false); });
    if (!NoAudioDevice) resumeNext("StopPlayback: Stop", [&] { AudioPlayer->Stop(); });
    if (FileLoaded) resumeNext("StopPlayback: EndPlayback", [&] { VideoView1->EndPlayback(); });
}

namespace {

// The sound is the clock while the device plays what playback queued: it runs from the
// device's start-up, through its buffering, to the end of the sound.
bool soundIsTheClock(bool noAudioDevice, AudioPlayer* player) {
    return !noAudioDevice && player && player->isPlaying() && player->QueuedSamples() > 0;
}

}  // namespace

void frmMain::Timer1_Timer() {
    if (!FileLoaded) return;
    if (soundStartsWithPicture_) {
        // A few frames decoded ahead: a decoder that barely keeps pace would otherwise keep
        // its start-up delay behind the sound for good.
        const int32_t after =
            std::min(kFramesReadyAtStart, VideoFileIn1->FrameCount() - VideoFileIn1->CurrentFrame() - 1);
        if (!VideoFileIn1->NextFrameReady(std::max(0, after))) return;
        startSoundAndClock();
    }
    const int k = PlaySlider;
    const uint32_t now = platform().GetTickCount();
    // With the sound as the clock, the start tick is moved to where the played sound puts
    // it; when the sound stops, the tick clock carries on from there without a jump.
    if (soundIsTheClock(NoAudioDevice, AudioPlayer.get()))
        PlayStartTick =
            static_cast<int32_t>(now - static_cast<uint32_t>(AudioPlayer->SamplesToMs(AudioPlayer->PlayedSamples())));
    // The tick difference is taken modulo 2^32, so the counter's wrap never disturbs it.
    const int32_t elapsed = tickDifference(now, static_cast<uint32_t>(PlayStartTick));
    const int32_t clock = add32(elapsed, PlayPosition.at(k));
    VideoFileIn1->PlayClock(clock);
    const int32_t lag = sub32(clock, VideoFileIn1->VideoTime());
    const PacingDecision decision = pacingFor(lag, framePeriodMs(VideoFileIn1->FrameRate()));
    if (!decision.show) return;
    // A frame still being decoded is shown at a later tick: the window never waits for the
    // decoder, so the sound is fed and the window answers meanwhile.
    if (!VideoFileIn1->NextFrameReady()) return;
    // Frames too late to show are passed, as far as the decoder has reached: each only when
    // the one after it is decoded too, which is then shown.
    for (int passed = 0; passed < decision.drop && VideoFileIn1->NextFrameReady(1); ++passed) {
        VideoFileIn1->SkipFrames(1);
        VideoFileIn1->ReadVideoFrame();
    }
    InternalMarkerChange = true;
    setMarker(k, VideoFileIn1->CurrentFrame());
    if (selection_.marker(k) == selection_.lastFrame()) {
        if (Playing) cmdPlayStop_Click();
        setMarker(k, 1);
        PlayPosition.at(k) = 1;
    }
    InternalMarkerChange = false;
    ShowPreviewFrame();
}

void frmMain::AudioPlayer_EndArrayPlay() {
    if (!NoAudioDevice) RefillAudioBuffer();
}

void frmMain::AudioPlayer_EndPlay() {
    if (!NoAudioDevice) AudioPlayer->Stop();
}

void frmMain::RefillAudioBuffer() {
    const int32_t queued = sub32(AudioPlayer->QueuedSamples(), AudioPlayer->PlayedSamples());
    if (AudioPlayer->SamplesToMs(queued) > 2000) return;
    int64_t budget = AudioPlayer->MsToSamples(9000);
    for (int i = 0; i <= 100; ++i) {
        AudioChunk chunk = VideoFileIn1->ReadAudio(0);
        const auto upper = static_cast<int64_t>(chunk.size()) - 1;
        if (upper <= 0) break;
        AudioPlayer->QueueSamples(chunk);
        budget -= upper;
        if (budget <= 0) break;
    }
}

void frmMain::recoverFromTickFailure() {
    // A reader or player failure during playback stops it cleanly; the window stays usable.
    InternalMarkerChange = false;
    if (Playing) resumeNext("recoverFromTickFailure: StopPlayback", [&] { StopPlayback(); });
}
