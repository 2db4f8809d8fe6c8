#pragma once
#include <cstdint>

// What one playback tick does, from how far the picture is behind the clock.
struct PacingDecision {
    bool show = false;  // read and show one frame
    int16_t drop = 0;   // frames to read without showing first
};
// lagMs is the clock minus the time of the next frame the reader delivers; framePeriodMs the
// time one frame is on show. The next frame is shown once it is nearer the clock than the
// frame on show (lag of minus half a period or more), so the picture stays within half a
// period of the clock plus one tick. A frame that would be shown more than a period late is
// not shown: the frames due before the one nearest the clock are dropped (read, not shown),
// so the picture jumps back into step at once. Decoded ahead, they cost no decoding.
PacingDecision pacingFor(int32_t lagMs, double framePeriodMs);

// The time one frame is on show, 1000 / frame rate in ms; 40 ms (25 frames per second) for
// a frame rate that is not a positive number.
double framePeriodMs(double frameRate);

// The timer interval for five ticks per frame period, rounded to whole ms (ties to even).
// Throws std::domain_error for a frame rate of 0 (the timer then keeps its interval).
int32_t playbackTimerInterval(double frameRate);
