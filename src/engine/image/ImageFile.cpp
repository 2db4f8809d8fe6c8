// The still-picture writer. Nine formats go through FFmpeg's image encoders, whose packet
// is the whole file (GIF needs its trailer added); WMF and EMF are written here as
// metafiles holding one 24-bit device-independent bitmap, laid out as [MS-WMF] and
// [MS-EMF] describe them.
#include "engine/image/ImageFile.h"

#include <QSaveFile>
#include <QtEndian>
#include <algorithm>
#include <array>
#include <memory>

#include "engine/common/FfmpegHandles.h"
#include "engine/common/MediaError.h"
#include "engine/common/Wording.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
}

namespace {

[[noreturn]] void fail(const QString& text) { throw MediaError(text); }

FrameView pictureOf(const FrameData& frame) {
    if (frame.isEmpty()) fail(QStringLiteral("There is no picture to save: the frame is empty."));
    const auto view = viewFrame(frame);
    if (!view) fail(QStringLiteral("There is no picture to save: the frame data is damaged."));
    return *view;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    if (path.isEmpty()) fail(QStringLiteral("Cannot save the picture: no file name was given."));
    // Written under a temporary name and renamed, so a failed save leaves no partial file.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        fail(QStringLiteral("Cannot write the picture file \"%1\": %2").arg(path, file.errorString()));
}

// ---- FFmpeg image encoders ----

struct Encoding {
    const char* formatName;  // for messages
    AVPixelFormat pixelFormat;
    std::array<const char*, 2> encoders;  // the first one available is used
    // Sets the encoder's private options for a picture of the given size, when needed.
    void (*configure)(const AVCodec* codec, QSize size, ffmpeg::Dictionary& options) = nullptr;
};

void jpeg2000Options(const AVCodec* codec, QSize size, ffmpeg::Dictionary& options) {
    // A bare code stream, as the .j2k name says, rather than the JP2 box format.
    ffmpeg::setOption(options, "format", "j2k");
    if (QByteArray(codec->name) == "libopenjpeg") {
        // OpenJPEG's default of 6 resolution levels needs at least 32 pixels each way; the
        // smallest level must keep at least one pixel.
        int levels = 1;
        while (levels < 6 && (1 << levels) <= std::min(size.width(), size.height())) ++levels;
        ffmpeg::setOption(options, "numresolution", int64_t(levels));
    }
}

const AVCodec* findEncoder(const Encoding& encoding) {
    for (const char* name : encoding.encoders)
        if (name)
            if (const AVCodec* codec = avcodec_find_encoder_by_name(name)) return codec;
    fail(QStringLiteral("Cannot save %1 picture: this FFmpeg has no %2 encoder.")
             .arg(withArticle(QString::fromUtf8(encoding.formatName)), QString::fromUtf8(encoding.formatName)));
}

using FramePtr = ffmpeg::Frame;

FramePtr allocatePicture(AVPixelFormat format, int width, int height) {
    FramePtr frame = ffmpeg::makeFrame();
    if (!frame) fail(QStringLiteral("Cannot save the picture: out of memory."));
    frame->format = format;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) fail(QStringLiteral("Cannot save the picture: out of memory."));
    return frame;
}

// Pictures are saved as players show the frame: with square pixels, the width scaled by the
// frame's sample aspect ratio.
QSize savedSize(const FrameView& view) { return frameDisplaySize(view.header); }

// The frame's picture at its saved size in another pixel layout. FFmpeg's converters work on
// whole blocks of pixels and may touch a few bytes past the end of a row: the picture goes
// into a buffer FFmpeg allocated for that, and the source gets slack at its end.
FramePtr convertedPicture(const FrameData& data, AVPixelFormat format) {
    FrameData padded;
    padded.reserve(data.size() + AV_INPUT_BUFFER_PADDING_SIZE);
    padded.append(data);
    const FrameView view = pictureOf(padded);
    const QSize size = savedSize(view);
    FramePtr frame = allocatePicture(format, size.width(), size.height());
    FrameConverter converter;
    if (!converter.convert(view, format, size.width(), size.height(), frame->data, frame->linesize))
        fail(QStringLiteral("Cannot save the picture: the frame's pixel layout cannot be converted."));
    return frame;
}

