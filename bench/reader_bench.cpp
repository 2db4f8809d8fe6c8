// Source reader figures on a 1080p H.264 clip, side by side with the ffmpeg tools:
// opening with the packet index, stepping forward and back, and seeking to random frames.
#include <QRandomGenerator>
#include <algorithm>

#include "Bench.h"
#include "engine/reader/FfmpegReader.h"

namespace {

constexpr int kRuns = 5;

double ratio(double value, double peer) { return peer > 0 ? value / peer : 0; }

// Time of the ffmpeg tool decoding the first `frames` frames of the video.
double peerDecodeMs(const QString& clip, int threads, int frames) {
    return bench::timeCommand("ffmpeg", {"-nostdin", "-v", "error", "-threads", QString::number(threads), "-i", clip,
                                         "-map", "0:v:0", "-frames:v", QString::number(frames), "-f", "null", "-"});
}

void openAndIndex(const QString& clip) {
    const QStringList probeArgs = bench::countVideoPacketsArgs(clip);
    bench::timeCommand("ffprobe", probeArgs);  // both read the file once from a warm cache
    std::vector<double> ours, peers;
    for (int i = 0; i < kRuns; ++i) {
        FfmpegReader reader;
        const double start = bench::nowMs();
        reader.OpenFile(clip);
        ours.push_back(bench::nowMs() - start);
        peers.push_back(bench::timeCommand("ffprobe", probeArgs));
    }
    const double value = bench::median(ours), peer = bench::median(peers);
    bench::printFigure("reader_open_index_1080p", value, "ms", peer, "ms", ratio(value, peer), "<= 1.5");
}

// Steady decoding speed, ours against the ffmpeg tool's, measured in turns so that both
// see the same machine load. Ours: the mean time of one ReadVideoFrame while reading on.
// The tool's: (time for 700 frames - time for 100 frames) / 600, which cancels its start-up.
std::pair<double, double> nextStepAndPeer(FfmpegReader& reader, const QString& clip, int threads) {
    std::vector<double> ours, peers;
    const int count = reader.FrameCount();
    for (int run = 0; run < kRuns; ++run) {
        const int from = 1 + (count - 400) * run / kRuns;
        reader.SeekFrame(from);
        reader.ReadVideoFrame();
        const int frames = 300;
        const double start = bench::nowMs();
        for (int i = 0; i < frames; ++i) reader.ReadVideoFrame();
        ours.push_back((bench::nowMs() - start) / frames);
        peers.push_back((peerDecodeMs(clip, threads, 700) - peerDecodeMs(clip, threads, 100)) / 600);
    }
    return {bench::median(ours), bench::median(peers)};
}

// Times of single steps back (SeekFrame(current - 1), ReadVideoFrame) over a stretch of
// several GOPs, so that GOP boundaries (where decoding starts again) are included.
std::vector<double> previousSteps(FfmpegReader& reader, int from, int steps) {
    reader.SeekFrame(from);
    reader.ReadVideoFrame();
    std::vector<double> times;
    for (int n = from - 1; n > from - steps; --n) {
        const double start = bench::nowMs();
        reader.SeekFrame(n);
        reader.ReadVideoFrame();
        times.push_back(bench::nowMs() - start);
    }
    return times;
}

void steppingAndSeeking(const QString& clip) {
    FfmpegReader reader;
    reader.OpenFile(clip);
    const int count = reader.FrameCount();
    const int threads = reader.decoderThreads();
    const double gop = double(count) / std::max(1, reader.keyframeCount());
    bench::printNote(QStringLiteral("%1 frames, %2 keyframes (GOP %3 frames), decoder threads %4, frame cache %5 MiB")
                         .arg(count)
                         .arg(reader.keyframeCount())
                         .arg(gop, 0, 'f', 1)
                         .arg(threads)
                         .arg(FfmpegReader::kDefaultFrameCacheBytes >> 20));

    const auto [next, decode] = nextStepAndPeer(reader, clip, threads);
    bench::printFigure("reader_next_step_1080p", next, "ms", decode, "ms/frame (ffmpeg decode)", ratio(next, decode),
                       "<= 1.3");

    std::vector<double> back;
    for (int run = 0; run < 3; ++run) {
        const std::vector<double> times = previousSteps(reader, 600 + run * 1000, 160);
        back.insert(back.end(), times.begin(), times.end());
    }
    const double backMedian = bench::median(back);
    double backMean = 0;
    for (double t : back) backMean += t;
    backMean /= back.size();
    bench::printFigure("reader_previous_step_1080p", backMedian, "ms", next, "ms (next step)", ratio(backMedian, next),
                       "<= 2");
    bench::printFigure("reader_previous_step_mean_1080p", backMean, "ms", next, "ms (next step)", ratio(backMean, next),
                       "<= 2");
    bench::printNote(QStringLiteral("slowest step back %1 ms (where a GOP is decoded again)")
                         .arg(*std::max_element(back.begin(), back.end()), 0, 'f', 1));

    // Random frames far apart, so that no seek finds its frame in the cache.
    QRandomGenerator random(2024);
    std::vector<double> seeks;
    for (int i = 0; i < 25; ++i) {
        const int n = 1 + random.bounded(count);
        const double start = bench::nowMs();
        reader.SeekFrame(n);
        reader.ReadVideoFrame();
        seeks.push_back(bench::nowMs() - start);
    }
    const double seek = bench::median(seeks);
    const double gopDecode = decode * gop;
    bench::printFigure("reader_random_seek_1080p", seek, "ms", gopDecode, "ms (ffmpeg decode of one GOP)",
                       ratio(seek, gopDecode), "<= 1");
    const double cliGop = peerDecodeMs(clip, threads, int(gop + 0.5));
    bench::printNote(
        QStringLiteral("ffmpeg run decoding the first GOP, start-up included: %1 ms").arg(cliGop, 0, 'f', 1));
    bench::printNote(QStringLiteral("peak memory %1 MiB").arg(bench::peakRssMiB(), 0, 'f', 0));
}

const bench::Register reg("reader", [] {
    const QString clip = bench::clip1080p();
    openAndIndex(clip);
    steppingAndSeeking(clip);
});

}  // namespace
