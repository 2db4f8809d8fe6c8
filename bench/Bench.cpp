#include "Bench.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <algorithm>
#include <cstdio>

extern char** environ;

#include "engine/reader/FfmpegReader.h"
#include "jobs/OriginalJob.h"

namespace bench {

std::vector<Case>& cases() {
    static std::vector<Case> all;
    return all;
}

void printFigure(const QString& name, double value, const QString& unit, double peer, const QString& peerUnit,
                 double ratio, const QString& goal) {
    std::printf("%s: %.3g %s (peer: %.3g %s, ratio: %.2f, goal: %s)\n", qPrintable(name), value, qPrintable(unit), peer,
                qPrintable(peerUnit), ratio, qPrintable(goal));
    std::fflush(stdout);
}

void printNote(const QString& text) {
    std::printf("# %s\n", qPrintable(text));
    std::fflush(stdout);
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double nowMs() {
    static QElapsedTimer timer;
    if (!timer.isValid()) timer.start();
    return timer.nsecsElapsed() / 1e6;
}

double timeCommand(const QString& program, const QStringList& args, QByteArray* out) {
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    const double start = nowMs();
    p.start(program, args);
    if (!p.waitForStarted() || !p.waitForFinished(-1)) return -1;
    const double elapsed = nowMs() - start;
    if (out) *out = p.readAllStandardOutput();
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), p.readAllStandardError().constData());
        return -1;
    }
    return elapsed;
}

double peakRssMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

ChildRun runChild(const QString& program, const QStringList& args, const QStringList& extraEnv) {
    // The child is started through the small launcher beside this program, so that the peak
    // memory wait4() gives is the child's own (see spawn_main.cpp).
    const QString peakReport = benchFolder() + QStringLiteral("/child-%1.peak").arg(getpid());
    const QString launcher = QCoreApplication::applicationDirPath() + "/korvelin_bench_spawn";
    std::vector<QByteArray> storage;
    std::vector<char*> argv, envp;
    storage.push_back(QFile::encodeName(launcher));
    storage.push_back(QFile::encodeName(peakReport));
    storage.push_back(QFile::encodeName(program));
    for (const QString& a : args) storage.push_back(a.toLocal8Bit());
    const size_t argCount = storage.size();
    for (char** e = environ; *e; ++e) storage.emplace_back(*e);
    for (const QString& e : extraEnv) storage.push_back(e.toLocal8Bit());
    for (size_t i = 0; i < storage.size(); ++i) (i < argCount ? argv : envp).push_back(storage[i].data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    const QString report = benchFolder() + QStringLiteral("/child-%1.stderr").arg(getpid());
    const QByteArray reportName = QFile::encodeName(report);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, reportName.constData(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    ChildRun run;
    QFile::remove(peakReport);
    const double start = nowMs();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return run;
    int status = 0;
    const bool ok = waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    const double elapsed = nowMs() - start;
    QFile errors(report);
    if (errors.open(QIODevice::ReadOnly)) run.errors = errors.readAll();
    errors.remove();
    QFile peak(peakReport);
    const QList<QByteArray> fields = peak.open(QIODevice::ReadOnly) ? peak.readAll().split(' ') : QList<QByteArray>{};
    peak.remove();
    if (!ok || fields.size() < 2) return run;
    run.ms = elapsed;
    run.peakMiB = fields[1].trimmed().toDouble() / 1024.0;
    return run;
}

QStringList countVideoPacketsArgs(const QString& clip) {
    return {"-v",
            "error",
            "-count_packets",
            "-select_streams",
            "v:0",
            "-show_entries",
            "stream=nb_read_packets",
            "-of",
            "csv=p=0",
            clip};
}

QString benchFolder() {
    const QString dir = qEnvironmentVariable("KORVELIN_BENCH_DIR", "/tmp/korvelin-bench");
    QDir().mkpath(dir);
    return dir;
}

QString ffmpegClip(const QString& name, const QStringList& args) {
    const QString path = benchFolder() + "/" + name;
    if (QFileInfo::exists(path)) return path;
    printNote("making " + path);
    const QString part = path + ".part." + QFileInfo(path).suffix();  // the extension names the container
    if (timeCommand("ffmpeg", QStringList{"-nostdin", "-loglevel", "error", "-y"} + args + QStringList{part}) < 0 ||
        !QFile::rename(part, path)) {
        std::fprintf(stderr, "could not make %s\n", qPrintable(path));
        std::exit(1);
    }
    return path;
}

namespace {
QString makeClip(const QString& name, const QString& size, int seconds) {
    return ffmpegClip(name, {"-f",       "lavfi",
                             "-i",       QStringLiteral("testsrc2=size=%1:rate=25,noise=alls=12:allf=t").arg(size),
                             "-f",       "lavfi",
                             "-i",       "sine=frequency=330:sample_rate=48000",
                             "-t",       QString::number(seconds),
                             "-c:v",     "libx264",
                             "-preset",  "veryfast",
                             "-crf",     "23",
                             "-g",       "50",
                             "-bf",      "2",
                             "-pix_fmt", "yuv420p",
                             "-c:a",     "aac",
                             "-ac",      "2"});
}
}  // namespace

QString clip1080p(int seconds) {
    return makeClip(QStringLiteral("h264-1080p-%1s.mp4").arg(seconds), "1920x1080", seconds);
}
QString clip360p(int seconds) { return makeClip(QStringLiteral("h264-360p-%1s.mp4").arg(seconds), "640x360", seconds); }

std::unique_ptr<OriginalJob> runOriginalChild(const MakeOriginalJob& make, double* ms) {
    const QString in = qEnvironmentVariable("KORVELIN_CUT_IN"), out = qEnvironmentVariable("KORVELIN_CUT_OUT");
    if (in.isEmpty() || out.isEmpty()) return nullptr;
    // The source is open in the window when a cut starts: its index is there already.
    const std::unique_ptr<VideoSource> reader = createVideoFileReader();
    reader->OpenFile(in);
    // The open read the whole file: a cold run starts with none of it in the cache.
    if (qEnvironmentVariableIsSet("KORVELIN_CUT_COLD")) evictFromCache(in);
    const double start = nowMs();
    std::unique_ptr<OriginalJob> job = make(reader->openedSource(), out);
    if (job->start())
        while (job->step()) {
        }
    *ms = nowMs() - start;
    if (job->outcome().kind != JobOutcome::Kind::Finished) {
        std::fprintf(stderr, "cut failed: %s\n", qPrintable(job->outcome().failure));
        std::exit(4);
    }
    return job;
}

void evictFromCache(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0) return;
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

QString frameStart(int frame, double fps) { return QString::number((frame - 1) / fps, 'f', 3); }

ChildRun ffmpegEdge(const QString& clip, double fps, int first, int last) {
    if (last < first) return {0, 0, {}};
    // clang-format off
    return runChild("ffmpeg", {
        "-nostdin", "-v", "error", "-ss", frameStart(first, fps), "-i", clip, "-an", "-frames:v", QString::number(last - first + 1),
        "-c:v", "libx264", "-preset", "superfast", "-crf", "15", "-bf", "3", "-x264-params", "scenecut=0:b-pyramid=normal",
        "-g", "1048576", "-f", "null", "-"});
    // clang-format on
}

}  // namespace bench

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList wanted = app.arguments().mid(1);
    for (const auto& c : bench::cases()) {
        if (!wanted.isEmpty() && !wanted.contains(c.name)) continue;
        bench::printNote("case " + c.name);
        c.run();
    }
    return 0;
}
