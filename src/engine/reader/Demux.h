#pragma once
#include <QString>
#include <memory>

#include "engine/common/FfmpegHandles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

// Small helpers around libavformat shared by the reader's video and audio sides.
namespace demux {

// A source file held open: renamed or deleted since, it stays readable. Each demuxer on it
// reads at its own position (pread), so several may read it at once, on any thread.
class SourceFile {
public:
    // Throws MediaError "Cannot read <path> (<reason>)".
    static std::shared_ptr<const SourceFile> open(const QString& path);
    ~SourceFile();
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    const QString& path() const { return path_; }
    int fd() const { return fd_; }
    // The size now (a file that is being cut short shrinks); -1 when it cannot be told.
    int64_t size() const;
    // Asks the system to read bytes [from, from + length) into its cache now, in the
    // background, so a reader that comes to them later does not wait for the disk.
    void prefetch(int64_t from, int64_t length) const;

private:
    SourceFile(QString path, int fd) : path_(std::move(path)), fd_(fd) {}
    QString path_;
    int fd_;
};

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
    // The file it reads, for another demuxer on it.
    std::shared_ptr<const SourceFile> file() const;
    struct Reading;  // the file and the position the demuxer reads at
    AVFormatContext* operator->() const { return format_.get(); }
    explicit operator bool() const { return format_ != nullptr; }
    void reset();

private:
    friend Input openSource(std::shared_ptr<const SourceFile> file, bool readStreamInfo);
    // Closed in this order: the demuxer, its I/O, the file and position it reads.
    std::unique_ptr<Reading> reading_;
    ffmpeg::CustomIo io_;
    ffmpeg::Input format_;
};

// Opens a held file for demuxing through the reader's own I/O with its large buffer and, when
// asked, reads the stream information. Only local files: nothing inside a source reaches the
// network or other files. Throws MediaError: "Not a video file: <path> (<reason>)".
Input openSource(std::shared_ptr<const SourceFile> file, bool readStreamInfo);

// The main video stream, -1 for none; cover pictures of audio files do not count.
int pickVideoStream(const AVFormatContext* input);

// True for a sound stream whose header tells its rate and channels: one a decoder can play.
bool describedSound(const AVCodecParameters* par);

// The sound a player starts with: the first sound stream flagged default, else the first; -1
// for none. (FFmpeg's "best stream" prefers the largest, which may be a second language.)
int pickSoundStream(const AVFormatContext* input);

// A frame rate a person would believe, else 0.
double plausibleRate(double fps);
// The video stream's frame rate as its header gives it, 0 when it gives none believable.
double headerFrameRate(const AVStream* st);

// True when the container already told everything a decoder needs about the stream, so the
// costly stream-information pass can be skipped for a second demuxer on the same file.
bool streamDescribed(const AVFormatContext* input, int stream);

// Puts the demuxer back at the first packet of the file; opens a new demuxer on the same file
// when the format cannot seek there. False when even that fails.
bool rewind(Input& input);

// Readable codec name, e.g. "H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10"; the short name when
// FFmpeg has no long one.
QString codecName(AVCodecID id);

// Opens a decoder for the stream. Throws MediaError "Unsupported <kind> codec <name> in <path>".
ffmpeg::Codec openDecoder(const AVStream* stream, int threads, const QString& kind, const QString& path);

}  // namespace demux
