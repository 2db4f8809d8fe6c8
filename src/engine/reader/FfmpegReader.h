#pragma once
#include <memory>

#include "engine/common/FrameData.h"
#include "engine/common/MediaTime.h"
#include "engine/common/ScalerCache.h"
#include "engine/common/VideoSource.h"

class VideoTrack;
class AudioTrack;

// The source reader on the FFmpeg libraries: opens whatever FFmpeg can demux and decode.
//
// - OpenFile indexes the video stream's packets without decoding, so FrameCount is exact and
//   every frame can be reached directly; frame numbers are 1-based in presentation order.
// - Times are milliseconds from the first video frame's presentation time (from the audio's
//   start in a file without video).
// - Decoded frames of the current stretch are cached up to a byte budget (256 MiB by
//   default), so stepping back costs no new decoding until the cache runs out.
// - Audio has its own demuxer and position: ReadAudio continues exactly from the last seek.
// - VideoCodecName/AudioCodecName give FFmpeg's long codec names.
// - A file with audio but no video opens with HasVideo false; its audio can be read.
// - Without audio, the audio format reads 44100 Hz, 2 channels, 16 bits and ReadAudio
//   returns nothing, so a player can still be prepared from it.
class FfmpegReader : public VideoSource {
public:
    static constexpr int64_t kDefaultFrameCacheBytes = int64_t(256) << 20;
    // How many decoded frames before a jump's target stay cached.
    static constexpr int kFramesKeptBeforeJump = 2;

    explicit FfmpegReader(int64_t frameCacheBytes = kDefaultFrameCacheBytes);
    ~FfmpegReader() override;

    int32_t OpenFile(const QString& path) override;
    // Reads a source another reader opened: its own decoders and positions on the same held
    // file and index, so it can work on another thread beside that reader. Throws MediaError.
    void OpenSource(std::shared_ptr<const OpenedSource> opened);
    void SetOpenProgress(std::function<bool(int percent)> report) override;
    void CloseFile() override;
    bool HasVideo() const override;
    bool HasAudio() const override;
    QString VideoCodecName() const override;
    QString AudioCodecName() const override;
    int32_t VideoDuration() const override;
    int32_t AudioDuration() const override;
    int32_t VideoBitRate() const override;
    int32_t AudioBitRate() const override;
    int32_t AudioSampleSize() const override;
    int32_t AudioSampleRate() const override;
    int32_t AudioChannels() const override;
    int32_t FrameCount() const override;
    int32_t FrameWidth() const override;
    int32_t FrameHeight() const override;
    double FrameRate() const override;
    FrameTiming FrameTimes(int32_t n) const override;
    int32_t CurrentFrame() const override;
    int32_t VideoTime() const override;
    int32_t AudioTime() const override;
    void SeekFrame(int32_t n) override;
    void SeekTime(int32_t ms) override;
    void SkipFrames(int32_t n) override;
    FrameData ReadVideoFrame() override;
    AudioChunk ReadAudio(int32_t bytes) override;
    void SetSequentialRead(bool on) override;
    void SetDecodeAhead(bool on) override;
    void ReleaseDecoder() override;
    bool NextFrameReady(int32_t later = 0) override;
    void PlayClock(int32_t ms) override;
    std::shared_ptr<const OpenedSource> openedSource() const override;
    std::unique_ptr<VideoSource> OpenSecondReader() const override;

    // Beyond the shared interface, for tests and the benchmark.
    struct Stats {
        int decoderRestarts = 0;  // decoding started afresh at a keyframe
        int framesDecoded = 0;
    };
    Stats stats() const;
    int decoderThreads() const;
    int keyframeCount() const;
    void setFrameCacheBytes(int64_t bytes);
    int64_t frameCacheBytesInUse() const;
    // The packet index: how many packets it holds and the memory it takes.
    int indexedPackets() const;
    int64_t indexMemoryBytes() const;

private:
    struct Source;
    const Source& source() const;  // throws MediaError when nothing is open
    Source& source();
    int32_t frameMs(int n) const;          // where frame n starts, for a caller
    int frameShowingAt(int32_t ms) const;  // the frame on show at ms; past the end: count + 1
    Seconds frameStart(int n) const;       // where frame n starts; n past the last: the video's end
    FrameData pack(const AVFrame* frame, int n);

    std::unique_ptr<Source> source_;
    int64_t frameCacheBytes_;
    bool sequentialRead_ = false;
    // What the window's decoder keeps of the frames it decodes.
    int64_t cacheBytes() const { return sequentialRead_ ? 0 : frameCacheBytes_; }
    std::function<bool(int)> openProgress_;
    ScalerCache converter_;  // only for pictures in a layout frame data cannot hold
};

// The reader the program uses as its source.
std::unique_ptr<VideoSource> createVideoFileReader();
