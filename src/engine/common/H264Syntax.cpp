#include "engine/common/H264Syntax.h"

#include <algorithm>

namespace h264 {

std::vector<uint8_t> unescape(const uint8_t* data, int size) {
    std::vector<uint8_t> out;
    out.reserve(size_t(std::max(size, 0)));
    int zeros = 0;
    for (int i = 0; i < size; ++i) {
        if (zeros >= 2 && data[i] == 3) {
            zeros = 0;
            continue;
        }
        zeros = data[i] == 0 ? zeros + 1 : 0;
        out.push_back(data[i]);
    }
    return out;
}

std::vector<uint8_t> escape(const std::vector<uint8_t>& rbsp) {
    std::vector<uint8_t> out;
    out.reserve(rbsp.size() + rbsp.size() / 64 + 4);
    int zeros = 0;
    for (const uint8_t byte : rbsp) {
        if (zeros >= 2 && byte <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        zeros = byte == 0 ? zeros + 1 : 0;
        out.push_back(byte);
    }
    // A payload may not end in a zero byte: the next start code would swallow it.
    if (!out.empty() && out.back() == 0) out.push_back(3);
    return out;
}

uint32_t BitReader::bits(int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i, ++pos_) {
        const int64_t byte = pos_ / 8;
        const int bit = byte < int64_t(bytes_->size()) ? ((*bytes_)[size_t(byte)] >> (7 - pos_ % 8)) & 1 : 0;
        value = (value << 1) | uint32_t(bit);
    }
    return value;
}

uint32_t BitReader::ue() {
    int zeros = 0;
    while (bits(1) == 0) {
        if (++zeros > 31 || overrun()) return 0;
    }
    return uint32_t((uint64_t(1) << zeros) - 1 + bits(zeros));
}

int32_t BitReader::se() {
    const uint32_t k = ue();
    return k & 1 ? int32_t((k + 1) / 2) : -int32_t(k / 2);
}

void BitWriter::put(uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i, ++bits_) {
        if (bits_ % 8 == 0) bytes_.push_back(0);
        if ((value >> i) & 1) bytes_.back() |= uint8_t(0x80 >> (bits_ % 8));
    }
}

void BitWriter::ue(uint32_t value) {
    const uint64_t coded = uint64_t(std::min<uint32_t>(value, 0x7ffffffe)) + 1;
    int length = 0;
    while ((coded >> length) > 1) ++length;
    put(0, length);
    put(uint32_t(coded), length + 1);
}

void BitWriter::copy(const std::vector<uint8_t>& source, int64_t from, int64_t to) {
    to = std::min(to, int64_t(source.size()) * 8);
    BitReader reader(source, from);
    while (from < to) {
        if (from % 8 == 0 && aligned() && to - from >= 8) {  // whole bytes where both lie aligned
            const int64_t count = (to - from) / 8;
            bytes_.insert(bytes_.end(), source.begin() + from / 8, source.begin() + from / 8 + count);
            bits_ += count * 8;
            from += count * 8;
            reader = BitReader(source, from);
            continue;
        }
        const int count = int(std::min<int64_t>(8, to - from));
        put(reader.bits(count), count);
        from += count;
    }
}

namespace {

bool highProfile(uint32_t profile) {
    for (const uint32_t p : {100u, 110u, 122u, 244u, 44u, 83u, 86u, 118u, 128u, 138u, 139u, 134u, 135u})
        if (profile == p) return true;
    return false;
}

void skipScalingList(BitReader& r, int size) {
    int last = 8, next = 8;
    for (int j = 0; j < size && next != 0; ++j) {
        next = (last + r.se() + 256) % 256;
        if (next != 0) last = next;
        if (r.overrun()) return;
    }
}

// One hrd_parameters(): the last (highest) schedule's rate and buffer, in bits.
std::pair<int64_t, int64_t> readHrd(BitReader& r) {
    const uint32_t schedules = r.ue() + 1;
    const int rateScale = int(r.bits(4)), sizeScale = int(r.bits(4));
    int64_t rate = 0, size = 0;
    for (uint32_t i = 0; i < schedules && i < 32 && !r.overrun(); ++i) {
        rate = (int64_t(r.ue()) + 1) << (6 + rateScale);
        size = (int64_t(r.ue()) + 1) << (4 + sizeScale);
        r.bits(1);  // constant rate
    }
    r.bits(20);  // delay and time offset field lengths
    return {rate, size};
}

// The SPS after frame_mbs_only_flag, up to the buffer model in its VUI. A set without a VUI,
// or whose VUI ends early, declares none.
void readBufferModel(BitReader& r, Sps& sps) {
    if (!sps.frameMbsOnly) r.bits(1);  // adaptive frame/field
    r.bits(1);                         // direct 8x8 inference
    if (r.bits(1))                     // cropping
        for (int i = 0; i < 4; ++i) r.ue();
    if (!r.bits(1)) return;            // no VUI
    if (r.bits(1) && r.bits(8) == 255) r.bits(32);  // aspect ratio, extended
    if (r.bits(1)) r.bits(1);                       // overscan
    if (r.bits(1)) {                                // video signal type
        r.bits(4);
        if (r.bits(1)) r.bits(24);  // colour description
    }
    if (r.bits(1)) {  // chroma sample location
        r.ue();
        r.ue();
    }
    if (r.bits(1)) {  // timing
        r.bits(32);
        r.bits(32);
        r.bits(1);
    }
    std::pair<int64_t, int64_t> nal{}, vcl{};
    if (r.bits(1)) nal = readHrd(r);
    if (r.bits(1)) vcl = readHrd(r);
    if (r.overrun()) return;
    // The VCL model counts slice data only, a little less than the NAL one would.
    const auto [rate, size] = nal.first > 0 ? nal : vcl;
    sps.hrdBitsPerSecond = rate;
    sps.hrdBufferBits = size;
}

}  // namespace

