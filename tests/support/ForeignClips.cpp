#include "support/ForeignClips.h"

#include <QFile>
#include <QFileInfo>
#include <functional>
#include <optional>
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
    makeOnce(c.path, write);
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

// A text file in the clips folder, written once.
QString textFile(const QString& name, const QByteArray& text) {
    const QString path = clipsFolder() + "/" + name;
    QFile file(path + ".part");
    if (!QFileInfo::exists(path) && (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() ||
                                     !file.flush() || !QFile::rename(path + ".part", path)))
        throw std::runtime_error(("could not write " + name).toStdString());
    return path;
}

// Subtitle cues around the tests' range 12..82 (0.44 s to 3.28 s): one across its start, one
// inside, one across its end.
const QByteArray kCues =
    "1\n00:00:00,200 --> 00:00:01,000\nBefore the range\n\n2\n00:00:01,500 --> 00:00:02,000\nInside\n\n"
    "3\n00:00:03,200 --> 00:00:03,500\nAcross its end\n";

// ffmpeg writes the pattern, its sine tone and the streams of `inputs` (their own input options
// before each -i) with `options`.
Clip ffmpegWith(const QString& file, const QString& ext, const QStringList& inputs, const QStringList& options) {
    const Clip raw =
        make("pattern-raw", "yuv", kWidth, kHeight, kFps, kFrames, false, {"-f", "rawvideo", "-pix_fmt", "yuv420p"});
    return madeOnce(file, ext, true, [&](const QString& partial) {
        const QStringList args =
            QStringList{"-nostdin", "-loglevel", "error", "-y", "-f", "rawvideo", "-pix_fmt", "yuv420p", "-s",
                        QStringLiteral("%1x%2").arg(kWidth).arg(kHeight), "-r", QString::number(kFps), "-i", raw.path,
                        "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=3.6"} +
            inputs + QStringList{"-ac", "2"} + options + QStringList{partial};
        return run("ffmpeg", args) == 0;
    });
}

// Clips whose clocks and frame times test the cut's time line: HandBrake's Matroska (its first
// decode times unknown), a transport stream of three parts encoded apart and joined end to end
// (each part's clock 40 ms behind the one before at the join, as a recording cut in files and
// joined again), one whose 33-bit clock wraps after six frames, and a phone-style QuickTime
// video (frames of 1/30 s, then of 1/15 s from frame 61 at 2.0 s; 120 frames; a timecode
// 08:30:00:00 at 30 fps in a track of 600 ticks a second; a make and model). nullopt for
// another name.
std::optional<Clip> timeLineClip(const QString& name, const QString& file) {
    const QStringList x264 =
        QStringLiteral("-c:v libx264 -preset veryfast -bf 3 -g 25 -keyint_min 25 -sc_threshold 0 -c:a mp2 -b:a 192k")
            .split(' ');
    if (name == "handbrake_x264_mkv") {
        const Clip source = ffmpegWith(file + "-source", "mkv", {}, {"-c:v", "ffv1", "-c:a", "pcm_s16le"});
        return madeOnce(file, "mkv", true, [&](const QString& partial) {
            const QStringList options =
                QStringLiteral(
                    "-f av_mkv -e x264 -q 22 --encoder-preset veryfast -x keyint=50:min-keyint=50:b-adapt=0 "
                    "-E ac3 -B 192 --cfr -r 25 --crop 0:0:0:0")
                    .split(' ');
            QByteArray log;
            return run("HandBrakeCLI", QStringList{"-i", source.path, "-o", partial} + options, &log, 600000) == 0;
        });
    }
    if (name == "ts_joined_x264") {
        QByteArray joined;
        for (int part = 0; part < 3; ++part) {
            const QString from = QString::number(part * 1.2), to = QString::number((part + 1) * 1.2);
            const QStringList trim{"-vf",
                                   QStringLiteral("trim=start_frame=%1:end_frame=%2,setpts=PTS-STARTPTS")
                                       .arg(part * 30)
                                       .arg(part * 30 + 30),
                                   "-af", QStringLiteral("atrim=start=%1:end=%2,asetpts=PTS-STARTPTS").arg(from, to)};
            const Clip c = ffmpegWith(file + "-part" + QString::number(part + 1), "ts", {},
                                      trim + x264 + QStringList{"-output_ts_offset", from, "-f", "mpegts"});
            QFile bytes(c.path);
            if (!bytes.open(QIODevice::ReadOnly)) throw std::runtime_error("could not read a part of the joined clip");
            joined += bytes.readAll();
        }
        return madeOnce(file, "ts", true, [&](const QString& partial) {
            QFile out(partial);
            return out.open(QIODevice::WriteOnly) && out.write(joined) == joined.size() && out.flush();
        });
    }
    if (name == "ts_wrap_x264")  // 2^33 / 90 kHz is 95443.72 s; the muxer starts 1.4 s after the offset
        return ffmpegWith(file, "ts", {}, x264 + QStringList{"-output_ts_offset", "95442", "-f", "mpegts"});
    if (name == "mov_vfr_timecode")
        return make(
            file, "mov", kWidth, kHeight, 20, 120, true,
            QStringList{"-vf", "settb=1/600,setpts=if(lt(N\\,60)\\,N*20\\,1200+(N-60)*40)"} +
                QStringLiteral("-fps_mode passthrough -r 30 -c:v libx264 -preset veryfast -g 30 -bf 2 -c:a aac "
                               "-timecode 08:30:00:00 -video_track_timescale 600 -movflags use_metadata_tags")
                    .split(' ') +
                QStringList{"-metadata:s:v", "handler_name=Core Media Video", "-metadata",
                            "com.apple.quicktime.make=Apple", "-metadata", "com.apple.quicktime.model=iPhone 12"},
            48000);
    return std::nullopt;
}

