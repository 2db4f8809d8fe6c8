#include "engine/writer/OutputPlan.h"

#include <algorithm>
#include <cmath>

#include "engine/common/MediaError.h"
#include "engine/common/VideoSink.h"
#include "engine/writer/WriterCatalog.h"
#include "engine/writer/WriterRules.h"

extern "C" {
#include <libavcodec/codec_par.h>
}

namespace {

constexpr int kMaxFrameSide = 16384;

QSize sourceSize(const WriterSettings& s) { return {s.sourceWidth, s.sourceHeight}; }

// The output size: the one asked for, else the source's; checked and made even.
QSize outputSize(const WriterSettings& s, int width, int height) {
    QSize size = width > 0 && height > 0 ? QSize(width, height) : sourceSize(s);
    if (size.width() <= 0 || size.height() <= 0) throw MediaError(QStringLiteral("The video frame size is not set"));
    if (size.width() > kMaxFrameSide || size.height() > kMaxFrameSide)
        throw MediaError(
            QStringLiteral("The video frame size %1 x %2 is too large").arg(size.width()).arg(size.height()));
    return evenSize(size);
}

AVRational outputRate(const WriterSettings& s, double fps) {
    const AVRational rate = exactFrameRate(fps > 0 ? fps : s.sourceFps);
    if (rate.num <= 0) throw MediaError(QStringLiteral("The video frame rate is not set"));
    return rate;
}

// Frames arrive at the source's rate; without one, at the output's.
AVRational sourceRate(const WriterSettings& s, AVRational output) {
    const AVRational rate = exactFrameRate(s.sourceFps);
    return rate.num > 0 ? rate : output;
}

VideoPlan videoPlan(const WriterSettings& s, const char* encoder, AVPixelFormat format, QSize size, AVRational rate) {
    VideoPlan v;
    v.encoder = encoder;
    v.pixelFormat = format;
    v.width = size.width();
    v.height = size.height();
    v.frameRate = rate;
    v.sourceRate = sourceRate(s, rate);
    return v;
}

AudioPlan audioPlan(const WriterSettings& s, const char* encoder, int rate, int channels, int kbps) {
    if (s.sourceRate <= 0 || s.sourceChannels <= 0)
        throw MediaError(QStringLiteral("The source audio format is not set"));
    AudioPlan a;
    a.encoder = encoder;
    a.sampleRate = rate;
    a.channels = channels;
    a.bitRate = int64_t(kbps) * 1000;
    a.sourceRate = s.sourceRate;
    a.sourceChannels = s.sourceChannels;
    if (a.sampleRate <= 0 || a.sampleRate > 384000)
        throw MediaError(QStringLiteral("The audio sample rate %1 Hz is not supported").arg(a.sampleRate));
    return a;
}

int channelsOr(int channels, int fallback, int most) { return std::clamp(channels > 0 ? channels : fallback, 1, most); }

const AviCodec& aviCodec(const WriterSettings& s) {
    const auto& codecs = aviCodecs();
    if (s.aviCodec < 1 || s.aviCodec > int(codecs.size()))
        throw MediaError(QStringLiteral("There is no video codec number %1").arg(s.aviCodec));
    return codecs[s.aviCodec - 1];
}

VideoPlan aviVideo(const WriterSettings& s) {
    const AviCodec& codec = aviCodec(s);
    const size_t index = size_t(s.aviCodec - 1);
    const CodecSettings settings =
        clampedSettings(index < s.codecSettings.size() ? s.codecSettings[index] : codec.defaults, codec.caps);
    const QSize size = outputSize(s, s.aviWidth, s.aviHeight);
    VideoPlan v = videoPlan(s, codec.encoder, codec.pixelFormat, size, outputRate(s, s.aviFps));
    if (codec.fourcc) v.fourcc = codec.fourcc;
    v.gopSize = settings.keyframeInterval;
    const bool byBitrate = settings.rateControl == CodecSettings::RateControl::Bitrate && codec.caps.bitrate;
    if (byBitrate) {
        v.bitRate = int64_t(settings.bitrateKbps) * 1000;
    } else if (codec.caps.hasQuality()) {
        if (v.encoder == "libx264")
            v.crf = settings.quality;
        else
            v.qscale = settings.quality;
    }
    if (v.encoder == "libx264") v.options.emplace_back("preset", "veryfast");
    return v;
}

AudioPlan aviAudio(const WriterSettings& s) {
    const int rate = s.aviAudioRate > 0 ? s.aviAudioRate : s.sourceRate;
    const int channels = channelsOr(s.aviAudioChannels, s.sourceChannels, 8);
    using A = WriterSettings::AviAudio;
    switch (s.aviAudio) {
        case A::Pcm:
            switch (s.aviAudioBits) {
                case 8: return audioPlan(s, "pcm_u8", rate, channels, 0);
                case 16: return audioPlan(s, "pcm_s16le", rate, channels, 0);
                case 24: return audioPlan(s, "pcm_s24le", rate, channels, 0);
                case 32: return audioPlan(s, "pcm_s32le", rate, channels, 0);
                default:
                    throw MediaError(
                        QStringLiteral("PCM audio with %1 bits per sample is not supported (8, 16, 24 or 32)")
                            .arg(s.aviAudioBits));
            }
        case A::Adpcm: return audioPlan(s, "adpcm_ima_wav", rate, std::min(channels, 2), 0);
        case A::ALaw: return audioPlan(s, "pcm_alaw", rate, channels, 0);
        case A::MuLaw: return audioPlan(s, "pcm_mulaw", rate, channels, 0);
        case A::Gsm: return audioPlan(s, "libgsm_ms", 8000, 1, 0);  // GSM 6.10 is defined for 8 kHz mono only
        case A::Mp3: {
            const int mp3Rate = nearestRate(mp3SampleRates(), rate);
            return audioPlan(s, "libmp3lame", mp3Rate, std::min(channels, 2), mp3Bitrate(s.aviAudioKbps, mp3Rate));
        }
    }
    throw MediaError(QStringLiteral("Unknown AVI audio format"));
}

OutputPlan planAvi(const WriterSettings& s) {
    OutputPlan plan;
    plan.muxer = "avi";
    if (s.hasVideo) plan.video = aviVideo(s);
    if (s.hasAudio) plan.audio = aviAudio(s);
    return plan;
}

OutputPlan planMpeg(const WriterSettings& s) {
    if (s.mpegVersion != 1 && s.mpegVersion != 2)
        throw MediaError(QStringLiteral("MPEG version %1 is not supported (1 or 2)").arg(s.mpegVersion));
    const bool mpeg2 = s.mpegVersion == 2;
    OutputPlan plan;
    // MPEG-1 system stream as on video CDs; MPEG-2 program stream with DVD navigation packs.
    plan.muxer = mpeg2 ? "dvd" : "mpeg";
    if (s.hasVideo) {
        if (s.mpegVideoKbps <= 0)
            throw MediaError(QStringLiteral("The MPEG video bitrate %1 kbit/s is not valid").arg(s.mpegVideoKbps));
        const int limit = mpeg2 ? 16383 : 4095;
        QSize size = outputSize(s, s.mpegWidth, s.mpegHeight);
        size = fitWithin(size, limit, limit);
        const AVRational rate = nearestMpegFrameRate(outputRate(s, s.mpegFps));
        VideoPlan v = videoPlan(s, mpeg2 ? "mpeg2video" : "mpeg1video", AV_PIX_FMT_YUV420P, size, rate);
        v.bitRate = int64_t(s.mpegVideoKbps) * 1000;
        // DVD and VCD players expect a closed GOP of at most 15 (25 fps) or 18 (30 fps) frames.
        v.gopSize = av_q2d(rate) > 28 ? 18 : 15;
        v.maxBFrames = 2;
        if (mpeg2) {
            v.maxRate = std::max<int64_t>(9000000, v.bitRate);
            v.bufferSize = 1835008;  // the DVD video buffer: 224 KiB
        } else {
            // Up to the constrained-parameters bitrate: constant rate with the video-CD buffer of
            // 40 KiB; above it a buffer of half a second and peaks of twice the rate.
            const bool constrained = s.mpegVideoKbps <= 1856;
            v.maxRate = constrained ? v.bitRate : 2 * v.bitRate;
            v.minRate = constrained ? v.bitRate : 0;
            v.bufferSize = constrained ? 327680 : static_cast<int>(std::min<int64_t>(v.bitRate / 2, 1023 * 16384));
        }
        plan.video = v;
    }
    if (s.hasAudio) {
        const int channels = channelsOr(s.mpegAudioChannels, s.sourceChannels, 2);
        plan.audio = audioPlan(s, "mp2", mpeg2 ? 48000 : 44100, channels, mp2Bitrate(s.mpegAudioKbps, channels));
    }
    if (!mpeg2 && plan.video &&
        isVideoCdShape(QSize(plan.video->width, plan.video->height), plan.video->frameRate, s.mpegVideoKbps,
                       bool(plan.audio), plan.audio ? int(plan.audio->bitRate / 1000) : 0,
                       plan.audio ? plan.audio->channels : 0, plan.audio ? plan.audio->sampleRate : 0)) {
        // Video CD tools take only whole 2324-byte sectors at the disc's mux rate, with the
        // decoder's start-up delay the standard gives.
        plan.muxer = "vcd";
        plan.muxerOptions = {{"packetsize", "2324"}, {"muxrate", "1411200"}, {"preload", "440000"}};
    }
    return plan;
}

OutputPlan planWmv(const WriterSettings& s) {
    const auto& profiles = wmvProfiles();
    if (s.wmvProfile < 1 || s.wmvProfile > int(profiles.size()))
        throw MediaError(QStringLiteral("There is no WMV profile number %1").arg(s.wmvProfile));
    const WmvProfile& profile = profiles[s.wmvProfile - 1];
    OutputPlan plan;
    plan.muxer = "asf";
    if (s.hasVideo) {
        const QSize size = fitWithin(outputSize(s, 0, 0), profile.maxWidth, profile.maxHeight);
        const AVRational rate = outputRate(s, 0);
        VideoPlan v = videoPlan(s, "wmv2", AV_PIX_FMT_YUV420P, size, rate);
        v.bitRate = int64_t(profile.videoKbps) * 1000;
        v.gopSize = std::clamp(static_cast<int>(std::lround(av_q2d(rate) * 5)), 1, kMaxKeyframeInterval);
        plan.video = v;
    }
    if (s.hasAudio) plan.audio = audioPlan(s, "wmav2", profile.audioRate, profile.audioChannels, profile.audioKbps);
    return plan;
}

}  // namespace

