// Case "cut": the cut job through the window's own handlers (offscreen) on the 1080p clip, side
// by side with the ffmpeg command line cutting the same range (-ss ... -to ...) with the same
// transcode: MPEG-4 Part 2 at quantiser 4, keyframes every 250 frames, no B-frames, PCM audio
// in AVI, threads automatic on both sides (the window's default AVI settings).
//
// Every job runs in a child process (this program again, case "cut-child", told what to do
// through the environment), so that each one's peak memory is its own: the parent reads the
// child's wall time and peak resident memory from wait4(). The child reports how long the
// Cut click itself took; the figure compares that with ffmpeg's whole run, and a note gives
// our whole run too (start-up and opening the source, whose frame index reads the file once).
// Peak memory is measured on a range and on one four times longer; it must not grow with it.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

#include "Bench.h"
#include "window/frmMain.h"

extern char** environ;

namespace {

constexpr int kClipSeconds = 50;
constexpr int kFirstFrame = 251;   // 10.00 s
constexpr int kShortFrames = 250;  // 10 s
constexpr int kLongFrames = 1000;  // 40 s
constexpr int kRuns = 3;
constexpr double kFps = 25;

// ---- the child: one cut through the window ----

void cutChild() {
    const QString in = qEnvironmentVariable("KORVELIN_CUT_IN"), out = qEnvironmentVariable("KORVELIN_CUT_OUT");
    const int from = qEnvironmentVariableIntValue("KORVELIN_CUT_FROM"),
              to = qEnvironmentVariableIntValue("KORVELIN_CUT_TO");
    if (in.isEmpty() || out.isEmpty()) return;  // only ever run as the parent's child
    QTemporaryDir home;
    qputenv("KORVELIN_REGISTRY_DIR", (home.path() + "/registry").toUtf8());
    qputenv("KORVELIN_SETTINGS_DIR", (home.path() + "/settings").toUtf8());
    ScriptedDialogs dialogs;
    WindowServices services;
    services.dialogs = &dialogs;
    services.showSplash = false;
    services.endProgram = [] {};
    services.anotherCopyRunning = [] { return false; };
    frmMain window(std::move(services));
    window.Form_Load();
    window.OpenSourceVideo(in);
    if (!window.FileLoaded) std::exit(3);
    dialogs.fileAnswers = {{out, 0}};
    window.cmdOutFile_Click();
    window.SliderTimePosition1->setValue(from);
    window.SliderTimePosition2->setValue(to);

    const double start = bench::nowMs();
    window.cmdCut->click();
    const double ms = bench::nowMs() - start;
    if (dialogs.shownMessages.isEmpty() || dialogs.shownMessages.last().text != window.Messages[Msg::CutFinished]) {
        std::fprintf(stderr, "cut failed: %s\n",
                     dialogs.shownMessages.isEmpty() ? "no message" : qPrintable(dialogs.shownMessages.last().text));
        std::exit(4);
    }
    std::fprintf(stderr, "cut-ms %.1f\n", ms);
}

// ---- the parent ----

struct ChildRun : bench::ChildRun {
    double jobMs = -1;  // the Cut click (our child only)
    int frames = 0;     // video frames in the file written
};

// A run of the shared runner, with the job time a child of ours writes to its standard error.
ChildRun runChild(const QString& program, const QStringList& args, const QStringList& extraEnv = {}) {
    ChildRun run;
    static_cast<bench::ChildRun&>(run) = bench::runChild(program, args, extraEnv);
    if (run.ms < 0) std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), run.errors.constData());
    const qsizetype at = run.errors.indexOf("cut-ms ");
    if (at >= 0) run.jobMs = run.errors.mid(at + 7).trimmed().split('\n').first().toDouble();
    return run;
}

// Video frames in a file, as ffprobe counts its packets.
int videoFrames(const QString& path) {
    QByteArray out;
    if (bench::timeCommand("ffprobe",
                           {"-v", "error", "-select_streams", "v:0", "-count_packets", "-show_entries",
                            "stream=nb_read_packets", "-of", "csv=p=0", path},
                           &out) < 0)
        return -1;
    return out.trimmed().toInt();
}