// `file` names the clip's files: the name and the version of the recipes.
Clip made(const QString& name, const QString& file) {
    if (const std::optional<Clip> c = timeLineClip(name, file)) return *c;
    if (name == "gst_x264_mp4") return gstreamer(file, "mp4", kX264, "mp4mux", "voaacenc");
    if (name == "gst_x264_mkv") return gstreamer(file, "mkv", kX264, "matroskamux", "vorbisenc");
    if (name == "gst_h263_3gp")  // a phone's 3GP: H.263 at CIF (pixels of 12:11), AMR-NB
        return gstreamer(file, "3gp",
                         "videoscale ! video/x-raw,width=352,height=288 ! avenc_h263 gop-size=25 bitrate=1000000",
                         "3gppmux", "audioresample ! audio/x-raw,rate=8000,channels=1 ! amrnbenc");
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
    if (name == "mkvmerge_tracks") {
        // English AAC first and German AC-3 second, both flagged default; SubRip and ASS cues;
        // three chapters; a font attached.
        const Clip video = make(file + "-video", "h264", kWidth, kHeight, kFps, kFrames, false,
                                {"-c:v", "libx264", "-preset", "veryfast", "-bf", "2", "-g", "25", "-keyint_min", "25",
                                 "-sc_threshold", "0", "-f", "h264"});
        const Clip english = make(file + "-eng", "m4a", kWidth, kHeight, kFps, kFrames, true,
                                  {"-map", "1:a", "-c:a", "aac", "-b:a", "96k"}, 48000);
        const Clip german = make(file + "-ger", "ac3", kWidth, kHeight, kFps, kFrames, true,
                                 {"-map", "1:a", "-c:a", "ac3", "-b:a", "128k"}, 48000);
        const QString srt = textFile(file + ".srt", kCues);
        const QString ass = clipsFolder() + "/" + file + ".ass";
        if (!QFileInfo::exists(ass) && run("ffmpeg", {"-nostdin", "-v", "error", "-y", "-i", srt, ass}) != 0)
            throw std::runtime_error("could not make the ASS cues");
        const QString chapters = textFile(file + "-chapters.txt",
                                          "CHAPTER01=00:00:00.000\nCHAPTER01NAME=Opening\nCHAPTER02=00:00:02.000\n"
                                          "CHAPTER02NAME=Middle\nCHAPTER03=00:00:03.400\nCHAPTER03NAME=Late\n");
        return madeOnce(file, "mkv", true, [&](const QString& partial) {
            return run("mkvmerge",
                       {"-q", "-o", partial, "--default-duration", "0:25fps", video.path, "--language", "0:eng",
                        "--default-track-flag", "0:yes", english.path, "--language", "0:ger", "--default-track-flag",
                        "0:yes", german.path, "--language", "0:eng", srt, "--language", "0:ger", ass, "--chapters",
                        chapters, "--attachment-mime-type", "application/x-truetype-font", "--attach-file",
                        "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf"}) == 0;
        });
    }
    if (name == "mp4_text_faststart")  // moov first, mov_text cues, a title and a capture date
        return ffmpegWith(file, "mp4", {"-i", textFile(file + ".srt", kCues)},
                          {"-map", "0:v", "-map", "1:a", "-map", "2:s", "-c:v", "libx264", "-preset", "veryfast", "-bf",
                           "2", "-g", "25", "-sc_threshold", "0", "-c:a", "aac", "-c:s", "mov_text", "-metadata:s:s:0",
                           "language=eng", "-movflags", "+faststart", "-metadata", "title=Holiday", "-metadata",
                           "creation_time=2026-07-01T10:00:00Z"});
    if (name == "mov_prores_timecode")  // anamorphic (4:3 pixels only in the container), timecode 10:00:00:00
        return ffmpegWith(file, "mov", {},
                          {"-c:v", "prores_ks", "-profile:v", "0", "-aspect", "16:9", "-c:a", "pcm_s16le", "-timecode",
                           "10:00:00:00", "-t", "3.6"});
    if (name == "mencoder_xvid_avi" || name == "mencoder_xvid_packed_avi") {
        // MEncoder's Xvid with B-frames and MP3, the container's aspect (16:9) over the
        // bitstream's square pixels; its sound starts with the first picture shown. Every frame
        // is kept (-noskip -mc 0: MEncoder drops and repeats frames to follow the sound otherwise).
        // The packed one puts each B-frame in the packet before it, as DivX 5 did.
        const bool packed = name == "mencoder_xvid_packed_avi";
        const Clip raw = make("pattern-raw", "yuv", kWidth, kHeight, kFps, kFrames, false,
                              {"-f", "rawvideo", "-pix_fmt", "yuv420p"});
        const Clip tone = make(file + "-tone", "wav", kWidth, kHeight, kFps, kFrames, true,
                               {"-map", "1:a", "-c:a", "pcm_s16le"}, 48000);
        return madeOnce(file, "avi", true, [&](const QString& partial) {
            return run("mencoder",
                       {"-really-quiet", raw.path, "-demuxer", "rawvideo", "-rawvideo",
                        QStringLiteral("w=%1:h=%2:fps=%3:format=i420").arg(kWidth).arg(kHeight).arg(kFps),
                        "-audiofile", tone.path, "-oac", "mp3lame", "-lameopts", "cbr:br=128", "-ovc", "xvid",
                        "-xvidencopts",
                        QStringLiteral("bitrate=800:max_bframes=2:max_key_interval=25%1").arg(packed ? ":packed" : ""),
                        "-force-avi-aspect", "16/9", "-noskip", "-mc", "0",
                        "-o", partial}) == 0;
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
    return {"gst_x264_mp4",          "gst_x264_mkv",      "gst_mjpeg_avi",      "mkvmerge_h264_ac3",
            "ts_mpeg2_mp2",          "avi_mpeg4_mp3",     "mp4_hevc10_aac",     "webm_vp9_opus",
            "ts_x264_opengop",       "ts_x264_opengop_mbaff", "mkvmerge_tracks", "mp4_text_faststart",
            "mov_prores_timecode",   "mencoder_xvid_avi", "mencoder_xvid_packed_avi", "gst_h263_3gp",
            "handbrake_x264_mkv",    "ts_joined_x264",    "ts_wrap_x264",       "mov_vfr_timecode"};
}

}  // namespace clips
