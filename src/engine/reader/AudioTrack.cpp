#include "engine/reader/AudioTrack.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "engine/common/Decoding.h"
#include "engine/common/StreamSelection.h"
#include "engine/reader/Demux.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/downmix_info.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
}

namespace {

constexpr int kMaxSampleRate = 768000;
constexpr int64_t kMaxChunkBytes = 64 << 20;  // one ReadAudio never allocates more
constexpr double kSeekPrerollSeconds = 0.25;  // decoders settle before the target sample
constexpr double kRetryPrerollSeconds = 5.0;

// More channels than two are folded into stereo by the standard downmix: centre and surrounds
// at -3 dB (or the levels an AC-3 stream states for it), the low-frequency channel left out.
// The resampler then scales the mix so that full-scale sound in every channel does not clip.
void setDownmixLevels(SwrContext* resampler, const AVFrame* frame) {
    double centre = M_SQRT1_2, surround = M_SQRT1_2, lfe = 0;
    if (const AVFrameSideData* side = av_frame_get_side_data(frame, AV_FRAME_DATA_DOWNMIX_INFO)) {
        const auto* info = reinterpret_cast<const AVDownmixInfo*>(side->data);
        if (info->center_mix_level > 0) centre = info->center_mix_level;
        if (info->surround_mix_level > 0) surround = info->surround_mix_level;
        if (info->lfe_mix_level > 0) lfe = info->lfe_mix_level;
    }
    av_opt_set_double(resampler, "center_mix_level", centre, 0);
    av_opt_set_double(resampler, "surround_mix_level", surround, 0);
    av_opt_set_double(resampler, "lfe_mix_level", lfe, 0);
}

}  // namespace

AudioTrack::AudioTrack(std::shared_ptr<const OpenedSource> source, Seconds zero, Seconds start)
    : path_(source->path()),
      source_(std::move(source)),
      stream_(source_->audioStream()),
      timeBase_(source_->audio()->time_base),
      decoder_(demux::openDecoder(source_->audio(), 1, QStringLiteral("audio"), path_)),
      zero_(zero) {
    if (!packet_ || !frame_) throw MediaError(QStringLiteral("Out of memory while opening %1").arg(path_));
    rate_ = decoder_->sample_rate;
    if (rate_ <= 0 || rate_ > kMaxSampleRate)
        throw MediaError(QStringLiteral("Unsupported audio sample rate %1 Hz in %2").arg(rate_).arg(path_));
    channels_ = std::clamp(decoder_->ch_layout.nb_channels, 1, 2);
    if (decoder_->ch_layout.nb_channels <= 0) channels_ = 2;
    startSample_ = toSampleIndex(start - zero_, rate_).value;
}

void AudioTrack::openInput() { input_ = source_->openDemuxer(stream_, false); }

AudioTrack::~AudioTrack() { av_channel_layout_uninit(&resamplerInput_); }

void AudioTrack::seek(SampleIndex sample) {
    seekTarget_ = sample.value;
    if (sample.value == position_) seekTarget_.reset();
}

AudioChunk AudioTrack::read(int32_t bytes) {
    if (seekTarget_) {
        const int64_t target = *seekTarget_;
        seekTarget_.reset();
        moveTo(target);
    }
    const int ch = channels_;
    AudioChunk out;
    auto take = [&](int64_t frames) {
        const auto begin = pending_.begin() + static_cast<std::ptrdiff_t>(pendingOffset_);
        out.insert(out.end(), begin, begin + static_cast<std::ptrdiff_t>(frames * ch));
        pendingOffset_ += static_cast<size_t>(frames * ch);
    };
    if (bytes <= 0) {
        while (pendingFrames() == 0 && decodeMore()) {
        }
        take(pendingFrames());
    } else {
        const int64_t wanted = std::clamp<int64_t>(bytes / (2 * ch), 1, kMaxChunkBytes / (2 * ch));
        out.reserve(static_cast<size_t>(wanted * ch));
        while (static_cast<int64_t>(out.size()) / ch < wanted) {
            if (pendingFrames() == 0 && !decodeMore()) break;
            take(std::min(pendingFrames(), wanted - static_cast<int64_t>(out.size()) / ch));
        }
    }
    position_ += static_cast<int64_t>(out.size()) / ch;
    compactPending();
    return out;
}

void AudioTrack::moveTo(int64_t target) {
    if (target == position_) return;
    if (ended_ && target > position_) {
        position_ = decodedEnd_ = target;
        return;
    }
    // A short way forward is cheaper to decode through than to seek.
    if (target > position_ && target - position_ <= rate_) {
        while (position_ < target) {
            if (pendingFrames() == 0 && !decodeMore()) break;
            const int64_t n = std::min(pendingFrames(), target - position_);
            pendingOffset_ += static_cast<size_t>(n * channels_);
            position_ += n;
        }
        if (position_ < target) position_ = decodedEnd_ = target;  // the audio ended on the way
        compactPending();
        return;
    }
    applySeek(target, 0);
}

void AudioTrack::applySeek(int64_t sample, int attempt) {
    pending_.clear();
    pendingOffset_ = 0;
    position_ = decodedEnd_ = seekSample_ = sample;
    seekAttempt_ = attempt;
    resync_ = true;
    sentEnd_ = ended_ = false;
    avcodec_flush_buffers(decoder_.get());

    if (!input_) openInput();  // a fresh demuxer stands at the start, where the rewind below leads anyway
    const Seconds seekPreroll =
        decoder_->seek_preroll > 0 ? toSeconds(SampleIndex{decoder_->seek_preroll}, rate_) : Seconds{};
    const Seconds preroll = attempt == 0 ? Seconds{kSeekPrerollSeconds} + seekPreroll : Seconds{kRetryPrerollSeconds};
    const Seconds target = zero_ + toSeconds(SampleIndex{sample}, rate_) - preroll;
    const bool nearStart = toSeconds(SampleIndex{sample - startSample_}, rate_) <= preroll;
    bool placed = false;
    if (attempt < 2 && !nearStart) {
        const int64_t ts = ticksAtOrBefore(target, timeBase_).value;
        placed = avformat_seek_file(input_.get(), stream_, INT64_MIN, ts, ts, 0) >= 0;
    }
    if (!placed && !rewindInput()) ended_ = true;
}

