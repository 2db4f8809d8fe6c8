#pragma once
// Every file the engine writes goes through this layer: it takes encoded packets and owns the
// file. The file is created exclusively (an existing file is never replaced), only after the
// container has been checked to carry every stream; every write is checked (a full disk, a
// deleted output); packets wait until the header can be written; and a file that is not
// completed is removed: a failure leaves no file behind.
#include <sys/types.h>
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

#include "engine/common/FfmpegHandles.h"
#include "engine/output/WriteBehind.h"

extern "C" {
#include <libavformat/avformat.h>
}

// The file under a container: a descriptor, the name it was created under (to notice its
// deletion), an optional limit past which every write fails as on a full disk, and the thread
// that writes (position and the descriptor's writes are its own while it runs).
struct OutputIo {
    QByteArray path;
    int fd = -1;
    int64_t position = 0;
    int64_t limit = -1;
    std::unique_ptr<WriteBehind> behind;
};

// Hands packets to the container and turns every failure into a readable MediaError. Packets
// that come before the container's header is written (sound encoded before the first picture
// has told the video's shape) are held and written after it.
class Muxer {
public:
    // `io` is the file the container writes to; the header waits for its writes.
    Muxer(AVFormatContext* format, const QString& path, const OutputIo& io) : format_(format), path_(path), io_(io) {}
    ~Muxer();
    // Writes the packet (taking its reference), its times given in timeBase; throws when the
    // container or the file refuses it.
    void write(AVPacket* packet, AVRational timeBase);
    // Passes the packets of stream `stream` through the bitstream filter `name` on their way
    // to the container, and gives the stream the header in the filter's form. Before init().
    void convertPackets(int stream, const char* name);
    // Sets the container up with these options; throws when it cannot hold the streams.
    void init(ffmpeg::Dictionary options);
    // Writes the container's header, then the packets held until now.
    void start();
    bool initialized() const { return initialized_; }
    bool started() const { return started_; }
    // Throws when the file has seen a write error, or when result is negative.
    void check(int result) const;
    AVFormatContext* format() const { return format_; }
    const QString& path() const { return path_; }

private:
    struct Held {
        ffmpeg::Packet packet;
        AVRational timeBase;
    };
    void send(AVPacket* packet, AVRational timeBase);
    void deliver(AVPacket* packet, AVRational timeBase);

    AVFormatContext* format_;
    QString path_;
    const OutputIo& io_;
    bool initialized_ = false;
    bool started_ = false;
    std::vector<Held> held_;
    std::vector<ffmpeg::BitstreamFilter> filters_;  // by stream; null where packets go as they are
};

class OutputContainer {
public:
    // A container of `format` for `path`; streams are added to format() before create().
    // writeLimit >= 0 makes every write beyond that many bytes fail as on a full disk (for the
    // fault tests). The muxer is as strict as kOutputCompliance says. Throws MediaError.
    OutputContainer(const QString& path, const AVOutputFormat* format, int64_t writeLimit = -1);
    // Ends without completing: see abandon().
    ~OutputContainer();
    OutputContainer(const OutputContainer&) = delete;
    OutputContainer& operator=(const OutputContainer&) = delete;

    AVFormatContext* format() const { return format_.get(); }
    Muxer& muxer() { return *muxer_; }
    const QString& path() const { return path_; }

    // Refuses a stream the container cannot carry (naming its codec, the container and the
    // containers that can carry it), puts the packets of each stream into the form the
    // container stores (ContainerRules' packetFormFilter), then creates the file exclusively
    // and sets the container up with the options. Throws MediaError; no file is left then.
    void create(ffmpeg::Dictionary options = {});
    // Writes the header and the packets held until now. Throws; the file is removed then.
    void start();
    bool started() const { return muxer_ && muxer_->started(); }
    // Writes a packet (taking its reference), times in timeBase. Throws MediaError.
    void write(AVPacket* packet, AVRational timeBase) { muxer_->write(packet, timeBase); }
    // Writes the trailer and closes the file. Throws when that fails; the file is removed then.
    void finish();
    // Ends without completing and removes the file, whatever it holds: a file that stopped
    // short of its end (a full disk, a failed write or encoder) is not the output asked for.
    // Never throws.
    void abandon() noexcept;

private:
    void release() noexcept;
    void removeFile() noexcept;

    QString path_;
    OutputIo io_;
    ffmpeg::Output format_;
    ffmpeg::CustomIo avio_;  // writes through io_
    std::unique_ptr<Muxer> muxer_;
    bool created_ = false;         // the file exists and is ours
    dev_t device_ = 0;             // the created file, so that only it is ever removed
    ino_t inode_ = 0;
};

// The muxer that writes files named like `path`, or the one named `name` when given; null
// when there is none.
const AVOutputFormat* outputFormatNamed(const char* name, const QString& path = {});
