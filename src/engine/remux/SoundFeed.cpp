#include "engine/remux/SoundFeed.h"

#include <algorithm>

#include "engine/common/MediaError.h"
#include "engine/reader/Demux.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

SoundFeed::SoundFeed(const OpenedSource& source, int stream, AudioEncoder& encoder, StreamTicks length)
    : encoder_(encoder),
      base_(source.facts()->streams[stream]->time_base),
      decoder_(demux::openDecoder(source.facts()->streams[stream], 1, QStringLiteral("audio"), source.path())),
      rate_(source.facts()->streams[stream]->codecpar->sample_rate),
      channels_(std::clamp(source.facts()->streams[stream]->codecpar->ch_layout.nb_channels, 1, 2)),
      length_(toSampleIndex(length, base_, rate_)) {
    if (!frame_) throw MediaError(QStringLiteral("Out of memory"));
}

void SoundFeed::push(const AVPacket* packet, StreamTicks start) {
    if (avcodec_send_packet(decoder_.get(), packet) < 0) return;  // a damaged packet is left out
    const int64_t gap = std::min(toSampleIndex(start, base_, rate_), length_).value - written_.value;
    if (gap > 0) {
        samples_.assign(size_t(gap) * channels_, 0);
        encoder_.write(samples_.data(), int64_t(samples_.size()));
        written_.value += gap;
    }
    int ret;
    while ((ret = avcodec_receive_frame(decoder_.get(), frame_.get())) == 0) {
        write(frame_.get());
        av_frame_unref(frame_.get());
    }
    if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF)
        throw MediaError(QStringLiteral("The sound cannot be decoded (%1)").arg(ffmpegErrorText(ret)));
}

void SoundFeed::padToEnd() {
    const int64_t gap = length_.value - written_.value;
    if (gap <= 0) return;
    samples_.assign(size_t(gap) * channels_, 0);
    encoder_.write(samples_.data(), int64_t(samples_.size()));
    written_ = length_;
}

void SoundFeed::write(const AVFrame* frame) {
    if (!converter_) {
        AVChannelLayout out{};
        av_channel_layout_default(&out, channels_);
        SwrContext* swr = nullptr;
        int ret =
            swr_alloc_set_opts2(&swr, &out, AV_SAMPLE_FMT_S16, rate_, const_cast<AVChannelLayout*>(&frame->ch_layout),
                                AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
        converter_.reset(swr);
        av_channel_layout_uninit(&out);
        if (ret >= 0) ret = swr_init(converter_.get());
        if (ret < 0) throw MediaError(QStringLiteral("The sound cannot be converted (%1)").arg(ffmpegErrorText(ret)));
    }
    const int room = swr_get_out_samples(converter_.get(), frame->nb_samples);
    if (room < 0) throw MediaError(QStringLiteral("The sound cannot be converted (%1)").arg(ffmpegErrorText(room)));
    samples_.resize(size_t(room) * channels_);
    uint8_t* out[1] = {reinterpret_cast<uint8_t*>(samples_.data())};
    const int got =
        swr_convert(converter_.get(), out, room, const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    if (got < 0) throw MediaError(QStringLiteral("The sound cannot be converted (%1)").arg(ffmpegErrorText(got)));
    const int64_t kept = std::clamp<int64_t>(length_.value - written_.value, 0, got);
    if (kept > 0) encoder_.write(samples_.data(), kept * channels_);
    written_.value += kept;
}
