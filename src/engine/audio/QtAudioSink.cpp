#include "engine/audio/QtAudioSink.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QMediaDevices>
#include <algorithm>

QtAudioSink::QtAudioSink() = default;

QtAudioSink::~QtAudioSink() { stop(); }

int QtAudioSink::deviceCount() { return static_cast<int>(QMediaDevices::audioOutputs().size()); }

void QtAudioSink::selectDevice(int index) { deviceIndex_ = index; }

void QtAudioSink::setVolume(double linear) {
    volume_ = linear;
    if (sink_) sink_->setVolume(linear);
}

void QtAudioSink::setBufferDuration(int ms) { bufferMs_ = ms; }

bool QtAudioSink::start(int sampleRate, int channels) {
    stop();
    const QList<QAudioDevice> outputs = QMediaDevices::audioOutputs();
    if (outputs.isEmpty()) return false;
    const QAudioDevice device = deviceIndex_ >= 0 && deviceIndex_ < outputs.size()
                                    ? outputs[deviceIndex_]
                                    : QMediaDevices::defaultAudioOutput();
    QAudioFormat format;
    format.setSampleRate(sampleRate);
    format.setChannelCount(channels);
    format.setSampleFormat(QAudioFormat::Int16);
    if (device.isNull() || !device.isFormatSupported(format)) return false;

    sink_ = std::make_unique<QAudioSink>(device, format);
    bytesPerSecond_ = qint64(sampleRate) * channels * 2;
    sink_->setBufferSize(static_cast<qsizetype>(bytesPerSecond_ * bufferMs_ / 1000));
    sink_->setVolume(volume_);
    device_ = sink_->start();
    written_ = 0;
    if (!device_ || sink_->error() != QAudio::NoError) {
        stop();
        return false;
    }
    return true;
}

void QtAudioSink::stop() {
    if (sink_) sink_->stop();
    sink_.reset();
    device_ = nullptr;
}

qint64 QtAudioSink::bytesFree() { return sink_ && device_ ? sink_->bytesFree() : 0; }

qint64 QtAudioSink::write(const char* data, qint64 bytes) {
    if (!sink_ || !device_ || sink_->error() == QAudio::FatalError || sink_->error() == QAudio::OpenError) return -1;
    const qint64 taken = device_->write(data, bytes);
    if (taken > 0) written_ += taken;
    return taken;
}

qint64 QtAudioSink::processedBytes() {
    if (!sink_) return 0;
    // Idle in push mode means the output ran dry: everything written has been played.
    if (sink_->state() == QAudio::IdleState) return written_;
    // The played position: the output's processed time (on PulseAudio the server's read
    // position less the device's latency, interpolated between timing updates), never more
    // than was written less what the output still buffers, which has not been played.
    const qint64 processed = sink_->processedUSecs() * bytesPerSecond_ / 1000000;
    const qint64 buffered = std::max<qint64>(0, sink_->bufferSize() - sink_->bytesFree());
    return std::clamp<qint64>(std::min(processed, written_ - buffered), 0, written_);
}
