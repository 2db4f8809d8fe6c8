#pragma once
// The timeline strip's long reads of a source, each on a caller's worker thread with a demuxer and
// decoder of its own on the opened source: the sound's peaks and silences in one pass over the
// sound, and the black pictures in one pass over the video. Both report as they go and stop
// promptly when asked.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class OpenedSource;

// Frames first..last of the source, 1-based.
struct FrameSpan {
    int32_t first = 1, last = 1;
    bool operator==(const FrameSpan&) const = default;
};

struct SoundScan {
    std::vector<uint8_t> peaks;       // the loudest sample in each of equal stretches of the video, 0..255
    std::vector<FrameSpan> silences;  // where the sound is silent for at least half a second
};

// Reads the source's played sound track from start to end: only its packets are read (the others
// are skipped by the demuxer), and the peaks are read from the decoded samples as they come,
// without converting them. `buckets` stretches span the video's duration; every `reportEvery`
// (each report redraws the strip) and at the end, `report` gets the scan so far. Throws MediaError when the
// sound cannot be decoded at all.
void scanSound(std::shared_ptr<const OpenedSource> source, int buckets, const std::atomic<bool>& stop,
               const std::function<void(const SoundScan&)>& report,
               std::chrono::milliseconds reportEvery = std::chrono::milliseconds(250));

// Decodes the video from start to end and finds the pictures that stay black for at least half
// a second. Cheaply: pictures no other picture refers to are skipped (a run is then measured
// from picture to picture that was decoded, a frame or two coarser) and so is the deblocking
// filter, which does not change whether a picture is black. `report` gets the runs found so far
// at each new one and at the end. Throws MediaError when the video cannot be decoded at all.
void scanBlack(std::shared_ptr<const OpenedSource> source, const std::atomic<bool>& stop,
               const std::function<void(const std::vector<FrameSpan>&)>& report);
