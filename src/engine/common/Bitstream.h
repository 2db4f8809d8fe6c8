#pragma once
// H.264 and HEVC bitstreams as the lossless cut meets them: NAL units behind start codes
// (Annex B) or behind length fields (whose size the container's header, avcC or hvcC,
// gives), parameter sets and the container's header. The bytes come from the source file:
// every function takes any bytes, reading none outside the sizes it is given.
#include <cstdint>
#include <set>
#include <utility>
#include <vector>

extern "C" {
#include <libavcodec/codec_par.h>
}

// The NAL units of a packet in the source's form (start codes, or length fields of the size
// the container's header gives), each as (first byte, size).
std::vector<std::pair<const uint8_t*, int>> packetNalUnits(const AVCodecParameters* par, const uint8_t* data, int size);
// Appends one NAL unit in the source's packet form. Throws MediaError when it is longer than
// the source's length fields can say.
void appendNalUnit(std::vector<uint8_t>& out, const AVCodecParameters* par, const uint8_t* unit, int size);

// The parameter sets (SPS, then PPS) an H.264 stream's header holds, as an avcC or in Annex B.
std::vector<std::vector<uint8_t>> h264HeaderUnits(const uint8_t* extradata, int size);

// The buffer model (rate and buffer size, in bits) that the first SPS of an H.264 stream's
// header declares in its HRD; zeros when it declares none.
std::pair<int64_t, int64_t> h264DeclaredBufferModel(const uint8_t* extradata, int size);

// The parameter set (SPS and PPS) identifiers an H.264 stream's header uses.
std::set<int> h264ParameterSetIds(const uint8_t* extradata, int size);

// An H.264 container header (avcC) that holds the pieces' parameter sets, given in Annex B
// form, besides the source's, so a decoder that reads the header knows both; empty when the
// header is not an avcC or cannot take them.
std::vector<uint8_t> withPieceParameterSets(const AVCodecParameters* par, const uint8_t* pieceHeader, int size);

// The source's header (its parameter sets or sequence headers) in the form its packets carry
// in band, for putting before the first copied keyframe when the pieces encoded before it
// replaced what a decoder holds; empty when the codec does not need it, the header holds
// nothing or runs past its end. Throws MediaError when a unit is longer than the packets'
// length fields can say.
std::vector<uint8_t> inBandHeader(const AVCodecParameters* par);

// False for codecs whose container key flags say nothing: an H.261 stream has no picture
// types, and writers flag every picture as a keyframe, though most refer to the one before.
// Only the stream's first picture then counts as a keyframe.
bool keyFlagsHold(AVCodecID codec);

// True when a copy can start at this keyframe packet of the stream. An H.264 keyframe that
// is not an IDR picture (an open group of pictures) is such a start only when OpenGroupStart
// can make it one (openGroupRefusal says why not otherwise).
bool startsCleanly(const AVCodecParameters* par, const uint8_t* data, int size);

// True when no other picture refers to the picture in this packet (an H.264 picture whose
// slices all have nal_ref_idc 0), so decoding may leave it out when it is not wanted.
bool unreferenced(const AVCodecParameters* par, const uint8_t* data, int size);

// An encoded packet's bytes in the form the source's packets have: H.264 and HEVC in a
// container that stores NAL units with length fields get them instead of start codes.
// Throws MediaError when a unit is longer than the source's length fields can say (fields
// of 1 or 2 bytes).
std::vector<uint8_t> toSourceForm(const AVCodecParameters* par, const uint8_t* data, int size);
