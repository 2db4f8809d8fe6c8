#include "engine/common/FrameData.h"

#include "engine/common/MediaError.h"

extern "C" {
#include <libavcodec/codec_par.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/macros.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

QString ffmpegErrorText(int errnum) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(errnum, text, sizeof text);
    return QString::fromUtf8(text);
}

namespace {

constexpr int kFramePadding = 64;

// Heights of each plane for a pixel layout (chroma planes may be subsampled vertically).
int planeHeight(const AVPixFmtDescriptor* desc, int plane, int height) {
    const bool chroma = (plane == 1 || plane == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
    return chroma ? AV_CEIL_RSHIFT(height, desc->log2_chroma_h) : height;
}

}  // namespace

QSize frameDisplaySize(const FrameHeader& header) {
    if (header.width <= 0 || header.height <= 0) return {};
    const bool sarUsable = header.sarNum > 0 && header.sarDen > 0 && int64_t(header.sarNum) <= 16LL * header.sarDen &&
                           int64_t(header.sarDen) <= 16LL * header.sarNum;
    if (!sarUsable) return {header.width, header.height};
    const int64_t width = (int64_t(header.width) * header.sarNum + header.sarDen / 2) / header.sarDen;
    return {static_cast<int>(std::max<int64_t>(1, width)), header.height};
}

int fieldOrderOf(const AVFrame* frame) {
    if (!frame->interlaced_frame) return AV_FIELD_PROGRESSIVE;
    return frame->top_field_first ? AV_FIELD_TT : AV_FIELD_BB;
}

FrameData packFrame(const AVFrame* frame, int frameNumber, int timeMs) {
    if (!frame || frame->width <= 0 || frame->height <= 0) return {};
    const auto* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
    if (!desc || (desc->flags & AV_PIX_FMT_FLAG_HWACCEL)) return {};

    FrameHeader header;
    header.width = frame->width;
    header.height = frame->height;
    header.pixelFormat = frame->format;
    header.planeCount = av_pix_fmt_count_planes(static_cast<AVPixelFormat>(frame->format));
    if (header.planeCount <= 0 || header.planeCount > 4) return {};
    header.sarNum = frame->sample_aspect_ratio.num > 0 ? frame->sample_aspect_ratio.num : 1;
    header.sarDen = frame->sample_aspect_ratio.den > 0 ? frame->sample_aspect_ratio.den : 1;
    header.frameNumber = frameNumber;
    header.timeMs = timeMs;
    header.fieldOrder = fieldOrderOf(frame);

    int64_t offset = sizeof(FrameHeader);
    for (int p = 0; p < header.planeCount; ++p) {
        const int lineBytes = av_image_get_linesize(static_cast<AVPixelFormat>(frame->format), frame->width, p);
        if (lineBytes <= 0 || frame->linesize[p] < lineBytes) return {};
        header.lineSize[p] = lineBytes;
        header.planeOffset[p] = static_cast<int32_t>(offset);
        const int64_t bytes = int64_t(lineBytes) * planeHeight(desc, p, frame->height);
        header.planeBytes[p] = static_cast<int32_t>(bytes);
        offset += bytes;
        if (offset > std::numeric_limits<int32_t>::max()) return {};
    }

    // Scalers read whole blocks of pixels: keep slack after the last plane.
    FrameData data(static_cast<qsizetype>(offset + kFramePadding), Qt::Uninitialized);
    std::memset(data.data() + offset, 0, kFramePadding);
    std::memcpy(data.data(), &header, sizeof header);
    for (int p = 0; p < header.planeCount; ++p) {
        av_image_copy_plane(reinterpret_cast<uint8_t*>(data.data()) + header.planeOffset[p], header.lineSize[p],
                            frame->data[p], frame->linesize[p], header.lineSize[p],
                            planeHeight(desc, p, frame->height));
    }
    return data;
}

std::optional<FrameView> viewFrame(const FrameData& data) {
    if (data.size() < qsizetype(sizeof(FrameHeader))) return std::nullopt;
    FrameView view;
    std::memcpy(&view.header, data.constData(), sizeof(FrameHeader));
    const FrameHeader& h = view.header;
    if (h.magic != FrameHeader::kMagic || h.width <= 0 || h.height <= 0 || h.width > 16384 || h.height > 16384)
        return std::nullopt;
    const auto* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(h.pixelFormat));
    if (!desc || (desc->flags & AV_PIX_FMT_FLAG_HWACCEL)) return std::nullopt;
    if (h.planeCount != av_pix_fmt_count_planes(static_cast<AVPixelFormat>(h.pixelFormat))) return std::nullopt;
    for (int p = 0; p < h.planeCount; ++p) {
        const int need = av_image_get_linesize(static_cast<AVPixelFormat>(h.pixelFormat), h.width, p);
        const int64_t bytes = int64_t(h.lineSize[p]) * planeHeight(desc, p, h.height);
        if (need <= 0 || h.lineSize[p] < need || h.planeBytes[p] != bytes) return std::nullopt;
        if (h.planeOffset[p] < qsizetype(sizeof(FrameHeader)) ||
            int64_t(h.planeOffset[p]) + bytes + kFramePadding > data.size())
            return std::nullopt;
        view.planes[p] = reinterpret_cast<const uint8_t*>(data.constData()) + h.planeOffset[p];
    }
    return view;
}

