#include "engine/output/ContainerRules.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include <QFile>

#include "engine/common/FfmpegHandles.h"
#include "engine/common/Wording.h"

extern "C" {
#include <libavutil/avstring.h>
}

namespace {

bool among(AVCodecID codec, std::initializer_list<AVCodecID> codecs) {
    return std::find(codecs.begin(), codecs.end(), codec) != codecs.end();
}

bool programStream(const char* muxer) {
    for (const char* name : {"mpeg", "vob", "dvd", "svcd", "vcd"})
        if (std::strcmp(muxer, name) == 0) return true;
    return false;
}

// What an MPEG program stream defines: MPEG video, MPEG, AC-3, DTS and linear PCM sound,
// DVD subtitles.
bool programStreamCarries(AVCodecID codec) {
    return among(codec, {AV_CODEC_ID_MPEG1VIDEO, AV_CODEC_ID_MPEG2VIDEO, AV_CODEC_ID_MP1, AV_CODEC_ID_MP2,
                         AV_CODEC_ID_MP3, AV_CODEC_ID_AC3, AV_CODEC_ID_DTS, AV_CODEC_ID_PCM_DVD, AV_CODEC_ID_PCM_S16BE,
                         AV_CODEC_ID_DVD_SUBTITLE});
}

// The stream types a transport stream's program map gives a player.
bool transportStreamCarries(AVCodecID codec) {
    return among(codec,
                 {AV_CODEC_ID_MPEG1VIDEO, AV_CODEC_ID_MPEG2VIDEO, AV_CODEC_ID_MPEG4,        AV_CODEC_ID_H264,
                  AV_CODEC_ID_HEVC,       AV_CODEC_ID_CAVS,       AV_CODEC_ID_DIRAC,        AV_CODEC_ID_VC1,
                  AV_CODEC_ID_MP2,        AV_CODEC_ID_MP3,        AV_CODEC_ID_AAC,          AV_CODEC_ID_AAC_LATM,
                  AV_CODEC_ID_AC3,        AV_CODEC_ID_EAC3,       AV_CODEC_ID_DTS,          AV_CODEC_ID_TRUEHD,
                  AV_CODEC_ID_OPUS,       AV_CODEC_ID_S302M,      AV_CODEC_ID_DVB_SUBTITLE, AV_CODEC_ID_DVB_TELETEXT,
                  AV_CODEC_ID_SMPTE_KLV});
}

// What a Blu-ray transport stream (.m2ts) defines: players, GStreamer among them, show no
// other stream of such a file.
bool blurayStreamCarries(AVCodecID codec) {
    return among(codec, {AV_CODEC_ID_MPEG2VIDEO, AV_CODEC_ID_H264, AV_CODEC_ID_HEVC, AV_CODEC_ID_VC1,
                         AV_CODEC_ID_PCM_BLURAY, AV_CODEC_ID_AC3, AV_CODEC_ID_EAC3, AV_CODEC_ID_DTS,
                         AV_CODEC_ID_TRUEHD, AV_CODEC_ID_HDMV_PGS_SUBTITLE, AV_CODEC_ID_HDMV_TEXT_SUBTITLE});
}

// The trial's output: every byte is taken and dropped, and it seeks as a file does.
int dropBytes(void*, uint8_t*, int size) { return size; }
int64_t seekNowhere(void*, int64_t offset, int whence) { return whence & AVSEEK_SIZE ? 0 : offset; }

// The muxer's own answer for one stream, as the file's set-up gets it.
bool muxerTakes(const AVOutputFormat* format, const AVCodecParameters* par, bool bluray) {
    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, format, nullptr, nullptr) < 0 || !raw) return false;
    ffmpeg::Output trial(raw);
    trial->strict_std_compliance = kOutputCompliance;
    AVStream* st = avformat_new_stream(raw, nullptr);
    if (!st || avcodec_parameters_copy(st->codecpar, par) < 0) return false;
    st->codecpar->codec_tag = 0;  // the muxer's own, as for a stream whose tag it does not know
    ffmpeg::CustomIo io = ffmpeg::makeCustomIo(4096, true, nullptr, nullptr, dropBytes, seekNowhere);
    if (!io) return false;
    trial->pb = io.get();
    trial->flags |= AVFMT_FLAG_CUSTOM_IO;
    ffmpeg::Dictionary options;
    if (bluray) ffmpeg::setOption(options, "mpegts_m2ts_mode", "1");
    const int ret = ffmpeg::withOptions(options, [&](AVDictionary** d) { return avformat_init_output(raw, d); });
    trial.reset();  // before its output
    return ret >= 0;
}

}  // namespace

