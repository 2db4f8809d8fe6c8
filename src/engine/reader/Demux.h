#pragma once
#include <QString>
#include <memory>

#include "engine/common/FfmpegHandles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

class QFile;

// Small helpers around libavformat shared by the reader's video and audio sides.
namespace demux {

// A demuxer together with the file it reads. The file is read through the reader's own I/O
// with a large buffer: indexing reads every packet of the file, and in the 32 KiB pieces of
// FFmpeg's own file I/O that costs about a tenth more time.
class Input {
public:
    Input();
    Input(Input&& other) noexcept;
    Input& operator=(Input&& other) noexcept;
    ~Input();

    AVFormatContext* get() const { return format_.get(); }
    AVFormatContext* operator->() const { return format_.get(); }
    explicit operator bool() const { return format_ != nullptr; }
    void reset();

private:
    friend Input openSource(std::unique_ptr<QFile> file, const QString& path, bool readStreamInfo);
    // Closed in this order: the demuxer, its I/O, the file.
    std::unique_ptr<QFile> file_;
    ffmpeg::CustomIo io_;
    ffmpeg::Input format_;
};

// Opens a file for demuxing through the reader's own I/O with its large buffer and, when
// asked, reads the stream information. Throws MediaError: "Not a video file: <path> (<reason>)".
Input openSource(const QString& path, bool readStreamInfo);
// The same on a file opened earlier, which stays readable when it is renamed or removed since.
Input openSource(std::unique_ptr<QFile> file, const QString& path, bool readStreamInfo);

// The main video stream, -1 for none; cover pictures of audio files do not count.
int pickVideoStream(const AVFormatContext* input);

// A frame rate a person would believe, else 0.
double plausibleRate(double fps);
// The video stream's frame rate as its header gives it, 0 when it gives none believable.
double headerFrameRate(const AVStream* st);

// True when the container already told everything a decoder needs about the stream, so the
// costly stream-information pass can be skipped for a second demuxer on the same file.
bool streamDescribed(const AVFormatContext* input, int stream);

// Puts the demuxer back at the first packet of the file; reopens the file when the format
// cannot seek there. False when even that fails.
bool rewind(Input& input, const QString& path);

// Readable codec name, e.g. "H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10"; the short name when
// FFmpeg has no long one.
QString codecName(AVCodecID id);

// Opens a decoder for the stream. Throws MediaError "Unsupported <kind> codec <name> in <path>".
ffmpeg::Codec openDecoder(const AVStream* stream, int threads, const QString& kind, const QString& path);

}  // namespace demux
