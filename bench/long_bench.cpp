// Case "long": a two-hour 1080p H.264 source. Opening it through the window against
// `ffprobe -count_packets`, the packet index's memory, and stepping, a drag and a cut near its
// end against the same on a two-minute clip of the same encoding.
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>

#include "Bench.h"
#include "BenchWindow.h"
#include "engine/reader/FfmpegReader.h"
#include "window/frmMain.h"

namespace {

constexpr int kPieceSeconds = 60;
constexpr int kPieces = 120;  // two hours
constexpr int kOpens = 5;     // opens of the two-hour clip, each beside one ffprobe run

// One minute of 1080p H.264 at about 1 Mbit/s, encoded once.
QString piece() {
    const QString path = bench::benchFolder() + "/h264-1080p-1min-1mbit.mp4";
    if (QFileInfo::exists(path)) return path;
    const QString part = path + ".part.mp4";
    if (bench::timeCommand("ffmpeg", {"-nostdin", "-loglevel",
                                      "error",    "-y",
                                      "-f",       "lavfi",
                                      "-i",       "testsrc2=size=1920x1080:rate=25",
                                      "-f",       "lavfi",
                                      "-i",       "sine=frequency=330:sample_rate=48000",
                                      "-t",       QString::number(kPieceSeconds),
                                      "-c:v",     "libx264",
                                      "-preset",  "veryfast",
                                      "-b:v",     "1M",
                                      "-maxrate", "1M",
                                      "-bufsize", "2M",
                                      "-g",       "50",
                                      "-bf",      "2",
                                      "-pix_fmt", "yuv420p",
                                      "-c:a",     "aac",
                                      "-ac",      "2",
                                      part}) < 0 ||
        !QFile::rename(part, path))
        return {};
    return path;
}

// `pieces` copies of the piece joined by stream copy: the two-hour clip (under 1 GB, made in a
// minute or two) and a two-minute clip of the same encoding to compare it with.
QString joinedClip(int pieces) {
    const QString path = bench::benchFolder() + QStringLiteral("/h264-1080p-1mbit-%1min.mp4").arg(pieces);
    if (QFileInfo::exists(path)) return path;
    const QString one = piece();
    if (one.isEmpty()) return {};
    bench::printNote("making " + path);
    const QString list = path + ".txt";
    QFile listFile(list);
    if (!listFile.open(QIODevice::WriteOnly)) return {};
    QTextStream lines(&listFile);
    for (int i = 0; i < pieces; ++i) lines << "file '" << one << "'\n";
    lines.flush();
    listFile.close();
    const QString part = path + ".part.mp4";
    if (bench::timeCommand("ffmpeg", {"-nostdin", "-loglevel", "error", "-y", "-f", "concat", "-safe", "0", "-i", list,
                                      "-c", "copy", part}) < 0 ||
        !QFile::rename(part, path))
        return {};
    return path;
}

template <typename F>
double timed(F&& f) {
    const double start = bench::nowMs();
    f();
    return bench::nowMs() - start;
}

// Drags land on random frames among the last this many, the same span and the same targets
// (counted from the end) on both clips, so each drag costs the same decoding on either.
constexpr int kDragSpan = 300;
constexpr int kDrags = 20;

// Rounds of handling near the end, alternating between the two clips so that a burst of load
// on this shared machine falls on both alike.
constexpr int kRounds = 5;

// A step forward, a step back, a drag to a random frame near the end and a 250-frame cut
// ending 100 frames before the end, through the window's handlers.
struct Handling {
    double next = 0, prev = 0, drag = 0, cut = 0;
};

// One round in a fresh window: medians of 40 steps each way and of the drags, and one cut.
Handling handlingNearTheEnd(const QString& clip, int round) {
    BenchWindow win;
    frmMain& w = *win.window;
    w.OpenSourceVideo(clip);
    Handling h;
    if (!w.FileLoaded) return h;
    const int count = w.SliderTimePosition1->maximum();
    w.SliderTimePosition1->setValue(count - 300);
    QCoreApplication::processEvents();
    std::vector<double> next, prev, drag;
    for (int i = 0; i < 40; ++i) next.push_back(timed([&] { w.cmdNextFrame_Click(); }));
    for (int i = 0; i < 40; ++i) prev.push_back(timed([&] { w.cmdPrevFrame_Click(); }));
    QRandomGenerator random(11 + round);
    for (int i = 0; i < kDrags; ++i) {
        const int t = count - 1 - random.bounded(kDragSpan);
        const float travel = w.sldBack->Width() - w.sldThum->Width();
        const float wanted = w.sldBack->Left() + float(t) / count * travel;
        w.sldThum_MouseDown(1, 0, 0, 0);
        drag.push_back(timed([&] { w.sldThum_MouseMove(1, 0, wanted - w.sldThum->Left(), 0); }));
        w.sldThum_MouseUp(1, 0, 0, 0);
    }
    const QString out = win.home.path() + QStringLiteral("/cut%1.avi").arg(round);
    win.dialogs.fileAnswers = {{out, 0}};
    w.cmdOutFile_Click();
    w.SliderTimePosition1->setValue(count - 350);
    w.SliderTimePosition2->setValue(count - 101);
    const double cut = timed([&] { w.cmdCut_Click(); });
    QFile::remove(out);
    return {bench::median(next), bench::median(prev), bench::median(drag), cut};
}

// Medians over rounds of each figure.
Handling medians(const std::vector<Handling>& rounds) {
    auto of = [&](double Handling::*field) {
        std::vector<double> values;
        for (const Handling& h : rounds) values.push_back(h.*field);
        return bench::median(values);
    };
    return {of(&Handling::next), of(&Handling::prev), of(&Handling::drag), of(&Handling::cut)};
}

void longSource() {
    const QString clip = joinedClip(kPieces), twoMinutes = joinedClip(2);
    if (clip.isEmpty() || twoMinutes.isEmpty()) {
        bench::printNote("could not make the two-hour clip");
        return;
    }
    const QStringList probeArgs = bench::countVideoPacketsArgs(clip);
    bench::timeCommand("ffprobe", probeArgs);  // both read the file from a warm cache
    std::vector<double> ours, peers;
    for (int i = 0; i < kOpens; ++i) {
        BenchWindow win;
        ours.push_back(timed([&] { win.window->OpenSourceVideo(clip); }));
        if (!win.window->FileLoaded) {
            bench::printNote("the window could not open the two-hour clip");
            return;
        }
        peers.push_back(bench::timeCommand("ffprobe", probeArgs));
    }
    const double open = bench::median(ours), probe = bench::median(peers);
    bench::printFigure("open_index_2h_1080p", open, "ms", probe, "ms (ffprobe -count_packets)", open / probe, "<= 1.0");

    FfmpegReader reader;
    reader.OpenFile(clip);
    const double perPacket = double(reader.indexMemoryBytes()) / reader.indexedPackets();
    bench::printFigure("packet_index_bytes_per_packet_2h", perPacket, "bytes", 64, "bytes (limit)", perPacket / 64,
                       "<= 1.0");
    bench::printNote(QStringLiteral("%1 packets, index %2 MiB")
                         .arg(reader.indexedPackets())
                         .arg(reader.indexMemoryBytes() / 1048576.0, 0, 'f', 1));
    reader.CloseFile();

    std::vector<Handling> longRounds, shortRounds;
    for (int round = 0; round < kRounds; ++round) {
        if (round % 2 == 0) longRounds.push_back(handlingNearTheEnd(clip, round));
        shortRounds.push_back(handlingNearTheEnd(twoMinutes, round));
        if (round % 2 == 1) longRounds.push_back(handlingNearTheEnd(clip, round));
    }
    const Handling longClip = medians(longRounds), shortClip = medians(shortRounds);
    auto figure = [](const char* name, double mine, double peer) {
        bench::printFigure(name, mine, "ms", peer, "ms (two-minute clip)", peer > 0 ? mine / peer : 0, "<= 1.10");
    };
    figure("window_next_frame_step_2h_1080p", longClip.next, shortClip.next);
    figure("window_prev_frame_step_2h_1080p", longClip.prev, shortClip.prev);
    figure("window_drag_near_end_2h_1080p", longClip.drag, shortClip.drag);
    figure("cut_near_end_2h_1080p", longClip.cut, shortClip.cut);
}

const bench::Register longCase("long", longSource);

}  // namespace