// GIF holds at most 256 colours: Qt picks the palette and dithers, the encoder gets PAL8.
FramePtr palettePicture(const FrameData& data) {
    const FramePtr rgb = convertedPicture(data, AV_PIX_FMT_BGRA);
    const QImage wrapped(rgb->data[0], rgb->width, rgb->height, rgb->linesize[0], QImage::Format_RGB32);
    const QImage indexed = wrapped.convertToFormat(QImage::Format_Indexed8, Qt::AutoColor | Qt::DiffuseDither);
    if (indexed.isNull()) fail(QStringLiteral("Cannot save the picture: out of memory."));
    FramePtr frame = allocatePicture(AV_PIX_FMT_PAL8, rgb->width, rgb->height);
    for (int y = 0; y < frame->height; ++y)
        memcpy(frame->data[0] + y * frame->linesize[0], indexed.constScanLine(y), frame->width);
    auto* palette = reinterpret_cast<uint32_t*>(frame->data[1]);
    const QList<QRgb> colours = indexed.colorTable();
    for (int i = 0; i < 256; ++i) palette[i] = i < colours.size() ? (colours[i] | 0xff000000u) : 0xff000000u;
    return frame;
}

QByteArray encodePicture(const FrameData& data, const Encoding& encoding) {
    const FrameView view = pictureOf(data);
    const AVCodec* codec = findEncoder(encoding);
    const QString failure =
        QStringLiteral("Cannot save %1 picture: ").arg(withArticle(QString::fromUtf8(encoding.formatName)));

    ffmpeg::Codec context(avcodec_alloc_context3(codec));
    if (!context) fail(failure + QStringLiteral("out of memory."));
    const QSize size = savedSize(view);
    context->width = size.width();
    context->height = size.height();
    context->pix_fmt = encoding.pixelFormat;
    context->time_base = {1, 25};
    context->sample_aspect_ratio = {1, 1};
    if (encoding.pixelFormat == AV_PIX_FMT_YUVJ420P) {
        // High quality fixed quantiser, as a photo export should be.
        context->color_range = AVCOL_RANGE_JPEG;
        context->flags |= AV_CODEC_FLAG_QSCALE;
        context->global_quality = FF_QP2LAMBDA * 2;
    }
    ffmpeg::Dictionary options;
    if (encoding.configure) encoding.configure(codec, size, options);
    const int openResult =
        ffmpeg::withOptions(options, [&](AVDictionary** d) { return avcodec_open2(context.get(), codec, d); });
    if (openResult < 0) fail(failure + ffmpegErrorText(openResult));

    FramePtr frame =
        encoding.pixelFormat == AV_PIX_FMT_PAL8 ? palettePicture(data) : convertedPicture(data, encoding.pixelFormat);
    frame->pts = 0;
    frame->quality = context->global_quality;
    frame->sample_aspect_ratio = context->sample_aspect_ratio;

    int result = avcodec_send_frame(context.get(), frame.get());
    if (result >= 0) result = avcodec_send_frame(context.get(), nullptr);
    if (result < 0) fail(failure + ffmpegErrorText(result));
    QByteArray bytes;
    ffmpeg::Packet packet = ffmpeg::makePacket();
    if (!packet) fail(failure + QStringLiteral("out of memory."));
    while ((result = avcodec_receive_packet(context.get(), packet.get())) >= 0) {
        bytes.append(reinterpret_cast<const char*>(packet->data), packet->size);
        av_packet_unref(packet.get());
    }
    if (result != AVERROR_EOF) fail(failure + ffmpegErrorText(result));
    if (bytes.isEmpty()) fail(failure + QStringLiteral("the encoder produced nothing."));
    return bytes;
}

int32_t savePicture(const FrameData& frame, const QString& path, const Encoding& encoding) {
    QByteArray bytes = encodePicture(frame, encoding);
    // FFmpeg's GIF encoder leaves the file trailer to its muxer.
    if (encoding.pixelFormat == AV_PIX_FMT_PAL8) bytes.append('\x3b');
    writeFile(path, bytes);
    return 0;
}

// ---- metafiles ----

// Little-endian record builder.
class LeBytes {
public:
    void u16(uint32_t v) { put<uint16_t>(static_cast<uint16_t>(v)); }
    void i16(int32_t v) { put<int16_t>(static_cast<int16_t>(v)); }
    void u32(uint32_t v) { put<uint32_t>(v); }
    void i32(int32_t v) { put<int32_t>(v); }
    void append(const QByteArray& b) { bytes.append(b); }
    qsizetype size() const { return bytes.size(); }
    QByteArray bytes;

private:
    template <typename T>
    void put(T v) {
        const T le = qToLittleEndian(v);
        bytes.append(reinterpret_cast<const char*>(&le), sizeof le);
    }
};

constexpr uint32_t kSrcCopy = 0x00CC0020;  // ternary raster operation: copy the source
constexpr int kDpi = 96;
constexpr int kPixelsPerMetre = 3780;  // 96 dpi
constexpr int kBitmapInfoHeaderBytes = 40;

