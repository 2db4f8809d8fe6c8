#include "engine/reader/OpenedSource.h"

#include <QFileInfo>
#include <algorithm>

#include "engine/common/MediaError.h"
#include "engine/common/StreamSelection.h"

namespace {

constexpr int kMaxPictureSide = 16384;  // what frame data accepts

void checkFile(const QString& path) {
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists()) throw MediaError(QStringLiteral("File not found: %1").arg(path));
    if (!info.isFile()) throw MediaError(QStringLiteral("Not a video file: %1 (it is not a regular file)").arg(path));
    if (!info.isReadable()) throw MediaError(QStringLiteral("Cannot read %1 (permission denied)").arg(path));
    if (info.size() == 0) throw MediaError(QStringLiteral("Not a video file: %1 (the file is empty)").arg(path));
}

void checkPictureSize(const AVStream* st, const QString& path) {
    const int width = st->codecpar->width, height = st->codecpar->height;
    if (width <= 0 || height <= 0 || width > kMaxPictureSide || height > kMaxPictureSide)
        throw MediaError(QStringLiteral("Unsupported picture size %1x%2 in %3").arg(width).arg(height).arg(path));
}

// A header may count an empty "dropped frame" entry (common tools write one before MP3 audio
// in AVI), so only a shortfall beyond one frame or 1 % means truncation. A count the file
// could not hold even at one byte a frame is a damaged header field, not a sign of a cut-short
// file: the frames that are there still open.
void checkNotTruncated(const AVStream* st, int64_t packetsRead, int64_t fileSize, const QString& path) {
    const int64_t declared = st->nb_frames <= fileSize ? st->nb_frames : 0;
    const int64_t tolerated = std::max<int64_t>(1, declared / 100);
    if (declared > 0 && packetsRead + tolerated < declared)
        throw MediaError(QStringLiteral("The file is truncated or damaged: %1 (it holds %2 of %3 frames)")
                             .arg(path)
                             .arg(packetsRead)
                             .arg(declared));
}

// The codecs of broadcast recordings, whose decoders show no picture before the first
// keyframe nor the leading pictures of an open group at the start.
bool decodersSkipUndecodableStart(AVCodecID id) {
    return id == AV_CODEC_ID_H264 || id == AV_CODEC_ID_HEVC || id == AV_CODEC_ID_MPEG2VIDEO ||
           id == AV_CODEC_ID_MPEG1VIDEO;
}

}  // namespace

std::shared_ptr<const OpenedSource> OpenedSource::open(const QString& path, const ScanProgress& progress) {
    checkFile(path);
    std::shared_ptr<OpenedSource> s(new OpenedSource);
    s->file_ = demux::SourceFile::open(path);
    s->facts_ = demux::openSource(s->file_, true);
    AVFormatContext* input = s->facts_.get();
    s->videoStream_ = demux::pickVideoStream(input);
    s->audioStream_ = demux::pickSoundStream(input);
    if (s->videoStream_ < 0 && s->audioStream_ < 0)
        throw MediaError(QStringLiteral("Not a video file: %1 (it holds no video or audio stream)").arg(path));
    // The decoders are tried before the long scan, so an unsupported codec fails at once.
    if (const AVStream* st = s->video()) {
        checkPictureSize(st, path);
        demux::openDecoder(st, 1, QStringLiteral("video"), path);
    }
    if (const AVStream* st = s->audio()) demux::openDecoder(st, 1, QStringLiteral("audio"), path);

    SourceScan scan = scanPackets(input, s->videoStream_, s->audioStream_, progress);
    s->measured_ = {scan.videoBytes, scan.audioSeen, scan.audioStart, scan.audioEnd, scan.audioBytes};
    s->openGroupRefusal_ = scan.openGroupRefusal;
    s->packedPictures_ = scan.packedPictures;
    int64_t defaultDuration = 0;
    if (const AVStream* st = s->video()) {
        checkNotTruncated(st, scan.videoPacketsRead, QFileInfo(path).size(), path);
        s->headerRate_ = demux::headerFrameRate(st);
        defaultDuration = s->headerRate_ > 0 ? ticksPerFrame(s->headerRate_, st->time_base).value : 0;
    }
    if (const AVStream* st = s->video()) {
        if (decodersSkipUndecodableStart(st->codecpar->codec_id)) markUndecodableStart(scan.video);
        // A transport or program stream may hold recordings joined end to end, each with its own clock.
        const bool clockStepsBack = input->iformat->flags & AVFMT_TS_DISCONT;
        s->index_ = std::make_shared<const PacketIndex>(std::move(scan.video), st->codecpar->video_delay > 0,
                                                        defaultDuration, clockStepsBack);
        if (s->index_->frameCount() == 0)
            throw MediaError(QStringLiteral("Not a video file: %1 (its video stream holds no pictures)").arg(path));
    } else {
        s->index_ = std::make_shared<const PacketIndex>();
    }
    return s;
}

int64_t OpenedSource::continueTimeLine(AVPacket* packet, AVRational base, int64_t last) const {
    const int64_t offset = packet->pos >= 0 ? index_->joinOffsetAt(packet->pos) : last;
    if (offset == 0) return offset;
    const int64_t moved = av_rescale_q(offset, video()->time_base, base);
    if (packet->pts != AV_NOPTS_VALUE) packet->pts += moved;
    if (packet->dts != AV_NOPTS_VALUE) packet->dts += moved;
    return offset;
}

StreamTicks OpenedSource::frameTicks() const {
    return {std::max<int64_t>(1, ticksPerFrame(nominalFrameRate(), video()->time_base).value)};
}

bool OpenedSource::headerBeforeMedia() const {
    if (!index_ || index_->packetCount() == 0 || index_->packet(0).pos < 0) return false;
    // A demuxer that has just read the header stands where it ends: before the first picture
    // when the header comes first, past it when the demuxer had to look for the header behind
    // the media.
    const demux::Input input = demux::openSource(file_, false);
    return input->pb && avio_tell(input->pb) <= index_->packet(0).pos;
}

demux::Input OpenedSource::openDemuxer(int stream, bool fullInfo) const {
    demux::Input input = demux::openSource(file_, false);
    if (fullInfo || !demux::streamDescribed(input.get(), stream)) {
        const int ret = avformat_find_stream_info(input.get(), nullptr);
        if (ret < 0) throw MediaError(QStringLiteral("Cannot read %1 (%2)").arg(path(), ffmpegErrorText(ret)));
    }
    if (stream < 0 || stream >= int(input->nb_streams) ||
        input->streams[stream]->codecpar->codec_type != facts_->streams[stream]->codecpar->codec_type)
        throw MediaError(QStringLiteral("Cannot read %1 (its streams changed)").arg(path()));
    keepOnlyStreams(input.get(), {stream});
    return input;
}
