#pragma once
// A sound device for the tests and the benchmark, and a recorder of what reaches it.
//
// soundDevice() looks for a sound server once per process. When none answers, it starts a
// private PulseAudio server with a null sink in a temporary folder, points this process and
// its children at it (PULSE_SERVER) and stops it when the process ends; a parent-death
// signal stops it too when the process is killed. Call it before anything asks Qt for sound
// devices: Qt Multimedia connects to the server once.
//
// A null sink that nobody asks for a short latency renders two seconds ahead, and a new
// stream's sound then reaches it only after that silence. The private server therefore
// keeps a low-latency recorder on the sink's monitor for its whole life, as a sound card's
// sink would run with the latency its streams ask for.
//
// Header-only: compiled into the test programs and the benchmark.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QAudioDevice>
#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QMediaDevices>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <cstdlib>
#include <cstring>
#include <vector>

extern char** environ;

namespace sound {

struct Device {
    bool available = false;
    bool privateServer = false;
    QString reason;  // why there is no device
};

// Starts program with args (found on PATH), stdout into outPath, stderr into errPath; the
// child gets SIGTERM when this process dies. Returns the pid, or -1.
inline pid_t spawn(const QString& program, const QStringList& args, const QStringList& extraEnv, const QString& outPath,
                   const QString& errPath) {
    const QString path = QStandardPaths::findExecutable(program);
    if (path.isEmpty()) return -1;
    std::vector<QByteArray> storage{QFile::encodeName(path)};
    for (const QString& a : args) storage.push_back(a.toLocal8Bit());
    const size_t argCount = storage.size();
    for (const QString& e : extraEnv) storage.push_back(e.toLocal8Bit());
    for (char** e = environ; *e; ++e) storage.emplace_back(*e);
    std::vector<char*> argv, envp;
    for (size_t i = 0; i < storage.size(); ++i) (i < argCount ? argv : envp).push_back(storage[i].data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    const QByteArray out = QFile::encodeName(outPath), err = QFile::encodeName(errPath);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0) return pid;
    // The child: only async-signal-safe calls until exec.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(1);
    const int in = open("/dev/null", O_RDONLY);
    const int o = open(out.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int e = open(err.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || o < 0 || e < 0) _exit(126);
    dup2(in, STDIN_FILENO);
    dup2(o, STDOUT_FILENO);
    dup2(e, STDERR_FILENO);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
}

// Ends a child started by spawn: SIGTERM, then SIGKILL after two seconds.
inline void end(pid_t& pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            pid = -1;
            return;
        }
        QThread::msleep(20);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
}

inline bool exited(pid_t pid) { return waitpid(pid, nullptr, WNOHANG) == pid; }

// Runs a short command with a five-second limit; true when it succeeded.
inline bool runQuick(const QString& program, const QStringList& args, QByteArray* out = nullptr,
                     const QStringList& extraEnv = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", "C");
    for (const QString& e : extraEnv) env.insert(e.section('=', 0, 0), e.section('=', 1));
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForStarted(5000)) return false;
    if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished(1000);
        return false;
    }
    if (out) *out = p.readAllStandardOutput();
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

inline bool socketAnswers(const QByteArray& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.constData(), sizeof(addr.sun_path) - 1);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    close(fd);
    return ok;
}

class Server {
public:
    Server() { start(); }
    ~Server() {
        end(keeper_);
        end(server_);
    }
    const Device& device() const { return device_; }

private:
    void start() {
        // A server that already runs (a desktop session, or PULSE_SERVER set by the caller) is
        // used as it is. The check must not start one by itself.
        const QString noSpawn = folder_.path() + "/client.conf";
        QFile conf(noSpawn);
        if (conf.open(QIODevice::WriteOnly)) conf.write("autospawn = no\n");
        conf.close();
        if (QStandardPaths::findExecutable("pactl").isEmpty() || QStandardPaths::findExecutable("parec").isEmpty()) {
            device_.reason = "pactl or parec is missing (Debian package pulseaudio-utils)";
            return;
        }
        if (runQuick("pactl", {"info"}, nullptr, {"PULSE_CLIENTCONFIG=" + noSpawn})) {
            device_.available = true;
            return;
        }
        if (QStandardPaths::findExecutable("pulseaudio").isEmpty()) {
            device_.reason = "no sound server runs and pulseaudio is missing (Debian package pulseaudio)";
            return;
        }
        const QString dir = folder_.path();
        const QByteArray socketPath = QFile::encodeName(dir + "/native");
        const QString log = dir + "/server.log";
        server_ = spawn("pulseaudio",
                        {"--daemonize=no", "--system=false", "--exit-idle-time=-1", "-n", "--use-pid-file=false",
                         "--disable-shm=true", "--realtime=false", "--high-priority=false", "--log-target=stderr",
                         "--load=module-null-sink sink_name=korvelin_null",
                         "--load=module-native-protocol-unix auth-anonymous=1 socket=" + QFile::decodeName(socketPath)},
                        {"PULSE_RUNTIME_PATH=" + dir, "PULSE_STATE_PATH=" + dir + "/state", "HOME=" + dir,
                         "XDG_CONFIG_HOME=" + dir + "/config", "XDG_RUNTIME_DIR=" + dir},
                        "/dev/null", log);
        QElapsedTimer waited;
        waited.start();
        while (server_ > 0 && !socketAnswers(socketPath) && !exited(server_) && waited.elapsed() < 10000)
            QThread::msleep(20);
        if (server_ <= 0 || !socketAnswers(socketPath)) {
            QFile f(log);
            f.open(QIODevice::ReadOnly);
            device_.reason =
                "the private PulseAudio server did not start: " + QString::fromLocal8Bit(f.readAll()).trimmed();
            end(server_);
            return;
        }
        qputenv("PULSE_SERVER", "unix:" + socketPath);
        qputenv("PULSE_CLIENTCONFIG", QFile::encodeName(noSpawn));
        keeper_ = spawn("parec", {"--device=korvelin_null.monitor", "--latency-msec=10", "--raw"}, {}, "/dev/null",
                        "/dev/null");
        // Until the null sink's first two seconds have played out, its latency is theirs.
        const QRegularExpression latency(R"(Latency: (\d+) usec)");
        waited.restart();
        while (waited.elapsed() < 5000) {
            QByteArray sinks;
            runQuick("pactl", {"list", "sinks"}, &sinks);
            const auto m = latency.match(QString::fromLatin1(sinks));
            if (m.hasMatch() && m.captured(1).toLongLong() < 50000) break;
            QThread::msleep(50);
        }
        device_.available = true;
        device_.privateServer = true;
    }

