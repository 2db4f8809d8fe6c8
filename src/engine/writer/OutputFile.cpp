#include "engine/writer/OutputFile.h"

#include "engine/common/MediaError.h"

OutputFile::OutputFile(const QString& path, const OutputPlan& plan, int64_t writeLimit) : path_(path) {
    const AVOutputFormat* format = outputFormatNamed(plan.muxer.c_str());
    if (!format)
        throw MediaError(QStringLiteral("The %1 container is not available").arg(QString::fromStdString(plan.muxer)));
    container_ = std::make_unique<OutputContainer>(path, format, writeLimit);
    try {
        if (plan.video) video_ = std::make_unique<VideoEncoder>(container_->muxer(), *plan.video);
        if (plan.audio) audio_ = std::make_unique<AudioEncoder>(container_->muxer(), *plan.audio);
        ffmpeg::Dictionary options;
        for (const auto& [key, value] : plan.muxerOptions) ffmpeg::setOption(options, key.c_str(), value.c_str());
        // Whether the container takes these streams is known now; with video, the header waits
        // for the first picture, which tells the source's shape and field order.
        container_->create(std::move(options));
        if (!video_) container_->start();
    } catch (...) {
        release();
        throw;
    }
}

OutputFile::~OutputFile() {
    try {
        finish();
    } catch (...) {
    }
}

template <typename F>
void OutputFile::guarded(F&& step) {
    if (!failure_.isEmpty()) throw MediaError(failure_);
    try {
        step();
    } catch (const MediaError& e) {
        failure_ = e.description();
        throw;
    } catch (const std::exception& e) {
        failure_ = QStringLiteral("Writing %1 failed: %2").arg(path_, QString::fromLocal8Bit(e.what()));
        throw MediaError(failure_);
    }
}

void OutputFile::writeVideo(const FrameView& frame) {
    if (!video_) return;
    guarded([&] {
        if (!container_->started()) {
            video_->adoptSource(
                {frame.width(), frame.height(), {frame.header.sarNum, frame.header.sarDen}, frame.header.fieldOrder});
            container_->start();
        }
        video_->write(frame);
    });
}

void OutputFile::writeAudio(const int16_t* samples, int64_t count) {
    if (audio_) guarded([&] { audio_->write(samples, count); });
}

void OutputFile::finish() {
    if (!container_) return;
    if (!failure_.isEmpty()) {
        release();  // a file that stopped short of its end is removed
        return;
    }
    try {
        guarded([&] {
            if (!container_->started()) container_->start();  // no picture came: the file as planned
            if (video_) video_->finish();
            if (audio_) audio_->finish();
            container_->finish();
        });
    } catch (...) {
        release();
        throw;
    }
    release();
}

void OutputFile::release() noexcept {
    video_.reset();
    audio_.reset();
    if (container_) container_->abandon();
    container_.reset();
}
