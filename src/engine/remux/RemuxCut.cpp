#include "engine/remux/RemuxCut.h"

#include <QFile>
#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "engine/common/Bitstream.h"
#include "engine/common/Decoding.h"
#include "engine/common/MediaError.h"
#include "engine/common/StreamSelection.h"
#include "engine/reader/Demux.h"
#include "engine/reader/SharedIndexes.h"
#include "engine/reader/SourceScan.h"
#include "engine/remux/CutPlan.h"
#include "engine/remux/EdgeEncoder.h"
#include "engine/remux/SoundReencoder.h"

extern "C" {
#include <libavutil/mathematics.h>
}

namespace {

constexpr int64_t kNone = IndexedPacket::kNoTime;
// Packets copied per pass: a pass stays short, so Cancel and the window answer at once.
constexpr int kPacketsPerPass = 48;
// Sound runs this far ahead of the picture written, so the muxer can interleave the two.
constexpr double kAudioLeadSeconds = 0.5;

// The muxer for the output: the one the source's extension names, else the demuxer's own
// name. An MPEG program stream with MPEG-2 video is written as MPEG-2 program stream.
const AVOutputFormat* outputFormatFor(const QString& path, const AVInputFormat* source, AVCodecID video) {
    const QByteArray name = QFile::encodeName(path);
    if (QByteArray(source->name) == "mpeg")
        return av_guess_format(video == AV_CODEC_ID_MPEG2VIDEO ? "vob" : "mpeg", nullptr, nullptr);
    if (const AVOutputFormat* byName = av_guess_format(nullptr, name.constData(), nullptr)) return byName;
    const QByteArray first = QByteArray(source->name).split(',').value(0);
    return av_guess_format(first.constData(), nullptr, nullptr);
}

// The source's codec tag where the output format knows it for the same codec (an AVI keeps
// its "XVID"), else none, for the muxer to choose.
uint32_t keptTag(const AVOutputFormat* format, const AVCodecParameters* par) {
    if (!format->codec_tag || par->codec_tag == 0) return 0;
    return av_codec_get_id(format->codec_tag, par->codec_tag) == par->codec_id ? par->codec_tag : 0;
}

// The stream's frame rate, for encoders; 25 when the file tells none.
AVRational frameRateOf(const AVStream* st) {
    const double fps = demux::headerFrameRate(st);
    return fps > 0 ? av_d2q(fps, 100000) : AVRational{25, 1};
}

// A packet holding a copy of these bytes.
ffmpeg::Packet packetOf(const std::vector<uint8_t>& bytes) {
    ffmpeg::Packet p = ffmpeg::makePacket();
    if (!p || av_new_packet(p.get(), int(bytes.size())) < 0) throw MediaError(QStringLiteral("Out of memory"));
    std::memcpy(p->data, bytes.data(), bytes.size());
    return p;
}

}  // namespace

struct RemuxCut::Impl {
    QString path;
    demux::Input info;  // the demuxer that indexed the file: stream parameters
    int videoStream = -1, audioStream = -1;
    PacketIndex index;
    bool encodable = false;
    int64_t frameTicks = 1;  // video time base: one frame
    RemuxStats stats;
    int32_t current = 0;

    const AVStream* video() const { return info->streams[videoStream]; }
    // The video's average bit rate from its packets, bits per second (0 when unknown).
    int64_t sourceBitRate() const {
        int64_t bytes = 0;
        for (int p = 0; p < index.packetCount(); ++p) bytes += index.packet(p).size;
        const double seconds = (index.endTime() - index.firstTime()) * av_q2d(videoBase());
        return seconds > 0 ? int64_t(bytes * 8 / seconds) : 0;
    }
    AVRational videoBase() const { return video()->time_base; }
    AVRational audioBase() const { return info->streams[audioStream]->time_base; }

    // Keyframes known to be clean starts for decoding, read from the file when first asked.
    demux::Input probeIn;
    std::map<int, bool> cleanStarts;

