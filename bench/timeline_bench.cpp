// The timeline strip on a two-hour 1080p source (thumbnails, waveform, memory) and the window's
// event loop while a 1080p cut runs on the job's worker thread.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>

#include "Bench.h"
#include "BenchWindow.h"
#include "engine/reader/OpenedSource.h"
#include "engine/timeline/QuietScans.h"
#include "rules/TimelineLayout.h"
#include "window/frmMain.h"

namespace {

// A two-hour 1080p H.264 source with AAC sound (a tone, silent 3 s in every 10), made once: one
// minute encoded fast with key frames 10 s apart, then joined to itself 120 times unchanged.
QString twoHourClip() {
    const QString path = bench::benchFolder() + "/h264-1080p-2h.mp4";
    if (QFileInfo::exists(path)) return path;
    bench::printNote("making " + path);
    const QString minute = bench::benchFolder() + "/h264-1080p-60s-gop250.mp4";
    const double made = bench::timeCommand(
        "ffmpeg",
        {"-nostdin", "-loglevel", "error",    "-y",
         "-f",       "lavfi",     "-i",       "testsrc2=size=1920x1080:rate=25",
         "-f",       "lavfi",     "-i",       "aevalsrc=0.5*sin(2*PI*330*t)*lt(mod(t\\,10)\\,7):s=48000:c=stereo",
         "-t",       "60",        "-c:v",     "libx264",
         "-preset",  "ultrafast", "-b:v",     "600k",
         "-g",       "250",       "-pix_fmt", "yuv420p",
         "-c:a",     "aac",       "-b:a",     "96k",
         minute});
    QFile list(bench::benchFolder() + "/2h-list.txt");
    if (made < 0 || !list.open(QIODevice::WriteOnly)) std::exit(1);
    for (int i = 0; i < 120; ++i) list.write(QStringLiteral("file '%1'\n").arg(minute).toUtf8());
    list.close();
    const QString part = path + ".part.mp4";
    if (bench::timeCommand("ffmpeg", {"-nostdin", "-loglevel", "error", "-y", "-f", "concat", "-safe", "0", "-i",
                                      list.fileName(), "-c", "copy", part}) < 0 ||
        !QFile::rename(part, path))
        std::exit(1);
    return path;
}

// Runs the event loop until `done` or `limitMs`; returns the time taken (ms). The loop sleeps
// between events as the window's does (a check every 5 ms at least): a loop that spins would take
// a core from the background work it waits for.
template <typename F>
double waitFor(F&& done, double limitMs) {
    const double start = bench::nowMs();
    QTimer wake;
    wake.start(5);
    while (!done() && bench::nowMs() - start < limitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return bench::nowMs() - start;
}

void timelineStrip() {
    const QString clip = twoHourClip();
    BenchWindow b;
    frmMain& w = *b.window;
    w.OpenSourceVideo(clip);
    if (!w.FileLoaded) return bench::printNote("could not open the two-hour clip");
    // The background work starts as the open ends.
    TimelineStrip& strip = *w.Timeline1;
    const double start = bench::nowMs();
    const double thumbs = waitFor([&] { return strip.thumbnailsReady() == strip.thumbnailsWanted(); }, 600000);
    waitFor([&] { return strip.waveformReady(); }, 600000);
    const double waveTotal = bench::nowMs() - start;
    const double mib = strip.cacheBytes() / 1048576.0;
    const std::vector<int32_t> keys = strip.cleanStarts();
    // The black pictures' pass follows at idle priority; it would run beside the peers.
    strip.clearSource();

    // The peer: ffmpeg decoding each of the same key frames alone, seeking to it.
    const std::shared_ptr<const OpenedSource> opened = w.VideoFileIn1->openedSource();
    double peerThumbs = 0;
    const std::vector<int32_t> wanted =
        thumbnailKeyframes(keys, opened->index().frameCount(), TimelineStrip::kThumbnails);
    for (const int32_t frame : wanted) {
        const double seconds = (frame - 1) / w.VideoFileIn1->FrameRate();
        const double t = bench::timeCommand("ffmpeg", {"-nostdin", "-loglevel", "error", "-skip_frame", "nokey", "-ss",
                                                       QString::number(seconds, 'f', 3), "-i", clip, "-map", "0:v",
                                                       "-frames:v", "1", "-f", "null", "-"});
        peerThumbs += std::max(t, 0.0);
    }
    bench::printFigure("timeline_thumbnails_2h_1080p", thumbs, "ms", peerThumbs,
                       QStringLiteral("ms (ffmpeg -skip_frame nokey, %1 seeks)").arg(wanted.size()),
                       thumbs / peerThumbs, "<= 1.2");

    std::vector<double> peerWave;
    for (int i = 0; i < 3; ++i)
        peerWave.push_back(bench::timeCommand(
            "ffmpeg", {"-nostdin", "-loglevel", "error", "-i", clip, "-map", "0:a", "-f", "null", "-"}));
    const double peer = bench::median(peerWave);
    bench::printFigure("timeline_waveform_2h", waveTotal, "ms", peer, "ms (ffmpeg -map 0:a -f null)", waveTotal / peer,
                       "<= 1.0");
    bench::printFigure("timeline_memory_2h", mib, "MiB", 64, "MiB (limit)", mib / 64, "<= 1.0");
    bench::printNote(QStringLiteral("timeline: %1 thumbnails, %2 clean key frames, index %3 MiB")
                         .arg(TimelineStrip::kThumbnails)
                         .arg(keys.size())
                         .arg(opened->index().memoryBytes() / 1048576.0, 0, 'f', 1));
}

// Processor time the calling thread has used (ms).
double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// The longest pause of the window's event loop while a cut of `frames` 1080p frames runs, and
// how much of it the window's thread was running (the rest it waited for a processor).
struct Pause {
    double ms = 0;
    double runningMs = 0;
};

Pause longestPauseDuringCut(frmMain& w, OutputFormat format, const QString& output, int first, int frames) {
    w.chooseOutputFormat(format);
    w.EdOutFile->setText(output);
    w.SliderTimePosition1->setValue(first);
    w.SliderTimePosition2->setValue(first + frames - 1);
    QCoreApplication::processEvents();
    QTimer ticker;
    ticker.setInterval(2);
    QElapsedTimer clock;
    Pause longest;
    double last = 0, lastCpu = 0;
    auto tick = [&] {
        const double now = clock.nsecsElapsed() / 1e6, cpu = threadCpuMs();
        if (now - last > longest.ms) longest = {now - last, cpu - lastCpu};
        last = now;
        lastCpu = cpu;
    };
    QObject::connect(&ticker, &QTimer::timeout, tick);
    // The timer starts with the click: a pause includes whatever the click handler does itself.
    QTimer::singleShot(0, &w, [&] {
        clock.start();
        lastCpu = threadCpuMs();
        ticker.start();
        w.cmdCut_Click();
        tick();
        ticker.stop();
    });
    waitFor([&] { return clock.isValid() && !ticker.isActive(); }, 600000);
    return longest;
}

void stallDuringJob() {
    const QString clip = bench::clip1080p();
    BenchWindow b;
    frmMain& w = *b.window;
    w.PartnerAppPresent = true;
    w.OpenSourceVideo(clip);
    if (!w.FileLoaded) return bench::printNote("could not open the 1080p clip");
    QTemporaryDir out;
    const struct {
        OutputFormat format;
        const char* name;
        const char* file;
    } runs[] = {{OutputFormat::Avi, "avi", "cut.avi"}, {OutputFormat::Original, "original", "cut.mp4"}};
    for (const auto& run : runs) {
        std::vector<double> pauses;
        for (int i = 0; i < 3; ++i) {
            const Pause p = longestPauseDuringCut(
                w, run.format, out.path() + QStringLiteral("/%1-%2").arg(i).arg(run.file), 1013, 100);
            pauses.push_back(p.ms);
            bench::printNote(QStringLiteral("%1 cut %2: longest pause %3 ms, the window's thread running %4 ms of it")
                                 .arg(run.name)
                                 .arg(i + 1)
                                 .arg(p.ms, 0, 'f', 1)
                                 .arg(p.runningMs, 0, 'f', 1));
        }
        const double m = bench::median(pauses);
        bench::printFigure(QStringLiteral("window_stall_during_job_1080p_%1").arg(run.name), m, "ms", 40,
                           "ms (frame period)", m / 40, "<= 1.0");
    }
}

// The strip's black-picture pass on the 1080p clip (every reference picture decoded on one
// thread; the strip runs it at idle priority once the rest is done, so here it runs alone,
// timed as a pass) against ffmpeg's blackdetect filter decoding the same video with its threads.
void blackMarks() {
    const QString clip = bench::clip1080p();
    const std::shared_ptr<const OpenedSource> source = OpenedSource::open(clip);
    const std::atomic<bool> stop{false};
    std::vector<FrameSpan> found;
    const double start = bench::nowMs();
    scanBlack(source, stop, [&](const std::vector<FrameSpan>& blacks) { found = blacks; });
    const double ours = bench::nowMs() - start;
    const double peer = bench::timeCommand("ffmpeg", {"-nostdin", "-loglevel", "error", "-i", clip, "-map", "0:v",
                                                      "-vf", "blackdetect=d=0.5", "-f", "null", "-"});
    bench::printFigure("timeline_black_1080p", ours, "ms", peer, "ms (ffmpeg -vf blackdetect -f null)", ours / peer,
                       "none (background work)");
    bench::printNote(QStringLiteral("timeline black: %1 black runs found in %2 frames")
                         .arg(found.size())
                         .arg(source->index().frameCount()));
}

bench::Register strip("timeline_2h", timelineStrip);
bench::Register black("timeline_black", blackMarks);
bench::Register stall("window_stall_during_job", stallDuringJob);

}  // namespace
