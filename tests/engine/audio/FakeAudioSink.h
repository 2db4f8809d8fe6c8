#pragma once
#include <QByteArray>
#include <memory>

#include "engine/audio/AudioPlayer.h"

// What a FakeAudioSink has seen and how it behaves; the test keeps it while the player owns
// the sink.
struct FakeSinkState {
    int devices = 1;
    bool canStart = true;
    bool failWrites = false;
    qint64 capacity = 4096;  // bytes the "device" buffers
    bool started = false;
    int starts = 0;
    int stops = 0;
    int sampleRate = 0;
    int channels = 0;
    int selectedDevice = -1;
    double volume = -1;
    int bufferMs = 0;
    QByteArray received;  // everything written since the last start
    qint64 played = 0;    // advanced by the test

    void playAll() { played = received.size(); }
    void playUpTo(qint64 bytes) { played = std::min<qint64>(bytes, received.size()); }
};

// A sound output without a device: takes bytes up to its capacity, reports as played what
// the test says has been played.
class FakeAudioSink : public AudioSink {
public:
    explicit FakeAudioSink(std::shared_ptr<FakeSinkState> state) : s(std::move(state)) {}
    int deviceCount() override { return s->devices; }
    void selectDevice(int index) override { s->selectedDevice = index; }
    void setVolume(double linear) override { s->volume = linear; }
    void setBufferDuration(int ms) override { s->bufferMs = ms; }
    bool start(int sampleRate, int channels) override {
        if (!s->canStart) return false;
        s->started = true;
        ++s->starts;
        s->sampleRate = sampleRate;
        s->channels = channels;
        s->received.clear();
        s->played = 0;
        return true;
    }
    void stop() override {
        s->started = false;
        ++s->stops;
    }
    qint64 bytesFree() override { return s->started ? s->capacity - (s->received.size() - s->played) : 0; }
    qint64 write(const char* data, qint64 bytes) override {
        if (s->failWrites || !s->started) return -1;
        const qint64 n = std::min(bytes, bytesFree());
        s->received.append(data, n);
        return n;
    }
    qint64 processedBytes() override { return s->played; }

private:
    std::shared_ptr<FakeSinkState> s;
};
