#pragma once
#include <QString>
#include <vector>

#include "engine/common/CodecSettings.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

// One video codec the writer offers for AVI files.
struct AviCodec {
    QString name;         // as the user sees it in the codec list
    const char* encoder;  // FFmpeg encoder name
    AVPixelFormat pixelFormat;
    const char* fourcc;  // AVI codec tag; nullptr = the muxer's usual tag
    CodecCapabilities caps;
    CodecSettings defaults;
};

// The AVI video codecs, numbered from 1 in this order. The window lists them from the last to
// the first, so the last one is the codec chosen when nothing else has been chosen.
const std::vector<AviCodec>& aviCodecs();

// One WMV output profile: ASF with WMV 8 video and WMA 2 audio.
struct WmvProfile {
    QString name;
    int videoKbps;
    int audioKbps;
    int audioRate;
    int audioChannels;
    int maxWidth;  // larger pictures are scaled down to fit, keeping their shape; 0 = no limit
    int maxHeight;
};

// The WMV profiles from low bandwidth (1) to high quality (the last one).
const std::vector<WmvProfile>& wmvProfiles();
