// Case "transcode": the 1080p clip read and decoded by the engine's reader and written through
// the output writer, as MPEG-4 Part 2 + PCM in AVI and as MPEG-2 + MP2 in an MPEG program stream,
// side by side with the ffmpeg command line doing the same transcode with the same codecs,
// quality and (automatic) threads. The copy follows the jobs' loop: a frame when the video
// position is not ahead of the audio position, otherwise an audio block of 2304 bytes.
//
// Every transcode runs in a child process (this program again, case "transcode-child", told
// what to do through the environment), so that each one's peak memory is its own: the parent
// reads the child's wall time and peak resident memory from wait4(). Memory is measured on a
// clip and on one five times longer; it must not grow with the length.
//
// A second source, a small FFmpeg decoder of this file that delivers what the reader delivers
// (frames in the decoder's own layout packed as frame data, interleaved 16-bit audio at the
// source rate) in file order, separates the writer's own cost and memory from the reader's
// (whose frame cache holds up to 256 MiB of decoded frames).
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <QCoreApplication>
#include <QFile>
#include <QProcessEnvironment>
#include <cmath>
#include <cstdio>

#include "Bench.h"
#include "engine/reader/FfmpegReader.h"
#include "engine/writer/FfmpegWriter.h"
#include "engine/writer/WriterCatalog.h"
#include "jobs/CopyJob.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

extern char** environ;

