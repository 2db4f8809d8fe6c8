#pragma once
// H.264 open groups of pictures as the start of a copy. Their first picture is an I picture
// that is not an IDR picture (a recovery point): pictures shown after it refer to nothing
// before it, but a decoder that meets it after other pictures (the encoded piece before the
// copy) keeps their numbering and memory. The copy's first picture is therefore rewritten
// as an IDR picture, and the frame numbers (frame_num, a fixed-width field) of the copied
// pictures after it are counted from it, up to the next IDR picture of the source. The
// leading pictures of the group (shown before it, referring to the group before) are not
// copied; their frame numbers stay unused, a gap the decoder fills with pictures nothing
// refers to. The bytes come from the source file: every function takes any bytes.
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

#include "engine/common/H264Syntax.h"

extern "C" {
#include <libavcodec/codec_par.h>
#include <libavcodec/packet.h>
}

// Why a copy cannot start at this H.264 keyframe packet, which holds no IDR picture; empty
// when it can (its picture is then rewritten by OpenGroupStart).
QString openGroupRefusal(const AVCodecParameters* par, const uint8_t* data, int size);

// Rewrites the packets of a copy that starts at an H.264 keyframe holding no IDR picture.
class OpenGroupStart {
public:
    explicit OpenGroupStart(const AVCodecParameters* par);
    // The next copied packet, in decode order, rewritten in place: the first one's I picture
    // becomes an IDR picture, later pictures count their frame numbers from it. Throws
    // MediaError when a picture cannot be rewritten.
    void rewrite(AVPacket* packet);

private:
    std::vector<uint8_t> renumbered(const uint8_t* unit, int size);

    const AVCodecParameters* par_;
    h264::ParameterSets sets_;
    bool first_ = true;
    std::optional<uint32_t> base_;  // the frame number that becomes 0; none after the next IDR picture
    uint32_t lastFrameNum_ = 0;     // the last slice's frame number, counted from the copy's start
    bool wrapped_ = false;          // frame numbers went round since the copy's start
};
