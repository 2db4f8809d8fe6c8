#include "engine/remux/PieceEncoder.h"

#include <algorithm>

#include "engine/common/Bitstream.h"
#include "engine/common/Decoding.h"
#include "engine/common/MediaError.h"
#include "engine/reader/Demux.h"
#include "engine/remux/EdgeEncoder.h"

namespace {

constexpr int64_t kNone = IndexedPacket::kNoTime;

// A packet holding a copy of these bytes.
ffmpeg::Packet packetOf(const std::vector<uint8_t>& bytes) {
    ffmpeg::Packet p = ffmpeg::makePacket();
    if (!p || av_new_packet(p.get(), int(bytes.size())) < 0) throw MediaError(QStringLiteral("Out of memory"));
    std::copy(bytes.begin(), bytes.end(), p->data);
    return p;
}

// The piece's rate cap: the source's own bit rate over the groups of pictures that hold the
// piece's frames (keyframe to keyframe, so its share of the keyframes counts), with half as
// much again, and a buffer of a second and twice the source's largest keyframe there, so the
// piece's own keyframe is as good as the source's and the frames after it do not starve.
RateCap rateCapFor(const OpenedSource& source, int32_t first, int32_t last) {
    const PacketIndex& index = source.index();
    int begin = index.startPacketFor(first), end = index.packetOfFrame(last) + 1;
    while (end < index.packetCount() && !index.isKeyPacket(end)) ++end;
    int64_t bytes = 0, largestKey = 0;
    for (int p = begin; p < end; ++p) {
        bytes += index.packet(p).size;
        if (index.isKeyPacket(p)) largestKey = std::max<int64_t>(largestKey, index.packet(p).size);
    }
    const double seconds = (end - begin) / source.nominalFrameRate();
    if (seconds <= 0) return {};
    // A source of next to no bits (a still picture) would starve the encoder: at least a
    // twentieth of a bit a pixel.
    const AVCodecParameters* par = source.video()->codecpar;
    const double floor = 0.05 * par->width * par->height * source.nominalFrameRate();
    const int64_t rate = int64_t(std::max(bytes * 8 / seconds * 1.5, floor));
    RateCap cap{rate, rate + largestKey * 8 * 2};
    // The aim: the source's own rate around the piece (its groups, keyframes included), or
    // over the piece's own frames where those take more; a piece shorter than a second also
    // gets the bits of a keyframe like the source's, as it starts with one of its own.
    int64_t pieceBytes = 0;
    bool pieceHasKey = false;
    for (int32_t f = first; f <= last; ++f) {
        const int p = index.packetOfFrame(f);
        pieceBytes += index.packet(p).size;
        pieceHasKey = pieceHasKey || index.isKeyPacket(p);
    }
    const double pieceSeconds = (last - first + 1) / source.nominalFrameRate();
    if (!pieceHasKey && pieceSeconds < 1) pieceBytes += largestKey;
    const double aim = std::max({bytes * 8 / seconds, pieceBytes * 8 / pieceSeconds, floor});
    cap.aimBitsPerSecond = std::min(cap.bitsPerSecond, int64_t(aim));
    // A stream that declares its buffer model (a broadcast's HRD) gets pieces inside it.
    if (par->codec_id == AV_CODEC_ID_H264) {
        const auto [declaredRate, declaredBuffer] = h264DeclaredBufferModel(par->extradata, par->extradata_size);
        if (declaredRate > 0) {
            cap.bitsPerSecond = std::min(cap.bitsPerSecond, declaredRate);
            cap.bufferBits = std::min(cap.bufferBits, declaredBuffer);
            cap.aimBitsPerSecond = std::min(cap.aimBitsPerSecond, cap.bitsPerSecond);
        }
    }
    return cap;
}

// The last packet in file order that holds a frame of first..last.
int lastPacketOf(const PacketIndex& index, int32_t first, int32_t last) {
    int packet = 0;
    for (int32_t f = first; f <= last; ++f) packet = std::max(packet, index.packetOfFrame(f));
    return packet;
}

}  // namespace

PieceStyle PieceStyle::of(const OpenedSource& source) {
    const AVStream* video = source.video();
    const PacketIndex& index = source.index();
    PieceStyle style;
    style.frameRate = av_d2q(source.nominalFrameRate(), 100000);
    const Seconds length = toSeconds(StreamTicks{index.endTime() - index.firstTime()}, video->time_base);
    style.sourceBitRate = length.value > 0 ? int64_t(source.measured().videoBytes * 8 / length.value) : 0;
    style.usedParameterSetIds = h264ParameterSetIds(video->codecpar->extradata, video->codecpar->extradata_size);
    return style;
}

std::vector<uint8_t> headerWithPieceParameterSets(const OpenedSource& source, const PieceStyle& style) {
    const AVStream* video = source.video();
    const AVCodecParameters* par = video->codecpar;
    if (par->codec_id != AV_CODEC_ID_H264 || par->format < 0) return {};
    ffmpeg::Frame shape = ffmpeg::makeFrame();
    if (!shape) throw MediaError(QStringLiteral("Out of memory"));
    shape->width = par->width;
    shape->height = par->height;
    shape->format = par->format;
    const ffmpeg::Codec probe =
        openEdgeEncoder(video, shape.get(), style.frameRate, style.sourceBitRate, {}, style.usedParameterSetIds, true);
    return withPieceParameterSets(par, probe->extradata, probe->extradata_size);
}

