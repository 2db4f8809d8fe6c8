#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

// One video packet as the demuxer delivered it while the file was indexed, in decode order.
struct IndexedPacket {
    static constexpr int64_t kNoTime = INT64_MIN;  // same value as AV_NOPTS_VALUE
    int64_t pts = kNoTime;
    int64_t dts = kNoTime;
    int64_t pos = -1;      // byte position in the file, -1 when unknown
    int64_t duration = 0;  // stream time base, 0 when unknown
    int32_t size = 0;      // bytes
    // Display rank from the bitstream (picture order count), kNoTime when not read. Used
    // only where the container gives no presentation times.
    int64_t order = kNoTime;
    bool key = false;
    bool cleanStart = true;  // with key: a keyframe where decoding starts cleanly (no open group before it)
    bool discard = false;    // decoded as a reference only; shows no frame
};

// The video stream's packets in decode order and its frames in presentation order, built
// from timestamps alone (no decoding). Frame numbers are 1-based; packet indexes 0-based.
class PacketIndex {
public:
    PacketIndex() = default;
    // reorders: the codec shows frames in another order than it decodes them (B-frames),
    // used to place packets that came without a presentation time.
    // defaultDuration: length of a frame (stream time base) where the stream gives none.
    // clockStepsBack: the container's clock may start again within the file (a transport or
    // program stream; recordings joined end to end): where the decode times step back, the
    // packets from there on continue the time line (see continueAcrossJoins).
    PacketIndex(std::vector<IndexedPacket> packets, bool reorders, int64_t defaultDuration,
                bool clockStepsBack = false);

    int packetCount() const { return static_cast<int>(packets_.size()); }
    int frameCount() const { return static_cast<int>(frames_.size()); }
    // The packet as it was indexed (its display rank is not kept).
    IndexedPacket packet(int index) const;
    bool isKeyPacket(int index) const { return packets_[index].has(kKey); }
    // A keyframe packet where decoding starts cleanly: nothing after it refers to what came before.
    bool isCleanStart(int index) const { return packets_[index].has(kClean); }

    int packetOfFrame(int frame) const { return frames_[frame - 1]; }
    int frameOfPacket(int index) const { return frameOfPacket_[index]; }
    // Presentation time of a frame in the stream's time base (completed where missing, moved
    // to continue the time line after a join).
    int64_t frameTime(int frame) const { return packets_[frames_[frame - 1]].time; }
    // Decode time of a packet on the frames' time line: never missing, rising from packet to
    // packet and never after the packet's presentation time, as a muxer takes them (see
    // consistentDecodeTimes).
    int64_t decodeTime(int index) const { return decodeTimes_.empty() ? packets_[index].dts : decodeTimes_[index]; }
    // How far (stream time base) the part of the file at byte position `pos` was moved to
    // continue the time line, for the other streams' packets there: a part starts at its first
    // video packet. 0 where the clock never stepped back or the position is unknown.
    int64_t joinOffsetAt(int64_t pos) const;
    int64_t firstTime() const { return frames_.empty() ? 0 : frameTime(1); }
    // End of the last frame: its time plus its duration.
    int64_t endTime() const { return endTime_; }
    // How long a frame shows: until the next frame, the last one until endTime(); at least a tick.
    int64_t frameDuration(int frame) const {
        return std::max<int64_t>(1, (frame < frameCount() ? frameTime(frame + 1) : endTime_) - frameTime(frame));
    }

    // The packet where decoding must start so that the frame comes out right: the last
    // keyframe at or before the frame's packet that is not shown after the frame (leading
    // pictures of an open GOP need the keyframe before their own). 0 when there is none.
    int startPacketFor(int frame) const;
    // True when decoding from startPacket onward produces this frame correctly.
    bool decodableFrom(int frame, int startPacket) const { return startPacketFor(frame) >= startPacket; }

    // The last frame whose presentation time is at or before ts; 1 when ts lies before the
    // first frame. Requires at least one frame.
    int frameShowingAt(int64_t ts) const;

    // The packet the demuxer just delivered, found by its byte position, else its
    // presentation time, else its decode time. nullopt when nothing matches one packet.
    std::optional<int> locate(int64_t pos, int64_t pts, int64_t dts) const;

