#include "engine/common/Bitstream.h"

#include <QString>
#include <utility>

#include "engine/common/H264OpenGroup.h"
#include "engine/common/MediaError.h"

namespace {

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

// A container header that is a config record (first byte 1; an avcC has at least 7 bytes,
// an hvcC 23) says the packets carry length fields; Annex B headers begin with a start code.
bool lengthPrefixed(const AVCodecParameters* par) {
    const int least = par->codec_id == AV_CODEC_ID_H264 ? 7 : par->codec_id == AV_CODEC_ID_HEVC ? 23 : 0;
    return least > 0 && par->extradata_size >= least && par->extradata[0] == 1;
}

// The size of the packets' length fields, 1 to 4 bytes; only for a lengthPrefixed header.
int nalLengthSize(const AVCodecParameters* par) {
    const int at = par->codec_id == AV_CODEC_ID_H264 ? 4 : 21;
    return (par->extradata[at] & 3) + 1;
}

// Reads unsigned Exp-Golomb numbers from the start of a NAL unit's payload.
class BitReader {
public:
    BitReader(const uint8_t* data, int size) : data_(data), size_(size) {}
    int bit() {
        if (pos_ / 8 >= size_) return 0;
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

std::vector<std::pair<const uint8_t*, int>> packetNalUnits(const AVCodecParameters* par, const uint8_t* data,
                                                           int size) {
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

void appendNalUnit(std::vector<uint8_t>& out, const AVCodecParameters* par, const uint8_t* unit, int size) {
    if (!lengthPrefixed(par)) {
        out.insert(out.end(), {0, 0, 0, 1});
        out.insert(out.end(), unit, unit + size);
        return;
    }
    const int lengthSize = nalLengthSize(par);
    // A unit longer than the source's length fields can say cannot join its packets.
    if (lengthSize < 4 && uint32_t(size) >> (8 * lengthSize) != 0)
        throw MediaError(QStringLiteral("A NAL unit of %1 bytes does not fit the source's %2-byte length fields")
                             .arg(size)
                             .arg(lengthSize));
    for (int b = lengthSize - 1; b >= 0; --b) out.push_back(uint8_t(uint32_t(size) >> (8 * b)));
    out.insert(out.end(), unit, unit + size);
}

std::vector<std::vector<uint8_t>> h264HeaderUnits(const uint8_t* extradata, int size) {
    std::vector<std::vector<uint8_t>> units;
    if (size > 6 && extradata[0] == 1) {
        AvcConfig config = readAvcConfig(extradata, size);
        units = std::move(config.sps);
        units.insert(units.end(), config.pps.begin(), config.pps.end());
    } else {
        for (const auto& [unit, unitSize] : nalUnits(extradata, size)) units.emplace_back(unit, unit + unitSize);
    }
    return units;
}

std::pair<int64_t, int64_t> h264DeclaredBufferModel(const uint8_t* extradata, int size) {
    h264::ParameterSets sets;
    for (const auto& unit : h264HeaderUnits(extradata, size)) {
        if (unit.size() < 2 || (unit[0] & 0x1f) != 7) continue;
        sets.learn(unit.data(), int(unit.size()));
        BitReader bits(unit.data() + 1, int(unit.size()) - 1);
        bits.skip(24);  // profile, constraint flags, level
        const h264::Sps* sps = sets.sps(bits.ue());
        if (sps) return {sps->hrdBitsPerSecond, sps->hrdBufferBits};
    }
    return {0, 0};
}

std::set<int> h264ParameterSetIds(const uint8_t* extradata, int size) {
    std::set<int> ids;
    for (const auto& unit : h264HeaderUnits(extradata, size)) {
        if (unit.size() < 2) continue;
        const int type = unit[0] & 0x1f;
        BitReader bits(unit.data() + 1, int(unit.size()) - 1);
        if (type == 7) bits.skip(24);  // profile, constraint flags, level
        if (type == 7 || type == 8) ids.insert(int(bits.ue()));
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
        if ((type == 7 || type == 8) && unitSize > 0xffff) return {};  // longer than the header's length fields say
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
                for (const auto& [unit, unitSize] : nalUnits(data, size)) appendNalUnit(out, par, unit, unitSize);
                return out;
            }
            // hvcC: arrays of NAL units after a 23-byte head. A header whose counts or lengths
            // run past its end gives nothing rather than some of its parameter sets.
            for (int at = 23, arrays = data[22], a = 0; a < arrays; ++a) {
                if (at + 3 > size) return {};
                const int count = (data[at + 1] << 8) | data[at + 2];
                at += 3;
                for (int i = 0; i < count; ++i) {
                    if (at + 2 > size) return {};
                    const int length = (data[at] << 8) | data[at + 1];
                    at += 2;
                    if (at + length > size) return {};
                    appendNalUnit(out, par, data + at, length);
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

bool keyFlagsHold(AVCodecID codec) { return codec != AV_CODEC_ID_H261; }

bool startsCleanly(const AVCodecParameters* par, const uint8_t* data, int size) {
    if (par->codec_id != AV_CODEC_ID_H264) return true;
    for (const auto& [unit, unitSize] : packetNalUnits(par, data, size))
        if ((unit[0] & 0x1f) == 5) return true;
    return openGroupRefusal(par, data, size).isEmpty();
}

bool unreferenced(const AVCodecParameters* par, const uint8_t* data, int size) {
    if (par->codec_id != AV_CODEC_ID_H264) return false;
    bool slices = false;
    for (const auto& [unit, unitSize] : packetNalUnits(par, data, size)) {
        const int type = unit[0] & 0x1f;
        if (type != 1 && type != 5) continue;
        if (unit[0] & 0x60) return false;  // nal_ref_idc: another picture refers to it
        slices = true;
    }
    return slices;
}

std::vector<uint8_t> toSourceForm(const AVCodecParameters* par, const uint8_t* data, int size) {
    if (size <= 0) return {};
    if (!lengthPrefixed(par)) return std::vector<uint8_t>(data, data + size);
    std::vector<uint8_t> out;
    out.reserve(size_t(size) + 16);
    for (const auto& [unit, unitSize] : nalUnits(data, size)) appendNalUnit(out, par, unit, unitSize);
    return out;
}
