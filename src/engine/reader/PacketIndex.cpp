#include "engine/reader/PacketIndex.h"

#include <algorithm>
#include <iterator>
#include <numeric>

namespace {

constexpr int64_t kNone = IndexedPacket::kNoTime;
// How many keyframes back a frame's decoding start is searched; beyond that the frame is
// decoded from the first packet (only broken timestamps get there).
constexpr int kKeyframeSearchDepth = 16;

// Packet indexes sorted by key, for the keys that identify exactly one packet.
template <typename KeyOf>
std::vector<int32_t> uniqueKeys(const std::vector<IndexedPacket>& packets, KeyOf keyOf) {
    std::vector<std::pair<int64_t, int32_t>> keys;
    for (int i = 0; i < static_cast<int>(packets.size()); ++i) {
        const int64_t key = keyOf(packets[i]);
        if (key != kNone) keys.emplace_back(key, i);
    }
    // Positions and decode times mostly come in order already: then there is nothing to sort.
    if (!std::is_sorted(keys.begin(), keys.end())) std::sort(keys.begin(), keys.end());
    std::vector<int32_t> unique;
    unique.reserve(keys.size());
    for (size_t i = 0; i < keys.size(); ++i) {
        const bool repeated = (i > 0 && keys[i - 1].first == keys[i].first) ||
                              (i + 1 < keys.size() && keys[i + 1].first == keys[i].first);
        if (!repeated) unique.push_back(keys[i].second);
    }
    unique.shrink_to_fit();
    return unique;
}

int32_t clampedDuration(int64_t duration) {
    return static_cast<int32_t>(std::clamp<int64_t>(duration, INT32_MIN, INT32_MAX));
}

}  // namespace

std::vector<int64_t> completePresentationTimes(const std::vector<IndexedPacket>& packets, bool reorders) {
    const size_t n = packets.size();
    std::vector<int64_t> times(n, kNone);
    bool anyTime = false;
    for (size_t i = 0; i < n; ++i) {
        times[i] = packets[i].pts;
        anyTime = anyTime || packets[i].pts != kNone || packets[i].dts != kNone;
    }
    const bool anyMissing =
        std::any_of(packets.begin(), packets.end(), [](const IndexedPacket& p) { return p.pts == kNone; });
    const bool ranked =
        std::all_of(packets.begin(), packets.end(), [](const IndexedPacket& p) { return p.order != kNone; });
    if (anyMissing && ranked) {
        std::vector<size_t> display(n);
        std::iota(display.begin(), display.end(), size_t(0));
        std::stable_sort(display.begin(), display.end(),
                         [&](size_t a, size_t b) { return packets[a].order < packets[b].order; });
        std::vector<int64_t> stamps(n);
        const bool allDts =
            std::all_of(packets.begin(), packets.end(), [](const IndexedPacket& p) { return p.dts != kNone; });
        for (size_t i = 0; i < n; ++i) stamps[i] = allDts ? packets[i].dts : int64_t(i);
        std::sort(stamps.begin(), stamps.end());
        for (size_t k = 0; k < n; ++k) times[display[k]] = stamps[k];
        return times;
    }
    if (!anyTime) {
        std::iota(times.begin(), times.end(), int64_t(0));
        return times;
    }

    if (reorders) {
        // Walk backwards, remembering the decode time of the next reference picture: a packet
        // without a presentation time or one shown later than decoded. Pictures shown at once
        // (B-frames) carry pts == dts.
        int64_t nextReferenceDts = kNone;
        for (size_t i = n; i-- > 0;) {
            const IndexedPacket& p = packets[i];
            if (p.pts == kNone) times[i] = nextReferenceDts;
            const bool reference = p.pts == kNone || p.pts != p.dts;
            if (reference && p.dts != kNone) nextReferenceDts = p.dts;
        }
    } else {
        for (size_t i = 0; i < n; ++i)
            if (times[i] == kNone) times[i] = packets[i].dts;
    }

    // Whatever is still missing (the last reference picture, packets without any timestamp)
    // is shown after everything known so far.
    int64_t latest = kNone;
    for (size_t i = 0; i < n; ++i) {
        latest = std::max({latest, times[i], packets[i].dts});
    }
    for (size_t i = 0; i < n; ++i) {
        if (times[i] != kNone) continue;
        latest = latest == kNone ? 0 : latest + std::max<int64_t>(1, packets[i].duration);
        times[i] = latest;
    }
    return times;
}

