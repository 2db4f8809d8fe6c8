#pragma once
// What the timeline strip shows of a source, worked out from the opened source beside the
// window's reader: the frames where a cut needs no encoding and thumbnails of key frames (the
// sound's peaks and the quiet stretches are in QuietScans). Thumbnails are made on a caller's
// worker thread.
#include <QImage>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/common/FfmpegHandles.h"
#include "engine/common/ScalerCache.h"
#include "engine/reader/OpenedSource.h"
#include "engine/reader/Orientation.h"
#include "engine/reader/PacketCursor.h"

// The frames shown by key frames where decoding starts cleanly, ascending: a cut that starts
// there copies its first group of pictures as it is.
std::vector<int32_t> cleanStartFrames(const PacketIndex& index);

// Decodes key frames one at a time, each alone (no frame before or after it is decoded), into
// small pictures turned upright as the reader turns its frames. Its own demuxer and decoder on
// the opened source.
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
    Orientation orientation_;
    ScalerCache turner_;  // for pictures whose layout must be converted to be turned
    PacketCursor cursor_;
    ffmpeg::Codec decoder_;
    ffmpeg::Packet packet_ = ffmpeg::makePacket();
    ffmpeg::Frame frame_ = ffmpeg::makeFrame();
    ScalerCache scaler_;
};
