#include "engine/reader/Demux.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>

#include "engine/common/MediaError.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavutil/dict.h>
}

namespace demux {

namespace {

// Demuxers that open further files or run scripts named inside the file: a source file must
// never make the program read other files of the user's.
bool opensOtherFiles(const char* demuxer) {
    static const char* const kRefused[] = {"hls", "applehttp", "concat", "dash", "avisynth", "vapoursynth"};
    for (const char* name : kRefused)
        if (std::strcmp(demuxer, name) == 0) return true;
    return false;
}

constexpr int kReadBufferBytes = 512 << 10;

}  // namespace

struct Input::Reading {
    std::shared_ptr<const SourceFile> file;
    int64_t position = 0;
};

namespace {

int readFile(void* opaque, uint8_t* buffer, int size) {
    auto* reading = static_cast<Input::Reading*>(opaque);
    for (;;) {
        const ssize_t got = ::pread(reading->file->fd(), buffer, size_t(size), reading->position);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return AVERROR(errno);
        if (got == 0) return AVERROR_EOF;
        reading->position += got;
        return static_cast<int>(got);
    }
}

int64_t seekFile(void* opaque, int64_t offset, int whence) {
    auto* reading = static_cast<Input::Reading*>(opaque);
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE) return reading->file->size();
    const int64_t size = whence == SEEK_END ? reading->file->size() : 0;
    const int64_t target = whence == SEEK_SET   ? offset
                           : whence == SEEK_CUR ? reading->position + offset
                           : whence == SEEK_END && size >= 0 ? size + offset
                                                             : -1;
    if (target < 0) return AVERROR(EINVAL);
    reading->position = target;
    return target;
}

// Reads the stream information (codec details that the container header leaves out).
void findStreamInfo(AVFormatContext* input, const QString& path) {
    const int ret = avformat_find_stream_info(input, nullptr);
    if (ret < 0)
        throw MediaError(QStringLiteral("Not a video file: %1 (its streams cannot be read: %2)")
                             .arg(path, ffmpegErrorText(ret)));
}

}  // namespace

std::shared_ptr<const SourceFile> SourceFile::open(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw MediaError(QStringLiteral("Cannot read %1 (%2)").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    return std::shared_ptr<const SourceFile>(new SourceFile(path, fd));
}

SourceFile::~SourceFile() { ::close(fd_); }

int64_t SourceFile::size() const {
    struct stat st {};
    return ::fstat(fd_, &st) == 0 ? int64_t(st.st_size) : -1;
}

void SourceFile::prefetch(int64_t from, int64_t length) const {
    if (from >= 0 && length > 0) ::posix_fadvise(fd_, from, length, POSIX_FADV_WILLNEED);
}

Input::Input() = default;
Input::Input(Input&& other) noexcept = default;
Input::~Input() = default;

Input& Input::operator=(Input&& other) noexcept {
    if (this != &other) {
        reset();
        reading_ = std::move(other.reading_);
        io_ = std::move(other.io_);
        format_ = std::move(other.format_);
    }
    return *this;
}

void Input::reset() {
    format_.reset();
    io_.reset();
    reading_.reset();
}

std::shared_ptr<const SourceFile> Input::file() const { return reading_ ? reading_->file : nullptr; }

Input openSource(std::shared_ptr<const SourceFile> file, bool readStreamInfo) {
    const QString path = file->path();
    const QByteArray name = QFile::encodeName(path);
    Input input;
    input.reading_ = std::make_unique<Input::Reading>(Input::Reading{std::move(file), 0});
    input.io_ = ffmpeg::makeCustomIo(kReadBufferBytes, false, input.reading_.get(), readFile, nullptr, seekFile);
    if (!input.io_) throw MediaError(QStringLiteral("Out of memory while opening %1").arg(path));
    // The demuxer FFmpeg picks for the file from its first bytes (which stay in the buffer).
    const AVInputFormat* format = nullptr;
    av_probe_input_buffer2(input.io_.get(), &format, name.constData(), nullptr, 0, 0);
    if (format && opensOtherFiles(format->name))
        throw MediaError(
            QStringLiteral("Not a video file: %1 (a playlist or script that refers to other files)").arg(path));
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) throw MediaError(QStringLiteral("Out of memory while opening %1").arg(path));
    raw->pb = input.io_.get();
    // Only local files: nothing inside a source reaches the network, whatever it refers to.
    ffmpeg::Dictionary options;
    ffmpeg::setOption(options, "protocol_whitelist", "file");
    int ret = ffmpeg::withOptions(  // frees raw on failure
        options, [&](AVDictionary** d) { return avformat_open_input(&raw, name.constData(), format, d); });
    if (ret < 0) throw MediaError(QStringLiteral("Not a video file: %1 (%2)").arg(path, ffmpegErrorText(ret)));
    input.format_.reset(raw);
    if (readStreamInfo) findStreamInfo(raw, path);
    return input;
}

