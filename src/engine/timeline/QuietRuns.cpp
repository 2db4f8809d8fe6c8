#include "engine/timeline/QuietRuns.h"

int darkLumaLevel(bool fullRange) {
    return static_cast<int>(fullRange ? kBlackPixelLevel * 255 : 16 + kBlackPixelLevel * (235 - 16));
}

bool blackPicture(int64_t darkPixels, int64_t pixels) {
    return pixels > 0 && double(darkPixels) >= kBlackPictureShare * double(pixels);
}

void QuietRuns::add(double start, double end, bool quiet) {
    if (quiet) {
        if (!open_) current_.start = start;
        current_.end = end;
        open_ = true;
        return;
    }
    finish();
}

const std::vector<TimeSpan>& QuietRuns::finish() {
    if (open_ && current_.end - current_.start >= minimum_) runs_.push_back(current_);
    open_ = false;
    return runs_;
}