bool extensionCarries(const QString& extension, AVCodecID codec) {
    if (extension.compare(QLatin1String("m2ts"), Qt::CaseInsensitive) == 0) return blurayStreamCarries(codec);
    const AVOutputFormat* format = containerOfExtension(extension);
    return format && containerCarries(format, codec);
}

bool extensionCarries(const QString& extension, const AVCodecParameters* par) {
    const AVOutputFormat* format = containerOfExtension(extension);
    const bool bluray = extension.compare(QLatin1String("m2ts"), Qt::CaseInsensitive) == 0;
    return format && extensionCarries(extension, par->codec_id) && muxerTakes(format, par, bluray);
}

bool containerCarries(const AVOutputFormat* format, AVCodecID codec, bool bluray) {
    if (programStream(format->name)) return programStreamCarries(codec);
    if (std::strcmp(format->name, "mpegts") == 0)
        return transportStreamCarries(codec) || (bluray && blurayStreamCarries(codec));
    // 1: it does, 0: it does not, negative: FFmpeg cannot tell, and the muxer decides.
    return avformat_query_codec(format, codec, kOutputCompliance) != 0;
}

bool containerCarries(const AVOutputFormat* format, const AVCodecParameters* par, bool bluray) {
    return containerCarries(format, par->codec_id, bluray) && muxerTakes(format, par, bluray);
}

bool containerCarriesAttachments(const AVOutputFormat* format) { return std::strcmp(format->name, "matroska") == 0; }

bool containerCarriesChapters(const AVOutputFormat* format) {
    return av_match_name(format->name, "matroska,webm,mov,mp4,3gp,3g2,ipod,psp,f4v,ismv,asf,ogg,ogv");
}

QString cannotCarryMessage(const AVOutputFormat* format, const AVCodecParameters* par) {
    const AVCodecDescriptor* desc = avcodec_descriptor_get(par->codec_id);
    const QString codecName =
        QString::fromUtf8(desc && desc->long_name ? desc->long_name : avcodec_get_name(par->codec_id));
    const QString container = QString::fromUtf8(format->long_name ? format->long_name : format->name);
    const QString refusal = QStringLiteral("%1 file cannot hold %2").arg(withArticle(container, true), codecName);
    const QStringList carriers = containersCarrying(std::vector<const AVCodecParameters*>{par});
    return carriers.isEmpty() ? refusal : refusal + QStringLiteral("; it can go in: %1").arg(carriers.join(", "));
}

const AVOutputFormat* containerOfExtension(const QString& extension) {
    if (extension.isEmpty()) return nullptr;
    const QByteArray name = QFile::encodeName(QStringLiteral("output.") + extension);
    return av_guess_format(nullptr, name.constData(), nullptr);
}

namespace {

template <typename Stream>
QStringList carriersOf(const std::vector<Stream>& streams) {
    QStringList carriers;
    for (const char* name : kCopyContainers) {
        const QString extension = QString::fromLatin1(name);
        if (std::all_of(streams.begin(), streams.end(), [&](Stream s) { return extensionCarries(extension, s); }))
            carriers << extension;
    }
    return carriers;
}

}  // namespace

QStringList containersCarrying(const std::vector<AVCodecID>& codecs) { return carriersOf(codecs); }
QStringList containersCarrying(const std::vector<const AVCodecParameters*>& streams) { return carriersOf(streams); }

const char* packetFormFilter(const AVOutputFormat* format, const AVCodecParameters* par) {
    const bool configRecord = par->extradata_size > 0 && par->extradata[0] == 1;
    if (!configRecord || (format->flags & AVFMT_GLOBALHEADER)) return nullptr;
    if (par->codec_id == AV_CODEC_ID_H264) return "h264_mp4toannexb";
    if (par->codec_id == AV_CODEC_ID_HEVC) return "hevc_mp4toannexb";
    return nullptr;
}