// A bottom-up 24-bit BGR device-independent bitmap: BITMAPINFOHEADER, then rows padded to
// four bytes.
QByteArray deviceIndependentBitmap(const FrameData& data) {
    const FramePtr picture = convertedPicture(data, AV_PIX_FMT_BGR24);
    const int w = picture->width, h = picture->height;
    const int stride = (w * 3 + 3) & ~3;

    LeBytes dib;
    dib.u32(kBitmapInfoHeaderBytes);
    dib.i32(w);
    dib.i32(h);  // positive: bottom row first
    dib.u16(1);  // planes
    dib.u16(24);
    dib.u32(0);  // BI_RGB
    dib.u32(uint32_t(stride) * h);
    dib.i32(kPixelsPerMetre);
    dib.i32(kPixelsPerMetre);
    dib.u32(0);  // colours used
    dib.u32(0);  // colours important
    dib.bytes.reserve(dib.size() + qsizetype(stride) * h);
    const QByteArray rowPadding(stride - w * 3, '\0');
    for (int y = h - 1; y >= 0; --y) {
        dib.bytes.append(reinterpret_cast<const char*>(picture->data[0] + qsizetype(y) * picture->linesize[0]), w * 3);
        dib.bytes.append(rowPadding);
    }
    return dib.bytes;
}

QByteArray windowsMetafile(const FrameData& frame) {
    const QSize size = savedSize(pictureOf(frame));
    const int w = size.width(), h = size.height();
    if (w > 32767 || h > 32767)
        fail(QStringLiteral("Cannot save a WMF picture: %1 x %2 pixels is beyond its size fields.").arg(w).arg(h));
    const QByteArray dib = deviceIndependentBitmap(frame);

    // Records after the header, each: size in 16-bit words, function, parameters.
    LeBytes records;
    records.u32(5);
    records.u16(0x020B);  // META_SETWINDOWORG
    records.i16(0);       // y
    records.i16(0);       // x
    records.u32(5);
    records.u16(0x020C);  // META_SETWINDOWEXT
    records.i16(h);
    records.i16(w);
    const uint32_t stretchWords = (28 + uint32_t(dib.size())) / 2;
    records.u32(stretchWords);
    records.u16(0x0F43);  // META_STRETCHDIB
    records.u32(kSrcCopy);
    records.u16(0);  // DIB_RGB_COLORS
    records.i16(h);  // source height, width, y, x
    records.i16(w);
    records.i16(0);
    records.i16(0);
    records.i16(h);  // destination height, width, y, x
    records.i16(w);
    records.i16(0);
    records.i16(0);
    records.append(dib);
    records.u32(3);
    records.u16(0x0000);  // META_EOF

    constexpr int kHeaderWords = 9;
    LeBytes placeable;
    placeable.u32(0x9AC6CDD7);
    placeable.u16(0);  // handle, 0 on disk
    placeable.i16(0);  // bounding box: left, top, right, bottom in 1/96 inch
    placeable.i16(0);
    placeable.i16(w);
    placeable.i16(h);
    placeable.u16(kDpi);
    placeable.u32(0);
    uint16_t checksum = 0;
    for (int i = 0; i < 10; ++i) checksum ^= qFromLittleEndian<uint16_t>(placeable.bytes.constData() + 2 * i);
    placeable.u16(checksum);

    LeBytes header;
    header.u16(1);  // MEMORYMETAFILE
    header.u16(kHeaderWords);
    header.u16(0x0300);
    header.u32(uint32_t(kHeaderWords + records.size() / 2));  // whole metafile in words
    header.u16(0);                                            // objects
    header.u32(stretchWords);                                 // largest record
    header.u16(0);

    return placeable.bytes + header.bytes + records.bytes;
}

