#include <gtest/gtest.h>

#include "engine/common/MediaTime.h"

// The reader's seeks land on these values, so the rounding direction of each conversion matters.
TEST(MediaTime, SeekTicksLieAtOrBeforeTheMomentAlsoBeforeTheStart) {
    constexpr AVRational kMpegClock{1, 90000};
    EXPECT_EQ(ticksAtOrBefore(Seconds{0.5}, kMpegClock).value, 45000);
    EXPECT_EQ(ticksAtOrBefore(Seconds{1.0 / 3}, {1, 1000}).value, 333);
    EXPECT_EQ(ticksAtOrBefore(Seconds{-0.0001}, {1, 1000}).value, -1);  // a preroll reaching before zero
    EXPECT_DOUBLE_EQ(toSeconds(StreamTicks{45000}, kMpegClock).value, 0.5);
}

TEST(MediaTime, SampleIndexesAreTheNearestSample) {
    EXPECT_EQ(toSampleIndex(Milliseconds{1}, 44100).value, 44);  // 44.1
    EXPECT_EQ(toSampleIndex(Milliseconds{30}, 44100).value, 1323);
    EXPECT_EQ(toSampleIndex(Seconds{0.00002}, 48000).value, 1);  // 0.96
    EXPECT_DOUBLE_EQ(toMilliseconds(SampleIndex{441}, 44100).value, 10);
    EXPECT_DOUBLE_EQ(toSeconds(SampleIndex{24000}, 48000).value, 0.5);
}

TEST(MediaTime, FrameLengthsAndWholeMilliseconds) {
    EXPECT_EQ(ticksPerFrame(25, {1, 90000}).value, 3600);
    EXPECT_EQ(ticksPerFrame(30000.0 / 1001, {1, 30000}).value, 1001);
    EXPECT_DOUBLE_EQ(toWholeMilliseconds(Seconds{0.0405}).value, 41);
    EXPECT_DOUBLE_EQ(toMilliseconds(Seconds{0.0405}).value, 40.5);
}