    QTemporaryDir folder_{QDir::tempPath() + "/korvelin-sound-XXXXXX"};
    pid_t server_ = -1;
    pid_t keeper_ = -1;
    Device device_;
};

}  // namespace sound

// The sound device of this process (see above); looked for at the first call.
inline const sound::Device& soundDevice() {
    static sound::Server server;
    return server.device();
}

// Records what reaches the output the audio player uses (Qt's first output), as signed
// 16-bit samples at the given rate and channel count.
class MonitorRecording {
public:
    MonitorRecording(int rate, int channels) : rate_(rate), channels_(channels) {
        const QList<QAudioDevice> outputs = QMediaDevices::audioOutputs();
        if (outputs.isEmpty()) return;
        path_ = folder_.path() + "/monitor.raw";
        pid_ = sound::spawn("parec",
                            {"--device=" + QString::fromUtf8(outputs.first().id()) + ".monitor", "--format=s16le",
                             QStringLiteral("--rate=%1").arg(rate), QStringLiteral("--channels=%1").arg(channels),
                             "--latency-msec=10", "--raw"},
                            {}, path_, folder_.path() + "/parec.log");
    }
    ~MonitorRecording() { sound::end(pid_); }

    // Waits until the recorder delivers (up to five seconds); false when it does not.
    bool waitUntilRecording() {
        QElapsedTimer waited;
        waited.start();
        while (pid_ > 0 && QFile(path_).size() == 0 && waited.elapsed() < 5000) QThread::msleep(10);
        return pid_ > 0 && QFile(path_).size() > 0;
    }
    // Reads what arrived since the last call, noting when (by nowMs) the first sound above
    // the threshold reached the sink.
    template <typename Clock>
    void poll(Clock nowMs, int threshold = 200) {
        QFile f(path_);
        if (path_.isEmpty() || !f.open(QIODevice::ReadOnly) || !f.seek(read_)) return;
        const qint64 available = f.size() - read_;
        const QByteArray fresh = f.read(available - available % 2);
        const double now = nowMs();
        const auto* s = reinterpret_cast<const int16_t*>(fresh.constData());
        const qsizetype n = fresh.size() / 2;
        const qint64 blockSamples = qint64(rate_) * channels_ / 100;  // 10 ms
        for (qsizetype i = 0; i < n; ++i) {
            if (std::abs(s[i]) <= threshold) continue;
            if (firstSoundMs_ < 0) {
                firstSoundMs_ = now - double(n - i) / channels_ * 1000.0 / rate_;
            }
            const qint64 block = (read_ / 2 + i) / blockSamples;
            if (block != lastSoundBlock_) ++soundBlocks_, lastSoundBlock_ = block;
        }
        read_ += fresh.size();
    }
    // When the first sound reached the sink (by the clock given to poll); negative before.
    double firstSoundMs() const { return firstSoundMs_; }
    // How much sound (not silence) has reached the sink, counted in 10 ms blocks.
    double heardMs() const { return soundBlocks_ * 10.0; }
    // Stops recording and returns all samples.
    std::vector<int16_t> stop() {
        sound::end(pid_);
        QFile f(path_);
        std::vector<int16_t> samples;
        if (!f.open(QIODevice::ReadOnly)) return samples;
        const QByteArray all = f.readAll();
        samples.resize(size_t(all.size() / 2));
        std::memcpy(samples.data(), all.constData(), samples.size() * 2);
        return samples;
    }
    // The time from the first to the last sample above the threshold, in ms.
    double soundSpanMs(const std::vector<int16_t>& samples, int threshold = 200) const {
        qsizetype first = -1, last = -1;
        for (size_t i = 0; i < samples.size(); ++i)
            if (std::abs(samples[i]) > threshold) {
                if (first < 0) first = qsizetype(i);
                last = qsizetype(i);
            }
        return first < 0 ? 0 : double(last - first) / channels_ * 1000.0 / rate_;
    }

private:
    int rate_, channels_;
    QTemporaryDir folder_{QDir::tempPath() + "/korvelin-monitor-XXXXXX"};
    QString path_;
    pid_t pid_ = -1;
    qint64 read_ = 0;
    qint64 lastSoundBlock_ = -1;
    qint64 soundBlocks_ = 0;
    double firstSoundMs_ = -1;
};
