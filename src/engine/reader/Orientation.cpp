#include "engine/reader/Orientation.h"

#include <cmath>
#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace {

bool near(double angle, double target) { return std::abs(angle - target) < 1.0; }

bool isChromaPlane(const AVPixFmtDescriptor* desc, int plane) {
    return (plane == 1 || plane == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
}

// Bytes of one picture element in each plane when every plane is a grid of whole-byte elements
// that stays a valid plane of the turned picture; 0 for a plane that is not.
bool elementSizes(AVPixelFormat format, int width, int sizes[4]) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (!desc || (desc->flags &
                  (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BAYER)))
        return false;
    if (desc->log2_chroma_w != desc->log2_chroma_h) return false;
    const int planes = av_pix_fmt_count_planes(format);
    if (planes <= 0 || planes > 4) return false;
    for (int p = 0; p < planes; ++p) {
        const int planeWidth = isChromaPlane(desc, p) ? AV_CEIL_RSHIFT(width, desc->log2_chroma_w) : width;
        const int bytes = av_image_get_linesize(format, width, p);
        if (planeWidth <= 0 || bytes <= 0 || bytes % planeWidth != 0) return false;
        sizes[p] = bytes / planeWidth;
    }
    return true;
}

template <int Bytes>
void remapPlane(const uint8_t* src, int srcStride, uint8_t* dst, int dstStride, int width, int height, Orientation o,
                int elementBytes) {
    const int e = Bytes > 0 ? Bytes : elementBytes;
    for (int y = 0; y < height; ++y) {
        const int v = o.mirrorY ? height - 1 - y : y;
        uint8_t* out = dst + ptrdiff_t(y) * dstStride;
        for (int x = 0; x < width; ++x) {
            const int u = o.mirrorX ? width - 1 - x : x;
            const int sx = o.transpose ? v : u;
            const int sy = o.transpose ? u : v;
            std::memcpy(out + ptrdiff_t(x) * e, src + ptrdiff_t(sy) * srcStride + ptrdiff_t(sx) * e, size_t(e));
        }
    }
}

void remap(const uint8_t* src, int srcStride, uint8_t* dst, int dstStride, int width, int height, Orientation o,
           int e) {
    switch (e) {
        case 1: return remapPlane<1>(src, srcStride, dst, dstStride, width, height, o, e);
        case 2: return remapPlane<2>(src, srcStride, dst, dstStride, width, height, o, e);
        case 3: return remapPlane<3>(src, srcStride, dst, dstStride, width, height, o, e);
        case 4: return remapPlane<4>(src, srcStride, dst, dstStride, width, height, o, e);
        case 8: return remapPlane<8>(src, srcStride, dst, dstStride, width, height, o, e);
        default: return remapPlane<0>(src, srcStride, dst, dstStride, width, height, o, e);
    }
}

ffmpeg::Frame newFrame(AVPixelFormat format, int width, int height, const AVFrame* props) {
    ffmpeg::Frame frame = ffmpeg::makeFrame();
    if (!frame) return {};
    frame->format = format;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame.get(), 0) < 0 || av_frame_copy_props(frame.get(), props) < 0) return {};
    return frame;
}

// The picture in planar 4:4:4 of its depth, which every orientation can turn.
ffmpeg::Frame planar444(const AVFrame* frame, ScalerCache& scaler) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(frame->format));
    const AVPixelFormat target = desc && desc->comp[0].depth > 8 ? AV_PIX_FMT_YUV444P16 : AV_PIX_FMT_YUV444P;
    if (!scaler.prepare({frame->width, frame->height, AVPixelFormat(frame->format), false, frame->width, frame->height,
                         target, false, SWS_BILINEAR}))
        return {};
    ffmpeg::Frame plain = newFrame(target, frame->width, frame->height, frame);
    if (!plain || !scaler.scale(frame->data, frame->linesize, plain->data, plain->linesize)) return {};
    return plain;
}

}  // namespace

Orientation streamOrientation(const AVStream* stream) {
    size_t size = 0;
    const uint8_t* data = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (!data || size < 9 * sizeof(int32_t)) return {};
    int32_t matrix[9];
    std::memcpy(matrix, data, sizeof matrix);
    return orientationOf(matrix);
}

Orientation orientationOf(const int32_t matrix[9]) {
    // The turn FFmpeg's tools apply for the matrix: its angle counts anticlockwise, the picture
    // turns back by it; a mirrored matrix (negative determinant) adds a mirror.
    double theta = -std::round(av_display_rotation_get(matrix));
    if (!std::isfinite(theta)) return {};
    theta -= 360 * std::floor(theta / 360 + 0.9 / 360);
    Orientation o;
    if (near(theta, 90)) {
        o.transpose = true;
        o.mirrorX = !(matrix[3] > 0);  // clockwise; else the anticlockwise turn mirrored top to bottom
    } else if (near(theta, 180)) {
        o.mirrorX = matrix[0] < 0;
        o.mirrorY = matrix[4] < 0;
    } else if (near(theta, 270)) {
        o.transpose = true;
        o.mirrorY = true;           // anticlockwise
        o.mirrorX = matrix[3] < 0;  // clockwise mirrored top to bottom
    } else if (near(theta, 0) || near(theta, 360)) {
        o.mirrorY = matrix[4] < 0;
    }
    return o;
}

QSize orientedSize(QSize stored, Orientation orientation) {
    return orientation.transpose ? stored.transposed() : stored;
}

ffmpeg::Frame orientFrame(const AVFrame* frame, Orientation orientation, ScalerCache& scaler) {
    int elements[4] = {};
    ffmpeg::Frame converted;
    if (!elementSizes(AVPixelFormat(frame->format), frame->width, elements)) {
        converted = planar444(frame, scaler);
        if (!converted || !elementSizes(AVPixelFormat(converted->format), converted->width, elements)) return {};
        frame = converted.get();
    }
    const QSize size = orientedSize(QSize(frame->width, frame->height), orientation);
    ffmpeg::Frame turned = newFrame(AVPixelFormat(frame->format), size.width(), size.height(), frame);
    if (!turned) return {};
    if (orientation.transpose && frame->sample_aspect_ratio.num > 0 && frame->sample_aspect_ratio.den > 0)
        turned->sample_aspect_ratio = {frame->sample_aspect_ratio.den, frame->sample_aspect_ratio.num};
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(frame->format));
    for (int p = 0; p < av_pix_fmt_count_planes(AVPixelFormat(frame->format)); ++p) {
        const bool chroma = isChromaPlane(desc, p);
        // Subsampling is the same across and down, so a turned chroma plane has the turned size.
        const int width = chroma ? AV_CEIL_RSHIFT(size.width(), desc->log2_chroma_w) : size.width();
        const int height = chroma ? AV_CEIL_RSHIFT(size.height(), desc->log2_chroma_h) : size.height();
        remap(frame->data[p], frame->linesize[p], turned->data[p], turned->linesize[p], width, height, orientation,
              elements[p]);
    }
    return turned;
}
