// Several pieces in one file, through batch mode's --keep and --remove, on clips from other
// writers whose sound beeps once a second: the frames of every piece exactly, in the order
// asked for, as FFmpeg and GStreamer decode them; the source's whole groups copied in the source's own format; every beep with the
// picture it came with, from the first join to the last.
#include <QFileInfo>

#include "app/BatchMode.h"
#include "app/ProgramRun.h"
#include "support/BeepClips.h"
#include "support/DecodeChecks.h"

namespace {

// Every cut point lies inside a group of pictures and away from the beeps (frames 1, 26, 51, ...).
const QList<Piece> kKept{{160, 230}, {40, 110}, {245, 300}};  // written in this order
const QList<Piece> kRemoved{{30, 70}, {180, 245}};            // leaves 1-29, 71-179, 246-300

struct PiecesCase {
    const char* clip;
    const char* format;  // batch mode's --format
    bool keep;           // kKept, else kRemoved
    double toleranceMs;  // how far a beep may be from its picture
    friend void PrintTo(const PiecesCase& c, std::ostream* os) {
        *os << c.clip << "_" << c.format << (c.keep ? "_keep" : "_remove");
    }
};

QList<int> framesOf(const QList<Piece>& ranges) {
    QList<int> frames;
    for (const Piece& p : ranges)
        for (int n = p.first; n <= p.last; ++n) frames << n;
    return frames;
}

// Where the beep of frame 1 is heard against its picture without any join: in the source, or
// for WMV in a cut of all its frames.
double referenceOffset(const clips::Clip& source, const QString& format) {
    QString path = source.path;
    ProgramRun run;
    if (format == "wmv") {
        run.withPartner();
        path = run.home.path() + "/whole.wmv";
        run.run({"--cut", source.path, "--from", "1", "--to", QString::number(source.frames), "--out", path, "--format",
                 "wmv", "--quiet"});
    }
    const QList<beeps::Beep> beeps = beeps::beepsAgainstPictures(path);
    return beeps.size() > 1 ? beeps[1].offsetMs : 1e9;
}

class BatchPieces : public testing::TestWithParam<PiecesCase> {};

TEST_P(BatchPieces, WritesEveryPieceExactlyWithTheSoundInStep) {
    const PiecesCase c = GetParam();
    const clips::Clip source = beeps::clip(c.clip);
    const bool original = QString(c.format) == "original";
    const QString ext = original ? QFileInfo(source.path).suffix() : QString(c.format);
    ProgramRun run;
    run.withPartner();  // WMV needs it
    const QString out = run.home.path() + "/pieces." + ext;
    QStringList args{"--cut", source.path, "--out", out, "--format", c.format, "--quiet"};
    const QList<Piece>& asked = c.keep ? kKept : kRemoved;
    for (const Piece& p : asked)
        args << (c.keep ? "--keep" : "--remove") << QStringLiteral("%1-%2").arg(p.first).arg(p.last);
    run.run(args);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString() << run.out.toStdString();

    const QList<Piece> written = c.keep ? kKept : QList<Piece>{{1, 29}, {71, 179}, {246, 300}};
    const QList<int> frames = framesOf(written);
    EXPECT_EQ(clips::decodeFrameNumbers(out), frames) << "as FFmpeg decodes it";
    EXPECT_EQ(checks::ffmpegDecodeErrors(out).toStdString(), "");
    QString problems;
    EXPECT_EQ(checks::gstreamerFrameNumbers(out, &problems), frames) << "as GStreamer decodes it";
    if (original) {
        // The whole groups inside every piece are the source's own packets.
        const QList<checks::Packet> sourcePackets = checks::videoPackets(source.path, true),
                                    outPackets = checks::videoPackets(out);
        for (const Piece& p : written) {
            const QList<checks::Packet> inner = checks::innerGroupPackets(sourcePackets, p.first, p.last);
            EXPECT_FALSE(inner.isEmpty());
            EXPECT_EQ(checks::firstMissing(inner, outPackets), -1) << "frames " << p.first << "-" << p.last;
        }
    }

    // Each beep must be as far from its picture as in the source (whose writer may have left
    // its sound a little off), give or take the tolerance. WMV's sound encoder starts one of its
    // frames early whatever is cut, so there a cut of the whole source is the reference.
    const double reference = referenceOffset(source, c.format);
    int extra = 0;
    const QList<beeps::Beep> heard = beeps::beepsAgainstPictures(out, &extra);
    int expected = 0;
    for (const int n : frames) expected += (n - 1) % 25 == 0;
    EXPECT_EQ(heard.size(), expected);
    EXPECT_EQ(extra, 0) << "beeps that belong to no picture";
    for (const beeps::Beep& b : heard)
        EXPECT_LE(std::abs(b.offsetMs - reference), c.toleranceMs)
            << "the beep of source frame " << b.sourceFrame << ": " << b.offsetMs << " ms after its picture, "
            << reference << " ms without joins";
    // No drift: the last piece's sound sits where the first piece's does, to within half a
    // sound frame where whole frames are copied, to the sample (give or take 2 ms) where the
    // sound is encoded again.
    ASSERT_FALSE(heard.isEmpty());
    const double drift = original ? checks::soundSpan(out).longest * 500 + 2 : 2;
    EXPECT_LE(std::abs(heard.last().offsetMs - heard.first().offsetMs), drift)
        << "from source frame " << heard.first().sourceFrame << " to " << heard.last().sourceFrame;
}

INSTANTIATE_TEST_SUITE_P(
    Clips, BatchPieces,
    testing::Values(PiecesCase{"gst_ts", "original", true, 25}, PiecesCase{"gst_ts", "original", false, 25},
                    PiecesCase{"gst_mp4", "original", true, 25}, PiecesCase{"gst_mp4", "original", false, 25},
                    PiecesCase{"mkv_ac3", "original", true, 25}, PiecesCase{"mkv_ac3", "original", false, 25},
                    PiecesCase{"gst_ts", "avi", true, 10}, PiecesCase{"gst_mp4", "wmv", false, 10},
                    PiecesCase{"mkv_ac3", "avi", false, 10}, PiecesCase{"mkv_ac3", "wmv", true, 10}),
    [](const auto& info) {
        return std::string(info.param.clip) + "_" + info.param.format + (info.param.keep ? "_keep" : "_remove");
    });

TEST(BatchPieces, ReadsPiecesAndRefusesBadOnesByNameWithoutAFile) {
    const auto parsed = parseBatchArguments({"--cut", "in.ts", "--keep", "5-9", "--keep", "30-20", "--out", "o.ts"});
    ASSERT_TRUE(std::holds_alternative<BatchRequest>(parsed));
    EXPECT_EQ(std::get<BatchRequest>(parsed).pieces, (std::vector<Piece>{{5, 9}, {30, 20}}));
    EXPECT_EQ(std::get<BatchRequest>(parsed).pieceMode, PieceMode::Keep);
    for (const QStringList& bad : {QStringList{"--keep", "1-5", "--remove", "8-9"}, QStringList{"--keep", "5"},
                                   QStringList{"--keep", "1-5", "--from", "1"}, QStringList{"--remove", "a-b"}})
        EXPECT_TRUE(
            std::holds_alternative<QString>(parseBatchArguments(QStringList{"--cut", "in.ts", "--out", "o.ts"} + bad)))
            << bad.join(' ').toStdString();

    const QString source = beeps::clip("gst_mp4").path;
    const struct {
        QStringList pieces;
        const char* named;
    } refusals[] = {
        {{"--keep", "10-50", "--keep", "40-60"}, "piece 1 (frames 10-50) overlaps piece 2 (frames 40-60)"},
        {{"--remove", "90-80"}, "piece 1 (frames 90-80) ends before it starts"},
        {{"--keep", "10-20", "--keep", "290-301"}, "piece 2 (frames 290-301) lies outside frames 1-300"},
        {{"--remove", "1-300"}, "the pieces removed leave no frame to write"},
    };
    for (const auto& r : refusals) {
        ProgramRun run;
        const QString out = run.home.path() + "/refused.mp4";
        run.run(QStringList{"--cut", source, "--out", out, "--format", "original"} + r.pieces);
        EXPECT_EQ(run.exitCode, 2) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(r.named)) << run.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(out));
    }
}

}  // namespace
