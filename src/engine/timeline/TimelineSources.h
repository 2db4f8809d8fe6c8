#pragma once
// What the timeline strip shows of a source, worked out from the opened source beside the
// window's reader: the frames where a cut needs no encoding, thumbnails of key frames and the
// sound's peaks. The long parts run on a caller's worker thread and stop when asked.
#include <QImage>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "engine/common/FfmpegHandles.h"
#include "engine/common/ScalerCache.h"
#include "engine/reader/OpenedSource.h"
#include "engine/reader/PacketCursor.h"

class VideoSource;

// The frames shown by key frames where decoding starts cleanly, ascending: a cut that starts
// there copies its first group of pictures as it is.
std::vector<int32_t> cleanStartFrames(const PacketIndex& index);

// Decodes key frames one at a time, each alone (no frame before or after it is decoded), into
// small pictures. Its own demuxer and decoder on the opened source.
class KeyframePictures {
public:
    // Throws MediaError when the video cannot be read.
    explicit KeyframePictures(std::shared_ptr<const OpenedSource> source);
    // The key frame `frame` (a frame of cleanStartFrames) `height` pixels high, the width after
    // the picture's shape; a null image when it cannot be decoded.
    QImage picture(int32_t frame, int height);

private:
    QImage scaled(const AVFrame* frame, int height);

    std::shared_ptr<const OpenedSource> source_;
    PacketCursor cursor_;
    ffmpeg::Codec decoder_;
    ffmpeg::Packet packet_ = ffmpeg::makePacket();
    ffmpeg::Frame frame_ = ffmpeg::makeFrame();
    ScalerCache scaler_;
};

// The loudest sample of the reader's sound in each of `buckets` equal stretches of its video's
// duration, 0..255 (full scale). Reads from the start to the end of the sound; every
// `reportEvery` chunks and at the end, `report` gets the peaks so far. Stops early when `stop`
// is set. The reader must be one of the caller's own (it is moved).
void measureSoundPeaks(VideoSource& reader, int buckets, const std::atomic<bool>& stop,
                       const std::function<void(const std::vector<uint8_t>&)>& report, int reportEvery = 200);