VideoPlan adaptToSource(const VideoPlan& plan, const SourcePicture& source) {
    VideoPlan v = plan;
    const bool sarUsable = source.sampleAspect.num > 0 && source.sampleAspect.den > 0;
    const double displayAspect =
        source.width > 0 && source.height > 0
            ? double(source.width) / source.height * (sarUsable ? av_q2d(source.sampleAspect) : 1.0)
            : 0;
    const QSize output(plan.width, plan.height);
    if (plan.encoder == "mpeg1video" || plan.encoder == "mpeg2video") {
        const MpegShape shape = mpegShape(plan.encoder == "mpeg2video" ? 2 : 1, output, displayAspect);
        v.width = shape.width;
        v.sampleAspect = shape.sampleAspect;
    } else {
        v.sampleAspect = sampleAspectFor(displayAspect, output);
    }
    // MPEG-1 and the other encoders without field coding get the frames as they are.
    const bool fields = source.fieldOrder == AV_FIELD_TT || source.fieldOrder == AV_FIELD_BB;
    v.fieldOrder = source.fieldOrder;
    v.interlaced = fields && (plan.encoder == "mpeg2video" || plan.encoder == "mpeg4" || plan.encoder == "libx264");
    return v;
}

OutputPlan planOutput(const WriterSettings& settings, int container) {
    if (!settings.hasVideo && !settings.hasAudio)
        throw MediaError(QStringLiteral("There is nothing to write: neither video nor audio is set"));
    switch (container) {
        case kContainerAvi: return planAvi(settings);
        case kContainerMpeg: return planMpeg(settings);
        case kContainerWmv: return planWmv(settings);
        default: throw MediaError(QStringLiteral("Unknown container type %1 (1 AVI, 2 MPEG, 3 WMV)").arg(container));
    }
}
