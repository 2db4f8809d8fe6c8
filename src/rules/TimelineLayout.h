#pragma once
// The timeline strip's geometry and the moves of its keys, as pure functions: where a frame
// stands at a zoom and which frame a column shows, zooming around the pointer and scrolling,
// which key-frame ticks fit, which key frames the thumbnails show, and the peak a waveform
// column draws. Frames are 1-based; frame f covers [f - 1, f) on the strip's frame axis.
#include <cstdint>
#include <vector>

// What the strip shows: `span` frames across `width` pixels, starting `first` frames in.
struct TimelineView {
    int32_t frameCount = 1;
    double first = 0;
    double span = 1;
    int width = 1;
    bool operator==(const TimelineView&) const = default;
};

// Zoomed in no further than this many frames across the strip (fewer when the source is shorter).
inline constexpr double kTimelineMinSpan = 20;

// The whole source across the strip.
TimelineView wholeSource(int32_t frameCount, int width);
// The left edge of frame's place, in pixels (outside 0..width when not in view).
double xOfFrame(const TimelineView& v, int32_t frame);
// The frame under column x, within 1..frameCount.
int32_t frameAtX(const TimelineView& v, double x);
// factor > 1 zooms in, < 1 out; the frame under x stays under x as far as the source's ends allow.
TimelineView zoomedAround(const TimelineView& v, double x, double factor);
// Moved by `pixels` (positive: later frames come into view), kept within the source.
TimelineView scrolledBy(const TimelineView& v, double pixels);
// The least scroll that brings frame into view.
TimelineView keptInView(const TimelineView& v, int32_t frame);

// The frames of `sorted` in view, thinned so that two ticks stand at least minGapPx apart.
std::vector<int32_t> ticksInView(const std::vector<int32_t>& sorted, const TimelineView& v, double minGapPx);
// The key frames `slots` thumbnails along the whole source show: for each slot the last key frame
// at or before its middle (the first key frame before any), each frame once, ascending.
std::vector<int32_t> thumbnailKeyframes(const std::vector<int32_t>& sortedKeys, int32_t frameCount, int slots);
// The first frame of `sorted` after frame (direction > 0) or the last before it (< 0); frame
// itself when there is none.
int32_t neighbourIn(const std::vector<int32_t>& sorted, int32_t frame, int direction);

// The frames where a marker may stand with a cut there encoding nothing, ascending (Alt+arrows
// move a marker from one to the next). A range starts without encoding on a clean start,
// `cleanStarts`; it ends without encoding on the frame just before one, or on the last frame:
// a range that ends on a key frame has to encode that frame. `rangeEnd` asks for the stops of
// the marker that ends the range.
std::vector<int32_t> keyFrameStops(const std::vector<int32_t>& cleanStarts, int32_t frameCount, bool rangeEnd);

// frame + delta within 1..frameCount.
int32_t movedBy(int32_t frame, int64_t delta, int32_t frameCount);
// One second in frames (at least one).
int32_t oneSecondOfFrames(double fps);
// A tenth of the source in frames (at least one).
int32_t tenthOfFrames(int32_t frameCount);

// The loudest of the peaks under column x; the peaks cover the whole source evenly, 0 before any.
uint8_t columnPeak(const std::vector<uint8_t>& peaks, const TimelineView& v, int x);
