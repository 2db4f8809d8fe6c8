#include "engine/writer/StreamEncoders.h"

#include <algorithm>
#include <cstring>

#include "engine/common/MediaError.h"
#include "engine/writer/WriterRules.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace {

// Samples per frame fed to encoders that take any frame size (PCM and the like).
constexpr int kVariableFrameSize = 1024;

// Converts a picture to the encoder's frame. The full-range "J" layouts of JPEG decoders are
// scaled as what they are (their plain layout with full range) on either side, so they keep
// their range and the scaler is built once for a stream of them.
bool scalePicture(ScalerCache& scaler, const FrameView& source, AVFrame* target) {
    const PlainLayout from = plainLayout(source.format());
    const PlainLayout to = plainLayout(AVPixelFormat(target->format));
    bool built = false;
    SwsContext* context = scaler.prepare({source.width(), source.height(), from.format, from.fullRange, target->width,
                                          target->height, to.format, to.fullRange, SWS_BICUBIC},
                                         &built);
    if (!context) return false;
    if (built) {
        const int* coefficients = sws_getCoefficients(SWS_CS_DEFAULT);
        sws_setColorspaceDetails(context, coefficients, from.fullRange, coefficients, to.fullRange, 0, 1 << 16,
                                 1 << 16);
    }
    return scaler.scale(source, target->data, target->linesize);
}

}  // namespace

// ---- StreamEncoder ----

StreamEncoder::StreamEncoder(Muxer& muxer, const char* encoder) : muxer_(muxer), name_(QString::fromUtf8(encoder)) {
    const AVCodec* codec = avcodec_find_encoder_by_name(encoder);
    if (!codec) throw MediaError(QStringLiteral("The %1 encoder is not available").arg(name_));
    ctx_.reset(avcodec_alloc_context3(codec));
    packet_ = ffmpeg::makePacket();
    stream_ = avformat_new_stream(muxer_.format(), nullptr);
    if (!ctx_ || !packet_ || !stream_)
        throw MediaError(QStringLiteral("Out of memory while setting up the %1 encoder").arg(name_));
    if (muxer_.format()->oformat->flags & AVFMT_GLOBALHEADER) ctx_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    ctx_->thread_count = 0;  // as many threads as the codec can use on this machine
}

void StreamEncoder::resetContext() {
    const AVCodec* codec = ctx_->codec;
    ctx_.reset(avcodec_alloc_context3(codec));
    if (!ctx_) throw MediaError(QStringLiteral("Out of memory while setting up the %1 encoder").arg(name_));
    if (muxer_.format()->oformat->flags & AVFMT_GLOBALHEADER) ctx_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    ctx_->thread_count = 0;
}

StreamEncoder::~StreamEncoder() = default;

void StreamEncoder::open(ffmpeg::Dictionary options) {
    int ret = ffmpeg::withOptions(options, [&](AVDictionary** d) { return avcodec_open2(ctx_.get(), ctx_->codec, d); });
    if (ret < 0)
        throw MediaError(QStringLiteral("The %1 encoder could not be opened: %2").arg(name_, ffmpegErrorText(ret)));
    // A stream opened again after the container was set up keeps the tag the container chose.
    const uint32_t tag = stream_->codecpar->codec_tag;
    ret = avcodec_parameters_from_context(stream_->codecpar, ctx_.get());
    if (muxer_.initialized()) stream_->codecpar->codec_tag = tag;
    if (ret < 0)
        throw MediaError(QStringLiteral("The %1 stream could not be set up: %2").arg(name_, ffmpegErrorText(ret)));
    // Once set up, the container keeps the time base it chose; packets are converted to it.
    if (!muxer_.initialized()) stream_->time_base = ctx_->time_base;
    // The encoder's stream facts (such as the video buffer size the MPEG muxers need).
    for (int i = 0; i < ctx_->nb_coded_side_data; ++i) {
        const AVPacketSideData& data = ctx_->coded_side_data[i];
        uint8_t* copy = av_stream_new_side_data(stream_, data.type, data.size);
        if (copy) std::memcpy(copy, data.data, data.size);
    }
}

