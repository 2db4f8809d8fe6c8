#pragma once
// Shared by the writer tests: a small decoder that delivers frames and audio exactly as the
// engine's reader does (frames in the decoder's pixel layout packed by packFrame, audio as
// interleaved 16-bit samples at the source's rate and channels), a feeder that copies them into
// a writer interleaved by time as the jobs do, and ffprobe-based checks of the result.
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <map>
#include <optional>
#include <stdexcept>

#include "engine/common/FrameData.h"
#include "engine/common/VideoSink.h"
#include "engine/writer/WriterCatalog.h"
#include "support/Clips.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libswresample/swresample.h>
}

inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace writertest {

// FFmpeg's notes about its own encoding choices would bury the test output.
inline const bool quietFfmpeg = [] {
    av_log_set_level(AV_LOG_ERROR);
    return true;
}();

struct DecodedClip {
    int width = 0;
    int height = 0;
    double fps = 0;
    int sampleRate = 0;
    int channels = 0;
    std::vector<FrameData> frames;
    AudioChunk audio;  // the whole sound track
    bool hasAudio() const { return sampleRate > 0; }
};

inline void check(int ret, const char* what) {
    if (ret < 0) throw std::runtime_error(std::string(what) + ": " + ffmpegErrorText(ret).toStdString());
}

// Decodes a whole (short) clip.
inline DecodedClip decodeClip(const QString& path) {
    DecodedClip clip;
    AVFormatContext* fmt = nullptr;
    check(avformat_open_input(&fmt, QFile::encodeName(path).constData(), nullptr, nullptr), "open");
    check(avformat_find_stream_info(fmt, nullptr), "stream info");
    const int v = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const int a = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    AVCodecContext* dec[2] = {nullptr, nullptr};
    const int index[2] = {v, a};
    for (int i = 0; i < 2; ++i) {
        if (index[i] < 0) continue;
        const AVStream* st = fmt->streams[index[i]];
        dec[i] = avcodec_alloc_context3(avcodec_find_decoder(st->codecpar->codec_id));
        avcodec_parameters_to_context(dec[i], st->codecpar);
        dec[i]->thread_count = 0;
        check(avcodec_open2(dec[i], dec[i]->codec, nullptr), "decoder");
    }
    if (v >= 0) {
        clip.width = dec[0]->width;
        clip.height = dec[0]->height;
        clip.fps = av_q2d(fmt->streams[v]->avg_frame_rate.num ? fmt->streams[v]->avg_frame_rate
                                                              : fmt->streams[v]->r_frame_rate);
    }
    SwrContext* swr = nullptr;
    if (a >= 0) {
        clip.sampleRate = dec[1]->sample_rate;
        clip.channels = dec[1]->ch_layout.nb_channels;
    }
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto drain = [&](int i) {
        while (avcodec_receive_frame(dec[i], frame) >= 0) {
            if (i == 0) {
                const int n = int(clip.frames.size()) + 1;
                clip.frames.push_back(packFrame(frame, n, int(std::lround((n - 1) * 1000 / clip.fps))));
            } else {
                if (!swr) {
                    AVChannelLayout out{};
                    av_channel_layout_default(&out, clip.channels);
                    check(swr_alloc_set_opts2(&swr, &out, AV_SAMPLE_FMT_S16, clip.sampleRate, &frame->ch_layout,
                                              AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr),
                          "swr");
                    check(swr_init(swr), "swr init");
                }
                const size_t at = clip.audio.size();
                const int room = swr_get_out_samples(swr, frame->nb_samples);
                clip.audio.resize(at + size_t(room) * clip.channels);
                uint8_t* out[1] = {reinterpret_cast<uint8_t*>(clip.audio.data() + at)};
                const int got =
                    swr_convert(swr, out, room, const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
                clip.audio.resize(at + size_t(std::max(got, 0)) * clip.channels);
            }
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(fmt, pkt) >= 0) {
        for (int i = 0; i < 2; ++i)
            if (dec[i] && pkt->stream_index == index[i]) {
                avcodec_send_packet(dec[i], pkt);
                drain(i);
            }
        av_packet_unref(pkt);
    }
    for (int i = 0; i < 2; ++i)
        if (dec[i]) {
            avcodec_send_packet(dec[i], nullptr);
            drain(i);
            avcodec_free_context(&dec[i]);
        }
    swr_free(&swr);
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avformat_close_input(&fmt);
    return clip;
}

inline const DecodedClip& decoded(const QString& clipName) {
    static std::map<QString, DecodedClip> cache;
    auto it = cache.find(clipName);
    if (it == cache.end()) it = cache.emplace(clipName, decodeClip(clips::get(clipName).path)).first;
    return it->second;
}

// Tells the writer about the source as the window does before the format calls.
inline void describeSource(VideoSink& writer, const DecodedClip& clip) {
    if (!clip.frames.empty()) writer.SetVideoFormat(clip.width, clip.height, clip.fps);
    if (clip.hasAudio()) writer.SetAudioFormat(clip.sampleRate, clip.channels);
    writer.SetHasVideo(!clip.frames.empty());
    writer.SetHasAudio(clip.hasAudio());
}

// Writes frames [first, first + count) and the audio of the same time span, interleaved by time
// in chunks of 1152 sample frames (2304 bytes of mono audio), as the copy loop of the jobs does.
struct Fed {
    double videoSeconds = 0;  // frames written / source rate
    double audioSeconds = 0;  // samples written / source rate
};

inline Fed copyInterleaved(VideoSink& writer, const DecodedClip& clip, int first = 0, int count = -1) {
    if (count < 0) count = int(clip.frames.size()) - first;
    const int channels = std::max(1, clip.channels);
    const double start = first / clip.fps, end = (first + count) / clip.fps;
    int64_t sample = clip.hasAudio() ? std::llround(start * clip.sampleRate) : 0;
    const int64_t lastSample =
        clip.hasAudio() ? std::min<int64_t>(std::llround(end * clip.sampleRate), clip.audio.size() / channels) : 0;
    int frame = first;
    const int chunk = 1152;
    while (frame < first + count || sample < lastSample) {
        const double v = frame / clip.fps, a = clip.hasAudio() ? double(sample) / clip.sampleRate : 1e300;
        if (frame < first + count && (v <= a || sample >= lastSample)) {
            writer.WriteVideoFrame(clip.frames[size_t(frame++)]);
        } else {
            const int64_t n = std::min<int64_t>(chunk, lastSample - sample);
            AudioChunk part(clip.audio.begin() + sample * channels, clip.audio.begin() + (sample + n) * channels);
            writer.WriteAudio(part);
            sample += n;
        }
    }
    Fed fed;
    fed.videoSeconds = count / clip.fps;
    if (clip.hasAudio())
        fed.audioSeconds = (lastSample - std::llround(start * clip.sampleRate)) / double(clip.sampleRate);
    return fed;
}

// The 1-based number of the AVI codec with this FFmpeg encoder.
inline int codecIndex(const char* encoder) {
    for (size_t i = 0; i < aviCodecs().size(); ++i)
        if (std::string(aviCodecs()[i].encoder) == encoder) return int(i + 1);
    throw std::runtime_error("no such codec");
}

// A fresh output path in this build's scratch folder (nothing there yet).
inline QString outputPath(const QString& name) {
    const QString dir = clips::clipsFolder() + "/writer-out";
    QDir().mkpath(dir);
    const QString path = dir + "/" + name;
    QFile::remove(path);
    return path;
}

// What ffprobe says about one stream of a written file.
struct StreamFacts {
    QString codec;
    int frames = 0;        // video: frames counted by decoding
    int headerFrames = 0;  // video: frames the container's header counts (AVI: index entries, gaps too)
    int width = 0, height = 0;
    QString frameRate;  // r_frame_rate, e.g. "30000/1001"
    int sampleRate = 0, channels = 0;
    double start = 0, end = 0;  // seconds: audio from its packets, video from its frame count
    double duration() const { return end - start; }
};

struct FileFacts {
    QString format;
    std::optional<StreamFacts> video, audio;
};

// "30000/1001" as a number.
inline double rateOf(const QString& fraction) {
    const QStringList parts = fraction.split('/');
    const double den = parts.size() == 2 ? parts[1].toDouble() : 1;
    return den > 0 ? parts[0].toDouble() / den : 0;
}

inline FileFacts probeFile(const QString& path) {
    FileFacts facts;
    const QJsonObject info = clips::probe(path, true);
    facts.format = info["format"].toObject()["format_name"].toString();
    for (const auto& s : info["streams"].toArray()) {
        const QJsonObject st = s.toObject();
        StreamFacts f;
        f.codec = st["codec_name"].toString();
        const QString type = st["codec_type"].toString();
        if (type == "video" && !facts.video) {
            f.frames = st["nb_read_frames"].toString().toInt();
            f.headerFrames = st["nb_frames"].toString().toInt();
            f.width = st["width"].toInt();
            f.height = st["height"].toInt();
            f.frameRate = st["r_frame_rate"].toString();
            facts.video = f;
        } else if (type == "audio" && !facts.audio) {
            f.sampleRate = st["sample_rate"].toString().toInt();
            f.channels = st["channels"].toInt();
            facts.audio = f;
        }
    }
    // Video lasts its frame count times the frame period (MPEG program streams leave too many
    // packet times out to measure it from packets); audio spans its packets.
    if (facts.video && rateOf(facts.video->frameRate) > 0) {
        facts.video->end = facts.video->frames / rateOf(facts.video->frameRate);
    }
    if (facts.audio) {
        QByteArray out;
        clips::run("ffprobe",
                   {"-v", "error", "-select_streams", "a:0", "-show_entries", "packet=pts_time,dts_time,duration_time",
                    "-of", "json", path},
                   &out);
        bool first = true;
        for (const auto& p : QJsonDocument::fromJson(out).object()["packets"].toArray()) {
            const QJsonObject pk = p.toObject();
            bool ok = false;
            double t = pk["pts_time"].toString().toDouble(&ok);
            if (!ok) t = pk["dts_time"].toString().toDouble(&ok);
            if (!ok) continue;
            const double end = t + pk["duration_time"].toString().toDouble();
            if (first || t < facts.audio->start) facts.audio->start = t;
            if (first || end > facts.audio->end) facts.audio->end = end;
            first = false;
        }
    }
    return facts;
}

// 1, 2, ..., n
inline QList<int> countUp(int n, int from = 1) {
    QList<int> list;
    for (int i = 0; i < n; ++i) list << from + i;
    return list;
}

}  // namespace writertest
