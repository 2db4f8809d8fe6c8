#include "engine/remux/OutputSession.h"

#include <QByteArray>
#include <QFileInfo>
#include <QList>
#include <algorithm>
#include <cstring>
#include <string_view>

#include "engine/common/MediaError.h"
#include "engine/common/Wording.h"
#include "engine/output/ContainerRules.h"
#include "engine/reader/Demux.h"

extern "C" {
#include <libavutil/avstring.h>
#include <libavutil/timecode.h>
}

namespace {

constexpr int64_t kNone = IndexedPacket::kNoTime;

// The source's codec tag where the output format knows it for the same codec (an AVI keeps
// its "XVID"), else none, for the muxer to choose.
uint32_t keptTag(const AVOutputFormat* format, const AVCodecParameters* par) {
    if (!format->codec_tag || par->codec_tag == 0) return 0;
    return av_codec_get_id(format->codec_tag, par->codec_tag) == par->codec_id ? par->codec_tag : 0;
}

// An output stream carrying the source stream's packets unchanged.
AVStream* copyStream(AVFormatContext* out, const AVStream* source, const CutStart& start) {
    AVStream* st = avformat_new_stream(out, nullptr);
    if (!st || avcodec_parameters_copy(st->codecpar, source->codecpar) < 0)
        throw MediaError(QStringLiteral("Out of memory"));
    st->codecpar->codec_tag = keptTag(out->oformat, source->codecpar);
    st->time_base = source->time_base;
    // The container's pixel aspect where it states one (an AVI's 16:9 over a bitstream's 1:1, a
    // QuickTime ProRes's, which only the container holds), else the bitstream's: the muxer
    // refuses two that differ, and writes the one of the codec parameters.
    const AVRational aspect =
        source->sample_aspect_ratio.num > 0 ? source->sample_aspect_ratio : source->codecpar->sample_aspect_ratio;
    st->sample_aspect_ratio = st->codecpar->sample_aspect_ratio = aspect;
    st->avg_frame_rate = source->avg_frame_rate;
    st->r_frame_rate = source->r_frame_rate;
    st->disposition = source->disposition;
    copyKeptTags(&st->metadata, source->metadata, start);
    for (int i = 0; i < source->nb_side_data; ++i) {  // the display matrix of a turned picture among them
        const AVPacketSideData& sd = source->side_data[i];
        if (uint8_t* copy = av_stream_new_side_data(st, sd.type, sd.size)) std::memcpy(copy, sd.data, sd.size);
    }
    return st;
}

// Where the output's first picture is in the source, for the tags that tell a moment or a frame.
CutStart cutStart(const OpenedSource& source, const std::vector<WrittenSpan>& spans) {
    CutStart start;
    const AVStream* video = source.video();
    start.rate = timecodeRate(source.facts(), video);
    if (spans.empty() || source.index().frameCount() == 0) return start;
    const int64_t after = std::max<int64_t>(0, spans.front().from - source.index().frameTime(1));
    start.seconds = after * av_q2d(video->time_base);
    if (start.rate.num > 0 && start.rate.den > 0)
        start.frames = av_rescale_q_rnd(after, video->time_base, av_inv_q(start.rate), AV_ROUND_NEAR_INF);
    return start;
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
        throw MediaError(QStringLiteral("%1 file cannot hold this sound, and no encoder for it is available")
                             .arg(withArticle(QString::fromUtf8(format->name), true)));
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

namespace {

// The streams a container must carry as they are for a lossless cut: the video and every
// sound track; other tracks a container cannot carry are named when the file is written.
std::vector<const AVStream*> keptAsTheyAre(const OpenedSource& source) {
    std::vector<const AVStream*> streams{source.video()};
    const AVFormatContext* facts = source.facts();
    for (unsigned i = 0; i < facts->nb_streams; ++i)
        if (facts->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) streams.push_back(facts->streams[i]);
    return streams;
}

}  // namespace

QStringList losslessContainers(const OpenedSource& source) {
    std::vector<const AVCodecParameters*> streams;
    for (const AVStream* st : keptAsTheyAre(source)) streams.push_back(st->codecpar);
    return containersCarrying(streams);
}

QString losslessMisfit(const OpenedSource& source, const QString& extension) {
    const AVOutputFormat* format = containerOfExtension(extension);
    if (!format) return QStringLiteral("No container is named %1").arg(extension);
    int sounds = 0;
    for (const AVStream* st : keptAsTheyAre(source)) {
        const bool video = st == source.video();
        const QString label = trackLabel(st, video ? 1 : ++sounds);
        if (!extensionCarries(extension, st->codecpar))
            return QStringLiteral("%1: %2").arg(label, cannotCarryMessage(format, st->codecpar));
    }
    return {};
}

OutputSession::OutputSession(const OpenedSource& source, const QString& path, const QString& container,
                             const std::vector<uint8_t>& videoHeader, const std::vector<WrittenSpan>& spans,
                             int64_t writeLimit)
    : container_(path, losslessOutputFormat(source, path, container), writeLimit),
      videoBase_(source.video()->time_base),
      videoDelay_(source.video()->codecpar->video_delay),
      lastDts_(kNone) {
    AVFormatContext* out = container_.format();
    const QString extension = container.isEmpty() ? QFileInfo(path).suffix() : container;
    m2ts_ = extension.compare(QLatin1String("m2ts"), Qt::CaseInsensitive) == 0;
    byOrder_ = QByteArray(out->oformat->name) == "avi";
    const CutStart start = cutStart(source, spans);
    copyKeptTags(&out->metadata, source.facts()->metadata, start);  // title, artist, comment, capture date
    if (addKeptChapters(out, source.facts(), spans, videoBase_) > 0 && !containerCarriesChapters(out->oformat))
        notes_ << QStringLiteral("The chapters are not kept (%1 file holds none)")
                      .arg(withArticle(QString::fromUtf8(out->oformat->name)));
    frameTicks_ = source.frameTicks().value;
    AVStream* video = copyStream(out, source.video(), start);
    // Matroska gives every frame the stated rate's length unless its own says otherwise: a
    // source whose frames last differently states none, so readers take each frame's time.
    if (std::string_view(out->oformat->name) == "matroska" || std::string_view(out->oformat->name) == "webm")
        if (!source.index().evenlySpaced()) video->avg_frame_rate = video->r_frame_rate = AVRational{0, 1};
    if (!videoHeader.empty()) replaceHeader(video->codecpar, videoHeader);
    videoStream_ = video->index;
    // The other streams follow in the source's order, each numbered among those of its kind.
    const AVFormatContext* facts = source.facts();
    std::vector<int> numbers(AVMEDIA_TYPE_NB + 1, 0);
    for (unsigned i = 0; i < facts->nb_streams; ++i) {
        const AVStream* st = facts->streams[i];
        const int number = ++numbers[st->codecpar->codec_type + 1];
        if (int(i) != source.videoStream()) addTrack(source, int(i), number, start);
    }
    keepLayout(source);
    // Sound that begins before the first picture (the frame that covers the cut's start) keeps
    // its time: Matroska holds times before zero, which its muxer would otherwise make the start
    // of every stream, the picture and the cues moved late.
    if (av_match_name(out->oformat->name, "matroska,webm"))
        ffmpeg::setOption(options_, "avoid_negative_ts", "disabled");
    // The transport stream muxer writes Blu-ray's 192-byte packets (and Blu-ray's PCM) only for
    // a name ending in .m2ts unless told; the container chosen, else the name, decides, and the
    // streams kept are those of that container.
    if (std::string_view(out->oformat->name) == "mpegts")
        ffmpeg::setOption(options_, "mpegts_m2ts_mode", m2ts_ ? "1" : "0");
}

// An MP4 or QuickTime file keeps its timecode's rate; from one, it keeps its brand, its video's
// time scale, its tags in the form of keys where the source has them so (a phone's make and
// model), and its header before the media where the source has it there (so it plays while it
// downloads).
void OutputSession::keepLayout(const OpenedSource& source) {
    AVFormatContext* out = container_.format();
    const char* muxer = out->oformat->name;
    if (!av_match_name(muxer, "mov,mp4,3gp,3g2,ipod,psp,f4v,ismv")) return;
    // The muxer writes the timecode track at the rate the video states: a timecode counts at its
    // own, and a variable-rate video's average is none a timecode counts at.
    AVStream* video = out->streams[videoStream_];
    const AVRational tcRate = timecodeRate(source.facts(), source.video());
    if ((av_dict_get(out->metadata, "timecode", nullptr, 0) || av_dict_get(video->metadata, "timecode", nullptr, 0)) &&
        av_timecode_check_frame_rate(tcRate) == 0)
        video->avg_frame_rate = tcRate;
    const AVFormatContext* facts = source.facts();
    if (!av_match_name("mov", facts->iformat->name)) return;
    // QuickTime's own brand goes with the QuickTime muxer, an MP4 brand with the others.
    const AVDictionaryEntry* brand = av_dict_get(facts->metadata, "major_brand", nullptr, 0);
    if (brand && (std::strcmp(brand->value, "qt  ") == 0) == (std::strcmp(muxer, "mov") == 0))
        ffmpeg::setOption(options_, "brand", brand->value);
    // The muxer would count a track of 600 ticks a second (a phone's) in 19200.
    if (source.video()->time_base.num == 1)
        ffmpeg::setOption(options_, "video_track_timescale", int64_t(source.video()->time_base.den));
    QByteArray flags;
    if (source.headerBeforeMedia()) flags += "+faststart";
    // QuickTime's keys ("com.apple.quicktime.make") are written only in that form, which then
    // holds every tag; the source's brands are the muxer's to write, not tags.
    if (av_dict_get(facts->metadata, "com.apple.quicktime.", nullptr, AV_DICT_IGNORE_SUFFIX)) {
        flags += "+use_metadata_tags";
        for (const char* key : {"major_brand", "minor_version", "compatible_brands"})
            av_dict_set(&out->metadata, key, nullptr, 0);
    }
    if (!flags.isEmpty()) ffmpeg::setOption(options_, "movflags", flags.constData());
}

// Keeps source stream `index` (the `number`th of its kind) where the container can carry it,
// and says so where it cannot.
void OutputSession::addTrack(const OpenedSource& source, int index, int number, const CutStart& start) {
    AVFormatContext* out = container_.format();
    const AVStream* st = source.facts()->streams[index];
    const AVCodecParameters* par = st->codecpar;
    if (keptOtherwise(source.facts(), st)) return;
    const QString label = trackLabel(st, number);
    switch (par->codec_type) {
        case AVMEDIA_TYPE_AUDIO:
            if (!demux::describedSound(par)) {
                notes_ << QStringLiteral("%1 is not kept (its header tells no sample rate or channels)").arg(label);
            } else if (containerCarries(out->oformat, par, m2ts_)) {
                tracks_.push_back({index, copyStream(out, st, start)->index, par->codec_type, nullptr});
            } else if (!avcodec_find_decoder(par->codec_id)) {
                notes_ << QStringLiteral("%1 is not kept (%2, and it cannot be decoded)")
                              .arg(label, cannotCarryMessage(out->oformat, par));
            } else {
                const AudioPlan plan = soundPlan(out->oformat, st);
                soundEncoders_.push_back(std::make_unique<AudioEncoder>(container_.muxer(), plan));
                AVStream* encoded = out->streams[out->nb_streams - 1];
                copyKeptTags(&encoded->metadata, st->metadata, start);
                encoded->disposition = st->disposition;
                tracks_.push_back({index, encoded->index, par->codec_type, soundEncoders_.back().get()});
                notes_ << QStringLiteral("%1 is encoded again as %2 (%3)")
                              .arg(label, demux::codecName(avcodec_find_encoder_by_name(plan.encoder.c_str())->id),
                                   cannotCarryMessage(out->oformat, par));
            }
            return;
        case AVMEDIA_TYPE_SUBTITLE:
        case AVMEDIA_TYPE_DATA:
            if (containerCarries(out->oformat, par, m2ts_))
                tracks_.push_back({index, copyStream(out, st, start)->index, par->codec_type, nullptr});
            else
                notes_ << QStringLiteral("%1 is not kept (%2)").arg(label, cannotCarryMessage(out->oformat, par));
            return;
        case AVMEDIA_TYPE_ATTACHMENT:
            // Attachments (the fonts of styled subtitles) travel in the header, without packets.
            if (containerCarriesAttachments(out->oformat))
                copyStream(out, st, start);
            else
                notes_ << QStringLiteral("%1 is not kept (%2 file holds no attachments)")
                              .arg(label, withArticle(QString::fromUtf8(out->oformat->name)));
            return;
        case AVMEDIA_TYPE_VIDEO:
        case AVMEDIA_TYPE_UNKNOWN:
        case AVMEDIA_TYPE_NB:
            notes_ << QStringLiteral("%1 is not kept (only the first video is cut)").arg(label);
            return;
    }
}

void OutputSession::create() {
    container_.create(std::move(options_));
    container_.start();
}

void OutputSession::finish() {
    try {
        for (const auto& encoder : soundEncoders_) encoder->finish();
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

void OutputSession::writeCopied(AVPacket* packet, const Track& track, AVRational timeBase) {
    packet->stream_index = track.output;
    packet->pos = -1;
    container_.write(packet, timeBase);
}
