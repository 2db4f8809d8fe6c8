#pragma once
#include <cstdint>

// The arithmetic of the cut and split jobs: range times, progress figures and the split
// guard. Floating-point results become integers by rounding to nearest with ties to even;
// a result that does not fit its integer is an error (OverflowError).

// Bytes of audio the jobs read per pass.
constexpr int32_t kJobAudioBlockBytes = 2304;

// The source time (ms) where a frame's picture ends in the output: its own presentation time
// plus its duration. The output shows every frame for one frame at the source's rate, so a
// frame that holds the picture longer (the one before a gap in the recording, as phones
// write them) ends there one frame after it starts.
double frameEndTime(int32_t frameTime, int32_t frameDuration, double frameRate);

// Where the cut job puts its progress marker: the reader's position in the whole source,
// (audioTime + videoTime) / (audioDuration + videoDuration), times the marker's maximum.
int32_t cutMarkerValue(int32_t audioTime, int32_t videoTime, int32_t audioDuration, int32_t videoDuration,
                       int32_t markerMax);

// The cut job's progress bar, 0..100: the frames written, (current - start + 1) x 100 /
// (end - start + 1), where current is the frame written last (start - 1 before the first).
int16_t cutPercent(int32_t currentFrame, int32_t startFrame, int32_t endFrame);

// A job of several pieces: the frames written of all its pieces, 0..100.
int16_t piecesPercent(int64_t framesDone, int64_t framesTotal);

// The sound that goes with the first `frames` pictures of an output at `fps`, in sample
// frames at `sampleRate`. A job of several pieces ends each piece's sound there, so the
// sound meets the pictures at every join and no rounding adds up from one join to the next.
int64_t soundSamplesFor(int64_t frames, double fps, int32_t sampleRate);

// The split job's overall position in percent, 0..100: (audioTime + videoTime) x 100 /
// (audioDuration + videoDuration). Computed in 64 bits, so sources of many hours do not
// overflow.
int16_t splitOverallPercent(int32_t audioTime, int32_t videoTime, int32_t audioDuration, int32_t videoDuration);

// Marker 2's value during a split: overall / 100 x the marker's maximum.
int32_t splitMarkerValue(int16_t overallPercent, int32_t markerMax);

// The split job's progress bar, one run per file, 0..100: the frames written of the file, n
// the frame written last. The first file holds frames 1 to split - 1: n x 100 / (split - 1);
// the second from the split frame on: (n - split + 1) x 100 / (frameCount - split + 1).
int16_t splitPercent(int32_t currentFrame, int32_t splitFrame, int32_t frameCount);

// A split point must be at least frame 4 and at most four frames before the last frame.
bool splitPointAllowed(int32_t splitFrame, int32_t frameCount);

// Whether batch mode reports a progress value. On a terminal it rewrites one line, so every
// change is reported; into a pipe or a file a line each time the value enters another tenth
// (0, 10, ..., 100, and from 0 again when a split starts its second file). `lastShown` is the
// value reported last, -1 before the first.
bool batchProgressShown(int32_t percent, int32_t lastShown, bool terminal);
