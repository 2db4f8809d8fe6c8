#include "source/PlaybackRules.h"

#include <stdexcept>

#include "rules/Conversions.h"

PacingDecision pacingFor(int32_t lagMs) {
    if (lagMs <= 0) return {};
    const int16_t n = toInt16(lagMs / 1000.0);
    if (n < 1) return {};
    return {true, static_cast<int16_t>(n - 1 > 0 ? n - 1 : 0)};
}

int32_t playbackTimerInterval(double frameRate) {
    if (frameRate == 0) throw std::domain_error("Division by zero");
    return toInt32(0.2 * 1000 / frameRate);
}