    // --- One output file ---
    enum class Phase { Head, Copy, Tail, Done };
    QString outPath;
    ffmpeg::Output out;
    bool headerWritten = false;
    bool writeFailed = false;
    int outVideo = -1, outAudio = -1;
    CutPlan plan;
    Phase phase = Phase::Done;
    int64_t origin = 0;        // video time base: the first frame's time, time 0 of the output
    int64_t lastDts = kNone;   // video time base, output: the last video packet's decode time
    int64_t writtenTime = 0;   // video time base, output: the latest picture written
    int64_t videoWritten = 0;  // video packets written
    // AVI stores no timestamps, only the order of its packets, one frame each: the output is
    // timed by that order.
    bool byOrder = false;
    std::vector<uint8_t> headerBeforeCopy;

    // The video demuxer and the packet it delivered last, with its index number.
    demux::Input videoIn;
    ffmpeg::Packet packet = ffmpeg::makePacket();
    int nextPacket = 0;
    bool held = false;

    // The piece being encoded.
    bool pieceOpen = false;
    int32_t pieceFirst = 0, pieceLast = -1;
    int64_t pieceDelay = 0;  // video time base: how far decode times run before presentation
    ffmpeg::Codec decoder, encoder;
    ffmpeg::Frame frame = ffmpeg::makeFrame();
    ffmpeg::Packet encoded = ffmpeg::makePacket();
    bool sentEnd = false;

    // The sound.
    demux::Input audioIn;
    ffmpeg::Packet audioPacket = ffmpeg::makePacket();
    int64_t audioFrom = 0, audioTo = 0;  // audio time base: the range's sound
    bool audioDone = true;
    std::unique_ptr<SoundReencoder> sound;  // when the container cannot carry the source's sound codec
    int64_t audioNext = kNone;     // audio time base: where the packet read last ends
    int64_t audioPacketTicks = 1;  // audio time base: its duration

    void open(const QString& sourcePath);
    void begin(const QString& outputPath, int32_t first, int32_t last);
    bool step();
    void close();

    void createOutput();
    void addPieceParameterSets(AVCodecParameters* out);
    std::set<int> sourceParameterSetIds() const {
        return h264ParameterSetIds(video()->codecpar->extradata, video()->codecpar->extradata_size);
    }
    bool seekPacket(demux::Input& in, AVPacket* into, int target);
    void positionVideo(int target);
    bool cleanStart(int packet);
    CutPlan planFor(int32_t first, int32_t last);
    bool readVideo();
    void writePacket(AVPacket* p, int stream, AVRational base);
    void writeVideo(AVPacket* p, int64_t pts, int64_t dts);
    void copyPackets();
    bool encodePiece();
    void startPiece(int32_t first, int32_t last);
    void encodeFrame(const AVFrame* f, int32_t number);
    void drainEncoder();
    void endPiece();
    void writeAudioUpTo(int64_t videoTime);
    SoundReencoder::Write writeSound() {
        return [this](AVPacket* p, AVRational base) { writePacket(p, outAudio, base); };
    }
    void nextPhase();
};

void RemuxCut::Impl::open(const QString& sourcePath) {
    path = sourcePath;
    info = demux::openSource(path, true);
    videoStream = demux::pickVideoStream(info.get());
    if (videoStream < 0) throw MediaError(QStringLiteral("%1 holds no video").arg(path));
    audioStream = av_find_best_stream(info.get(), AVMEDIA_TYPE_AUDIO, -1, videoStream, nullptr, 0);
    if (audioStream < 0) audioStream = -1;
    const AVStream* st = video();
    const int64_t defaultDuration = av_rescale_q(1, av_inv_q(frameRateOf(st)), st->time_base);
    frameTicks = std::max<int64_t>(1, defaultDuration);
    // The window's reader has indexed the file when it opened it; otherwise it is read here.
    if (const auto known = publishedIndex(path, videoStream)) {
        index = *known;
    } else {
        SourceScan scan = scanPackets(info.get(), videoStream, -1);
        index = PacketIndex(std::move(scan.video), st->codecpar->video_delay > 0, defaultDuration);
    }
    if (index.frameCount() == 0) throw MediaError(QStringLiteral("%1 holds no pictures").arg(path));
    encodable = canEncodeEdges(st->codecpar);
}

