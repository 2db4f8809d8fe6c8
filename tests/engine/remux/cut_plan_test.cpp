#include <gtest/gtest.h>

#include <set>

#include "engine/remux/CutPlan.h"

namespace {

// Groups of six pictures with B-frames, in decode order. A closed group: I P B B P B,
// shown as I B B P B P. An open group: its keyframe comes after two leading B-frames in
// display order, which refer to the group before.
std::vector<IndexedPacket> groups(int count, bool open) {
    std::vector<IndexedPacket> packets;
    auto add = [&](int64_t pts, bool key = false) {
        IndexedPacket p;
        p.pts = pts;
        p.dts = int64_t(packets.size()) - 2;
        p.key = key;
        p.size = 100;
        packets.push_back(p);
    };
    for (int g = 0; g < count; ++g) {
        const int64_t s = 6 * g;
        if (open && g > 0) {
            for (int64_t pts : {s + 2, s + 0, s + 1, s + 5, s + 3, s + 4}) add(pts, pts == s + 2);
        } else {
            for (int64_t pts : {s + 0, s + 3, s + 1, s + 2, s + 5, s + 4}) add(pts, pts == s);
        }
    }
    return packets;
}

// The frames the plan's copied packets show, in order.
std::vector<int> copiedFrames(const PacketIndex& index, const CutPlan& plan) {
    std::set<int> frames;
    for (int p = 0; p < index.packetCount(); ++p)
        if (plan.copies(index, p)) frames.insert(index.frameOfPacket(p));
    return {frames.begin(), frames.end()};
}

std::vector<int> range(int first, int last) {
    std::vector<int> frames;
    for (int f = first; f <= last; ++f) frames.push_back(f);
    return frames;
}

TEST(CutPlan, ClosedGroupsCopyWholeGroupsAndEncodeTheEdges) {
    const PacketIndex index(groups(5, false), true, 1);  // frames 1..30, keyframes 1, 7, 13, 19, 25
    const CutPlan plan = planCut(index, 4, 22);
    EXPECT_EQ(plan.headFirst, 4);
    EXPECT_EQ(plan.headLast, 6);
    EXPECT_EQ(copiedFrames(index, plan), range(7, 18));
    EXPECT_EQ(plan.tailFirst, 19);
    EXPECT_EQ(plan.tailLast, 22);

    // Ranges on group boundaries and the whole file need no encoding; a range inside one group
    // is all encoded.
    EXPECT_FALSE(planCut(index, 7, 18).needsEncoding());
    EXPECT_FALSE(planCut(index, 1, 30).needsEncoding());
    EXPECT_EQ(copiedFrames(index, planCut(index, 25, 30)), range(25, 30));
    const CutPlan inside = planCut(index, 8, 11);
    EXPECT_FALSE(inside.hasCopy());
    EXPECT_EQ(inside.headFirst, 8);
    EXPECT_EQ(inside.headLast, 11);

    // A split needs no encoding where the second file starts a group.
    const CopyableEdges split = splitEdges(index, 10);
    EXPECT_EQ(std::vector<int32_t>({split.startBefore, split.startAfter, split.endBefore, split.endAfter}),
              std::vector<int32_t>({7, 13, 6, 12}));
}

TEST(CutPlan, OpenGroupsLeaveLeadingPicturesToTheEncodedEdges) {
    const PacketIndex index(groups(5, true), true, 1);  // keyframes show frames 1, 9, 15, 21, 27
    const CutPlan plan = planCut(index, 4, 26);
    // The copy starts at the keyframe showing 9; frames 7 and 8 lead it and refer to the
    // group before: the head encodes them.
    EXPECT_EQ(plan.headLast, 8);
    // It ends before the keyframe showing 27, whose leading frames 25 and 26 come after it
    // in decode order: the tail encodes them.
    EXPECT_EQ(copiedFrames(index, plan), range(9, 24));
    EXPECT_EQ(plan.tailFirst, 25);
    EXPECT_EQ(plan.tailLast, 26);

    // No split is free of encoding: the frames before each keyframe belong to its group.
    EXPECT_EQ(splitEdges(index, 10).startBefore + splitEdges(index, 10).startAfter, 0);

    const CopyableEdges edges = copyableEdges(index, 4, 26);
    EXPECT_EQ(edges.startBefore, 1);
    EXPECT_EQ(edges.startAfter, 9);
    EXPECT_EQ(edges.endBefore, 24);
    EXPECT_EQ(edges.endAfter, 30);
}

TEST(CutPlan, CopyStartsOnlyWhereDecodingStartsCleanly) {
    std::vector<IndexedPacket> packets = groups(5, false);
    const int secondKey = PacketIndex(packets, true, 1).packetOfFrame(7);
    packets[secondKey].cleanStart = false;
    const PacketIndex index(std::move(packets), true, 1);
    const CutPlan plan = planCut(index, 4, 30);
    EXPECT_EQ(plan.headLast, 12);
    EXPECT_EQ(copiedFrames(index, plan), range(13, 30));
    EXPECT_EQ(copyableEdges(index, 4, 30).startAfter, 13);
}

TEST(CutPlan, IntraOnlyStreamsCopyEveryFrame) {
    std::vector<IndexedPacket> packets(20);
    for (int i = 0; i < 20; ++i) {
        packets[i].pts = packets[i].dts = i;
        packets[i].key = true;
        packets[i].size = 100;
    }
    const PacketIndex index(std::move(packets), false, 1);
    const CutPlan plan = planCut(index, 3, 17);
    EXPECT_FALSE(plan.needsEncoding());
    EXPECT_EQ(copiedFrames(index, plan), range(3, 17));
}

}  // namespace
