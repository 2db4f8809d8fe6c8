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

// Start codes (00 00 01 or 00 00 00 01) split Annex B bytes into NAL units.
std::vector<std::pair<const uint8_t*, int>> nalUnits(const uint8_t* data, int size) {
    std::vector<std::pair<const uint8_t*, int>> units;
    auto startCodeAt = [&](int i) { return i + 2 < size && data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1; };
    int i = 0;
    while (i < size && !startCodeAt(i)) ++i;
    while (i < size) {
        const int begin = i + 3;
        int end = begin;
        while (end < size && !startCodeAt(end)) ++end;
        int unitEnd = end;
        while (unitEnd > begin && data[unitEnd - 1] == 0) --unitEnd;  // trailing zeros, the next 4-byte start code's
        if (unitEnd > begin) units.emplace_back(data + begin, unitEnd - begin);
        i = end;
    }
    return units;
}

bool lengthPrefixed(const AVCodecParameters* par) {
    return (par->codec_id == AV_CODEC_ID_H264 || par->codec_id == AV_CODEC_ID_HEVC) && par->extradata_size > 22 &&
           par->extradata[0] == 1;
}

int nalLengthSize(const AVCodecParameters* par) {
    const int at = par->codec_id == AV_CODEC_ID_H264 ? 4 : 21;
    return (par->extradata[at] & 3) + 1;
}

void appendUnit(std::vector<uint8_t>& out, const AVCodecParameters* par, const uint8_t* unit, int size) {
    if (!lengthPrefixed(par)) {
        out.insert(out.end(), {0, 0, 0, 1});
        out.insert(out.end(), unit, unit + size);
        return;
    }
    const int lengthSize = nalLengthSize(par);
    for (int b = lengthSize - 1; b >= 0; --b) out.push_back(uint8_t(uint32_t(size) >> (8 * b)));
    out.insert(out.end(), unit, unit + size);
}

// Reads unsigned Exp-Golomb numbers from the start of a NAL unit's payload.
class BitReader {
public:
    BitReader(const uint8_t* data, int size) : data_(data), size_(size) {}
    int bit() {
        if (pos_ >= size_ * 8) return 0;
        const int b = (data_[pos_ / 8] >> (7 - pos_ % 8)) & 1;
        ++pos_;
        return b;
    }
    uint32_t ue() {
        int zeros = 0;
        while (bit() == 0 && zeros < 31) ++zeros;
        uint32_t value = 0;
        for (int i = 0; i < zeros; ++i) value = (value << 1) | uint32_t(bit());
        return (1u << zeros) - 1 + value;
    }
    void skip(int bits) { pos_ += bits; }

private:
    const uint8_t* data_;
    int size_;
    int pos_ = 0;
};

// An H.264 container header (avcC): five bytes, the SPS list, the PPS list, then whatever
// follows from `end` on. complete is false when the lists run past the header (the units
// read until then are kept).
struct AvcConfig {
    std::vector<std::vector<uint8_t>> sps, pps;
    int end = 0;
    bool complete = false;
};

AvcConfig readAvcConfig(const uint8_t* data, int size) {
    AvcConfig config;
    int at = 5;
    for (auto* list : {&config.sps, &config.pps}) {
        if (at >= size) return config;
        const int count = list == &config.sps ? data[at++] & 0x1f : data[at++];
        for (int i = 0; i < count; ++i) {
            if (at + 2 > size) return config;
            const int length = (data[at] << 8) | data[at + 1];
            if (at + 2 + length > size) return config;
            list->emplace_back(data + at + 2, data + at + 2 + length);
            at += 2 + length;
        }
    }
    config.end = at;
    config.complete = true;
    return config;
}

}  // namespace

bool canEncodeEdges(const AVCodecParameters* par) {
    const char* name = encoderName(par->codec_id);
    return name && avcodec_find_encoder_by_name(name);
}

std::set<int> h264ParameterSetIds(const uint8_t* extradata, int size) {
    std::set<int> ids;
    auto read = [&](const uint8_t* unit, int unitSize) {
        if (unitSize < 2) return;
        const int type = unit[0] & 0x1f;
        BitReader bits(unit + 1, unitSize - 1);
        if (type == 7) bits.skip(24);  // profile, constraint flags, level
        if (type == 7 || type == 8) ids.insert(int(bits.ue()));
    };
    if (size > 6 && extradata[0] == 1) {
        const AvcConfig config = readAvcConfig(extradata, size);
        for (const auto* list : {&config.sps, &config.pps})
            for (const auto& unit : *list) read(unit.data(), int(unit.size()));
    } else {
        for (const auto& [unit, unitSize] : nalUnits(extradata, size)) read(unit, unitSize);
    }
    return ids;
}

