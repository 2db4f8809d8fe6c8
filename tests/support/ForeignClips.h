#pragma once
// Clips with the frame-number pattern of support/Clips.h written by several programs, not only
// ffmpeg: GStreamer's x264 with its MP4 and Matroska muxers, its Motion JPEG in AVI, mkvmerge, and ffmpeg's MPEG-2,
// MPEG-4 Part 2, 10-bit HEVC and VP9 encoders. All are 320 x 240 at 25 fps, 90 frames with
// 3.6 s of sound, a keyframe about every 25 frames (1, 26 or 28, 51 or 52, 76) and B-frames
// where the codec has them. Made once per build folder.
#include <QStringList>

#include "support/Clips.h"

namespace clips {

// "gst_x264_mp4" (AAC), "gst_x264_mkv" (Vorbis), "gst_mjpeg_avi" (16-bit PCM), "gst_h263_3gp" (H.263
// at 352 x 288 with 12:11 pixels, AMR-NB), "mkvmerge_h264_ac3",
// "ts_mpeg2_mp2" (open GOP), "avi_mpeg4_mp3", "mp4_hevc10_aac" (open GOP, 4:2:0 10-bit),
// "webm_vp9_opus" (hidden alternate reference frames), "ts_x264_opengop" and
// "ts_x264_opengop_mbaff" (H.264 open groups with B-pyramid and MP2, the second interlaced),
// "mkvmerge_tracks" (two sound tracks, SubRip and ASS cues, chapters, a font),
// "mp4_text_faststart" (mov_text, moov first, tags), "mov_prores_timecode" (container-only
// pixel aspect, timecode), "mencoder_xvid_avi" (B-frames, MP3, a container aspect other than
// the bitstream's), "mencoder_xvid_packed_avi" (the same with packed B-frames),
// "handbrake_x264_mkv" (HandBrake's x264 and AC-3, a keyframe every 50 frames), "ts_joined_x264"
// (three parts of 30 frames encoded apart and joined), "ts_wrap_x264" (a clock that wraps at
// frame 7), "mov_vfr_timecode" (a phone's QuickTime: 120 frames at varying rate, timecode).

Clip foreign(const QString& name);
QStringList foreignClipNames();

}  // namespace clips
