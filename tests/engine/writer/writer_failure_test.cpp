// The writer's refusals and failures: each gives a readable MediaError, never a crash, never a
// replaced file, and leaves the object able to write the next file.
#include <gtest/gtest.h>
#include <unistd.h>
#include <QFileInfo>
#include <limits>

#include "WriterTestSupport.h"
#include "engine/writer/FfmpegWriter.h"
#include "engine/writer/WriterCatalog.h"

using namespace writertest;

namespace {

// A writer set up for a small AVI from the Motion JPEG clip.
void setUpAvi(FfmpegWriter& writer) {
    const DecodedClip& source = decoded("avi_mjpeg_pcm");
    describeSource(writer, source);
    writer.SetAudioPCM(source.sampleRate, 2, 16);
    writer.SetAviVideo(source.width, source.height, source.fps);
}

QString errorOf(const std::function<void()>& step) {
    try {
        step();
    } catch (const MediaError& e) {
        return e.description();
    }
    return {};
}

QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

TEST(WriterFailure, AnExistingFileIsNeverReplaced) {
    const QString path = outputPath("exists.avi");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("keep me");
    }
    for (int container : {kContainerAvi, kContainerMpeg, kContainerWmv}) {
        FfmpegWriter writer;
        setUpAvi(writer);
        EXPECT_EQ(errorOf([&] { writer.CreateFile(path, container); }), "The file already exists: " + path);
        EXPECT_FALSE(writer.isOpen());
        EXPECT_EQ(contents(path), "keep me");
    }
}

TEST(WriterFailure, AFolderThatCannotBeWrittenGivesTheSystemsReason) {
    FfmpegWriter writer;
    setUpAvi(writer);
    const QString missing = clips::clipsFolder() + "/no-such-folder/out.avi";
    EXPECT_EQ(errorOf([&] { writer.CreateFile(missing, kContainerAvi); }),
              "Could not create the file " + missing + ": No such file or directory");

    // A read-only folder; sysfs refuses new files even to the superuser.
    QString folder = clips::clipsFolder() + "/read-only";
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    if (geteuid() == 0) folder = "/sys";
    const QString path = folder + "/out.avi";
    EXPECT_EQ(errorOf([&] { writer.CreateFile(path, kContainerAvi); }),
              "Could not create the file " + path + ": Permission denied");
    EXPECT_FALSE(writer.isOpen());
    EXPECT_FALSE(QFileInfo::exists(path));
}

TEST(WriterFailure, ADiskThatFillsUpMidFileEndsWithAReadableErrorAndNoFile) {
    const DecodedClip& source = decoded("avi_mjpeg_pcm");
    FfmpegWriter writer;
    setUpAvi(writer);
    writer.SetVideoCodec(codecIndex("huffyuv"));  // large frames: the limit falls among them
    const QString full = outputPath("disk-not-full.avi");
    writer.CreateFile(full, kContainerAvi);
    copyInterleaved(writer, source);
    writer.CloseFile();
    const qint64 fullSize = QFileInfo(full).size();

    const QString path = outputPath("disk-full.avi");
    writer.setWriteLimitForTesting(fullSize / 3);
    writer.CreateFile(path, kContainerAvi);
    const QString error = errorOf([&] { copyInterleaved(writer, source); });
    EXPECT_EQ(error, "Could not write the output file " + path + ": No space left on device");
    // Later writes report the same failure; closing does not throw again, really closes and
    // removes the file, which stopped short of its end.
    EXPECT_EQ(errorOf([&] { writer.WriteVideoFrame(source.frames[0]); }), error);
    EXPECT_EQ(errorOf([&] { writer.WriteAudio(AudioChunk(1000, 0)); }), error);
    EXPECT_NO_THROW(writer.CloseFile());
    EXPECT_FALSE(writer.isOpen());
    EXPECT_NO_THROW(writer.CloseFile());
    EXPECT_FALSE(QFileInfo::exists(path));

    // The same object writes the next file normally.
    writer.setWriteLimitForTesting(-1);
    const QString next = outputPath("after-disk-full.avi");
    writer.CreateFile(next, kContainerAvi);
    copyInterleaved(writer, source, 0, 10);
    writer.CloseFile();
    EXPECT_EQ(clips::decodeFrameNumbers(next), countUp(10));
}

TEST(WriterFailure, AFullDiskWhileCompletingTheFileIsReportedOnceByCloseFile) {
    const DecodedClip& source = decoded("avi_mjpeg_pcm");
    FfmpegWriter writer;
    setUpAvi(writer);
    // Uncompressed frames of 230 KB reach the file at once; the limit falls in the trailer's index.
    writer.SetVideoCodec(codecIndex("rawvideo"));
    const QString path = outputPath("full-at-close.avi");
    writer.setWriteLimitForTesting(-1);
    writer.CreateFile(path, kContainerAvi);
    copyInterleaved(writer, source, 0, 5);
    writer.CloseFile();
    const qint64 complete = QFileInfo(path).size();

    const QString second = outputPath("full-at-close-2.avi");
    writer.setWriteLimitForTesting(complete - 64);
    writer.CreateFile(second, kContainerAvi);
    copyInterleaved(writer, source, 0, 5);
    EXPECT_EQ(errorOf([&] { writer.CloseFile(); }),
              "Could not write the output file " + second + ": No space left on device");
    EXPECT_FALSE(writer.isOpen());
    EXPECT_FALSE(QFileInfo::exists(second));
    EXPECT_NO_THROW(writer.CloseFile());
}

