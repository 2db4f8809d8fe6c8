#include "engine/reader/PacketCursor.h"

#include <algorithm>

#include "engine/common/MediaError.h"
#include "engine/common/StreamSelection.h"

namespace {

// Packets read after a seek before one of them is recognised; past that the seek failed.
constexpr int kMaxUnknownPackets = 256;

}  // namespace

PacketCursor::PacketCursor(std::shared_ptr<const OpenedSource> source)
    : source_(std::move(source)), stream_(source_->videoStream()) {
    if (!held_) throw MediaError(QStringLiteral("Out of memory while opening %1").arg(source_->path()));
    input_ = source_->openDemuxer(stream_, false);
    if (source_->packedPictures()) unpacker_.emplace(source_->video()->codecpar);
}

void PacketCursor::keepVideoOnly() {
    keepOnlyStreams(input_.get(), {stream_});
    handed_.clear();
    begun_.clear();
    sink_ = nullptr;
}

std::vector<int> PacketCursor::handOn(const std::vector<int>& streams, PacketSink sink) {
    keepVideoOnly();
    const AVFormatContext* facts = source_->facts();
    for (const int s : streams) {
        if (s == stream_ || s < 0 || s >= int(input_->nb_streams) || s >= int(facts->nb_streams)) continue;
        const AVStream* mine = input_->streams[s];
        const AVStream* opened = facts->streams[s];
        if (mine->codecpar->codec_type != opened->codecpar->codec_type ||
            mine->codecpar->codec_id != opened->codecpar->codec_id || av_cmp_q(mine->time_base, opened->time_base) != 0)
            continue;
        input_->streams[s]->discard = AVDISCARD_DEFAULT;
        handed_.push_back(s);
    }
    if (!handed_.empty()) sink_ = std::move(sink);
    return handed_;
}

int PacketCursor::keyframeBefore(int packet) const {
    for (int i = packet - 1; i > 0; --i)
        if (index().isKeyPacket(i)) return i;
    return 0;
}

bool PacketCursor::seek(int target) {
    keepVideoOnly();
    av_packet_unref(held_.get());
    holding_ = false;
    if (unpacker_) unpacker_->reset();
    // First by the packet's own timestamp, then from the keyframe before it (some demuxers
    // land late), then from the start of the file, which always works.
    const int candidates[] = {target, keyframeBefore(target)};
    for (int candidate : candidates) {
        if (candidate == 0) break;
        const IndexedPacket p = index().packet(candidate);
        const int64_t ts = p.dts != IndexedPacket::kNoTime ? p.dts : p.pts;
        if (ts == IndexedPacket::kNoTime) break;
        if (avformat_seek_file(input_.get(), stream_, INT64_MIN, ts, ts, 0) >= 0 && scanTo(target, false)) return true;
    }
    if (demux::rewind(input_)) {
        keepVideoOnly();
        if (scanTo(target, true)) return true;
    }
    // A format whose seek to the start does not land on its first packet: read it anew.
    try {
        input_ = source_->openDemuxer(stream_, false);
    } catch (const MediaError&) {
        return false;
    }
    return scanTo(target, true);
}

bool PacketCursor::scanTo(int target, bool fromFileStart) {
    // Reads packets until the wanted one. A packet is recognised by its position or
    // timestamps together with its size; packets in between are counted. The size matters:
    // a parser that starts afresh after a seek may cut its first picture differently, and
    // such a piece must not be taken for the whole packet.
    AVPacket* p = held_.get();
    int current = -1;
    int unknown = 0;
    while (av_read_frame(input_.get(), p) >= 0) {
        if (p->stream_index != stream_ || p->size <= 0) {
            av_packet_unref(p);
            continue;
        }
        const auto found = index().locate(p->pos, p->pts, p->dts);
        const bool recognised = found && index().packet(*found).size == p->size;
        if (recognised) {
            current = *found;
        } else if (current >= 0) {
            ++current;
        } else if (fromFileStart) {
            current = 0;
        } else if (++unknown > kMaxUnknownPackets) {
            break;
        } else {
            av_packet_unref(p);
            continue;
        }
        if (current == target && index().packet(target).size == p->size) {
            next_ = target;
            holding_ = true;
            return true;
        }
        av_packet_unref(p);
        if (current >= target) break;  // landed after it, or it came cut differently
    }
    av_packet_unref(p);
    return false;
}

int PacketCursor::read(AVPacket* into) {
    const int number = readAsStored(into);
    if (number >= 0 && unpacker_) unpacker_->unpack(into);
    return number;
}

int PacketCursor::readAsStored(AVPacket* into) {
    av_packet_unref(into);
    if (holding_) {
        holding_ = false;
        av_packet_move_ref(into, held_.get());
        return next_++;
    }
    while (av_read_frame(input_.get(), into) >= 0) {
        if (into->stream_index != stream_ && sink_ &&
            std::find(handed_.begin(), handed_.end(), into->stream_index) != handed_.end()) {
            if (std::find(begun_.begin(), begun_.end(), into->stream_index) != begun_.end())
                sink_(into);
            else
                begun_.push_back(into->stream_index);
        }
        if (into->stream_index != stream_ || into->size <= 0 || next_ >= index().packetCount()) {
            av_packet_unref(into);
            continue;
        }
        int current = next_;
        // Counting is checked against the byte position where both are known.
        const int64_t expectedPos = index().packet(current).pos;
        if (into->pos >= 0 && expectedPos >= 0 && into->pos != expectedPos)
            if (const auto found = index().locate(into->pos, IndexedPacket::kNoTime, IndexedPacket::kNoTime))
                current = *found;
        next_ = current + 1;
        return current;
    }
    return -1;
}
