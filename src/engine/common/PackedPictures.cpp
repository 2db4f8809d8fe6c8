#include "engine/common/PackedPictures.h"

#include <cstring>

#include "engine/common/BitstreamFilters.h"
#include "engine/common/MediaError.h"

extern "C" {
#include <libavcodec/bsf.h>
}

std::vector<int> mpeg4PictureTypes(const uint8_t* data, int size) {
    // A picture starts with the code 00 00 01 B6; its first two bits after it are its type.
    // The scan at a file's open looks at every packet of an MPEG-4 stream: B6 is sought first.
    std::vector<int> types;
    if (!data || size < 5) return types;
    const uint8_t* const last = data + size - 1;  // a code needs a byte after it
    for (const uint8_t* p = data + 3; p < last; ++p) {
        p = static_cast<const uint8_t*>(std::memchr(p, 0xB6, size_t(last - p)));
        if (!p) break;
        if (p[-3] == 0 && p[-2] == 0 && p[-1] == 1) types.push_back(p[1] >> 6);
    }
    return types;
}

bool holdsPackedPictures(const AVCodecParameters* par, const uint8_t* data, int size) {
    return par->codec_id == AV_CODEC_ID_MPEG4 && mpeg4PictureTypes(data, size).size() >= 2;
}

PictureUnpacker::PictureUnpacker(const AVCodecParameters* par) {
    OpenedFilter opened = openBitstreamFilter("mpeg4_unpack_bframes", par, {1, 1});
    if (opened.error < 0)
        throw MediaError(
            QStringLiteral("Cannot unpack the B-frames of this MPEG-4 video (%1)").arg(ffmpegErrorText(opened.error)));
    filter_ = std::move(opened.filter);
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
