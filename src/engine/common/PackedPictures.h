#pragma once
// MPEG-4 Part 2 streams written for AVI by DivX and Xvid in "packed" form: a B-frame travels
// in the packet of the picture decoded before it, and a tiny placeholder packet (a picture
// not coded) holds its place. Decoders, encoders and the copy all work on the unpacked form,
// one picture a packet in decode order, which FFmpeg's mpeg4_unpack_bframes filter gives.
#include <vector>

#include "engine/common/FfmpegHandles.h"

extern "C" {
#include <libavcodec/codec_par.h>
#include <libavcodec/packet.h>
}

// The coding types of the pictures (VOPs) in an MPEG-4 Part 2 packet, in order:
// 0 intra, 1 predicted, 2 bidirectional, 3 sprite. Reads no byte outside data..data+size.
std::vector<int> mpeg4PictureTypes(const uint8_t* data, int size);

// True when the packet of this stream holds more than one picture: the stream is packed.
bool holdsPackedPictures(const AVCodecParameters* par, const uint8_t* data, int size);

// Unpacks the packets of a packed stream, one by one in decode order.
class PictureUnpacker {
public:
    // Throws MediaError when FFmpeg lacks the filter.
    explicit PictureUnpacker(const AVCodecParameters* par);
    // Replaces the packet by its unpacked form, keeping its properties (position, times,
    // flags). A placeholder whose picture was not met (the read began after its packet)
    // stays as it is, so each packet in gives one packet out.
    void unpack(AVPacket* packet);
    // Forgets a held picture, before reading from another place in the file.
    void reset();

private:
    ffmpeg::BitstreamFilter filter_;
};