void ParameterSets::learn(const uint8_t* unit, int size) {
    if (size < 2) return;
    const int type = unit[0] & 0x1f;
    if (type != 7 && type != 8) return;
    const std::vector<uint8_t> rbsp = unescape(unit, size);
    BitReader r(rbsp, 8);
    if (type == 7) {
        Sps sps;
        const uint32_t profile = r.bits(8);
        r.bits(16);  // constraint flags, level
        const uint32_t id = r.ue();
        if (highProfile(profile)) {
            const uint32_t chroma = r.ue();
            if (chroma == 3) sps.separateColourPlane = r.bits(1);
            sps.chromaArrayType = sps.separateColourPlane ? 0 : int(chroma);
            r.ue();         // luma bit depth
            r.ue();         // chroma bit depth
            r.bits(1);      // transform bypass
            if (r.bits(1))  // scaling matrices
                for (int i = 0; i < (chroma != 3 ? 8 : 12); ++i)
                    if (r.bits(1)) skipScalingList(r, i < 6 ? 16 : 64);
        }
        sps.log2MaxFrameNum = int(r.ue()) + 4;
        sps.pocType = int(r.ue());
        if (sps.pocType == 0) {
            sps.log2MaxPocLsb = int(r.ue()) + 4;
        } else if (sps.pocType == 1) {
            sps.deltaPicOrderAlwaysZero = r.bits(1);
            r.se();
            r.se();
            const uint32_t cycle = r.ue();
            for (uint32_t i = 0; i < cycle && i < 256; ++i) r.se();
        }
        r.ue();     // reference frames
        r.bits(1);  // gaps in frame_num allowed
        r.ue();     // width
        r.ue();     // height
        sps.frameMbsOnly = r.bits(1);
        if (r.overrun() || id > 31 || sps.log2MaxFrameNum > 16 || sps.log2MaxPocLsb > 16 || sps.pocType > 2) return;
        readBufferModel(r, sps);
        sps_[id] = sps;
        return;
    }
    Pps pps;
    const uint32_t id = r.ue();
    pps.spsId = int(r.ue());
    pps.cabac = r.bits(1);
    pps.bottomFieldPicOrder = r.bits(1);
    pps.sliceGroups = r.ue() > 0;
    if (!pps.sliceGroups) {  // with slice groups, their maps come first: such a set is only marked
        pps.refIdxDefault[0] = r.ue();
        pps.refIdxDefault[1] = r.ue();
        pps.weightedPred = r.bits(1);
        pps.weightedBipred = r.bits(2);
        r.se();  // initial quantisers, chroma offset
        r.se();
        r.se();
        pps.deblockingControl = r.bits(1);
        r.bits(1);  // constrained intra prediction
        pps.redundantPicCnt = r.bits(1);
    }
    if (r.overrun() || id > 255 || pps.spsId > 31) return;
    pps_[id] = pps;
}

const Pps* ParameterSets::pps(uint32_t id) const {
    const auto it = pps_.find(id);
    return it == pps_.end() ? nullptr : &it->second;
}

const Sps* ParameterSets::sps(uint32_t id) const {
    const auto it = sps_.find(id);
    return it == sps_.end() ? nullptr : &it->second;
}

const Sps* ParameterSets::spsOf(const Pps& pps) const {
    const auto it = sps_.find(uint32_t(pps.spsId));
    return it == sps_.end() ? nullptr : &it->second;
}

std::optional<SliceStart> readSliceStart(const std::vector<uint8_t>& rbsp, const ParameterSets& sets) {
    BitReader r(rbsp, 8);
    SliceStart s;
    r.ue();  // first macroblock
    s.sliceType = r.ue();
    s.pps = sets.pps(r.ue());
    s.sps = s.pps ? sets.spsOf(*s.pps) : nullptr;
    if (!s.sps || r.overrun()) return std::nullopt;
    if (s.sps->separateColourPlane) r.bits(2);
    s.frameNumAt = r.position();
    s.frameNumBits = s.sps->log2MaxFrameNum;
    s.frameNum = r.bits(s.frameNumBits);
    if (!s.sps->frameMbsOnly && r.bits(1)) {
        s.field = true;
        r.bits(1);  // bottom field
    }
    s.afterFields = r.position();
    if (r.overrun()) return std::nullopt;
    return s;
}

}  // namespace h264
