#pragma once
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

// The benchmark program: cases register themselves by name; `korvelin_bench [case...]` runs
// the named cases (all when none is named). Each figure is printed as
//   NAME: VALUE UNIT (peer: VALUE UNIT, ratio: R, goal: G)
class OpenedSource;
class OriginalJob;

namespace bench {

struct Case {
    QString name;
    std::function<void()> run;
};
std::vector<Case>& cases();
struct Register {
    Register(const QString& name, std::function<void()> run) { cases().push_back({name, std::move(run)}); }
};

void printFigure(const QString& name, double value, const QString& unit, double peer, const QString& peerUnit,
                 double ratio, const QString& goal);
void printNote(const QString& text);

double median(std::vector<double> values);
double nowMs();  // monotonic clock in milliseconds
// Runs a command line program; returns wall time in ms (negative when it failed).
double timeCommand(const QString& program, const QStringList& args, QByteArray* out = nullptr);
// Peak resident memory of this process in MiB.
double peakRssMiB();

// One run of a child process: wall time, the child's own peak resident memory and what it
// wrote to its standard error (its standard output is discarded). ms < 0 when it failed.
struct ChildRun {
    double ms = -1;
    double peakMiB = 0;
    QByteArray errors;
};
ChildRun runChild(const QString& program, const QStringList& args, const QStringList& extraEnv = {});

// The ffprobe arguments that count a clip's video packets, reading the whole file as the
// reader's index does.
QStringList countVideoPacketsArgs(const QString& clip);

// The child process of a lossless cut case: opens $KORVELIN_CUT_IN as the window does (its
// index made), runs the job `make` gives for it and $KORVELIN_CUT_OUT to its end, and returns
// the job with its time in *ms. Null when the process is not such a child; a job that does not
// finish ends the process with its failure on standard error.
using MakeOriginalJob =
    std::function<std::unique_ptr<OriginalJob>(std::shared_ptr<const OpenedSource> source, const QString& out)>;
std::unique_ptr<OriginalJob> runOriginalChild(const MakeOriginalJob& make, double* ms);

// The time of frame number `frame` (1 for the first) at `fps`, as ffmpeg's -ss takes it.
QString frameStart(int frame, double fps);
// ffmpeg decoding frames first..last of a clip at `fps` and encoding them as our edge pieces
// are encoded (x264, superfast, CRF 15, B-pyramid); nothing is run when last < first.
ChildRun ffmpegEdge(const QString& clip, double fps, int first, int last);

// Drops the file's pages from the system's cache, as after a reboot or once other files have
// pushed it out (a one-hour recording larger than the memory).
void evictFromCache(const QString& path);

// Folder for benchmark clips ($KORVELIN_BENCH_DIR, default /tmp/korvelin-bench).
QString benchFolder();
// The clip `name` in the benchmark folder, made once by ffmpeg with `args` (the output file
// follows them) and reused; the program ends when ffmpeg cannot make it.
QString ffmpegClip(const QString& name, const QStringList& args);
// A 1080p H.264 clip with AAC audio of the given length in seconds, made once and reused.
QString clip1080p(int seconds = 130);
// A 640x360 H.264 clip with AAC audio.
QString clip360p(int seconds = 70);

}  // namespace bench
