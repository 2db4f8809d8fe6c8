#include "engine/common/ScalerCache.h"

#include "engine/common/FrameData.h"

extern "C" {
#include <libswscale/swscale.h>
}

PlainLayout plainLayout(AVPixelFormat format) {
    switch (format) {
        case AV_PIX_FMT_YUVJ420P: return {AV_PIX_FMT_YUV420P, true};
        case AV_PIX_FMT_YUVJ422P: return {AV_PIX_FMT_YUV422P, true};
        case AV_PIX_FMT_YUVJ444P: return {AV_PIX_FMT_YUV444P, true};
        case AV_PIX_FMT_YUVJ440P: return {AV_PIX_FMT_YUV440P, true};
        case AV_PIX_FMT_YUVJ411P: return {AV_PIX_FMT_YUV411P, true};
        default: return {format, false};
    }
}

SwsContext* ScalerCache::prepare(const ScaleGeometry& geometry, bool* built) {
    if (built) *built = false;
    if (context_ && geometry == geometry_) return context_.get();
    context_.reset(sws_getContext(geometry.sourceWidth, geometry.sourceHeight, geometry.sourceFormat,
                                  geometry.targetWidth, geometry.targetHeight, geometry.targetFormat, geometry.method,
                                  nullptr, nullptr, nullptr));
    geometry_ = geometry;
    if (built) *built = context_ != nullptr;
    return context_.get();
}

bool ScalerCache::scale(const uint8_t* const source[], const int sourceLineSize[], uint8_t* const target[],
                        const int targetLineSize[]) {
    if (!context_) return false;
    return sws_scale(context_.get(), source, sourceLineSize, 0, geometry_.sourceHeight, target, targetLineSize) > 0;
}

bool ScalerCache::scale(const FrameView& source, uint8_t* const target[], const int targetLineSize[]) {
    int lineSize[4] = {};
    const uint8_t* planes[4] = {};
    for (int p = 0; p < source.header.planeCount; ++p) {
        lineSize[p] = source.header.lineSize[p];
        planes[p] = source.planes[p];
    }
    return scale(planes, lineSize, target, targetLineSize);
}
