#include "rules/JobRules.h"

#include <algorithm>
#include <cmath>

#include "rules/Conversions.h"
#include "rules/MarkerRules.h"

namespace {
// A progress quotient on the bar's scale. Limited before the 16-bit conversion so that a
// reader position far outside the range shows as 0 or 100 instead of failing the job.
int16_t barValue(double percent) { return ClipValue(toInt16(std::clamp(percent, -1.0, 101.0))); }
}  // namespace

double frameEndTime(int32_t frameTime, int32_t frameDuration, double frameRate) {
    double duration = std::max(0, frameDuration);
    if (frameRate > 0) duration = std::min(duration, 1000.0 / frameRate);
    return double(frameTime) + duration;
}

int32_t cutMarkerValue(int32_t audioTime, int32_t videoTime, int32_t audioDuration, int32_t videoDuration,
                       int32_t markerMax) {
    const double position = double(add32(audioTime, videoTime)) / double(add32(audioDuration, videoDuration));
    return toInt32(position * double(markerMax));
}

int16_t cutPercent(int32_t currentFrame, int32_t startFrame, int32_t endFrame) {
    const int32_t done = mul32(add32(sub32(currentFrame, startFrame), 1), 100);
    const int32_t span = add32(sub32(endFrame, startFrame), 1);
    return barValue(double(done) / double(span));
}

int16_t piecesPercent(int64_t framesDone, int64_t framesTotal) {
    if (framesTotal <= 0) return 0;
    return barValue(std::clamp(double(framesDone) * 100.0 / double(framesTotal), 0.0, 100.0));
}

int64_t soundSamplesFor(int64_t frames, double fps, int32_t sampleRate) {
    if (fps <= 0) return 0;
    return std::llround(double(frames) * double(sampleRate) / fps);
}

int16_t splitOverallPercent(int32_t audioTime, int32_t videoTime, int32_t audioDuration, int32_t videoDuration) {
    const int64_t position = (int64_t(audioTime) + videoTime) * 100;
    const int64_t total = int64_t(audioDuration) + videoDuration;
    const int16_t o = toInt16(std::clamp(double(position) / double(total), -1.0, 101.0));
    return std::min<int16_t>(o, 100);
}

int32_t splitMarkerValue(int16_t overallPercent, int32_t markerMax) {
    return toInt32(double(overallPercent) / 100.0 * double(markerMax));
}

int16_t splitPercent(int32_t currentFrame, int32_t splitFrame, int32_t frameCount) {
    if (currentFrame >= splitFrame) {
        const int32_t done = mul32(add32(sub32(currentFrame, splitFrame), 1), 100);
        return barValue(double(done) / double(add32(sub32(frameCount, splitFrame), 1)));
    }
    return barValue(double(mul32(currentFrame, 100)) / double(std::max(1, splitFrame - 1)));
}

bool splitPointAllowed(int32_t splitFrame, int32_t frameCount) {
    return !(int64_t(splitFrame) > int64_t(frameCount) - 4 || splitFrame < 4);
}

bool batchProgressShown(int32_t percent, int32_t lastShown, bool terminal) {
    if (lastShown < 0) return true;
    return terminal ? percent != lastShown : percent / 10 != lastShown / 10;
}
