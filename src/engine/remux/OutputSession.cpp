#include "engine/remux/OutputSession.h"

#include <QByteArray>
#include <QList>
#include <algorithm>
#include <cstring>

#include "engine/common/MediaError.h"
#include "engine/output/ContainerRules.h"

extern "C" {
#include <libavutil/avstring.h>
}

namespace {

constexpr int64_t kNone = IndexedPacket::kNoTime;

// The source's codec tag where the output format knows it for the same codec (an AVI keeps
// its "XVID"), else none, for the muxer to choose.
uint32_t keptTag(const AVOutputFormat* format, const AVCodecParameters* par) {
    if (!format->codec_tag || par->codec_tag == 0) return 0;
    return av_codec_get_id(format->codec_tag, par->codec_tag) == par->codec_id ? par->codec_tag : 0;
}

// Copies the tags that stay true of a piece of the source. Statistics of the whole stream
// (mkvmerge lists its frame count, bytes, duration and rate in _STATISTICS_TAGS) would be wrong
// for the piece, and the muxer names itself as the encoder of the file.
void copyTags(AVDictionary** to, const AVDictionary* from) {
    const AVDictionaryEntry* listed = av_dict_get(from, "_STATISTICS_TAGS", nullptr, 0);
    const QList<QByteArray> statistics = listed ? QByteArray(listed->value).split(' ') : QList<QByteArray>{};
    const AVDictionaryEntry* tag = nullptr;
    while ((tag = av_dict_get(from, "", tag, AV_DICT_IGNORE_SUFFIX))) {
        const QByteArray key(tag->key);
        const QByteArray base = key.split('-').first();  // "BPS-eng" is BPS in English
        if (key.startsWith("_STATISTICS_") || statistics.contains(base) || key == "encoder") continue;
        av_dict_set(to, tag->key, tag->value, 0);
    }
}

// An output stream carrying the source stream's packets unchanged.
AVStream* copyStream(AVFormatContext* out, const AVStream* source) {
    AVStream* st = avformat_new_stream(out, nullptr);
    if (!st || avcodec_parameters_copy(st->codecpar, source->codecpar) < 0)
        throw MediaError(QStringLiteral("Out of memory"));
    st->codecpar->codec_tag = keptTag(out->oformat, source->codecpar);
    st->time_base = source->time_base;
    st->sample_aspect_ratio = source->sample_aspect_ratio;
    st->avg_frame_rate = source->avg_frame_rate;
    st->r_frame_rate = source->r_frame_rate;
    st->disposition = source->disposition;
    copyTags(&st->metadata, source->metadata);
    for (int i = 0; i < source->nb_side_data; ++i) {  // the display matrix of a turned picture among them
        const AVPacketSideData& sd = source->side_data[i];
        if (uint8_t* copy = av_stream_new_side_data(st, sd.type, sd.size)) std::memcpy(copy, sd.data, sd.size);
    }
    return st;
}

void replaceHeader(AVCodecParameters* par, const std::vector<uint8_t>& header) {
    auto* copy = static_cast<uint8_t*>(av_mallocz(header.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!copy) throw MediaError(QStringLiteral("Out of memory"));
    std::memcpy(copy, header.data(), header.size());
    av_freep(&par->extradata);
    par->extradata = copy;
    par->extradata_size = int(header.size());
}

// The sound encoder the container takes by default, at the source's rate where it can.
AudioPlan soundPlan(const AVOutputFormat* format, const AVStream* source) {
    const AVCodec* codec = avcodec_find_encoder(format->audio_codec);
    if (!codec)
        throw MediaError(QStringLiteral("A %1 file cannot hold this sound, and no encoder for it is available")
                             .arg(QString::fromUtf8(format->name)));
    const AVCodecParameters* par = source->codecpar;
    AudioPlan plan;
    plan.encoder = codec->name;
    plan.sourceRate = par->sample_rate;
    plan.channels = plan.sourceChannels = std::clamp(par->ch_layout.nb_channels, 1, 2);
    plan.sampleRate = par->sample_rate;
    if (codec->supported_samplerates) {
        int best = codec->supported_samplerates[0];
        for (const int* r = codec->supported_samplerates; *r; ++r)
            if (std::abs(*r - par->sample_rate) < std::abs(best - par->sample_rate)) best = *r;
        plan.sampleRate = best;
    }
    // The source's rate where it tells one an encoder of this kind takes, else a common one.
    constexpr int64_t kLowest = 64000, kHighest = 320000, kUsual = 192000;
    plan.bitRate = par->bit_rate > 0 ? std::clamp<int64_t>(par->bit_rate, kLowest, kHighest) : kUsual;
    return plan;
}

}  // namespace

const AVOutputFormat* losslessOutputFormat(const OpenedSource& source, const QString& path, const QString& container) {
    const AVInputFormat* input = source.facts()->iformat;
    const AVOutputFormat* format =
        container.isEmpty() ? outputFormatNamed(nullptr, path) : containerOfExtension(container);
    if (!format && !container.isEmpty()) throw MediaError(QStringLiteral("No container is named %1").arg(container));
    if (!format) format = outputFormatNamed(QByteArray(input->name).split(',').value(0).constData());
    // Every program stream muxer (.mpg, .vob, .vcd) writes the same file, padded for one kind
    // of disc or another: the plain one, or the DVD one for MPEG-2 video.
    if (format && (av_match_name(format->name, "mpeg,vob,dvd,svcd,vcd"))) {
        const bool mpeg2 = source.video() && source.video()->codecpar->codec_id == AV_CODEC_ID_MPEG2VIDEO;
        return outputFormatNamed(mpeg2 ? "vob" : "mpeg");
    }
    return format;
}

QStringList losslessContainers(const OpenedSource& source) {
    std::vector<AVCodecID> codecs;
    for (const AVStream* st : {source.video(), source.audio()})
        if (st) codecs.push_back(st->codecpar->codec_id);
    return containersCarrying(codecs);
}

OutputSession::OutputSession(const OpenedSource& source, const QString& path, const QString& container,
                             const std::vector<uint8_t>& videoHeader, int64_t writeLimit)
    : container_(path, losslessOutputFormat(source, path, container), writeLimit),
      videoBase_(source.video()->time_base),
      videoDelay_(source.video()->codecpar->video_delay),
      lastDts_(kNone) {
    AVFormatContext* out = container_.format();
    byOrder_ = QByteArray(out->oformat->name) == "avi";
    copyTags(&out->metadata, source.facts()->metadata);  // title, artist, comment, capture date
    frameTicks_ = source.frameTicks().value;
    AVStream* video = copyStream(out, source.video());
    if (!videoHeader.empty()) replaceHeader(video->codecpar, videoHeader);
    videoStream_ = video->index;
    if (const AVStream* sound = source.audio()) {
        if (containerCarries(out->oformat, sound->codecpar->codec_id)) {
            soundStream_ = copyStream(out, sound)->index;
        } else {
            const AudioPlan plan = soundPlan(out->oformat, sound);
            soundEncoder_ = std::make_unique<AudioEncoder>(container_.muxer(), plan);
            soundEncodedAs_ = avcodec_find_encoder_by_name(plan.encoder.c_str())->id;
            soundStream_ = int(out->nb_streams) - 1;
        }
    }
}

void OutputSession::create() {
    container_.create();
    container_.start();
}

void OutputSession::finish() {
    try {
        if (soundEncoder_) soundEncoder_->finish();
        container_.finish();
    } catch (...) {
        container_.abandon();
        throw;
    }
}

void OutputSession::placeRange(StreamTicks sourceStart, StreamTicks outputStart) {
    origin_ = StreamTicks{sourceStart.value - outputStart.value};
}

void OutputSession::writeVideo(AVPacket* packet, StreamTicks pts, StreamTicks dts) {
    int64_t outPts = pts.value - origin_.value;
    int64_t outDts = dts.value - origin_.value;
    if (byOrder_) {
        // One frame per packet; pictures are shown as late as the codec's reordering needs.
        outDts = videoWritten_ * frameTicks_;
        outPts = outDts + videoDelay_ * frameTicks_;
    }
    ++videoWritten_;
    if (lastDts_ != kNone && outDts <= lastDts_) outDts = std::min(lastDts_ + 1, outPts);
    lastDts_ = outDts;
    packet->pts = outPts;
    packet->dts = outDts;
    writtenTime_ = std::max(writtenTime_, StreamTicks{outPts});
    packet->stream_index = videoStream_;
    packet->pos = -1;
    container_.write(packet, videoBase_);
}

void OutputSession::writeSound(AVPacket* packet, AVRational timeBase) {
    packet->stream_index = soundStream_;
    packet->pos = -1;
    container_.write(packet, timeBase);
}
