#include "engine/reader/SourceScan.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

#include "engine/common/Bitstream.h"
#include "engine/common/H264OpenGroup.h"
#include "engine/common/MediaError.h"
#include "engine/common/PackedPictures.h"
#include "engine/common/StreamSelection.h"

extern "C" {
#include <libavutil/intreadwrite.h>
}

namespace {

// Beyond this a file is not a video the program can cut (about 9 days at 25 fps); it also
// bounds the index's memory.
constexpr int64_t kMaxVideoPackets = 20'000'000;

// Samples the decoder drops at the start and end of this packet (encoder delay, padding).
std::pair<uint32_t, uint32_t> skippedSamples(const AVPacket* packet) {
    size_t size = 0;
    const uint8_t* data = av_packet_get_side_data(packet, AV_PKT_DATA_SKIP_SAMPLES, &size);
    if (!data || size < 8) return {0, 0};
    return {AV_RL32(data), AV_RL32(data + 4)};
}

// Display ranks of H.264 and HEVC pictures from FFmpeg's parser, which reports each
// picture's order count. The count starts again at an IDR picture: a keyframe that shows
// before a picture already seen opens a new period.
class DisplayRanker {
public:
    explicit DisplayRanker(const AVCodecParameters* par)
        : parser_(av_parser_init(par->codec_id)), context_(avcodec_alloc_context3(nullptr)) {
        if (!parser_ || !context_ || avcodec_parameters_to_context(context_.get(), par) < 0) {
            parser_.reset();
            return;
        }
        parser_->flags |= PARSER_FLAG_COMPLETE_FRAMES;
    }
    static bool knowsOrder(AVCodecID id) { return id == AV_CODEC_ID_H264 || id == AV_CODEC_ID_HEVC; }

    int64_t rank(const AVPacket* packet) {
        if (!parser_) return IndexedPacket::kNoTime;
        uint8_t* out = nullptr;
        int outSize = 0;
        av_parser_parse2(parser_.get(), context_.get(), &out, &outSize, packet->data, packet->size, AV_NOPTS_VALUE,
                         AV_NOPTS_VALUE, -1);
        const int64_t count = parser_->output_picture_number;
        if (parser_->key_frame == 1 && count <= highest_) {
            ++period_;
            highest_ = INT64_MIN;
        }
        highest_ = std::max(highest_, count);
        return period_ * (int64_t(1) << 32) + std::clamp<int64_t>(count, INT32_MIN, INT32_MAX);
    }

private:
    ffmpeg::Parser parser_;
    ffmpeg::Codec context_;
    int64_t period_ = 0;
    int64_t highest_ = INT64_MIN;
};

// Unpacks a packet of packed MPEG-4 and times it as its container would time the unpacked
// stream. Packing is made for containers timed by packet position (AVI), whose demuxer
// shows a B-frame at its own position and another picture at the next reference picture's:
// unpacked, the B-frames have moved, so that rule is applied anew to what each packet holds.
void unpackTimedByPosition(PictureUnpacker& unpacker, AVPacket* packet) {
    unpacker.unpack(packet);
    const std::vector<int> types = mpeg4PictureTypes(packet->data, packet->size);
    packet->pts = !types.empty() && types.front() == 2 ? packet->dts : AV_NOPTS_VALUE;
}

// Tells the scan's caller how far it is: when the percentage changes, and every so many
// packets even when it does not (a file of unknown size, or one with huge packets), so a
// window showing it keeps repainting. Reporting every few dozen packets instead cost a
// two-hour source's open 30 ms in the window's repaints.
class ProgressReport {
public:
    ProgressReport(AVFormatContext* input, const ScanProgress& progress)
        : input_(input), progress_(progress), size_(progress && input->pb ? avio_size(input->pb) : -1) {}

    void packetRead() {
        if (!progress_ || ++packets_ % kPacketsBetweenChecks != 0) return;
        const int percent =
            size_ > 0 ? static_cast<int>(std::clamp<int64_t>(avio_tell(input_->pb) * 100 / size_, 0, 100)) : 0;
        if (percent == reported_ && packets_ - reportedAt_ < kPacketsBetweenRepeats) return;
        reported_ = percent;
        reportedAt_ = packets_;
        if (!progress_(percent)) throw MediaError(QStringLiteral("Opening the file was cancelled"));
    }

private:
    static constexpr int64_t kPacketsBetweenChecks = 64, kPacketsBetweenRepeats = 1024;
    AVFormatContext* input_;
    const ScanProgress& progress_;
    int64_t size_;
    int64_t packets_ = 0, reportedAt_ = 0;
    int reported_ = -1;
};

// What the scan learns from one audio packet: where its sound starts and ends, its bytes.
class AudioFacts {
public:
    explicit AudioFacts(const AVStream* st) : base_(st->time_base), rate_(st->codecpar->sample_rate) {}

