#pragma once
#include <QString>

#include "engine/common/FfmpegHandles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

// Small helpers around libavformat shared by the reader's video and audio sides.
namespace demux {

// Opens a file for demuxing and, when asked, reads the stream information. Throws
// MediaError: "Not a video file: <path> (<reason>)".
ffmpeg::Input open(const QString& path, bool readStreamInfo);

// The main video stream, -1 for none; cover pictures of audio files do not count.
int pickVideoStream(const AVFormatContext* input);

// True when the container already told everything a decoder needs about the stream, so the
// costly stream-information pass can be skipped for a second demuxer on the same file.
bool streamDescribed(const AVFormatContext* input, int stream);

// Puts the demuxer back at the first packet of the file; reopens the file when the format
// cannot seek there. False when even that fails.
bool rewind(ffmpeg::Input& input, const QString& path);

// Readable codec name, e.g. "H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10"; the short name when
// FFmpeg has no long one.
QString codecName(AVCodecID id);

// Opens a decoder for the stream. Throws MediaError "Unsupported <kind> codec <name> in <path>".
ffmpeg::Codec openDecoder(const AVStream* stream, int threads, const QString& kind, const QString& path);

}  // namespace demux