bool FrameConverter::convert(const FrameView& src, AVPixelFormat dstFormat, int dstWidth, int dstHeight,
                             uint8_t* const dst[], const int dstLineSize[]) {
    if (dstWidth <= 0 || dstHeight <= 0) return false;
    const PlainLayout source = plainLayout(src.format());
    bool built = false;
    SwsContext* context = scaler_.prepare({src.width(), src.height(), source.format, source.fullRange, dstWidth,
                                           dstHeight, dstFormat, false, SWS_BILINEAR},
                                          &built);
    if (!context) return false;
    if (built && source.fullRange) {
        // Only the source's range changes; the target keeps what the scaler chose for its layout.
        int* inv = nullptr;
        int* table = nullptr;
        int srcRange = 0, dstRange = 0, brightness = 0, contrast = 0, saturation = 0;
        if (sws_getColorspaceDetails(context, &inv, &srcRange, &table, &dstRange, &brightness, &contrast,
                                     &saturation) >= 0)
            sws_setColorspaceDetails(context, inv, 1, table, dstRange, brightness, contrast, saturation);
    }
    return scaler_.scale(src, dst, dstLineSize);
}

QImage FrameConverter::toImage(const FrameData& data, QSize size) {
    const auto view = viewFrame(data);
    if (!view) return {};
    if (size.isEmpty()) size = QSize(view->width(), view->height());
    // The scaler writes whole blocks of pixels past a row's end, so it converts into rows
    // with slack and the picture is copied out.
    const int rowBytes = size.width() * 4;
    const int paddedRow = FFALIGN(rowBytes, 64) + 64;
    std::vector<uint8_t> buffer(size_t(paddedRow) * (size.height() + 1));
    uint8_t* dst[4] = {buffer.data(), nullptr, nullptr, nullptr};
    const int dstLineSize[4] = {paddedRow, 0, 0, 0};
    // QImage::Format_RGB32 is 0xffRRGGBB in native order, i.e. BGRA bytes on little-endian machines.
    if (!convert(*view, AV_PIX_FMT_BGRA, size.width(), size.height(), dst, dstLineSize)) return {};
    QImage image(size, QImage::Format_RGB32);
    if (image.isNull()) return {};
    for (int y = 0; y < size.height(); ++y)
        std::memcpy(image.scanLine(y), buffer.data() + size_t(y) * paddedRow, rowBytes);
    return image;
}
