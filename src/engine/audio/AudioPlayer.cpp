// The sound output's bookkeeping over an AudioSink.
//
// - QueueSamples keeps each chunk (whole sample frames only; a trailing partial frame is
//   dropped so the channels stay in step) in a queue; while playing, pump() moves as much
//   as the sink takes. The player's timer calls pump() every 15 ms.
// - Amounts count sample frames since the last Play or ResetPlayer: QueuedSamples all that
//   was queued, PlayedSamples what the sink reports played. Play starts a fresh stream, so
//   both restart there (chunks queued before Play count as queued at Play).
// - EndArrayPlay is raised once per chunk when the sink has played its last sample;
//   EndPlay once when, after Play, something was queued, the queue has run dry and all of
//   it was played, or when the sink fails while playing.
// - Stop stops the sink and drops what was not played yet: afterwards QueuedSamples equals
//   PlayedSamples. ResetPlayer stops and sets both to 0.
// - No output device (or a sink that cannot start): DeviceCount is 0, Play leaves the player
//   stopped and raises no event; QueueSamples still keeps the chunk and counts it, so the
//   bookkeeping reads the same, and Stop or ResetPlayer drop it.
// - Volume 0..65535 maps linearly to 0..1. BufferCount sets the sink's own buffer to
//   count x 10 ms, between 100 ms and 1 s.
#include "engine/audio/AudioPlayer.h"

#include <QTimer>
#include <algorithm>
#include <deque>
#include <limits>

#include "engine/audio/QtAudioSink.h"
#include "engine/common/MediaError.h"