std::vector<int64_t> continueAcrossJoins(const std::vector<IndexedPacket>& packets, const std::vector<int64_t>& times,
                                         int64_t frame) {
    const size_t n = packets.size();
    std::vector<size_t> starts;  // of the parts after the first
    int64_t lastDts = kNone;
    for (size_t i = 0; i < n; ++i) {
        if (packets[i].dts == kNone) continue;
        if (lastDts != kNone && packets[i].dts < lastDts) starts.push_back(i);
        lastDts = packets[i].dts;
    }
    if (starts.empty()) return {};
    frame = std::max<int64_t>(1, frame);
    std::vector<int64_t> offsets(n, 0);
    int64_t offset = 0, decoded = kNone, latest = kNone;  // the last decode time, the latest shown, moved
    size_t i = 0;
    for (size_t part = 0; part <= starts.size(); ++part) {
        const size_t end = part < starts.size() ? starts[part] : n;
        if (part > 0) {
            int64_t first = INT64_MAX;
            for (size_t k = i; k < end; ++k) first = std::min(first, times[k]);
            offset = std::max(decoded + frame - packets[i].dts, latest + frame - first);
        }
        for (; i < end; ++i) {
            offsets[i] = offset;
            if (packets[i].dts != kNone) decoded = packets[i].dts + offset;
            latest = std::max(latest, times[i] + offset);
        }
    }
    return offsets;
}

std::vector<int64_t> consistentDecodeTimes(const std::vector<IndexedPacket>& packets, const std::vector<int64_t>& times,
                                           const std::vector<int64_t>& offsets, int64_t frame) {
    const size_t n = packets.size();
    frame = std::max<int64_t>(1, frame);
    std::vector<int64_t> decode(n, kNone);
    size_t firstKnown = n;
    for (size_t i = 0; i < n; ++i) {
        if (packets[i].dts == kNone) continue;
        decode[i] = packets[i].dts + (offsets.empty() ? 0 : offsets[i]);
        firstKnown = std::min(firstKnown, i);
    }
    for (size_t i = 0; i < n; ++i) {
        if (decode[i] != kNone) continue;
        if (i < firstKnown && firstKnown < n)
            decode[i] = decode[firstKnown] - int64_t(firstKnown - i) * frame;
        else
            decode[i] = i > 0 ? std::min(decode[i - 1] + frame, times[i]) : times[i];
    }
    for (size_t i = n; i-- > 0;) {
        decode[i] = std::min(decode[i], times[i]);
        if (i + 1 < n) decode[i] = std::min(decode[i], decode[i + 1] - 1);
    }
    return decode;
}

PacketIndex::PacketIndex(std::vector<IndexedPacket> packets, bool reorders, int64_t defaultDuration,
                         bool clockStepsBack) {
    const int n = static_cast<int>(packets.size());
    std::vector<int64_t> times = completePresentationTimes(packets, reorders);
    const std::vector<int64_t> offsets =
        clockStepsBack ? continueAcrossJoins(packets, times, defaultDuration) : std::vector<int64_t>{};
    for (size_t i = 0; i < offsets.size(); ++i) {
        times[i] += offsets[i];
        if (i > 0 && offsets[i] != offsets[i - 1] && packets[i].pos >= 0)
            joins_.emplace_back(packets[i].pos, offsets[i]);
    }
    decodeTimes_ = consistentDecodeTimes(packets, times, offsets, defaultDuration);
    bool asStored = true;
    for (int i = 0; i < n && asStored; ++i) asStored = decodeTimes_[i] == packets[i].dts;
    if (asStored) decodeTimes_ = {};
    decodeTimes_.shrink_to_fit();
    timesFromOrder_ = std::none_of(packets.begin(), packets.end(),
                                   [](const IndexedPacket& p) { return p.pts != kNone || p.dts != kNone; });
    packets_.reserve(n);
    for (int i = 0; i < n; ++i) {
        const IndexedPacket& p = packets[i];
        const uint32_t size = static_cast<uint32_t>(std::clamp<int32_t>(p.size, 0, kSizeMask));
        const uint32_t flags = (p.key ? kKey : 0) | (p.key && p.cleanStart ? kClean : 0) | (p.discard ? kDiscard : 0);
        packets_.push_back({times[i], p.pts, p.dts, p.pos, clampedDuration(p.duration), size | flags});
    }

    for (int i = 0; i < n; ++i)
        if (!packets[i].discard) frames_.push_back(i);
    std::stable_sort(frames_.begin(), frames_.end(), [&](int a, int b) { return times[a] < times[b]; });
    frames_.shrink_to_fit();
    frameOfPacket_.assign(n, 0);
    for (int f = 0; f < static_cast<int>(frames_.size()); ++f) frameOfPacket_[frames_[f]] = f + 1;

    if (!frames_.empty()) {
        const int last = frames_.back();
        // The packet's own length, unless it is not even half the step from the frame before
        // (FFmpeg's QuickTime demuxer reads every packet of a track of 600 ticks a second as one
        // tick long).
        int64_t duration = packets[last].duration;
        const int64_t step = frames_.size() >= 2 ? times[last] - times[frames_[frames_.size() - 2]] : 0;
        if (duration <= 0 || duration < step / 2) duration = step;
        if (duration <= 0) duration = std::max<int64_t>(0, defaultDuration);
        endTime_ = times[last] + duration;
    }

    byPos_ = uniqueKeys(packets, [](const IndexedPacket& p) { return p.pos >= 0 ? p.pos : kNone; });
    byPts_ = uniqueKeys(packets, [](const IndexedPacket& p) { return p.pts; });
    byDts_ = uniqueKeys(packets, [](const IndexedPacket& p) { return p.dts; });
}

