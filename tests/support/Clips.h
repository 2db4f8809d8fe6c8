#pragma once
#include <functional>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include "engine/common/FrameData.h"

// Test clips made with the ffmpeg command line (so the engine is checked on files it did
// not write). Every frame k shows k in a pattern of blocks that survives lossy coding.
// Clips are made once per build folder and reused.
namespace clips {

struct Clip {
    QString name;
    QString path;
    int frames = 0;
    int width = 0;
    int height = 0;
    double fps = 0;
    bool audio = false;
    int sampleRate = 0;
    int channels = 0;
};

// The standard clips: "avi_mjpeg_pcm", "mpeg2_ps", "wmv_wma", "mp4_h264_aac" (B-frames,
// open GOP), "mkv_mpeg4_vorbis", "ts_h264_mp2", "webm_vp8_opus", "avi_noaudio",
// "oneframe", "audio_only", "long_mpeg4" (600 frames).
Clip get(const QString& name);
QStringList videoClipNames();  // the clips with video and audio in the common containers

// A clip made from custom ffmpeg output options (after the pattern input and the sine input).
Clip make(const QString& name, const QString& extension, int width, int height, double fps, int frames, bool audio,
          const QStringList& outputOptions, int sampleRate = 44100, int channels = 2);

// Folder for clips and other generated files of this build.
QString clipsFolder();

// Makes the file `path` once, whichever test process comes first: `write` fills a partial file
// beside it that becomes the file when it succeeds. Throws when it does not.
void makeOnce(const QString& path, const std::function<bool(const QString& partial)>& write);

// The frame number shown by a frame, or -1 when the pattern cannot be read.
int frameNumberOf(const FrameData& frame);
// The same for a picture file or any decoded image.
int frameNumberOf(const QImage& image);

// Runs ffprobe and returns its JSON (-show_streams -show_format [-count_frames]).
QJsonObject probe(const QString& path, bool countFrames = false);
// Frames of the first video stream as ffprobe -count_frames reports them.
int probeFrameCount(const QString& path);
// The frame numbers shown by every frame of the file's video, decoded by the ffmpeg tool.
QList<int> decodeFrameNumbers(const QString& path);

// Runs a program, waits, and returns its exit code; output collected in *out when given.
int run(const QString& program, const QStringList& args, QByteArray* out = nullptr, int timeoutMs = 120000);

}  // namespace clips
