// Case "edit": a recording with its three advertising breaks removed, in the source's own format.
// A 720p50 H.264 transport stream of an hour (KORVELIN_EDIT_MINUTES shortens it; the breaks keep
// their share of it, 4 minutes an hour each), every cut point between keyframes, four pieces
// kept and written as one file, against
// - the limit, measured with the ffmpeg command line: a stream copy of each kept piece
//   (-ss/-to -c copy, not frame-exact) plus ffmpeg decoding and encoding the same edge frames
//   with the same encoder and settings as ours (the plan of each piece says which);
// - those stream copies alone.
// Both sides write the same bytes: ffmpeg's four copies stay until all four are written, as our
// one file does, and each side starts with nothing left to write back from the run before. (A
// copy deleted at once never reaches the disk; one file of the whole length does.)
// Every run is a child process, so its peak memory is its own. Our time is the job's, with the
// source open as in the window (its index built).
#include <unistd.h>
#include <QCoreApplication>
#include <QFile>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "Bench.h"
#include "engine/reader/FfmpegReader.h"
#include "engine/remux/CutPlan.h"
#include "jobs/OriginalJob.h"

namespace {

constexpr int kFps = 50;
constexpr int kRuns = 3;

int clipMinutes() { return std::max(1, qEnvironmentVariableIntValue("KORVELIN_EDIT_MINUTES") ?: 60); }

// The recording: the moving test picture at a broadcast bit rate (about 10 Mbit/s), a keyframe
// every two seconds, B-frames, AAC sound.
QString recording(int minutes) {
    const QString path = bench::benchFolder() + QStringLiteral("/h264-720p50-%1min.ts").arg(minutes);
    if (QFile::exists(path)) return path;
    bench::printNote("making " + path);
    const QString part = path + ".part.ts";
    // clang-format off
    const double ms = bench::timeCommand("ffmpeg", {
        "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=50",
        "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000", "-t", QString::number(minutes * 60),
        "-c:v", "libx264", "-preset", "ultrafast", "-crf", "20", "-g", "100", "-sc_threshold", "0", "-bf", "2",
        "-pix_fmt", "yuv420p",
        "-c:a", "aac", "-b:a", "128k", "-f", "mpegts", part});
    // clang-format on
    if (ms < 0 || !QFile::rename(part, path)) {
        std::fprintf(stderr, "could not make %s\n", qPrintable(path));
        std::exit(1);
    }
    return path;
}

// The four pieces kept around three breaks, each break starting and ending between keyframes.
std::vector<Piece> keptPieces(int minutes) {
    const int frames = minutes * 60 * kFps, breakFrames = frames / 15;
    PieceList list;
    list.setMode(PieceMode::Remove);
    for (const double at : {0.2, 0.45, 0.7}) {
        const int first = int(frames * at) + 37;  // 0.74 s past a keyframe
        list.add(first, first + breakFrames - 1);
    }
    return list.rangesToWrite(frames);
}

// ---- the child: one cut through the job ----

void editChild() {
    double ms = 0;
    const auto job = bench::runOriginalChild(
        [](auto source, const QString& out) {
            return OriginalJob::pieces(source, keptPieces(clipMinutes()), [=](int) { return out; });
        },
        &ms);
    if (!job) return;  // only ever run as the parent's child
    std::fprintf(stderr, "job-ms %.1f copied %lld encoded %lld\n", ms,
                 static_cast<long long>(job->stats().videoPacketsCopied),
                 static_cast<long long>(job->stats().videoPacketsEncoded));
}

// ---- the parent ----

QString seconds(int frame) { return bench::frameStart(frame, kFps); }

QString ffmpegCopyName(size_t k) { return bench::benchFolder() + QStringLiteral("/edit-ffmpeg-%1.ts").arg(k); }

bench::ChildRun ffmpegCopy(const QString& clip, const Piece& piece, size_t k) {
    return bench::runChild("ffmpeg", {"-nostdin", "-v", "error", "-y", "-ss", seconds(piece.first), "-to",
                                      seconds(piece.last + 1), "-i", clip, "-c", "copy", ffmpegCopyName(k)});
}

void edit() {
    const int minutes = clipMinutes();
    const QString clip = recording(minutes);
    const std::vector<Piece> pieces = keptPieces(minutes);
    // The frames each piece encodes, as our job plans them.
    const std::unique_ptr<VideoSource> reader = createVideoFileReader();
    reader->OpenFile(clip);
    std::vector<CutPlan> plans;
    QStringList kept;
    for (const Piece& p : pieces) {
        plans.push_back(planCut(reader->openedSource()->index(), p.first, p.last));
        kept << QStringLiteral("%1-%2").arg(p.first).arg(p.last);
    }
    bench::printNote(QStringLiteral("720p50 H.264 TS of %1 min, breaks removed, frames kept: %2; each run a child")
                         .arg(minutes)
                         .arg(kept.join(", ")));
    if (minutes != 60) bench::printNote("a shorter recording than the hour the figures are named for");

    std::vector<double> ourMs, limitMs, copyMs;
    double ourPeak = 0, peerPeak = 0;
    QByteArray ourReport;
    for (int i = 0; i < kRuns; ++i) {  // alternating, so both see the same machine load
        const QString out = bench::benchFolder() + "/edit-ours.ts";
        QFile::remove(out);
        ::sync();
        const bench::ChildRun ours = bench::runChild(QCoreApplication::applicationFilePath(), {"edit-child"},
                                                     {"KORVELIN_CUT_IN=" + clip, "KORVELIN_CUT_OUT=" + out});
        QFile::remove(out);
        const qsizetype at = ours.errors.indexOf("job-ms ");
        if (ours.ms < 0 || at < 0) return bench::printNote("our cut failed: " + QString::fromLocal8Bit(ours.errors));
        ourReport = ours.errors.mid(at).trimmed();
        ourMs.push_back(ourReport.split(' ')[1].toDouble());
        ourPeak = std::max(ourPeak, ours.peakMiB);

        double copy = 0, edges = 0;
        ::sync();
        for (size_t k = 0; k < pieces.size(); ++k) {
            const bench::ChildRun c = ffmpegCopy(clip, pieces[k], k);
            const bench::ChildRun head = bench::ffmpegEdge(clip, kFps, plans[k].headFirst, plans[k].headLast);
            const bench::ChildRun tail = bench::ffmpegEdge(clip, kFps, plans[k].tailFirst, plans[k].tailLast);
            if (c.ms < 0 || head.ms < 0 || tail.ms < 0) return bench::printNote("ffmpeg failed");
            copy += c.ms;
            edges += head.ms + tail.ms;
            peerPeak = std::max({peerPeak, c.peakMiB, head.peakMiB, tail.peakMiB});
        }
        for (size_t k = 0; k < pieces.size(); ++k) QFile::remove(ffmpegCopyName(k));
        copyMs.push_back(copy);
        limitMs.push_back(copy + edges);
    }
    bench::printNote("ours: " + QString::fromLocal8Bit(ourReport));
    const double our = bench::median(ourMs), limit = bench::median(limitMs), copy = bench::median(copyMs);
    bench::printFigure("edit_remove_breaks_1h_vs_limit", our, "ms", limit, "ms (ffmpeg copy + edges)", our / limit,
                       "<= 1.1");
    bench::printFigure("edit_remove_breaks_1h_vs_stream_copy", our, "ms", copy, "ms (ffmpeg -c copy of the pieces)",
                       our / copy, "<= 3");
    bench::printFigure("edit_remove_breaks_1h_peak_memory", ourPeak, "MiB", peerPeak,
                       "MiB (the largest of ffmpeg's copy and edge runs)", ourPeak / peerPeak, "<= 1.3");
}

const bench::Register child("edit-child", editChild);
const bench::Register parent("edit", edit);

}  // namespace
