// Cuts and splits in the source's own format, on clips written by several programs. Every
// output is checked by tools that did not write it: each frame's number as FFmpeg and as
// GStreamer decode it, both decoders' error reports, the packets copied from the source, and
// how far the sound reaches against the picture.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <functional>

#include "jobs/OriginalJob.h"
#include "support/DecodeChecks.h"
#include "support/ForeignClips.h"

// Outcomes by name in failure messages.
inline void PrintTo(JobOutcome::Kind kind, std::ostream* os) {
    static const char* const names[] = {"Running", "Finished", "Cancelled", "Failed", "Refused"};
    *os << names[int(kind)];
}

namespace {

// Both ends away from the clips' keyframes (1, 26 or 28, 51 or 52, 76), two whole groups
// between them.
constexpr int kFirst = 12, kLast = 82;

clips::Clip clipNamed(const QString& name) {
    return clips::foreignClipNames().contains(name) ? clips::foreign(name) : clips::get(name);
}

QList<int> range(int first, int last) {
    QList<int> r;
    for (int n = first; n <= last; ++n) r << n;
    return r;
}

QList<QByteArray> dataOf(const QList<checks::Packet>& packets) {
    QList<QByteArray> data;
    for (const auto& p : packets) data << p.data;
    return data;
}

int soundTracks(const QString& path) {
    int n = 0;
    for (const QJsonValue s : clips::probe(path)["streams"].toArray()) n += s.toObject()["codec_type"] == "audio";
    return n;
}

// Runs a job to its end; `beforeStep` may act before each step (it gets the steps done).
JobOutcome::Kind runJob(OriginalJob& job, const std::function<void(OriginalJob&, int)>& beforeStep = {}) {
    if (!job.start()) return job.outcome().kind;
    for (int steps = 0; steps < 100000; ++steps) {
        if (beforeStep) beforeStep(job, steps);
        if (!job.step()) return job.outcome().kind;
    }
    return JobOutcome::Kind::Running;
}

// Everything a file holding source frames first..last must show. `container`: the muxer of
// another container the file was written in (its packets may then be in another form), empty
// for the source's own.
// `packetsLike`: the file whose packets the copy holds, when not the source itself.
void expectExactCut(const clips::Clip& source, const QString& out, int first, int last, const char* container = "",
                    QString packetsLike = {}) {
    if (packetsLike.isEmpty()) packetsLike = source.path;
    SCOPED_TRACE(
        QStringLiteral("%1 frames %2..%3 %4").arg(source.name).arg(first).arg(last).arg(container).toStdString());
    const QList<int> frames = range(first, last);
    EXPECT_EQ(clips::decodeFrameNumbers(out), frames) << "as FFmpeg decodes it";
    QString gstreamerProblems;
    EXPECT_EQ(checks::gstreamerFrameNumbers(out, &gstreamerProblems), frames) << "as GStreamer decodes it";
    EXPECT_EQ(gstreamerProblems.toStdString(), "");
    EXPECT_EQ(checks::ffmpegDecodeErrors(out).toStdString(), "");
    const QString summary = checks::formatSummary(out), sourceSummary = checks::formatSummary(source.path);
    if (*container) {
        EXPECT_TRUE(summary.section(" | ", 0, 0).split(',').contains(container)) << summary.toStdString();
        EXPECT_EQ(summary.section(" | ", 1).toStdString(), sourceSummary.section(" | ", 1).toStdString());
    } else {
        EXPECT_EQ(summary.toStdString(), sourceSummary.toStdString());
    }

    const QList<checks::Packet> inner = checks::innerGroupPackets(checks::videoPackets(packetsLike, true), first, last);
    const int missing = *container ? -1 : checks::firstMissing(inner, checks::videoPackets(out));
    EXPECT_EQ(missing, -1) << "the packet of source frame " << inner.value(missing).frame << " (" << missing + 1
                           << " of the " << inner.size()
                           << " of the whole groups inside the range) is missing, changed or out of order";
    // Copied pictures decode exactly as in the source: nothing they refer to was replaced.
    const QList<QByteArray> pictures = checks::pictureHashes(out), sourcePictures = checks::pictureHashes(packetsLike);
    for (const auto& p : inner)
        if (pictures.value(p.frame - first) != sourcePictures.value(p.frame - 1)) {
            ADD_FAILURE() << "source frame " << p.frame << " is copied but decodes differently";
            break;
        }

    // The picture starts at zero (a transport stream keeps its muxer's offset), and every sound
    // track covers it to within one audio frame at either end, as far as the source's sound does.
    const double start = checks::pictureStart(out), end = start + frames.size() / source.fps;
    // (An AVI shows its first picture after the codec's reordering delay: at most two frames
    // later than its source does, with B-pyramids.)
    const QString suffix = QFileInfo(out).suffix();
    const bool avi = suffix == "avi" || QLatin1String(container) == "avi";
    if (avi) {
        EXPECT_LE(start, checks::pictureStart(source.path) + 2.0 / source.fps + 0.001);
    } else if (!suffix.startsWith("ts") && QLatin1String(container) != "mpegts") {
        EXPECT_LT(std::abs(start), 1.0 / source.fps);
    }
    const double sourceStart = checks::pictureStart(source.path) + (first - 1) / source.fps;
    for (int track = 0; track < soundTracks(source.path); ++track) {
        const checks::Span sound = checks::soundSpan(out, track), sourceSound = checks::soundSpan(source.path, track);
        const double lateStart = std::max(0.0, sourceSound.start - sourceStart);
        const double earlyEnd = std::max(0.0, sourceStart + frames.size() / source.fps - sourceSound.end);
        // An AVI plays its sound from its first packet on, whatever its time: there the end shows
        // whether the sound keeps step.
        if (!avi) {
            EXPECT_NEAR(sound.start, start + lateStart, sound.longest + 0.002) << "sound track " << track + 1;
        }
        EXPECT_NEAR(sound.end, end - earlyEnd, sound.longest + 0.002) << "sound track " << track + 1;
    }
}

struct CutCase {
    const char* clip;
    bool wholeGroupsInside;  // false: no keyframe inside the range starts a clean group
    friend void PrintTo(const CutCase& c, std::ostream* os) { *os << c.clip; }
};

class OriginalCut : public testing::TestWithParam<CutCase> {};

TEST_P(OriginalCut, WritesExactlyTheMarkedFramesAndCopiesTheWholeGroups) {
    const clips::Clip source = clipNamed(GetParam().clip);
    QTemporaryDir dir;
    // Packed B-frames are copied unpacked, as FFmpeg's own filter unpacks them.
    QString packetsLike = source.path;
    if (source.name.contains("packed")) {
        packetsLike = dir.filePath("unpacked.avi");
        ASSERT_EQ(clips::run("ffmpeg", {"-v", "error", "-i", source.path, "-c", "copy", "-bsf:v", "mpeg4_unpack_bframes",
                                        packetsLike}),
                  0);
    }
    const QList<checks::Packet> packets = checks::videoPackets(packetsLike, true);
    QList<int> keyframes;
    for (const auto& p : packets)
        if (p.key) keyframes << p.frame;
    const bool intraOnly = keyframes.size() == packets.size();
    ASSERT_TRUE(intraOnly || (!keyframes.contains(kFirst) && !keyframes.contains(kLast + 1))) << "keyframes moved";
    EXPECT_EQ(checks::innerGroupPackets(packets, kFirst, kLast).isEmpty(), !GetParam().wholeGroupsInside);

    const QString out = dir.filePath("cut." + QFileInfo(source.path).suffix());
    auto job = OriginalJob::cut(OpenedSource::open(source.path), kLast, kFirst,
                                [&](int) { return out; });  // markers in either order
    ASSERT_EQ(runJob(*job), JobOutcome::Kind::Finished) << job->outcome().failure.toStdString();
    expectExactCut(source, out, kFirst, kLast, "", packetsLike);
    EXPECT_GT(job->stats().audioPacketsCopied, 0);  // the source's own container carries its sound
    if (intraOnly) {
        // Every picture stands alone (Motion JPEG): nothing is encoded, every packet copied.
        EXPECT_EQ(job->stats().videoPacketsEncoded, 0);
        EXPECT_TRUE(dataOf(checks::videoPackets(out)) == dataOf(checks::innerGroupPackets(packets, kFirst, kLast)));
    }
}

// An H.261 stream's writers flag every picture as a keyframe, though most refer to the one
// before: a copy from frame 12 would start from a picture it cannot decode.
TEST(OriginalCutH261, TakesOnlyTheFirstPictureForAKeyframe) {
    const clips::Clip source =
        clips::make("avi_h261_pcm", "avi", 352, 288, 25, 100, true, {"-c:v", "h261", "-g", "25", "-c:a", "pcm_s16le"});
    QTemporaryDir dir;
    const QString out = dir.filePath("cut.avi");
    auto job = OriginalJob::cut(OpenedSource::open(source.path), kFirst, kLast, [&](int) { return out; });
    ASSERT_EQ(runJob(*job), JobOutcome::Kind::Finished) << job->outcome().failure.toStdString();
    // (GStreamer's check pipeline stalls on this AVI as on its source: FFmpeg's decoder only.)
    EXPECT_EQ(clips::decodeFrameNumbers(out), range(kFirst, kLast));
}

// mp4_h264_aac and the ts_x264_opengop clips are x264 with open groups: only their first
// picture is an IDR picture.
INSTANTIATE_TEST_SUITE_P(Clips, OriginalCut,
                         testing::Values(CutCase{"gst_x264_mp4", true}, CutCase{"gst_x264_mkv", true},
                                         CutCase{"mkvmerge_h264_ac3", true}, CutCase{"mp4_h264_aac", true},
                                         CutCase{"ts_x264_opengop", true}, CutCase{"ts_x264_opengop_mbaff", true},
                                         CutCase{"ts_mpeg2_mp2", true}, CutCase{"avi_mpeg4_mp3", true},
                                         CutCase{"mp4_hevc10_aac", true}, CutCase{"webm_vp9_opus", true},
                                         CutCase{"avi_mjpeg_pcm", true}, CutCase{"gst_mjpeg_avi", true},
                                         CutCase{"mkvmerge_tracks", true}, CutCase{"mp4_text_faststart", true},
                                         CutCase{"mov_prores_timecode", true}, CutCase{"mencoder_xvid_avi", true},
                                         CutCase{"mencoder_xvid_packed_avi", true}, CutCase{"gst_h263_3gp", true}),
                         [](const auto& info) { return std::string(info.param.clip); });

// Another container for the same packets: every frame, the codecs and the sound in step, the
// whole groups copied (in the form the container stores) and nothing encoded but the edges.
struct ContainerCase {
    const char* clip;
    const char* extension;  // the container chosen
    const char* muxer;      // as ffprobe names the file's format
    friend void PrintTo(const ContainerCase& c, std::ostream* os) { *os << c.clip << " to " << c.extension; }
};

class OriginalContainer : public testing::TestWithParam<ContainerCase> {};

TEST_P(OriginalContainer, KeepsFramesCodecsAndSoundInStep) {
    const ContainerCase c = GetParam();
    // H.264 with AAC in MOV and TS are made here: ffmpeg's x264 with B-frames, a keyframe every 25 frames.
    const QString clip(c.clip);
    const clips::Clip source =
        clip.endsWith("_h264_aac")
            ? clips::make(clip, clip.section('_', 0, 0), 320, 240, 25, 90, true,
                          {"-c:v", "libx264", "-g", "25", "-x264-params", "scenecut=0", "-c:a", "aac"})
            : clipNamed(clip);
    QTemporaryDir dir;
    const QString out = dir.filePath("cut.bin");  // the chosen container decides, not the name
    auto job = OriginalJob::cut(OpenedSource::open(source.path), kFirst, kLast, [&](int) { return out; });
    job->setContainer(c.extension);
    ASSERT_EQ(runJob(*job), JobOutcome::Kind::Finished) << job->outcome().failure.toStdString();
    expectExactCut(source, out, kFirst, kLast, c.muxer);
    if (QByteArray(c.extension) == "m2ts") {  // 192-byte packets: a time code before each sync byte
        QFile file(out);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray head = file.read(2 * 192);
        EXPECT_TRUE(head.size() == 384 && head[4] == 0x47 && head[196] == 0x47);
    }
    const QList<checks::Packet> inner =
        checks::innerGroupPackets(checks::videoPackets(source.path, true), kFirst, kLast);
    EXPECT_EQ(job->stats().videoPacketsCopied, inner.size());
    EXPECT_GT(job->stats().audioPacketsCopied, 0);
    for (const QString& note : job->outcome().notes) EXPECT_FALSE(note.contains("encoded again")) << note.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Clips, OriginalContainer,
    testing::Values(ContainerCase{"ts_h264_mp2", "mkv", "matroska"}, ContainerCase{"ts_h264_aac", "mp4", "mp4"},
                    ContainerCase{"mkvmerge_h264_ac3", "ts", "mpegts"},
                    ContainerCase{"mkvmerge_h264_ac3", "mov", "mov"}, ContainerCase{"mkvmerge_h264_ac3", "avi", "avi"},
                    ContainerCase{"gst_x264_mp4", "mkv", "matroska"}, ContainerCase{"mkvmerge_h264_ac3", "m2ts", "mpegts"},
                    ContainerCase{"mov_h264_aac", "mp4", "mp4"}, ContainerCase{"ts_h264_aac", "mov", "mov"}),
    [](const auto& info) { return std::string(info.param.clip) + "_to_" + info.param.extension; });

class OriginalSplit : public testing::TestWithParam<const char*> {};

TEST_P(OriginalSplit, WritesTheFramesBeforeTheSplitFrameAndTheRest) {
    const clips::Clip source = clipNamed(GetParam());
    QTemporaryDir dir;
    QList<int> parts;
    const auto pathOf = [&](int part) {
        return dir.filePath(QStringLiteral("part%1.").arg(part) + QFileInfo(source.path).suffix());
    };
    auto job = OriginalJob::split(OpenedSource::open(source.path), 40, [&](int part) {
        parts << part;
        return pathOf(part);
    });
    ASSERT_EQ(runJob(*job), JobOutcome::Kind::Finished) << job->outcome().failure.toStdString();
    EXPECT_EQ(parts, QList<int>({1, 2}));
    expectExactCut(source, pathOf(1), 1, 39);
    expectExactCut(source, pathOf(2), 40, source.frames);
}

INSTANTIATE_TEST_SUITE_P(Clips, OriginalSplit,
                         testing::Values("gst_x264_mp4", "ts_mpeg2_mp2", "ts_x264_opengop", "mencoder_xvid_avi"),
                         [](const auto& info) { return std::string(info.param); });

TEST(OriginalJob, NamesWhatTheContainerCannotHoldOnceForBothFilesOfASplit) {
    QTemporaryDir dir;
    auto job = OriginalJob::split(OpenedSource::open(clips::foreign("mkvmerge_tracks").path), 40,
                                  [&](int part) { return dir.filePath(QStringLiteral("part%1.mp4").arg(part)); });
    ASSERT_EQ(runJob(*job), JobOutcome::Kind::Finished) << job->outcome().failure.toStdString();
    const QStringList notes = job->outcome().notes;
    EXPECT_EQ(notes.size(), 3) << notes.join('\n').toStdString();  // two subtitle tracks and the font
    for (const QString& note : notes) EXPECT_TRUE(note.contains("is not kept")) << note.toStdString();
}

// A file ended early is closed, in the source's format, and holds a run of the range from its
// first frame that both decoders read.
void expectReadablePrefix(const clips::Clip& source, const QString& out, int first) {
    EXPECT_FALSE(checks::openInThisProcess(out));
    EXPECT_EQ(checks::formatSummary(out).toStdString(), checks::formatSummary(source.path).toStdString());
    const QList<int> numbers = clips::decodeFrameNumbers(out);
    EXPECT_EQ(numbers, range(first, first + int(numbers.size()) - 1));
    QString problems;
    EXPECT_EQ(checks::gstreamerFrameNumbers(out, &problems), numbers) << problems.toStdString();
}

TEST(OriginalJob, CancelKeepsAClosedReadableFile) {
    const clips::Clip source = clips::foreign("gst_x264_mp4");
    QTemporaryDir dir;
    const QString out = dir.filePath("cancelled.mp4");
    auto job = OriginalJob::cut(OpenedSource::open(source.path), kFirst, kLast, [&](int) { return out; });
    bool cancelled = false;
    EXPECT_EQ(runJob(*job,
                     [&](OriginalJob& j, int steps) {
                         if (steps == 3) {
                             j.cancel();
                             cancelled = true;
                         }
                     }),
              JobOutcome::Kind::Cancelled);
    ASSERT_TRUE(cancelled) << "the job ended within three steps";
    expectReadablePrefix(source, out, kFirst);
    EXPECT_EQ(checks::ffmpegDecodeErrors(out).toStdString(), "");
    const qsizetype frames = clips::decodeFrameNumbers(out).size();
    EXPECT_GT(frames, 0) << "the frames handled before the cancel are not in the file";
    EXPECT_LT(frames, kLast - kFirst + 1);
}

// Files of this process may not grow beyond `bytes` while it lives: a write past that fails
// as on a full disk (EFBIG instead of the signal that would end the process).
struct FileSizeLimit {
    rlimit before{};
    sighandler_t handler;
    explicit FileSizeLimit(rlim_t bytes) : handler(signal(SIGXFSZ, SIG_IGN)) {
        getrlimit(RLIMIT_FSIZE, &before);
        rlimit limit = before;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &before);
        signal(SIGXFSZ, handler);
    }
};

