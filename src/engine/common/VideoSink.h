#pragma once
#include <QString>
#include <cstdint>

#include "engine/common/AudioChunk.h"
#include "engine/common/CodecSettings.h"
#include "engine/common/ContainerKind.h"
#include "engine/common/FrameBytes.h"
#include "engine/common/MediaError.h"

// What a copy job needs of an output: pictures and sound in, and the file completed.
class FrameSink {
public:
    virtual ~FrameSink() = default;
    virtual void WriteVideoFrame(const FrameData& frame) = 0;
    virtual void WriteAudio(const AudioChunk& chunk) = 0;
    // Completes the file; does nothing when no file is open.
    virtual void CloseFile() = 0;
};

// The media engine's output writer, as the window sets it up. Failures are thrown as
// MediaError.
//
// Order of use: SetVideoFormat / SetAudioFormat describe what will be written; SetHasVideo /
// SetHasAudio say which streams the file gets; the format calls give the output settings;
// CreateFile opens the file; CloseFile completes it.
class VideoSink : public FrameSink {
public:
    virtual void SetHasVideo(bool on) = 0;
    virtual void SetHasAudio(bool on) = 0;
    virtual bool HasVideo() const = 0;
    virtual bool HasAudio() const = 0;
    virtual void SetVideoFormat(int32_t width, int32_t height, double fps) = 0;
    virtual void SetAudioFormat(int32_t rate, int32_t channels) = 0;
    virtual void SetAviVideo(int32_t width, int32_t height, double fps) = 0;
    virtual void SetAudioPCM(int32_t rate, int32_t channels, int32_t bits) = 0;
    virtual void SetAudioADPCM(int32_t rate, int32_t channels) = 0;
    virtual void SetAudioALaw(int32_t rate, int32_t channels) = 0;
    virtual void SetAudioMuLaw(int32_t rate, int32_t channels) = 0;
    virtual void SetAudioGSM(int32_t rate) = 0;
    virtual void SetAudioMP3(int32_t kbps, int32_t rate, int32_t channels) = 0;
    virtual void SetMpegVideo(int32_t version, int32_t kbps, int32_t width, int32_t height, double fps) = 0;
    virtual void SetMpegAudio(int32_t kbps, int32_t rate, int32_t channels) = 0;

    // The AVI video codecs (1-based) and the selected codec's name and settings.
    virtual int32_t VideoCodecCount() const = 0;
    virtual void SetVideoCodec(int32_t index) = 0;
    virtual int32_t VideoCodec() const = 0;
    virtual QString VideoCodecName() const = 0;
    virtual CodecCapabilities VideoCodecCapabilities() const = 0;
    virtual CodecSettings VideoCodecSettings() const = 0;
    // Kept for the selected codec, brought into its ranges.
    virtual void SetVideoCodecSettings(const CodecSettings& settings) = 0;

    // The WMV profiles (1-based).
    virtual int32_t WmvProfileCount() const = 0;
    virtual void SetWmvProfile(int32_t index) = 0;
    virtual int32_t WmvProfile() const = 0;
    virtual QString WmvProfileName() const = 0;

    // Opens a new output file; never replaces an existing file.
    virtual void CreateFile(const QString& path, int32_t container) = 0;
};
