#pragma once
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "engine/common/AudioChunk.h"
#include "engine/common/FfmpegHandles.h"
#include "engine/common/MediaError.h"
#include "engine/common/MediaTime.h"
#include "engine/reader/Demux.h"
#include "engine/reader/OpenedSource.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}

// The reader's audio: its own demuxer on the file (so reading audio never moves the video's
// demuxer), a decoder and a converter to interleaved signed 16-bit samples at the source's
// rate with at most two channels. The demuxer is opened at the first read, so an open that
// only looks at a file does not parse its header twice.
//
// Positions count sample frames from the reader's time zero (the first video frame). The
// delivered samples form one continuous stream from the last seek: decoded audio is trimmed
// to the exact sample, and gaps in the source's timestamps are filled with silence so that
// sound stays in step with the pictures.
class AudioTrack {
public:
    // The audio of the opened source. zero is the source time that counts as 0; start where the
    // audio begins (for telling a landing that is too late from audio that has not started yet).
    // Throws MediaError when it cannot be decoded.
    AudioTrack(std::shared_ptr<const OpenedSource> source, Seconds zero, Seconds start);
    ~AudioTrack();
    AudioTrack(const AudioTrack&) = delete;
    AudioTrack& operator=(const AudioTrack&) = delete;

    int sampleRate() const { return rate_; }
    int channels() const { return channels_; }
    // Next sample frame ReadAudio delivers.
    SampleIndex position() const { return {seekTarget_ ? *seekTarget_ : position_}; }
    // Continues from this sample frame at the next read (seeks only when it must).
    void seek(SampleIndex sample);
    // bytes == 0: one decoded chunk; bytes > 0: about that many bytes, whole sample frames.
    // Empty when the audio has ended.
    AudioChunk read(int32_t bytes);

private:
    void openInput();
    void moveTo(int64_t sample);
    void applySeek(int64_t sample, int attempt);
    bool rewindInput();
    void compactPending();
    bool decodeMore();
    bool readPacket();
    void place(const AVFrame* frame);
    bool convert(const AVFrame* frame, std::vector<int16_t>* out);
    int64_t pendingFrames() const { return int64_t(pending_.size() - pendingOffset_) / channels_; }

    QString path_;
    std::shared_ptr<const OpenedSource> source_;
    demux::Input input_;  // opened at the first read
    int stream_ = -1;
    AVRational timeBase_{1, 1};
    ffmpeg::Codec decoder_;
    ffmpeg::Resampler resampler_;
    AVChannelLayout resamplerInput_{};
    int resamplerFormat_ = -1;
    int resamplerRate_ = 0;
    ffmpeg::Packet packet_ = ffmpeg::makePacket();
    ffmpeg::Frame frame_ = ffmpeg::makeFrame();

    int rate_ = 0;
    int channels_ = 0;
    Seconds zero_;
    int64_t startSample_ = 0;  // where the source's audio begins, from zero

    int64_t position_ = 0;          // next sample frame delivered
    int64_t decodedEnd_ = 0;        // sample frame after the last one placed in pending_
    std::vector<int16_t> pending_;  // decoded, not yet delivered
    size_t pendingOffset_ = 0;      // samples of pending_ already delivered
    std::optional<int64_t> seekTarget_;
    bool resync_ = true;  // the next decoded frame fixes the position by its timestamp
    int seekAttempt_ = 0;
    int64_t seekSample_ = 0;  // target of the last seek, for a retry from further back
    bool sentEnd_ = false;
    bool ended_ = false;
};
