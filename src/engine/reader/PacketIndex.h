#pragma once
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
    bool discard = false;  // decoded as a reference only; shows no frame
};

// The video stream's packets in decode order and its frames in presentation order, built
// from timestamps alone (no decoding). Frame numbers are 1-based; packet indexes 0-based.
class PacketIndex {
public:
    PacketIndex() = default;
    // reorders: the codec shows frames in another order than it decodes them (B-frames),
    // used to place packets that came without a presentation time.
    // defaultDuration: length of a frame (stream time base) where the stream gives none.
    PacketIndex(std::vector<IndexedPacket> packets, bool reorders, int64_t defaultDuration);

    int packetCount() const { return static_cast<int>(packets_.size()); }
    int frameCount() const { return static_cast<int>(frames_.size()); }
    const IndexedPacket& packet(int index) const { return packets_[index]; }
    bool isKeyPacket(int index) const { return packets_[index].key; }

    int packetOfFrame(int frame) const { return frames_[frame - 1]; }
    int frameOfPacket(int index) const { return frameOfPacket_[index]; }
    // Presentation time of a frame in the stream's time base (completed where missing).
    int64_t frameTime(int frame) const { return times_[frames_[frame - 1]]; }
    int64_t firstTime() const { return frames_.empty() ? 0 : frameTime(1); }
    // End of the last frame: its time plus its duration.
    int64_t endTime() const { return endTime_; }

    // The packet where decoding must start so that the frame comes out right: the last
    // keyframe at or before the frame's packet that is not shown after the frame (leading
    // pictures of an open GOP need the keyframe before their own). 0 when there is none.
    int startPacketFor(int frame) const { return startPacket_[frames_[frame - 1]]; }
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
    // True when no packet had a timestamp: times are then the packet order.
    bool timesFromOrder() const { return timesFromOrder_; }

private:
    std::vector<IndexedPacket> packets_;
    std::vector<int64_t> times_;      // per packet: presentation time (completed)
    std::vector<int> frames_;         // per frame: packet index
    std::vector<int> frameOfPacket_;  // per packet: frame number or 0
    std::vector<int> startPacket_;    // per packet: where decoding starts for it
    std::vector<std::pair<int64_t, int>> byPos_, byPts_, byDts_;
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
