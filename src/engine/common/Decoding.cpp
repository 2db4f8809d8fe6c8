#include "engine/common/Decoding.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace {

// Failed steps in a row after which the decoder counts as finished.
constexpr int kMaxDecodeErrors = 1000;

}  // namespace

bool decodeNextFrame(AVCodecContext* decoder, AVFrame* frame, AVPacket* packet, bool* sentEnd,
                     const std::function<bool()>& readPacket) {
    int errors = 0;
    while (true) {
        const int ret = avcodec_receive_frame(decoder, frame);
        if (ret == 0) return true;
        if (ret == AVERROR_EOF || *sentEnd || ++errors > kMaxDecodeErrors) return false;
        if (ret != AVERROR(EAGAIN)) continue;  // a damaged frame: go on with the next
        if (!readPacket()) {
            avcodec_send_packet(decoder, nullptr);
            *sentEnd = true;
            continue;
        }
        avcodec_send_packet(decoder, packet);  // a damaged packet is skipped
        av_packet_unref(packet);
    }
}
