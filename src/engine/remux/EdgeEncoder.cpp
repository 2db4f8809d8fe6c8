#include "engine/remux/EdgeEncoder.h"

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/common/MediaError.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace {

// The encoders, best first, whose pieces join the source's packets of each codec.
std::vector<const char*> encoderNames(AVCodecID id) {
    switch (id) {
        case AV_CODEC_ID_H264: return {"libx264"};
        case AV_CODEC_ID_HEVC: return {"libx265"};
        case AV_CODEC_ID_MPEG2VIDEO: return {"mpeg2video"};
        case AV_CODEC_ID_MPEG1VIDEO: return {"mpeg1video"};
        case AV_CODEC_ID_MPEG4: return {"mpeg4"};
        case AV_CODEC_ID_VP9: return {"libvpx-vp9"};
        case AV_CODEC_ID_VP8: return {"libvpx"};
        case AV_CODEC_ID_AV1: return {"libsvtav1", "libaom-av1"};
        case AV_CODEC_ID_THEORA: return {"libtheora"};
        case AV_CODEC_ID_H261: return {"h261"};
        case AV_CODEC_ID_H263: return {"h263"};
        case AV_CODEC_ID_H263P: return {"h263p"};
        case AV_CODEC_ID_FLV1: return {"flv"};
        case AV_CODEC_ID_WMV1: return {"wmv1"};
        case AV_CODEC_ID_WMV2: return {"wmv2"};
        case AV_CODEC_ID_MSMPEG4V2: return {"msmpeg4v2"};
        case AV_CODEC_ID_MSMPEG4V3: return {"msmpeg4"};
        default: return {};
    }
}

// The first of the codec's encoders this FFmpeg has; null when it has none.
const AVCodec* edgeEncoder(AVCodecID id) {
    for (const char* name : encoderNames(id))
        if (const AVCodec* codec = avcodec_find_encoder_by_name(name)) return codec;
    return nullptr;
}

const char* x264Profile(int profile) {
    switch (profile & ~FF_PROFILE_H264_CONSTRAINED) {
        case FF_PROFILE_H264_BASELINE: return "baseline";
        case FF_PROFILE_H264_MAIN: return "main";
        case FF_PROFILE_H264_HIGH: return "high";
        case FF_PROFILE_H264_HIGH_10: return "high10";
        case FF_PROFILE_H264_HIGH_422: return "high422";
        case FF_PROFILE_H264_HIGH_444_PREDICTIVE: return "high444";
        default: return nullptr;
    }
}

// The level for an AV1 encoder: the stream states its seq_level_idx (0 for level 2.0, 1 for
// 2.1, ... 23 for 7.3), which SVT-AV1 takes as major and minor digits (20 ... 73); libaom
// chooses its own. Unknown for an index that names no level (31: no limits).
int av1Level(const AVCodec* codec, int seqLevelIdx) {
    if (std::string_view(codec->name) != "libsvtav1" || seqLevelIdx < 0 || seqLevelIdx > 23) return FF_LEVEL_UNKNOWN;
    return (2 + seqLevelIdx / 4) * 10 + seqLevelIdx % 4;
}

}  // namespace

int64_t h264LevelMaxBitRate(int profile, int level) {
    // MaxBR in 1000 bit/s per level (level_idc; 9 is level 1b), for the Baseline and Main
    // profiles; the High profiles allow more by a factor.
    static const std::pair<int, int64_t> kMaxBr[] = {
        {9, 128},     {10, 64},     {11, 192},    {12, 384},    {13, 768},    {20, 2000},  {21, 4000},
        {22, 4000},   {30, 10000},  {31, 14000},  {32, 20000},  {40, 20000},  {41, 50000}, {42, 50000},
        {50, 135000}, {51, 240000}, {52, 240000}, {60, 240000}, {61, 480000}, {62, 800000}};
    int64_t factor = 1000;
    switch (profile & ~(FF_PROFILE_H264_CONSTRAINED | FF_PROFILE_H264_INTRA)) {
        case FF_PROFILE_H264_HIGH: factor = 1250; break;
        case FF_PROFILE_H264_HIGH_10: factor = 3000; break;
        case FF_PROFILE_H264_HIGH_422:
        case FF_PROFILE_H264_HIGH_444_PREDICTIVE:
        case FF_PROFILE_H264_CAVLC_444: factor = 4000; break;
        default: break;
    }
    for (const auto& [idc, maxBr] : kMaxBr)
        if (idc == level) return maxBr * factor;
    return 0;
}

