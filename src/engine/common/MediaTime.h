#pragma once
#include <cmath>
#include <compare>
#include <cstdint>

extern "C" {
#include <libavutil/mathematics.h>
#include <libavutil/rational.h>
}

// Times of the reader, each in its own unit, so a value in one unit cannot be taken for
// another; the named functions below are the only way between them.

// Seconds, fractions included.
struct Seconds {
    double value = 0;
    auto operator<=>(const Seconds&) const = default;
};
// Milliseconds, fractions included until a caller's whole number is made of them.
struct Milliseconds {
    double value = 0;
    auto operator<=>(const Milliseconds&) const = default;
};
// Sample frames (one sample of every channel) at some rate.
struct SampleIndex {
    int64_t value = 0;
    auto operator<=>(const SampleIndex&) const = default;
};
// Steps of a stream's time base.
struct StreamTicks {
    int64_t value = 0;
    auto operator<=>(const StreamTicks&) const = default;
};

constexpr Seconds operator+(Seconds a, Seconds b) { return {a.value + b.value}; }
constexpr Seconds operator-(Seconds a, Seconds b) { return {a.value - b.value}; }

// Stream ticks <-> seconds, through the stream's time base.
inline Seconds toSeconds(StreamTicks ticks, AVRational timeBase) { return {ticks.value * av_q2d(timeBase)}; }
// The last tick at or before the moment.
inline StreamTicks ticksAtOrBefore(Seconds time, AVRational timeBase) {
    return {static_cast<int64_t>(std::floor(time.value / av_q2d(timeBase)))};
}
// Ticks of one time base as ticks of another, to the nearest.
inline StreamTicks rescaled(StreamTicks ticks, AVRational from, AVRational to) {
    return {av_rescale_q(ticks.value, from, to)};
}
// How many ticks one frame lasts at a frame rate.
inline StreamTicks ticksPerFrame(double fps, AVRational timeBase) {
    return {std::llround(1.0 / (fps * av_q2d(timeBase)))};
}

// Sample index <-> seconds and milliseconds at a sample rate; towards samples rounded to the nearest.
inline Seconds toSeconds(SampleIndex sample, int rate) { return {static_cast<double>(sample.value) / rate}; }
inline SampleIndex toSampleIndex(Seconds time, int rate) { return {std::llround(time.value * rate)}; }
inline SampleIndex toSampleIndex(Milliseconds time, int rate) { return {std::llround(time.value / 1000.0 * rate)}; }
inline Milliseconds toMilliseconds(SampleIndex sample, int rate) {
    return {static_cast<double>(sample.value) * 1000.0 / rate};
}

// Stream ticks -> sample frames at a rate, to the nearest.
inline SampleIndex toSampleIndex(StreamTicks ticks, AVRational timeBase, int rate) {
    return {av_rescale_q(ticks.value, timeBase, AVRational{1, rate})};
}

// Seconds -> milliseconds, exactly or to the nearest whole one.
inline Milliseconds toMilliseconds(Seconds time) { return {time.value * 1000}; }
inline Milliseconds toWholeMilliseconds(Seconds time) { return {static_cast<double>(std::llround(time.value * 1000))}; }
