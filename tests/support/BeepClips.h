#pragma once
// Clips whose sound beeps once a second, from writers other than ours, and the check that
// every beep of a written file still comes with the picture it came with in the source.
#include <QList>
#include <QString>
#include <QStringList>

#include "support/Clips.h"

namespace beeps {

// 12 s, 300 frames of the frame-number pattern at 25 fps, 320 x 240, x264 with B-frames and a
// keyframe every 25 frames (1, 26, 51, ...); 48 kHz stereo sound that beeps for 40 ms at every
// whole second, that is with source frames 1, 26, 51, ...
//   "gst_ts"  GStreamer's mpegtsmux with AAC
//   "gst_mp4" GStreamer's mp4mux with AAC
//   "mkv_ac3" mkvmerge, H.264 and AC-3 from ffmpeg
// and with other codecs and sizes:
//   "gst_avi_pcm"   GStreamer's avimux, Motion JPEG and 16-bit PCM
//   "dvd_vob"       ffmpeg -target pal-dvd: MPEG-2 at 720 x 576 and the sound twice in AC-3
//   "mencoder_avi"  MEncoder's MPEG-4 Part 2 with B-frames and MP3
//   "divx_avi"      ffmpeg's MPEG-4 Part 2 tagged DIVX and MP3 (a keyframe every 12 frames)
//   "handbrake_m4v" HandBrake's MP4 with x264 and AAC
//   "bluray_m2ts"   ffmpeg's M2TS: H.264, 24-bit Blu-ray PCM and AC-3
clips::Clip clip(const QString& name);
QStringList clipNames();

// A beep heard in a file, against the picture of the source frame it belongs to.
struct Beep {
    int sourceFrame = 0;  // the frame shown when the beep starts in the source
    double offsetMs = 0;  // when the beep starts minus when that frame is shown, in the file
};
// Every beep frame shown in the file's video, with the beep heard nearest to it (an offset of
// 1000 ms or more when there is none). *extra counts beeps that belong to no frame shown.
QList<Beep> beepsAgainstPictures(const QString& path, int* extra = nullptr);

}  // namespace beeps