TEST(WriterFailure, ASetupThatCannotWorkLeavesNoFileBehind) {
    const QString path = outputPath("bad-setup.out");
    FfmpegWriter writer;
    setUpAvi(writer);
    EXPECT_EQ(errorOf([&] { writer.CreateFile(path, 4); }), "Unknown container type 4 (1 AVI, 2 MPEG, 3 WMV)");
    writer.SetMpegVideo(3, 1150, 320, 240, 25);
    EXPECT_EQ(errorOf([&] { writer.CreateFile(path, kContainerMpeg); }), "MPEG version 3 is not supported (1 or 2)");
    writer.SetAudioPCM(44100, 2, 12);
    EXPECT_EQ(errorOf([&] { writer.CreateFile(path, kContainerAvi); }),
              "PCM audio with 12 bits per sample is not supported (8, 16, 24 or 32)");
    writer.SetHasVideo(false);
    writer.SetHasAudio(false);
    EXPECT_EQ(errorOf([&] { writer.CreateFile(path, kContainerAvi); }),
              "There is nothing to write: neither video nor audio is set");
    // A header that cannot be written (no room at all; it is written with the first picture,
    // which tells the source's shape) removes the file it had just made.
    setUpAvi(writer);
    writer.setWriteLimitForTesting(0);
    writer.CreateFile(path, kContainerAvi);
    EXPECT_EQ(errorOf([&] { writer.WriteVideoFrame(decoded("avi_mjpeg_pcm").frames[0]); }),
              "Could not write the output file " + path + ": No space left on device");
    EXPECT_FALSE(QFileInfo::exists(path));
    writer.CloseFile();
    EXPECT_FALSE(writer.isOpen());
}

// A source rate whose resampling filter would not fit in memory: the audio encoder's set-up fails
// in swr_init, after the encoder, the resampler and the stream exist. A readable error and no
// file; the sanitizer build checks that what the set-up had made is freed.
TEST(WriterFailure, AudioTheResamplerCannotTakeFailsWithoutLeaking) {
    const QString path = outputPath("unresamplable.avi");
    FfmpegWriter writer;
    writer.SetAudioFormat(std::numeric_limits<int32_t>::max(), 2);
    writer.SetAudioPCM(44100, 2, 16);
    writer.SetHasVideo(false);
    writer.SetHasAudio(true);
    EXPECT_TRUE(errorOf([&] {
                    writer.CreateFile(path, kContainerAvi);
                }).startsWith("The audio cannot be converted from 2147483647 Hz, 2 channels to 44100 Hz"));
    EXPECT_FALSE(writer.isOpen());
    EXPECT_FALSE(QFileInfo::exists(path));
}

TEST(WriterFailure, WritesNeedAnOpenFileAndValidFrames) {
    FfmpegWriter writer;
    setUpAvi(writer);
    const FrameData& frame = decoded("avi_mjpeg_pcm").frames[0];
    EXPECT_EQ(errorOf([&] { writer.WriteVideoFrame(frame); }), "No output file is open");
    EXPECT_EQ(errorOf([&] { writer.WriteAudio(AudioChunk(100, 0)); }), "No output file is open");
    EXPECT_NO_THROW(writer.CloseFile());  // nothing open: nothing happens

    const QString path = outputPath("bad-frames.avi");
    writer.CreateFile(path, kContainerAvi);
    FrameData cut = frame.left(frame.size() / 2);
    EXPECT_EQ(errorOf([&] { writer.WriteVideoFrame(cut); }), "The video frame to write is not valid frame data");
    EXPECT_EQ(errorOf([&] { writer.WriteVideoFrame(QByteArray(200, 'x')); }),
              "The video frame to write is not valid frame data");
    EXPECT_NO_THROW(writer.WriteVideoFrame(FrameData()));  // "no frame": nothing to write
    EXPECT_NO_THROW(writer.WriteAudio(AudioChunk{1}));     // less than one stereo sample frame
    writer.WriteVideoFrame(frame);
    writer.CloseFile();
    EXPECT_EQ(clips::decodeFrameNumbers(path), countUp(1));
}

TEST(WriterFailure, IndexesOutsideTheListsAreRefused) {
    FfmpegWriter writer;
    EXPECT_EQ(errorOf([&] { writer.SetVideoCodec(0); }),
              QStringLiteral("There is no video codec number 0 (1 to %1)").arg(writer.VideoCodecCount()));
    EXPECT_FALSE(errorOf([&] { writer.SetVideoCodec(writer.VideoCodecCount() + 1); }).isEmpty());
    EXPECT_EQ(errorOf([&] { writer.SetWmvProfile(0); }),
              QStringLiteral("There is no WMV profile number 0 (1 to %1)").arg(writer.WmvProfileCount()));
    EXPECT_EQ(writer.VideoCodec(), writer.VideoCodecCount());  // unchanged by the refusals
    EXPECT_EQ(writer.WmvProfile(), writer.WmvProfileCount());
}