void RemuxCut::Impl::createOutput() {
    const AVStream* sv = video();
    const AVOutputFormat* format = outputFormatFor(outPath, info->iformat, sv->codecpar->codec_id);
    if (!format) throw MediaError(QStringLiteral("Files like %1 cannot be written").arg(path));
    const QByteArray name = QFile::encodeName(outPath);
    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, format, nullptr, name.constData()) < 0 || !raw)
        throw MediaError(QStringLiteral("Out of memory"));
    out.reset(raw);
    writeFailed = false;
    byOrder = QByteArray(format->name) == "avi";
    auto addStream = [&](const AVStream* source) {
        AVStream* st = avformat_new_stream(raw, nullptr);
        if (!st || avcodec_parameters_copy(st->codecpar, source->codecpar) < 0)
            throw MediaError(QStringLiteral("Out of memory"));
        st->codecpar->codec_tag = keptTag(format, source->codecpar);
        st->time_base = source->time_base;
        st->sample_aspect_ratio = source->sample_aspect_ratio;
        st->avg_frame_rate = source->avg_frame_rate;
        st->r_frame_rate = source->r_frame_rate;
        st->disposition = source->disposition;
        av_dict_copy(&st->metadata, source->metadata, 0);
        for (int i = 0; i < source->nb_side_data; ++i) {  // the display matrix of a turned picture among them
            const AVPacketSideData& sd = source->side_data[i];
            if (uint8_t* copy = av_stream_new_side_data(st, sd.type, sd.size)) std::memcpy(copy, sd.data, sd.size);
        }
        return st->index;
    };
    outVideo = addStream(sv);
    if (plan.needsEncoding()) addPieceParameterSets(raw->streams[outVideo]->codecpar);
    outAudio = -1;
    sound.reset();
    if (audioStream >= 0) {
        const AVStream* sa = info->streams[audioStream];
        if (avformat_query_codec(format, sa->codecpar->codec_id, FF_COMPLIANCE_NORMAL) != 0) {
            outAudio = addStream(sa);
        } else {
            AVStream* st = avformat_new_stream(raw, nullptr);
            if (!st) throw MediaError(QStringLiteral("Out of memory"));
            sound = std::make_unique<SoundReencoder>(sa, format, st);
            outAudio = st->index;
        }
    }
    int ret = avio_open(&raw->pb, name.constData(), AVIO_FLAG_WRITE);
    if (ret < 0) throw MediaError(QStringLiteral("Cannot create %1 (%2)").arg(outPath, ffmpegErrorText(ret)));
    ret = avformat_write_header(raw, nullptr);
    if (ret < 0) throw MediaError(QStringLiteral("Cannot write %1 (%2)").arg(outPath, ffmpegErrorText(ret)));
    headerWritten = true;
}

