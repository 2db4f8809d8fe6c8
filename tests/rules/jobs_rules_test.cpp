// The jobs' arithmetic: range times, progress figures, the split guard.
#include <gtest/gtest.h>

#include "rules/Conversions.h"
#include "rules/JobRules.h"

TEST(JobsRules, FrameEndTimeIsTheFramesOwnEndAtMostOneFrameOn) {
    EXPECT_DOUBLE_EQ(frameEndTime(960, 40, 25), 1000.0);
    // A frame before a one-second gap ends one frame after it starts; a short one keeps its own length.
    EXPECT_DOUBLE_EQ(frameEndTime(960, 1040, 25), 1000.0);
    EXPECT_DOUBLE_EQ(frameEndTime(960, 20, 25), 980.0);
    EXPECT_DOUBLE_EQ(frameEndTime(0, 33, 0), 33.0);
}

TEST(JobsRules, CutMarkerFollowsTheReaderThroughTheSource) {
    // Halfway through a 4 s source with sound: the middle of a 100-frame slider.
    EXPECT_EQ(cutMarkerValue(2000, 2000, 4000, 4000, 100), 50);
    // Ties go to even: 0.125 x 100 = 12.5 -> 12; 0.135 x 100 = 13.5 -> 14.
    EXPECT_EQ(cutMarkerValue(500, 500, 4000, 4000, 100), 12);
    EXPECT_EQ(cutMarkerValue(540, 540, 4000, 4000, 100), 14);
    // Without sound the audio terms are zero.
    EXPECT_EQ(cutMarkerValue(0, 1000, 0, 4000, 200), 50);
    EXPECT_THROW(cutMarkerValue(INT32_MAX, 1, 4000, 4000, 100), OverflowError);
}

TEST(JobsRules, CutPercentCountsTheFramesWrittenAndStaysOnTheBar) {
    EXPECT_EQ(cutPercent(20, 20, 29), 10);
    EXPECT_EQ(cutPercent(25, 20, 29), 60);
    EXPECT_EQ(cutPercent(29, 20, 29), 100);  // the last frame written: the whole range
    // Before the first read the reader stands one frame before the range.
    EXPECT_EQ(cutPercent(19, 20, 29), 0);
    // Far outside the range the bar still shows 0..100 instead of failing.
    EXPECT_EQ(cutPercent(100000, 1, 2), 100);
    EXPECT_EQ(cutPercent(0, 300000, 300010), 0);
}

TEST(JobsRules, SplitFiguresRunPerFileAndOverall) {
    // Each file's frames written: the first file holds 1..49, the second 50..100.
    EXPECT_EQ(splitPercent(0, 50, 100), 0);
    EXPECT_EQ(splitPercent(25, 50, 100), 51);  // 2500 / 49 = 51.02
    EXPECT_EQ(splitPercent(49, 50, 100), 100);
    EXPECT_EQ(splitPercent(50, 50, 100), 2);  // 100 / 51 = 1.96
    EXPECT_EQ(splitPercent(100, 50, 100), 100);
    EXPECT_EQ(splitOverallPercent(1000, 1000, 4000, 4000), 25);
    EXPECT_EQ(splitOverallPercent(4100, 4000, 4000, 4000), 100);
    // Hours of video do not overflow the position's product by 100.
    EXPECT_EQ(splitOverallPercent(5 * 3600 * 1000, 5 * 3600 * 1000, 10 * 3600 * 1000, 10 * 3600 * 1000), 50);
    EXPECT_EQ(splitMarkerValue(25, 100), 25);
    EXPECT_EQ(splitMarkerValue(50, 7), 4);  // 3.5 -> 4 (ties to even)
    EXPECT_EQ(splitMarkerValue(50, 5), 2);  // 2.5 -> 2
}

TEST(JobsRules, SplitGuardKeepsFourFramesFromEachEnd) {
    EXPECT_FALSE(splitPointAllowed(3, 100));
    EXPECT_TRUE(splitPointAllowed(4, 100));
    EXPECT_TRUE(splitPointAllowed(96, 100));
    EXPECT_FALSE(splitPointAllowed(97, 100));
    // Seven frames cannot be split; eight only at frame 4.
    for (int at = 1; at <= 7; ++at) EXPECT_FALSE(splitPointAllowed(at, 7));
    for (int at = 1; at <= 8; ++at) EXPECT_EQ(splitPointAllowed(at, 8), at == 4);
}

TEST(JobsRules, BatchProgressEveryChangeOnATerminalElseEveryTenth) {
    const struct {
        int32_t percent, lastShown;
        bool terminal, shown;
    } rows[] = {
        {0, -1, false, true},  {9, 0, false, false},   {19, 10, false, false}, {10, 0, false, true},
        {23, 10, false, true}, {100, 97, false, true}, {0, 100, false, true},  // a split's second file
        {1, 0, true, true},    {1, 1, true, false},    {0, -1, true, true},
    };
    for (const auto& r : rows)
        EXPECT_EQ(batchProgressShown(r.percent, r.lastShown, r.terminal), r.shown)
            << r.percent << " after " << r.lastShown << (r.terminal ? " on a terminal" : "");
}
