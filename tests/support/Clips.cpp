#include "support/Clips.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLockFile>
#include <QProcess>
#include <stdexcept>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace clips {
namespace {

constexpr int kBits = 16;
constexpr int kVersion = 2;  // bump to remake every clip after a change of the recipes

// Top half: block i is light when bit i of the frame number (1-based) is set; bottom half
// inverted, so each block is read by comparing its two halves.
QString patternFilter() {
    const QString bit = QStringLiteral("mod(floor((N+1)/pow(2,floor(X*%1/W))),2)").arg(kBits);
    return QStringLiteral("geq=lum='if(lt(Y,H/2),16+219*%1,235-219*%1)':cb=128:cr=128").arg(bit);
}

Clip describe(const QString& name, const QString& ext, int w, int h, double fps, int frames, bool audio, int rate,
              int channels) {
    Clip c;
    c.name = name;
    c.path = clipsFolder() + "/" + name + "-v" + QString::number(kVersion) + "." + ext;
    c.frames = frames;
    c.width = w;
    c.height = h;
    c.fps = fps;
    c.audio = audio;
    c.sampleRate = audio ? rate : 0;
    c.channels = audio ? channels : 0;
    return c;
}

}  // namespace

QString clipsFolder() {
    const QString dir = qEnvironmentVariable("KORVELIN_TEST_CLIPS", QStringLiteral(KORVELIN_TEST_CLIPS_DIR));
    QDir().mkpath(dir);
    return dir;
}

int run(const QString& program, const QStringList& args, QByteArray* out, int timeoutMs) {
    QProcess p;
    p.setProcessChannelMode(out ? QProcess::SeparateChannels : QProcess::ForwardedErrorChannel);
    p.start(program, args);
    if (!p.waitForStarted()) return -1;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return -2;
    }
    if (out) *out = p.readAllStandardOutput();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -3;
}

Clip make(const QString& name, const QString& ext, int w, int h, double fps, int frames, bool audio,
          const QStringList& outputOptions, int rate, int channels) {
    Clip c = describe(name, ext, w, h, fps, frames, audio, rate, channels);
    if (QFileInfo::exists(c.path)) return c;
    QLockFile lock(c.path + ".lock");
    lock.setStaleLockTime(0);
    lock.lock();
    if (QFileInfo::exists(c.path)) return c;

    const QString fpsText = QString::number(fps, 'g', 10);
    const double seconds = frames / fps;
    QStringList args{
        "-nostdin",
        "-loglevel",
        "error",
        "-y",
        "-f",
        "lavfi",
        "-i",
        QStringLiteral("color=c=black:s=%1x%2:r=%3,format=yuv420p,%4").arg(w).arg(h).arg(fpsText, patternFilter())};
    if (audio) {
        args << "-f"
             << "lavfi"
             << "-i"
             << QStringLiteral("sine=frequency=440:sample_rate=%1:duration=%2").arg(rate).arg(seconds, 0, 'f', 6);
    }
    // With sound, both streams end at the same time: a frame limit would stop the output
    // before the encoder's queued audio is written, leaving the sound short. Without sound
    // the frame limit holds even when a recipe moves frames in time.
    if (audio)
        args << "-t" << QString::number(seconds, 'f', 6) << "-ac" << QString::number(channels);
    else
        args << "-frames:v" << QString::number(frames);
    args << outputOptions;
    const QString partial = c.path + ".part." + ext;
    args << partial;
    const int code = run("ffmpeg", args);
    if (code != 0 || !QFile::rename(partial, c.path)) {
        QFile::remove(partial);
        throw std::runtime_error(("could not make test clip " + name).toStdString());
    }
    return c;
}

