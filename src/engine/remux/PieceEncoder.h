#pragma once
// Decodes the frames next to a cut point and encodes them again with the source's codec, so
// that they join the copied packets, one frame per pass.
#include <cstdint>
#include <functional>
#include <set>
#include <vector>

#include "engine/common/FfmpegHandles.h"
#include "engine/reader/PacketCursor.h"
#include "engine/remux/EdgeEncoder.h"
#include "engine/remux/OutputSession.h"

// What every piece of one source shares: how it is encoded.
struct PieceStyle {
    AVRational frameRate{25, 1};
    int64_t sourceBitRate = 0;          // bits per second, 0 when unknown
    std::set<int> usedParameterSetIds;  // the source's H.264 SPS/PPS ids, which the pieces avoid

    static PieceStyle of(const OpenedSource& source);
};

// Where a piece's packets go, in decode order, with their presentation and decode times
// (video time base).
using PieceSink = std::function<void(AVPacket* packet, StreamTicks pts, StreamTicks dts)>;

class PieceEncoder {
public:
    // Frames first..last of the source. decodeLead: how far decode times run ahead of
    // presentation (video time base), so that a copy that follows still decodes after the piece.
    // threads: for the encoder, 0 for as many as it chooses (the decoder then takes two).
    // Throws MediaError.
    PieceEncoder(PacketCursor& cursor, PieceSink sink, const PieceStyle& style, int32_t first, int32_t last,
                 StreamTicks decodeLead, int threads = 0);
    // Decodes and encodes the next frame; false once the piece is written (the encoder drained).
    bool step();
    // Ends the piece early (a cancel): the frames the encoder still holds are written.
    void finish();
    int64_t packetsEncoded() const { return encoded_; }
    int32_t currentFrame() const { return current_; }

private:
    bool readPacket();
    void encode(const AVFrame* frame, int32_t number);
    void drain();

    PacketCursor& cursor_;
    PieceSink sink_;
    const PieceStyle& style_;
    const AVStream* video_;
    int32_t first_, last_;
    StreamTicks decodeLead_;
    RateCap rateCap_;
    int threads_;
    int lastPacket_;  // the piece's last packet in file order: the decoder needs none after it
    ffmpeg::Codec decoder_, encoder_;
    ffmpeg::Frame frame_ = ffmpeg::makeFrame();
    ffmpeg::Packet packet_ = ffmpeg::makePacket(), out_ = ffmpeg::makePacket();
    bool sentEnd_ = false, done_ = false;
    int64_t encoded_ = 0;
    int32_t current_ = 0;
};

// The container header for a file whose H.264 pieces carry parameter sets of their own: the
// source's avcC with the pieces' added; empty when the source's header serves as it is.
std::vector<uint8_t> headerWithPieceParameterSets(const OpenedSource& source, const PieceStyle& style);
