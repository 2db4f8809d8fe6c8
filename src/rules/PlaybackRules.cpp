#include "rules/PlaybackRules.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "rules/Conversions.h"

PacingDecision pacingFor(int32_t lagMs, double framePeriodMs) {
    const double period = framePeriodMs > 0 ? framePeriodMs : 40.0;
    if (lagMs < -period / 2) return {};
    if (lagMs <= period) return {true, 0};
    const double due = std::floor((lagMs + period / 2) / period);
    return {true, static_cast<int16_t>(std::min(due, 32767.0))};
}

double framePeriodMs(double frameRate) { return frameRate > 0 && std::isfinite(frameRate) ? 1000.0 / frameRate : 40.0; }

int32_t playbackTimerInterval(double frameRate) {
    if (frameRate == 0) throw std::domain_error("Division by zero");
    return toInt32(0.2 * 1000 / frameRate);
}
