#include "engine/common/CodecSettings.h"

#include <algorithm>

CodecSettings clampedSettings(const CodecSettings& settings, const CodecCapabilities& caps) {
    CodecSettings s = settings;
    if (caps.hasQuality()) s.quality = std::clamp(s.quality, caps.qualityMin, caps.qualityMax);
    if (!caps.bitrate || !caps.hasQuality())
        s.rateControl = caps.bitrate ? CodecSettings::RateControl::Bitrate : CodecSettings::RateControl::Quality;
    s.bitrateKbps = std::clamp(s.bitrateKbps, kMinCodecBitrateKbps, kMaxCodecBitrateKbps);
    s.keyframeInterval = caps.keyframes ? std::clamp(s.keyframeInterval, 1, kMaxKeyframeInterval) : 1;
    return s;
}