    void add(const AVPacket* p, SourceScan* scan) {
        if (p->size <= 0) return;
        scan->audioBytes += p->size;
        const int64_t ts = p->pts != AV_NOPTS_VALUE ? p->pts : p->dts;
        if (ts == AV_NOPTS_VALUE) return;
        // A packet without a duration (ASF gives none) lasts as long as the step to it.
        int64_t duration = p->duration;
        if (duration <= 0 && previousTs_ != AV_NOPTS_VALUE) duration = std::max<int64_t>(0, ts - previousTs_);
        previousTs_ = ts;
        const auto [skipStart, skipEnd] = skippedSamples(p);
        const int rate = rate_ > 0 ? rate_ : 1'000'000'000;  // no rate: skips count for next to nothing
        const Seconds start = toSeconds(StreamTicks{ts}, base_) + toSeconds(SampleIndex{skipStart}, rate);
        const Seconds end = toSeconds(StreamTicks{ts + duration}, base_) - toSeconds(SampleIndex{skipEnd}, rate);
        if (!scan->audioSeen || start < scan->audioStart) scan->audioStart = start;
        if (!scan->audioSeen || end > scan->audioEnd) scan->audioEnd = end;
        scan->audioSeen = true;
    }
    void forgetPrevious() { previousTs_ = AV_NOPTS_VALUE; }

private:
    AVRational base_;
    int rate_;
    int64_t previousTs_ = AV_NOPTS_VALUE;
};

// Packets read at each end of the audio when its facts come from the sample table.
constexpr int kAudioPacketsAtEachEnd = 16;

// True when the demuxer's header already listed every audio packet with its size: the
// sample table of MP4 and QuickTime files, one index entry per packet. The scan then
// leaves the audio packets alone (in a long recording there are about twice as many as
// video packets) and reads only a few at each end.
bool audioListedInHeader(const AVFormatContext* input, int audioStream) {
    if (audioStream < 0 || !input->pb || !(input->pb->seekable & AVIO_SEEKABLE_NORMAL)) return false;
    if (std::strncmp(input->iformat->name, "mov,", 4) != 0) return false;
    const AVStream* st = input->streams[audioStream];
    return st->nb_frames > 2 * kAudioPacketsAtEachEnd && avformat_index_get_entries_count(st) == st->nb_frames;
}

// The audio's facts from the sample table (bytes) and from its first and last packets
// (start and end, with the samples the decoder skips). Leaves the demuxer at the end.
bool audioFromHeader(AVFormatContext* input, int audioStream, SourceScan* scan) {
    AVStream* st = input->streams[audioStream];
    const int entries = avformat_index_get_entries_count(st);
    // The first and last packets hold the audio's start and end only when the table runs in
    // time order (an edit list can reorder it).
    int64_t bytes = 0, previous = INT64_MIN;
    for (int i = 0; i < entries; ++i) {
        const AVIndexEntry* entry = avformat_index_get_entry(st, i);
        if (entry->timestamp < previous) return false;
        previous = entry->timestamp;
        bytes += entry->size;
    }

    keepOnlyStreams(input, {audioStream});
    AudioFacts facts(st);
    SourceScan audio;
    ffmpeg::Packet packet = ffmpeg::makePacket();
    if (!packet) throw MediaError(QStringLiteral("Out of memory while indexing"));
    auto readFrom = [&](int entry, int wanted) {
        const int64_t ts = avformat_index_get_entry(st, entry)->timestamp;
        if (avformat_seek_file(input, audioStream, INT64_MIN, ts, ts, 0) < 0) return false;
        facts.forgetPrevious();
        for (int read = 0; read < wanted && av_read_frame(input, packet.get()) >= 0; av_packet_unref(packet.get()))
            if (packet->stream_index == audioStream) {
                facts.add(packet.get(), &audio);
                ++read;
            }
        return true;
    };
    // One packet before the last ones gives the first of them its length if it has none.
    if (!readFrom(0, kAudioPacketsAtEachEnd) ||
        !readFrom(entries - kAudioPacketsAtEachEnd - 1, std::numeric_limits<int>::max()) || !audio.audioSeen)
        return false;
    scan->audioSeen = true;
    scan->audioStart = audio.audioStart;
    scan->audioEnd = audio.audioEnd;
    scan->audioBytes = bytes;
    return true;
}

}  // namespace

