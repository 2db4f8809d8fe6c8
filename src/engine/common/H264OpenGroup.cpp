#include "engine/common/H264OpenGroup.h"

#include <algorithm>
#include <cstring>

#include "engine/common/Bitstream.h"
#include "engine/common/FfmpegHandles.h"
#include "engine/common/MediaError.h"

using h264::BitReader;
using h264::BitWriter;

namespace {

constexpr int kNonIdrSlice = 1, kIdrSlice = 5, kSei = 6, kSps = 7, kPps = 8;

// A memory management operation of a slice's reference marking and its arguments.
struct Mmco {
    uint32_t op = 0, a = 0, b = 0;
};

// Where a slice's header holds what a copy may change: the reference marking, and where the
// header ends.
struct SliceLayout {
    h264::SliceStart start;
    int64_t markingAt = 0, afterMarking = 0, headerEnd = 0;
    std::vector<Mmco> ops;  // empty without adaptive marking
};

// Reads a slice header (not an IDR slice's) to its end; nullopt when its bytes end early or
// it uses what a copy does not rewrite (switching slices, slice groups).
std::optional<SliceLayout> readSliceHeader(const std::vector<uint8_t>& rbsp, const h264::SliceStart& start) {
    const h264::Sps& sps = *start.sps;
    const h264::Pps& pps = *start.pps;
    const uint32_t type = start.sliceType % 5;  // P, B, I, SP, SI
    if (type > 2 || pps.sliceGroups) return std::nullopt;
    SliceLayout layout;
    layout.start = start;
    BitReader r(rbsp, start.afterFields);
    const bool bottomOrder = pps.bottomFieldPicOrder && !start.field;
    if (sps.pocType == 0) {
        r.bits(sps.log2MaxPocLsb);
        if (bottomOrder) r.se();
    } else if (sps.pocType == 1 && !sps.deltaPicOrderAlwaysZero) {
        r.se();
        if (bottomOrder) r.se();
    }
    if (pps.redundantPicCnt) r.ue();
    if (type == 1) r.bits(1);  // direct prediction
    const int lists = type == 1 ? 2 : type == 0 ? 1 : 0;
    uint32_t refs[2] = {pps.refIdxDefault[0], pps.refIdxDefault[1]};
    if (lists > 0 && r.bits(1))
        for (int l = 0; l < lists; ++l) refs[l] = r.ue();
    for (int l = 0; l < lists; ++l)  // reference list modifications
        if (r.bits(1))
            for (int n = 0;; ++n) {
                const uint32_t idc = r.ue();
                if (idc == 3) break;
                if (idc > 5 || n > 64 || r.overrun()) return std::nullopt;
                r.ue();
            }
    if ((pps.weightedPred && type == 0) || (pps.weightedBipred == 1 && type == 1)) {
        r.ue();
        if (sps.chromaArrayType != 0) r.ue();
        for (int l = 0; l < lists; ++l)
            for (uint32_t i = 0; i <= refs[l] && i < 64; ++i) {
                if (r.bits(1)) r.se(), r.se();
                if (sps.chromaArrayType != 0 && r.bits(1)) r.se(), r.se(), r.se(), r.se();
            }
    }
    layout.markingAt = r.position();
    if ((rbsp[0] & 0x60) && r.bits(1)) {
        for (int n = 0;; ++n) {
            Mmco m{r.ue()};
            if (m.op == 0) break;
            if (m.op > 6 || n > 64 || r.overrun()) return std::nullopt;
            if (m.op == 1 || m.op == 3 || m.op == 2 || m.op == 4) m.a = r.ue();
            if (m.op == 3 || m.op == 6) (m.op == 3 ? m.b : m.a) = r.ue();
            layout.ops.push_back(m);
        }
        if (layout.ops.empty()) return std::nullopt;  // adaptive marking without operations
    }
    layout.afterMarking = r.position();
    if (pps.cabac && type != 2) r.ue();  // CABAC table
    r.se();                              // quantiser
    if (pps.deblockingControl && r.ue() != 1) r.se(), r.se();
    layout.headerEnd = r.position();
    if (r.overrun()) return std::nullopt;
    return layout;
}

// The layout of a non-IDR slice that can become an IDR slice; nullopt with *why otherwise.
std::optional<SliceLayout> readISlice(const std::vector<uint8_t>& rbsp, const h264::ParameterSets& sets, QString* why) {
    const auto fail = [&](const char* reason) {
        *why = QString::fromLatin1(reason);
        return std::nullopt;
    };
    if ((rbsp[0] & 0x60) == 0) return fail("its first picture is not a reference picture");
    const std::optional<h264::SliceStart> start = h264::readSliceStart(rbsp, sets);
    if (!start) return fail("its parameter sets are not known where it starts");
    if (start->sliceType % 5 != 2) return fail("its first picture holds slices that are not intra coded");
    if (start->field) return fail("its pictures are coded as separate fields (PAFF)");
    if (start->pps->sliceGroups) return fail("it uses slice groups");
    const std::optional<SliceLayout> layout = readSliceHeader(rbsp, *start);
    if (!layout) return fail("its first picture's slice header is damaged");
    return layout;
}

// The slice with a new header: frame number `frameNum`, an IDR slice's fields when `idr`
// (an idr_pic_id, a marking that keeps nothing from before), else the marking operations
// `ops`. The slice data is kept bit for bit.
std::vector<uint8_t> rewrittenSlice(const std::vector<uint8_t>& rbsp, const SliceLayout& l, uint32_t frameNum, bool idr,
                                    const std::vector<Mmco>& ops) {
    const h264::SliceStart& s = l.start;
    BitWriter w;
    w.put(idr ? (rbsp[0] & 0x60) | kIdrSlice : rbsp[0], 8);
    w.copy(rbsp, 8, s.frameNumAt);
    w.put(frameNum, s.frameNumBits);
    w.copy(rbsp, s.frameNumAt + s.frameNumBits, s.afterFields);
    if (idr) w.ue(0);  // idr_pic_id
    w.copy(rbsp, s.afterFields, l.markingAt);
    if (idr) {
        w.put(0, 2);  // no_output_of_prior_pics_flag, long_term_reference_flag
    } else if (rbsp[0] & 0x60) {
        w.put(ops.empty() ? 0 : 1, 1);
        for (const Mmco& m : ops) {
            w.ue(m.op);
            if (m.op == 1 || m.op == 2 || m.op == 3 || m.op == 4 || m.op == 6) w.ue(m.a);
            if (m.op == 3) w.ue(m.b);
        }
        if (!ops.empty()) w.ue(0);
    }
    w.copy(rbsp, l.afterMarking, l.headerEnd);
    if (s.pps->cabac) {
        // CABAC slice data starts at a byte: the alignment bits change with the header's length.
        while (!w.aligned()) w.put(1, 1);
        w.copy(rbsp, (l.headerEnd + 7) / 8 * 8, int64_t(rbsp.size()) * 8);
        return w.bytes();
    }
    // CAVLC slice data follows the header at once, up to the stop bit.
    auto last = std::find_if(rbsp.rbegin(), rbsp.rend(), [](uint8_t b) { return b != 0; });
    if (last == rbsp.rend()) throw MediaError(QStringLiteral("An H.264 slice holds no data"));
    const int64_t lastByte = rbsp.rend() - last - 1;
    int64_t stopBit = lastByte * 8 + 7;
    while (!((rbsp[size_t(lastByte)] >> (7 - stopBit % 8)) & 1)) --stopBit;
    w.copy(rbsp, l.headerEnd, stopBit);
    w.put(1, 1);
    while (!w.aligned()) w.put(0, 1);
    return w.bytes();
}

// The recovery point SEI's frame count: how many frames after this picture the pictures are
// whole; 0 when the unit holds none.
uint32_t recoveryFrames(const uint8_t* unit, int size) {
    const std::vector<uint8_t> rbsp = h264::unescape(unit, size);
    for (size_t at = 1; at + 2 <= rbsp.size();) {
        uint32_t type = 0, length = 0;
        while (at < rbsp.size() && rbsp[at] == 0xff) type += rbsp[at++];
        if (at < rbsp.size()) type += rbsp[at++];
        while (at < rbsp.size() && rbsp[at] == 0xff) length += rbsp[at++];
        if (at < rbsp.size()) length += rbsp[at++];
        if (length > rbsp.size() - at) return 0;
        if (type == 6) {
            const std::vector<uint8_t> payload(rbsp.begin() + long(at), rbsp.begin() + long(at + length));
            BitReader r(payload);
            return r.ue();
        }
        at += length;
    }
    return 0;
}

void setBits(std::vector<uint8_t>& bytes, int64_t at, int count, uint32_t value) {
    for (int i = 0; i < count; ++i) {
        const int64_t bit = at + i;
        const uint8_t mask = uint8_t(0x80 >> (bit % 8));
        if ((value >> (count - 1 - i)) & 1)
            bytes[size_t(bit / 8)] |= mask;
        else
            bytes[size_t(bit / 8)] &= uint8_t(~mask);
    }
}

h264::ParameterSets headerSets(const AVCodecParameters* par) {
    h264::ParameterSets sets;
    for (const auto& unit : h264HeaderUnits(par->extradata, par->extradata_size))
        sets.learn(unit.data(), int(unit.size()));
    return sets;
}

}  // namespace

