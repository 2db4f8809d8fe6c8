#pragma once
#include <QAudioSink>
#include <QPointer>
#include <memory>

#include "engine/audio/AudioPlayer.h"

// The system's sound output through Qt Multimedia: a QAudioSink in push mode.
class QtAudioSink : public AudioSink {
public:
    QtAudioSink();
    ~QtAudioSink() override;

    int deviceCount() override;
    void selectDevice(int index) override;  // index into the system's outputs; others pick the default
    void setVolume(double linear) override;
    void setBufferDuration(int ms) override;
    bool start(int sampleRate, int channels) override;
    void stop() override;
    qint64 bytesFree() override;
    qint64 write(const char* data, qint64 bytes) override;
    qint64 processedBytes() override;

private:
    std::unique_ptr<QAudioSink> sink_;
    QPointer<QIODevice> device_;  // owned by sink_
    int deviceIndex_ = 0;
    double volume_ = 1.0;
    int bufferMs_ = 500;
    qint64 bytesPerSecond_ = 0;
    qint64 written_ = 0;
};
