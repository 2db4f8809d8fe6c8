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

const QString kX264 = QStringLiteral(
    "x264enc speed-preset=veryfast key-int-max=25 bframes=3 option-string=scenecut=0:min-keyint=25 ! h264parse");

clips::Clip gstreamer(const QString& name, const QString& ext, const QString& mux, const QString& sound,
                      const QString& video = kX264) {
    const clips::Clip raw = clips::make("beeps-pattern-raw", "yuv", kWidth, kHeight, kFps, kFrames, false,
                                        {"-f", "rawvideo", "-pix_fmt", "yuv420p"});
    const QString wav = beepWav();
    return madeOnce(name, ext, [&](const QString& partial) {
        const QString launch = QStringLiteral(
                                   "filesrc location=%1 ! rawvideoparse width=%2 height=%3 format=i420 framerate=%4/1 "
                                   "! %5 ! queue ! %6 name=m ! filesink location=%7 "
                                   "filesrc location=%8 ! wavparse ! audioconvert ! %9 ! queue ! m.")
                                   .arg(raw.path)
                                   .arg(kWidth)
                                   .arg(kHeight)
                                   .arg(kFps)
                                   .arg(video, mux, partial, wav, sound);
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

// The pattern and the beeps written by ffmpeg with `options` (sound mapped as they say).
clips::Clip ffmpegWrote(const QString& name, const QString& ext, const QStringList& options) {
    const clips::Clip raw = clips::make("beeps-pattern-raw", "yuv", kWidth, kHeight, kFps, kFrames, false,
                                        {"-f", "rawvideo", "-pix_fmt", "yuv420p"});
    const QString wav = beepWav();
    return madeOnce(name, ext, [&](const QString& partial) {
        return clips::run("ffmpeg", QStringList{"-nostdin", "-v", "error", "-f", "rawvideo", "-pix_fmt", "yuv420p",
                                                "-s", QStringLiteral("%1x%2").arg(kWidth).arg(kHeight), "-r",
                                                QString::number(kFps), "-i", raw.path, "-i", wav, "-map", "0:v"} +
                                        options + QStringList{partial}) == 0;
    });
}

clips::Clip mencoder() {
    const clips::Clip raw = clips::make("beeps-pattern-raw", "yuv", kWidth, kHeight, kFps, kFrames, false,
                                        {"-f", "rawvideo", "-pix_fmt", "yuv420p"});
    const QString wav = beepWav();
    return madeOnce("mencoder_avi", "avi", [&](const QString& partial) {
        // Every frame kept (-noskip -mc 0); MEncoder states its sound's start in the header.
        const QString options = QStringLiteral(
            "-really-quiet -demuxer rawvideo -rawvideo w=%1:h=%2:fps=%3:format=i420 -oac mp3lame -lameopts cbr:br=128 "
            "-ovc lavc -lavcopts vcodec=mpeg4:vbitrate=800:keyint=25:vmax_b_frames=2 -noskip -mc 0");
        return clips::run("mencoder", options.arg(kWidth).arg(kHeight).arg(kFps).split(' ') +
                                          QStringList{raw.path, "-audiofile", wav, "-o", partial}) == 0;
    });
}

clips::Clip handbrake() {
    const clips::Clip master =
        ffmpegWrote("handbrake-master", "mkv", {"-map", "1:a", "-c:v", "mpeg4", "-q:v", "1", "-c:a", "pcm_s16le"});
    return madeOnce("handbrake_m4v", "m4v", [&](const QString& partial) {
        QByteArray log;
        return clips::run("HandBrakeCLI",
                          {"-i", master.path, "-o", partial, "-f", "av_mp4", "-e", "x264", "-q", "22",
                           "--encoder-preset", "veryfast", "-x", "keyint=25:min-keyint=25", "--cfr", "-r", "25"},
                          &log) == 0;
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

// Presentation times (s) of every decoded picture, or of the first sound frame (two packets
// read: a first packet before zero, HandBrake's AAC, gives no frame of its own).
QList<double> frameTimes(const QString& path, const char* stream, bool firstOnly) {
    QStringList args{"-v",  "error",  "-select_streams", stream, "-show_entries", "frame=best_effort_timestamp_time",
                     "-of", "csv=p=0"};
    if (firstOnly)
        args << "-read_intervals"
             << "%+#2";
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
    if (name == "gst_avi_pcm")  // PCM in chunks of 4096 and 3584 bytes by turns
        return gstreamer(name, "avi", "avimux", "audio/x-raw,format=S16LE", "jpegenc");
    if (name == "dvd_vob")  // the sound twice
        return ffmpegWrote(name, "vob", {"-map", "1:a", "-map", "1:a", "-target", "pal-dvd"});
    if (name == "mencoder_avi") return mencoder();
    if (name == "divx_avi")
        return ffmpegWrote(name, "avi", {"-map", "1:a", "-c:v", "mpeg4", "-vtag", "DIVX", "-c:a", "libmp3lame"});
    if (name == "handbrake_m4v") return handbrake();
    if (name == "bluray_m2ts")
        return ffmpegWrote(name, "m2ts",
                           QStringLiteral("-map 1:a -map 1:a -c:v libx264 -preset veryfast -g 25 -bf 3 -c:a:0 "
                                          "pcm_bluray -sample_fmt:a:0 s32 -c:a:1 ac3 -mpegts_m2ts_mode 1 -f mpegts")
                               .split(' '));
    throw std::runtime_error(("unknown beep clip " + name).toStdString());
}

QStringList clipNames() { return {"gst_ts", "gst_mp4", "mkv_ac3"}; }

QList<Beep> beepsAgainstPictures(const QString& path, int* extra) {
    const QList<int> shown = clips::decodeFrameNumbers(path);
    QList<double> times = frameTimes(path, "v:0", false);
    // The last of reordered pictures may come without a time: it follows its predecessor.
    if (!times.isEmpty() && times.size() + 1 == shown.size()) times << times.last() + 1.0 / kFps;
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
