#include "rules/Selection.h"

#include <algorithm>

int32_t Selection::clamped(int32_t frame) const { return std::clamp(frame, first_, last_); }

void Selection::setLastFrame(int32_t last) {
    first_ = std::min(first_, last);
    last_ = last;
    marker1_ = clamped(marker1_);
    marker2_ = clamped(marker2_);
}

void Selection::setMarker(int k, int32_t frame) { (k == 1 ? marker1_ : marker2_) = clamped(frame); }