void StreamEncoder::encode(AVFrame* frame) {
    int ret = avcodec_send_frame(ctx_.get(), frame);
    if (ret < 0 && ret != AVERROR_EOF)
        throw MediaError(QStringLiteral("The %1 encoder failed: %2").arg(name_, ffmpegErrorText(ret)));
    for (;;) {
        ret = avcodec_receive_packet(ctx_.get(), packet_.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return;
        if (ret < 0) throw MediaError(QStringLiteral("The %1 encoder failed: %2").arg(name_, ffmpegErrorText(ret)));
        adjust(packet_.get());
        packet_->stream_index = stream_->index;
        muxer_.write(packet_.get(), ctx_->time_base);
    }
}

// ---- VideoEncoder ----

VideoEncoder::VideoEncoder(Muxer& muxer, const VideoPlan& plan)
    : StreamEncoder(muxer, plan.encoder.c_str()), plan_(plan) {
    configure();
    frame_ = ffmpeg::makeFrame();
    if (!frame_) throw MediaError(QStringLiteral("Out of memory while setting up the %1 encoder").arg(name_));
}

void VideoEncoder::adoptSource(const SourcePicture& source) {
    const VideoPlan adapted = adaptToSource(plan_, source);
    if (adapted.width == plan_.width && av_cmp_q(adapted.sampleAspect, plan_.sampleAspect) == 0 &&
        adapted.fieldOrder == plan_.fieldOrder && adapted.interlaced == plan_.interlaced)
        return;
    plan_ = adapted;
    resetContext();
    configure();
    av_frame_unref(frame_.get());
}

void VideoEncoder::configure() {
    const VideoPlan& plan = plan_;
    ctx_->width = plan.width;
    ctx_->height = plan.height;
    ctx_->pix_fmt = plan.pixelFormat;
    ctx_->framerate = plan.frameRate;
    ctx_->time_base = av_inv_q(plan.frameRate);
    ctx_->sample_aspect_ratio = plan.sampleAspect;
    ctx_->field_order = AVFieldOrder(plan.fieldOrder);
    if (plan.interlaced) ctx_->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
    ctx_->gop_size = plan.gopSize;
    ctx_->max_b_frames = plan.maxBFrames;
    if (plan.bitRate > 0) ctx_->bit_rate = plan.bitRate;
    if (plan.maxRate > 0) ctx_->rc_max_rate = plan.maxRate;
    if (plan.minRate > 0) ctx_->rc_min_rate = plan.minRate;
    if (plan.bufferSize > 0) ctx_->rc_buffer_size = plan.bufferSize;
    if (plan.qscale > 0) {
        ctx_->flags |= AV_CODEC_FLAG_QSCALE;
        ctx_->global_quality = plan.qscale * FF_QP2LAMBDA;
    }
    if (plan.pixelFormat == AV_PIX_FMT_YUVJ420P) ctx_->color_range = AVCOL_RANGE_JPEG;

    ffmpeg::Dictionary options;
    for (const auto& [key, value] : plan.options) ffmpeg::setOption(options, key.c_str(), value.c_str());
    if (plan.crf >= 0) ffmpeg::setOption(options, "crf", int64_t(plan.crf));
    open(std::move(options));
    if (!plan.fourcc.empty() && plan.fourcc.size() == 4)
        stream_->codecpar->codec_tag = MKTAG(plan.fourcc[0], plan.fourcc[1], plan.fourcc[2], plan.fourcc[3]);
    stream_->avg_frame_rate = plan.frameRate;
    stream_->sample_aspect_ratio = plan.sampleAspect;
    stream_->codecpar->field_order = AVFieldOrder(plan.fieldOrder);
}

// A picture buffer the encoder does not share any more (it may keep a reference to the last one).
void VideoEncoder::prepareFrame() {
    if (frame_->buf[0] && av_frame_is_writable(frame_.get())) return;
    av_frame_unref(frame_.get());
    frame_->format = ctx_->pix_fmt;
    frame_->width = ctx_->width;
    frame_->height = ctx_->height;
    const int ret = av_frame_get_buffer(frame_.get(), 0);
    if (ret < 0) throw MediaError(QStringLiteral("Out of memory for a video frame: %1").arg(ffmpegErrorText(ret)));
}

void VideoEncoder::write(const FrameView& frame) {
    ++sourceFrames_;
    const int64_t due = outputFramesAfter(sourceFrames_, plan_.sourceRate, plan_.frameRate);
    if (due <= outputFrames_) return;  // the output rate is lower: this frame falls between two output frames

    prepareFrame();
    if (!scalePicture(scaler_, frame, frame_.get()))
        throw MediaError(QStringLiteral("The video frame (%1 x %2) could not be converted for the %3 encoder")
                             .arg(frame.width())
                             .arg(frame.height())
                             .arg(name_));
    frame_->sample_aspect_ratio = ctx_->sample_aspect_ratio;
    frame_->interlaced_frame = plan_.interlaced;
    frame_->top_field_first = plan_.interlaced && plan_.fieldOrder == AV_FIELD_TT;
    if (ctx_->color_range != AVCOL_RANGE_UNSPECIFIED) frame_->color_range = ctx_->color_range;
    frame_->quality = ctx_->global_quality;
    while (outputFrames_ < due) {
        frame_->pts = outputFrames_++;
        encode(frame_.get());
    }
}

void VideoEncoder::finish() { encode(nullptr); }

// ---- AudioEncoder ----

AudioEncoder::AudioEncoder(Muxer& muxer, const AudioPlan& plan)
    : StreamEncoder(muxer, plan.encoder.c_str()), plan_(plan) {
    const AVCodec* codec = ctx_->codec;
    ctx_->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    ctx_->sample_rate = plan.sampleRate;
    av_channel_layout_default(&ctx_->ch_layout, plan.channels);
    ctx_->time_base = {1, plan.sampleRate};
    if (plan.bitRate > 0) ctx_->bit_rate = plan.bitRate;
    open({});

    const bool anySize = (codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) || ctx_->frame_size <= 0;
    frameSize_ = anySize ? kVariableFrameSize : ctx_->frame_size;
    padLastFrame_ = !anySize && !(codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME);

    AVChannelLayout input{};
    av_channel_layout_default(&input, plan.sourceChannels);
    SwrContext* swr = nullptr;
    int ret = swr_alloc_set_opts2(&swr, &ctx_->ch_layout, ctx_->sample_fmt, ctx_->sample_rate, &input,
                                  AV_SAMPLE_FMT_S16, plan.sourceRate, 0, nullptr);
    swr_.reset(swr);
    av_channel_layout_uninit(&input);
    if (ret >= 0) ret = swr_init(swr_.get());
    if (ret < 0)
        throw MediaError(
            QStringLiteral("The audio cannot be converted from %1 Hz, %2 channels to %3 Hz, %4 channels: %5")
                .arg(plan.sourceRate)
                .arg(plan.sourceChannels)
                .arg(plan.sampleRate)
                .arg(plan.channels)
                .arg(ffmpegErrorText(ret)));
    fifo_.reset(av_audio_fifo_alloc(ctx_->sample_fmt, plan.channels, frameSize_ * 2));
    frame_ = ffmpeg::makeFrame();
    if (!fifo_ || !frame_) throw MediaError(QStringLiteral("Out of memory while setting up the %1 encoder").arg(name_));
}

// The encoder's start-up delay (MP3 has about 25 ms) would give the first packets negative times,
// and the muxers of these containers, which cannot mark such a delay, would then shift every
// stream, leaving a gap in the video. The delay is played instead, as these containers expect.
void AudioEncoder::adjust(AVPacket* packet) {
    if (!started_) {
        started_ = true;
        if (packet->pts != AV_NOPTS_VALUE && packet->pts < 0) delay_ = -packet->pts;
    }
    if (packet->pts != AV_NOPTS_VALUE) packet->pts += delay_;
    if (packet->dts != AV_NOPTS_VALUE) packet->dts += delay_;
}

void AudioEncoder::resample(const uint8_t** input, int frames) {
    const int room = swr_get_out_samples(swr_.get(), frames);
    if (room < 0) throw MediaError(QStringLiteral("The audio resampler failed: %1").arg(ffmpegErrorText(room)));
    if (room > bufferCapacity_) {
        buffer_.reset();
        bufferCapacity_ = 0;
        uint8_t** planes = nullptr;
        const int ret = av_samples_alloc_array_and_samples(&planes, nullptr, plan_.channels, room, ctx_->sample_fmt, 0);
        buffer_.reset(planes);
        if (ret < 0) throw MediaError(QStringLiteral("Out of memory for audio"));
        bufferCapacity_ = room;
    }
    const int got = swr_convert(swr_.get(), buffer_.get(), bufferCapacity_, input, frames);
    if (got < 0) throw MediaError(QStringLiteral("The audio resampler failed: %1").arg(ffmpegErrorText(got)));
    if (got > 0 && av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(buffer_.get()), got) < got)
        throw MediaError(QStringLiteral("Out of memory for audio"));
}

