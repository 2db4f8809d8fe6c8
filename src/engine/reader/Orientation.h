#pragma once
#include <QSize>
#include <cstdint>

#include "engine/common/FfmpegHandles.h"
#include "engine/common/ScalerCache.h"

extern "C" {
struct AVFrame;
struct AVStream;
}

// How a stored picture is turned to stand upright: transposed (rows become columns), then
// mirrored left-right, then upside down. A quarter turn clockwise is a transpose and a
// left-right mirror; a half turn both mirrors.
struct Orientation {
    bool transpose = false;
    bool mirrorX = false;
    bool mirrorY = false;
    bool isIdentity() const { return !transpose && !mirrorX && !mirrorY; }
    bool operator==(const Orientation&) const = default;
};

// The orientation a stream's display matrix (FFmpeg's 3x3 fixed-point matrix, as phones and
// cameras store it) asks for: quarter turns and mirrors. Turns by other angles are left as
// stored.
Orientation orientationOf(const int32_t matrix[9]);
// The turn a stream's display matrix asks for; none when it has no matrix. Everything that
// shows the stream's pictures (the reader, the timeline's thumbnails) turns them by this.
Orientation streamOrientation(const AVStream* stream);

// The picture size after turning.
QSize orientedSize(QSize stored, Orientation orientation);

// The frame turned upright into a new frame (sample aspect ratio and field facts carried
// along, the ratio inverted by a transpose). Pictures whose layout cannot be turned plane by
// plane (chroma subsampled differently across and down, packed or bitstream layouts) are
// first converted to planar 4:4:4 with the scaler. Null when memory runs out or no conversion
// exists.
ffmpeg::Frame orientFrame(const AVFrame* frame, Orientation orientation, ScalerCache& scaler);
