#include "engine/reader/PacketIndex.h"

#include <algorithm>
#include <numeric>

namespace {

constexpr int64_t kNone = IndexedPacket::kNoTime;
// How many keyframes back a frame's decoding start is searched; beyond that the frame is
// decoded from the first packet (only broken timestamps get there).
constexpr int kKeyframeSearchDepth = 16;

// Sorted (key, packet) pairs for the keys that identify exactly one packet.
template <typename KeyOf>
std::vector<std::pair<int64_t, int>> uniqueKeys(const std::vector<IndexedPacket>& packets, KeyOf keyOf) {
    std::vector<std::pair<int64_t, int>> keys;
    for (int i = 0; i < static_cast<int>(packets.size()); ++i) {
        const int64_t key = keyOf(packets[i]);
        if (key != kNone) keys.emplace_back(key, i);
    }
    std::sort(keys.begin(), keys.end());
    std::vector<std::pair<int64_t, int>> unique;
    for (size_t i = 0; i < keys.size(); ++i) {
        const bool repeated = (i > 0 && keys[i - 1].first == keys[i].first) ||
                              (i + 1 < keys.size() && keys[i + 1].first == keys[i].first);
        if (!repeated) unique.push_back(keys[i]);
    }
    return unique;
}

std::optional<int> lookUp(const std::vector<std::pair<int64_t, int>>& keys, int64_t key) {
    const auto it = std::lower_bound(keys.begin(), keys.end(), std::make_pair(key, INT32_MIN));
    if (it == keys.end() || it->first != key) return std::nullopt;
    return it->second;
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

PacketIndex::PacketIndex(std::vector<IndexedPacket> packets, bool reorders, int64_t defaultDuration)
    : packets_(std::move(packets)) {
    const int n = static_cast<int>(packets_.size());
    times_ = completePresentationTimes(packets_, reorders);
    timesFromOrder_ = std::none_of(packets_.begin(), packets_.end(),
                                   [](const IndexedPacket& p) { return p.pts != kNone || p.dts != kNone; });

    for (int i = 0; i < n; ++i)
        if (!packets_[i].discard) frames_.push_back(i);
    std::stable_sort(frames_.begin(), frames_.end(), [&](int a, int b) { return times_[a] < times_[b]; });
    frameOfPacket_.assign(n, 0);
    for (int f = 0; f < static_cast<int>(frames_.size()); ++f) frameOfPacket_[frames_[f]] = f + 1;

    startPacket_.assign(n, 0);
    std::vector<int> keys;
    for (int d = 0; d < n; ++d) {
        if (packets_[d].key) keys.push_back(d);
        int depth = 0;
        for (auto it = keys.rbegin(); it != keys.rend() && depth < kKeyframeSearchDepth; ++it, ++depth) {
            if (times_[*it] <= times_[d]) {
                startPacket_[d] = *it;
                break;
            }
        }
    }

    if (!frames_.empty()) {
        const int last = frames_.back();
        int64_t duration = packets_[last].duration;
        if (duration <= 0 && frames_.size() >= 2) duration = times_[last] - times_[frames_[frames_.size() - 2]];
        if (duration <= 0) duration = std::max<int64_t>(0, defaultDuration);
        endTime_ = times_[last] + duration;
    }

    byPos_ = uniqueKeys(packets_, [](const IndexedPacket& p) { return p.pos >= 0 ? p.pos : kNone; });
    byPts_ = uniqueKeys(packets_, [](const IndexedPacket& p) { return p.pts; });
    byDts_ = uniqueKeys(packets_, [](const IndexedPacket& p) { return p.dts; });
}

int PacketIndex::frameShowingAt(int64_t ts) const {
    const auto it =
        std::upper_bound(frames_.begin(), frames_.end(), ts, [&](int64_t t, int packet) { return t < times_[packet]; });
    return std::max(1, static_cast<int>(it - frames_.begin()));
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

int PacketIndex::keyframeCount() const {
    return static_cast<int>(
        std::count_if(packets_.begin(), packets_.end(), [](const IndexedPacket& p) { return p.key; }));
}
