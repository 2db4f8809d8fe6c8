// The timeline strip's geometry and its keys' moves.
#include <gtest/gtest.h>

#include "rules/TimelineLayout.h"

namespace {

TEST(TimelineLayout, FramesAndColumnsMapBothWaysAtEveryZoom) {
    struct Case {
        TimelineView view;
        int32_t frame;
        double x;
    };
    const Case cases[] = {
        {wholeSource(100, 400), 1, 0},                  // 4 px a frame
        {wholeSource(100, 400), 100, 396},              //
        {wholeSource(1000, 100), 501, 50},              // 10 frames a pixel
        {TimelineView{1000, 200, 50, 500}, 211, 100},   // zoomed in: 10 px a frame from frame 201
        {TimelineView{1000, 200.5, 50, 500}, 211, 95},  // a scroll by half a frame
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(xOfFrame(c.view, c.frame), c.x) << c.frame;
        EXPECT_EQ(frameAtX(c.view, c.x + 0.01), c.frame) << c.x;
    }
    // Columns outside the strip give the source's ends.
    EXPECT_EQ(frameAtX(wholeSource(100, 400), -50), 1);
    EXPECT_EQ(frameAtX(wholeSource(100, 400), 4000), 100);
}

TEST(TimelineLayout, ZoomKeepsTheFrameUnderThePointerWithinTheSource) {
    const TimelineView whole = wholeSource(1000, 500);
    struct Case {
        double x, factor;
        double first, span;
    };
    const Case cases[] = {
        {250, 2, 250, 500},    // around the middle
        {0, 4, 0, 250},        // at the left end the start stays
        {500, 4, 750, 250},    // at the right end the end stays
        {100, 1000, 196, 20},  // no closer than the least span
        {250, 0.5, 0, 1000},   // no further out than the whole source
    };
    for (const Case& c : cases) {
        const TimelineView z = zoomedAround(whole, c.x, c.factor);
        EXPECT_DOUBLE_EQ(z.first, c.first) << c.x << " x" << c.factor;
        EXPECT_DOUBLE_EQ(z.span, c.span) << c.x << " x" << c.factor;
    }
    // A short source is not zoomed past its own length.
    EXPECT_DOUBLE_EQ(zoomedAround(wholeSource(5, 500), 100, 10).span, 5);
    // Zooming out again from a zoomed view keeps the pointer's frame where the ends allow.
    const TimelineView in = zoomedAround(whole, 300, 10);
    EXPECT_EQ(frameAtX(zoomedAround(in, 300, 0.5), 300), frameAtX(in, 300));
}

TEST(TimelineLayout, ScrollingAndKeepingInViewStopAtTheEnds) {
    const TimelineView v{1000, 100, 50, 500};  // 10 px a frame
    EXPECT_DOUBLE_EQ(scrolledBy(v, 100).first, 110);
    EXPECT_DOUBLE_EQ(scrolledBy(v, -5000).first, 0);
    EXPECT_DOUBLE_EQ(scrolledBy(v, 1e6).first, 950);
    EXPECT_DOUBLE_EQ(keptInView(v, 120).first, 100);  // already in view
    EXPECT_DOUBLE_EQ(keptInView(v, 50).first, 49);
    EXPECT_DOUBLE_EQ(keptInView(v, 300).first, 250);
    EXPECT_DOUBLE_EQ(keptInView(v, 1000).first, 950);
}

TEST(TimelineLayout, TicksInViewKeepTheirDistance) {
    const std::vector<int32_t> keys{1, 11, 13, 21, 31, 41, 300};
    EXPECT_EQ(ticksInView(keys, wholeSource(100, 100), 5), (std::vector<int32_t>{1, 11, 21, 31, 41}));
    // Zoomed in, the close pair both show; 300 is past the strip.
    EXPECT_EQ(ticksInView(keys, TimelineView{400, 10, 20, 200}, 5), (std::vector<int32_t>{11, 13, 21}));
    EXPECT_TRUE(ticksInView({}, wholeSource(100, 100), 5).empty());
}

TEST(TimelineLayout, ThumbnailsShowTheKeyFrameAtOrBeforeEachSlot) {
    const std::vector<int32_t> keys{1, 250, 500, 750};
    EXPECT_EQ(thumbnailKeyframes(keys, 1000, 4), (std::vector<int32_t>{1, 250, 500, 750}));
    // More slots than key frames: each key frame once.
    EXPECT_EQ(thumbnailKeyframes(keys, 1000, 40).size(), 4u);
    // The first key frame stands after the first slot's middle: it shows there too.
    EXPECT_EQ(thumbnailKeyframes({30, 60}, 100, 4), (std::vector<int32_t>{30, 60}));
    EXPECT_TRUE(thumbnailKeyframes({}, 100, 4).empty());
}

TEST(TimelineLayout, KeysMoveToNeighboursAndStayWithinTheSource) {
    const std::vector<int32_t> keys{1, 25, 50};
    struct Case {
        int32_t frame;
        int direction;
        int32_t expected;
    };
    for (const Case& c : {Case{10, +1, 25}, Case{25, +1, 50}, Case{50, +1, 50}, Case{60, +1, 60}, Case{25, -1, 1},
                          Case{26, -1, 25}, Case{1, -1, 1}})
        EXPECT_EQ(neighbourIn(keys, c.frame, c.direction), c.expected) << c.frame << " " << c.direction;
    EXPECT_EQ(movedBy(10, -25, 100), 1);
    EXPECT_EQ(movedBy(90, 25, 100), 100);
    EXPECT_EQ(movedBy(50, 25, 100), 75);
    EXPECT_EQ(oneSecondOfFrames(29.97), 30);
    EXPECT_EQ(oneSecondOfFrames(0.2), 1);
    EXPECT_EQ(tenthOfFrames(1234), 123);
    EXPECT_EQ(tenthOfFrames(5), 1);
}

// A range starts without encoding on a key frame and ends without encoding just before one or
// on the last frame.
TEST(TimelineLayout, KeyFrameStopsOfTheRangesEndLieJustBeforeKeyFrames) {
    struct Case {
        std::vector<int32_t> keys;
        int32_t frameCount;
        bool rangeEnd;
        std::vector<int32_t> stops;
    };
    for (const Case& c :
         {Case{{1, 26, 51, 76}, 100, false, {1, 26, 51, 76}}, Case{{1, 26, 51, 76}, 100, true, {25, 50, 75, 100}},
          Case{{1}, 10, true, {10}}, Case{{5, 9}, 9, true, {4, 8, 9}}, Case{{}, 3, true, {3}}})
        EXPECT_EQ(keyFrameStops(c.keys, c.frameCount, c.rangeEnd), c.stops) << c.frameCount << " " << c.rangeEnd;
}

TEST(TimelineLayout, AWaveformColumnShowsTheLoudestPeakUnderIt) {
    const std::vector<uint8_t> peaks{10, 200, 30, 40, 50, 60, 70, 80};  // over 4 frames: 2 a frame
    EXPECT_EQ(columnPeak(peaks, wholeSource(4, 2), 0), 200);            // peaks 0..3
    EXPECT_EQ(columnPeak(peaks, wholeSource(4, 2), 1), 80);
    EXPECT_EQ(columnPeak(peaks, wholeSource(4, 16), 15), 80);  // a column narrower than a peak
    EXPECT_EQ(columnPeak({}, wholeSource(4, 16), 3), 0);
}

}  // namespace
