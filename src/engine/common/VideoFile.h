#pragma once
#include <QString>
#include <cstdint>
#include <vector>

#include "engine/common/FrameData.h"
#include "engine/common/MediaError.h"

// Interleaved signed 16-bit samples at the source's rate and channel count. An empty chunk
// means "no more audio".
using AudioChunk = std::vector<int16_t>;

// Container kinds of CreateFile.
enum ContainerKind : int32_t { kContainerAvi = 1, kContainerMpeg = 2, kContainerWmv = 3 };

// The media engine's video file object. The window holds two: the source reader and the
// output writer. Both sides share this one interface; an object answers the operations of
// its own side and throws MediaError for the others, so a test can put any odd or failing
// object in place of either.
//
// Units: times and durations in milliseconds, frame numbers 1-based, booleans as bool.
class VideoFile {
public:
    virtual ~VideoFile() = default;

    // ---- reader side ----
    virtual int32_t OpenFile(const QString& path) { unsupported("OpenFile"); return 0; }
    virtual bool HasVideo() const { return hasVideo_; }
    virtual bool HasAudio() const { return hasAudio_; }
    // The reader names the source's video codec; the writer names its selected AVI codec.
    virtual QString VideoCodecName() const { unsupported("VideoCodecName"); return {}; }
    virtual QString AudioCodecName() const { unsupported("AudioCodecName"); return {}; }
    virtual int32_t VideoDuration() const { unsupported("VideoDuration"); return 0; }
    virtual int32_t AudioDuration() const { unsupported("AudioDuration"); return 0; }
    virtual int32_t VideoBitRate() const { unsupported("VideoBitRate"); return 0; }  // kbit/s
    virtual int32_t AudioBitRate() const { unsupported("AudioBitRate"); return 0; }  // kbit/s
    virtual int32_t AudioSampleSize() const { unsupported("AudioSampleSize"); return 0; }  // bits
    virtual int32_t AudioSampleRate() const { unsupported("AudioSampleRate"); return 0; }  // Hz
    virtual int32_t AudioChannels() const { unsupported("AudioChannels"); return 0; }
    virtual int32_t FrameCount() const { unsupported("FrameCount"); return 0; }
    virtual int32_t FrameWidth() const { unsupported("FrameWidth"); return 0; }
    virtual int32_t FrameHeight() const { unsupported("FrameHeight"); return 0; }
    virtual double FrameRate() const { unsupported("FrameRate"); return 0; }
    // Number of the last frame read (0 before the first read; FrameCount after the last).
    virtual int32_t CurrentFrame() const { unsupported("CurrentFrame"); return 0; }
    // Time of the next frame / next audio sample the reader delivers.
    virtual int32_t VideoTime() const { unsupported("VideoTime"); return 0; }
    virtual int32_t AudioTime() const { unsupported("AudioTime"); return 0; }
    // The next ReadVideoFrame returns frame n; audio continues from that frame's time.
    virtual void SeekFrame(int32_t n) { unsupported("SeekFrame"); }
    // The next ReadVideoFrame returns the frame showing at ms; audio continues from ms.
    virtual void SeekTime(int32_t ms) { unsupported("SeekTime"); }
    // Announces that the caller will now read n frames and show none of them.
    virtual void SkipFrames(int32_t n) { unsupported("SkipFrames"); }
    // The next frame; empty after the last one.
    virtual FrameData ReadVideoFrame() { unsupported("ReadVideoFrame"); return {}; }
    // bytes == 0: one decoded chunk; bytes > 0: about that many bytes. Empty at the end.
    virtual AudioChunk ReadAudio(int32_t bytes) { unsupported("ReadAudio"); return {}; }

    // Closes whatever the object has open (the source, or completes the output file).
    // Does nothing when nothing is open.
    virtual void CloseFile() {}

    // ---- writer side ----
    virtual void SetHasVideo(bool on) { hasVideo_ = on; }
    virtual void SetHasAudio(bool on) { hasAudio_ = on; }
    virtual void SetVideoFormat(int32_t width, int32_t height, double fps) { unsupported("SetVideoFormat"); }
    virtual void SetAudioFormat(int32_t rate, int32_t channels) { unsupported("SetAudioFormat"); }
    virtual void SetAviVideo(int32_t width, int32_t height, double fps) { unsupported("SetAviVideo"); }
    virtual void SetAudioPCM(int32_t rate, int32_t channels, int32_t bits) { unsupported("SetAudioPCM"); }
    virtual void SetAudioADPCM(int32_t rate, int32_t channels) { unsupported("SetAudioADPCM"); }
    virtual void SetAudioALaw(int32_t rate, int32_t channels) { unsupported("SetAudioALaw"); }
    virtual void SetAudioMuLaw(int32_t rate, int32_t channels) { unsupported("SetAudioMuLaw"); }
    virtual void SetAudioGSM(int32_t rate) { unsupported("SetAudioGSM"); }
    virtual void SetAudioMP3(int32_t kbps, int32_t rate, int32_t channels) { unsupported("SetAudioMP3"); }
    virtual void SetMpegVideo(int32_t version, int32_t kbps, int32_t width, int32_t height, double fps) {
        unsupported("SetMpegVideo");
    }
    virtual void SetMpegAudio(int32_t kbps, int32_t rate, int32_t channels) { unsupported("SetMpegAudio"); }
    virtual int32_t VideoCodecCount() const { unsupported("VideoCodecCount"); return 0; }
    virtual void SetVideoCodec(int32_t index) { unsupported("VideoCodec"); }  // 1-based
    virtual int32_t VideoCodec() const { unsupported("VideoCodec"); return 0; }
    virtual int32_t ConfigureVideoCodec() { unsupported("ConfigureVideoCodec"); return 0; }
    virtual int32_t WmvProfileCount() const { unsupported("WmvProfileCount"); return 0; }
    virtual void SetWmvProfile(int32_t index) { unsupported("WmvProfile"); }  // 1-based
    virtual int32_t WmvProfile() const { unsupported("WmvProfile"); return 0; }
    virtual QString WmvProfileName() const { unsupported("WmvProfileName"); return {}; }
    // Opens a new output file; never replaces an existing file.
    virtual void CreateFile(const QString& path, int32_t container) { unsupported("CreateFile"); }
    virtual void WriteVideoFrame(const FrameData& frame) { unsupported("WriteVideoFrame"); }
    virtual void WriteAudio(const AudioChunk& chunk) { unsupported("WriteAudio"); }

protected:
    [[noreturn]] static void unsupported(const char* operation) {
        throw MediaError(QStringLiteral("%1 is not available on this video file object").arg(operation));
    }
    bool hasVideo_ = false;
    bool hasAudio_ = false;
};
