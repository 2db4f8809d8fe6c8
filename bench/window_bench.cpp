// The window's own handlers on the 1080p clip: frame steps and drag moves compared with the
// reader alone, and real-time playback with the real clock.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "Bench.h"
#include "app/EngineFactory.h"
#include "app/frmMain.h"
#include "engine/platform/Platform.h"
#include "support/ForwardingReader.h"

namespace {

// A window with private settings and scripted dialogs, as a user's would be, but offscreen.
struct BenchWindow {
    QTemporaryDir home;
    ScriptedDialogs dialogs;
    std::unique_ptr<frmMain> window;
    explicit BenchWindow(std::function<void(WindowServices&)> adjust = {}) {
        qputenv("KORVELIN_REGISTRY_DIR", (home.path() + "/registry").toUtf8());
        qputenv("KORVELIN_SETTINGS_DIR", (home.path() + "/settings").toUtf8());
        qputenv("KORVELIN_LOCK_DIR", (home.path() + "/lock").toUtf8());
        WindowServices s;
        s.dialogs = &dialogs;
        s.showSplash = false;
        s.endProgram = [] {};
        if (adjust) adjust(s);
        window = std::make_unique<frmMain>(std::move(s));
        window->Form_Load();
    }
};

// Counts the frames playback reads without showing them.
struct CountingReader : ForwardingReader {
    int skipped = 0;
    void SkipFrames(int32_t n) override {
        skipped += n;
        real->SkipFrames(n);
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
    w.cmdPlayStop_Click();
    double worstLag = 0;
    std::vector<double> lags;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (!w.Playing) return;
        const double lag = tickDifference(platform().GetTickCount(), uint32_t(w.PlayStartTick)) +
                           w.PlayPosition[w.PlaySlider] - w.VideoFileIn1->VideoTime();
        worstLag = std::max(worstLag, lag);
        lags.push_back(lag);
    });
    probe.start(100);
    QElapsedTimer clock;
    clock.start();
    const int framesBefore = w.VideoFileIn1->CurrentFrame();
    while (clock.elapsed() < 60000 && w.Playing) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const int shownFrames = w.VideoFileIn1->CurrentFrame() - framesBefore - counting->skipped;
    const double seconds = clock.elapsed() / 1000.0;
    w.cmdPlayStop_Click();
    bench::printFigure(QStringLiteral("playback_worst_lag_%1").arg(name), worstLag, "ms", 1000, "ms (limit)",
                       worstLag / 1000, "< 1.00");
    bench::printNote(QStringLiteral("%1: median lag %2 ms, %3 frames dropped, %4 frames shown in %5 s (%6 fps)")
                         .arg(name)
                         .arg(bench::median(lags), 0, 'f', 0)
                         .arg(counting->skipped)
                         .arg(shownFrames)
                         .arg(seconds, 0, 'f', 1)
                         .arg(shownFrames / seconds, 0, 'f', 2));
}

bench::Register steps("window_steps", stepsAndDrags);
bench::Register play1080("playback_1080p", [] { playback(bench::clip1080p(), "1080p"); });
bench::Register play360("playback_360p", [] { playback(bench::clip360p(), "360p"); });

}  // namespace
