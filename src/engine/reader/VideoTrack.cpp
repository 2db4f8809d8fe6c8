#include "engine/reader/VideoTrack.h"

#include "engine/common/Decoding.h"
#include "engine/common/MediaError.h"
#include "engine/common/StreamSelection.h"
#include "engine/reader/Demux.h"

namespace {

// Packets read after a seek before one of them is recognised; past that the seek failed.
constexpr int kMaxUnknownPackets = 256;

}  // namespace

VideoTrack::VideoTrack(const QString& path, demux::Input input, int stream, std::shared_ptr<const PacketIndex> index,
                       ffmpeg::Codec decoder, int64_t cacheBytes)
    : path_(path),
      input_(std::move(input)),
      stream_(stream),
      timeBase_(input_->streams[stream]->time_base),
      index_(std::move(index)),
      decoder_(std::move(decoder)),
      cache_(cacheBytes) {
    if (!packet_ || !frame_) throw MediaError(QStringLiteral("Out of memory while opening %1").arg(path));
    applyDiscard();
}

void VideoTrack::applyDiscard() { keepOnlyStreams(input_.get(), {stream_}); }

const AVFrame* VideoTrack::frame(int n, int keepFrom) {
    if (const AVFrame* cached = cache_.find(n)) return cached;
    keepFrom_ = keepFrom;
    auto decodeTo = [&] {
        while (!cache_.find(n) && lastOutput_ < n && decodeOne(n)) {
        }
        return cache_.find(n);
    };
    const int start = index_->startPacketFor(n);
    const bool continued = canContinueTo(n);
    if (!continued) startRun(start);
    if (const AVFrame* decoded = decodeTo()) return decoded;
    // The decoder did not give this frame: once more afresh, then from the keyframe before
    // (a keyframe flag on a picture that is not a clean start).
    if (continued) {
        startRun(start);
        if (const AVFrame* decoded = decodeTo()) return decoded;
    }
    if (const int earlier = keyframeBefore(start); earlier != start) {
        startRun(earlier);
        if (const AVFrame* decoded = decodeTo()) return decoded;
    }
    int found = 0;
    if (const AVFrame* neighbour = cache_.nearest(n, &found)) return neighbour;
    throw MediaError(QStringLiteral("Frame %1 of %2 cannot be decoded (the file is damaged)").arg(n).arg(path_));
}

bool VideoTrack::canContinueTo(int n) const {
    // Going on is right when the run already covers a keyframe that decodes n, and n is yet
    // to come; a keyframe for n further ahead is reached faster by a seek.
    return runActive_ && !drained_ && n > lastOutput_ && index_->decodableFrom(n, runStart_) &&
           index_->startPacketFor(n) <= nextPacket_;
}

int VideoTrack::keyframeBefore(int packet) const {
    for (int i = packet - 1; i > 0; --i)
        if (index_->isKeyPacket(i)) return i;
    return 0;
}

void VideoTrack::startRun(int packet) {
    ++stats_.runs;
    avcodec_flush_buffers(decoder_.get());
    runActive_ = drained_ = sentEnd_ = held_ = false;
    lastOutput_ = 0;
    if (!positionDemuxer(packet))
        throw MediaError(QStringLiteral("Cannot find frame data in %1 (the file is damaged)").arg(path_));
    runStart_ = packet;
    runActive_ = true;
}

bool VideoTrack::positionDemuxer(int packet) {
    av_packet_unref(packet_.get());
    // First by the packet's own timestamp, then from the keyframe before it (some demuxers
    // land late), then from the start of the file, which always works.
    const int candidates[] = {packet, keyframeBefore(packet)};
    for (int candidate : candidates) {
        if (candidate == 0) break;
        const IndexedPacket& p = index_->packet(candidate);
        const int64_t ts = p.dts != IndexedPacket::kNoTime ? p.dts : p.pts;
        if (ts == IndexedPacket::kNoTime) break;
        if (avformat_seek_file(input_.get(), stream_, INT64_MIN, ts, ts, 0) >= 0 && scanTo(packet, false)) return true;
    }
    if (demux::rewind(input_, path_)) {
        applyDiscard();
        if (scanTo(packet, true)) return true;
    }
    // A format whose seek to the start does not land on its first packet: read it anew.
    try {
        input_ = demux::openSource(path_, true);
    } catch (const MediaError&) {
        return false;
    }
    applyDiscard();
    return scanTo(packet, true);
}

