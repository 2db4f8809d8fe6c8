#pragma once
// The H.264 and HEVC bitstream functions of the lossless cut on arbitrary bytes. The input:
//   byte 0     bit 0: the codec (H.264, HEVC); bits 1-2: the container header (extradata)
//              as given, made a config record (avcC or hvcC: first byte 1), made Annex B
//              (a start code before it), or none
//   bytes 1-2  the header's length (big-endian, at most what is left)
//   then       the header, then the packet (also taken as a piece's Annex B header)
// The checks read the bytes with this file's own small readers: packets split into the
// same units before and after toSourceForm, a header from withPieceParameterSets reads as a
// complete avcC holding the source's and the piece's parameter sets, and so on.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "engine/common/Bitstream.h"
#include "engine/common/FfmpegHandles.h"
#include "engine/common/H264OpenGroup.h"
#include "engine/common/MediaError.h"
#include "engine/common/PackedPictures.h"
#include "fuzz/targets/FuzzCheck.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/mem.h>
}

namespace fuzztargets {

using Units = std::vector<std::vector<uint8_t>>;

// NAL units behind start codes: from each 00 00 01 to the next, less trailing zero bytes.
inline Units annexBUnits(const std::vector<uint8_t>& bytes) {
    std::vector<size_t> starts;
    for (size_t i = 0; i + 3 <= bytes.size(); ++i)
        if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1) starts.push_back(i);
    Units units;
    for (size_t k = 0; k < starts.size(); ++k) {
        const size_t begin = starts[k] + 3;
        size_t end = k + 1 < starts.size() ? starts[k + 1] : bytes.size();
        while (end > begin && bytes[end - 1] == 0) --end;
        if (end > begin) units.emplace_back(bytes.begin() + long(begin), bytes.begin() + long(end));
    }
    return units;
}

// NAL units behind big-endian length fields of `lengthSize` bytes; exact is false when a
// length runs past the end or bytes too few for a length field are left over.
inline Units lengthUnits(const std::vector<uint8_t>& bytes, int lengthSize, bool* exact) {
    Units units;
    size_t at = 0;
    *exact = true;
    while (at < bytes.size()) {
        if (bytes.size() - at < size_t(lengthSize)) return *exact = false, units;
        uint64_t length = 0;
        for (int b = 0; b < lengthSize; ++b) length = length << 8 | bytes[at++];
        if (length > bytes.size() - at) return *exact = false, units;
        if (length > 0) units.emplace_back(bytes.begin() + long(at), bytes.begin() + long(at + length));
        at += length;
    }
    return units;
}

struct AvcRecord {
    Units sps, pps;
    size_t end = 0;
    bool complete = false;
};

inline AvcRecord readAvcRecord(const std::vector<uint8_t>& bytes) {
    AvcRecord record;
    size_t at = 5;
    for (Units* list : {&record.sps, &record.pps}) {
        if (at >= bytes.size()) return record;
        const size_t count = list == &record.sps ? bytes[at] & 0x1f : bytes[at];
        ++at;
        for (size_t i = 0; i < count; ++i) {
            if (bytes.size() - at < 2) return record;
            const size_t length = size_t(bytes[at]) << 8 | bytes[at + 1];
            if (bytes.size() - at - 2 < length) return record;
            list->emplace_back(bytes.begin() + long(at + 2), bytes.begin() + long(at + 2 + length));
            at += 2 + length;
        }
    }
    record.end = at;
    record.complete = true;
    return record;
}

// The units of an hvcC's arrays; complete is false when a count or a length runs past its end.
inline Units hvcRecordUnits(const std::vector<uint8_t>& bytes, bool* complete) {
    Units units;
    *complete = false;
    if (bytes.size() < 23) return units;
    size_t at = 23;
    for (int a = 0; a < bytes[22]; ++a) {
        if (bytes.size() - at < 3) return units;
        const size_t count = size_t(bytes[at + 1]) << 8 | bytes[at + 2];
        at += 3;
        for (size_t i = 0; i < count; ++i) {
            if (bytes.size() - at < 2) return units;
            const size_t length = size_t(bytes[at]) << 8 | bytes[at + 1];
            at += 2;
            if (bytes.size() - at < length) return units;
            if (length > 0) units.emplace_back(bytes.begin() + long(at), bytes.begin() + long(at + length));
            at += length;
        }
    }
    *complete = true;
    return units;
}