int pickVideoStream(const AVFormatContext* input) {
    int chosen = -1;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* st = input->streams[i];
        if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO || (st->disposition & AV_DISPOSITION_ATTACHED_PIC)) continue;
        if (chosen < 0 || (st->disposition & AV_DISPOSITION_DEFAULT)) chosen = static_cast<int>(i);
        if (st->disposition & AV_DISPOSITION_DEFAULT) break;
    }
    return chosen;
}

bool describedSound(const AVCodecParameters* par) {
    return par->codec_type == AVMEDIA_TYPE_AUDIO && par->sample_rate > 0 && par->ch_layout.nb_channels > 0;
}

int pickSoundStream(const AVFormatContext* input) {
    int first = -1;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* st = input->streams[i];
        if (!describedSound(st->codecpar)) continue;
        if (st->disposition & AV_DISPOSITION_DEFAULT) return int(i);
        if (first < 0) first = int(i);
    }
    return first;
}

double plausibleRate(double fps) { return std::isfinite(fps) && fps >= 0.1 && fps <= 1000 ? fps : 0; }

double headerFrameRate(const AVStream* st) {
    if (st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0)
        if (const double fps = plausibleRate(av_q2d(st->avg_frame_rate))) return fps;
    if (st->r_frame_rate.num > 0 && st->r_frame_rate.den > 0) return plausibleRate(av_q2d(st->r_frame_rate));
    return 0;
}

bool streamDescribed(const AVFormatContext* input, int stream) {
    if (stream < 0 || stream >= static_cast<int>(input->nb_streams)) return false;
    const AVCodecParameters* par = input->streams[stream]->codecpar;
    if (par->codec_id == AV_CODEC_ID_NONE) return false;
    if (par->codec_type == AVMEDIA_TYPE_AUDIO) return par->sample_rate > 0 && par->ch_layout.nb_channels > 0;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO) return par->width > 0 && par->height > 0;
    return false;
}

bool rewind(Input& input) {
    AVFormatContext* c = input.get();
    const int64_t start = c->start_time != AV_NOPTS_VALUE ? c->start_time : 0;
    if (avformat_seek_file(c, -1, INT64_MIN, start, start, 0) >= 0) return true;
    if (avformat_seek_file(c, -1, INT64_MIN, 0, 0, AVSEEK_FLAG_BYTE) >= 0) return true;
    try {
        input = openSource(input.file(), true);
        return true;
    } catch (const MediaError&) {
        return false;
    }
}

QString codecName(AVCodecID id) {
    const AVCodecDescriptor* desc = avcodec_descriptor_get(id);
    if (desc && desc->long_name) return QString::fromUtf8(desc->long_name);
    return QString::fromUtf8(avcodec_get_name(id));
}

// The codec's name; for one FFmpeg does not know, the tag the file gives it (e.g. "XVID").
QString codecLabel(const AVCodecParameters* par) {
    if (par->codec_id != AV_CODEC_ID_NONE) return codecName(par->codec_id);
    if (par->codec_tag == 0) return QStringLiteral("(unknown)");
    char tag[AV_FOURCC_MAX_STRING_SIZE] = {};
    av_fourcc_make_string(tag, par->codec_tag);
    return QStringLiteral("\"%1\"").arg(QString::fromLatin1(tag));
}

ffmpeg::Codec openDecoder(const AVStream* stream, int threads, const QString& kind, const QString& path) {
    const AVCodecParameters* par = stream->codecpar;
    const QString unsupported = QStringLiteral("Unsupported %1 codec %2 in %3").arg(kind, codecLabel(par), path);
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (!codec) throw MediaError(unsupported);
    ffmpeg::Codec context(avcodec_alloc_context3(codec));
    if (!context) throw MediaError(QStringLiteral("Out of memory while opening %1").arg(path));
    if (avcodec_parameters_to_context(context.get(), par) < 0) throw MediaError(unsupported);
    context->pkt_timebase = stream->time_base;
    context->thread_count = threads;
    if (threads != 1) context->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    const int ret = avcodec_open2(context.get(), codec, nullptr);
    // The decoder exists: its set-up data in the file is damaged or asks for something it lacks.
    if (ret < 0)
        throw MediaError(QStringLiteral("The %1 stream (%2) of %3 cannot be decoded: %4")
                             .arg(kind, codecName(par->codec_id), path, ffmpegErrorText(ret)));
    return context;
}

}  // namespace demux
