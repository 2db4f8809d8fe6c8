#include "engine/writer/WriterCatalog.h"

#include <algorithm>

namespace {

CodecCapabilities quantiser(bool keyframes) {
    CodecCapabilities caps;
    caps.qualityName = QStringLiteral("Quantizer");
    caps.qualityHint = QStringLiteral("2 = best picture, 31 = smallest file");
    caps.qualityMin = 2;
    caps.qualityMax = 31;
    caps.bitrate = keyframes;  // the intra-only codec here (Motion JPEG) is set by quality alone
    caps.keyframes = keyframes;
    return caps;
}

CodecCapabilities rateFactor() {
    CodecCapabilities caps;
    caps.qualityName = QStringLiteral("Constant rate factor");
    caps.qualityHint = QStringLiteral("0 = lossless, 23 = usual, 51 = smallest file");
    caps.qualityMin = 0;
    caps.qualityMax = 51;
    caps.bitrate = true;
    caps.keyframes = true;
    return caps;
}

CodecCapabilities keyframesOnly() {
    CodecCapabilities caps;
    caps.keyframes = true;
    return caps;
}

CodecSettings quality(int q, int keyframeInterval) {
    CodecSettings s;
    s.quality = q;
    s.keyframeInterval = keyframeInterval;
    return s;
}

}  // namespace

const std::vector<AviCodec>& aviCodecs() {
    // Listed last-to-first in the window, so the most useful codec comes last here.
    static const std::vector<AviCodec> codecs{
        {QStringLiteral("Uncompressed RGB (24-bit)"), "rawvideo", AV_PIX_FMT_BGR24, nullptr, {}, quality(0, 1)},
        {QStringLiteral("FFV1 (lossless)"), "ffv1", AV_PIX_FMT_YUV420P, "FFV1", keyframesOnly(), quality(0, 1)},
        {QStringLiteral("Huffyuv (lossless)"), "huffyuv", AV_PIX_FMT_YUV422P, "HFYU", {}, quality(0, 1)},
        {QStringLiteral("Microsoft MPEG-4 version 2"), "msmpeg4v2", AV_PIX_FMT_YUV420P, "MP42", quantiser(true),
         quality(4, 100)},
        {QStringLiteral("Motion JPEG"), "mjpeg", AV_PIX_FMT_YUVJ420P, "MJPG", quantiser(false), quality(3, 1)},
        {QStringLiteral("H.264 / AVC (x264)"), "libx264", AV_PIX_FMT_YUV420P, "H264", rateFactor(), quality(23, 250)},
        {QStringLiteral("MPEG-4 Part 2 (Xvid compatible)"), "mpeg4", AV_PIX_FMT_YUV420P, "XVID", quantiser(true),
         quality(4, 250)},
    };
    return codecs;
}

const std::vector<WmvProfile>& wmvProfiles() {
    static const std::vector<WmvProfile> profiles{
        {QStringLiteral("Dial-up modem: 32 kbps video, 24 kbps mono audio"), 32, 24, 22050, 1, 176, 144},
        {QStringLiteral("ISDN: 96 kbps video, 32 kbps mono audio"), 96, 32, 22050, 1, 240, 180},
        {QStringLiteral("DSL/cable: 300 kbps video, 64 kbps stereo audio"), 300, 64, 44100, 2, 320, 240},
        {QStringLiteral("Broadband: 700 kbps video, 128 kbps stereo audio"), 700, 128, 44100, 2, 640, 480},
        {QStringLiteral("Near DVD quality: 1200 kbps video, 160 kbps stereo audio"), 1200, 160, 44100, 2, 720, 576},
        {QStringLiteral("High quality: 2000 kbps video, 192 kbps stereo audio"), 2000, 192, 44100, 2, 0, 0},
    };
    return profiles;
}
