#pragma once
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>

#include "engine/common/FfmpegHandles.h"
#include "engine/common/FrameData.h"
#include "engine/writer/OutputPlan.h"
#include "engine/writer/StreamEncoders.h"

// One output file being written: created exclusively (an existing file is never replaced),
// written through a descriptor whose every write is checked, and completed by finish().
class OutputFile {
public:
    // Creates the file and opens the encoders of the plan; throws MediaError and leaves no file
    // behind when that fails. writeLimit >= 0 makes every write beyond that many bytes fail as on a
    // full disk (for tests).
    OutputFile(const QString& path, const OutputPlan& plan, int64_t writeLimit = -1);
    ~OutputFile();  // closes without throwing
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void writeVideo(const FrameView& frame);
    void writeAudio(const int16_t* samples, int64_t count);
    // Flushes the encoders, writes the trailer and closes the file. Throws when that fails; the
    // file is closed either way. After a failed write it only closes what can be closed.
    void finish();

    bool hasVideo() const { return video_ != nullptr; }
    bool hasAudio() const { return audio_ != nullptr; }
    const QString& path() const { return path_; }

    struct Io {
        QByteArray path;  // the file's name, to notice its deletion
        int fd = -1;
        int64_t position = 0;
        int64_t limit = -1;
    };

private:
    template <typename F>
    void guarded(F&& step);
    void release() noexcept;
    void startMuxer();

    QString path_;
    Io io_;
    ffmpeg::Output format_;
    ffmpeg::CustomIo avio_;  // writes through io_
    std::unique_ptr<Muxer> muxer_;
    std::unique_ptr<VideoEncoder> video_;
    std::unique_ptr<AudioEncoder> audio_;
    bool headerWritten_ = false;
    QString failure_;  // description of the first failure; empty while all is well
};
