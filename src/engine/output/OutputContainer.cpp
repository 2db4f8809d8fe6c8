#include "engine/output/OutputContainer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/common/BitstreamFilters.h"
#include "engine/common/MediaError.h"
#include "engine/common/Wording.h"
#include "engine/output/ContainerRules.h"

extern "C" {
#include <libavcodec/bsf.h>
#include <libavutil/avstring.h>
}

namespace {

constexpr int kIoBufferSize = 256 * 1024;

// True when the file being written no longer has a name (it, or its folder, was deleted):
// whatever is written from then on is lost when the file is closed.
bool deletedWhileOpen(const OutputIo& io) {
    struct stat open {
    }, named{};
    if (::fstat(io.fd, &open) != 0 || open.st_nlink > 0) return false;
    return ::stat(io.path.constData(), &named) != 0 || named.st_ino != open.st_ino || named.st_dev != open.st_dev;
}

// On the writer's thread.
int writeNow(OutputIo* io, const uint8_t* data, int size) {
    if (deletedWhileOpen(*io)) return AVERROR(ENOENT);
    int done = 0;
    while (done < size) {
        // The write limit fills up as a disk does: what still fits is written, then writes fail.
        const int64_t room = io->limit < 0 ? size - done : std::min<int64_t>(size - done, io->limit - io->position);
        if (room <= 0) return AVERROR(ENOSPC);
        const ssize_t n = ::write(io->fd, data + done, size_t(room));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return AVERROR(errno);
        if (n == 0) return AVERROR(EIO);
        done += int(n);
        io->position += n;
    }
    return done;
}

// The container's writes: a failure shows at a later write, or at the next seek or the end.
int writeBytes(void* opaque, uint8_t* data, int size) {
    return static_cast<OutputIo*>(opaque)->behind->write(data, size);
}

int64_t seekFile(void* opaque, int64_t offset, int whence) {
    auto* io = static_cast<OutputIo*>(opaque);
    if (const int failure = io->behind->drain(); failure < 0) return failure;
    if (whence & AVSEEK_SIZE) {
        struct stat st {};
        return ::fstat(io->fd, &st) == 0 ? int64_t(st.st_size) : AVERROR(errno);
    }
    const off_t at = ::lseek(io->fd, offset, whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : int64_t(at);
}

QString systemError(int code) { return QString::fromLocal8Bit(std::strerror(code)); }

QString containerName(const AVFormatContext* format) { return QString::fromUtf8(format->oformat->name); }

}  // namespace

// ---- Muxer ----

Muxer::~Muxer() = default;

void Muxer::check(int result) const {
    const int error = format_->pb && format_->pb->error < 0 ? format_->pb->error : result;
    if (error < 0)
        throw MediaError(QStringLiteral("Could not write the output file %1: %2").arg(path_, ffmpegErrorText(error)));
}

void Muxer::write(AVPacket* packet, AVRational timeBase) {
    if (started_) return send(packet, timeBase);
    Held held{ffmpeg::makePacket(), timeBase};
    if (!held.packet) throw MediaError(QStringLiteral("Out of memory while writing %1").arg(path_));
    av_packet_move_ref(held.packet.get(), packet);
    held_.push_back(std::move(held));
}

void Muxer::convertPackets(int stream, const char* name) {
    AVStream* st = format_->streams[stream];
    auto [filter, ret] = openBitstreamFilter(name, st->codecpar, st->time_base);
    if (ret >= 0) ret = avcodec_parameters_copy(st->codecpar, filter->par_out);
    if (ret < 0)
        throw MediaError(QStringLiteral("The %1 packets cannot be put into the form %2 file stores (%3)")
                             .arg(QString::fromUtf8(avcodec_get_name(st->codecpar->codec_id)),
                                  withArticle(containerName(format_)), ffmpegErrorText(ret)));
    filters_.resize(format_->nb_streams);
    filters_[size_t(stream)] = std::move(filter);
}

void Muxer::send(AVPacket* packet, AVRational timeBase) {
    const size_t stream = size_t(packet->stream_index);
    AVBSFContext* filter = stream < filters_.size() ? filters_[stream].get() : nullptr;
    if (!filter) return deliver(packet, timeBase);
    // The filters used here turn each packet into one at once; what they give is written now.
    int ret = av_bsf_send_packet(filter, packet);
    while (ret >= 0 && (ret = av_bsf_receive_packet(filter, packet)) >= 0) {
        packet->stream_index = int(stream);
        deliver(packet, timeBase);
    }
    if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF) {
        av_packet_unref(packet);
        throw MediaError(QStringLiteral("A packet for %1 cannot be converted: %2").arg(path_, ffmpegErrorText(ret)));
    }
}

void Muxer::deliver(AVPacket* packet, AVRational timeBase) {
    // The container may have chosen its own time base for the stream when it wrote its header.
    av_packet_rescale_ts(packet, timeBase, format_->streams[packet->stream_index]->time_base);
    check(av_interleaved_write_frame(format_, packet));
}

void Muxer::init(ffmpeg::Dictionary options) {
    const int ret = ffmpeg::withOptions(options, [&](AVDictionary** d) { return avformat_init_output(format_, d); });
    if (format_->pb && format_->pb->error < 0) check(format_->pb->error);
    if (ret < 0)
        throw MediaError(QStringLiteral("The %1 container cannot hold these streams: %2")
                             .arg(containerName(format_), ffmpegErrorText(ret)));
    initialized_ = true;
}