inline bool anyLongerThan(const Units& units, uint64_t limit) {
    for (const auto& unit : units)
        if (unit.size() > limit) return true;
    return false;
}

inline std::string hex(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < bytes.size() && i < 64; ++i) text += {digits[bytes[i] >> 4], digits[bytes[i] & 15]};
    return bytes.size() > 64 ? text + "..." : text;
}

inline void checkPieceParameterSets(const AVCodecParameters* par, const std::vector<uint8_t>& header,
                                    const std::vector<uint8_t>& piece) {
    const std::vector<uint8_t> out =
        withPieceParameterSets(par, piece.empty() ? nullptr : piece.data(), int(piece.size()));
    const AvcRecord source = readAvcRecord(header);
    AvcRecord want = source;
    for (const auto& unit : annexBUnits(piece))
        if ((unit[0] & 0x1f) == 7 || (unit[0] & 0x1f) == 8)
            ((unit[0] & 0x1f) == 7 ? want.sps : want.pps).push_back(unit);
    const bool fits = par->codec_id == AV_CODEC_ID_H264 && header.size() >= 7 && header[0] == 1 && source.complete &&
                      want.sps.size() <= 31 && want.pps.size() <= 255 && !anyLongerThan(want.sps, 0xffff) &&
                      !anyLongerThan(want.pps, 0xffff);
    const std::string where = "header " + hex(header) + " piece " + hex(piece) + " -> " + hex(out);
    FUZZ_CHECK(out.empty() != fits, where);
    if (out.empty() || !fits) return;
    const AvcRecord got = readAvcRecord(out);
    FUZZ_CHECK(got.complete && got.sps == want.sps && got.pps == want.pps, where);
    FUZZ_CHECK(std::equal(header.begin(), header.begin() + 5, out.begin()), where);
    FUZZ_CHECK(std::equal(header.begin() + long(source.end), header.end(), out.begin() + long(got.end), out.end()),
               where);
}

// A packet a copy may start at comes out of the rewrite holding an IDR picture and no other
// picture; the same bytes as a later packet keep their count of units.
inline void checkOpenGroupStart(const AVCodecParameters* par, const std::vector<uint8_t>& packet) {
    OpenGroupStart start(par);
    const std::string where = "open group start " + hex(packet);
    for (int pass = 0; pass < 2; ++pass) {
        ffmpeg::Packet p = ffmpeg::makePacket();
        if (!p || av_new_packet(p.get(), int(packet.size())) < 0) return;
        std::copy(packet.begin(), packet.end(), p->data);
        const size_t units = packetNalUnits(par, p->data, p->size).size();
        try {
            start.rewrite(p.get());
        } catch (const MediaError&) {
            return;  // a unit grown longer than the length fields can say, or unknown sets
        }
        bool idr = false, other = false;
        for (const auto& [unit, size] : packetNalUnits(par, p->data, p->size)) {
            idr = idr || (unit[0] & 0x1f) == 5;
            other = other || (unit[0] & 0x1f) == 1;
        }
        if (pass == 0) FUZZ_CHECK(idr && !other, where);
        FUZZ_CHECK(packetNalUnits(par, p->data, p->size).size() == units, where);
    }
}

