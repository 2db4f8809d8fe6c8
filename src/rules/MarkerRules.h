#pragma once
#include <cstdint>
#include <utility>

// The arithmetic of the two markers, their thumbs and the band between them. Positions are
// twips (single precision); marker values are frame numbers 1..max.

// Left edge of a thumb showing `value` on its strip: value 1 puts the thumb on the strip's
// left edge, value == max puts its right edge on the strip's right edge. A strip of one
// frame has no defined place: throws std::domain_error.
float thumbLeft(int32_t value, int32_t max, float stripLeft, float stripWidth, float thumbWidth);

// The marker value for a dragged thumb: (thumb left - strip left) x max / travel, rounded
// to nearest with ties to even. Can be 0 at the strip's left end.
int32_t dragValue(float thumbLeftNow, float stripLeft, float stripWidth, float thumbWidth, int32_t max);

// One frame step with wrap-around: back from the first frame goes to the last, forward
// from the last to the first.
int32_t steppedValue(int32_t value, int32_t max, int direction);

// The band between the thumbs' centres at the display places of their values.
struct Band {
    double left = 0;
    double width = 0;
};
Band bandBetween(int32_t v1, int32_t max1, float strip1Left, float strip1Width, float thumb1Width, int32_t v2,
                 int32_t max2, float strip2Left, float strip2Width, float thumb2Width);

// Progress percentages are limited to 0..100.
int16_t ClipValue(int16_t X);

template <typename T>
void Swap(T& a, T& b) {
    T t = a;
    a = b;
    b = t;
}
