#pragma once
// Clips whose picture shape matters: turned phone clips, non-square pixels, interlaced fields and
// surround sound, made at test time by ffmpeg and by GStreamer's own encoders and muxers. Every
// frame k shows k in the pattern of support/Clips.h, as it is meant to be seen.
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QLockFile>
#include <stdexcept>

#include "support/Clips.h"

namespace geometry {

// A clip written by GStreamer: the pattern as raw 4:2:0 frames (from ffmpeg), then
// `rawvideoparse ! <pipeline> ! filesink`. par is the pixel aspect ratio the caps state.
inline clips::Clip gstreamerClip(const QString& name, const QString& ext, int width, int height, const QString& rate,
                                 int frames, const QString& par, const QString& pipeline) {
    const double fps =
        rate.section('/', 0, 0).toDouble() / rate.section('/', 1, 1, QString::SectionSkipEmpty).toDouble();
    const clips::Clip raw =
        clips::make(name + "-raw", "yuv", width, height, fps, frames, false, {"-f", "rawvideo", "-pix_fmt", "yuv420p"});
    clips::Clip c = raw;
    c.name = name;
    c.path = clips::clipsFolder() + "/" + name + "-gst." + ext;
    if (QFileInfo::exists(c.path)) return c;
    QLockFile lock(c.path + ".lock");
    lock.lock();
    if (QFileInfo::exists(c.path)) return c;
    const QString partial = c.path + ".part";
    const QString launch = QStringLiteral(
                               "filesrc location=%1 ! rawvideoparse width=%2 height=%3 format=i420 "
                               "framerate=%4 pixel-aspect-ratio=%5 ! %6 ! filesink location=%7")
                               .arg(raw.path)
                               .arg(width)
                               .arg(height)
                               .arg(rate, par, pipeline, partial);
    if (clips::run("gst-launch-1.0", QStringList{"-q"} + launch.split(' ', Qt::SkipEmptyParts)) != 0 ||
        !QFile::rename(partial, c.path)) {
        QFile::remove(partial);
        throw std::runtime_error(("GStreamer could not make test clip " + name).toStdString());
    }
    return c;
}

// A phone-style clip stored lying on its side, whose stream says how to turn it for display
// (ffmpeg's "rotate" tag: 90 turns the stored picture a quarter anticlockwise, 270 clockwise). The
// upright picture is 180 x 320. The tag is added by a stream copy, as phones add it to what the
// encoder made.
inline clips::Clip turnedClip(int degrees, const QString& ext) {
    const QString name = QStringLiteral("turned%1_h264").arg(degrees);
    const clips::Clip stored =
        clips::make(name + "-stored", ext, 180, 320, 25, 30, true,
                    {"-vf", degrees == 90 ? "transpose=clock" : "transpose=cclock", "-c:v", "libx264", "-preset",
                     "veryfast", "-crf", "18", "-pix_fmt", "yuv420p", "-c:a", "aac"});
    clips::Clip c = stored;
    c.name = name;
    c.path = clips::clipsFolder() + "/" + name + "." + ext;
    if (QFileInfo::exists(c.path)) return c;
    QLockFile lock(c.path + ".lock");
    lock.lock();
    if (QFileInfo::exists(c.path)) return c;
    const QString partial = c.path + ".part." + ext;
    if (clips::run("ffmpeg", {"-nostdin", "-loglevel", "error", "-y", "-i", stored.path, "-c", "copy",
                              "-metadata:s:v:0", QStringLiteral("rotate=%1").arg(degrees), partial}) != 0 ||
        !QFile::rename(partial, c.path)) {
        QFile::remove(partial);
        throw std::runtime_error(("could not make test clip " + name).toStdString());
    }
    return c;
}

// Camcorder-style DV: 720 x 576, 4:3 (pixels 16:15), interlaced bottom field first.
inline clips::Clip dvClip() {
    return clips::make("dv_pal_43", "avi", 720, 576, 25, 20, false,
                       {"-c:v", "dvvideo", "-pix_fmt", "yuv420p", "-aspect", "4:3"});
}

// Anamorphic 16:9 at 720 x 576 (pixels 64:45), progressive, from GStreamer's x264 and Matroska muxer.
inline clips::Clip anamorphicClip() {
    return gstreamerClip("anamorphic_169", "mkv", 720, 576, "25/1", 20, "64/45",
                         "x264enc speed-preset=veryfast ! matroskamux");
}

// Broadcast-style MPEG-2: 720 x 576 16:9, interlaced top field first, 5.1 AC-3, in a transport stream.
inline clips::Clip broadcastClip() {
    return clips::make(
        "broadcast_mpeg2_ac3", "ts", 720, 576, 25, 25, true,
        {"-c:v", "mpeg2video", "-b:v", "6M", "-flags", "+ildct+ilme", "-top", "1", "-aspect", "16:9", "-c:a", "ac3",
         "-b:a", "384k", "-af", "pan=5.1|FL=c0|FR=c0|FC=c0|LFE=c0|BL=c0|BR=c0", "-f", "mpegts"},
        48000, 6);
}

// 5.1 sound as 16-bit PCM: the test tone at half scale in the channels named by pan (FFmpeg's
// pan syntax, e.g. "FL=4*c0|FC=4*c0"; the tone itself is at one eighth of full scale).
inline clips::Clip surroundClip(const QString& name, const QString& channels) {
    return clips::make(
        name, "mkv", 160, 120, 25, 50, true,
        {"-c:v", "mjpeg", "-q:v", "3", "-pix_fmt", "yuvj420p", "-c:a", "pcm_s16le", "-af", "pan=5.1|" + channels},
        48000, 6);
}

// What ffprobe says about the first video stream: its display aspect (width x sample aspect /
// height) and field order, and the first frame's interlacing.
struct PictureFacts {
    int width = 0, height = 0;
    double displayAspect = 0;
    QString fieldOrder;
    bool interlaced = false;
    bool topFieldFirst = false;
};

inline double ratioOf(const QString& text) {
    const QStringList parts = text.split(':');
    if (parts.size() != 2 || parts[1].toDouble() <= 0) return 0;
    return parts[0].toDouble() / parts[1].toDouble();
}

inline PictureFacts pictureFacts(const QString& path) {
    PictureFacts facts;
    for (const auto& s : clips::probe(path)["streams"].toArray()) {
        const QJsonObject st = s.toObject();
        if (st["codec_type"].toString() != "video") continue;
        facts.width = st["width"].toInt();
        facts.height = st["height"].toInt();
        const double sar = ratioOf(st["sample_aspect_ratio"].toString());
        facts.displayAspect = facts.height > 0 ? facts.width * (sar > 0 ? sar : 1.0) / facts.height : 0;
        facts.fieldOrder = st["field_order"].toString();
        break;
    }
    QByteArray out;
    clips::run("ffprobe",
               {"-v", "error", "-select_streams", "v:0", "-read_intervals", "%+#3", "-show_entries",
                "frame=interlaced_frame,top_field_first", "-of", "csv=p=0", path},
               &out);
    const QStringList first = QString::fromUtf8(out).section('\n', 0, 0).trimmed().split(',');
    facts.interlaced = first.value(0) == "1";
    facts.topFieldFirst = first.value(1) == "1";
    return facts;
}

}  // namespace geometry
