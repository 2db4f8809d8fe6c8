#pragma once
// A reader that passes every call to the real reader; tests derive from it to record calls
// or to make chosen calls fail.
#include <memory>

#include "window/EngineFactory.h"

struct ForwardingReader : VideoSource {
    std::unique_ptr<VideoSource> real = createVideoFileReader();
    int32_t OpenFile(const QString& p) override { return real->OpenFile(p); }
    void SetOpenProgress(std::function<bool(int)> report) override { real->SetOpenProgress(std::move(report)); }
    void CloseFile() override { real->CloseFile(); }
    std::shared_ptr<const OpenedSource> openedSource() const override { return real->openedSource(); }
    bool HasVideo() const override { return real->HasVideo(); }
    bool HasAudio() const override { return real->HasAudio(); }
    QString VideoCodecName() const override { return real->VideoCodecName(); }
    QString AudioCodecName() const override { return real->AudioCodecName(); }
    int32_t VideoDuration() const override { return real->VideoDuration(); }
    int32_t AudioDuration() const override { return real->AudioDuration(); }
    int32_t VideoBitRate() const override { return real->VideoBitRate(); }
    int32_t AudioBitRate() const override { return real->AudioBitRate(); }
    int32_t AudioSampleSize() const override { return real->AudioSampleSize(); }
    int32_t AudioSampleRate() const override { return real->AudioSampleRate(); }
    int32_t AudioChannels() const override { return real->AudioChannels(); }
    int32_t FrameCount() const override { return real->FrameCount(); }
    int32_t FrameWidth() const override { return real->FrameWidth(); }
    int32_t FrameHeight() const override { return real->FrameHeight(); }
    double FrameRate() const override { return real->FrameRate(); }
    FrameTiming FrameTimes(int32_t n) const override { return real->FrameTimes(n); }
    int32_t CurrentFrame() const override { return real->CurrentFrame(); }
    int32_t VideoTime() const override { return real->VideoTime(); }
    int32_t AudioTime() const override { return real->AudioTime(); }
    void SeekFrame(int32_t n) override { real->SeekFrame(n); }
    void SeekTime(int32_t ms) override { real->SeekTime(ms); }
    void SkipFrames(int32_t n) override { real->SkipFrames(n); }
    FrameData ReadVideoFrame() override { return real->ReadVideoFrame(); }
    AudioChunk ReadAudio(int32_t bytes) override { return real->ReadAudio(bytes); }
    void SetSequentialRead(bool on) override { real->SetSequentialRead(on); }
    void SetDecodeAhead(bool on) override { real->SetDecodeAhead(on); }
    bool NextFrameReady(int32_t later) override { return real->NextFrameReady(later); }
    void PlayClock(int32_t ms) override { real->PlayClock(ms); }
};