void AudioEncoder::encodeFromFifo(int frames) {
    av_frame_unref(frame_.get());
    frame_->format = ctx_->sample_fmt;
    frame_->sample_rate = ctx_->sample_rate;
    av_channel_layout_copy(&frame_->ch_layout, &ctx_->ch_layout);
    frame_->nb_samples = padLastFrame_ ? frameSize_ : frames;
    int ret = av_frame_get_buffer(frame_.get(), 0);
    if (ret < 0) throw MediaError(QStringLiteral("Out of memory for audio"));
    if (frames < frame_->nb_samples)
        av_samples_set_silence(frame_->data, frames, frame_->nb_samples - frames, plan_.channels, ctx_->sample_fmt);
    if (av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame_->data), frames) < frames)
        throw MediaError(QStringLiteral("The audio buffer could not be read"));
    frame_->pts = pts_;
    pts_ += frame_->nb_samples;
    encode(frame_.get());
}

void AudioEncoder::write(const int16_t* samples, int64_t count) {
    // A stray sample after the last whole sample frame is not audio and is left out.
    const int channels = plan_.sourceChannels;
    // Fed in slices so one enormous chunk never needs one enormous buffer.
    constexpr int64_t kSlice = 1 << 16;
    for (int64_t done = 0; done < count / channels;) {
        const int frames = static_cast<int>(std::min(kSlice, count / channels - done));
        const uint8_t* input[1] = {reinterpret_cast<const uint8_t*>(samples + done * channels)};
        resample(input, frames);
        done += frames;
        while (av_audio_fifo_size(fifo_.get()) >= frameSize_) encodeFromFifo(frameSize_);
    }
}

void AudioEncoder::finish() {
    // Whatever the resampler still holds, then the last (possibly short) frame, then the encoder's delay.
    for (;;) {
        const int before = av_audio_fifo_size(fifo_.get());
        resample(nullptr, 0);
        if (av_audio_fifo_size(fifo_.get()) == before) break;
    }
    while (av_audio_fifo_size(fifo_.get()) >= frameSize_) encodeFromFifo(frameSize_);
    if (av_audio_fifo_size(fifo_.get()) > 0) encodeFromFifo(av_audio_fifo_size(fifo_.get()));
    encode(nullptr);
}
