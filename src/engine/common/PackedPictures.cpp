#include "engine/common/PackedPictures.h"

#include "engine/common/MediaError.h"

extern "C" {
#include <libavcodec/bsf.h>
}

std::vector<int> mpeg4PictureTypes(const uint8_t* data, int size) {
    // A picture starts with the code 00 00 01 B6; its first two bits after it are its type.
    std::vector<int> types;
    for (int i = 0; data && i + 4 < size; ++i)
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] == 0xB6)
            types.push_back(data[i + 4] >> 6);
    return types;
}

bool holdsPackedPictures(const AVCodecParameters* par, const uint8_t* data, int size) {
    return par->codec_id == AV_CODEC_ID_MPEG4 && mpeg4PictureTypes(data, size).size() >= 2;
}

PictureUnpacker::PictureUnpacker(const AVCodecParameters* par) {
    const AVBitStreamFilter* kind = av_bsf_get_by_name("mpeg4_unpack_bframes");
    AVBSFContext* raw = nullptr;
    int ret = kind ? av_bsf_alloc(kind, &raw) : AVERROR_BSF_NOT_FOUND;
    filter_.reset(raw);
    if (ret >= 0) ret = avcodec_parameters_copy(filter_->par_in, par);
    if (ret >= 0) ret = av_bsf_init(filter_.get());
    if (ret < 0)
        throw MediaError(QStringLiteral("Cannot unpack the B-frames of this MPEG-4 video (%1)").arg(ffmpegErrorText(ret)));
}

void PictureUnpacker::unpack(AVPacket* packet) {
    ffmpeg::Packet original(av_packet_clone(packet));
    if (!original) throw MediaError(QStringLiteral("Out of memory"));
    int ret = av_bsf_send_packet(filter_.get(), packet);
    if (ret >= 0) ret = av_bsf_receive_packet(filter_.get(), packet);
    if (ret >= 0) return;
    av_packet_unref(packet);
    av_packet_move_ref(packet, original.get());
    if (ret != AVERROR(EAGAIN)) reset();
}

void PictureUnpacker::reset() { av_bsf_flush(filter_.get()); }
