#include "engine/timeline/QuietScans.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

#include "engine/common/Decoding.h"
#include "engine/common/FfmpegHandles.h"
#include "engine/common/MediaError.h"
#include "engine/common/ScalerCache.h"
#include "engine/reader/OpenedSource.h"
#include "engine/reader/PacketCursor.h"
#include "engine/timeline/QuietRuns.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace {

// The frames shown during a span of seconds on the video's clock.
FrameSpan framesDuring(const OpenedSource& source, TimeSpan span) {
    const double tick = av_q2d(source.video()->time_base);
    const PacketIndex& index = source.index();
    const int32_t first = index.frameShowingAt(std::llround(span.start / tick));
    const int32_t last = index.frameShowingAt(std::llround(span.end / tick) - 1);
    return {first, std::max(first, last)};
}

// The largest magnitude among `count` samples of type T, as a share of full scale. Four running
// extremes side by side, so that the loop does not wait on one chain of comparisons: it runs
// over every sample of the sound.
template <typename T>
double samplePeak(const uint8_t* data, int count, double fullScale, double middle = 0) {
    if (count <= 0) return 0;
    const T* s = reinterpret_cast<const T*>(data);
    T lo[4] = {s[0], s[0], s[0], s[0]}, hi[4] = {s[0], s[0], s[0], s[0]};
    int i = 0;
    for (; i + 4 <= count; i += 4)
        for (int k = 0; k < 4; ++k) {
            lo[k] = std::min(lo[k], s[i + k]);
            hi[k] = std::max(hi[k], s[i + k]);
        }
    for (; i < count; ++i) {
        lo[0] = std::min(lo[0], s[i]);
        hi[0] = std::max(hi[0], s[i]);
    }
    const double low = double(*std::min_element(lo, lo + 4)), high = double(*std::max_element(hi, hi + 4));
    return std::max(high - middle, middle - low) / fullScale;
}

// The loudest sample of a decoded sound frame, in whatever sample format the decoder gives.
double framePeak(const AVFrame* frame) {
    const auto format = static_cast<AVSampleFormat>(frame->format);
    const int channels = std::max(frame->ch_layout.nb_channels, 1);
    const bool planar = av_sample_fmt_is_planar(format);
    const int planes = planar ? channels : 1;
    const int count = planar ? frame->nb_samples : frame->nb_samples * channels;
    double peak = 0;
    for (int p = 0; p < planes; ++p) {
        const uint8_t* d = frame->extended_data[p];
        switch (av_get_packed_sample_fmt(format)) {
            case AV_SAMPLE_FMT_U8: peak = std::max(peak, samplePeak<uint8_t>(d, count, 128, 128)); break;
            case AV_SAMPLE_FMT_S16: peak = std::max(peak, samplePeak<int16_t>(d, count, 32768)); break;
            case AV_SAMPLE_FMT_S32: peak = std::max(peak, samplePeak<int32_t>(d, count, 2147483648.0)); break;
            case AV_SAMPLE_FMT_S64:
                peak = std::max(peak, samplePeak<int64_t>(d, count, 9.223372036854775808e18));
                break;
            case AV_SAMPLE_FMT_FLT: peak = std::max(peak, samplePeak<float>(d, count, 1)); break;
            case AV_SAMPLE_FMT_DBL: peak = std::max(peak, samplePeak<double>(d, count, 1)); break;
            default: return 0;  // no other format holds samples
        }
    }
    return std::isfinite(peak) ? std::min(peak, 1.0) : 1.0;
}

// Hands each frame decoded from the packets `next` gives (false at the end) to `take`, until
// they run out or `stop` is set. Damaged packets are skipped: damage shows as a gap.
template <typename Next, typename Take>
void decodeAll(AVCodecContext* decoder, AVPacket* packet, AVFrame* frame, const std::atomic<bool>& stop, Next&& next,
               Take&& take) {
    bool sentEnd = false;
    const auto read = [&] { return !stop.load(std::memory_order_relaxed) && next(packet); };
    while (!stop.load(std::memory_order_relaxed) && decodeNextFrame(decoder, frame, packet, &sentEnd, read)) {
        take(frame);
        av_frame_unref(frame);
    }
}

}  // namespace

