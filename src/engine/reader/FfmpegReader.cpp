#include "engine/reader/FfmpegReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/common/MediaTime.h"
#include "engine/reader/AudioTrack.h"
#include "engine/reader/Demux.h"
#include "engine/reader/FrameAhead.h"
#include "engine/reader/OpenedSource.h"
#include "engine/reader/Orientation.h"
#include "engine/reader/VideoTrack.h"

extern "C" {
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr int kSilentRate = 44100;  // audio format reported for a file without audio
constexpr int kSilentChannels = 2;
constexpr double kFallbackFrameRate = 25;

// A value for a caller's 32-bit field: rounded, clamped to the field's range, 0 when not a number.
int32_t clampToInt32(double value) {
    if (!std::isfinite(value)) return 0;
    value = std::round(value);
    return static_cast<int32_t>(
        std::clamp<double>(value, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

struct VideoTiming {
    double fps = kFallbackFrameRate;
    Seconds zero;          // source time of the first frame: time 0 of the reader
    Seconds end;           // from time 0 to the end of the last frame
    bool byOrder = false;  // frames are timed by their order at fps, not by their timestamps
};

// Timestamps the program cannot time a video by: frames less than a millisecond apart on
// average (a damaged header claiming billions of frames a second), or a time line longer
// than 32-bit milliseconds hold (one claiming a frame every few days).
bool timestampsUnusable(int count, Seconds span, Seconds end) {
    constexpr double kLongestSeconds = std::numeric_limits<int32_t>::max() / 1000.0;
    return !std::isfinite(end.value) || end.value > kLongestSeconds || (count > 1 && span.value < (count - 1) * 0.001);
}

// Frame rate and time line of the indexed video. The header's rate wins when believable,
// else the frames' spacing, else 25 fps; a stream without usable timestamps runs at that rate.
VideoTiming videoTiming(const PacketIndex& index, AVRational timeBase, double headerRate) {
    VideoTiming t;
    const int count = index.frameCount();
    const Seconds span = toSeconds(StreamTicks{index.frameTime(count) - index.firstTime()}, timeBase);
    t.byOrder = index.timesFromOrder() ||
                timestampsUnusable(count, span, toSeconds(StreamTicks{index.endTime() - index.firstTime()}, timeBase));
    double fps = headerRate;
    if (fps <= 0 && count > 1 && !t.byOrder) fps = demux::plausibleRate((count - 1) / span.value);
    t.fps = fps > 0 ? fps : kFallbackFrameRate;
    if (t.byOrder) {
        t.end = Seconds{count / t.fps};
    } else {
        t.zero = toSeconds(StreamTicks{index.firstTime()}, timeBase);
        t.end = toSeconds(StreamTicks{index.endTime() - index.firstTime()}, timeBase);
        if (t.end <= span) t.end = span + Seconds{1.0 / t.fps};  // the last frame came without a length
    }
    return t;
}

int64_t kbitPerSecond(int64_t bytes, Seconds time) {
    return time.value > 0 ? std::llround(bytes * 8.0 / time.value / 1000.0) : 0;
}

}  // namespace

struct FfmpegReader::Source {
    QString path;
    std::shared_ptr<const OpenedSource> opened;
    bool hasVideo() const { return opened->video() != nullptr; }
    // The window's decoder: null in a file without video, and while playing, where the decoder
    // that stood at the frame on show decodes ahead (made again if the window needs one then).
    std::unique_ptr<VideoTrack> video;
    std::unique_ptr<AudioTrack> audio;  // null in a file without audio
    std::unique_ptr<FrameAhead> ahead;  // while playing: the next frames, decoded on a worker thread
    QString videoCodec, audioCodec;
    int width = 0, height = 0;  // as shown, turned upright
    Orientation orientation;    // how stored pictures are turned upright
    double fps = kFallbackFrameRate;
    bool timedByOrder = false;  // frame n shows at (n - 1) / fps
    Seconds videoEnd;           // from time zero
    Seconds audioEnd;
    int64_t videoKbps = 0, audioKbps = 0;
    int next = 1;             // frame the next ReadVideoFrame returns; FrameCount + 1 at the end
    int skipHint = 0;         // frames announced as not shown
    int lastRead = 0;         // the frame ReadVideoFrame returned last
    ffmpeg::Frame keptFrame;  // the frame on show when the decoder was given up
    int keptNumber = 0;
    Milliseconds silentAudio;  // audio position of a file without audio, whole milliseconds
};

FfmpegReader::FfmpegReader(int64_t frameCacheBytes) : frameCacheBytes_(frameCacheBytes) {}

FfmpegReader::~FfmpegReader() = default;

std::unique_ptr<VideoSource> createVideoFileReader() { return std::make_unique<FfmpegReader>(); }

std::unique_ptr<VideoSource> FfmpegReader::OpenSecondReader() const {
    if (!source_) return nullptr;
    auto reader = std::make_unique<FfmpegReader>(frameCacheBytes_);
    reader->OpenSource(source_->opened);
    return reader;
}

const FfmpegReader::Source& FfmpegReader::source() const {
    if (!source_) throw MediaError(QStringLiteral("No video file is open"));
    return *source_;
}

FfmpegReader::Source& FfmpegReader::source() {
    if (!source_) throw MediaError(QStringLiteral("No video file is open"));
    return *source_;
}

int32_t FfmpegReader::OpenFile(const QString& path) {
    CloseFile();
    OpenSource(OpenedSource::open(path, openProgress_));
    return 0;
}

void FfmpegReader::OpenSource(std::shared_ptr<const OpenedSource> opened) {
    CloseFile();
    const OpenedSource::Measured& measured = opened->measured();

    auto s = std::make_unique<Source>();
    s->path = opened->path();
    s->opened = opened;
    Seconds zero = measured.audioSeen ? measured.audioStart : Seconds{};
    if (const AVStream* st = opened->video()) {
        s->orientation = streamOrientation(st);
        const QSize shown = orientedSize(QSize(st->codecpar->width, st->codecpar->height), s->orientation);
        s->width = shown.width();
        s->height = shown.height();
        s->videoCodec = demux::codecName(st->codecpar->codec_id);
        const VideoTiming timing = videoTiming(opened->index(), st->time_base, opened->headerFrameRate());
        s->fps = timing.fps;
        s->timedByOrder = timing.byOrder;
        s->videoEnd = timing.end;
        if (!timing.byOrder) zero = timing.zero;
        s->videoKbps = kbitPerSecond(measured.videoBytes, s->videoEnd);
        if (s->videoKbps <= 0) s->videoKbps = st->codecpar->bit_rate / 1000;
        s->video = std::make_unique<VideoTrack>(opened, cacheBytes());
    }
    if (const AVStream* st = opened->audio()) {
        s->audioCodec = demux::codecName(st->codecpar->codec_id);
        s->audio = std::make_unique<AudioTrack>(opened, zero, measured.audioSeen ? measured.audioStart : zero);
        s->audioEnd = measured.audioSeen ? measured.audioEnd - zero : Seconds{};
        s->audioKbps = kbitPerSecond(measured.audioBytes,
                                     measured.audioSeen ? measured.audioEnd - measured.audioStart : Seconds{});
    }
    source_ = std::move(s);
}

std::shared_ptr<const OpenedSource> FfmpegReader::openedSource() const { return source_ ? source_->opened : nullptr; }

void FfmpegReader::CloseFile() { source_.reset(); }

bool FfmpegReader::HasVideo() const { return source_ && source_->hasVideo(); }
bool FfmpegReader::HasAudio() const { return source_ && source_->audio; }
QString FfmpegReader::VideoCodecName() const { return source().videoCodec; }
QString FfmpegReader::AudioCodecName() const { return source().audioCodec; }
int32_t FfmpegReader::VideoDuration() const { return clampToInt32(toMilliseconds(source().videoEnd).value); }
int32_t FfmpegReader::AudioDuration() const {
    return clampToInt32(toMilliseconds(std::max(Seconds{}, source().audioEnd)).value);
}
int32_t FfmpegReader::VideoBitRate() const { return clampToInt32(double(source().videoKbps)); }
int32_t FfmpegReader::AudioBitRate() const { return clampToInt32(double(source().audioKbps)); }
int32_t FfmpegReader::AudioSampleSize() const {
    source();
    return 16;
}
int32_t FfmpegReader::AudioSampleRate() const {
    const Source& s = source();
    return s.audio ? s.audio->sampleRate() : kSilentRate;
}
int32_t FfmpegReader::AudioChannels() const {
    const Source& s = source();
    return s.audio ? s.audio->channels() : kSilentChannels;
}
int32_t FfmpegReader::FrameCount() const {
    const Source& s = source();
    return s.hasVideo() ? s.opened->index().frameCount() : 0;
}
int32_t FfmpegReader::FrameWidth() const { return source().width; }
int32_t FfmpegReader::FrameHeight() const { return source().height; }
double FfmpegReader::FrameRate() const {
    const Source& s = source();
    return s.hasVideo() ? s.fps : 0;
}
FrameTiming FfmpegReader::FrameTimes(int32_t n) const {
    const Source& s = source();
    if (!s.hasVideo() || n < 1 || n > s.opened->index().frameCount())
        throw MediaError(QStringLiteral("Frame %1 is not in the video").arg(n));
    const Seconds oneFrame{1.0 / s.fps};
    Seconds duration = oneFrame;
    if (!s.timedByOrder) {
        const PacketIndex& index = s.opened->index();
        const int64_t ticks = index.packet(index.packetOfFrame(n)).duration;
        if (ticks > 0) duration = toSeconds(StreamTicks{ticks}, s.opened->video()->time_base);
    }
    return {frameMs(n), clampToInt32(toMilliseconds(duration).value)};
}
int32_t FfmpegReader::CurrentFrame() const {
    const Source& s = source();
    return s.hasVideo() ? s.next - 1 : 0;
}

Seconds FfmpegReader::frameStart(int n) const {
    const Source& s = *source_;
    const PacketIndex& index = s.opened->index();
    if (n > index.frameCount()) return s.videoEnd;
    if (s.timedByOrder) return Seconds{(n - 1) / s.fps};
    return toSeconds(StreamTicks{index.frameTime(n) - index.firstTime()}, s.opened->video()->time_base);
}

int32_t FfmpegReader::frameMs(int n) const { return clampToInt32(toMilliseconds(frameStart(n)).value); }

int32_t FfmpegReader::VideoTime() const {
    const Source& s = source();
    return s.hasVideo() ? frameMs(s.next) : 0;
}

int32_t FfmpegReader::AudioTime() const {
    const Source& s = source();
    if (!s.audio) return clampToInt32(s.silentAudio.value);
    return clampToInt32(toMilliseconds(s.audio->position(), s.audio->sampleRate()).value);
}

void FfmpegReader::SeekFrame(int32_t n) {
    Source& s = source();
    if (!s.hasVideo()) throw MediaError(QStringLiteral("%1 has no video to seek in").arg(s.path));
    s.next = std::clamp(n, 1, s.opened->index().frameCount() + 1);
    const Seconds start = frameStart(s.next);
    if (s.audio)
        s.audio->seek(toSampleIndex(start, s.audio->sampleRate()));
    else
        s.silentAudio = toWholeMilliseconds(start);
}

int FfmpegReader::frameShowingAt(int32_t ms) const {
    // The last frame that starts at or before ms; one past the last frame at the end.
    int lo = 1, hi = source().opened->index().frameCount();
    if (ms >= VideoDuration()) return hi + 1;
    while (lo < hi) {
        const int mid = lo + (hi - lo + 1) / 2;
        if (frameMs(mid) <= ms)
            lo = mid;
        else
            hi = mid - 1;
    }
    return lo;
}

void FfmpegReader::SeekTime(int32_t ms) {
    Source& s = source();
    ms = std::max(ms, 0);
    if (s.hasVideo()) s.next = frameShowingAt(ms);
    if (s.audio)
        s.audio->seek(toSampleIndex(Milliseconds{double(ms)}, s.audio->sampleRate()));
    else
        s.silentAudio = Milliseconds{double(ms)};
}

void FfmpegReader::SkipFrames(int32_t n) {
    // Only noted: the frames are still delivered, so a caller that does show one gets it.
    source().skipHint = std::max(0, n);
}

FrameData FfmpegReader::ReadVideoFrame() {
    Source& s = source();
    if (!s.hasVideo() || s.next > s.opened->index().frameCount()) return {};
    int n = s.next;
    // A jump keeps only the frames just before its target: caching its whole group would hold
    // up to a group of decoded pictures (and grow the decoder's buffer pool to match) for a
    // step back that rarely follows. Stepping, forwards or back, keeps everything it decodes.
    const bool step = n == s.lastRead + 1 || n == s.lastRead - 1;
    // Decoded ahead, the frame may come later than n: the decoder left n out to catch up.
    FrameAhead::Decoded ahead = s.ahead ? s.ahead->take(n) : FrameAhead::Decoded();
    if (ahead.frame) n = ahead.number;
    if (!ahead.frame && !s.video) {
        s.video = std::make_unique<VideoTrack>(s.opened, cacheBytes());
        if (s.keptFrame) s.video->keepFrame(s.keptNumber, s.keptFrame.get());
        s.keptFrame.reset();
    }
    FrameData data =
        ahead.frame ? pack(ahead.frame.get(), n) : pack(s.video->frame(n, step ? 1 : n - kFramesKeptBeforeJump), n);
    s.lastRead = n;
    s.next = n + 1;
    s.skipHint = std::max(0, s.skipHint - 1);
    return data;
}

FrameData FfmpegReader::pack(const AVFrame* frame, int n) {
    ffmpeg::Frame turned;
    if (const Orientation orientation = source().orientation; !orientation.isIdentity()) {
        turned = orientFrame(frame, orientation, converter_);
        if (!turned)
            throw MediaError(QStringLiteral("Frame %1 of %2 could not be turned upright").arg(n).arg(source().path));
        frame = turned.get();
    }
    FrameData data = packFrame(frame, n, frameMs(n));
    if (!data.isEmpty()) return data;
    // A layout frame data cannot carry (e.g. a hardware or bitstream format): plain YUV 4:2:0.
    const auto format = static_cast<AVPixelFormat>(frame->format);
    const bool scalable = converter_.prepare({frame->width, frame->height, format, false, frame->width, frame->height,
                                              AV_PIX_FMT_YUV420P, false, SWS_BILINEAR}) != nullptr;
    ffmpeg::Frame plain = ffmpeg::makeFrame();
    if (scalable && plain) {
        plain->width = frame->width;
        plain->height = frame->height;
        plain->format = AV_PIX_FMT_YUV420P;
        plain->sample_aspect_ratio = frame->sample_aspect_ratio;
        if (av_frame_get_buffer(plain.get(), 0) >= 0 &&
            converter_.scale(frame->data, frame->linesize, plain->data, plain->linesize))
            data = packFrame(plain.get(), n, frameMs(n));
    }
    if (data.isEmpty())
        throw MediaError(
            QStringLiteral("Frame %1 of %2 has a picture layout that cannot be shown").arg(n).arg(source().path));
    return data;
}

AudioChunk FfmpegReader::ReadAudio(int32_t bytes) {
    Source& s = source();
    if (!s.audio) return {};
    return s.audio->read(bytes);
}

FfmpegReader::Stats FfmpegReader::stats() const {
    const Source& s = source();
    if (!s.video) return {};
    const VideoTrack::Stats v = s.video->stats();
    return {v.runs, v.framesDecoded};
}

int FfmpegReader::decoderThreads() const {
    const Source& s = source();
    return s.video ? s.video->decoderThreads() : 0;
}

int FfmpegReader::keyframeCount() const {
    const Source& s = source();
    return s.hasVideo() ? s.opened->index().keyframeCount() : 0;
}

void FfmpegReader::setFrameCacheBytes(int64_t bytes) {
    frameCacheBytes_ = bytes;
    if (source_ && source_->video) source_->video->setCacheLimit(cacheBytes());
}

void FfmpegReader::SetDecodeAhead(bool on) {
    Source& s = source();
    if (s.ahead) {
        // The decoder that played stands where playing stopped: the window reads on with it.
        if (std::unique_ptr<VideoTrack> played = s.ahead->handBack(cacheBytes())) s.video = std::move(played);
        s.ahead.reset();
    }
    if (on && s.hasVideo()) {
        // The window's decoder stands at the frame on show: playing goes on from it, without
        // decoding again from the key frame before it.
        if (s.video) s.video->setCacheLimit(0);  // each frame is taken once
        s.ahead = std::make_unique<FrameAhead>(s.opened, s.next, std::move(s.video));
    }
}

void FfmpegReader::ReleaseDecoder() {
    if (!source_ || source_->ahead || !source_->video) return;
    Source& s = *source_;
    // The frame on show stays at hand (a reference to its picture, no copy): going back to it,
    // as the window does after a job, decodes nothing.
    if (const AVFrame* shown = s.video->cachedFrame(s.lastRead)) {
        s.keptFrame.reset(av_frame_clone(shown));
        s.keptNumber = s.lastRead;
    }
    s.video.reset();
}

bool FfmpegReader::NextFrameReady(int32_t later) {
    const Source& s = source();
    if (!s.ahead) return true;
    const int n = s.next + std::max(0, later);
    // Past the end nothing is waited for; no frame lies that far after the next one.
    if (n > s.opened->index().frameCount()) return later <= 0;
    return s.ahead->ready(n);
}

void FfmpegReader::PlayClock(int32_t ms) {
    const Source& s = source();
    if (s.ahead) s.ahead->aim(frameShowingAt(std::max(ms, 0)));
}

void FfmpegReader::SetOpenProgress(std::function<bool(int percent)> report) { openProgress_ = std::move(report); }

void FfmpegReader::SetSequentialRead(bool on) {
    sequentialRead_ = on;
    // A budget of nothing keeps only the frame being read.
    if (source_ && source_->video) source_->video->setCacheLimit(cacheBytes());
}

int FfmpegReader::indexedPackets() const {
    const Source& s = source();
    return s.hasVideo() ? s.opened->index().packetCount() : 0;
}

int64_t FfmpegReader::indexMemoryBytes() const {
    const Source& s = source();
    return s.hasVideo() ? s.opened->index().memoryBytes() : 0;
}

int64_t FfmpegReader::frameCacheBytesInUse() const {
    const Source& s = source();
    return s.video ? s.video->cacheBytes() : 0;
}
