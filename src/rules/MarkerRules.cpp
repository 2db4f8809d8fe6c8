#include "rules/MarkerRules.h"

#include <stdexcept>

#include "rules/Conversions.h"

namespace {
double thumbCentre(int32_t value, int32_t max, float stripLeft, float stripWidth, float thumbWidth) {
    if (max - 1 == 0) throw std::domain_error("Division by zero");
    return double(value - 1) / double(max - 1) * (double(stripWidth) - thumbWidth) +
           (double(thumbWidth) * 0.5 + stripLeft);
}
}  // namespace

float thumbLeft(int32_t value, int32_t max, float stripLeft, float stripWidth, float thumbWidth) {
    if (max - 1 == 0) throw std::domain_error("Division by zero");
    return static_cast<float>(double(stripLeft) +
                              double(value - 1) / double(max - 1) * (double(stripWidth) - thumbWidth));
}

int32_t dragValue(float thumbLeftNow, float stripLeft, float stripWidth, float thumbWidth, int32_t max) {
    const double travel = double(stripWidth) - thumbWidth;
    if (travel == 0) throw std::domain_error("Division by zero");
    return toInt32((double(thumbLeftNow) - stripLeft) * max / travel);
}

int32_t steppedValue(int32_t value, int32_t max, int direction) {
    if (direction < 0) return value <= 1 ? max : value - 1;
    return value >= max ? 1 : value + 1;
}

Band bandBetween(int32_t v1, int32_t max1, float strip1Left, float strip1Width, float thumb1Width, int32_t v2,
                 int32_t max2, float strip2Left, float strip2Width, float thumb2Width) {
    const double c1 = thumbCentre(v1, max1, strip1Left, strip1Width, thumb1Width);
    const double c2 = thumbCentre(v2, max2, strip2Left, strip2Width, thumb2Width);
    return c1 >= c2 ? Band{c2, c1 - c2} : Band{c1, c2 - c1};
}

int16_t ClipValue(int16_t X) {
    if (X > 100) return 100;
    if (X < 0) return 0;
    return X;
}
