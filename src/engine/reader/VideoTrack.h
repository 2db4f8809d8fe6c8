#pragma once
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

#include "engine/common/FfmpegHandles.h"
#include "engine/reader/FrameCache.h"
#include "engine/reader/PacketCursor.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

// The reader's video: the demuxer that indexed the file, the decoder and the cache of
// decoded frames. Hands out any frame by number, frame-exact.
//
// Decoding runs from a start packet forward. Every packet sent to the decoder carries its
// own index as its timestamp, so each decoded picture says which packet it came from, and
// the index turns that into its frame number whatever the container's timestamps were.
class VideoTrack {
public:
    struct Stats {
        int runs = 0;           // times decoding started afresh at a keyframe (a seek)
        int framesDecoded = 0;  // pictures that came out of the decoder
    };

    // Throws MediaError when the video cannot be decoded.
    VideoTrack(std::shared_ptr<const OpenedSource> source, int64_t cacheBytes);
    VideoTrack(const VideoTrack&) = delete;
    VideoTrack& operator=(const VideoTrack&) = delete;

    const PacketIndex& index() const { return cursor_.index(); }
    AVRational timeBase() const { return timeBase_; }
    // Frame n (1..frameCount), decoded; the pointer stays valid until the next call. A frame
    // the decoder cannot produce is replaced by its nearest decoded neighbour. Throws
    // MediaError when nothing around it can be decoded.
    //
    // keepFrom: decoded frames before this number are not kept in the cache (a jump keeps
    // only the frames just before its target; stepping keeps them all).
    const AVFrame* frame(int n, int keepFrom = 1);

    // Playing in order: the first picture at or after frame n that the decoder gives, its
    // number in *number (later than n when the decoder left n out, see below). Goes on with
    // the current run when it leads to n, else starts one at n's keyframe, leaving out the
    // run-up's pictures nothing refers to. Frame n itself may come from the cache (it puts
    // nothing there); the pointer stays valid until the next call. Null when no picture follows, or when
    // `goOn`, asked after each picture the decoder gives before n, says to stop.
    const AVFrame* frameFrom(int n, int* number, const std::function<bool()>& goOn = {});
    // While on, the decoder leaves out pictures no other picture refers to (the cheapest way
    // for a player that falls behind to catch up) and decodes the others without deblocking.
    void setSkipNonReference(bool on);

    // Keeps frame `number`, decoded by this track for another's use (played ahead), in the
    // cache, as if frame() had decoded it.
    void keepFrame(int number, const AVFrame* frame) { cache_.put(number, frame, number); }
    // Frame n when the cache holds it, else null; decodes nothing.
    const AVFrame* cachedFrame(int n) const { return cache_.find(n); }
    void setCacheLimit(int64_t bytes) { cache_.setByteLimit(bytes); }
    int64_t cacheLimit() const { return cache_.byteLimit(); }
    int64_t cacheBytes() const { return cache_.bytes(); }
    Stats stats() const { return stats_; }
    int decoderThreads() const { return decoder_->thread_count; }

private:
    bool canContinueTo(int n) const;
    void startRun(int packet);
    bool decodeOne(int wanted);
    bool readPacket();
    void keep(const AVFrame* frame, int wanted);
    int pictureNumber(const AVFrame* frame) const;  // 0: not a picture of this video

    QString path_;
    PacketCursor cursor_;
    AVRational timeBase_;
    ffmpeg::Codec decoder_;
    FrameCache cache_;
    ffmpeg::Packet packet_ = ffmpeg::makePacket();
    ffmpeg::Frame frame_ = ffmpeg::makeFrame();

    // The current decoding run.
    bool runActive_ = false;
    bool drained_ = false;  // the decoder gave its last picture
    bool sentEnd_ = false;  // the end of the stream was signalled to the decoder
    int runStart_ = 0;      // packet the run started at
    int lastOutput_ = 0;    // highest frame number the run produced
    int keepFrom_ = 1;      // frames before this one are decoded but not cached
    int runUpEnd_ = 0;      // > 0: the packets before this one lead up to a wanted frame
    bool skipNonReference_ = false;
    Stats stats_;
};
