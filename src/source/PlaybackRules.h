#pragma once
#include <cstdint>

// What one playback tick does, from how far the picture is behind the clock (ms).
struct PacingDecision {
    bool show = false;  // read and show one frame
    int16_t drop = 0;   // frames to read without showing first
};
// Nothing until the picture is more than half a second behind; from 1.5 s on, frames are
// dropped: lag / 1000 rounded (ties to even) is the number of frames read this tick.
PacingDecision pacingFor(int32_t lagMs);

// The timer interval for five ticks per frame period, rounded to whole ms (ties to even).
// Throws std::domain_error for a frame rate of 0 (the timer then keeps its interval).
int32_t playbackTimerInterval(double frameRate);