QString openGroupRefusal(const AVCodecParameters* par, const uint8_t* data, int size) {
    h264::ParameterSets sets = headerSets(par);
    bool slices = false;
    for (const auto& [unit, unitSize] : packetNalUnits(par, data, size)) {
        const int type = unit[0] & 0x1f;
        if (type == kSps || type == kPps) sets.learn(unit, unitSize);
        if (type == kIdrSlice) return {};
        if (type >= 2 && type <= 4) return QStringLiteral("it uses data partitions");
        if (type == kSei)
            if (const uint32_t frames = recoveryFrames(unit, unitSize))
                return QStringLiteral("its pictures are whole only %1 frames after it").arg(frames);
        if (type != kNonIdrSlice) continue;
        // The header lies in the slice's first bytes.
        QString why;
        if (!readISlice(h264::unescape(unit, std::min(unitSize, 512)), sets, &why)) return why;
        slices = true;
    }
    return slices ? QString() : QStringLiteral("it holds no picture");
}

OpenGroupStart::OpenGroupStart(const AVCodecParameters* par) : par_(par), sets_(headerSets(par)) {}

// A later slice with its frame number counted from the copy's first picture. Only the first
// bytes change: the rest is kept as it is, from a byte that neither is nor ends an escape.
// Marking operations that release pictures from before the copy's first picture (which the
// decoder never had) are left out, until the frame numbers wrap around.
std::vector<uint8_t> OpenGroupStart::renumbered(const uint8_t* unit, int size) {
    const std::vector<uint8_t> head = h264::unescape(unit, std::min(size, 256));
    const std::optional<h264::SliceStart> s = h264::readSliceStart(head, sets_);
    if (!s) throw MediaError(QStringLiteral("A copied H.264 picture refers to parameter sets the source lacks"));
    const uint32_t frameNum = (s->frameNum - *base_) & ((1u << s->frameNumBits) - 1);
    if (frameNum < lastFrameNum_) wrapped_ = true;
    lastFrameNum_ = frameNum;
    if (!wrapped_ && !s->field) {
        if (const std::optional<SliceLayout> layout = readSliceHeader(head, *s)) {
            std::vector<Mmco> kept;
            for (const Mmco& m : layout->ops)
                if (!((m.op == 1 || m.op == 3) && int64_t(frameNum) - int64_t(m.a) - 1 < 0)) kept.push_back(m);
            if (kept.size() != layout->ops.size()) {
                const std::vector<uint8_t> rbsp = h264::unescape(unit, size);
                return h264::escape(rewrittenSlice(rbsp, *readSliceHeader(rbsp, *s), frameNum, false, kept));
            }
        }
    }
    int cut = size;
    for (int i = 24; i < size; ++i)
        if (unit[i - 1] > 3) {
            cut = i;
            break;
        }
    std::vector<uint8_t> rbsp = h264::unescape(unit, cut);
    if (int64_t(rbsp.size()) * 8 < s->frameNumAt + s->frameNumBits) rbsp = h264::unescape(unit, cut = size);
    setBits(rbsp, s->frameNumAt, s->frameNumBits, frameNum);
    std::vector<uint8_t> out = h264::escape(rbsp);
    out.insert(out.end(), unit + cut, unit + size);
    return out;
}