bool VideoTrack::scanTo(int packet, bool fromFileStart) {
    // Reads packets until the wanted one. A packet is recognised by its position or
    // timestamps together with its size; packets in between are counted. The size matters:
    // a parser that starts afresh after a seek may cut its first picture differently, and
    // such a piece must not be taken for the whole packet.
    int current = -1;
    int unknown = 0;
    while (av_read_frame(input_.get(), packet_.get()) >= 0) {
        if (packet_->stream_index != stream_ || packet_->size <= 0) {
            av_packet_unref(packet_.get());
            continue;
        }
        const auto found = index_->locate(packet_->pos, packet_->pts, packet_->dts);
        const bool recognised = found && index_->packet(*found).size == packet_->size;
        if (recognised) {
            current = *found;
        } else if (current >= 0) {
            ++current;
        } else if (fromFileStart) {
            current = 0;
        } else if (++unknown > kMaxUnknownPackets) {
            break;
        } else {
            av_packet_unref(packet_.get());
            continue;
        }
        if (current == packet && index_->packet(packet).size == packet_->size) {
            packet_->pts = packet;
            nextPacket_ = packet + 1;
            held_ = true;
            return true;
        }
        av_packet_unref(packet_.get());
        if (current >= packet) break;  // landed after it, or it came cut differently
    }
    av_packet_unref(packet_.get());
    return false;
}

bool VideoTrack::readPacket() {
    if (held_) {
        held_ = false;
        return true;
    }
    while (av_read_frame(input_.get(), packet_.get()) >= 0) {
        if (packet_->stream_index != stream_ || packet_->size <= 0 || nextPacket_ >= index_->packetCount()) {
            av_packet_unref(packet_.get());
            continue;
        }
        int current = nextPacket_;
        // Counting is checked against the byte position where both are known.
        const int64_t expectedPos = index_->packet(current).pos;
        if (packet_->pos >= 0 && expectedPos >= 0 && packet_->pos != expectedPos) {
            if (const auto found = index_->locate(packet_->pos, IndexedPacket::kNoTime, IndexedPacket::kNoTime))
                current = *found;
        }
        nextPacket_ = current + 1;
        packet_->pts = current;
        return true;
    }
    return false;
}

bool VideoTrack::decodeOne(int wanted) {
    if (!runActive_ || drained_) return false;
    if (decodeNextFrame(decoder_.get(), frame_.get(), packet_.get(), &sentEnd_, [this] { return readPacket(); })) {
        keep(frame_.get(), wanted);
        av_frame_unref(frame_.get());
        return true;
    }
    drained_ = true;
    return false;
}

void VideoTrack::keep(const AVFrame* frame, int wanted) {
    if (frame->width <= 0 || frame->height <= 0 || frame->format < 0) return;
    int number = lastOutput_ + 1;  // a decoder that lost the tag: pictures come in order
    if (frame->pts >= 0 && frame->pts < index_->packetCount())
        number = index_->frameOfPacket(static_cast<int>(frame->pts));
    if (number <= 0 || number > index_->frameCount()) return;
    ++stats_.framesDecoded;
    lastOutput_ = std::max(lastOutput_, number);
    // Leading pictures of the run's first keyframe refer to pictures before it: not kept.
    if (number < keepFrom_ && number != wanted) return;
    if (index_->decodableFrom(number, runStart_)) cache_.put(number, frame, wanted);
}