bool AudioTrack::rewindInput() {
    if (!demux::rewind(input_)) return false;
    keepOnlyStreams(input_.get(), {stream_});
    return true;
}

bool AudioTrack::decodeMore() {
    const auto readNext = [this] { return readPacket(); };
    if (!ended_ && decodeNextFrame(decoder_.get(), frame_.get(), packet_.get(), &sentEnd_, readNext)) {
        place(frame_.get());
        av_frame_unref(frame_.get());
        return true;
    }
    ended_ = true;
    return false;
}

bool AudioTrack::readPacket() {
    if (!input_) openInput();
    while (av_read_frame(input_.get(), packet_.get()) >= 0) {
        if (packet_->stream_index == stream_ && packet_->size > 0) return true;
        av_packet_unref(packet_.get());
    }
    return false;
}

void AudioTrack::place(const AVFrame* frame) {
    std::vector<int16_t> samples;
    if (!convert(frame, &samples) || samples.empty()) return;
    const int64_t frames = static_cast<int64_t>(samples.size()) / channels_;

    int64_t start = decodedEnd_;
    const int64_t ts = frame->pts != AV_NOPTS_VALUE ? frame->pts : frame->best_effort_timestamp;
    if (ts != AV_NOPTS_VALUE) {
        const int64_t stamped = toSampleIndex(toSeconds(StreamTicks{ts}, timeBase_) - zero_, rate_).value;
        const int64_t drift = std::llabs(stamped - decodedEnd_);
        const int64_t tolerance = resync_ ? 0 : rate_ * 3 / 100;  // container timestamps jitter a little
        const int64_t maxJump = int64_t(rate_) * 60;              // beyond that: a timestamp discontinuity
        if (resync_ && stamped > seekSample_ + rate_ / 100 && stamped > startSample_ + rate_ / 100 &&
            seekAttempt_ < 2) {
            // The demuxer landed after the target although the audio had begun: go further back.
            applySeek(seekSample_, seekAttempt_ + 1);
            return;
        }
        if (drift > tolerance && drift <= maxJump) start = stamped;
    }

    int64_t skip = 0;
    if (start < decodedEnd_) {
        skip = std::min(frames, decodedEnd_ - start);
    } else if (start > decodedEnd_) {
        pending_.insert(pending_.end(), static_cast<size_t>((start - decodedEnd_) * channels_), int16_t(0));
        decodedEnd_ = start;
    }
    if (skip < frames) {
        pending_.insert(pending_.end(), samples.begin() + static_cast<std::ptrdiff_t>(skip * channels_), samples.end());
        decodedEnd_ += frames - skip;
        resync_ = false;  // samples are placed: from here on the stream continues sample by sample
    }
}

bool AudioTrack::convert(const AVFrame* frame, std::vector<int16_t>* out) {
    if (frame->nb_samples <= 0 || frame->sample_rate <= 0 || frame->sample_rate > kMaxSampleRate) return false;
    AVChannelLayout in{};
    if (frame->ch_layout.nb_channels > 0 && frame->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_copy(&in, &frame->ch_layout);
    else
        av_channel_layout_default(&in, frame->ch_layout.nb_channels > 0 ? frame->ch_layout.nb_channels : channels_);

    if (!resampler_ || frame->format != resamplerFormat_ || frame->sample_rate != resamplerRate_ ||
        av_channel_layout_compare(&in, &resamplerInput_) != 0) {
        resampler_.reset();
        AVChannelLayout outLayout{};
        av_channel_layout_default(&outLayout, channels_);
        SwrContext* raw = nullptr;
        const int ret = swr_alloc_set_opts2(&raw, &outLayout, AV_SAMPLE_FMT_S16, rate_, &in,
                                            static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&outLayout);
        ffmpeg::Resampler resampler(raw);
        if (ret >= 0 && in.nb_channels > channels_) setDownmixLevels(resampler.get(), frame);
        if (ret < 0 || swr_init(resampler.get()) < 0) {
            av_channel_layout_uninit(&in);
            return false;
        }
        resampler_ = std::move(resampler);
        av_channel_layout_uninit(&resamplerInput_);
        av_channel_layout_copy(&resamplerInput_, &in);
        resamplerFormat_ = frame->format;
        resamplerRate_ = frame->sample_rate;
    }
    av_channel_layout_uninit(&in);

    const int capacity = swr_get_out_samples(resampler_.get(), frame->nb_samples);
    if (capacity <= 0) return false;
    out->resize(static_cast<size_t>(capacity) * channels_);
    uint8_t* dst = reinterpret_cast<uint8_t*>(out->data());
    const int got = swr_convert(resampler_.get(), &dst, capacity, const_cast<const uint8_t**>(frame->extended_data),
                                frame->nb_samples);
    if (got < 0) return false;
    out->resize(static_cast<size_t>(got) * channels_);
    return true;
}

void AudioTrack::compactPending() {
    if (pendingOffset_ >= pending_.size()) {
        pending_.clear();
        pendingOffset_ = 0;
    } else if (pendingOffset_ > (1u << 20)) {
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(pendingOffset_));
        pendingOffset_ = 0;
    }
}
