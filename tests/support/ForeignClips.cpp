#include "support/ForeignClips.h"

#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <functional>
#include <stdexcept>

namespace clips {
namespace {

constexpr int kWidth = 320, kHeight = 240, kFps = 25, kFrames = 90;

// Makes `path` once: `write` fills a partial file that becomes the clip when it succeeds.
Clip madeOnce(const QString& name, const QString& ext, bool audio,
              const std::function<bool(const QString& partial)>& write) {
    Clip c;
    c.name = name;
    c.path = clipsFolder() + "/" + name + "." + ext;
    c.frames = kFrames;
    c.width = kWidth;
    c.height = kHeight;
    c.fps = kFps;
    c.audio = audio;
    c.sampleRate = audio ? 48000 : 0;
    c.channels = audio ? 2 : 0;
    if (QFileInfo::exists(c.path)) return c;
    QLockFile lock(c.path + ".lock");
    lock.setStaleLockTime(0);
    lock.lock();
    if (QFileInfo::exists(c.path)) return c;
    const QString partial = c.path + ".part." + ext;
    if (!write(partial) || !QFile::rename(partial, c.path)) {
        QFile::remove(partial);
        throw std::runtime_error(("could not make test clip " + name).toStdString());
    }
    return c;
}

// GStreamer encodes and muxes the pattern (raw 4:2:0 frames from ffmpeg) with `video` and
// 3.6 s of its own test tone at 48 kHz with `sound`.
Clip gstreamer(const QString& name, const QString& ext, const QString& video, const QString& mux,
               const QString& sound) {
    const Clip raw =
        make("pattern-raw", "yuv", kWidth, kHeight, kFps, kFrames, false, {"-f", "rawvideo", "-pix_fmt", "yuv420p"});
    return madeOnce(name, ext, true, [&](const QString& partial) {
        const QString launch =
            QStringLiteral(
                "filesrc location=%1 ! rawvideoparse width=%2 height=%3 format=i420 framerate=%4/1 "
                "! %5 ! queue ! %6 name=m ! filesink location=%7 "
                "audiotestsrc num-buffers=%8 samplesperbuffer=%9 ! audio/x-raw,rate=48000,channels=2 "
                "! audioconvert ! %10 ! queue ! m.")
                .arg(raw.path)
                .arg(kWidth)
                .arg(kHeight)
                .arg(kFps)
                .arg(video, mux, partial)
                .arg(kFrames)
                .arg(48000 / kFps)
                .arg(sound);
        return run("gst-launch-1.0", QStringList{"-q"} + launch.split(' ', Qt::SkipEmptyParts)) == 0;
    });
}

const QString kX264 = QStringLiteral(
    "x264enc speed-preset=veryfast key-int-max=25 bframes=3 option-string=scenecut=0:min-keyint=25 ! h264parse");

// `file` names the clip's files: the name and the version of the recipes.
Clip made(const QString& name, const QString& file) {
    if (name == "gst_x264_mp4") return gstreamer(file, "mp4", kX264, "mp4mux", "voaacenc");
    if (name == "gst_x264_mkv") return gstreamer(file, "mkv", kX264, "matroskamux", "vorbisenc");
    if (name == "gst_mjpeg_avi")  // avimux with 16-bit PCM in chunks of its own size
        return gstreamer(file, "avi", "jpegenc", "avimux", "audio/x-raw,format=S16LE");
    if (name == "mkvmerge_h264_ac3") {
        // mkvmerge reads a bare H.264 stream and an AC-3 stream and times them itself. The
        // pictures are coded interlaced (top field first), as broadcast recordings are.
        const Clip video = make(file + "-video", "h264", kWidth, kHeight, kFps, kFrames, false,
                                {"-c:v",         "libx264", "-preset",     "veryfast", "-crf",          "20",
                                 "-bf",          "3",       "-g",          "25",       "-flags",        "+ildct+ilme",
                                 "-x264-params", "tff=1",   "-keyint_min", "25",       "-sc_threshold", "0",
                                 "-f",           "h264"});
        const Clip sound = make(file + "-sound", "ac3", kWidth, kHeight, kFps, kFrames, true,
                                {"-map", "1:a", "-c:a", "ac3", "-b:a", "128k"}, 48000);
        return madeOnce(file, "mkv", true, [&](const QString& partial) {
            return run("mkvmerge", {"-q", "-o", partial, "--default-duration", "0:25fps", video.path, sound.path}) == 0;
        });
    }
    Clip c;
    if (name == "ts_mpeg2_mp2")  // ffmpeg's MPEG-2 leaves its groups of pictures open
        c = make(
            file, "ts", kWidth, kHeight, kFps, kFrames, true,
            {"-c:v", "mpeg2video", "-q:v", "4", "-bf", "2", "-g", "25", "-c:a", "mp2", "-b:a", "192k", "-f", "mpegts"},
            48000);
    else if (name == "ts_x264_opengop" || name == "ts_x264_opengop_mbaff")
        // Broadcast-style H.264: open groups (only the first picture is an IDR picture) with
        // B-pyramid; the second one coded interlaced (MBAFF, top field first).
        c = make(file, "ts", kWidth, kHeight, kFps, kFrames, true,
                 QStringList{"-c:v", "libx264", "-preset", "veryfast", "-crf", "20", "-bf", "3", "-x264-params",
                             QStringLiteral("open-gop=1:keyint=25:min-keyint=25:scenecut=0:b-pyramid=normal%1")
                                 .arg(name.endsWith("mbaff") ? ":tff=1" : "")} +
                     (name.endsWith("mbaff") ? QStringList{"-flags", "+ildct+ilme"} : QStringList{}) +
                     QStringList{"-c:a", "mp2", "-b:a", "192k", "-f", "mpegts"},
                 48000);
    else if (name == "avi_mpeg4_mp3")
        c = make(file, "avi", kWidth, kHeight, kFps, kFrames, true,
                 {"-c:v", "mpeg4", "-q:v", "4", "-bf", "2", "-g", "25", "-c:a", "libmp3lame", "-b:a", "128k"}, 48000);
    else if (name == "mp4_hevc10_aac")  // x265 opens its groups (CRA pictures) by default
        c = make(file, "mp4", kWidth, kHeight, kFps, kFrames, true,
                 {"-c:v", "libx265", "-preset", "ultrafast", "-pix_fmt", "yuv420p10le", "-x265-params",
                  "keyint=25:min-keyint=25:scenecut=0:bframes=3:log-level=error", "-tag:v", "hvc1", "-c:a", "aac"},
                 48000);
    else if (name == "webm_vp9_opus")
        c = make(file, "webm", kWidth, kHeight, kFps, kFrames, true,
                 {"-c:v", "libvpx-vp9", "-deadline", "good", "-cpu-used", "4", "-b:v", "500k", "-g", "25",
                  "-auto-alt-ref", "1", "-lag-in-frames", "16", "-c:a", "libopus"},
                 48000);
    else
        throw std::runtime_error(("unknown test clip " + name).toStdString());
    return c;
}

}  // namespace

Clip foreign(const QString& name) {
    constexpr int kRecipes = 3;  // bump to remake every clip after a change of the recipes
    Clip c = made(name, name + "-r" + QString::number(kRecipes));
    c.name = name;
    return c;
}

QStringList foreignClipNames() {
    return {"gst_x264_mp4",  "gst_x264_mkv",   "gst_mjpeg_avi", "mkvmerge_h264_ac3", "ts_mpeg2_mp2",
            "avi_mpeg4_mp3", "mp4_hevc10_aac", "webm_vp9_opus", "ts_x264_opengop",   "ts_x264_opengop_mbaff"};
}

}  // namespace clips
