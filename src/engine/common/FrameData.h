#pragma once
#include <QByteArray>
#include <QImage>
#include <array>
#include <cstdint>
#include <optional>

#include "engine/common/FrameBytes.h"
#include "engine/common/ScalerCache.h"

extern "C" {
#include <libavutil/pixfmt.h>
struct AVFrame;
}

struct FrameHeader {
    static constexpr uint32_t kMagic = 0x3146564B;  // "KVF1"
    uint32_t magic = kMagic;
    int32_t width = 0;
    int32_t height = 0;
    int32_t pixelFormat = AV_PIX_FMT_NONE;  // AVPixelFormat
    int32_t planeCount = 0;
    std::array<int32_t, 4> lineSize{};
    std::array<int32_t, 4> planeOffset{};  // from the start of the array
    std::array<int32_t, 4> planeBytes{};
    int32_t sarNum = 1;  // sample aspect ratio
    int32_t sarDen = 1;
    int32_t frameNumber = 0;  // 1-based number in its source
    int32_t timeMs = 0;       // presentation time in its source
    int32_t fieldOrder = 0;   // AVFieldOrder: unknown, progressive, or which field comes first
};

// Read-only view of a frame's planes; valid while the FrameData it came from lives.
struct FrameView {
    FrameHeader header;
    std::array<const uint8_t*, 4> planes{};
    int width() const { return header.width; }
    int height() const { return header.height; }
    AVPixelFormat format() const { return static_cast<AVPixelFormat>(header.pixelFormat); }
};

// The size the frame shows at with square pixels: the width scaled by the sample aspect ratio.
// A ratio beyond 16:1 either way is damage, not a picture shape, and is ignored.
QSize frameDisplaySize(const FrameHeader& header);

// The field order a decoded frame states (AV_FIELD_PROGRESSIVE, AV_FIELD_TT or AV_FIELD_BB).
int fieldOrderOf(const AVFrame* frame);

// Packs a decoded frame (any pixel layout FFmpeg knows) into frame data.
FrameData packFrame(const AVFrame* frame, int frameNumber, int timeMs);

// Checks the header against the array's length (planes plus the scalers' slack after them);
// nullopt for anything malformed.
std::optional<FrameView> viewFrame(const FrameData& data);

// Converts frames to another pixel layout and size, keeping one scaler for as long as
// consecutive frames share their geometry. A full-range "J" source is read as full range.
class FrameConverter {
public:
    // Writes the picture scaled to dstWidth x dstHeight in dstFormat into dst planes.
    bool convert(const FrameView& src, AVPixelFormat dstFormat, int dstWidth, int dstHeight, uint8_t* const dst[],
                 const int dstLineSize[]);
    // The frame as a 32-bit RGB image of the given size (the frame's own size when empty).
    QImage toImage(const FrameData& data, QSize size = {});

private:
    ScalerCache scaler_;
};
