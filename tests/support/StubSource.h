#pragma once
// A source with nothing open that answers every question with a neutral value; tests derive
// from it and give the few answers they need.
#include "engine/common/VideoSource.h"

struct StubSource : VideoSource {
    int32_t OpenFile(const QString&) override { return 0; }
    void SetOpenProgress(std::function<bool(int)>) override {}
    void CloseFile() override {}
    bool HasVideo() const override { return false; }
    bool HasAudio() const override { return false; }
    QString VideoCodecName() const override { return {}; }
    QString AudioCodecName() const override { return {}; }
    int32_t VideoDuration() const override { return 0; }
    int32_t AudioDuration() const override { return 0; }
    int32_t VideoBitRate() const override { return 0; }
    int32_t AudioBitRate() const override { return 0; }
    int32_t AudioSampleSize() const override { return 16; }
    int32_t AudioSampleRate() const override { return 44100; }
    int32_t AudioChannels() const override { return 2; }
    int32_t FrameCount() const override { return 0; }
    int32_t FrameWidth() const override { return 0; }
    int32_t FrameHeight() const override { return 0; }
    double FrameRate() const override { return 0; }
    FrameTiming FrameTimes(int32_t) const override { return {}; }
    int32_t CurrentFrame() const override { return 0; }
    int32_t VideoTime() const override { return 0; }
    int32_t AudioTime() const override { return 0; }
    void SeekFrame(int32_t) override {}
    void SeekTime(int32_t) override {}
    void SkipFrames(int32_t) override {}
    FrameData ReadVideoFrame() override { return {}; }
    AudioChunk ReadAudio(int32_t) override { return {}; }
    void SetSequentialRead(bool) override {}
};