bool canEncodeEdges(const AVStream* source, AVRational frameRate, QString* why) {
    const AVCodecParameters* par = source->codecpar;
    if (!edgeEncoder(par->codec_id)) {
        if (why) *why = QStringLiteral("this FFmpeg has no %1 encoder").arg(avcodec_get_name(par->codec_id));
        return false;
    }
    // The encoder is tried once as the pieces will use it, on one black picture of the source's
    // size, so that one that refuses the source's settings refuses before any file is written.
    // (It gets a picture and the end before it is closed: SVT-AV1 waits for ever when closed
    // without one.)
    if (par->width <= 0 || par->height <= 0 || par->format < 0) return true;
    ffmpeg::Frame picture = ffmpeg::makeFrame();
    ffmpeg::Packet packet = ffmpeg::makePacket();
    if (!picture || !packet) throw MediaError(QStringLiteral("Out of memory"));
    picture->width = par->width;
    picture->height = par->height;
    picture->format = par->format;
    picture->pts = 0;
    if (av_frame_get_buffer(picture.get(), 0) < 0) throw MediaError(QStringLiteral("Out of memory"));
    const ptrdiff_t lines[4] = {picture->linesize[0], picture->linesize[1], picture->linesize[2], picture->linesize[3]};
    av_image_fill_black(picture->data, lines, AVPixelFormat(par->format), par->color_range, par->width, par->height);
    try {
        const ffmpeg::Codec encoder = openEdgeEncoder(source, picture.get(), frameRate, 0, {}, {}, false, 1);
        int ret = avcodec_send_frame(encoder.get(), picture.get());
        if (ret >= 0) ret = avcodec_send_frame(encoder.get(), nullptr);
        while (ret >= 0) {
            ret = avcodec_receive_packet(encoder.get(), packet.get());
            av_packet_unref(packet.get());
        }
        if (ret != AVERROR_EOF)
            throw MediaError(QStringLiteral("Cannot encode a picture (%1)").arg(ffmpegErrorText(ret)));
    } catch (const MediaError& e) {
        if (why) *why = e.description();
        return false;
    }
    return true;
}