// The container's header gets the H.264 pieces' parameter sets too, under identifiers the
// source does not use: a decoder that takes them from the header alone decodes the pieces.
void RemuxCut::Impl::addPieceParameterSets(AVCodecParameters* out) {
    const AVCodecParameters* par = video()->codecpar;
    if (par->codec_id != AV_CODEC_ID_H264 || par->format < 0) return;
    ffmpeg::Frame shape = ffmpeg::makeFrame();
    if (!shape) throw MediaError(QStringLiteral("Out of memory"));
    shape->width = par->width;
    shape->height = par->height;
    shape->format = par->format;
    const ffmpeg::Codec probe =
        openEdgeEncoder(video(), shape.get(), frameRateOf(video()), sourceBitRate(), sourceParameterSetIds(), true);
    const std::vector<uint8_t> header = withPieceParameterSets(par, probe->extradata, probe->extradata_size);
    if (header.empty()) return;
    uint8_t* copy = static_cast<uint8_t*>(av_mallocz(header.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!copy) throw MediaError(QStringLiteral("Out of memory"));
    std::memcpy(copy, header.data(), header.size());
    av_freep(&out->extradata);
    out->extradata = copy;
    out->extradata_size = int(header.size());
}

void RemuxCut::Impl::begin(const QString& outputPath, int32_t first, int32_t last) {
    outPath = outputPath;
    plan = planFor(first, last);
    if (plan.needsEncoding() && !encodable)
        throw MediaError(QStringLiteral("Frames of %1 cannot be encoded again").arg(path));
    origin = index.frameTime(first);
    lastDts = kNone;
    writtenTime = 0;
    videoWritten = 0;
    current = 0;
    stats = {};
    if (plan.hasCopy()) {
        stats.firstCopiedFrame = plan.copyFirst;
        stats.lastCopiedFrame = plan.copyLast;
    }
    const AVCodecParameters* par = video()->codecpar;
    headerBeforeCopy.clear();
    if (plan.hasHead() && plan.hasCopy()) headerBeforeCopy = inBandHeader(par);
    createOutput();

    videoIn = demux::openSource(path, true);
    keepOnlyStreams(videoIn.get(), {videoStream});
    if (outAudio >= 0) {
        audioIn = demux::openSource(path, true);
        keepOnlyStreams(audioIn.get(), {audioStream});
        audioFrom = av_rescale_q(origin, videoBase(), audioBase());
        const int64_t end = index.frameTime(last) + index.packet(index.packetOfFrame(last)).duration;
        audioTo = av_rescale_q(std::max(end, index.frameTime(last) + 1), videoBase(), audioBase());
        const int64_t seekTo = audioFrom - av_rescale_q(1, {1, 1}, audioBase());
        avformat_seek_file(audioIn.get(), audioStream, INT64_MIN, seekTo, seekTo, 0);
        audioDone = false;
        audioNext = kNone;
    } else {
        audioDone = true;
    }
    phase = Phase::Head;
    if (!plan.hasHead()) nextPhase();
}

void RemuxCut::Impl::nextPhase() {
    if (phase == Phase::Head) {
        phase = Phase::Copy;
        if (plan.hasCopy()) {
            positionVideo(plan.copyBegin);
            return;
        }
    }
    if (phase == Phase::Copy) {
        phase = Phase::Tail;
        if (plan.hasTail()) return;
    }
    phase = Phase::Done;
}

bool RemuxCut::Impl::step() {
    if (!out) return false;
    switch (phase) {
        case Phase::Head:
            if (!encodePiece()) nextPhase();
            break;
        case Phase::Copy: copyPackets(); break;
        case Phase::Tail:
            if (!encodePiece()) nextPhase();
            break;
        case Phase::Done:
            writeAudioUpTo(INT64_MAX);
            if (sound) sound->finish(writeSound());
            close();
            return false;
    }
    writeAudioUpTo(writtenTime + av_rescale_q(1, {1, 1}, videoBase()) * kAudioLeadSeconds);
    return true;
}

// Places a video demuxer so that `target` is the packet it delivered last (in `into`): by
// the target's timestamp, else from the start of the file. False when it is not found.
bool RemuxCut::Impl::seekPacket(demux::Input& in, AVPacket* into, int target) {
    av_packet_unref(into);
    auto scanTo = [&](bool fromStart) {
        int at = -1;
        while (av_read_frame(in.get(), into) >= 0) {
            if (into->stream_index != videoStream || into->size <= 0) {
                av_packet_unref(into);
                continue;
            }
            const auto found = index.locate(into->pos, into->pts, into->dts);
            if (found && index.packet(*found).size == into->size)
                at = *found;
            else if (at >= 0 || fromStart)
                ++at;
            if (at == target) return true;
            av_packet_unref(into);
            if (at > target) return false;
        }
        return false;
    };
    const IndexedPacket p = index.packet(target);
    const int64_t ts = p.dts != kNone ? p.dts : p.pts;
    if (ts != kNone && avformat_seek_file(in.get(), videoStream, INT64_MIN, ts, ts, 0) >= 0 && scanTo(false))
        return true;
    if (!demux::rewind(in, path)) return false;
    keepOnlyStreams(in.get(), {videoStream});
    return scanTo(true);
}

void RemuxCut::Impl::positionVideo(int target) {
    held = seekPacket(videoIn, packet.get(), target);
    if (!held) throw MediaError(QStringLiteral("Cannot find frame data in %1 (the file is damaged)").arg(path));
    nextPacket = target;
}

bool RemuxCut::Impl::cleanStart(int packetNumber) {
    if (video()->codecpar->codec_id != AV_CODEC_ID_H264) return true;
    if (const auto known = cleanStarts.find(packetNumber); known != cleanStarts.end()) return known->second;
    if (!probeIn) {
        probeIn = demux::openSource(path, false);
        keepOnlyStreams(probeIn.get(), {videoStream});
    }
    ffmpeg::Packet p = ffmpeg::makePacket();
    const bool clean = p && seekPacket(probeIn, p.get(), packetNumber) &&
                       startsCleanly(video()->codecpar, p->data, p->size);
    cleanStarts[packetNumber] = clean;
    return clean;
}

CutPlan RemuxCut::Impl::planFor(int32_t first, int32_t last) {
    return planCut(index, first, last, [this](int p) { return cleanStart(p); });
}

// The next video packet into `packet`, its index number in nextPacket - 1.
bool RemuxCut::Impl::readVideo() {
    if (held) {
        held = false;
        ++nextPacket;
        return true;
    }
    while (av_read_frame(videoIn.get(), packet.get()) >= 0) {
        if (packet->stream_index != videoStream || packet->size <= 0 || nextPacket >= index.packetCount()) {
            av_packet_unref(packet.get());
            continue;
        }
        const int64_t expected = index.packet(nextPacket).pos;
        if (packet->pos >= 0 && expected >= 0 && packet->pos != expected)
            if (const auto found = index.locate(packet->pos, kNone, kNone)) nextPacket = *found;
        ++nextPacket;
        return true;
    }
    return false;
}

void RemuxCut::Impl::writePacket(AVPacket* p, int stream, AVRational base) {
    p->stream_index = stream;
    p->pos = -1;
    av_packet_rescale_ts(p, base, out->streams[stream]->time_base);
    const int ret = av_interleaved_write_frame(out.get(), p);
    writeFailed = writeFailed || ret < 0;
    if (ret < 0) throw MediaError(QStringLiteral("Cannot write %1 (%2)").arg(outPath, ffmpegErrorText(ret)));
}

// Writes a video packet at output times pts and dts (video time base); decode times that
// would not rise are raised, never past the presentation time.
void RemuxCut::Impl::writeVideo(AVPacket* p, int64_t pts, int64_t dts) {
    if (byOrder) {
        // One frame per packet; pictures are shown as late as the codec's reordering needs.
        dts = videoWritten * frameTicks;
        pts = dts + video()->codecpar->video_delay * frameTicks;
    }
    ++videoWritten;
    if (lastDts != kNone && dts <= lastDts) dts = std::min(lastDts + 1, pts);
    lastDts = dts;
    p->pts = pts;
    p->dts = dts;
    writtenTime = std::max(writtenTime, pts);
    writePacket(p, outVideo, videoBase());
}

void RemuxCut::Impl::copyPackets() {
    for (int n = 0; n < kPacketsPerPass; ++n) {
        if (nextPacket >= plan.copyEnd || !readVideo()) return nextPhase();
        const int p = nextPacket - 1;
        if (p >= plan.copyEnd) return nextPhase();
        if (!plan.copies(index, p)) {
            av_packet_unref(packet.get());
            continue;
        }
        if (p == plan.copyBegin && !headerBeforeCopy.empty()) {
            // The pieces encoded before carried their own headers; the copy gets the source's back.
            std::vector<uint8_t> bytes = headerBeforeCopy;
            bytes.insert(bytes.end(), packet->data, packet->data + packet->size);
            const ffmpeg::Packet joined = packetOf(bytes);
            av_packet_copy_props(joined.get(), packet.get());
            av_packet_unref(packet.get());
            av_packet_move_ref(packet.get(), joined.get());
        }
        const int32_t frame = index.frameOfPacket(p);
        const int64_t pts = index.frameTime(frame) - origin;
        const int64_t dts = packet->dts != kNone ? packet->dts - origin : pts;
        writeVideo(packet.get(), pts, dts);
        av_packet_unref(packet.get());
        ++stats.videoPacketsCopied;
        current = std::max(current, frame);
    }
}

void RemuxCut::Impl::startPiece(int32_t first, int32_t last) {
    pieceFirst = first;
    pieceLast = last;
    pieceOpen = true;
    sentEnd = false;
    // Before a copy, decode times run ahead of presentation as far as the copy's do, so the
    // copy's first decode time still comes after the piece's last.
    pieceDelay = 0;
    if (phase == Phase::Head && plan.hasCopy()) {
        const IndexedPacket key = index.packet(plan.copyBegin);
        if (key.dts != kNone) pieceDelay = std::max<int64_t>(0, index.frameTime(plan.copyFirst) - key.dts);
    }
    decoder = demux::openDecoder(video(), 0, QStringLiteral("video"), path);
    encoder.reset();
    positionVideo(index.startPacketFor(first));
}

// Decodes and encodes the piece's next frame; false once the piece is written.
bool RemuxCut::Impl::encodePiece() {
    if (!pieceOpen) startPiece(phase == Phase::Head ? plan.headFirst : plan.tailFirst,
                               phase == Phase::Head ? plan.headLast : plan.tailLast);
    // Pictures before the piece that no other picture refers to are not decoded at all.
    const AVCodecParameters* par = video()->codecpar;
    auto read = [this, par] {
        while (readVideo()) {
            const int p = nextPacket - 1;
            if (index.frameOfPacket(p) < pieceFirst && unreferenced(par, packet->data, packet->size)) {
                av_packet_unref(packet.get());
                continue;
            }
            packet->pts = p;  // each picture tells which packet it came from
            return true;
        }
        return false;
    };
    while (decodeNextFrame(decoder.get(), frame.get(), packet.get(), &sentEnd, read)) {
        const int64_t tag = frame->pts;
        const int32_t number = tag >= 0 && tag < index.packetCount() ? index.frameOfPacket(int(tag)) : 0;
        if (number < pieceFirst || number > pieceLast) {
            av_frame_unref(frame.get());
            if (number > pieceLast) break;
            continue;
        }
        encodeFrame(frame.get(), number);
        av_frame_unref(frame.get());
        if (number == pieceLast) break;
        return true;
    }
    endPiece();
    return false;
}

void RemuxCut::Impl::encodeFrame(const AVFrame* f, int32_t number) {
    if (!encoder)
        encoder = openEdgeEncoder(video(), f, frameRateOf(video()), sourceBitRate(), sourceParameterSetIds());
    ffmpeg::Frame copy = ffmpeg::makeFrame();
    if (!copy || av_frame_ref(copy.get(), f) < 0) throw MediaError(QStringLiteral("Out of memory"));
    copy->pts = number - pieceFirst;
    copy->pict_type = AV_PICTURE_TYPE_NONE;
    const int ret = avcodec_send_frame(encoder.get(), copy.get());
    if (ret < 0) throw MediaError(QStringLiteral("Cannot encode frame %1 (%2)").arg(number).arg(ffmpegErrorText(ret)));
    current = number;
    drainEncoder();
}

void RemuxCut::Impl::drainEncoder() {
    const AVCodecParameters* par = video()->codecpar;
    while (avcodec_receive_packet(encoder.get(), encoded.get()) == 0) {
        const int32_t number = pieceFirst + int32_t(encoded->pts);
        const ffmpeg::Packet p = packetOf(toSourceForm(par, encoded->data, encoded->size));
        p->flags = encoded->flags & AV_PKT_FLAG_KEY;
        p->duration = index.packet(index.packetOfFrame(number)).duration;
        // Decode times count frames like pts; one before the piece's first frame is the
        // first frame's time less one frame.
        const int64_t dtsCount = encoded->dts != kNone ? encoded->dts : encoded->pts;
        const int64_t decodeTime =
            dtsCount >= 0 ? index.frameTime(std::min(pieceFirst + int32_t(dtsCount), pieceLast))
                          : index.frameTime(pieceFirst) + dtsCount * frameTicks;
        av_packet_unref(encoded.get());
        writeVideo(p.get(), index.frameTime(number) - origin, decodeTime - origin - pieceDelay);
        ++stats.videoPacketsEncoded;
    }
}

void RemuxCut::Impl::endPiece() {
    if (encoder) {
        avcodec_send_frame(encoder.get(), nullptr);
        drainEncoder();
    }
    encoder.reset();
    decoder.reset();
    pieceOpen = false;
}

void RemuxCut::Impl::writeAudioUpTo(int64_t videoTime) {
    while (!audioDone) {
        if (av_read_frame(audioIn.get(), audioPacket.get()) < 0) {
            audioDone = true;
            break;
        }
        AVPacket* a = audioPacket.get();
        int64_t ts = a->pts != kNone ? a->pts : a->dts;
        // A packet without its own time, or with its predecessor's (several frames in one
        // program stream packet), follows its predecessor.
        if (a->stream_index == audioStream && audioNext != kNone && (ts == kNone || ts < audioNext) &&
            (ts == kNone || ts >= audioNext - audioPacketTicks))
            ts = audioNext;
        if (a->stream_index != audioStream || ts == kNone || ts < audioFrom) {
            if (ts != kNone && a->stream_index == audioStream) audioNext = ts + std::max<int64_t>(a->duration, 1);
            av_packet_unref(a);
            continue;
        }
        audioPacketTicks = std::max<int64_t>(a->duration, 1);
        audioNext = ts + audioPacketTicks;
        if (ts >= audioTo) {
            av_packet_unref(a);
            audioDone = true;
            break;
        }
        a->pts = a->dts = ts - audioFrom;
        const int64_t shown = av_rescale_q(a->pts, audioBase(), videoBase());
        if (sound) {
            sound->push(a, a->pts * av_q2d(audioBase()), writeSound());
            av_packet_unref(a);
        } else {
            writePacket(a, outAudio, audioBase());
            ++stats.audioPacketsCopied;
        }
        if (shown > videoTime) break;
    }
}

void RemuxCut::Impl::close() {
    if (!out) return;
    QString failure;
    // A piece cut short (a cancel) still gives the frames its encoder holds.
    if (pieceOpen && headerWritten && !writeFailed) {
        try {
            endPiece();
        } catch (const MediaError& e) {
            failure = e.description();
        }
    }
    if (headerWritten) {
        const int ret = av_write_trailer(out.get());
        if (ret < 0) failure = QStringLiteral("Cannot complete %1 (%2)").arg(outPath, ffmpegErrorText(ret));
    }
    if (out->pb && avio_closep(&out->pb) < 0 && failure.isEmpty())
        failure = QStringLiteral("Cannot complete %1").arg(outPath);
    out.reset();
    headerWritten = false;
    encoder.reset();
    decoder.reset();
    videoIn.reset();
    audioIn.reset();
    sound.reset();
    pieceOpen = false;
    phase = Phase::Done;
    if (!failure.isEmpty()) throw MediaError(failure);
}

RemuxCut::RemuxCut(const QString& sourcePath) : impl_(std::make_unique<Impl>()) { impl_->open(sourcePath); }

RemuxCut::~RemuxCut() {
    try {
        impl_->close();
    } catch (...) {
    }
}

int32_t RemuxCut::frameCount() const { return impl_->index.frameCount(); }
QString RemuxCut::codecName() const { return demux::codecName(impl_->video()->codecpar->codec_id); }
bool RemuxCut::canWrite(int32_t first, int32_t last) const {
    return impl_->encodable || !impl_->planFor(first, last).needsEncoding();
}
CopyableEdges RemuxCut::copyableEdges(int32_t first, int32_t last) const {
    return ::copyableEdges(impl_->index, first, last);
}
void RemuxCut::begin(const QString& outputPath, int32_t first, int32_t last) {
    try {
        impl_->begin(outputPath, first, last);
    } catch (...) {
        try {
            impl_->close();
        } catch (...) {
        }
        throw;
    }
}
bool RemuxCut::step() {
    try {
        return impl_->step();
    } catch (...) {
        try {
            impl_->close();
        } catch (...) {
        }
        throw;
    }
}
void RemuxCut::close() { impl_->close(); }
int32_t RemuxCut::currentFrame() const { return impl_->current; }
const RemuxStats& RemuxCut::stats() const { return impl_->stats; }
