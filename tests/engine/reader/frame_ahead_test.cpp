// Playback's decoding ahead: frames in order as they show, and the two ways it catches up
// when it falls behind (pictures nothing refers to, then whole frames up to a key frame).
#include <gtest/gtest.h>
#include <QThread>

#include "engine/reader/FfmpegReader.h"
#include "engine/reader/FrameAhead.h"
#include "engine/reader/OpenedSource.h"
#include "engine/reader/VideoTrack.h"
#include "support/Clips.h"

#include <algorithm>
#include <functional>

namespace {

// The frames the reader gives from where it stands to the end: each one's number and the
// number its picture shows.
std::vector<std::pair<int, int>> readToTheEnd(FfmpegReader& reader) {
    std::vector<std::pair<int, int>> frames;
    while (reader.CurrentFrame() < reader.FrameCount()) {
        const int shown = clips::frameNumberOf(reader.ReadVideoFrame());
        frames.emplace_back(reader.CurrentFrame(), shown);
    }
    return frames;
}

TEST(FrameAhead, PlayingInOrderGivesEveryFrameAndStartsAfreshAfterAJumpBack) {
    for (const char* name : {"mp4_h264_aac", "long_mpeg4"}) {
        SCOPED_TRACE(name);
        const clips::Clip clip = clips::get(name);
        FfmpegReader reader;
        reader.OpenFile(clip.path);
        reader.SeekFrame(clip.frames / 3);
        reader.SetDecodeAhead(true);
        for (int i = 0; i < 5; ++i) reader.ReadVideoFrame();
        reader.SeekFrame(2);  // back, behind what is decoded ahead
        const auto frames = readToTheEnd(reader);
        ASSERT_EQ(int(frames.size()), clip.frames - 1);
        for (size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(frames[i].first, int(i) + 2);
            EXPECT_EQ(frames[i].second, frames[i].first);
        }
    }
}

// Playing from the frame on show goes on with the decoder that decoded it: the frames after it
// come without a second run-up from the key frame, and after Stop the window reads on with it.
TEST(FrameAhead, PlayingGoesOnWithTheDecoderThatStandsAtTheFrameOnShow) {
    const clips::Clip clip = clips::get("long_mpeg4");  // a key frame every 50 frames
    FfmpegReader reader;
    reader.OpenFile(clip.path);
    reader.SeekFrame(140);
    reader.ReadVideoFrame();
    const FfmpegReader::Stats shown = reader.stats();
    reader.SetDecodeAhead(true);
    for (int n = 141; n <= 145; ++n) EXPECT_EQ(clips::frameNumberOf(reader.ReadVideoFrame()), n);
    for (int waited = 0; !reader.NextFrameReady() && waited < 10000; ++waited) QThread::msleep(1);
    reader.SetDecodeAhead(false);
    const FfmpegReader::Stats played = reader.stats();
    EXPECT_EQ(played.decoderRestarts, shown.decoderRestarts);
    EXPECT_GE(played.framesDecoded - shown.framesDecoded, 6);
    EXPECT_LE(played.framesDecoded - shown.framesDecoded, 5 + int(FrameAhead::kDepth) + 3);
    // The frame decoded ahead and not yet shown is the window's now: nothing is decoded again.
    EXPECT_EQ(clips::frameNumberOf(reader.ReadVideoFrame()), 146);
    EXPECT_EQ(reader.stats().framesDecoded, played.framesDecoded);
}

TEST(FrameAhead, CatchingUpTable) {
    const double p = 40;
    const struct {
        int behind;
        double decodeMs;
        CatchUp expected;
    } cases[] = {
        {0, 100, CatchUp::None},                  // on time, however slow
        {17, 0.5, CatchUp::None},                 // a jump of the clock, caught up at once
        {2, 20, CatchUp::None},                   // 80 ms to catch up: two frames' time
        {10, 30, CatchUp::LeaveOutUnreferenced},  // 1.2 s, but only a little behind
        {13, 30, CatchUp::GoToNextKeyFrame},      // 1.56 s, far behind
        {13, 10, CatchUp::LeaveOutUnreferenced},  // 173 ms
        {5, 45, CatchUp::LeaveOutUnreferenced},   // slower than the picture, a little behind
        {FrameAhead::kBehindFrames + 1, 45, CatchUp::GoToNextKeyFrame},
    };
    for (const auto& c : cases)
        EXPECT_EQ(catchUpFor(c.behind, c.decodeMs, p), c.expected) << c.behind << " behind, " << c.decodeMs << " ms";
}

TEST(FrameAhead, TheNextGroupStartsAtTheNextKeyFrame) {
    const clips::Clip clip = clips::get("long_mpeg4");  // a key frame every 50 frames, B-frames
    const auto source = OpenedSource::open(clip.path);
    const PacketIndex& index = source->index();
    int key = 121;
    while (!index.isKeyPacket(index.packetOfFrame(key))) ++key;
    EXPECT_EQ(nextGroupStart(index, 120), key);
    EXPECT_EQ(nextGroupStart(index, key - 1), key);
    EXPECT_GT(nextGroupStart(index, key), key + 1);
    EXPECT_EQ(nextGroupStart(index, clip.frames), 0);
}

// Starting between key frames, the run-up leaves out the pictures nothing refers to, and
// the frame asked for still comes, whole.
TEST(VideoTrack, ARunUpLeavesOutWhatNothingRefersTo) {
    const clips::Clip clip = clips::get("long_mpeg4");  // I/P frames with two B-frames between
    const auto source = OpenedSource::open(clip.path);
    for (const int n : {41, 42, 43}) {  // two B-frames and a P-frame, 40 frames after the key frame
        VideoTrack track(source, 0);
        int number = 0;
        const AVFrame* frame = track.frameFrom(n, &number);
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(number, n);
        EXPECT_EQ(clips::frameNumberOf(packFrame(frame, n, 0)), n);
        EXPECT_LT(track.stats().framesDecoded, 20);  // the I- and P-frames up to n, and n
    }
}

TEST(VideoTrack, SkippingNonReferencePicturesLeavesOutTheBFramesOnly) {
    const clips::Clip clip = clips::get("long_mpeg4");  // I/P frames with two B-frames between
    VideoTrack track(OpenedSource::open(clip.path), 0);
    track.setSkipNonReference(true);
    std::vector<int> numbers;
    int number = 0;
    for (int n = 1; n <= 300; n = number + 1) {
        ASSERT_NE(track.frameFrom(n, &number), nullptr);
        numbers.push_back(number);
    }
    // A third of the frames come out, each under its own number.
    EXPECT_EQ(numbers.front(), 1);
    EXPECT_NEAR(double(numbers.size()), 100, 5);
    EXPECT_EQ(std::adjacent_find(numbers.begin(), numbers.end(), std::greater_equal<>()), numbers.end());
    // Back to every frame once the pictures the decoder already had are through.
    track.setSkipNonReference(false);
    ASSERT_NE(track.frameFrom(number + 1, &number), nullptr);
    for (const int from : {number + 1, number + 2, number + 3}) {
        ASSERT_NE(track.frameFrom(from, &number), nullptr);
        EXPECT_EQ(number, from);
    }
}

}  // namespace
