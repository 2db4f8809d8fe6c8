#pragma once
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/common/FfmpegHandles.h"
#include "engine/common/MediaTime.h"
#include "engine/reader/PacketIndex.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

// What one pass over a file's packets (demuxing only, no decoding) tells about it.
struct SourceScan {
    std::vector<IndexedPacket> video;  // non-empty video packets in decode order
    int64_t videoPacketsRead = 0;      // every video packet, empty ones too
    int64_t videoBytes = 0;
    bool audioSeen = false;
    Seconds audioStart;  // where the first audio sample plays
    Seconds audioEnd;    // where the last audio sample ends
    int64_t audioBytes = 0;
    // Why the first keyframe met where a copy cannot start (an H.264 open group) cannot be
    // one; empty when there is none.
    QString openGroupRefusal;
    // MPEG-4 with B-frames packed into the packets before them (DivX, Xvid): the index holds
    // the unpacked stream's times, and its packets must be read unpacked.
    bool packedPictures = false;
};

// How far a scan is through the file, 0..100; returning false stops it.
using ScanProgress = std::function<bool(int percent)>;

// Reads every packet of the two streams (-1 for none) from the demuxer's current place to
// the end, telling `progress` (when set) every few dozen packets how far it is. Throws
// MediaError when the file holds more packets than the reader can index, or when progress
// stops the scan.
SourceScan scanPackets(AVFormatContext* input, int videoStream, int audioStream, const ScanProgress& progress = {});
