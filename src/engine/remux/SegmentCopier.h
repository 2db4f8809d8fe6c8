#pragma once
// Copies the video packets of a cut plan's copy unchanged into the output session, a bounded
// number per pass.
#include <cstdint>
#include <optional>
#include <vector>

#include "engine/common/FfmpegHandles.h"
#include "engine/common/H264OpenGroup.h"
#include "engine/reader/PacketCursor.h"
#include "engine/remux/CutPlan.h"
#include "engine/remux/OutputSession.h"

class SegmentCopier {
public:
    // headerBefore: bytes put before the copy's first packet (the source's stream headers, when
    // pieces encoded before it carried their own). Throws MediaError when the copy's first packet
    // cannot be found.
    SegmentCopier(PacketCursor& cursor, OutputSession& session, const CutPlan& plan, std::vector<uint8_t> headerBefore);
    // Copies the next packets; false once the copy is complete.
    bool step();
    int64_t packetsCopied() const { return copied_; }
    int32_t currentFrame() const { return current_; }

private:
    PacketCursor& cursor_;
    OutputSession& session_;
    const CutPlan plan_;
    std::vector<uint8_t> headerBefore_;
    std::optional<OpenGroupStart> openGroup_;  // H.264: a copy that starts in an open group
    ffmpeg::Packet packet_ = ffmpeg::makePacket();
    int64_t copied_ = 0;
    int32_t current_ = 0;
};
