#pragma once
// Which frames of a range are copied as packets and which are encoded again, decided from
// the packet index alone.
#include <cstdint>

#include "engine/reader/PacketIndex.h"

// Frames nearest to a range where a cut needs no encoding: it may start at startBefore or
// startAfter and end at endBefore or endAfter (0 where there is no such frame).
struct CopyableEdges {
    int32_t startBefore = 0, startAfter = 0;
    int32_t endBefore = 0, endAfter = 0;
};

// A range first..last split into three pieces, each possibly empty: frames encoded before
// the copy (the head), packets copied unchanged, frames encoded after the copy (the tail).
//
// The copy starts at a keyframe packet and ends before one, in decode order. Leading
// pictures of its first keyframe (shown before it, decoded after it: they refer to frames
// before the keyframe) are left out of the copy; they belong to the head. Pictures shown
// before the keyframe that ends the copy are decoded after it, so they are not in the copy
// either; they belong to the tail.
struct CutPlan {
    int32_t first = 0, last = 0;
    int32_t headFirst = 0, headLast = -1;  // frames encoded before the copy
    int copyBegin = 0, copyEnd = 0;        // packets [copyBegin, copyEnd) in decode order
    int32_t copyFirst = 0, copyLast = -1;  // the frames the copied packets show
    int32_t tailFirst = 0, tailLast = -1;  // frames encoded after the copy

    bool hasHead() const { return headLast >= headFirst; }
    bool hasCopy() const { return copyEnd > copyBegin; }
    bool hasTail() const { return tailLast >= tailFirst; }
    bool needsEncoding() const { return hasHead() || hasTail(); }
    // True when packet p of the copy goes to the output (leading pictures of the copy's
    // first keyframe do not).
    bool copies(const PacketIndex& index, int p) const {
        const int frame = index.frameOfPacket(p);
        return p >= copyBegin && p < copyEnd && frame >= copyFirst && frame <= copyLast;
    }
};

// The plan for frames first..last (1-based, first <= last) of the indexed stream. The copy
// starts only at a keyframe packet where decoding starts cleanly.
CutPlan planCut(const PacketIndex& index, int32_t first, int32_t last);

// The frames nearest first and last where a cut needs no encoding.
CopyableEdges copyableEdges(const PacketIndex& index, int32_t first, int32_t last);
// The frames nearest `frame` where a split needs no encoding: the second file may start at
// startBefore or startAfter, the first then ends at endBefore or endAfter, the frame before.
CopyableEdges splitEdges(const PacketIndex& index, int32_t frame);

// The first frame from `from` to `to` shown by a keyframe where a copy cannot start; 0 when
// there is none.
int32_t unusableKeyframe(const PacketIndex& index, int32_t from, int32_t to);