QByteArray enhancedMetafile(const FrameData& frame) {
    const QSize size = savedSize(pictureOf(frame));
    const int w = size.width(), h = size.height();
    const QByteArray dib = deviceIndependentBitmap(frame);
    // Reference device: 1920 x 1440 pixels on 508 x 381 mm, exactly 96 dpi.
    constexpr int kDeviceWidth = 1920, kDeviceHeight = 1440, kDeviceMmWidth = 508, kDeviceMmHeight = 381;
    auto hundredthsMm = [](int pixels) { return int32_t((int64_t(pixels) * 2540 + kDpi / 2) / kDpi); };

    constexpr uint32_t kHeaderBytes = 88, kStretchFixedBytes = 80, kEofBytes = 20;
    const uint32_t stretchBytes = kStretchFixedBytes + uint32_t(dib.size());
    const uint32_t totalBytes = kHeaderBytes + stretchBytes + kEofBytes;

    LeBytes emf;
    emf.u32(1);  // EMR_HEADER
    emf.u32(kHeaderBytes);
    emf.i32(0);  // bounds in device units, inclusive
    emf.i32(0);
    emf.i32(w - 1);
    emf.i32(h - 1);
    emf.i32(0);  // frame in 0.01 mm, inclusive
    emf.i32(0);
    emf.i32(hundredthsMm(w) - 1);
    emf.i32(hundredthsMm(h) - 1);
    emf.u32(0x464D4520);  // " EMF"
    emf.u32(0x00010000);
    emf.u32(totalBytes);
    emf.u32(3);  // records
    emf.u16(1);  // handles: index 0 is reserved
    emf.u16(0);
    emf.u32(0);  // description length, offset
    emf.u32(0);
    emf.u32(0);  // palette entries
    emf.i32(kDeviceWidth);
    emf.i32(kDeviceHeight);
    emf.i32(kDeviceMmWidth);
    emf.i32(kDeviceMmHeight);

    emf.u32(0x51);  // EMR_STRETCHDIBITS
    emf.u32(stretchBytes);
    emf.i32(0);  // bounds
    emf.i32(0);
    emf.i32(w - 1);
    emf.i32(h - 1);
    emf.i32(0);  // xDest, yDest, xSrc, ySrc, cxSrc, cySrc
    emf.i32(0);
    emf.i32(0);
    emf.i32(0);
    emf.i32(w);
    emf.i32(h);
    emf.u32(kStretchFixedBytes);  // offBmiSrc
    emf.u32(kBitmapInfoHeaderBytes);
    emf.u32(kStretchFixedBytes + kBitmapInfoHeaderBytes);  // offBitsSrc
    emf.u32(uint32_t(dib.size()) - kBitmapInfoHeaderBytes);
    emf.u32(0);  // DIB_RGB_COLORS
    emf.u32(kSrcCopy);
    emf.i32(w);  // cxDest, cyDest
    emf.i32(h);
    emf.append(dib);

    emf.u32(0x0E);  // EMR_EOF
    emf.u32(kEofBytes);
    emf.u32(0);   // palette entries
    emf.u32(16);  // offset of the (absent) palette
    emf.u32(kEofBytes);
    return emf.bytes;
}

}  // namespace

int32_t ImageFile::SaveBMP(const FrameData& frame, const QString& path) {
    return savePicture(frame, path, {"BMP", AV_PIX_FMT_BGR24, {"bmp"}});
}

int32_t ImageFile::SaveGIF(const FrameData& frame, const QString& path) {
    return savePicture(frame, path, {"GIF", AV_PIX_FMT_PAL8, {"gif"}});
}

int32_t ImageFile::SaveJPEG(const FrameData& frame, const QString& path) {
    return savePicture(frame, path, {"JPEG", AV_PIX_FMT_YUVJ420P, {"mjpeg"}});
}

int32_t ImageFile::SavePNG(const FrameData& frame, const QString& path) {
    return savePicture(frame, path, {"PNG", AV_PIX_FMT_RGB24, {"png"}});
}

int32_t ImageFile::SaveTIFF(const FrameData& frame, const QString& path) {
    return savePicture(frame, path, {"TIFF", AV_PIX_FMT_RGB24, {"tiff"}});
}

int32_t ImageFile::SavePCX(const FrameData& frame, const QString& path) {
    return savePicture(frame, path, {"PCX", AV_PIX_FMT_RGB24, {"pcx"}});
}

int32_t ImageFile::SaveTGA(const FrameData& frame, const QString& path) {
    return savePicture(frame, path, {"TGA", AV_PIX_FMT_BGR24, {"targa"}});
}

int32_t ImageFile::SaveRAS(const FrameData& frame, const QString& path) {
    return savePicture(frame, path, {"Sun raster", AV_PIX_FMT_BGR24, {"sunrast"}});
}

int32_t ImageFile::SaveJPEG2000(const FrameData& frame, const QString& path) {
    return savePicture(frame, path, {"JPEG 2000", AV_PIX_FMT_RGB24, {"libopenjpeg", "jpeg2000"}, jpeg2000Options});
}

int32_t ImageFile::SaveWMF(const FrameData& frame, const QString& path) {
    writeFile(path, windowsMetafile(frame));
    return 0;
}

int32_t ImageFile::SaveEMF(const FrameData& frame, const QString& path) {
    writeFile(path, enhancedMetafile(frame));
    return 0;
}
