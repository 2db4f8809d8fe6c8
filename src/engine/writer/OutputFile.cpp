#include "engine/writer/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <cerrno>
#include <cstring>

#include "engine/common/MediaError.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

namespace {

constexpr int kIoBufferSize = 256 * 1024;

// True when the file being written no longer has a name (it, or its folder, was deleted):
// whatever is written from then on is lost when the file is closed.
bool deletedWhileOpen(const OutputFile::Io& io) {
    struct stat open {
    }, named{};
    if (::fstat(io.fd, &open) != 0 || open.st_nlink > 0) return false;
    return ::stat(io.path.constData(), &named) != 0 || named.st_ino != open.st_ino || named.st_dev != open.st_dev;
}

int writePacket(void* opaque, uint8_t* data, int size) {
    auto* io = static_cast<OutputFile::Io*>(opaque);
    if (io->limit >= 0 && io->position + size > io->limit) return AVERROR(ENOSPC);
    if (deletedWhileOpen(*io)) return AVERROR(ENOENT);
    int done = 0;
    while (done < size) {
        const ssize_t n = ::write(io->fd, data + done, size_t(size - done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return AVERROR(errno);
        if (n == 0) return AVERROR(EIO);
        done += int(n);
    }
    io->position += done;
    return done;
}

int64_t seekFile(void* opaque, int64_t offset, int whence) {
    auto* io = static_cast<OutputFile::Io*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat st {};
        return ::fstat(io->fd, &st) == 0 ? int64_t(st.st_size) : AVERROR(errno);
    }
    const off_t at = ::lseek(io->fd, offset, whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : int64_t(at);
}

QString systemError(int code) { return QString::fromLocal8Bit(std::strerror(code)); }

}  // namespace

OutputFile::OutputFile(const QString& path, const OutputPlan& plan, int64_t writeLimit) : path_(path) {
    io_.limit = writeLimit;
    const QByteArray native = QFile::encodeName(path);
    io_.path = native;
    if (native.isEmpty()) throw MediaError(QStringLiteral("No output file name was given"));
    // O_EXCL: a file that exists, or appears at this moment, is never opened or replaced.
    io_.fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (io_.fd < 0) {
        const int code = errno;
        if (code == EEXIST) throw MediaError(QStringLiteral("The file already exists: %1").arg(path));
        throw MediaError(QStringLiteral("Could not create the file %1: %2").arg(path, systemError(code)));
    }
    try {
        const AVOutputFormat* container = av_guess_format(plan.muxer.c_str(), nullptr, nullptr);
        AVFormatContext* format = nullptr;
        if (container) avformat_alloc_output_context2(&format, container, nullptr, native.constData());
        format_.reset(format);
        if (!format_)
            throw MediaError(
                QStringLiteral("The %1 container is not available").arg(QString::fromStdString(plan.muxer)));
        avio_ = ffmpeg::makeCustomIo(kIoBufferSize, true, &io_, nullptr, writePacket, seekFile);
        if (!avio_) throw MediaError(QStringLiteral("Out of memory while opening %1").arg(path));
        format_->pb = avio_.get();
        format_->flags |= AVFMT_FLAG_CUSTOM_IO;
        muxer_ = std::make_unique<Muxer>(format_.get(), path);
        if (plan.video) video_ = std::make_unique<VideoEncoder>(*muxer_, *plan.video);
        if (plan.audio) audio_ = std::make_unique<AudioEncoder>(*muxer_, *plan.audio);
        ffmpeg::Dictionary options;
        for (const auto& [key, value] : plan.muxerOptions) ffmpeg::setOption(options, key.c_str(), value.c_str());
        // Whether the container takes these streams is known now; with video, the header waits
        // for the first picture, which tells the source's shape and field order.
        muxer_->init(std::move(options));
        if (!video_) startMuxer();
    } catch (...) {
        release();
        ::unlink(native.constData());  // ours, created above, and holding nothing useful
        throw;
    }
}

OutputFile::~OutputFile() {
    try {
        finish();
    } catch (...) {
    }
}

template <typename F>
void OutputFile::guarded(F&& step) {
    if (!failure_.isEmpty()) throw MediaError(failure_);
    try {
        step();
    } catch (const MediaError& e) {
        failure_ = e.description();
        throw;
    } catch (const std::exception& e) {
        failure_ = QStringLiteral("Writing %1 failed: %2").arg(path_, QString::fromLocal8Bit(e.what()));
        throw MediaError(failure_);
    }
}

void OutputFile::startMuxer() {
    try {
        muxer_->start();
    } catch (...) {
        // A file whose header could not be written holds nothing useful: it goes.
        release();
        ::unlink(io_.path.constData());
        throw;
    }
    headerWritten_ = true;
}

void OutputFile::writeVideo(const FrameView& frame) {
    if (!video_) return;
    guarded([&] {
        if (!headerWritten_) {
            video_->adoptSource(
                {frame.width(), frame.height(), {frame.header.sarNum, frame.header.sarDen}, frame.header.fieldOrder});
            startMuxer();
        }
        video_->write(frame);
    });
}

void OutputFile::writeAudio(const int16_t* samples, int64_t count) {
    if (audio_) guarded([&] { audio_->write(samples, count); });
}

void OutputFile::finish() {
    if (!format_) return;
    if (!failure_.isEmpty()) {
        // Keep what was written readable as far as the container allows; further errors change nothing.
        if (headerWritten_) {
            headerWritten_ = false;
            av_write_trailer(format_.get());
        }
        release();
        return;
    }
    try {
        guarded([&] {
            if (!headerWritten_) startMuxer();  // no picture came: the file as planned
            if (video_) video_->finish();
            if (audio_) audio_->finish();
            headerWritten_ = false;
            muxer_->check(av_write_trailer(format_.get()));
            avio_flush(avio_.get());
            muxer_->check(0);
            const int fd = io_.fd;
            io_.fd = -1;
            if (::close(fd) != 0)
                throw MediaError(
                    QStringLiteral("Could not write the output file %1: %2").arg(path_, systemError(errno)));
        });
    } catch (...) {
        if (headerWritten_) {
            headerWritten_ = false;
            av_write_trailer(format_.get());
        }
        release();
        throw;
    }
    release();
}

void OutputFile::release() noexcept {
    video_.reset();
    audio_.reset();
    muxer_.reset();
    avio_.reset();
    format_.reset();
    if (io_.fd >= 0) {
        ::close(io_.fd);
        io_.fd = -1;
    }
}
