// The lossless cut at the engine's own interface: it takes an opened source and never opens
// the file again by its name, and it writes through the output layer.
#include <gtest/gtest.h>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>

#include "engine/common/MediaError.h"
#include "engine/remux/LosslessCut.h"
#include "support/ClipCopies.h"
#include "support/Clips.h"
#include "support/DecodeChecks.h"
#include "support/ForeignClips.h"

namespace {

QList<int> range(int first, int last) {
    QList<int> r;
    for (int n = first; n <= last; ++n) r << n;
    return r;
}

// Writes the range; the failure's description, empty when it was written.
QString cut(LosslessCut& lossless, const QString& out, int first, int last) {
    try {
        lossless.begin(out, {{first, last}});
        while (lossless.step()) {
        }
    } catch (const MediaError& e) {
        return e.description();
    }
    return {};
}

TEST(LosslessCut, ASourceRenamedAndDeletedAfterItsOpenIsCut) {
    QTemporaryDir dir;
    const QString path = copyClipTo(clips::foreign("gst_x264_mp4").path, dir.filePath("source.mp4"));
    LosslessCut lossless(OpenedSource::open(path));
    ASSERT_TRUE(QFile::rename(path, dir.filePath("renamed.mp4")));
    ASSERT_TRUE(QFile::remove(dir.filePath("renamed.mp4")));
    const QString out = dir.filePath("cut.mp4");
    EXPECT_EQ(cut(lossless, out, 12, 60).toStdString(), "");
    EXPECT_EQ(clips::decodeFrameNumbers(out), range(12, 60));
}

TEST(LosslessCut, SoundTheContainerCannotCarryIsEncodedAgainInStepWithThePicture) {
    QTemporaryDir dir;
    LosslessCut lossless(OpenedSource::open(clips::foreign("webm_vp9_opus").path));  // Opus, which AVI lacks
    const QString out = dir.filePath("cut.avi");
    EXPECT_EQ(cut(lossless, out, 12, 82).toStdString(), "");
    EXPECT_EQ(clips::decodeFrameNumbers(out), range(12, 82));
    const checks::Span sound = checks::soundSpan(out);
    EXPECT_NEAR(sound.start, 0, sound.longest);
    // MP3 in AVI plays the encoder's start-up delay (one frame at most) at the end.
    EXPECT_NEAR(sound.end, 71 / 25.0, 2 * sound.longest);
}

TEST(LosslessCut, KeepsTheSourcesTagsButNotItsWholeStreamStatistics) {
    QTemporaryDir dir;
    const clips::Clip tagged = clips::make(
        "mp4_tagged", "mp4", 320, 240, 25, 50, true,
        {"-c:v", "libx264", "-g", "25", "-c:a", "aac", "-metadata", "title=Holiday", "-metadata", "artist=Ann",
         "-metadata", "comment=first day", "-metadata", "creation_time=2026-07-01T10:00:00Z"});
    const struct {
        QString source;
        QString out;
    } cases[] = {{tagged.path, dir.filePath("tagged.mp4")},
                 {clips::foreign("mkvmerge_h264_ac3").path, dir.filePath("statistics.mkv")}};
    for (const auto& c : cases) {
        LosslessCut lossless(OpenedSource::open(c.source));
        ASSERT_EQ(cut(lossless, c.out, 12, 40).toStdString(), "");
        const QJsonObject probed = clips::probe(c.out);
        const QJsonObject tags = probed["format"].toObject()["tags"].toObject();
        if (c.source == tagged.path) {
            EXPECT_EQ(tags["title"].toString(), "Holiday");
            EXPECT_EQ(tags["artist"].toString(), "Ann");
            EXPECT_EQ(tags["comment"].toString(), "first day");
            EXPECT_TRUE(tags["creation_time"].toString().startsWith("2026-07-01T10:00:00"));
        }
        for (const QJsonValue stream : probed["streams"].toArray())
            EXPECT_FALSE(stream.toObject()["tags"].toObject().contains("NUMBER_OF_FRAMES")) << c.out.toStdString();
    }
}

TEST(LosslessCut, NeverReplacesAFileAndLeavesNoneWhenTheContainerCannotHoldTheVideo) {
    QTemporaryDir dir;
    LosslessCut vp9(OpenedSource::open(clips::foreign("webm_vp9_opus").path));
    const QString mpg = dir.filePath("vp9.mpg");
    const QString why = cut(vp9, mpg, 12, 60);
    EXPECT_TRUE(why.contains("VP9") && why.contains("MPEG")) << why.toStdString();
    EXPECT_FALSE(QFile::exists(mpg));

    const QString existing = writeTextFile(dir.filePath("existing.webm"), "the user's work");
    EXPECT_TRUE(cut(vp9, existing, 12, 60).contains("already exists"));
    QFile file(existing);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "the user's work");
}

TEST(LosslessCut, FramesTheIndexMisplacesFailTheCutInsteadOfShorteningIt) {
    // Two transport streams one after the other: the second's clock starts again.
    QTemporaryDir dir;
    const clips::Clip second = clips::make("ts_176_restart", "ts", 176, 144, 25, 10, false,
                                           {"-c:v", "libx264", "-preset", "veryfast", "-f", "mpegts"});
    QByteArray joined;
    for (const QString& part : {clips::get("ts_h264_mp2").path, second.path}) {
        QFile file(part);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        joined += file.readAll();
    }
    LosslessCut lossless(OpenedSource::open(writeTextFile(dir.filePath("restart.ts"), joined)));
    EXPECT_TRUE(cut(lossless, dir.filePath("cut.ts"), 2, 11).contains("could not all be written"));
}

// A recording that begins inside an open group (transport stream bytes cut at a packet
// boundary): the pictures no decoder shows are not counted, and frames are numbered as FFmpeg
// and GStreamer show them, in the source and in a cut.
TEST(LosslessCut, ARecordingThatBeginsInsideAGroupNumbersTheFramesDecodersShow) {
    QTemporaryDir dir;
    QFile whole(clips::foreign("ts_x264_opengop").path);
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    const QByteArray bytes = whole.readAll();
    const QString path = writeTextFile(dir.filePath("capture.ts"), bytes.mid(bytes.size() / 5 / 188 * 188));
    const QList<int> shown = clips::decodeFrameNumbers(path);
    QString problems;
    EXPECT_EQ(checks::gstreamerFrameNumbers(path, &problems), shown) << problems.toStdString();
    const std::shared_ptr<const OpenedSource> source = OpenedSource::open(path);
    ASSERT_EQ(source->index().frameCount(), shown.size());
    LosslessCut lossless(source);
    const QString out = dir.filePath("cut.ts");
    ASSERT_EQ(cut(lossless, out, 5, int(shown.size()) - 4).toStdString(), "");
    EXPECT_EQ(clips::decodeFrameNumbers(out), shown.mid(4, shown.size() - 8));
    EXPECT_GT(lossless.stats().videoPacketsCopied, 0);
}

TEST(LosslessCut, ATruncatedSourceIsRefusedAtItsOpenAsTheReaderRefusesIt) {
    QTemporaryDir dir;
    QFile whole(clips::get("avi_mjpeg_pcm").path);
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    const QString path = writeTextFile(dir.filePath("truncated.avi"), whole.read(whole.size() * 3 / 10));
    try {
        OpenedSource::open(path);
        ADD_FAILURE() << "a truncated source opened";
    } catch (const MediaError& e) {
        EXPECT_TRUE(e.description().contains("truncated")) << e.description().toStdString();
    }
}

}  // namespace
