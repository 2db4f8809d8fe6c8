#include "rules/PlaybackRules.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "rules/Conversions.h"

PacingDecision pacingFor(int32_t lagMs, double framePeriodMs) {
    const double period = framePeriodMs > 0 ? framePeriodMs : 40.0;
    if (lagMs < -period / 2) return {};
    if (lagMs <= kCatchUpAfterPeriods * period) return {true, 0};
    // Of the frames due before the one nearest the clock, this tick drops its share of
    // catching up within a second, in which about a frame rate of ticks show a frame. So a
    // tick reads only a few frames, and the sound, fed between ticks, plays on while the
    // picture catches up.
    const double due = std::floor((lagMs + period / 2) / period);
    const double framesPerSecond = std::max(1.0, std::round(1000.0 / period));
    return {true, static_cast<int16_t>(std::min(std::ceil(due / framesPerSecond), 32767.0))};
}

double framePeriodMs(double frameRate) { return frameRate > 0 && std::isfinite(frameRate) ? 1000.0 / frameRate : 40.0; }

int32_t playbackTimerInterval(double frameRate) {
    if (frameRate == 0) throw std::domain_error("Division by zero");
    return toInt32(0.2 * 1000 / frameRate);
}