namespace {

constexpr int kShortSeconds = 10;
constexpr int kRuns = 3;
constexpr int kMpeg2Kbps = 8000;
constexpr int kMpeg4Quantiser = 4;

// ---- the child: decode a clip and write it through the writer ----

class ClipDecoder {
public:
    explicit ClipDecoder(const QString& path) {
        if (avformat_open_input(&format_, QFile::encodeName(path).constData(), nullptr, nullptr) < 0 ||
            avformat_find_stream_info(format_, nullptr) < 0)
            throw MediaError("cannot open " + path);
        index_[0] = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        index_[1] = av_find_best_stream(format_, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        for (int i = 0; i < 2; ++i) {
            if (index_[i] < 0) continue;
            const AVCodecParameters* par = format_->streams[index_[i]]->codecpar;
            codec_[i] = avcodec_alloc_context3(avcodec_find_decoder(par->codec_id));
            avcodec_parameters_to_context(codec_[i], par);
            codec_[i]->thread_count = 0;
            if (avcodec_open2(codec_[i], codec_[i]->codec, nullptr) < 0) throw MediaError("cannot decode " + path);
        }
        packet_ = av_packet_alloc();
        frame_ = av_frame_alloc();
    }
    ~ClipDecoder() {
        for (auto*& c : codec_) avcodec_free_context(&c);
        swr_free(&swr_);
        av_frame_free(&frame_);
        av_packet_free(&packet_);
        avformat_close_input(&format_);
    }

    int width() const { return codec_[0]->width; }
    int height() const { return codec_[0]->height; }
    double fps() const { return av_q2d(format_->streams[index_[0]]->avg_frame_rate); }
    int rate() const { return codec_[1]->sample_rate; }
    int channels() const { return codec_[1]->ch_layout.nb_channels; }

    // Feeds the whole clip to the writer in file order; returns the number of frames.
    int copyTo(VideoSink& writer) {
        while (av_read_frame(format_, packet_) >= 0) {
            for (int i = 0; i < 2; ++i)
                if (packet_->stream_index == index_[i]) {
                    avcodec_send_packet(codec_[i], packet_);
                    drain(i, writer);
                }
            av_packet_unref(packet_);
        }
        for (int i = 0; i < 2; ++i) {
            avcodec_send_packet(codec_[i], nullptr);
            drain(i, writer);
        }
        return frames_;
    }

private:
    void drain(int i, VideoSink& writer) {
        while (avcodec_receive_frame(codec_[i], frame_) >= 0) {
            if (i == 0) {
                ++frames_;
                writer.WriteVideoFrame(packFrame(frame_, frames_, int(std::lround((frames_ - 1) * 1000 / fps()))));
            } else {
                if (!swr_) {
                    swr_alloc_set_opts2(&swr_, &frame_->ch_layout, AV_SAMPLE_FMT_S16, frame_->sample_rate,
                                        &frame_->ch_layout, AVSampleFormat(frame_->format), frame_->sample_rate, 0,
                                        nullptr);
                    swr_init(swr_);
                }
                AudioChunk chunk(size_t(frame_->nb_samples + 32) * channels());
                uint8_t* out[1] = {reinterpret_cast<uint8_t*>(chunk.data())};
                const int got = swr_convert(swr_, out, frame_->nb_samples + 32,
                                            const_cast<const uint8_t**>(frame_->extended_data), frame_->nb_samples);
                chunk.resize(size_t(std::max(got, 0)) * channels());
                writer.WriteAudio(chunk);
            }
            av_frame_unref(frame_);
        }
    }

    AVFormatContext* format_ = nullptr;
    AVCodecContext* codec_[2] = {nullptr, nullptr};
    int index_[2] = {-1, -1};
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    SwrContext* swr_ = nullptr;
    int frames_ = 0;
};

// The cut job over the whole source (the writer's file is already open); returns the number
// of frames written.
int copyWithReader(VideoSource& reader, VideoSink& writer) {
    CopyJob job = CopyJob::cut(reader, writer, 1, reader.FrameCount(), [](int) { return QString(); });
    int frames = 0;
    job.onFrame = [&](const FrameData&) { ++frames; };
    if (job.start())
        while (job.step()) {
        }
    if (job.outcome().kind != JobOutcome::Kind::Finished) throw MediaError(job.outcome().failure);
    return frames;
}

struct SourceFacts {
    int width, height, rate, channels;
    double fps;
};

int mpeg4Codec() {
    for (size_t i = 0; i < aviCodecs().size(); ++i)
        if (std::string(aviCodecs()[i].encoder) == "mpeg4") return int(i + 1);
    return 0;
}

// Sets the writer up for the job kind ("avi" or "mpeg") and returns the container.
int configure(FfmpegWriter& writer, const QString& kind, const SourceFacts& s) {
    writer.SetVideoFormat(s.width, s.height, s.fps);
    writer.SetAudioFormat(s.rate, s.channels);
    writer.SetHasVideo(true);
    writer.SetHasAudio(true);
    if (kind == "avi") {
        writer.SetAudioPCM(s.rate, s.channels, 16);
        writer.SetAviVideo(s.width, s.height, s.fps);
        writer.SetVideoCodec(mpeg4Codec());
        CodecSettings settings = writer.codecSettings(writer.VideoCodec());
        settings.rateControl = CodecSettings::RateControl::Quality;
        settings.quality = kMpeg4Quantiser;
        settings.keyframeInterval = 250;
        writer.setCodecSettings(writer.VideoCodec(), settings);
        return kContainerAvi;
    }
    writer.SetMpegVideo(2, kMpeg2Kbps, s.width, s.height, s.fps);
    writer.SetMpegAudio(192, s.rate, s.channels);
    return kContainerMpeg;
}

void transcodeChild() {
    const QString in = qEnvironmentVariable("KORVELIN_TRANSCODE_IN"),
                  out = qEnvironmentVariable("KORVELIN_TRANSCODE_OUT");
    const QString kind = qEnvironmentVariable("KORVELIN_TRANSCODE_KIND");
    if (in.isEmpty() || out.isEmpty()) return;  // only ever run as the parent's child
    try {
        FfmpegWriter writer;
        int frames = 0;
        if (qEnvironmentVariable("KORVELIN_TRANSCODE_SOURCE") == "decoder") {
            ClipDecoder source(in);
            writer.CreateFile(
                out, configure(writer, kind,
                               {source.width(), source.height(), source.rate(), source.channels(), source.fps()}));
            frames = source.copyTo(writer);
        } else {
            const std::unique_ptr<VideoSource> reader = createVideoFileReader();
            reader->OpenFile(in);
            writer.CreateFile(out, configure(writer, kind,
                                             {reader->FrameWidth(), reader->FrameHeight(), reader->AudioSampleRate(),
                                              reader->AudioChannels(), reader->FrameRate()}));
            frames = copyWithReader(*reader, writer);
        }
        writer.CloseFile();  // the job closed it already; closing again does nothing
        std::printf("frames %d\n", frames);
    } catch (const MediaError& e) {
        std::fprintf(stderr, "transcode failed: %s\n", qPrintable(e.description()));
        std::exit(1);
    }
}

// ---- the parent ----

using bench::ChildRun;
using bench::runChild;

struct Job {
    QString kind;  // "avi" or "mpeg"
    QString title;
    QStringList ffmpegCodecArgs;
    QString extension;
};

// source: "reader" (the engine's reader) or "decoder" (this file's decoder).
ChildRun ours(const Job& job, const QString& clip, const QString& source) {
    const QString out = bench::benchFolder() + "/transcode-ours." + job.extension;
    QFile::remove(out);
    const ChildRun run = runChild(QCoreApplication::applicationFilePath(), {"transcode-child"},
                                  {"KORVELIN_TRANSCODE_IN=" + clip, "KORVELIN_TRANSCODE_OUT=" + out,
                                   "KORVELIN_TRANSCODE_KIND=" + job.kind, "KORVELIN_TRANSCODE_SOURCE=" + source});
    QFile::remove(out);
    return run;
}

ChildRun peer(const Job& job, const QString& clip) {
    const QString out = bench::benchFolder() + "/transcode-ffmpeg." + job.extension;
    QStringList args{"-nostdin", "-v", "error", "-y", "-threads", "0", "-i", clip};
    args << job.ffmpegCodecArgs << out;
    const ChildRun run = runChild("ffmpeg", args);
    QFile::remove(out);
    return run;
}

void transcode() {
    const QString shortClip = bench::clip1080p(kShortSeconds), longClip = bench::clip1080p(5 * kShortSeconds);
    const double frames = kShortSeconds * 25.0;
    const QStringList mpeg4{"-c:v",  "mpeg4", "-q:v", QString::number(kMpeg4Quantiser),
                            "-g",    "250",   "-bf",  "0",
                            "-vtag", "XVID",  "-c:a", "pcm_s16le",
                            "-f",    "avi"};
    const QStringList mpeg2{"-c:v",     "mpeg2video", "-b:v",     QString::number(kMpeg2Kbps) + "k",
                            "-maxrate", "9000k",      "-bufsize", "1835008",
                            "-g",       "15",         "-bf",      "2",
                            "-c:a",     "mp2",        "-b:a",     "192k",
                            "-ar",      "48000",      "-f",       "dvd"};
    const Job jobs[] = {{"avi", "avi_mpeg4_pcm", mpeg4, "avi"}, {"mpeg", "mpeg2_mp2", mpeg2, "mpg"}};
    bench::printNote(QStringLiteral("1080p H.264 + AAC clip of %1 s (%2 frames); each run a child process; "
                                    "threads automatic; medians of %3 runs")
                         .arg(kShortSeconds)
                         .arg(frames)
                         .arg(kRuns));
    for (const Job& job : jobs) {
        std::vector<double> readerFps, decoderFps, peerFps;
        ChildRun readerShort, decoderShort, peerShort;
        for (int i = 0; i < kRuns; ++i) {  // alternating, so all see the same machine load
            readerShort = ours(job, shortClip, "reader");
            decoderShort = ours(job, shortClip, "decoder");
            peerShort = peer(job, shortClip);
            if (readerShort.ms <= 0 || decoderShort.ms <= 0 || peerShort.ms <= 0) {
                bench::printNote("transcode " + job.title + " failed");
                return;
            }
            readerFps.push_back(frames * 1000 / readerShort.ms);
            decoderFps.push_back(frames * 1000 / decoderShort.ms);
            peerFps.push_back(frames * 1000 / peerShort.ms);
        }
        const double peerMedian = bench::median(peerFps);
        const double readerMedian = bench::median(readerFps), decoderMedian = bench::median(decoderFps);
        bench::printFigure("transcode_fps_1080p_" + job.title, readerMedian, "fps", peerMedian, "fps",
                           readerMedian / peerMedian, ">= 0.9");
        bench::printFigure("transcode_fps_1080p_" + job.title + "_writer_only", decoderMedian, "fps", peerMedian, "fps",
                           decoderMedian / peerMedian, ">= 0.9");

        const ChildRun readerLong = ours(job, longClip, "reader"), decoderLong = ours(job, longClip, "decoder");
        const ChildRun peerLong = peer(job, longClip);
        const QString name = QStringLiteral("transcode_peak_memory_%1_%2s").arg(job.title);
        bench::printFigure(name.arg(5 * kShortSeconds), readerLong.peakMiB, "MiB", readerShort.peakMiB,
                           QStringLiteral("MiB (%1 s clip)").arg(kShortSeconds),
                           readerLong.peakMiB / readerShort.peakMiB, "<= 1.10");
        bench::printFigure(name.arg(5 * kShortSeconds) + "_writer_only", decoderLong.peakMiB, "MiB",
                           decoderShort.peakMiB, QStringLiteral("MiB (%1 s clip)").arg(kShortSeconds),
                           decoderLong.peakMiB / decoderShort.peakMiB, "<= 1.10");
        bench::printFigure(name.arg(kShortSeconds) + "_vs_ffmpeg", readerShort.peakMiB, "MiB", peerShort.peakMiB, "MiB",
                           readerShort.peakMiB / peerShort.peakMiB, "<= 1.3");
        bench::printNote(QStringLiteral("peak memory, %1 s / %2 s clip: with the reader %3 / %4 MiB, with the "
                                        "benchmark's decoder %5 / %6 MiB, ffmpeg %7 / %8 MiB")
                             .arg(kShortSeconds)
                             .arg(5 * kShortSeconds)
                             .arg(readerShort.peakMiB, 0, 'f', 1)
                             .arg(readerLong.peakMiB, 0, 'f', 1)
                             .arg(decoderShort.peakMiB, 0, 'f', 1)
                             .arg(decoderLong.peakMiB, 0, 'f', 1)
                             .arg(peerShort.peakMiB, 0, 'f', 1)
                             .arg(peerLong.peakMiB, 0, 'f', 1));
    }
}

const bench::Register child("transcode-child", transcodeChild);
const bench::Register parent("transcode", transcode);

}  // namespace