Clip get(const QString& name) {
    const QStringList pcm{"-c:v", "mjpeg", "-q:v", "3", "-pix_fmt", "yuvj420p", "-c:a", "pcm_s16le"};
    if (name == "avi_mjpeg_pcm") return make(name, "avi", 320, 240, 25, 100, true, pcm);
    if (name == "mpeg2_ps")
        return make(
            name, "mpg", 352, 288, 25, 100, true,
            {"-c:v", "mpeg2video", "-q:v", "3", "-bf", "2", "-g", "12", "-c:a", "mp2", "-b:a", "192k", "-f", "vob"},
            48000);
    if (name == "wmv_wma")
        return make(name, "wmv", 320, 240, 25, 100, true,
                    {"-c:v", "wmv2", "-q:v", "3", "-c:a", "wmav2", "-b:a", "128k"});
    if (name == "mp4_h264_aac")
        return make(name, "mp4", 320, 240, 30, 90, true,
                    {"-c:v", "libx264", "-preset", "veryfast", "-crf", "18", "-bf", "3", "-g", "24", "-x264-params",
                     "open-gop=1", "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a", "128k"});
    if (name == "mkv_mpeg4_vorbis")
        return make(name, "mkv", 320, 240, 25, 100, true,
                    {"-c:v", "mpeg4", "-q:v", "3", "-bf", "2", "-g", "20", "-c:a", "libvorbis"});
    if (name == "ts_h264_mp2")
        return make(name, "ts", 320, 240, 25, 100, true,
                    {"-c:v", "libx264", "-preset", "veryfast", "-crf", "18", "-bf", "2", "-g", "25", "-pix_fmt",
                     "yuv420p", "-c:a", "mp2", "-f", "mpegts"},
                    48000);
    if (name == "webm_vp8_opus")
        return make(name, "webm", 320, 240, 25, 100, true,
                    {"-c:v", "libvpx", "-b:v", "1M", "-g", "30", "-c:a", "libopus"}, 48000);
    if (name == "avi_noaudio")
        return make(name, "avi", 320, 240, 25, 50, false, {"-c:v", "mjpeg", "-q:v", "3", "-pix_fmt", "yuvj420p"});
    if (name == "oneframe")
        return make(name, "avi", 320, 240, 25, 1, false, {"-c:v", "mjpeg", "-q:v", "3", "-pix_fmt", "yuvj420p"});
    if (name == "long_mpeg4")
        return make(name, "avi", 320, 240, 25, 600, true,
                    {"-c:v", "mpeg4", "-q:v", "4", "-bf", "2", "-g", "50", "-c:a", "pcm_s16le"});
    if (name == "audio_only") {
        Clip c = describe(name, "wav", 0, 0, 0, 0, true, 44100, 2);
        if (!QFileInfo::exists(c.path)) {
            const QString partial = c.path + ".part.wav";
            if (run("ffmpeg", {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                               "sine=frequency=440:sample_rate=44100:duration=2", "-ac", "2", partial}) != 0 ||
                !QFile::rename(partial, c.path))
                throw std::runtime_error("could not make the audio-only clip");
        }
        return c;
    }
    throw std::runtime_error(("unknown test clip " + name).toStdString());
}

QStringList videoClipNames() {
    return {"avi_mjpeg_pcm", "mpeg2_ps", "wmv_wma", "mp4_h264_aac", "mkv_mpeg4_vorbis", "ts_h264_mp2", "webm_vp8_opus"};
}

int frameNumberOf(const QImage& source) {
    if (source.isNull()) return -1;
    const QImage image = source.convertToFormat(QImage::Format_Grayscale8);
    const int w = image.width(), h = image.height();
    auto average = [&](int cx, int cy) {
        const int rx = std::max(1, w / (kBits * 4)), ry = std::max(1, h / 16);
        long sum = 0, n = 0;
        for (int y = cy - ry; y <= cy + ry; ++y)
            for (int x = cx - rx; x <= cx + rx; ++x)
                if (x >= 0 && y >= 0 && x < w && y < h) sum += image.constScanLine(y)[x], ++n;
        return n ? int(sum / n) : 0;
    };
    int number = 0;
    for (int i = 0; i < kBits; ++i) {
        const int cx = (2 * i + 1) * w / (2 * kBits);
        const int top = average(cx, h / 4), bottom = average(cx, 3 * h / 4);
        if (std::abs(top - bottom) < 60) return -1;
        if (top > bottom) number |= 1 << i;
    }
    return number;
}

int frameNumberOf(const FrameData& frame) {
    FrameConverter converter;
    return frameNumberOf(converter.toImage(frame));
}

QJsonObject probe(const QString& path, bool countFrames) {
    QStringList args{"-v", "error", "-print_format", "json", "-show_streams", "-show_format"};
    if (countFrames) args << "-count_frames";
    args << path;
    QByteArray out;
    if (run("ffprobe", args, &out) != 0) return {};
    return QJsonDocument::fromJson(out).object();
}

int probeFrameCount(const QString& path) {
    const QJsonObject info = probe(path, true);
    for (const auto& s : info["streams"].toArray()) {
        const QJsonObject stream = s.toObject();
        if (stream["codec_type"].toString() == "video") return stream["nb_read_frames"].toString().toInt();
    }
    return -1;
}

QList<int> decodeFrameNumbers(const QString& path) {
    // Decode to small grey pictures with the ffmpeg tool and read each pattern.
    QByteArray raw;
    const int w = 256, h = 64;
    if (run("ffmpeg",
            {"-nostdin", "-v", "error", "-i", path, "-map", "0:v:0", "-vsync", "passthrough", "-vf",
             QStringLiteral("scale=%1:%2").arg(w).arg(h), "-pix_fmt", "gray", "-f", "rawvideo", "-"},
            &raw) != 0)
        return {};
    QList<int> numbers;
    for (qsizetype off = 0; off + w * h <= raw.size(); off += w * h) {
        QImage image(reinterpret_cast<const uchar*>(raw.constData() + off), w, h, w, QImage::Format_Grayscale8);
        numbers << frameNumberOf(image);
    }
    return numbers;
}

void makeOnce(const QString& path, const std::function<bool(const QString& partial)>& write) {
    if (QFileInfo::exists(path)) return;
    QLockFile lock(path + ".lock");
    lock.setStaleLockTime(0);
    lock.lock();
    if (QFileInfo::exists(path)) return;
    const QString partial = path + ".part." + QFileInfo(path).suffix();
    if (!write(partial) || !QFile::rename(partial, path)) {
        QFile::remove(partial);
        throw std::runtime_error(("could not make test clip " + QFileInfo(path).fileName()).toStdString());
    }
}

}  // namespace clips