ChildRun ours(const QString& clip, int frames) {
    const QString out = bench::benchFolder() + "/cut-ours_1.avi";
    QFile::remove(out);
    const QString last = QString::number(kFirstFrame + frames - 1);
    ChildRun run = runChild(QCoreApplication::applicationFilePath(), {"cut-child"},
                            {"KORVELIN_CUT_IN=" + clip, "KORVELIN_CUT_OUT=" + out,
                             "KORVELIN_CUT_FROM=" + QString::number(kFirstFrame), "KORVELIN_CUT_TO=" + last});
    run.frames = videoFrames(out);
    QFile::remove(out);
    return run;
}

ChildRun peer(const QString& clip, int frames) {
    const QString out = bench::benchFolder() + "/cut-ffmpeg.avi";
    const double from = (kFirstFrame - 1) / kFps, to = (kFirstFrame - 1 + frames) / kFps;
    // clang-format off
    ChildRun run = runChild("ffmpeg", {
        "-nostdin", "-v", "error", "-y",
        "-threads", "0", "-ss", QString::number(from, 'f', 3), "-to", QString::number(to, 'f', 3), "-i", clip,
        "-threads", "0", "-c:v", "mpeg4", "-q:v", "4", "-g", "250", "-bf", "0", "-vtag", "XVID",
        "-c:a", "pcm_s16le", "-f", "avi", out});
    // clang-format on
    run.frames = videoFrames(out);
    QFile::remove(out);
    return run;
}

void cut() {
    const QString clip = bench::clip1080p(kClipSeconds);
    bench::printNote(QStringLiteral("1080p H.264 + AAC clip of %1 s; range of %2 frames from frame %3; each run a "
                                    "child process; MPEG-4 Part 2 q4 + PCM in AVI; threads automatic")
                         .arg(kClipSeconds)
                         .arg(kShortFrames)
                         .arg(kFirstFrame));
    std::vector<double> jobFps, wholeFps, peerFps;
    ChildRun ourShort, peerShort;
    for (int i = 0; i < kRuns; ++i) {  // alternating, so both see the same machine load
        ourShort = ours(clip, kShortFrames);
        peerShort = peer(clip, kShortFrames);
        if (ourShort.ms <= 0 || ourShort.jobMs <= 0 || peerShort.ms <= 0) {
            bench::printNote("cut failed");
            return;
        }
        if (ourShort.frames != kShortFrames || std::abs(peerShort.frames - kShortFrames) > 1) {
            bench::printNote(QStringLiteral("wrong frame counts: ours %1, ffmpeg %2, wanted %3")
                                 .arg(ourShort.frames)
                                 .arg(peerShort.frames)
                                 .arg(kShortFrames));
            return;
        }
        jobFps.push_back(kShortFrames * 1000 / ourShort.jobMs);
        wholeFps.push_back(kShortFrames * 1000 / ourShort.ms);
        peerFps.push_back(kShortFrames * 1000 / peerShort.ms);
    }
    const double job = bench::median(jobFps), whole = bench::median(wholeFps), other = bench::median(peerFps);
    bench::printFigure("cut_fps_1080p_mpeg4", job, "fps", other, "fps", job / other, ">= 0.95");
    bench::printNote(QStringLiteral("whole process including start-up and opening the source: %1 fps (ratio %2)")
                         .arg(whole, 0, 'f', 1)
                         .arg(whole / other, 0, 'f', 2));

    const ChildRun ourLong = ours(clip, kLongFrames), peerLong = peer(clip, kLongFrames);
    bench::printFigure("cut_peak_memory_vs_ffmpeg_1080p", ourShort.peakMiB, "MiB", peerShort.peakMiB, "MiB",
                       ourShort.peakMiB / peerShort.peakMiB, "<= 1.3");
    bench::printFigure(QStringLiteral("cut_peak_memory_1080p_%1f").arg(kLongFrames), ourLong.peakMiB, "MiB",
                       ourShort.peakMiB, QStringLiteral("MiB (same, %1 frames)").arg(kShortFrames),
                       ourLong.peakMiB / ourShort.peakMiB, "<= 1.10");
    bench::printNote(QStringLiteral("ffmpeg peak memory: %1 MiB (%2 frames), %3 MiB (%4 frames)")
                         .arg(peerShort.peakMiB, 0, 'f', 1)
                         .arg(kShortFrames)
                         .arg(peerLong.peakMiB, 0, 'f', 1)
                         .arg(kLongFrames));
}

const bench::Register child("cut-child", cutChild);
const bench::Register parent("cut", cut);

}  // namespace