PieceEncoder::PieceEncoder(PacketCursor& cursor, PieceSink sink, const PieceStyle& style, int32_t first, int32_t last,
                           StreamTicks decodeLead, int threads)
    : cursor_(cursor),
      sink_(std::move(sink)),
      style_(style),
      video_(cursor.source().video()),
      first_(first),
      last_(last),
      decodeLead_(decodeLead),
      rateCap_(rateCapFor(cursor.source(), first, last)),
      threads_(threads),
      lastPacket_(lastPacketOf(cursor.index(), first, last)) {
    if (!frame_ || !packet_ || !out_) throw MediaError(QStringLiteral("Out of memory"));
    // A piece that has the encoder's own threads decodes on two: on a dense source decoding
    // takes as long as encoding, and one thread would keep the encoder waiting. A piece on one
    // thread decodes on one; each frame thread more holds a set of reference pictures.
    decoder_ = demux::openDecoder(video_, threads == 1 ? 1 : 2, QStringLiteral("video"), cursor_.source().path());
    if (!cursor_.seek(cursor_.index().startPacketFor(first)))
        throw MediaError(
            QStringLiteral("Cannot find frame data in %1 (the file is damaged)").arg(cursor_.source().path()));
}

// The next packet for the decoder, tagged with its number in the index. Pictures before the
// piece that no other picture refers to are not decoded at all, nor any after the last packet
// the piece needs: the decoder is drained then instead, where it would otherwise decode on
// (a keyframe among them) until its reordering gives up the piece's last frames.
bool PieceEncoder::readPacket() {
    const PacketIndex& index = cursor_.index();
    for (;;) {
        if (cursor_.next() > lastPacket_) return false;
        const int p = cursor_.read(packet_.get());
        if (p < 0) return false;
        if (index.frameOfPacket(p) < first_ && unreferenced(video_->codecpar, packet_->data, packet_->size)) continue;
        packet_->pts = p;  // each picture tells which packet it came from
        return true;
    }
}

bool PieceEncoder::step() {
    if (done_) return false;
    const PacketIndex& index = cursor_.index();
    while (decodeNextFrame(decoder_.get(), frame_.get(), packet_.get(), &sentEnd_, [this] { return readPacket(); })) {
        const int64_t tag = frame_->pts;
        const int32_t number = tag >= 0 && tag < index.packetCount() ? index.frameOfPacket(int(tag)) : 0;
        if (number < first_ || number > last_) {
            av_frame_unref(frame_.get());
            if (number > last_) break;
            continue;
        }
        encode(frame_.get(), number);
        av_frame_unref(frame_.get());
        if (number == last_) break;
        return true;
    }
    finish();
    // Not one picture of the piece could be decoded (its reference pictures are missing): the
    // file would lack them without a word.
    if (current_ == 0)
        throw MediaError(QStringLiteral("Frames %1 to %2 of %3 cannot be decoded (the file is damaged)")
                             .arg(first_)
                             .arg(last_)
                             .arg(cursor_.source().path()));
    return false;
}

void PieceEncoder::encode(const AVFrame* frame, int32_t number) {
    if (!encoder_)
        encoder_ = openEdgeEncoder(video_, frame, style_.frameRate, style_.sourceBitRate, rateCap_,
                                   style_.usedParameterSetIds, false, threads_);
    ffmpeg::Frame copy = ffmpeg::makeFrame();
    if (!copy || av_frame_ref(copy.get(), frame) < 0) throw MediaError(QStringLiteral("Out of memory"));
    copy->pts = number - first_;
    copy->pict_type = AV_PICTURE_TYPE_NONE;
    const int ret = avcodec_send_frame(encoder_.get(), copy.get());
    if (ret < 0) throw MediaError(QStringLiteral("Cannot encode frame %1 (%2)").arg(number).arg(ffmpegErrorText(ret)));
    current_ = number;
    drain();
}

void PieceEncoder::drain() {
    const PacketIndex& index = cursor_.index();
    while (avcodec_receive_packet(encoder_.get(), out_.get()) == 0) {
        const int32_t number = first_ + int32_t(out_->pts);
        const ffmpeg::Packet p = packetOf(toSourceForm(video_->codecpar, out_->data, out_->size));
        p->flags = out_->flags & AV_PKT_FLAG_KEY;
        p->duration = index.frameDuration(number);
        // Decode times count frames like pts; one before the piece's first frame is the first
        // frame's time less one frame.
        const int64_t dtsCount = out_->dts != kNone ? out_->dts : out_->pts;
        const int64_t decodeTime = dtsCount >= 0
                                       ? index.frameTime(std::min(first_ + int32_t(dtsCount), last_))
                                       : index.frameTime(first_) + dtsCount * cursor_.source().frameTicks().value;
        av_packet_unref(out_.get());
        sink_(p.get(), StreamTicks{index.frameTime(number)}, StreamTicks{decodeTime - decodeLead_.value});
        ++encoded_;
    }
}

void PieceEncoder::finish() {
    if (done_) return;
    done_ = true;
    if (encoder_) {
        avcodec_send_frame(encoder_.get(), nullptr);
        drain();
    }
    encoder_.reset();
    decoder_.reset();
}