namespace {

constexpr int kPumpIntervalMs = 15;
constexpr int kBytesPerSample = 2;

int32_t clampToInt32(int64_t v) {
    return static_cast<int32_t>(
        std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

// a * num / den rounded to nearest (halves away from zero).
int64_t roundedRatio(int64_t a, int64_t num, int64_t den) {
    const int64_t p = a * num;
    return p >= 0 ? (p + den / 2) / den : -((-p + den / 2) / den);
}

}  // namespace

struct AudioPlayer::Impl {
    struct Pending {
        QByteArray bytes;
        qint64 handedOver = 0;
    };

    std::unique_ptr<AudioSink> sink;
    QTimer* timer = nullptr;
    int sampleRate = 44100;
    int channels = 2;
    bool playing = false;
    bool endPlayRaised = false;
    std::deque<Pending> pending;   // not yet completely handed to the sink
    std::deque<qint64> chunkEnds;  // stream positions of chunk ends not yet reported played
    qint64 queuedBytes = 0;        // stream position after the last queued chunk
    qint64 playedBytes = 0;

    int frameBytes() const { return kBytesPerSample * channels; }

    void refreshPlayed() {
        if (!playing) return;
        // Never backwards, never beyond what was handed over.
        const qint64 handed = queuedBytes - remainingBytes();
        playedBytes = std::clamp(sink->processedBytes(), playedBytes, std::max(playedBytes, handed));
    }

    qint64 remainingBytes() const {
        qint64 n = 0;
        for (const auto& p : pending) n += p.bytes.size() - p.handedOver;
        return n;
    }

    // Hands queued bytes to the sink as far as it takes them; false when the sink failed.
    bool feed() {
        while (!pending.empty()) {
            Pending& front = pending.front();
            const qint64 room = sink->bytesFree();
            if (room <= 0) return true;
            const qint64 n = std::min(room, qint64(front.bytes.size()) - front.handedOver);
            const qint64 taken = sink->write(front.bytes.constData() + front.handedOver, n);
            if (taken < 0) return false;
            if (taken == 0) return true;
            front.handedOver += taken;
            if (front.handedOver >= front.bytes.size()) pending.pop_front();
        }
        return true;
    }

    void halt() {
        if (playing) {
            refreshPlayed();
            sink->stop();
        }
        playing = false;
        timer->stop();
        pending.clear();
        chunkEnds.clear();
        queuedBytes = playedBytes;
    }
};

AudioPlayer::AudioPlayer() : AudioPlayer(std::make_unique<QtAudioSink>()) {}

AudioPlayer::AudioPlayer(std::unique_ptr<AudioSink> sink) : d(std::make_unique<Impl>()) {
    d->sink = std::move(sink);
    d->timer = new QTimer(this);
    d->timer->setInterval(kPumpIntervalMs);
    connect(d->timer, &QTimer::timeout, this, &AudioPlayer::pump);
}

AudioPlayer::~AudioPlayer() {
    if (d->playing) d->sink->stop();
}

int32_t AudioPlayer::DeviceCount() { return std::max(0, d->sink->deviceCount()); }

void AudioPlayer::SetOutputDevice(int32_t index) { d->sink->selectDevice(index); }

void AudioPlayer::SetVolume(int32_t volume) { d->sink->setVolume(std::clamp(volume, 0, 65535) / 65535.0); }

void AudioPlayer::SetBufferCount(int32_t count) {
    d->sink->setBufferDuration(std::clamp<int64_t>(int64_t(count) * 10, 100, 1000));
}

void AudioPlayer::SetFormat(int32_t sampleRate, int32_t channels) {
    if (sampleRate < 1000 || sampleRate > 384000 || channels < 1 || channels > 8)
        throw MediaError(
            QStringLiteral("The sound format %1 Hz with %2 channels cannot be played.").arg(sampleRate).arg(channels));
    if (sampleRate == d->sampleRate && channels == d->channels) return;
    // Queued bytes belong to the old format.
    Stop();
    d->sampleRate = sampleRate;
    d->channels = channels;
    d->queuedBytes = d->playedBytes = 0;
}

void AudioPlayer::ResetPlayer(int32_t flags) {
    Stop();
    d->queuedBytes = d->playedBytes = 0;
}

void AudioPlayer::Play() {
    if (d->playing) return;
    if (!d->sink->start(d->sampleRate, d->channels)) return;
    d->playing = true;
    d->endPlayRaised = false;
    // A fresh stream: what is waiting in the queue starts at position 0.
    d->playedBytes = 0;
    d->queuedBytes = 0;
    d->chunkEnds.clear();
    for (const auto& p : d->pending) d->chunkEnds.push_back(d->queuedBytes += p.bytes.size());
    d->timer->start();
    pump();
}

void AudioPlayer::Stop() { d->halt(); }

void AudioPlayer::QueueSamples(const AudioChunk& chunk) {
    const size_t usable = chunk.size() - chunk.size() % size_t(d->channels);
    if (usable == 0) return;
    d->pending.push_back(
        {QByteArray(reinterpret_cast<const char*>(chunk.data()), qsizetype(usable * kBytesPerSample))});
    d->queuedBytes += qint64(usable) * kBytesPerSample;
    d->chunkEnds.push_back(d->queuedBytes);
    d->endPlayRaised = false;
    if (d->playing && !d->feed()) pump();  // pump reports the failure
}

int32_t AudioPlayer::MsToSamples(int32_t ms) const { return clampToInt32(roundedRatio(ms, d->sampleRate, 1000)); }

int32_t AudioPlayer::SamplesToMs(int32_t amount) const {
    return clampToInt32(roundedRatio(amount, 1000, d->sampleRate));
}

int32_t AudioPlayer::PlayedSamples() {
    d->refreshPlayed();
    return clampToInt32(d->playedBytes / d->frameBytes());
}

int32_t AudioPlayer::QueuedSamples() const { return clampToInt32(d->queuedBytes / d->frameBytes()); }

bool AudioPlayer::isPlaying() const { return d->playing; }

void AudioPlayer::pump() {
    if (!d->playing) return;
    if (!d->feed()) {
        d->halt();
        emit EndPlay();
        return;
    }
    d->refreshPlayed();
    // A handler may queue more, stop or reset; re-check the state after every event.
    while (d->playing && !d->chunkEnds.empty() && d->chunkEnds.front() <= d->playedBytes) {
        d->chunkEnds.pop_front();
        emit EndArrayPlay();
    }
    if (d->playing && !d->endPlayRaised && d->queuedBytes > 0 && d->pending.empty() && d->chunkEnds.empty()) {
        d->endPlayRaised = true;
        emit EndPlay();
    }
}