void Muxer::start() {
    const int ret = avformat_write_header(format_, nullptr);
    // A file that cannot take its header fails here.
    if (format_->pb) avio_flush(format_->pb);
    if (format_->pb && format_->pb->error < 0) check(format_->pb->error);
    if (io_.behind) check(io_.behind->drain());
    if (ret < 0)
        throw MediaError(QStringLiteral("The %1 container cannot hold these streams: %2")
                             .arg(containerName(format_), ffmpegErrorText(ret)));
    started_ = true;
    std::vector<Held> held = std::move(held_);
    for (Held& h : held) send(h.packet.get(), h.timeBase);
}

// ---- OutputContainer ----

const AVOutputFormat* outputFormatNamed(const char* name, const QString& path) {
    const QByteArray file = QFile::encodeName(path);
    return av_guess_format(name, file.isEmpty() ? nullptr : file.constData(), nullptr);
}

OutputContainer::OutputContainer(const QString& path, const AVOutputFormat* format, int64_t writeLimit) : path_(path) {
    io_.limit = writeLimit;
    io_.path = QFile::encodeName(path);
    if (io_.path.isEmpty()) throw MediaError(QStringLiteral("No output file name was given"));
    if (!format) throw MediaError(QStringLiteral("Files like %1 cannot be written").arg(path));
    AVFormatContext* raw = nullptr;
    avformat_alloc_output_context2(&raw, format, nullptr, io_.path.constData());
    format_.reset(raw);
    if (!format_) throw MediaError(QStringLiteral("Out of memory while opening %1").arg(path));
    format_->strict_std_compliance = kOutputCompliance;
    muxer_ = std::make_unique<Muxer>(format_.get(), path, io_);
}

OutputContainer::~OutputContainer() { abandon(); }

void OutputContainer::create(ffmpeg::Dictionary options) {
    const AVDictionaryEntry* m2ts = av_dict_get(options.get(), "mpegts_m2ts_mode", nullptr, 0);
    const bool bluray = m2ts && std::strcmp(m2ts->value, "1") == 0;
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        const AVCodecParameters* par = format_->streams[i]->codecpar;
        const bool carried = par->codec_type == AVMEDIA_TYPE_ATTACHMENT ? containerCarriesAttachments(format_->oformat)
                                                                        : containerCarries(format_->oformat, par, bluray);
        if (!carried) throw MediaError(cannotCarryMessage(format_->oformat, par));
        if (const char* filter = packetFormFilter(format_->oformat, par))
            muxer_->convertPackets(int(i), filter);
    }
    // O_EXCL: a file that exists, or appears at this moment, is never opened or replaced.
    io_.fd = ::open(io_.path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (io_.fd < 0) {
        const int code = errno;
        if (code == EEXIST) throw MediaError(QStringLiteral("The file already exists: %1").arg(path_));
        throw MediaError(QStringLiteral("Could not create the file %1: %2").arg(path_, systemError(code)));
    }
    created_ = true;
    struct stat made {};
    if (::fstat(io_.fd, &made) == 0) {
        device_ = made.st_dev;
        inode_ = made.st_ino;
    }
    try {
        io_.behind = std::make_unique<WriteBehind>(
            [io = &io_](const uint8_t* data, int size) { return writeNow(io, data, size); });
        avio_ = ffmpeg::makeCustomIo(kIoBufferSize, true, &io_, nullptr, writeBytes, seekFile);
        if (!avio_) throw MediaError(QStringLiteral("Out of memory while opening %1").arg(path_));
        format_->pb = avio_.get();
        format_->flags |= AVFMT_FLAG_CUSTOM_IO;
        muxer_->init(std::move(options));
    } catch (...) {
        release();
        removeFile();
        throw;
    }
}

void OutputContainer::start() {
    try {
        muxer_->start();
    } catch (...) {
        // A file whose header could not be written holds nothing useful: it goes.
        release();
        removeFile();
        throw;
    }
}

void OutputContainer::finish() {
    if (!format_ || !created_) return;
    try {
        if (!muxer_->started()) muxer_->start();
        muxer_->check(av_write_trailer(format_.get()));
        avio_flush(avio_.get());
        muxer_->check(io_.behind->drain());
        io_.behind.reset();
        const int fd = io_.fd;
        io_.fd = -1;
        if (::close(fd) != 0)
            throw MediaError(QStringLiteral("Could not write the output file %1: %2").arg(path_, systemError(errno)));
    } catch (...) {
        abandon();
        throw;
    }
    release();
    created_ = false;
}

void OutputContainer::abandon() noexcept {
    release();
    removeFile();
}

void OutputContainer::release() noexcept {
    muxer_.reset();
    if (format_) format_->pb = nullptr;
    avio_.reset();
    format_.reset();
    io_.behind.reset();  // what the container wrote last reaches the file
    if (io_.fd >= 0) {
        ::close(io_.fd);
        io_.fd = -1;
    }
}

void OutputContainer::removeFile() noexcept {
    // Ours, created by create() and not completed; a file put at its name since stays.
    struct stat named {};
    if (created_ && ::stat(io_.path.constData(), &named) == 0 && named.st_dev == device_ && named.st_ino == inode_)
        ::unlink(io_.path.constData());
    created_ = false;
}