TEST(OriginalJob, AWriteFailureEndsTheJobWithItsReasonAndNoFile) {
    const clips::Clip source = clips::foreign("gst_x264_mkv");
    QTemporaryDir dir;
    const QString out = dir.filePath("full.mkv");
    const qint64 room = QFileInfo(source.path).size() / 4;
    auto job = OriginalJob::cut(OpenedSource::open(source.path), kFirst, kLast, [&](int) { return out; });
    JobOutcome::Kind outcome;
    {
        FileSizeLimit limit(room);
        outcome = runJob(*job);
    }
    EXPECT_EQ(outcome, JobOutcome::Kind::Failed);
    EXPECT_TRUE(job->outcome().failure.contains("too large", Qt::CaseInsensitive))
        << job->outcome().failure.toStdString();
    EXPECT_FALSE(QFileInfo::exists(out)) << "a file that stopped short of its end is not the cut";
}

// A failed job leaves no file of its own, whatever the muxer: on a full disk (the job's own
// write limit) in each family of containers, at the header or in the middle of the range;
// and a split whose second file fails removes its completed first file, but never a file
// that was there before.
TEST(OriginalJob, AFailureLeavesNoFileOfTheJobPerMuxerFamily) {
    struct Case {
        const char* clip;
        int64_t limit;       // -1: the source's size / 4, in the middle of the range
        bool split = false;  // at frame 5: the first file fits, the second does not
        bool taken = false;  // the split's second name is a file that was there before
    };
    for (const Case& c :
         {Case{"avi_mjpeg_pcm", -1}, Case{"mpeg2_ps", -1}, Case{"ts_h264_mp2", -1}, Case{"mp4_h264_aac", -1},
          Case{"mkv_mpeg4_vorbis", -1}, Case{"webm_vp8_opus", -1}, Case{"gst_x264_mkv", 0},
          Case{"avi_mjpeg_pcm", -1, true}, Case{"avi_mjpeg_pcm", -1, true, true}}) {
        SCOPED_TRACE(std::string(c.clip) + (c.split ? " split" : " cut") + (c.taken ? ", second name taken" : ""));
        const clips::Clip source = clipNamed(c.clip);
        QTemporaryDir dir;
        const QString taken = dir.filePath("taken.bin");
        if (c.taken) {
            QFile file(taken);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("the user's work") > 0);
        }
        QStringList asked;
        const auto pathOf = [&](int part) {
            asked << (part == 2 && c.taken
                          ? taken
                          : dir.filePath(QStringLiteral("part%1.").arg(part) + QFileInfo(source.path).suffix()));
            return asked.last();
        };
        auto job = c.split ? OriginalJob::split(OpenedSource::open(source.path), 5, pathOf)
                           : OriginalJob::cut(OpenedSource::open(source.path), kFirst, kLast, pathOf);
        job->setWriteLimitForTesting(c.taken ? -1 : c.limit < 0 ? QFileInfo(source.path).size() / 4 : c.limit);
        EXPECT_EQ(runJob(*job), JobOutcome::Kind::Failed);
        EXPECT_TRUE(job->outcome().failure.contains(c.taken ? "already exists" : "No space left on device"))
            << job->outcome().failure.toStdString();
        EXPECT_EQ(asked.size(), c.split ? 2 : 1);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), c.taken ? QStringList{"taken.bin"} : QStringList{});
    }
}

