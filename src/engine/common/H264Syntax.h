#pragma once
// H.264 syntax below the slice data: NAL payloads without their emulation prevention bytes
// (RBSP), Exp-Golomb bits, and the fields of the parameter sets that a slice header's layout
// depends on. The bytes come from the source file: every reader stops at the end of what it
// is given and says so.
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace h264 {

// A NAL unit's bytes (header byte included) without emulation prevention bytes (00 00 03).
std::vector<uint8_t> unescape(const uint8_t* data, int size);
// The NAL unit's bytes for a payload: emulation prevention bytes put back where needed.
std::vector<uint8_t> escape(const std::vector<uint8_t>& rbsp);

class BitReader {
public:
    BitReader(const std::vector<uint8_t>& bytes, int64_t bit = 0) : bytes_(&bytes), pos_(bit) {}
    uint32_t bits(int count);  // count <= 32
    uint32_t ue();
    int32_t se();
    int64_t position() const { return pos_; }
    // True once a read went past the end (what it read counts as zeros).
    bool overrun() const { return pos_ > int64_t(bytes_->size()) * 8; }

private:
    const std::vector<uint8_t>* bytes_;
    int64_t pos_;
};

class BitWriter {
public:
    void put(uint32_t value, int count);  // count <= 32
    void ue(uint32_t value);
    // Bits [from, to) of `source`.
    void copy(const std::vector<uint8_t>& source, int64_t from, int64_t to);
    bool aligned() const { return bits_ % 8 == 0; }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    int64_t bits_ = 0;
};

struct Sps {
    int log2MaxFrameNum = 4, pocType = 0, log2MaxPocLsb = 4, chromaArrayType = 1;
    bool deltaPicOrderAlwaysZero = false, frameMbsOnly = true, separateColourPlane = false;
    // The buffer model the stream declares (its HRD in the VUI: the NAL one, else the VCL
    // one): its highest rate and that rate's buffer, in bits; 0 without one.
    int64_t hrdBitsPerSecond = 0, hrdBufferBits = 0;
};
struct Pps {
    int spsId = 0;
    uint32_t refIdxDefault[2] = {0, 0};  // num_ref_idx_lX_default_active_minus1
    bool weightedPred = false;
    uint32_t weightedBipred = 0;
    bool cabac = false, bottomFieldPicOrder = false, redundantPicCnt = false, deblockingControl = false;
    bool sliceGroups = false;  // more than one slice group
};

// The parameter sets met so far, by their ids.
class ParameterSets {
public:
    // Takes an SPS or PPS NAL unit (header byte first); other units and damaged sets are ignored.
    void learn(const uint8_t* unit, int size);
    const Pps* pps(uint32_t id) const;
    const Sps* sps(uint32_t id) const;
    const Sps* spsOf(const Pps& pps) const;

private:
    std::map<uint32_t, Sps> sps_;
    std::map<uint32_t, Pps> pps_;
};

// A slice header read as far as it depends on nothing but the parameter sets: up to its
// picture order fields (bit positions count from the NAL header byte's first bit).
struct SliceStart {
    uint32_t sliceType = 0;
    int64_t frameNumAt = 0;
    int frameNumBits = 0;
    uint32_t frameNum = 0;
    bool field = false;       // a field picture (PAFF)
    int64_t afterFields = 0;  // where idr_pic_id (in an IDR slice) or the picture order fields begin
    const Sps* sps = nullptr;
    const Pps* pps = nullptr;
};
// nullopt when the unit's parameter sets are unknown or its bytes end early.
std::optional<SliceStart> readSliceStart(const std::vector<uint8_t>& rbsp, const ParameterSets& sets);

}  // namespace h264
