#include "engine/remux/EdgeEncoder.h"

#include <QByteArray>
#include <QString>
#include <algorithm>

#include "engine/common/MediaError.h"

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace {

// The encoder for each codec whose pieces join the source's packets.
const char* encoderName(AVCodecID id) {
    switch (id) {
        case AV_CODEC_ID_H264: return "libx264";
        case AV_CODEC_ID_HEVC: return "libx265";
        case AV_CODEC_ID_MPEG2VIDEO: return "mpeg2video";
        case AV_CODEC_ID_MPEG1VIDEO: return "mpeg1video";
        case AV_CODEC_ID_MPEG4: return "mpeg4";
        case AV_CODEC_ID_VP9: return "libvpx-vp9";
        case AV_CODEC_ID_VP8: return "libvpx";
        default: return nullptr;
    }
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

}  // namespace

bool canEncodeEdges(const AVCodecParameters* par) {
    const char* name = encoderName(par->codec_id);
    return name && avcodec_find_encoder_by_name(name);
}

ffmpeg::Codec openEdgeEncoder(const AVStream* source, const AVFrame* firstFrame, AVRational frameRate,
                              int64_t sourceBitRate, const std::set<int>& usedParameterSetIds, bool headersOnly) {
    const AVCodecParameters* par = source->codecpar;
    const char* name = encoderName(par->codec_id);
    const AVCodec* codec = name ? avcodec_find_encoder_by_name(name) : nullptr;
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
    c->field_order = par->field_order;
    c->color_primaries = par->color_primaries;
    c->color_trc = par->color_trc;
    c->colorspace = par->color_space;
    c->color_range = par->color_range;
    c->chroma_sample_location = par->chroma_location;
    c->profile = par->profile;
    c->level = par->level;
    c->codec_tag = par->codec_tag;
    c->max_b_frames = 0;
    c->gop_size = 1 << 20;  // one keyframe, at the start of the piece
    c->thread_count = 0;
    const bool interlaced = par->field_order != AV_FIELD_PROGRESSIVE && par->field_order != AV_FIELD_UNKNOWN;
    const bool topFirst = par->field_order == AV_FIELD_TT || par->field_order == AV_FIELD_TB;
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
            // The pieces are short: a fast preset at a low CRF keeps them close to the source.
            av_opt_set(opts, "preset", "superfast", 0);
            av_opt_set_double(opts, "crf", 15, 0);
            break;
        }
        case AV_CODEC_ID_HEVC: {
            QByteArray params = "bframes=0:scenecut=0:repeat-headers=1:info=0:log-level=error";
            if (par->level > 0) params += ":level-idc=" + QByteArray::number(par->level / 3.0 / 10.0, 'f', 1);
            av_opt_set(opts, "x265-params", params.constData(), 0);
            av_opt_set(opts, "preset", "faster", 0);
            av_opt_set_double(opts, "crf", 18, 0);
            break;
        }
        case AV_CODEC_ID_MPEG1VIDEO:
        case AV_CODEC_ID_MPEG2VIDEO:
        case AV_CODEC_ID_MPEG4:
            c->flags |= AV_CODEC_FLAG_QSCALE;
            c->global_quality = FF_QP2LAMBDA * 2;
            c->bit_rate = par->bit_rate;
            if (par->codec_id != AV_CODEC_ID_MPEG4) c->gop_size = 600;  // the longest these encoders take
            // An MPEG-4 stream's header says whether pictures are shown at once or one late
            // (when it has B-frames). A decoder takes that from the latest header, so pieces
            // keep the source's choice: otherwise a picture is shown twice at the join to the
            // copy and one is lost at the join back.
            if (par->codec_id == AV_CODEC_ID_MPEG4 && par->video_delay > 0) c->max_b_frames = 1;
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
