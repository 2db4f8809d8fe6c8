// Case "original": a cut in the source's own format on the 1080p H.264 clip, a range of 100 s
// whose ends fall between keyframes, against
// - our own re-encoding cut of the same range (the window's default AVI settings);
// - the physical limit, measured with the ffmpeg command line: a stream copy of the range
//   (-ss/-to -c copy, not frame-exact) plus ffmpeg decoding and encoding the same edge frames
//   with the same encoder and settings as ours;
// - that stream copy alone.
// Every run is a child process, so its peak memory is its own. Our time is the job's, with
// the source open as in the window (its index built), as for the re-encoding cut.
// Case "container": the same cut written into a transport stream (the output name chooses it;
// the packets then change form, through FFmpeg's h264_mp4toannexb), against ffmpeg's stream
// copy into one plus the edges.
// Besides: the bit rate of the encoded edges against the source's over the same frames, and
// the packets copied from a 1080i broadcast-style transport stream with open groups against
// its twin with closed groups.
// Case "edges": the encoded edges of a cut of a long-GOP 1080p30 source, their bit rate against
// the source's over the same frames and their PSNR and SSIM against the source's pictures.
#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "Bench.h"
#include "engine/reader/FfmpegReader.h"
#include "jobs/OriginalJob.h"

namespace {

constexpr int kClipSeconds = 130;
constexpr double kFps = 25;
constexpr int kFirstFrame = 263;                // 10.48 s
constexpr int kLastFrame = kFirstFrame + 2499;  // 100 s
constexpr int kRuns = 3;

// ---- the child: one cut through the job ----

void originalChild() {
    const int first = qEnvironmentVariableIntValue("KORVELIN_CUT_FROM"),
              last = qEnvironmentVariableIntValue("KORVELIN_CUT_TO");
    double ms = 0;
    const auto job = bench::runOriginalChild(
        [&](auto source, const QString& out) { return OriginalJob::cut(source, first, last, [=](int) { return out; }); },
        &ms);
    if (!job) return;  // only ever run as the parent's child
    const CutStats& s = job->stats();
    std::fprintf(stderr, "job-ms %.1f copied %lld encoded %lld first %d last %d\n", ms,
                 static_cast<long long>(s.videoPacketsCopied), static_cast<long long>(s.videoPacketsEncoded),
                 s.firstCopiedFrame, s.lastCopiedFrame);
}

// ---- the parent ----

struct OurRun {
    bench::ChildRun child;
    double jobMs = -1;
    long long copied = 0, encoded = 0;
    int firstCopied = 0, lastCopied = 0;
};

// Our cut of frames first..last into `out` (removed afterwards unless kept).
OurRun ours(const QString& clip, const QString& out, int first = kFirstFrame, int last = kLastFrame,
            bool keep = false, bool cold = false) {
    QFile::remove(out);
    OurRun run;
    QStringList env{"KORVELIN_CUT_IN=" + clip, "KORVELIN_CUT_OUT=" + out, "KORVELIN_CUT_FROM=" + QString::number(first),
                    "KORVELIN_CUT_TO=" + QString::number(last)};
    if (cold) env << "KORVELIN_CUT_COLD=1";
    run.child = bench::runChild(QCoreApplication::applicationFilePath(), {"original-child"}, env);
    const QList<QByteArray> words = run.child.errors.mid(run.child.errors.indexOf("job-ms")).simplified().split(' ');
    if (run.child.ms < 0 || words.size() < 10) {
        std::fprintf(stderr, "original cut failed: %s\n", run.child.errors.constData());
        return run;
    }
    run.jobMs = words[1].toDouble();
    run.copied = words[3].toLongLong();
    run.encoded = words[5].toLongLong();
    run.firstCopied = words[7].toInt();
    run.lastCopied = words[9].toInt();
    if (!keep) QFile::remove(out);
    return run;
}

QString seconds(int frame) { return bench::frameStart(frame, kFps); }

double ffmpegStreamCopy(const QString& clip, double* peakMiB, const QString& extension = "mp4") {
    const QString out = bench::benchFolder() + "/original-ffmpeg." + extension;
    const bench::ChildRun run =
        bench::runChild("ffmpeg", {"-nostdin", "-v", "error", "-y", "-ss", seconds(kFirstFrame), "-to",
                                   seconds(kLastFrame + 1), "-i", clip, "-c", "copy", out});
    QFile::remove(out);
    if (peakMiB) *peakMiB = run.peakMiB;
    return run.ms;
}

// Our re-encoding cut of the same range, through the window (case "cut"'s child).
double reencodingCut(const QString& clip) {
    const QString out = bench::benchFolder() + "/original-reencoded.avi";
    QFile::remove(out);
    const bench::ChildRun run = bench::runChild(
        QCoreApplication::applicationFilePath(), {"cut-child"},
        {"KORVELIN_CUT_IN=" + clip, "KORVELIN_CUT_OUT=" + out, "KORVELIN_CUT_FROM=" + QString::number(kFirstFrame),
         "KORVELIN_CUT_TO=" + QString::number(kLastFrame)});
    QFile::remove(out);
    const qsizetype at = run.errors.indexOf("cut-ms ");
    return at < 0 ? -1 : run.errors.mid(at + 7).trimmed().split('\n').first().toDouble();
}

// Bytes of the video packets of `clip` shown from `from` to before `to` (seconds from the
// first picture).
int64_t videoBytesBetween(const QString& clip, double from, double to) {
    QByteArray json;
    if (bench::timeCommand(
            "ffprobe",
            {"-v", "error", "-select_streams", "v:0", "-show_entries", "packet=pts_time,size", "-of", "json", clip},
            &json) < 0)
        return -1;
    const QJsonArray packets = QJsonDocument::fromJson(json).object()["packets"].toArray();
    double start = 1e30;
    for (const auto& p : packets) start = std::min(start, p.toObject()["pts_time"].toString().toDouble());
    int64_t bytes = 0;
    for (const auto& p : packets) {
        const double t = p.toObject()["pts_time"].toString().toDouble() - start;
        if (t >= from - 0.001 && t < to - 0.001) bytes += p.toObject()["size"].toString().toLongLong();
    }
    return bytes;
}

// The encoded edges' bit rate against the source's over the same frames (both edges) of a cut
// of frames first..last at `fps` into `out`, as the figure `name`.
void edgeRate(const QString& name, const QString& goal, const QString& clip, const QString& out, const OurRun& run,
              double fps = kFps, int first = kFirstFrame, int last = kLastFrame) {
    const double headEnd = (run.firstCopied - first) / fps, tailStart = (run.lastCopied + 1 - first) / fps;
    const double end = (last + 1 - first) / fps, seconds = headEnd + (end - tailStart);
    const double sourceOffset = (first - 1) / fps;
    const int64_t ours = videoBytesBetween(out, 0, headEnd) + videoBytesBetween(out, tailStart, end);
    const int64_t source = videoBytesBetween(clip, sourceOffset, sourceOffset + headEnd) +
                           videoBytesBetween(clip, sourceOffset + tailStart, sourceOffset + end);
    if (ours <= 0 || source <= 0 || seconds <= 0) return bench::printNote("edge rates could not be read");
    const double ourRate = ours * 8 / seconds / 1e6, sourceRate = source * 8 / seconds / 1e6;
    bench::printFigure(name, ourRate, "Mbit/s", sourceRate, "Mbit/s (the source's, same frames)", ourRate / sourceRate,
                       goal);
}

// PSNR (dB) and SSIM of the output's frames from..to (1-based) against the source's frames
// they show, averaged, with the lowest; printed as a note.
void edgeQuality(const QString& what, const QString& clip, const QString& out, int sourceFirst, int from, int to) {
    if (to < from) return;
    const QString psnrFile = bench::benchFolder() + "/edge-psnr.txt",
                  ssimFile = bench::benchFolder() + "/edge-ssim.txt";
    const QString graph = QStringLiteral(
                              "[0:v]trim=start_frame=%1:end_frame=%2,setpts=PTS-STARTPTS,split[o1][o2];"
                              "[1:v]trim=start_frame=%3:end_frame=%4,setpts=PTS-STARTPTS,split[r1][r2];"
                              "[o1][r1]psnr=stats_file=%5;[o2][r2]ssim=stats_file=%6")
                              .arg(from - 1)
                              .arg(to)
                              .arg(sourceFirst + from - 2)
                              .arg(sourceFirst + to - 1)
                              .arg(psnrFile, ssimFile);
    if (bench::timeCommand("ffmpeg",
                           {"-nostdin", "-v", "error", "-i", out, "-i", clip, "-lavfi", graph, "-f", "null", "-"}) < 0)
        return bench::printNote("edge quality could not be measured");
    const auto values = [](const QString& file, const QByteArray& key) {
        std::vector<double> v;
        QFile f(file);
        if (f.open(QIODevice::ReadOnly))
            for (const QByteArray& line : f.readAll().split('\n'))
                if (const qsizetype at = line.indexOf(key); at >= 0)
                    v.push_back(line.mid(at + key.size()).split(' ').first().toDouble());
        return v;
    };
    const std::vector<double> psnr = values(psnrFile, "psnr_avg:"), ssim = values(ssimFile, "All:");
    if (psnr.empty() || ssim.empty()) return bench::printNote("edge quality could not be read");
    const auto mean = [](const std::vector<double>& v) {
        double sum = 0;
        for (const double x : v) sum += x;
        return sum / double(v.size());
    };
    bench::printNote(QStringLiteral("%1 (%2 frames) against the source's: PSNR %3 dB (lowest %4), SSIM %5 (lowest %6)")
                         .arg(what)
                         .arg(psnr.size())
                         .arg(mean(psnr), 0, 'f', 2)
                         .arg(*std::min_element(psnr.begin(), psnr.end()), 0, 'f', 2)
                         .arg(mean(ssim), 0, 'f', 4)
                         .arg(*std::min_element(ssim.begin(), ssim.end()), 0, 'f', 4));
}

// A 1080p30 H.264 source with long groups as a camera or a streaming service writes it: a
// keyframe every 300 frames (10 s), 8 Mbit/s on average; made once and reused.
QString longGopClip() {
    // clang-format off
    return bench::ffmpegClip("h264-1080p30-gop300-8M-40s.mp4", {
        "-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=30,noise=alls=12:allf=t",
        "-f", "lavfi", "-i", "sine=frequency=330:sample_rate=48000", "-t", "40", "-c:v", "libx264", "-preset", "veryfast",
        "-b:v", "8M", "-maxrate", "10M", "-bufsize", "16M", "-x264-params", "keyint=300:min-keyint=300:scenecut=0",
        "-bf", "2", "-pix_fmt", "yuv420p", "-c:a", "aac", "-ac", "2"});
    // clang-format on
}

// Case "edges": a 20 s cut of the long-GOP source whose both ends fall mid-group (frames
// 151..750; keyframes at 1, 301, 601): the bit rate of the frames encoded at both edges against
// the source's bit rate over the same frames (the bytes of their packets over their duration),
// and how closely they show the source's pictures.
void edges() {
    constexpr int kFirst = 151, kLast = 750;
    constexpr double kLongGopFps = 30;
    const QString clip = longGopClip(), out = bench::benchFolder() + "/original-edges.mp4";
    const OurRun run = ours(clip, out, kFirst, kLast, true);
    if (run.jobMs < 0) return bench::printNote("long-GOP cut failed");
    bench::printNote(
        QStringLiteral("1080p30, keyframe every 300 frames, 8 Mbit/s; frames %1..%2: %3 encoded, %4 copied")
            .arg(kFirst)
            .arg(kLast)
            .arg(run.encoded)
            .arg(run.copied));
    edgeRate("cut_original_edge_rate_vs_source", "<= 1.1", clip, out, run, kLongGopFps, kFirst, kLast);
    edgeQuality("head edge", clip, out, kFirst, 1, run.firstCopied - kFirst);
    edgeQuality("tail edge", clip, out, kFirst, run.lastCopied + 2 - kFirst, kLast + 1 - kFirst);
    QFile::remove(out);
}

// A 1080i transport stream as broadcast (x264, B-pyramid, groups of 50, top field first,
// MP2), with open or closed groups; made once and reused.
QString interlacedTs(bool openGroups) {
    // clang-format off
    return bench::ffmpegClip(QStringLiteral("h264-1080i-20s-%1.ts").arg(openGroups ? "open" : "closed"), {
        "-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=25,noise=alls=6:allf=t",
        "-f", "lavfi", "-i", "sine=frequency=330:sample_rate=48000", "-t", "20", "-c:v", "libx264", "-preset", "veryfast",
        "-crf", "23", "-bf", "3", "-flags", "+ildct+ilme", "-x264-params",
        QStringLiteral("tff=1:keyint=50:min-keyint=50:scenecut=0:b-pyramid=normal:open-gop=%1").arg(openGroups ? 1 : 0),
        "-pix_fmt", "yuv420p", "-c:a", "mp2", "-f", "mpegts"});
    // clang-format on
}

void openGroupCopyShare() {
    constexpr int kFirst = 38, kLast = 462;  // 17 s, both ends inside groups
    const QString out = bench::benchFolder() + "/original-1080i.ts";
    const OurRun open = ours(interlacedTs(true), out, kFirst, kLast),
                 closed = ours(interlacedTs(false), out, kFirst, kLast);
    if (open.jobMs < 0 || closed.jobMs < 0) return bench::printNote("1080i cut failed");
    bench::printNote(QStringLiteral("1080i, frames %1..%2: open groups %3 copied, %4 encoded; closed groups %5 copied, "
                                    "%6 encoded")
                         .arg(kFirst)
                         .arg(kLast)
                         .arg(open.copied)
                         .arg(open.encoded)
                         .arg(closed.copied)
                         .arg(closed.encoded));
    bench::printFigure("cut_original_copy_share_open_gop_1080i", double(open.copied), "packets copied",
                       double(closed.copied), "packets copied (closed groups)",
                       double(open.copied) / std::max<long long>(1, closed.copied), ">= 0.95");
}

// The same cut with the source out of the system's cache when the job starts (ffmpeg's copy
// likewise): the copy's start is read from the disk while the head piece encodes.
void coldCopy(const QString& clip, const QString& out) {
    std::vector<double> ourMs, copyMs;
    for (int i = 0; i < kRuns; ++i) {
        const OurRun run = ours(clip, out, kFirstFrame, kLastFrame, false, true);
        bench::evictFromCache(clip);
        const double copy = ffmpegStreamCopy(clip, nullptr);
        if (run.jobMs < 0 || copy < 0) return bench::printNote("cold cut failed");
        ourMs.push_back(run.jobMs);
        copyMs.push_back(copy);
    }
    const double our = bench::median(ourMs), copy = bench::median(copyMs);
    bench::printFigure("cut_original_cold_vs_stream_copy_1080p", our, "ms", copy, "ms (ffmpeg -c copy, cold)",
                       our / copy, "<= 4");
}

void original() {
    const QString clip = bench::clip1080p(kClipSeconds);
    bench::printNote(QStringLiteral("1080p H.264 clip of %1 s, frames %2..%3 (100 s); each run a child process")
                         .arg(kClipSeconds)
                         .arg(kFirstFrame)
                         .arg(kLastFrame));
    std::vector<double> ourMs, limitMs, copyMs;
    OurRun run;
    double copyPeak = 0, limitPeak = 0;
    const QString out = bench::benchFolder() + "/original-ours.mp4";
    for (int i = 0; i < kRuns; ++i) {  // alternating, so both see the same machine load
        run = ours(clip, out, kFirstFrame, kLastFrame, i == kRuns - 1);
        if (run.jobMs < 0) return bench::printNote("original cut failed");
        const double copy = ffmpegStreamCopy(clip, &copyPeak);
        const bench::ChildRun head = bench::ffmpegEdge(clip, kFps, kFirstFrame, run.firstCopied - 1),
                              tail = bench::ffmpegEdge(clip, kFps, run.lastCopied + 1, kLastFrame);
        if (head.ms < 0 || tail.ms < 0) return bench::printNote("ffmpeg failed on the edges");
        const double edges = head.ms + tail.ms;
        limitPeak = std::max({copyPeak, head.peakMiB, tail.peakMiB});
        ourMs.push_back(run.jobMs);
        copyMs.push_back(copy);
        limitMs.push_back(copy + edges);
    }
    const double our = bench::median(ourMs), limit = bench::median(limitMs), copy = bench::median(copyMs);
    bench::printNote(QStringLiteral("edges encoded: frames %1..%2 and %3..%4 (%5 frames); packets copied unchanged: "
                                    "%6 of %7 (%8 %)")
                         .arg(kFirstFrame)
                         .arg(run.firstCopied - 1)
                         .arg(run.lastCopied + 1)
                         .arg(kLastFrame)
                         .arg(run.encoded)
                         .arg(run.copied)
                         .arg(run.copied + run.encoded)
                         .arg(100.0 * run.copied / std::max<long long>(1, run.copied + run.encoded), 0, 'f', 1));
    bench::printFigure("cut_original_vs_limit_1080p", our, "ms", limit, "ms (ffmpeg copy + edges)", our / limit,
                       "<= 0.8");
    bench::printFigure("cut_original_vs_stream_copy_1080p", our, "ms", copy, "ms (ffmpeg -c copy)", our / copy, "<= 4");
    bench::printFigure("cut_original_peak_memory_1080p", run.child.peakMiB, "MiB", limitPeak,
                       "MiB (the largest of ffmpeg's copy and edge runs)", run.child.peakMiB / limitPeak, "<= 1.3");
    edgeRate("cut_original_edge_rate_vs_source_gop2s", "<= 1.5", clip, out, run);
    QFile::remove(out);
    coldCopy(clip, out);
    openGroupCopyShare();
    const double reencoded = reencodingCut(clip);
    if (reencoded <= 0) return bench::printNote("re-encoding cut failed");
    bench::printFigure("cut_original_speedup_1080p", reencoded / run.jobMs, "x", reencoded, "ms (our re-encoding cut)",
                       reencoded / run.jobMs, ">= 10");
}

void container() {
    const QString clip = bench::clip1080p(kClipSeconds);
    bench::printNote(QStringLiteral("1080p H.264 MP4 clip of %1 s, frames %2..%3 into a transport stream")
                         .arg(kClipSeconds)
                         .arg(kFirstFrame)
                         .arg(kLastFrame));
    std::vector<double> ourMs, limitMs;
    OurRun run;
    double copyPeak = 0, limitPeak = 0;
    for (int i = 0; i < kRuns; ++i) {
        run = ours(clip, bench::benchFolder() + "/original-ours.ts");
        if (run.jobMs < 0) return bench::printNote("original cut into TS failed");
        const double copy = ffmpegStreamCopy(clip, &copyPeak, "ts");
        const bench::ChildRun head = bench::ffmpegEdge(clip, kFps, kFirstFrame, run.firstCopied - 1),
                              tail = bench::ffmpegEdge(clip, kFps, run.lastCopied + 1, kLastFrame);
        if (copy < 0 || head.ms < 0 || tail.ms < 0) return bench::printNote("ffmpeg failed");
        limitPeak = std::max({copyPeak, head.peakMiB, tail.peakMiB});
        ourMs.push_back(run.jobMs);
        limitMs.push_back(copy + head.ms + tail.ms);
    }
    const double our = bench::median(ourMs), limit = bench::median(limitMs);
    bench::printFigure("cut_original_to_ts_vs_limit_1080p", our, "ms", limit, "ms (ffmpeg copy to TS + edges)",
                       our / limit, "<= 1.3");
    bench::printFigure("cut_original_to_ts_peak_memory_1080p", run.child.peakMiB, "MiB", limitPeak,
                       "MiB (the largest of ffmpeg's copy and edge runs)", run.child.peakMiB / limitPeak, "<= 1.3");
}

const bench::Register child("original-child", originalChild);
const bench::Register parent("original", original);
const bench::Register toTs("container", container);
const bench::Register edgeCase("edges", edges);

}  // namespace
