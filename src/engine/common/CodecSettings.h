#pragma once
#include <QString>

// What the configuration dialog of an AVI video codec may change, and in which range.
struct CodecCapabilities {
    // Quality on the codec's own scale (a quantiser or a rate factor); empty name = none.
    QString qualityName;
    QString qualityHint;  // e.g. "2 = best, 31 = smallest file"
    int qualityMin = 0;
    int qualityMax = 0;
    bool bitrate = false;    // a target bitrate may be chosen instead of a quality
    bool keyframes = false;  // the keyframe interval can be chosen (false: every frame is one)
    bool hasQuality() const { return !qualityName.isEmpty(); }
    bool configurable() const { return hasQuality() || bitrate || keyframes; }
};

// The settings of one AVI video codec, kept by the writer between files.
struct CodecSettings {
    enum class RateControl { Quality, Bitrate };
    RateControl rateControl = RateControl::Quality;
    int quality = 0;  // on the codec's scale (CodecCapabilities)
    int bitrateKbps = 2000;
    int keyframeInterval = 1;  // frames from one keyframe to the next
    bool operator==(const CodecSettings&) const = default;
};

// Limits the dialog applies to bitrates and keyframe intervals.
constexpr int kMinCodecBitrateKbps = 32;
constexpr int kMaxCodecBitrateKbps = 100000;
constexpr int kMaxKeyframeInterval = 600;

// Settings brought into the codec's ranges, so a stored or edited value never reaches the encoder
// out of range.
CodecSettings clampedSettings(const CodecSettings& settings, const CodecCapabilities& caps);
