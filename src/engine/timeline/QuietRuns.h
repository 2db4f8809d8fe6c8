#pragma once
// Where a source's picture is black or its sound silent for long enough to matter (an
// advertising break starts with both), by the rules of FFmpeg's blackdetect and silencedetect
// filters with their default levels: a picture is black when at least 98 % of its pixels are
// darker than a tenth of the brightness range; sound is silent while no sample is louder than
// -60 dB of full scale; either counts once it lasts half a second.
#include <cstdint>
#include <vector>

inline constexpr double kQuietMinimumSeconds = 0.5;
inline constexpr double kSilenceLevel = 0.001;    // -60 dB of full scale
inline constexpr double kBlackPixelLevel = 0.10;  // of the brightness range
inline constexpr double kBlackPictureShare = 0.98;

// A stretch of the source, in seconds on the source's own clock.
struct TimeSpan {
    double start = 0, end = 0;
    bool operator==(const TimeSpan&) const = default;
};

// The brightest 8-bit luma value that counts as dark: in full range (0..255) or in the video
// range (16..235).
int darkLumaLevel(bool fullRange);
// Whether a picture of `pixels` pixels, `darkPixels` of them dark, is black.
bool blackPicture(int64_t darkPixels, int64_t pixels);
// Whether a stretch of sound whose loudest sample is `peak` (1 = full scale) is silent.
inline bool silentSound(double peak) { return peak < kSilenceLevel; }

// Follows a source's stretches in time order, each quiet (black, silent) or not, and keeps the
// runs of quiet stretches that last at least `minimum` seconds. A run goes on across a gap
// between stretches (the source gives nothing there) and ends at the first stretch that is
// not quiet.
class QuietRuns {
public:
    explicit QuietRuns(double minimum = kQuietMinimumSeconds) : minimum_(minimum) {}
    void add(double start, double end, bool quiet);
    // Ends a run still open (the source ended quiet); the runs found, in order.
    const std::vector<TimeSpan>& finish();
    const std::vector<TimeSpan>& runs() const { return runs_; }

private:
    double minimum_;
    bool open_ = false;
    TimeSpan current_;
    std::vector<TimeSpan> runs_;
};
