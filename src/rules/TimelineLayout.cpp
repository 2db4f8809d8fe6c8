#include "rules/TimelineLayout.h"

#include <algorithm>
#include <cmath>

namespace {

double minSpan(int32_t frameCount) { return std::min<double>(kTimelineMinSpan, std::max(frameCount, 1)); }

TimelineView clampedFirst(TimelineView v) {
    v.first = std::clamp(v.first, 0.0, std::max(0.0, double(v.frameCount) - v.span));
    return v;
}

double pixelsPerFrame(const TimelineView& v) { return double(std::max(v.width, 1)) / v.span; }

}  // namespace

TimelineView wholeSource(int32_t frameCount, int width) {
    const int32_t frames = std::max(frameCount, 1);
    return {frames, 0, double(frames), std::max(width, 1)};
}

double xOfFrame(const TimelineView& v, int32_t frame) { return (frame - 1 - v.first) * pixelsPerFrame(v); }

int32_t frameAtX(const TimelineView& v, double x) {
    const double position = v.first + x / pixelsPerFrame(v);
    return static_cast<int32_t>(std::clamp(std::floor(position) + 1, 1.0, double(v.frameCount)));
}

TimelineView zoomedAround(const TimelineView& v, double x, double factor) {
    if (factor <= 0) return v;
    const double anchor = v.first + x / pixelsPerFrame(v);
    TimelineView z = v;
    z.span = std::clamp(v.span / factor, minSpan(v.frameCount), double(v.frameCount));
    z.first = anchor - x / pixelsPerFrame(z);
    return clampedFirst(z);
}

TimelineView scrolledBy(const TimelineView& v, double pixels) {
    TimelineView s = v;
    s.first += pixels / pixelsPerFrame(v);
    return clampedFirst(s);
}

TimelineView keptInView(const TimelineView& v, int32_t frame) {
    TimelineView k = v;
    if (frame - 1 < v.first) k.first = frame - 1;
    if (frame > v.first + v.span) k.first = frame - v.span;
    return clampedFirst(k);
}

std::vector<int32_t> ticksInView(const std::vector<int32_t>& sorted, const TimelineView& v, double minGapPx) {
    std::vector<int32_t> ticks;
    double lastX = -1e300;
    auto from = std::lower_bound(sorted.begin(), sorted.end(), static_cast<int32_t>(std::floor(v.first)) + 1);
    for (auto it = from; it != sorted.end(); ++it) {
        const double x = xOfFrame(v, *it);
        if (x >= v.width) break;
        if (x < 0 || x - lastX < minGapPx) continue;
        ticks.push_back(*it);
        lastX = x;
    }
    return ticks;
}

std::vector<int32_t> thumbnailKeyframes(const std::vector<int32_t>& sortedKeys, int32_t frameCount, int slots) {
    std::vector<int32_t> frames;
    if (sortedKeys.empty() || slots <= 0) return frames;
    for (int i = 0; i < slots; ++i) {
        const auto middle = static_cast<int32_t>(1 + (i + 0.5) * frameCount / slots);
        auto after = std::upper_bound(sortedKeys.begin(), sortedKeys.end(), middle);
        const int32_t key = after == sortedKeys.begin() ? sortedKeys.front() : *std::prev(after);
        if (frames.empty() || frames.back() != key) frames.push_back(key);
    }
    return frames;
}

int32_t neighbourIn(const std::vector<int32_t>& sorted, int32_t frame, int direction) {
    if (direction > 0) {
        auto it = std::upper_bound(sorted.begin(), sorted.end(), frame);
        return it == sorted.end() ? frame : *it;
    }
    auto it = std::lower_bound(sorted.begin(), sorted.end(), frame);
    return it == sorted.begin() ? frame : *std::prev(it);
}

std::vector<int32_t> keyFrameStops(const std::vector<int32_t>& cleanStarts, int32_t frameCount, bool rangeEnd) {
    if (!rangeEnd) return cleanStarts;
    std::vector<int32_t> stops;
    for (const int32_t start : cleanStarts)
        if (start > 1 && start <= frameCount) stops.push_back(start - 1);
    if (frameCount >= 1) stops.push_back(frameCount);
    return stops;
}

int32_t movedBy(int32_t frame, int64_t delta, int32_t frameCount) {
    return static_cast<int32_t>(std::clamp<int64_t>(int64_t(frame) + delta, 1, std::max(frameCount, 1)));
}

int32_t oneSecondOfFrames(double fps) { return std::max<int32_t>(1, static_cast<int32_t>(std::lround(fps))); }

int32_t tenthOfFrames(int32_t frameCount) { return std::max<int32_t>(1, frameCount / 10); }

uint8_t columnPeak(const std::vector<uint8_t>& peaks, const TimelineView& v, int x) {
    if (peaks.empty() || v.frameCount <= 0) return 0;
    const double perFrame = double(peaks.size()) / v.frameCount;
    const double begin = (v.first + x / pixelsPerFrame(v)) * perFrame;
    const double end = (v.first + (x + 1) / pixelsPerFrame(v)) * perFrame;
    const auto lo = static_cast<size_t>(std::clamp(std::floor(begin), 0.0, double(peaks.size() - 1)));
    const auto hi = static_cast<size_t>(std::clamp(std::ceil(end), double(lo + 1), double(peaks.size())));
    return *std::max_element(peaks.begin() + lo, peaks.begin() + hi);
}
