#pragma once
#include <QObject>
#include <cstdint>
#include <memory>

#include "engine/common/AudioChunk.h"
#include "engine/common/MediaError.h"

// Where the player's bytes go: the sound device, or a test's own sink. Push model: the
// player writes what the sink can take and asks how much it has played.
class AudioSink {
public:
    virtual ~AudioSink() = default;
    virtual int deviceCount() = 0;
    virtual void selectDevice(int index) = 0;
    virtual void setVolume(double linear) = 0;  // 0..1
    // How much sound the output itself buffers; takes effect at the next start().
    virtual void setBufferDuration(int ms) {}
    // Opens the output for signed 16-bit interleaved samples; false when it cannot.
    virtual bool start(int sampleRate, int channels) = 0;
    virtual void stop() = 0;
    virtual qint64 bytesFree() = 0;                            // how much write() takes now
    virtual qint64 write(const char* data, qint64 bytes) = 0;  // returns bytes taken
    virtual qint64 processedBytes() = 0;                       // played since start()
};

// The sound output. Amounts (MsToSamples, PlayedSamples, QueuedSamples) count sample
// frames, one per channel group, since the last Play or ResetPlayer. Events are Qt signals
// on the thread that owns the player. Behaviour without an output device and the other
// details are described in AudioPlayer.cpp.
class AudioPlayer : public QObject {
    Q_OBJECT
public:
    // Uses the system's sound output through Qt Multimedia.
    AudioPlayer();
    // Uses the given sink (tests).
    explicit AudioPlayer(std::unique_ptr<AudioSink> sink);
    ~AudioPlayer() override;

    int32_t DeviceCount();
    void SetOutputDevice(int32_t index);
    void SetVolume(int32_t volume);  // 0..65535
    void SetBufferCount(int32_t count);
    void SetFormat(int32_t sampleRate, int32_t channels);
    void ResetPlayer(int32_t flags);
    void Play();
    void Stop();
    void QueueSamples(const AudioChunk& chunk);
    int32_t MsToSamples(int32_t ms) const;
    int32_t SamplesToMs(int32_t amount) const;
    int32_t PlayedSamples();
    int32_t QueuedSamples() const;
    // True from a Play that started the output until Stop, ResetPlayer or a failing output.
    bool isPlaying() const;

    // Moves queued samples to the sink and raises the events; the player's own timer calls
    // it, tests may call it directly after advancing their sink.
    void pump();

signals:
    void EndArrayPlay();  // a queued chunk has been played
    void EndPlay();       // playing ended: the queue ran dry after Play

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