// What the job says before writing of a container matches what it writes: a container that
// is not offered names the stream that does not fit (which the run then encodes again, or
// refuses before any file exists when it is the picture); one that is offered is written.
TEST(OriginalJob, RefusalsAgreeWithTheRunPerCodecAndContainer) {
    const QStringList h264{"-c:v", "libx264", "-g", "25", "-x264-params", "scenecut=0"};
    const clips::Clip flacDts = clips::make("mkv_h264_flac_dts", "mkv", 320, 240, 25, 90, true,
                                            QStringList{"-map", "0:v", "-map", "1:a", "-map", "1:a"} + h264 +
                                                QStringList{"-c:a:0", "flac", "-c:a:1", "dca", "-strict", "-2"},
                                            48000);
    const clips::Clip theora = clips::make("theora", "mkv", 320, 240, 25, 90, false, {"-c:v", "libtheora", "-g", "25"});
    struct Case {
        clips::Clip source;
        const char* extension;
        const char* stream;  // named by the refusal; empty: the container takes every stream
    };
    for (const Case& c : {Case{flacDts, "mp4", "FLAC"}, Case{flacDts, "mov", "FLAC"}, Case{flacDts, "mkv", ""},
                          Case{clips::get("ts_h264_mp2"), "flv", "MP2"},
                          Case{clips::get("ts_h264_mp2"), "webm", "H.264"}, Case{theora, "mkv", ""}}) {
        SCOPED_TRACE(c.source.name.toStdString() + " to " + c.extension);
        const auto opened = OpenedSource::open(c.source.path);
        const QString misfit = OriginalJob::containerMisfit(*opened, c.extension);
        EXPECT_EQ(OriginalJob::containersFor(*opened).contains(c.extension), misfit.isEmpty()) << misfit.toStdString();
        EXPECT_EQ(misfit.isEmpty(), !*c.stream) << misfit.toStdString();
        EXPECT_TRUE(misfit.contains(c.stream)) << misfit.toStdString();
        QTemporaryDir dir;
        const QString out = dir.filePath("cut.bin");
        auto job = OriginalJob::cut(opened, kFirst, kLast, [&](int) { return out; });
        job->setContainer(c.extension);
        const JobOutcome::Kind outcome = runJob(*job);
        const bool video = misfit.startsWith("Video");
        EXPECT_EQ(outcome, video ? JobOutcome::Kind::Failed : JobOutcome::Kind::Finished)
            << job->outcome().failure.toStdString();
        if (video) {
            EXPECT_TRUE(job->outcome().failure.contains(c.stream)) << job->outcome().failure.toStdString();
            EXPECT_FALSE(QFileInfo::exists(out));
            continue;
        }
        EXPECT_EQ(clips::decodeFrameNumbers(out), range(kFirst, kLast));
        const QString notes = job->outcome().notes.join('\n');
        EXPECT_EQ(notes.contains("encoded again"), !misfit.isEmpty()) << notes.toStdString();
    }
}

}  // namespace
