#include "engine/remux/CutPlan.h"

#include <algorithm>
#include <vector>

namespace {

std::vector<int> keyPackets(const PacketIndex& index) {
    std::vector<int> keys;
    for (int p = 0; p < index.packetCount(); ++p)
        if (index.isKeyPacket(p) && index.frameOfPacket(p) > 0) keys.push_back(p);
    return keys;
}

// The frames shown by the packets from a keyframe onward, leaving out the keyframe's leading
// pictures, taken group by group. The copy may end where they form one unbroken run.
class CopiedRun {
public:
    CopiedRun(const PacketIndex& index, int begin, int32_t last)
        : index_(index), start_(index.frameOfPacket(begin)), highest_(start_), last_(last), next_(begin) {}

    // Takes packets up to `end`; false once the packets taken can no longer be copied: a
    // frame past the range, or a packet that shows nothing (decoded only as a reference, so
    // what shows it cannot be kept apart from what does not).
    bool extendTo(int end) {
        for (; next_ < end && !broken_; ++next_) {
            const int32_t frame = index_.frameOfPacket(next_);
            if (frame == 0 || frame > last_) broken_ = true;
            if (frame < start_) continue;
            highest_ = std::max(highest_, frame);
            ++count_;
        }
        return !broken_;
    }
    bool unbroken() const { return !broken_ && count_ == highest_ - start_ + 1; }
    int32_t start() const { return start_; }
    int32_t highest() const { return highest_; }

private:
    const PacketIndex& index_;
    const int32_t start_;
    int32_t highest_, count_ = 0;
    const int32_t last_;
    int next_;
    bool broken_ = false;
};

}  // namespace

CutPlan planCut(const PacketIndex& index, int32_t first, int32_t last) {
    CutPlan plan;
    plan.first = plan.headFirst = first;
    plan.last = plan.headLast = last;
    const std::vector<int> keys = keyPackets(index);
    // The copy starts at the first keyframe (in decode order) shown at or after `first`.
    auto begin = std::find_if(keys.begin(), keys.end(), [&](int p) {
        return index.frameOfPacket(p) > last || (index.frameOfPacket(p) >= first && index.isCleanStart(p));
    });
    if (begin == keys.end() || index.frameOfPacket(*begin) > last) return plan;
    // It ends at the latest keyframe (or the stream's end) that leaves it an unbroken run
    // within the range.
    CopiedRun run(index, *begin, last);
    int bestEnd = -1;
    int32_t bestLast = 0;
    for (auto end = std::next(begin);; ++end) {
        const int endPacket = end == keys.end() ? index.packetCount() : *end;
        if (!run.extendTo(endPacket)) break;
        if (run.unbroken()) {
            bestEnd = endPacket;
            bestLast = run.highest();
        }
        if (end == keys.end()) break;
    }
    if (bestEnd < 0) return plan;
    plan.copyBegin = *begin;
    plan.copyEnd = bestEnd;
    plan.copyFirst = run.start();
    plan.copyLast = bestLast;
    plan.headLast = plan.copyFirst - 1;
    plan.tailFirst = plan.copyLast + 1;
    plan.tailLast = last;
    return plan;
}

namespace {

// Where a copy may start (a keyframe where decoding starts cleanly) and end (just before the
// first frame shown by a group that starts at such a keyframe, or at the last frame).
void copyPoints(const PacketIndex& index, std::vector<int32_t>* starts, std::vector<int32_t>* ends) {
    ends->push_back(index.frameCount());
    const std::vector<int> keys = keyPackets(index);
    for (size_t k = 0; k < keys.size(); ++k) {
        if (!index.isCleanStart(keys[k])) continue;
        starts->push_back(index.frameOfPacket(keys[k]));
        const int groupEnd = k + 1 < keys.size() ? keys[k + 1] : index.packetCount();
        int32_t earliest = INT32_MAX;
        for (int p = keys[k]; p < groupEnd; ++p)
            if (index.frameOfPacket(p) > 0) earliest = std::min(earliest, index.frameOfPacket(p));
        if (earliest > 1 && earliest != INT32_MAX) ends->push_back(earliest - 1);
    }
}

void nearest(const std::vector<int32_t>& frames, int32_t at, int32_t* before, int32_t* after) {
    for (int32_t f : frames) {
        if (f <= at && f > *before) *before = f;
        if (f >= at && (*after == 0 || f < *after)) *after = f;
    }
}

}  // namespace

CopyableEdges copyableEdges(const PacketIndex& index, int32_t first, int32_t last) {
    std::vector<int32_t> starts, ends;
    copyPoints(index, &starts, &ends);
    CopyableEdges edges;
    nearest(starts, first, &edges.startBefore, &edges.startAfter);
    nearest(ends, last, &edges.endBefore, &edges.endAfter);
    return edges;
}

CopyableEdges splitEdges(const PacketIndex& index, int32_t frame) {
    std::vector<int32_t> starts, ends, splits;
    copyPoints(index, &starts, &ends);
    for (const int32_t s : starts)
        if (s > 1 && std::find(ends.begin(), ends.end(), s - 1) != ends.end()) splits.push_back(s);
    CopyableEdges edges;
    nearest(splits, frame, &edges.startBefore, &edges.startAfter);
    edges.endBefore = std::max(0, edges.startBefore - 1);
    edges.endAfter = std::max(0, edges.startAfter - 1);
    return edges;
}

int32_t unusableKeyframe(const PacketIndex& index, int32_t from, int32_t to) {
    int32_t found = 0;
    for (int p = 0; p < index.packetCount(); ++p) {
        const int32_t frame = index.frameOfPacket(p);
        if (index.isKeyPacket(p) && !index.isCleanStart(p) && frame >= from && frame <= to && (!found || frame < found))
            found = frame;
    }
    return found;
}
