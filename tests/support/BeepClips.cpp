#include "support/BeepClips.h"

#include <QFile>
#include <QFileInfo>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <stdexcept>

namespace beeps {
namespace {

constexpr int kWidth = 320, kHeight = 240, kFps = 25, kFrames = 300, kRate = 48000;

// Makes `name`.`ext` once: `write` fills a partial file that becomes the clip when it succeeds.
clips::Clip madeOnce(const QString& name, const QString& ext, const std::function<bool(const QString&)>& write) {
    clips::Clip c;
    c.name = name;
    c.path = clips::clipsFolder() + "/beeps-" + name + "." + ext;
    c.frames = kFrames;
    c.width = kWidth;
    c.height = kHeight;
    c.fps = kFps;
    c.audio = true;
    c.sampleRate = kRate;
    c.channels = 2;
    clips::makeOnce(c.path, write);
    return c;
}

// The sound: 40 ms of 1 kHz at every whole second, silence between.
QString beepWav() {
    return madeOnce("sound", "wav",
                    [](const QString& partial) {
                        const QString beep = QStringLiteral("0.5*sin(2*PI*1000*t)*lt(mod(t\\,1)\\,0.04)");
                        return clips::run(
                                   "ffmpeg",
                                   {"-nostdin", "-v", "error", "-f", "lavfi", "-i",
                                    QStringLiteral("aevalsrc=%1|%1:s=%2:d=%3").arg(beep).arg(kRate).arg(kFrames / kFps),
                                    "-c:a", "pcm_s16le", "-f", "wav", partial}) == 0;
                    })
        .path;
}

clips::Clip gstreamer(const QString& name, const QString& ext, const QString& mux, const QString& sound) {
    const clips::Clip raw = clips::make("beeps-pattern-raw", "yuv", kWidth, kHeight, kFps, kFrames, false,
                                        {"-f", "rawvideo", "-pix_fmt", "yuv420p"});
    const QString wav = beepWav();
    return madeOnce(name, ext, [&](const QString& partial) {
        const QString launch =
            QStringLiteral(
                "filesrc location=%1 ! rawvideoparse width=%2 height=%3 format=i420 framerate=%4/1 "
                "! x264enc speed-preset=veryfast key-int-max=25 bframes=3 option-string=scenecut=0:min-keyint=25 "
                "! h264parse ! queue ! %5 name=m ! filesink location=%6 "
                "filesrc location=%7 ! wavparse ! audioconvert ! %8 ! queue ! m.")
                .arg(raw.path)
                .arg(kWidth)
                .arg(kHeight)
                .arg(kFps)
                .arg(mux, partial, wav, sound);
        return clips::run("gst-launch-1.0", QStringList{"-q"} + launch.split(' ', Qt::SkipEmptyParts)) == 0;
    });
}

clips::Clip mkvmerged() {
    const clips::Clip video = clips::make("beeps-video", "h264", kWidth, kHeight, kFps, kFrames, false,
                                          {"-c:v", "libx264", "-preset", "veryfast", "-crf", "20", "-bf", "3", "-g",
                                           "25", "-keyint_min", "25", "-sc_threshold", "0", "-f", "h264"});
    const QString wav = beepWav();
    const QString ac3 = madeOnce("sound-ac3", "ac3", [&](const QString& partial) {
                            return clips::run("ffmpeg", {"-nostdin", "-v", "error", "-i", wav, "-c:a", "ac3", "-b:a",
                                                         "192k", "-f", "ac3", partial}) == 0;
                        }).path;
    return madeOnce("mkv_ac3", "mkv", [&](const QString& partial) {
        return clips::run("mkvmerge", {"-q", "-o", partial, "--default-duration", "0:25fps", video.path, ac3}) == 0;
    });
}

QList<double> numbers(const QByteArray& csv) {
    QList<double> values;
    for (const QByteArray& line : csv.split('\n')) {
        bool ok = false;
        const double v = line.trimmed().split(',').value(0).toDouble(&ok);
        if (ok) values << v;
    }
    return values;
}

// Presentation times (s) of every decoded picture, or of the first sound frame.
QList<double> frameTimes(const QString& path, const char* stream, bool firstOnly) {
    QStringList args{"-v",  "error",  "-select_streams", stream, "-show_entries", "frame=best_effort_timestamp_time",
                     "-of", "csv=p=0"};
    if (firstOnly)
        args << "-read_intervals"
             << "%+#1";
    QByteArray out;
    clips::run("ffprobe", args << path, &out);
    return numbers(out);
}

// Where each beep starts (s): the first loud sample after at least 0.3 s of quiet.
QList<double> beepStarts(const QString& path) {
    const QList<double> start = frameTimes(path, "a:0", true);
    QByteArray raw;
    if (start.isEmpty() || clips::run("ffmpeg",
                                      {"-nostdin", "-v", "error", "-i", path, "-map", "0:a:0", "-ac", "1", "-ar",
                                       QString::number(kRate), "-f", "s16le", "-"},
                                      &raw) != 0)
        return {};
    const auto* samples = reinterpret_cast<const int16_t*>(raw.constData());
    const qsizetype count = raw.size() / 2;
    int peak = 0;
    for (qsizetype i = 0; i < count; ++i) peak = std::max(peak, std::abs(int(samples[i])));
    QList<double> starts;
    qsizetype lastLoud = -kRate;
    for (qsizetype i = 0; i < count; ++i) {
        if (std::abs(int(samples[i])) * 4 < peak) continue;
        if (i - lastLoud > kRate * 3 / 10) starts << start[0] + double(i) / kRate;
        lastLoud = i;
    }
    return starts;
}

}  // namespace

clips::Clip clip(const QString& name) {
    if (name == "gst_ts")
        return gstreamer(name, "ts", "mpegtsmux", "voaacenc ! aacparse ! audio/mpeg,stream-format=adts");
    if (name == "gst_mp4") return gstreamer(name, "mp4", "mp4mux", "voaacenc");
    if (name == "mkv_ac3") return mkvmerged();
    throw std::runtime_error(("unknown beep clip " + name).toStdString());
}

QStringList clipNames() { return {"gst_ts", "gst_mp4", "mkv_ac3"}; }

QList<Beep> beepsAgainstPictures(const QString& path, int* extra) {
    const QList<int> shown = clips::decodeFrameNumbers(path);
    const QList<double> times = frameTimes(path, "v:0", false);
    QList<double> starts = beepStarts(path);
    QList<Beep> found;
    if (shown.size() != times.size()) return {{0, 1e9}};
    for (int j = 0; j < shown.size(); ++j) {
        if (shown[j] < 1 || (shown[j] - 1) % kFps != 0) continue;
        Beep b{shown[j], 1000};
        int nearest = -1;
        for (int k = 0; k < starts.size(); ++k)
            if (nearest < 0 || std::abs(starts[k] - times[j]) < std::abs(starts[nearest] - times[j])) nearest = k;
        if (nearest >= 0 && std::abs(starts[nearest] - times[j]) < 0.5) {
            b.offsetMs = (starts[nearest] - times[j]) * 1000;
            starts.removeAt(nearest);
        }
        found << b;
    }
    if (extra) *extra = int(starts.size());
    return found;
}

}  // namespace beeps
