#pragma once
// Reads the video packets of an opened source in decode order, each known by its number in the
// packet index, from any packet on. The reader's decoding and the lossless cut both locate
// packets through it.
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "engine/common/FfmpegHandles.h"
#include "engine/common/PackedPictures.h"
#include "engine/reader/Demux.h"
#include "engine/reader/OpenedSource.h"

extern "C" {
#include <libavcodec/packet.h>
}

class PacketCursor {
public:
    // A cursor with a demuxer of its own on the source's video. Throws MediaError.
    explicit PacketCursor(std::shared_ptr<const OpenedSource> source);
    PacketCursor(const PacketCursor&) = delete;
    PacketCursor& operator=(const PacketCursor&) = delete;

    const OpenedSource& source() const { return *source_; }
    const PacketIndex& index() const { return source_->index(); }
    // Places the cursor so that the next read delivers packet `target`. False when the file
    // does not give it (damaged, or cut short since it was opened).
    bool seek(int target);
    // The next packet into `into` (its own times kept; packed MPEG-4 unpacked); its number in
    // the index, -1 at the end.
    int read(AVPacket* into);
    // The number of the packet the next read delivers.
    int next() const { return next_; }
    // The last keyframe packet before `packet`, 0 when there is none.
    int keyframeBefore(int packet) const;

    // Takes a packet of another stream, read on the way to the next of the cursor's own.
    using PacketSink = std::function<void(AVPacket*)>;
    // From now on, the packets of those of `streams` this cursor's demuxer reads as the open
    // did (same kind, codec and time base) go to `sink` as they are read, instead of being
    // passed over: the lossless cut's copy reads the file once for its sound too. The first
    // packet of each is not handed on: a parser that starts where the cursor's demuxer stands
    // (a program stream's) may give the end of a frame as one. Returns those streams; an
    // empty list (or a seek) ends it.
    std::vector<int> handOn(const std::vector<int>& streams, PacketSink sink);

private:
    bool scanTo(int target, bool fromFileStart);
    int readAsStored(AVPacket* into);
    void keepVideoOnly();

    std::shared_ptr<const OpenedSource> source_;
    demux::Input input_;
    int stream_;
    ffmpeg::Packet held_ = ffmpeg::makePacket();
    bool holding_ = false;  // held_ is the packet the next read delivers
    int next_ = 0;
    std::optional<PictureUnpacker> unpacker_;  // for a source with packed B-frames
    std::vector<int> handed_;                  // other streams whose packets go to sink_
    std::vector<int> begun_;                   // those of them whose first packet is read
    PacketSink sink_;
};