ffmpeg::Codec openEdgeEncoder(const AVStream* source, const AVFrame* firstFrame, AVRational frameRate,
                              int64_t sourceBitRate, const RateCap& cap, const std::set<int>& usedParameterSetIds,
                              bool headersOnly, int threads) {
    const AVCodecParameters* par = source->codecpar;
    const AVCodec* codec = edgeEncoder(par->codec_id);
    if (!codec) throw MediaError(QStringLiteral("No encoder for %1").arg(avcodec_get_name(par->codec_id)));
    ffmpeg::Codec enc(avcodec_alloc_context3(codec));
    if (!enc) throw MediaError(QStringLiteral("Out of memory"));
    AVCodecContext* c = enc.get();
    c->width = firstFrame->width;
    c->height = firstFrame->height;
    c->pix_fmt = AVPixelFormat(firstFrame->format);
    c->time_base = av_inv_q(frameRate);
    c->framerate = frameRate;
    c->sample_aspect_ratio = par->sample_aspect_ratio.num > 0 ? par->sample_aspect_ratio : source->sample_aspect_ratio;
    c->color_primaries = par->color_primaries;
    c->color_trc = par->color_trc;
    c->colorspace = par->color_space;
    c->color_range = par->color_range;
    c->chroma_sample_location = par->chroma_location;
    c->profile = par->profile;
    c->level = par->codec_id == AV_CODEC_ID_AV1 ? av1Level(codec, par->level) : par->level;
    c->codec_tag = par->codec_tag;
    c->max_b_frames = 0;
    c->gop_size = 1 << 20;  // one keyframe, at the start of the piece
    c->thread_count = threads;
    // A piece is interlaced where its first picture is (a broadcast may switch from
    // progressive to interlaced pictures at a keyframe, while the stream's field order tells
    // only of its first pictures) or where the stream says all are; the encoders take each
    // picture's field order from the picture itself.
    const bool streamInterlaced = par->field_order != AV_FIELD_PROGRESSIVE && par->field_order != AV_FIELD_UNKNOWN;
    const bool interlaced = streamInterlaced || firstFrame->interlaced_frame;
    const bool topFirst = firstFrame->interlaced_frame
                              ? bool(firstFrame->top_field_first)
                              : par->field_order == AV_FIELD_TT || par->field_order == AV_FIELD_TB;
    c->field_order = firstFrame->interlaced_frame ? (topFirst ? AV_FIELD_TT : AV_FIELD_BB) : par->field_order;
    if (interlaced) c->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
    if (headersOnly) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    void* opts = c->priv_data;
    switch (par->codec_id) {
        case AV_CODEC_ID_H264: {
            int id = 0;
            while (usedParameterSetIds.count(id) && id < 31) ++id;
            // A source that shows pictures later than it decodes them gets pieces that do too,
            // with the same reordering depth: a decoder keeps its output order across the
            // joins (FFmpeg dropped the copy's first pictures as out of order otherwise).
            const int bframes = par->video_delay > 0 ? 3 : 0;
            c->max_b_frames = bframes;
            QByteArray params = QStringLiteral("sps-id=%1:scenecut=0:bframes=%2:b-pyramid=%3")
                                    .arg(id)
                                    .arg(bframes)
                                    .arg(par->video_delay > 1 ? "normal" : "none")
                                    .toLatin1();
            if (interlaced) params += topFirst ? ":tff=1" : ":bff=1";
            av_opt_set(opts, "x264-params", params.constData(), 0);
            if (const char* profile = x264Profile(par->profile)) av_opt_set(opts, "profile", profile, 0);
            // The pieces are short: a fast preset, at the source's own rate around the piece
            // (a fixed fine quality took nearly twice its bits on a source with long groups),
            // or at a low CRF where that is unknown; capped at the rate the source allows and
            // its level allows.
            av_opt_set(opts, "preset", "superfast", 0);
            if (cap.aimBitsPerSecond > 0)
                c->bit_rate = cap.aimBitsPerSecond;
            else
                av_opt_set_double(opts, "crf", 15, 0);
            if (cap.bitsPerSecond > 0) {
                const int64_t levelMax = h264LevelMaxBitRate(par->profile, par->level);
                c->rc_max_rate = levelMax > 0 ? std::min(cap.bitsPerSecond, levelMax) : cap.bitsPerSecond;
                c->rc_buffer_size =
                    int(std::min<int64_t>({cap.bufferBits, levelMax > 0 ? levelMax : INT32_MAX, INT32_MAX}));
                c->bit_rate = std::min(c->bit_rate, c->rc_max_rate);
            }
            break;
        }
        case AV_CODEC_ID_HEVC: {
            QByteArray params = "bframes=0:scenecut=0:repeat-headers=1:info=0:log-level=error";
            if (par->level > 0) params += ":level-idc=" + QByteArray::number(par->level / 3.0 / 10.0, 'f', 1);
            if (cap.bitsPerSecond > 0)
                params += ":vbv-maxrate=" + QByteArray::number(cap.bitsPerSecond / 1000) +
                          ":vbv-bufsize=" + QByteArray::number(cap.bufferBits / 1000);
            av_opt_set(opts, "x265-params", params.constData(), 0);
            av_opt_set(opts, "preset", "faster", 0);
            av_opt_set_double(opts, "crf", 18, 0);
            break;
        }
        case AV_CODEC_ID_MPEG1VIDEO:
        case AV_CODEC_ID_MPEG2VIDEO:
        case AV_CODEC_ID_MPEG4:
            if (cap.bitsPerSecond > 0) {
                // The source's own rate around the piece as the aim, its cap and buffer as
                // the ceiling, and no finer quantiser than a fixed one would take.
                c->bit_rate = cap.bitsPerSecond * 5 / 6;
                c->rc_max_rate = cap.bitsPerSecond;
                c->rc_buffer_size = int(std::min<int64_t>(cap.bufferBits, INT32_MAX));
                c->qmin = 2;
            } else {
                c->flags |= AV_CODEC_FLAG_QSCALE;
                c->global_quality = FF_QP2LAMBDA * 2;
                c->bit_rate = par->bit_rate;
            }
            if (par->codec_id != AV_CODEC_ID_MPEG4) c->gop_size = 600;  // the longest these encoders take
            // An MPEG-4 stream's header says whether pictures are shown at once or one late
            // (when it has B-frames). A decoder takes that from the latest header, so pieces
            // keep the source's choice: otherwise a picture is shown twice at the join to the
            // copy and one is lost at the join back.
            if (par->codec_id == AV_CODEC_ID_MPEG4 && par->video_delay > 0) c->max_b_frames = 1;
            break;
        case AV_CODEC_ID_H261:
        case AV_CODEC_ID_H263:
        case AV_CODEC_ID_H263P:
        case AV_CODEC_ID_FLV1:
        case AV_CODEC_ID_WMV1:
        case AV_CODEC_ID_WMV2:
        case AV_CODEC_ID_MSMPEG4V2:
        case AV_CODEC_ID_MSMPEG4V3:
            // No B-frames in these codecs: a fine fixed quantiser, a keyframe at the start.
            c->flags |= AV_CODEC_FLAG_QSCALE;
            c->global_quality = FF_QP2LAMBDA * 2;
            c->gop_size = 600;
            break;
        case AV_CODEC_ID_AV1:
            // A fast speed, no frames held back, a quality near the source's.
            av_opt_set_int(opts, "crf", 24, 0);
            if (std::string_view(codec->name) == "libsvtav1") {
                av_opt_set_int(opts, "preset", 10, 0);
            } else {
                av_opt_set_int(opts, "cpu-used", 8, 0);
                av_opt_set_int(opts, "lag-in-frames", 0, 0);
                av_opt_set(opts, "usage", "realtime", 0);
            }
            break;
        case AV_CODEC_ID_VP8:
        case AV_CODEC_ID_VP9:
            // libvpx takes the rate as the ceiling of its quality mode; the source's keeps the
            // pieces near its quality.
            c->bit_rate = std::max<int64_t>(par->bit_rate, sourceBitRate) * 3 / 2;
            av_opt_set_int(opts, "crf", par->codec_id == AV_CODEC_ID_VP9 ? 20 : 8, 0);
            av_opt_set_int(opts, "lag-in-frames", 0, 0);
            av_opt_set_int(opts, "auto-alt-ref", 0, 0);
            av_opt_set(opts, "deadline", "good", 0);
            av_opt_set_int(opts, "cpu-used", 4, 0);
            if (par->codec_id == AV_CODEC_ID_VP9) av_opt_set_int(opts, "row-mt", 1, 0);
            break;
        default: break;
    }
    const int ret = avcodec_open2(c, codec, nullptr);
    if (ret < 0)
        throw MediaError(QStringLiteral("Cannot encode %1 frames like the source's (%2)")
                             .arg(avcodec_get_name(par->codec_id), ffmpegErrorText(ret)));
    return enc;
}