IndexedPacket PacketIndex::packet(int index) const {
    const StoredPacket& s = packets_[index];
    IndexedPacket p;
    p.pts = s.pts;
    p.dts = s.dts;
    p.pos = s.pos;
    p.duration = s.duration;
    p.size = s.size();
    p.key = s.has(kKey);
    p.cleanStart = s.has(kClean);
    p.discard = s.has(kDiscard);
    return p;
}

int64_t PacketIndex::joinOffsetAt(int64_t pos) const {
    const auto after = std::upper_bound(joins_.begin(), joins_.end(), pos,
                                        [](int64_t at, const std::pair<int64_t, int64_t>& j) { return at < j.first; });
    return pos < 0 || after == joins_.begin() ? 0 : std::prev(after)->second;
}

int PacketIndex::startPacketFor(int frame) const {
    const int packet = frames_[frame - 1];
    const int64_t time = packets_[packet].time;
    int depth = 0;
    for (int i = packet; i >= 0 && depth < kKeyframeSearchDepth; --i) {
        if (!packets_[i].has(kKey)) continue;
        if (packets_[i].time <= time) return i;
        ++depth;
    }
    return 0;
}

int PacketIndex::frameShowingAt(int64_t ts) const {
    const auto it = std::upper_bound(frames_.begin(), frames_.end(), ts,
                                     [&](int64_t t, int packet) { return t < packets_[packet].time; });
    return std::max(1, static_cast<int>(it - frames_.begin()));
}

int64_t PacketIndex::keyOf(const std::vector<int32_t>& lookup, int packet) const {
    const StoredPacket& p = packets_[packet];
    return &lookup == &byPos_ ? p.pos : &lookup == &byPts_ ? p.pts : p.dts;
}

std::optional<int> PacketIndex::lookUp(const std::vector<int32_t>& lookup, int64_t key) const {
    const auto it = std::lower_bound(lookup.begin(), lookup.end(), key,
                                     [&](int32_t packet, int64_t k) { return keyOf(lookup, packet) < k; });
    if (it == lookup.end() || keyOf(lookup, *it) != key) return std::nullopt;
    return *it;
}

std::optional<int> PacketIndex::locate(int64_t pos, int64_t pts, int64_t dts) const {
    if (pos >= 0)
        if (auto i = lookUp(byPos_, pos)) return i;
    if (pts != kNone)
        if (auto i = lookUp(byPts_, pts)) return i;
    if (dts != kNone)
        if (auto i = lookUp(byDts_, dts)) return i;
    return std::nullopt;
}

bool PacketIndex::evenlySpaced() const {
    int64_t shortest = INT64_MAX, longest = INT64_MIN;
    for (int frame = 2; frame <= frameCount(); ++frame) {
        const int64_t length = frameTime(frame) - frameTime(frame - 1);
        shortest = std::min(shortest, length);
        longest = std::max(longest, length);
    }
    return frameCount() < 2 || longest - shortest <= 1;
}

int PacketIndex::keyframeCount() const {
    return static_cast<int>(
        std::count_if(packets_.begin(), packets_.end(), [](const StoredPacket& p) { return p.has(kKey); }));
}

int64_t PacketIndex::memoryBytes() const {
    auto bytes = [](const auto& v) { return int64_t(v.capacity() * sizeof(v[0])); };
    return bytes(packets_) + bytes(frames_) + bytes(frameOfPacket_) + bytes(byPos_) + bytes(byPts_) + bytes(byDts_) +
           bytes(decodeTimes_) + bytes(joins_);
}

void markUndecodableStart(std::vector<IndexedPacket>& packets) {
    const auto key = std::find_if(packets.begin(), packets.end(), [](const IndexedPacket& p) { return p.key; });
    if (key == packets.end()) return;
    for (auto p = packets.begin(); p != key; ++p) p->discard = true;
    if (key->pts == kNone) return;
    for (auto p = std::next(key); p != packets.end() && !p->key; ++p)
        if (p->pts != kNone && p->pts < key->pts) p->discard = true;
}
