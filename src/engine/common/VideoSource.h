#pragma once
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

#include "engine/common/AudioChunk.h"
#include "engine/common/FrameBytes.h"
#include "engine/common/MediaError.h"

class OpenedSource;

// Where a frame is shown and for how long, in milliseconds from the reader's time 0.
struct FrameTiming {
    int32_t time = 0;
    int32_t duration = 0;
};

// The media engine's source reader, as the window and the jobs use it. Failures are thrown
// as MediaError, so a test can put any odd or failing reader in its place.
//
// Units: times and durations in milliseconds, frame numbers 1-based.
class VideoSource {
public:
    virtual ~VideoSource() = default;

    virtual int32_t OpenFile(const QString& path) = 0;
    // Called now and then while OpenFile reads the file for its index, with how far it is
    // (0..100); returning false stops the open, which then fails. Empty: not called.
    virtual void SetOpenProgress(std::function<bool(int percent)> report) = 0;
    // Closes the source; does nothing when nothing is open.
    virtual void CloseFile() = 0;
    virtual bool HasVideo() const = 0;
    virtual bool HasAudio() const = 0;
    virtual QString VideoCodecName() const = 0;
    virtual QString AudioCodecName() const = 0;
    virtual int32_t VideoDuration() const = 0;
    virtual int32_t AudioDuration() const = 0;
    virtual int32_t VideoBitRate() const = 0;     // kbit/s
    virtual int32_t AudioBitRate() const = 0;     // kbit/s
    virtual int32_t AudioSampleSize() const = 0;  // bits
    virtual int32_t AudioSampleRate() const = 0;  // Hz
    virtual int32_t AudioChannels() const = 0;
    virtual int32_t FrameCount() const = 0;
    virtual int32_t FrameWidth() const = 0;
    virtual int32_t FrameHeight() const = 0;
    virtual double FrameRate() const = 0;
    // Frame n's presentation time and duration as the file gives them (a frame without a
    // duration of its own lasts one frame at FrameRate). n is 1..FrameCount.
    virtual FrameTiming FrameTimes(int32_t n) const = 0;
    // Number of the last frame read (0 before the first read; FrameCount after the last).
    virtual int32_t CurrentFrame() const = 0;
    // Time of the next frame / next audio sample the reader delivers.
    virtual int32_t VideoTime() const = 0;
    virtual int32_t AudioTime() const = 0;
    // The next ReadVideoFrame returns frame n; audio continues from that frame's time.
    virtual void SeekFrame(int32_t n) = 0;
    // The next ReadVideoFrame returns the frame showing at ms; audio continues from ms.
    virtual void SeekTime(int32_t ms) = 0;
    // Announces that the caller will now read n frames and show none of them.
    virtual void SkipFrames(int32_t n) = 0;
    // The next frame; empty after the last one.
    virtual FrameData ReadVideoFrame() = 0;
    // bytes == 0: one decoded chunk; bytes > 0: about that many bytes. Empty at the end.
    virtual AudioChunk ReadAudio(int32_t bytes) = 0;
    // On: the caller reads frames in order, each once (a cut or split), so decoded frames are
    // not kept for stepping back. Off: they are kept again.
    virtual void SetSequentialRead(bool on) = 0;
    // On: the caller plays the frames in order from where it stands; the reader may decode the
    // next ones ahead of time on another thread, and when the caller falls behind it may leave
    // out frames no other frame refers to (a read then returns a later frame than the one
    // asked for: CurrentFrame tells which). Off: it stops doing so.
    virtual void SetDecodeAhead(bool on) { (void)on; }
    // Whether the next ReadVideoFrame returns without waiting for a decoder (decoding ahead,
    // the frame may still be under way; a player then shows it at a later tick). With `later`,
    // whether the frame that many after the next one is decoded as well.
    virtual bool NextFrameReady(int32_t later = 0) {
        (void)later;
        return true;
    }
    // Playing: the time the clock has reached. A reader decoding ahead that falls far behind it
    // goes on at the first key frame after it, leaving out the frames in between.
    virtual void PlayClock(int32_t ms) { (void)ms; }
    // The opened source the reader holds, for jobs that read its packets themselves; null when
    // nothing is open or the reader holds none (a reader made up for a test).
    virtual std::shared_ptr<const OpenedSource> openedSource() const { return nullptr; }
    // A second reader of the same opened source with positions of its own, for work on another
    // thread beside this one; null when this reader cannot give one (the caller then shares it).
    virtual std::unique_ptr<VideoSource> OpenSecondReader() const { return nullptr; }
    // Gives up the decoder and the frames it keeps until the next read, which makes them
    // again (decoding from the key frame before its frame): for a reader left idle while
    // another does long work. Not while decoding ahead.
    virtual void ReleaseDecoder() {}
};
