#pragma once
#include <cstdint>

#include "engine/common/FfmpegHandles.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

struct FrameView;

// A full-range "J" layout of JPEG decoders as the scaler wants it: the plain layout, with the
// values marked as full range. Any other layout is returned as it is, not full range.
struct PlainLayout {
    AVPixelFormat format;
    bool fullRange;
};
PlainLayout plainLayout(AVPixelFormat format);

// What a scaler converts: both pictures' sizes and layouts, the value range each side is
// read or written in, and the scaling method (SWS_BILINEAR, SWS_BICUBIC).
struct ScaleGeometry {
    int sourceWidth = 0;
    int sourceHeight = 0;
    AVPixelFormat sourceFormat = AV_PIX_FMT_NONE;
    bool sourceFullRange = false;
    int targetWidth = 0;
    int targetHeight = 0;
    AVPixelFormat targetFormat = AV_PIX_FMT_NONE;
    bool targetFullRange = false;
    int method = 0;
    bool operator==(const ScaleGeometry&) const = default;
};

// Keeps one scaler for as long as consecutive pictures share their geometry, so a stream of
// frames builds it once. How the value ranges are applied stays with each user.
class ScalerCache {
public:
    // The scaler for this geometry; *built tells whether it was made just now (so range
    // settings are due). nullptr when FFmpeg cannot convert between the two.
    SwsContext* prepare(const ScaleGeometry& geometry, bool* built = nullptr);
    // Scales a whole picture with the scaler prepare() gave last.
    bool scale(const uint8_t* const source[], const int sourceLineSize[], uint8_t* const target[],
               const int targetLineSize[]);
    // The same for the planes of frame data.
    bool scale(const FrameView& source, uint8_t* const target[], const int targetLineSize[]);

private:
    ffmpeg::Scaler context_;
    ScaleGeometry geometry_;
};
