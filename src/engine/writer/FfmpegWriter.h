#pragma once
#include <memory>

#include "engine/common/FrameData.h"
#include "engine/common/VideoSink.h"
#include "engine/writer/OutputPlan.h"

class OutputFile;

// The output writer: AVI (a choice of video codecs, six audio formats), MPEG program streams
// (MPEG-1 or MPEG-2 video with MP2 audio) and WMV (ASF with WMV 8 and WMA 2, named profiles),
// on the FFmpeg libraries.
//
// Order of use: SetVideoFormat / SetAudioFormat describe what WriteVideoFrame and WriteAudio will
// deliver; SetHasVideo / SetHasAudio say which streams the file gets; the format calls give the
// output settings; CreateFile opens the file; CloseFile completes it. The object can then be set
// up again for another file. The AVI codec and each codec's settings are kept between files.
class FfmpegWriter : public VideoSink {
public:
    FfmpegWriter();
    ~FfmpegWriter() override;

    void SetHasVideo(bool on) override { hasVideo_ = on; }
    void SetHasAudio(bool on) override { hasAudio_ = on; }
    bool HasVideo() const override { return hasVideo_; }
    bool HasAudio() const override { return hasAudio_; }
    void SetVideoFormat(int32_t width, int32_t height, double fps) override;
    void SetAudioFormat(int32_t rate, int32_t channels) override;
    void SetAviVideo(int32_t width, int32_t height, double fps) override;
    void SetAudioPCM(int32_t rate, int32_t channels, int32_t bits) override;
    void SetAudioADPCM(int32_t rate, int32_t channels) override;
    void SetAudioALaw(int32_t rate, int32_t channels) override;
    void SetAudioMuLaw(int32_t rate, int32_t channels) override;
    void SetAudioGSM(int32_t rate) override;
    void SetAudioMP3(int32_t kbps, int32_t rate, int32_t channels) override;
    void SetMpegVideo(int32_t version, int32_t kbps, int32_t width, int32_t height, double fps) override;
    void SetMpegAudio(int32_t kbps, int32_t rate, int32_t channels) override;

    int32_t VideoCodecCount() const override;
    void SetVideoCodec(int32_t index) override;
    int32_t VideoCodec() const override;
    QString VideoCodecName() const override;
    CodecCapabilities VideoCodecCapabilities() const override;
    CodecSettings VideoCodecSettings() const override;
    void SetVideoCodecSettings(const CodecSettings& settings) override;

    int32_t WmvProfileCount() const override;
    void SetWmvProfile(int32_t index) override;
    int32_t WmvProfile() const override;
    QString WmvProfileName() const override;

    void CreateFile(const QString& path, int32_t container) override;
    void WriteVideoFrame(const FrameData& frame) override;
    void WriteAudio(const AudioChunk& chunk) override;
    void CloseFile() override;

    // The settings of AVI codec index (1-based), as the dialog edits them.
    CodecSettings codecSettings(int index) const;
    void setCodecSettings(int index, const CodecSettings& settings);
    // What CreateFile would write for a container with the current settings.
    OutputPlan plan(int container) const;
    bool isOpen() const { return file_ != nullptr; }
    // Makes the files created from now on fail every write beyond this many bytes, as a full disk
    // would (negative: no limit). For tests.
    void setWriteLimitForTesting(int64_t bytes) { writeLimit_ = bytes; }

private:
    void checkCodecIndex(int index) const;
    void requireFile() const;

    bool hasVideo_ = false;
    bool hasAudio_ = false;
    WriterSettings settings_;
    std::unique_ptr<OutputFile> file_;
    int64_t writeLimit_ = -1;
    QString createFailure_;  // why the last CreateFile made no file; empty after a success
};

// The engine's output writer object.
std::unique_ptr<VideoSink> createVideoFileWriter();