SourceScan scanPackets(AVFormatContext* input, int videoStream, int audioStream, const ScanProgress& progress) {
    SourceScan scan;
    const bool audioInHeader = videoStream >= 0 && audioListedInHeader(input, audioStream);
    keepOnlyStreams(input, {videoStream, audioInHeader ? -1 : audioStream});
    std::optional<AudioFacts> audio;
    if (audioStream >= 0) audio.emplace(input->streams[audioStream]);
    if (videoStream >= 0) {
        // The header's count, when believable, saves growing the list packet by packet.
        const int64_t declared = input->streams[videoStream]->nb_frames;
        if (declared > 0 && declared <= kMaxVideoPackets && declared <= avio_size(input->pb))
            scan.video.reserve(static_cast<size_t>(declared));
    }

    // Streams without presentation times (H.264 in AVI, raw streams) get display ranks.
    std::optional<DisplayRanker> ranker;
    bool rankerDecided = false;
    // Packed MPEG-4 (DivX, Xvid) is unpacked from its first packed packet on, as every reader
    // of the packets does (see PacketCursor).
    std::optional<PictureUnpacker> unpacker;
    ffmpeg::Packet packet = ffmpeg::makePacket();
    if (!packet) throw MediaError(QStringLiteral("Out of memory while indexing"));
    ProgressReport report(input, progress);
    while (av_read_frame(input, packet.get()) >= 0) {
        const AVPacket* p = packet.get();
        report.packetRead();
        if (p->stream_index == videoStream) {
            if (++scan.videoPacketsRead > kMaxVideoPackets)
                throw MediaError(QStringLiteral("The video holds more than %1 frames").arg(kMaxVideoPackets));
            if (!rankerDecided) {
                rankerDecided = true;
                const AVCodecParameters* par = input->streams[videoStream]->codecpar;
                if (p->pts == AV_NOPTS_VALUE && DisplayRanker::knowsOrder(par->codec_id)) ranker.emplace(par);
            }
            if (p->size > 0) {
                const AVCodecParameters* par = input->streams[videoStream]->codecpar;
                IndexedPacket entry;
                entry.size = p->size;  // as the file holds it: readers recognise packets by it
                if (!unpacker && holdsPackedPictures(par, p->data, p->size)) {
                    unpacker.emplace(par);
                    scan.packedPictures = true;
                }
                if (unpacker) unpackTimedByPosition(*unpacker, packet.get());
                if (ranker) entry.order = ranker->rank(p);
                entry.pts = p->pts;
                entry.dts = p->dts;
                entry.pos = p->pos;
                entry.duration = std::max<int64_t>(0, p->duration);
                entry.key = (p->flags & AV_PKT_FLAG_KEY) && (scan.video.empty() || keyFlagsHold(par->codec_id));
                // Whether decoding can start cleanly here, read from the bitstream now, while
                // the packet is at hand, so no later user reads the file again for it.
                entry.cleanStart = entry.key && startsCleanly(par, p->data, p->size);
                if (entry.key && !entry.cleanStart && scan.openGroupRefusal.isEmpty())
                    scan.openGroupRefusal = openGroupRefusal(par, p->data, p->size);
                entry.discard = p->flags & AV_PKT_FLAG_DISCARD;
                scan.video.push_back(entry);
                scan.videoBytes += entry.size;
            }
        } else if (p->stream_index == audioStream && !audioInHeader) {
            audio->add(p, &scan);
        }
        av_packet_unref(packet.get());
    }
    if (audioInHeader && !audioFromHeader(input, audioStream, &scan)) {
        // The table led nowhere: read every audio packet from the start after all.
        scan.audioBytes = 0;
        const int64_t start = input->start_time != AV_NOPTS_VALUE ? input->start_time : 0;
        if (avformat_seek_file(input, -1, INT64_MIN, start, start, 0) >= 0) {
            keepOnlyStreams(input, {audioStream});
            while (av_read_frame(input, packet.get()) >= 0) {
                if (packet->stream_index == audioStream) audio->add(packet.get(), &scan);
                av_packet_unref(packet.get());
            }
        }
    }
    return scan;
}
