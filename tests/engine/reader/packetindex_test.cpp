#include <gtest/gtest.h>

#include "engine/reader/FrameCache.h"
#include "engine/reader/PacketIndex.h"

namespace {

constexpr int64_t kNone = IndexedPacket::kNoTime;

IndexedPacket packet(int64_t pts, int64_t dts, bool key = false, int64_t pos = -1) {
    IndexedPacket p;
    p.pts = pts;
    p.dts = dts;
    p.key = key;
    p.pos = pos;
    p.size = 100;
    return p;
}

std::vector<int> framesOfPackets(const PacketIndex& index) {
    std::vector<int> frames;
    for (int i = 0; i < index.packetCount(); ++i) frames.push_back(index.frameOfPacket(i));
    return frames;
}

TEST(PacketIndex, AviStyleReorderingWithoutTimesForReferencePictures) {
    // Decode order I P B B P B B; B-frames carry pts == dts, I and P carry none (AVI).
    const PacketIndex index({packet(kNone, 0, true), packet(kNone, 1), packet(2, 2), packet(3, 3), packet(kNone, 4),
                             packet(5, 5), packet(6, 6)},
                            true, 1);
    EXPECT_EQ(framesOfPackets(index), (std::vector<int>{1, 4, 2, 3, 7, 5, 6}));
    EXPECT_EQ(index.frameTime(1), 1);  // the I-frame shows when the next reference is decoded
    EXPECT_EQ(index.frameTime(4), 4);
    EXPECT_EQ(index.frameTime(7), 7);  // the last reference: after everything else
    EXPECT_EQ(index.endTime(), 8);
}

TEST(PacketIndex, ProgramStreamStyleTimesAreCompleted) {
    // The first I-frame has its own pts (later than its dts); later P-frames have none.
    const PacketIndex index({packet(4, 3, true), packet(kNone, 4), packet(5, 5), packet(6, 6), packet(kNone, 7),
                             packet(8, 8), packet(9, 9), packet(13, 10, true), packet(11, 11), packet(12, 12)},
                            true, 1);
    EXPECT_EQ(framesOfPackets(index), (std::vector<int>{1, 4, 2, 3, 7, 5, 6, 10, 8, 9}));
    for (int f = 1; f <= index.frameCount(); ++f) EXPECT_EQ(index.frameTime(f), f + 3) << "frame " << f;
}

TEST(PacketIndex, DisplayRanksOrderStreamsWithoutPresentationTimes) {
    // H.264 in AVI: decode times only, ranks from the picture order count.
    std::vector<IndexedPacket> packets;
    const int64_t ranks[] = {0, 8, 4, 2, 6, (int64_t(1) << 32) + 0, (int64_t(1) << 32) + 4, (int64_t(1) << 32) + 2};
    for (int i = 0; i < 8; ++i) {
        packets.push_back(packet(kNone, 10 + i, i == 0 || i == 5));
        packets.back().order = ranks[i];
    }
    const PacketIndex index(packets, true, 1);
    EXPECT_EQ(framesOfPackets(index), (std::vector<int>{1, 5, 3, 2, 4, 6, 8, 7}));
    EXPECT_EQ(index.frameTime(1), 10);  // decode times handed out in display order
    EXPECT_EQ(index.frameTime(8), 17);
    EXPECT_FALSE(index.timesFromOrder());

    for (auto& p : packets) p.dts = kNone;  // a raw stream: no times at all
    const PacketIndex raw(packets, true, 1);
    EXPECT_EQ(framesOfPackets(raw), framesOfPackets(index));
    EXPECT_TRUE(raw.timesFromOrder());
    EXPECT_EQ(raw.frameTime(5), 4);
}

TEST(PacketIndex, WithoutAnyTimestampsThePacketOrderCounts) {
    const PacketIndex index({packet(kNone, kNone, true), packet(kNone, kNone), packet(kNone, kNone)}, false, 0);
    EXPECT_EQ(framesOfPackets(index), (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(index.timesFromOrder());
}

TEST(PacketIndex, LeadingPicturesOfAnOpenGopStartAtTheKeyframeBefore) {
    // Frames at times 0..9. Keyframe at packet 5 (time 8) is followed by leading B-frames
    // 5, 6, 7 that show before it and refer to the GOP before.
    const PacketIndex index({packet(0, -1, true), packet(4, 0), packet(1, 1), packet(2, 2), packet(3, 3),
                             packet(8, 4, true), packet(5, 5), packet(6, 6), packet(7, 7), packet(9, 8)},
                            true, 1);
    const auto frameAtTime = [&](int t) { return index.frameShowingAt(t); };
    EXPECT_EQ(index.startPacketFor(frameAtTime(0)), 0);
    EXPECT_EQ(index.startPacketFor(frameAtTime(3)), 0);
    EXPECT_EQ(index.startPacketFor(frameAtTime(6)), 0);  // leading picture: the GOP before
    EXPECT_EQ(index.startPacketFor(frameAtTime(8)), 5);  // the keyframe itself
    EXPECT_EQ(index.startPacketFor(frameAtTime(9)), 5);
    EXPECT_TRUE(index.decodableFrom(frameAtTime(9), 5));
    EXPECT_FALSE(index.decodableFrom(frameAtTime(6), 5));
    EXPECT_EQ(index.keyframeCount(), 2);
}

TEST(PacketIndex, DiscardedPacketsAreDecodedButNotFrames) {
    // An edit list that starts after the keyframe: the first two packets only feed the decoder.
    std::vector<IndexedPacket> packets{packet(0, 0, true), packet(1, 1), packet(2, 2), packet(3, 3)};
    packets[0].discard = packets[1].discard = true;
    const PacketIndex index(packets, false, 1);
    EXPECT_EQ(index.frameCount(), 2);
    EXPECT_EQ(index.packetOfFrame(1), 2);
    EXPECT_EQ(index.startPacketFor(1), 0);
    EXPECT_EQ(index.firstTime(), 2);
}

TEST(PacketIndex, FrameShowingAtATime) {
    const PacketIndex index({packet(100, 100, true), packet(140, 140), packet(180, 180)}, false, 40);
    EXPECT_EQ(index.frameShowingAt(0), 1);  // before the first frame
    EXPECT_EQ(index.frameShowingAt(100), 1);
    EXPECT_EQ(index.frameShowingAt(139), 1);
    EXPECT_EQ(index.frameShowingAt(140), 2);
    EXPECT_EQ(index.frameShowingAt(10000), 3);
    EXPECT_EQ(index.endTime(), 220);  // the last frame lasts as long as the one before
}

TEST(PacketIndex, LocateUsesOnlyKeysThatIdentifyOnePacket) {
    const PacketIndex index({packet(10, 10, true, 1000), packet(20, 20, false, 2000), packet(20, 30, false, -1),
                             packet(kNone, 40, false, -1)},
                            false, 10);
    EXPECT_EQ(index.locate(2000, kNone, kNone), 1);
    EXPECT_EQ(index.locate(-1, 10, kNone), 0);
    EXPECT_EQ(index.locate(-1, 20, kNone), std::nullopt);  // two packets have pts 20
    EXPECT_EQ(index.locate(-1, 20, 30), 2);                // the decode time settles it
    EXPECT_EQ(index.locate(-1, kNone, 40), 3);
    EXPECT_EQ(index.locate(5555, kNone, kNone), std::nullopt);
    EXPECT_EQ(index.locate(5555, 10, kNone), 0);  // an unknown position falls back to the times
}

ffmpeg::Frame smallFrame() {
    ffmpeg::Frame frame = ffmpeg::makeFrame();
    frame->width = 16;
    frame->height = 16;
    frame->format = AV_PIX_FMT_GRAY8;
    av_frame_get_buffer(frame.get(), 0);
    return frame;
}

TEST(PacketIndex, HoldsAtMost64BytesAPacketAndKeepsWhatItWasGiven) {
    // A two-hour source has about 180,000 packets: a GOP of 50 with B-frames, positions known.
    std::vector<IndexedPacket> packets;
    for (int i = 0; i < 180000; ++i) {
        packets.push_back(packet(i % 3 == 1 ? i + 1 : i, i, i % 50 == 0, int64_t(i) * 20000));
        packets.back().duration = 1;
        packets.back().size = 20000 + i % 7;
    }
    const PacketIndex index(packets, true, 1);
    EXPECT_LE(index.memoryBytes(), 64 * int64_t(packets.size()));
    const IndexedPacket p = index.packet(12345);
    EXPECT_EQ(p.pts, packets[12345].pts);
    EXPECT_EQ(p.pos, packets[12345].pos);
    EXPECT_EQ(p.size, packets[12345].size);
    EXPECT_EQ(index.packet(100).key, true);
    EXPECT_EQ(index.locate(-1, kNone, 179999), 179999);
    EXPECT_EQ(index.startPacketFor(index.frameOfPacket(179999)), 179950);
}

TEST(FrameCache, StaysWithinItsBudgetKeepingTheFramesBeforeTheWantedOne) {
    const ffmpeg::Frame frame = smallFrame();
    const int64_t each = frameBytes(frame.get());
    FrameCache cache(4 * each);
    for (int n = 10; n <= 20; ++n) cache.put(n, frame.get(), 15);
    EXPECT_LE(cache.bytes(), 4 * each);
    EXPECT_EQ(cache.size(), 4);
    // Frames after 15 went first, then the oldest: 12..15 remain.
    for (int n = 12; n <= 15; ++n) EXPECT_TRUE(cache.find(n)) << n;
    EXPECT_FALSE(cache.find(16));
    EXPECT_FALSE(cache.find(11));

    int found = 0;
    EXPECT_TRUE(cache.nearest(30, &found));
    EXPECT_EQ(found, 15);

    cache.setByteLimit(0);
    cache.put(3, frame.get(), 3);  // over budget: everything but the wanted frame goes
    EXPECT_EQ(cache.size(), 1);
    EXPECT_TRUE(cache.find(3));
    cache.clear();
    EXPECT_EQ(cache.bytes(), 0);
}

}  // namespace
