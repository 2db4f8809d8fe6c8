// The window's own handlers on the 1080p clip: frame steps and drag moves compared with the
// reader alone, and real-time playback with sound on the system's output (a private null
// sink when no sound server runs) and the real clock.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "Bench.h"
#include "BenchWindow.h"
#include "engine/platform/Platform.h"
#include "rules/PlaybackRules.h"
#include "support/ForwardingReader.h"
#include "support/SoundServer.h"
#include "window/EngineFactory.h"
#include "window/frmMain.h"

namespace {

// Counts the frames playback reads, and those it reads without showing them.
struct CountingReader : ForwardingReader {
    int skipped = 0;  // reads announced as not shown
    int reads = 0;
    int announced = 0;
    void SkipFrames(int32_t n) override {
        announced = n;
        real->SkipFrames(n);
    }
    FrameData ReadVideoFrame() override {
        ++reads;
        if (announced > 0) {
            --announced;
            ++skipped;
        }
        return real->ReadVideoFrame();
    }
};

template <typename F>
double timed(F&& f) {
    const double start = bench::nowMs();
    f();
    return bench::nowMs() - start;
}

void stepsAndDrags() {
    const QString clip = bench::clip1080p();
    const int samples = 60;

    // The reader alone.
    auto reader = createVideoFileReader();
    reader->OpenFile(clip);
    const int count = reader->FrameCount();
    std::vector<double> readerNext, readerPrev, readerRandom;
    reader->SeekFrame(count / 2);
    reader->ReadVideoFrame();
    for (int i = 0; i < samples; ++i)
        readerNext.push_back(timed([&] {
            reader->SeekFrame(reader->CurrentFrame() + 1);
            reader->ReadVideoFrame();
        }));
    for (int i = 0; i < samples; ++i)
        readerPrev.push_back(timed([&] {
            reader->SeekFrame(reader->CurrentFrame() - 1);
            reader->ReadVideoFrame();
        }));
    QRandomGenerator random(7);
    std::vector<int> targets;
    for (int i = 0; i < 20; ++i) targets.push_back(1 + random.bounded(count));
    for (int t : targets)
        readerRandom.push_back(timed([&] {
            reader->SeekFrame(t);
            reader->ReadVideoFrame();
        }));

    // The same through the window's handlers.
    BenchWindow b;
    frmMain& w = *b.window;
    w.OpenSourceVideo(clip);
    if (!w.FileLoaded) {
        bench::printNote("could not open the clip in the window");
        return;
    }
    w.SliderTimePosition1->setValue(count / 2);
    QCoreApplication::processEvents();
    std::vector<double> windowNext, windowPrev, windowDrag;
    for (int i = 0; i < samples; ++i) windowNext.push_back(timed([&] { w.cmdNextFrame_Click(); }));
    for (int i = 0; i < samples; ++i) windowPrev.push_back(timed([&] { w.cmdPrevFrame_Click(); }));
    // A drag move to a random frame: the thumb's move handler with the pointer where that
    // frame's thumb position lies.
    for (int t : targets) {
        const float travel = w.sldBack->Width() - w.sldThum->Width();
        const float wanted = w.sldBack->Left() + float(t) / count * travel;
        w.sldThum_MouseDown(1, 0, 0, 0);
        windowDrag.push_back(timed([&] { w.sldThum_MouseMove(1, 0, wanted - w.sldThum->Left(), 0); }));
        w.sldThum_MouseUp(1, 0, 0, 0);
    }
    // The paint that follows a step: one conversion of the 1080p frame for the screen.
    std::vector<double> paints;
    w.VideoView1->resize(308, 222);
    for (int i = 0; i < 20; ++i) {
        w.cmdNextFrame_Click();
        paints.push_back(timed([&] { w.VideoView1->grab(); }));
    }

    auto figure = [](const char* name, const std::vector<double>& mine, const std::vector<double>& peer) {
        const double m = bench::median(mine), p = bench::median(peer);
        bench::printFigure(name, m, "ms", p, "ms (reader alone)", m / p, "<= 1.10");
    };
    figure("window_next_frame_step_1080p", windowNext, readerNext);
    figure("window_prev_frame_step_1080p", windowPrev, readerPrev);
    figure("window_drag_to_random_frame_1080p", windowDrag, readerRandom);
    bench::printNote(QStringLiteral("preview paint of a 1080p frame at 308x222: %1 ms (median, at screen refresh)")
                         .arg(bench::median(paints), 0, 'f', 2));
}

// One start of playback: from the Play click, `seconds` of playing, then Stop.
struct PlaybackRun {
    double firstSoundMs = -1;     // click to the first sound reaching the sink
    double firstPictureMs = -1;   // click to the first frame other than the one on show
    std::vector<double> offsets;  // |shown frame's time - sound position| after the first second
    int dropped = 0;              // frames passed: read without being shown, or left out by the decoder
    int leftOut = 0;              // of them, left out by the decoder
    int shown = 0;
    double heardMs = 0;   // sound recorded at the sink's monitor
    double playedMs = 0;  // the player's played position at the end
};

int shownFrameNumber(const frmMain& w) {
    const auto view = viewFrame(w.FrameBits);
    return view ? view->header.frameNumber : -1;
}

PlaybackRun playOnce(frmMain& w, CountingReader& counting, double seconds) {
    PlaybackRun run;
    MonitorRecording recording(48000, 2);
    const bool recorded = !w.NoAudioDevice && recording.waitUntilRecording();
    counting.skipped = counting.reads = counting.announced = 0;
    const int frameBefore = shownFrameNumber(w);
    const int firstRead = w.VideoFileIn1->CurrentFrame();
    const double clicked = bench::nowMs();
    w.cmdPlayStop_Click();
    double lastSample = 0;
    bool soundStarted = false;
    while (w.Playing && bench::nowMs() - clicked < seconds * 1000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        const double now = bench::nowMs();
        if (recorded) recording.poll(bench::nowMs);
        const auto view = viewFrame(w.FrameBits);
        if (!view) continue;
        if (run.firstPictureMs < 0 && view->header.frameNumber != frameBefore) run.firstPictureMs = now - clicked;
        if (now - clicked < 1000 || now - lastSample < 5) continue;
        // The sound starts with the first picture: before it, nothing is out of step.
        const AudioPlayer& player = *w.AudioPlayer;
        soundStarted = soundStarted || player.isPlaying();
        if (!w.NoAudioDevice && !soundStarted) continue;
        lastSample = now;
        // The sound's played position; the tick clock when no sound plays.
        const double position =
            w.PlayPosition[w.PlaySlider] + (!w.NoAudioDevice && player.isPlaying()
                                                ? w.AudioPlayer->SamplesToMs(w.AudioPlayer->PlayedSamples())
                                                : tickDifference(platform().GetTickCount(), uint32_t(w.PlayStartTick)));
        run.offsets.push_back(std::abs(view->header.timeMs - position));
    }
    if (!w.NoAudioDevice) run.playedMs = w.AudioPlayer->SamplesToMs(w.AudioPlayer->PlayedSamples());
    if (recorded) {
        recording.poll(bench::nowMs);
        if (recording.firstSoundMs() >= 0) run.firstSoundMs = recording.firstSoundMs() - clicked;
        run.heardMs = recording.heardMs();
    }
    const int advanced = w.VideoFileIn1->CurrentFrame() - firstRead;
    run.shown = counting.reads - counting.skipped;
    run.dropped = advanced - run.shown;
    run.leftOut = advanced - counting.reads;
    if (w.Playing) w.cmdPlayStop_Click();
    return run;
}

void playback(const QString& clip, const char* name) {
    CountingReader* counting = nullptr;
    BenchWindow b([&](WindowServices& s) {
        s.makeReader = [&] {
            auto r = std::make_unique<CountingReader>();
            counting = r.get();
            return r;
        };
    });
    frmMain& w = *b.window;
    w.OpenSourceVideo(clip);
    if (!w.FileLoaded) return;
    if (w.NoAudioDevice)
        bench::printNote("no sound device (" + soundDevice().reason + "): offsets against the tick clock");
    else
        bench::printNote(soundDevice().privateServer ? "sound: private PulseAudio server, null sink"
                                                     : "sound: the running sound server");
    const double period = framePeriodMs(w.VideoFileIn1->FrameRate());
    // Whether this machine, as loaded now, decodes the picture in real time at all.
    const double decode8s = bench::timeCommand(
        "ffmpeg", {"-nostdin", "-loglevel", "error", "-t", "8", "-i", clip, "-an", "-f", "null", "-"});
    bench::printNote(
        QStringLiteral("%1: ffmpeg decodes 8 s of the picture in %2 s here").arg(name).arg(decode8s / 1000, 0, 'f', 2));
    std::vector<double> offsets, firstSound, firstPicture;
    int dropped = 0, shown = 0;
    for (int i = 0; i < 3; ++i) {
        const PlaybackRun run = playOnce(w, *counting, 8);
        offsets.insert(offsets.end(), run.offsets.begin(), run.offsets.end());
        if (run.firstSoundMs >= 0) firstSound.push_back(run.firstSoundMs);
        firstPicture.push_back(run.firstPictureMs);
        dropped += run.dropped;
        shown += run.shown;
        bench::printNote(QStringLiteral("%1 run %2: first sound %3 ms, first new picture %4 ms, %5 frames shown, "
                                        "%6 dropped (%7 left out by the decoder), sound heard at the sink %8 ms, "
                                        "played by the player %9 ms")
                             .arg(name)
                             .arg(i + 1)
                             .arg(run.firstSoundMs, 0, 'f', 1)
                             .arg(run.firstPictureMs, 0, 'f', 1)
                             .arg(run.shown)
                             .arg(run.dropped)
                             .arg(run.leftOut)
                             .arg(run.heardMs, 0, 'f', 0)
                             .arg(run.playedMs, 0, 'f', 0));
        QCoreApplication::processEvents();
    }
    if (!offsets.empty()) {
        std::vector<double> sorted = offsets;
        std::sort(sorted.begin(), sorted.end());
        bench::printNote(QStringLiteral("%1: %2 offset samples, 99th percentile %3 ms")
                             .arg(name)
                             .arg(sorted.size())
                             .arg(sorted[sorted.size() * 99 / 100], 0, 'f', 1));
    }
    const double median = bench::median(offsets);
    const double worst = offsets.empty() ? 0 : *std::max_element(offsets.begin(), offsets.end());
    const QString periodUnit = "ms (frame period)";
    bench::printFigure(QStringLiteral("playback_av_offset_median_%1").arg(name), median, "ms", period, periodUnit,
                       median / period, "<= 0.5");
    bench::printFigure(QStringLiteral("playback_av_offset_worst_%1").arg(name), worst, "ms", period, periodUnit,
                       worst / period, "<= 1.2");
    bench::printFigure(QStringLiteral("playback_frames_dropped_%1").arg(name), dropped, "frames", shown, "frames shown",
                       shown ? double(dropped) / shown : 0, "0");
    if (!firstSound.empty()) {
        const double m = bench::median(firstSound);
        bench::printFigure(QStringLiteral("playback_start_to_first_sound_%1").arg(name), m, "ms", 150, "ms (limit)",
                           m / 150, "<= 1.00");
    }
    const double p = bench::median(firstPicture);
    bench::printFigure(QStringLiteral("playback_start_to_first_picture_%1").arg(name), p, "ms", 150, "ms (limit)",
                       p / 150, "<= 1.00");
}

bench::Register steps("window_steps", stepsAndDrags);
bench::Register play1080("playback_1080p", [] { playback(bench::clip1080p(), "1080p"); });
bench::Register play360("playback_360p", [] { playback(bench::clip360p(), "360p"); });
// The same with two busy programs beside the player, each decoding and encoding nothing but
// keeping a core busy, as other programs on a two-core machine do.
bench::Register play1080loaded("playback_1080p_loaded", [] {
    const QString clip = bench::clip1080p();
    std::vector<std::unique_ptr<QProcess>> busy;
    for (int i = 0; i < 2; ++i) {
        busy.push_back(std::make_unique<QProcess>());
        busy.back()->start("ffmpeg", {"-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
                                      "testsrc2=size=1280x720:rate=1000", "-f", "null", "-"});
        busy.back()->waitForStarted();
    }
    bench::printNote("two busy ffmpeg processes beside the player");
    playback(clip, "1080p_loaded");
    for (auto& p : busy) {
        p->kill();
        p->waitForFinished();
    }
});

}  // namespace
