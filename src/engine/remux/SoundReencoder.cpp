#include "engine/remux/SoundReencoder.h"

#include <algorithm>
#include <cmath>

#include "engine/common/MediaError.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
}

namespace {

// The rate nearest the source's that the encoder takes.
int supportedRate(const AVCodec* codec, int wanted) {
    if (!codec->supported_samplerates) return wanted;
    int best = codec->supported_samplerates[0];
    for (const int* r = codec->supported_samplerates; *r; ++r)
        if (std::abs(*r - wanted) < std::abs(best - wanted)) best = *r;
    return best;
}

}  // namespace

SoundReencoder::SoundReencoder(const AVStream* source, const AVOutputFormat* format, AVStream* output) {
    const AVCodec* decoderCodec = avcodec_find_decoder(source->codecpar->codec_id);
    const AVCodec* encoderCodec = avcodec_find_encoder(format->audio_codec);
    if (!decoderCodec || !encoderCodec)
        throw MediaError(QStringLiteral("The sound of this file cannot be written in its own format"));
    decoder_.reset(avcodec_alloc_context3(decoderCodec));
    encoder_.reset(avcodec_alloc_context3(encoderCodec));
    if (!decoder_ || !encoder_ || !frame_ || !packet_) throw MediaError(QStringLiteral("Out of memory"));
    if (avcodec_parameters_to_context(decoder_.get(), source->codecpar) < 0 ||
        avcodec_open2(decoder_.get(), decoderCodec, nullptr) < 0)
        throw MediaError(QStringLiteral("The sound of this file cannot be decoded"));
    AVCodecContext* e = encoder_.get();
    e->sample_rate = supportedRate(encoderCodec, decoder_->sample_rate);
    av_channel_layout_default(&e->ch_layout, std::min(decoder_->ch_layout.nb_channels, 2));
    e->sample_fmt = encoderCodec->sample_fmts ? encoderCodec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    e->time_base = {1, e->sample_rate};
    e->bit_rate = 192000;
    if (format->flags & AVFMT_GLOBALHEADER) e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(e, encoderCodec, nullptr) < 0 || avcodec_parameters_from_context(output->codecpar, e) < 0)
        throw MediaError(QStringLiteral("The sound of this file cannot be encoded again"));
    output->time_base = e->time_base;
    SwrContext* swr = nullptr;
    if (swr_alloc_set_opts2(&swr, &e->ch_layout, e->sample_fmt, e->sample_rate, &decoder_->ch_layout,
                            decoder_->sample_fmt, decoder_->sample_rate, 0, nullptr) < 0 ||
        swr_init(swr) < 0) {
        swr_free(&swr);
        throw MediaError(QStringLiteral("The sound of this file cannot be converted"));
    }
    resampler_.reset(swr);
    fifo_.reset(av_audio_fifo_alloc(e->sample_fmt, e->ch_layout.nb_channels, 4096));
    if (!fifo_) throw MediaError(QStringLiteral("Out of memory"));
}

void SoundReencoder::push(const AVPacket* packet, double start, const Write& write) {
    if (nextPts_ < 0) nextPts_ = std::max<int64_t>(0, std::llround(start * encoder_->sample_rate));
    if (avcodec_send_packet(decoder_.get(), packet) < 0) return;  // a damaged packet is left out
    while (avcodec_receive_frame(decoder_.get(), frame_.get()) == 0) {
        const int capacity = swr_get_out_samples(resampler_.get(), frame_->nb_samples);
        uint8_t** planes = nullptr;
        if (av_samples_alloc_array_and_samples(&planes, nullptr, encoder_->ch_layout.nb_channels, capacity,
                                               encoder_->sample_fmt, 0) < 0)
            throw MediaError(QStringLiteral("Out of memory"));
        const ffmpeg::SampleBuffer buffer(planes);
        const int converted = swr_convert(resampler_.get(), planes, capacity,
                                          const_cast<const uint8_t**>(frame_->extended_data), frame_->nb_samples);
        av_frame_unref(frame_.get());
        if (converted > 0) av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(planes), converted);
        const int frameSize = encoder_->frame_size > 0 ? encoder_->frame_size : 1024;
        while (av_audio_fifo_size(fifo_.get()) >= frameSize) encodeFromFifo(frameSize, write);
    }
}

void SoundReencoder::finish(const Write& write) {
    const int left = av_audio_fifo_size(fifo_.get());
    if (left > 0) encodeFromFifo(left, write);
    avcodec_send_frame(encoder_.get(), nullptr);
    while (avcodec_receive_packet(encoder_.get(), packet_.get()) == 0) write(packet_.get(), encoder_->time_base);
}

void SoundReencoder::encodeFromFifo(int samples, const Write& write) {
    ffmpeg::Frame frame = ffmpeg::makeFrame();
    if (!frame) throw MediaError(QStringLiteral("Out of memory"));
    // A last frame shorter than the encoder's size is padded when the encoder needs whole frames.
    const bool whole = !(encoder_->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) && encoder_->frame_size > 0;
    frame->nb_samples = whole ? encoder_->frame_size : samples;
    frame->format = encoder_->sample_fmt;
    frame->sample_rate = encoder_->sample_rate;
    if (av_channel_layout_copy(&frame->ch_layout, &encoder_->ch_layout) < 0 || av_frame_get_buffer(frame.get(), 0) < 0)
        throw MediaError(QStringLiteral("Out of memory"));
    av_samples_set_silence(frame->extended_data, 0, frame->nb_samples, frame->ch_layout.nb_channels,
                           AVSampleFormat(frame->format));
    av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame->extended_data), samples);
    frame->pts = nextPts_;
    nextPts_ += samples;
    if (avcodec_send_frame(encoder_.get(), frame.get()) < 0) throw MediaError(QStringLiteral("Cannot encode the sound"));
    while (avcodec_receive_packet(encoder_.get(), packet_.get()) == 0) write(packet_.get(), encoder_->time_base);
}
