#include "engine/remux/SegmentCopier.h"

#include <algorithm>
#include <cstring>

#include "engine/common/MediaError.h"

namespace {

// Packets copied per pass: a pass stays short, so Cancel and the window answer at once.
constexpr int kPacketsPerPass = 48;

// Puts `header` before the packet's own bytes, keeping its properties.
void prepend(AVPacket* packet, const std::vector<uint8_t>& header) {
    ffmpeg::Packet joined = ffmpeg::makePacket();
    if (!joined || av_new_packet(joined.get(), int(header.size()) + packet->size) < 0)
        throw MediaError(QStringLiteral("Out of memory"));
    std::memcpy(joined->data, header.data(), header.size());
    std::memcpy(joined->data + header.size(), packet->data, size_t(packet->size));
    av_packet_copy_props(joined.get(), packet);
    av_packet_unref(packet);
    av_packet_move_ref(packet, joined.get());
}

}  // namespace

SegmentCopier::SegmentCopier(PacketCursor& cursor, OutputSession& session, const CutPlan& plan,
                             std::vector<uint8_t> headerBefore)
    : cursor_(cursor), session_(session), plan_(plan), headerBefore_(std::move(headerBefore)) {
    if (!packet_) throw MediaError(QStringLiteral("Out of memory"));
    const AVCodecParameters* par = cursor_.source().video()->codecpar;
    if (par->codec_id == AV_CODEC_ID_H264) openGroup_.emplace(par);
    if (!cursor_.seek(plan_.copyBegin))
        throw MediaError(
            QStringLiteral("Cannot find frame data in %1 (the file is damaged)").arg(cursor_.source().path()));
}

bool SegmentCopier::step() {
    const PacketIndex& index = cursor_.index();
    for (int n = 0; n < kPacketsPerPass; ++n) {
        if (cursor_.next() >= plan_.copyEnd) return false;
        const int p = cursor_.read(packet_.get());
        // The index holds packets the file no longer gives: it was cut short since it was
        // opened, and a copy that stopped here would pass for complete.
        if (p < 0)
            throw MediaError(QStringLiteral("Cannot read frame %1 of %2 (the file ends before it)")
                                 .arg(index.frameOfPacket(cursor_.next()))
                                 .arg(cursor_.source().path()));
        if (p >= plan_.copyEnd) return false;
        if (!plan_.copies(index, p)) continue;
        if (openGroup_) openGroup_->rewrite(packet_.get());
        if (p == plan_.copyBegin && !headerBefore_.empty()) prepend(packet_.get(), headerBefore_);
        const int32_t frame = index.frameOfPacket(p);
        const StreamTicks pts{index.frameTime(frame)};
        // Each frame lasts until the next one: the last frame's length is the muxer's to write,
        // and a demuxer's packet lengths need not be the frames' (see PacketIndex::endTime).
        packet_->duration = index.frameDuration(frame);
        // The index's decode time: what the open's fully informed demuxer gave this packet, on the
        // frames' time line and made to rise where the demuxer's did not.
        session_.writeVideo(packet_.get(), pts, StreamTicks{index.decodeTime(p)});
        ++copied_;
        current_ = std::max(current_, frame);
    }
    return true;
}