void scanSound(std::shared_ptr<const OpenedSource> source, int buckets, const std::atomic<bool>& stop,
               const std::function<void(const SoundScan&)>& report, std::chrono::milliseconds reportEvery) {
    SoundScan scan;
    scan.peaks.assign(static_cast<size_t>(std::max(buckets, 1)), 0);
    const int stream = source->audioStream();
    if (stream < 0 || source->videoStream() < 0) return report(scan);
    demux::Input input = source->openDemuxer(stream, false);
    const ffmpeg::Codec decoder = demux::openDecoder(source->audio(), 1, QStringLiteral("sound"), source->path());
    const double audioTick = av_q2d(input->streams[stream]->time_base);
    const double videoTick = av_q2d(source->video()->time_base);
    const double zero = source->index().firstTime() * videoTick;
    const double length = std::max((source->index().endTime() - source->index().firstTime()) * videoTick, 1e-3);
    ffmpeg::Packet packet = ffmpeg::makePacket();
    ffmpeg::Frame frame = ffmpeg::makeFrame();
    if (!packet || !frame) throw MediaError(QStringLiteral("Out of memory while reading %1").arg(source->path()));

    QuietRuns silences;
    size_t marked = 0;   // silences already converted to frames
    double next = zero;  // where a frame without a time of its own starts
    auto lastReport = std::chrono::steady_clock::now();
    auto readPacket = [&](AVPacket* p) {
        while (av_read_frame(input.get(), p) >= 0) {
            if (p->stream_index == stream) return true;
            av_packet_unref(p);
        }
        return false;
    };
    auto take = [&](const AVFrame* f) {
        const int rate = f->sample_rate > 0 ? f->sample_rate : 48000;
        const double start = f->best_effort_timestamp != AV_NOPTS_VALUE ? f->best_effort_timestamp * audioTick : next;
        const double end = start + double(f->nb_samples) / rate;
        next = end;
        const double peak = framePeak(f);
        // Each frame's peak goes to the stretch its middle is in; one stretch spans many frames.
        const double at = ((start + end) / 2 - zero) / length * double(scan.peaks.size());
        const auto bucket = static_cast<size_t>(std::clamp(at, 0.0, double(scan.peaks.size() - 1)));
        scan.peaks[bucket] = std::max(scan.peaks[bucket], static_cast<uint8_t>(std::lround(peak * 255)));
        silences.add(start, end, silentSound(peak));
        for (; marked < silences.runs().size(); ++marked)
            scan.silences.push_back(framesDuring(*source, silences.runs()[marked]));
        if (const auto now = std::chrono::steady_clock::now(); now - lastReport >= reportEvery) {
            lastReport = now;
            report(scan);
        }
    };
    decodeAll(decoder.get(), packet.get(), frame.get(), stop, readPacket, take);
    if (stop.load()) return;
    for (silences.finish(); marked < silences.runs().size(); ++marked)
        scan.silences.push_back(framesDuring(*source, silences.runs()[marked]));
    report(scan);
}

void scanBlack(std::shared_ptr<const OpenedSource> source, const std::atomic<bool>& stop,
               const std::function<void(const std::vector<FrameSpan>&)>& report) {
    std::vector<FrameSpan> blacks;
    if (source->videoStream() < 0 || source->index().frameCount() == 0) return report(blacks);
    PacketCursor cursor(source);
    const ffmpeg::Codec decoder = demux::openDecoder(source->video(), 1, QStringLiteral("video"), source->path());
    decoder->skip_frame = AVDISCARD_NONREF;
    decoder->skip_loop_filter = AVDISCARD_ALL;
    decoder->flags2 |= AV_CODEC_FLAG2_FAST;
    ffmpeg::Packet packet = ffmpeg::makePacket();
    ffmpeg::Frame frame = ffmpeg::makeFrame();
    if (!packet || !frame) throw MediaError(QStringLiteral("Out of memory while reading %1").arg(source->path()));
    if (!cursor.seek(0)) return report(blacks);

    // Brightness is counted on a small copy of each picture's luma: enough pixels for a share.
    constexpr int kSmallWidth = 160, kSmallHeight = 90;
    ScalerCache scaler;
    std::vector<uint8_t> small(size_t(kSmallWidth) * kSmallHeight * 3 / 2);
    uint8_t* planes[4] = {small.data(), small.data() + kSmallWidth * kSmallHeight,
                          small.data() + kSmallWidth * kSmallHeight * 5 / 4, nullptr};
    const int lines[4] = {kSmallWidth, kSmallWidth / 2, kSmallWidth / 2, 0};
    auto isBlack = [&](const AVFrame* f) {
        const auto format = static_cast<AVPixelFormat>(f->format);
        const PlainLayout layout = plainLayout(format);
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
        // The scaler leaves a YUV picture's values as they are: full range stays full range.
        const bool fullRange =
            desc && !(desc->flags & AV_PIX_FMT_FLAG_RGB) && (layout.fullRange || f->color_range == AVCOL_RANGE_JPEG);
        const int width = std::min(f->width, kSmallWidth), height = std::min(f->height, kSmallHeight);
        if (!scaler.prepare({f->width, f->height, layout.format, layout.fullRange, width, height, AV_PIX_FMT_YUV420P,
                             false, SWS_POINT}) ||
            !scaler.scale(f->data, f->linesize, planes, lines))
            return false;
        const int level = darkLumaLevel(fullRange);
        int64_t dark = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) dark += small[size_t(y) * kSmallWidth + x] <= level;
        return blackPicture(dark, int64_t(width) * height);
    };

    const double tick = av_q2d(source->video()->time_base);
    QuietRuns runs;
    size_t marked = 0;
    bool havePrevious = false, previousBlack = false;
    double previous = 0;  // the last decoded picture's time; it lasts until the next one's
    auto take = [&](const AVFrame* f) {
        if (f->best_effort_timestamp == AV_NOPTS_VALUE) return;
        const double time = f->best_effort_timestamp * tick;
        if (havePrevious) runs.add(previous, time, previousBlack);
        previousBlack = isBlack(f);
        previous = time;
        havePrevious = true;
        if (marked < runs.runs().size()) {
            for (; marked < runs.runs().size(); ++marked) blacks.push_back(framesDuring(*source, runs.runs()[marked]));
            report(blacks);
        }
    };
    decodeAll(
        decoder.get(), packet.get(), frame.get(), stop, [&](AVPacket* p) { return cursor.read(p) >= 0; }, take);
    if (stop.load()) return;
    if (havePrevious) runs.add(previous, source->index().endTime() * tick, previousBlack);
    for (runs.finish(); marked < runs.runs().size(); ++marked)
        blacks.push_back(framesDuring(*source, runs.runs()[marked]));
    report(blacks);
}