    // Number of keyframe packets.
    int keyframeCount() const;
    // True when every frame lasts as long as the others, to a tick (a time base too coarse
    // for the rate rounds some frames up); with fewer than two frames, true.
    bool evenlySpaced() const;
    // True when no packet had a timestamp: times are then the packet order.
    bool timesFromOrder() const { return timesFromOrder_; }
    // Memory the index holds, in bytes.
    int64_t memoryBytes() const;

private:
    // A packet as the index keeps it: 40 bytes, so a two-hour source's index stays small.
    struct StoredPacket {
        int64_t time;  // presentation time, completed where the packet had none
        int64_t pts;
        int64_t dts;
        int64_t pos;
        int32_t duration;
        uint32_t sizeAndFlags;  // the size in the low 29 bits, then kClean, kKey and kDiscard
        int32_t size() const { return static_cast<int32_t>(sizeAndFlags & kSizeMask); }
        bool has(uint32_t flag) const { return sizeAndFlags & flag; }
    };
    static constexpr uint32_t kSizeMask = (1u << 29) - 1, kClean = 1u << 29, kKey = 1u << 30, kDiscard = 1u << 31;
    static_assert(sizeof(StoredPacket) == 40);
    int64_t keyOf(const std::vector<int32_t>& lookup, int packet) const;
    std::optional<int> lookUp(const std::vector<int32_t>& lookup, int64_t key) const;

    std::vector<StoredPacket> packets_;
    std::vector<int32_t> frames_;         // per frame: packet index
    std::vector<int32_t> frameOfPacket_;  // per packet: frame number or 0
    // Packet indexes sorted by byte position, presentation and decode time; only keys that
    // identify exactly one packet.
    std::vector<int32_t> byPos_, byPts_, byDts_;
    // Per packet, where they are not the stored decode times; empty for the usual source.
    std::vector<int64_t> decodeTimes_;
    // Per part after the first: the byte position of its first video packet, its offset.
    std::vector<std::pair<int64_t, int64_t>> joins_;
    int64_t endTime_ = 0;
    bool timesFromOrder_ = false;
};

// Presentation times for packets in decode order. Where presentation times are missing:
// - with a display rank for every packet, the decode times (else the ranks) are handed out
//   in display order;
// - else, when the codec reorders, the MPEG rule applies (a reference picture is shown when
//   the next reference picture is decoded: it takes that picture's decode time);
// - else the decode time; with no timestamps at all the packet order is used.
std::vector<int64_t> completePresentationTimes(const std::vector<IndexedPacket>& packets, bool reorders);

// Where the decode times step back (recordings joined end to end, a clock that starts again,
// a time stamp that wraps unnoticed), the packets from there to the next such place are moved
// by one offset so that they continue the time line: their first decode time one frame
// (`frame` ticks) after the last one before, and their presentation times after every one
// before. Returns each packet's offset; empty when the clock never steps back.
std::vector<int64_t> continueAcrossJoins(const std::vector<IndexedPacket>& packets, const std::vector<int64_t>& times,
                                         int64_t frame);

// Decode times a muxer takes for packets in decode order with presentation times `times`: the
// packets' own (moved by `offsets` where given); before the first packet that has one, one
// frame less each; elsewhere where missing, one frame after the one before at most and never
// after the packet's own time; then lowered, from the last packet back, where one would not
// come before the next or would come after its own presentation time (a demuxer that gave
// the first packets of a Matroska file their presentation times as decode times).
std::vector<int64_t> consistentDecodeTimes(const std::vector<IndexedPacket>& packets, const std::vector<int64_t>& times,
                                           const std::vector<int64_t>& offsets, int64_t frame);

// A recording that begins inside a group of pictures: the pictures before its first keyframe
// (in decode order) and those shown before that keyframe but decoded after it (the leading
// pictures of an open group, which refer to the group the recording lacks) are marked as
// shown nowhere, as decoders show none of them. Packets without a presentation time are not
// taken for leading pictures. A stream without keyframes stays as it is.
void markUndecodableStart(std::vector<IndexedPacket>& packets);