void OpenGroupStart::rewrite(AVPacket* packet) {
    if (!first_ && !base_) return;  // past the source's next IDR picture nothing changes
    std::vector<uint8_t> out;
    bool changed = false;
    for (const auto& [unit, unitSize] : packetNalUnits(par_, packet->data, packet->size)) {
        const int type = unit[0] & 0x1f;
        if (type == kSps || type == kPps) sets_.learn(unit, unitSize);
        if (type == kIdrSlice) base_.reset();
        if (type != kNonIdrSlice || (!first_ && !base_)) {
            appendNalUnit(out, par_, unit, unitSize);
            continue;
        }
        std::vector<uint8_t> slice;
        if (first_) {
            const std::vector<uint8_t> rbsp = h264::unescape(unit, unitSize);
            QString why;
            const std::optional<SliceLayout> layout = readISlice(rbsp, sets_, &why);
            if (!layout) throw MediaError(QStringLiteral("A copy cannot start at this H.264 picture: %1").arg(why));
            if (!base_) base_ = layout->start.frameNum;
            slice = h264::escape(rewrittenSlice(rbsp, *layout, 0, true, {}));
        } else {
            slice = renumbered(unit, unitSize);
        }
        appendNalUnit(out, par_, slice.data(), int(slice.size()));
        changed = true;
    }
    first_ = false;
    if (!changed) return;
    ffmpeg::Packet joined = ffmpeg::makePacket();
    if (!joined || av_new_packet(joined.get(), int(out.size())) < 0) throw MediaError(QStringLiteral("Out of memory"));
    std::memcpy(joined->data, out.data(), out.size());
    av_packet_copy_props(joined.get(), packet);
    av_packet_unref(packet);
    av_packet_move_ref(packet, joined.get());
}