inline void fuzzBitstream(const uint8_t* data, size_t size) {
    if (size < 3) return;
    const bool hevc = data[0] & 1;
    const int form = (data[0] >> 1) & 3;  // 0 as given, 1 config record, 2 Annex B, 3 none
    const size_t length = std::min<size_t>(size_t(data[1]) << 8 | data[2], size - 3);
    std::vector<uint8_t> header(data + 3, data + 3 + length);
    const std::vector<uint8_t> packet(data + 3 + length, data + size);
    if (form == 1 && !header.empty()) header[0] = 1;
    if (form == 2) header.insert(header.begin(), {0, 0, 0, 1});
    if (form == 3) header.clear();

    AVCodecParameters* par = avcodec_parameters_alloc();
    if (!par) return;
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = hevc ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264;
    if (!header.empty()) {
        par->extradata = static_cast<uint8_t*>(av_mallocz(header.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!par->extradata) return avcodec_parameters_free(&par);
        std::copy(header.begin(), header.end(), par->extradata);
        par->extradata_size = int(header.size());
    }
    const uint8_t* bytes = packet.empty() ? nullptr : packet.data();
    const int count = int(packet.size());

    // A config record's packets carry length fields of the size its header gives.
    const bool record = !header.empty() && header[0] == 1 && header.size() >= (hevc ? 23u : 7u);
    const int lengthSize = record ? (header[hevc ? 21 : 4] & 3) + 1 : 0;
    const uint64_t longest = record ? (uint64_t(1) << (8 * lengthSize)) - 1 : UINT64_MAX;
    bool exact = true;
    const Units units = record ? lengthUnits(packet, lengthSize, &exact) : annexBUnits(packet);
    const std::string where =
        std::string(hevc ? "HEVC" : "H.264") + " header " + hex(header) + " packet " + hex(packet);

    if (!hevc) (void)h264ParameterSetIds(par->extradata, par->extradata_size);

    bool idr = false, referenced = false, slices = false;
    for (const auto& unit : units) {
        const int type = unit[0] & 0x1f;
        idr = idr || type == 5;
        if (type == 1 || type == 5) slices = true, referenced = referenced || (unit[0] & 0x60);
    }
    const bool openGroupStart = !hevc && !idr && openGroupRefusal(par, bytes, count).isEmpty();
    FUZZ_CHECK(startsCleanly(par, bytes, count) == (hevc || idr || openGroupStart), where);
    if (openGroupStart) checkOpenGroupStart(par, packet);
    FUZZ_CHECK(unreferenced(par, bytes, count) == (!hevc && slices && !referenced), where);

    // An encoded packet (Annex B) in the source's form: the same units behind length fields.
    const Units encodedUnits = annexBUnits(packet);
    try {
        const std::vector<uint8_t> out = toSourceForm(par, bytes, count);
        if (record) {
            const Units again = lengthUnits(out, lengthSize, &exact);
            FUZZ_CHECK(exact && again == encodedUnits, where + " -> " + hex(out));
        } else {
            FUZZ_CHECK(out == packet, where + " -> " + hex(out));
        }
        FUZZ_CHECK(!anyLongerThan(encodedUnits, longest), where);
    } catch (const MediaError& error) {
        FUZZ_CHECK(record && anyLongerThan(encodedUnits, longest), where + ": " + error.what());
    }

    // The header in band: the units of HEVC's header in the packets' form, nothing for H.264.
    try {
        const std::vector<uint8_t> inBand = inBandHeader(par);
        bool complete = true;
        const Units headerUnits = !hevc ? Units() : record ? hvcRecordUnits(header, &complete) : annexBUnits(header);
        if (!complete) {
            FUZZ_CHECK(inBand.empty(), where + " -> " + hex(inBand));
        } else if (record) {
            FUZZ_CHECK(lengthUnits(inBand, lengthSize, &exact) == headerUnits && exact, where + " -> " + hex(inBand));
        } else {
            FUZZ_CHECK(annexBUnits(inBand) == headerUnits, where + " -> " + hex(inBand));
        }
    } catch (const MediaError& error) {
        bool complete = true;
        FUZZ_CHECK(record && hevc && anyLongerThan(hvcRecordUnits(header, &complete), longest),
                   where + ": " + error.what());
    }

    checkPieceParameterSets(par, header, packet);
    avcodec_parameters_free(&par);

    // MPEG-4 Part 2: one type for each picture start code followed by a byte, each 0..3.
    size_t starts = 0;
    for (size_t i = 0; i + 4 < packet.size(); ++i)
        starts += packet[i] == 0 && packet[i + 1] == 0 && packet[i + 2] == 1 && packet[i + 3] == 0xB6;
    const std::vector<int> types = mpeg4PictureTypes(bytes, count);
    FUZZ_CHECK(types.size() == starts, where);
    for (int type : types) FUZZ_CHECK(type >= 0 && type <= 3, where);
}

}  // namespace fuzztargets