std::vector<uint8_t> withPieceParameterSets(const AVCodecParameters* par, const uint8_t* pieceHeader, int size) {
    const uint8_t* data = par->extradata;
    const int total = par->extradata_size;
    if (par->codec_id != AV_CODEC_ID_H264 || total < 7 || data[0] != 1) return {};
    AvcConfig config = readAvcConfig(data, total);
    if (!config.complete) return {};
    for (const auto& [unit, unitSize] : nalUnits(pieceHeader, size)) {
        const int type = unit[0] & 0x1f;
        if (type == 7 || type == 8) (type == 7 ? config.sps : config.pps).emplace_back(unit, unit + unitSize);
    }
    if (config.sps.size() > 31 || config.pps.size() > 255) return {};
    std::vector<uint8_t> out(data, data + 5);
    for (const auto* list : {&config.sps, &config.pps}) {
        out.push_back(list == &config.sps ? uint8_t(0xe0 | list->size()) : uint8_t(list->size()));
        for (const auto& unit : *list) {
            out.push_back(uint8_t(unit.size() >> 8));
            out.push_back(uint8_t(unit.size()));
            out.insert(out.end(), unit.begin(), unit.end());
        }
    }
    out.insert(out.end(), data + config.end, data + total);  // what follows the lists, kept as it is
    return out;
}

std::vector<uint8_t> inBandHeader(const AVCodecParameters* par) {
    std::vector<uint8_t> out;
    if (par->extradata_size <= 0) return out;
    const uint8_t* data = par->extradata;
    const int size = par->extradata_size;
    switch (par->codec_id) {
        case AV_CODEC_ID_HEVC:
            if (!lengthPrefixed(par)) {
                for (const auto& [unit, unitSize] : nalUnits(data, size)) appendUnit(out, par, unit, unitSize);
                return out;
            }
            // hvcC: arrays of NAL units after a 23-byte head.
            for (int at = 23, arrays = data[22], a = 0; a < arrays && at + 3 <= size; ++a) {
                const int count = (data[at + 1] << 8) | data[at + 2];
                at += 3;
                for (int i = 0; i < count && at + 2 <= size; ++i) {
                    const int length = (data[at] << 8) | data[at + 1];
                    at += 2;
                    if (at + length > size) return {};
                    appendUnit(out, par, data + at, length);
                    at += length;
                }
            }
            return out;
        case AV_CODEC_ID_MPEG4:
        case AV_CODEC_ID_MPEG1VIDEO:
        case AV_CODEC_ID_MPEG2VIDEO: out.assign(data, data + size); return out;
        default: return out;
    }
}

// The NAL units of a packet in the source's form (start codes or length fields).
std::vector<std::pair<const uint8_t*, int>> packetUnits(const AVCodecParameters* par, const uint8_t* data, int size) {
    if (!lengthPrefixed(par)) return nalUnits(data, size);
    std::vector<std::pair<const uint8_t*, int>> units;
    const int lengthSize = nalLengthSize(par);
    for (int at = 0; at + lengthSize <= size;) {
        uint32_t length = 0;
        for (int b = 0; b < lengthSize; ++b) length = (length << 8) | data[at + b];
        at += lengthSize;
        if (length > uint32_t(size - at)) break;
        if (length > 0) units.emplace_back(data + at, int(length));
        at += int(length);
    }
    return units;
}

bool startsCleanly(const AVCodecParameters* par, const uint8_t* data, int size) {
    if (par->codec_id != AV_CODEC_ID_H264) return true;
    for (const auto& [unit, unitSize] : packetUnits(par, data, size))
        if ((unit[0] & 0x1f) == 5) return true;
    return false;
}

bool unreferenced(const AVCodecParameters* par, const uint8_t* data, int size) {
    if (par->codec_id != AV_CODEC_ID_H264) return false;
    bool slices = false;
    for (const auto& [unit, unitSize] : packetUnits(par, data, size)) {
        const int type = unit[0] & 0x1f;
        if (type != 1 && type != 5) continue;
        if (unit[0] & 0x60) return false;  // nal_ref_idc: another picture refers to it
        slices = true;
    }
    return slices;
}

std::vector<uint8_t> toSourceForm(const AVCodecParameters* par, const uint8_t* data, int size) {
    if (!lengthPrefixed(par)) return std::vector<uint8_t>(data, data + size);
    std::vector<uint8_t> out;
    out.reserve(size_t(size) + 16);
    for (const auto& [unit, unitSize] : nalUnits(data, size)) appendUnit(out, par, unit, unitSize);
    return out;
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
