// Faults during cut and split jobs, each through the window: the output folder removed or
// made read-only, a full disk (a write limit inside the writer, and a real small filesystem
// when this machine lets the test mount one), the source deleted or cut short, Cancel in the
// first and in the last pass, Exit while a job runs; and in the source's own format, the same
// faults in each phase of a lossless cut. Every job must end with the message its situation
// calls for, leave a closed output file that ffprobe reads when it finished or was cancelled
// (none when it failed), give every control back, touch no other file and never change the
// source.
#include <linux/capability.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <QMap>
#include <QTimer>
#include <cerrno>
#include <cstring>

#include "engine/writer/FfmpegWriter.h"
#include "hardening/HostileRun.h"
#include "support/ClipCopies.h"
#include "support/ForeignClips.h"
#include "window/JobsTestSupport.h"

using namespace jobstest;

namespace {

const clips::Clip& pcmClip() {
    static const clips::Clip clip = clips::get("avi_mjpeg_pcm");  // 100 frames, 25 fps, MJPEG + PCM
    return clip;
}

// Every file of a folder with its checksum.
QMap<QString, QByteArray> folderState(const QString& folder) {
    QMap<QString, QByteArray> state;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System))
        state.insert(name, hostile::checksum(folder + "/" + name));
    return state;
}

// A job window whose source is a private copy of a clip in a folder of its own, so the test
// can see that neither the source nor anything beside it changes.
struct FaultJob {
    QTemporaryDir sourceFolder;
    clips::Clip source;
    QByteArray sourceSum;
    QMap<QString, QByteArray> sourceFolderBefore;
    JobWindow job;

    explicit FaultJob(const clips::Clip& clip = pcmClip(), bool partner = false) : source(clip) {
        source.path = copyClipTo(clip.path, sourceFolder.path() + "/source." + QFileInfo(clip.path).suffix());
        sourceSum = hostile::checksum(source.path);
        sourceFolderBefore = folderState(sourceFolder.path());
        job.open(source);
        job.w.PartnerAppPresent = partner;
    }
    frmMain& w() { return job.w; }
    QStringList messages() const { return job.messages(); }

    // The source and its folder are as they were.
    void expectSourceUntouched() const {
        EXPECT_EQ(hostile::checksum(source.path), sourceSum) << "the source changed";
        EXPECT_EQ(folderState(sourceFolder.path()), sourceFolderBefore) << "a file beside the source changed";
    }
    // The one message of a failed job: Messages(1), a blank and a readable description.
    QString expectFailureMessage() {
        const QStringList shown = messages();
        EXPECT_FALSE(shown.isEmpty());
        if (shown.isEmpty()) return {};
        const QString prefix = w().Messages[Msg::OperationFailed] + " ";
        EXPECT_TRUE(shown.last().startsWith(prefix)) << shown.join(" | ").toStdString();
        const QString description = shown.last().mid(prefix.size());
        hostile::expectReadable(description);
        return description;
    }
};

// One line per fault for the test log: what the user was told.
void logFault(const std::string& fault, const QStringList& shown) {
    std::printf("[fault] %-52s -> %s\n", fault.c_str(),
                shown.isEmpty() ? "(no message)" : qPrintable(shown.join(" | ")));
    std::fflush(stdout);
}

// ffprobe reads the file and counts this many frames.
void expectReadableOutput(const QString& path, int frames) {
    ASSERT_TRUE(QFileInfo::exists(path)) << path.toStdString();
    EXPECT_FALSE(probed(path).video.isEmpty()) << path.toStdString();
    EXPECT_EQ(clips::probeFrameCount(path), frames) << path.toStdString();
}

// Makes the test thread an ordinary user for file permissions while it lives: without this
// a test running as root could still write into a read-only folder.
class WithoutFileOverride {
public:
    WithoutFileOverride() {
        if (::syscall(SYS_capget, &header_, saved_) != 0) return;
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        changed_ = ::syscall(SYS_capset, &header_, reduced) == 0;
    }
    ~WithoutFileOverride() {
        if (changed_) ::syscall(SYS_capset, &header_, saved_);
    }

private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2]{};
    bool changed_ = false;
};

// True when nobody may create a file in the folder any more.
bool folderRefusesNewFiles(const QString& folder) {
    QFile probe(folder + "/.probe");
    if (!probe.open(QIODevice::WriteOnly)) return true;
    probe.close();
    probe.remove();
    return false;
}

}  // namespace

// ---------------------------------------------------------------- the output folder

TEST(JobFaults, OutputFolderRemovedDuringACutIsReportedNotPassedOffAsDone) {
    FaultJob f;
    const QString folder = f.job.path("outputs");
    QDir().mkpath(folder);
    f.job.harness.dialogs.fileAnswers = {{folder + "/cut.avi", 0}};
    f.w().cmdOutFile_Click();
    f.job.setMarkers(10, 60);
    f.job.tap->afterVideoFrame = [&](int n) {
        if (n == 5) {
            ASSERT_TRUE(QDir(folder).removeRecursively());
        }
    };
    f.w().cmdCut_Click();
    logFault("output folder removed during a cut", f.messages());
    const QString description = f.expectFailureMessage();
    EXPECT_TRUE(description.contains(folder + "/cut.avi")) << description.toStdString();
    EXPECT_FALSE(QFileInfo::exists(folder));
    expectWindowRestored(f.w());
    EXPECT_EQ(f.w().SliderTimePosition1->value(), 10);
    EXPECT_EQ(f.w().SliderTimePosition2->value(), 60);
    EXPECT_TRUE(f.job.outputFiles().isEmpty());
    f.expectSourceUntouched();
}

TEST(JobFaults, OutputFolderRemovedDuringASplitEndsItWithTheReason) {
    FaultJob f(pcmClip(), true);
    const QString folder = f.job.path("outputs");
    QDir().mkpath(folder);
    f.w().EdOutFile->setText(folder + "/part_1.avi");
    f.w().EdOutFile2->setText(folder + "/part_2.avi");
    f.job.setMarkers(40, 1);
    f.job.tap->afterVideoFrame = [&](int n) {
        if (n == 10 && QFileInfo::exists(folder)) {
            ASSERT_TRUE(QDir(folder).removeRecursively());
        }
    };
    f.w().cmdSplit_Click();
    logFault("output folder removed during a split", f.messages());
    // The first file was removed under the job; the second cannot be made.
    const QStringList shown = f.messages();
    ASSERT_GE(shown.size(), 1);
    EXPECT_TRUE(shown.last().startsWith(f.w().Messages[Msg::OperationFailed] + " ")) << shown.join(" | ").toStdString();
    for (const QString& text : shown) hostile::expectReadable(text);
    EXPECT_FALSE(QFileInfo::exists(folder));
    expectWindowRestored(f.w());
    f.expectSourceUntouched();
}

constexpr QFile::Permissions kReadOnlyFolder = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup;
constexpr QFile::Permissions kWritableFolder = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

// True when a read-only folder refuses new files to the test (not so on every machine).
bool readOnlyFoldersRefuse() {
    QTemporaryDir trial;
    WithoutFileOverride asUser;
    QFile::setPermissions(trial.path(), kReadOnlyFolder);
    const bool refuses = folderRefusesNewFiles(trial.path());
    QFile::setPermissions(trial.path(), kWritableFolder);
    return refuses;
}

TEST(JobFaults, OutputFolderMadeReadOnlyKeepsTheOpenFileAndRefusesTheNextOne) {
    if (!readOnlyFoldersRefuse()) GTEST_SKIP() << "this machine lets the test write into a read-only folder";
    // A cut: the file being written stays writable, so the job completes.
    {
        FaultJob f;
        WithoutFileOverride asUser;
        const QString folder = f.job.out.path();
        f.job.chooseOutput("cut.avi");
        f.job.setMarkers(10, 40);
        f.job.tap->afterVideoFrame = [&](int n) {
            if (n == 5) QFile::setPermissions(folder, kReadOnlyFolder);
        };
        f.w().cmdCut_Click();
        QFile::setPermissions(folder, kWritableFolder);
        logFault("output folder made read-only during a cut", f.messages());
        EXPECT_EQ(f.messages(), QStringList{f.w().Messages[Msg::CutFinished]});
        expectReadableOutput(f.job.path("cut.avi"), 31);
        EXPECT_EQ(f.job.outputFiles(), QStringList{"cut.avi"});
        expectWindowRestored(f.w());
        f.expectSourceUntouched();
    }
    // A split: the first file completes, the second cannot be created, the job says why. The
    // folder refuses the removal of the first file too, and the job says so.
    {
        FaultJob f(pcmClip(), true);
        WithoutFileOverride asUser;
        const QString folder = f.job.out.path();
        f.job.chooseOutput("part_1.avi", 1);
        f.job.chooseOutput("part_2.avi", 2);
        f.job.setMarkers(30, 1);
        f.job.tap->afterVideoFrame = [&](int n) {
            if (n == 5) QFile::setPermissions(folder, kReadOnlyFolder);
        };
        f.w().cmdSplit_Click();
        QFile::setPermissions(folder, kWritableFolder);
        logFault("output folder made read-only during a split", f.messages());
        const QStringList shown = f.messages();
        // One message: the job's, with the writer's reason.
        ASSERT_EQ(shown.size(), 1) << shown.join(" | ").toStdString();
        hostile::expectReadable(shown[0]);
        const QString description = f.expectFailureMessage();
        EXPECT_TRUE(description.contains("part_2.avi"));
        EXPECT_TRUE(description.contains("part_1.avi could not be removed")) << description.toStdString();
        expectReadableOutput(f.job.path("part_1.avi"), 29);
        EXPECT_EQ(f.job.outputFiles(), QStringList{"part_1.avi"});
        expectWindowRestored(f.w());
        f.expectSourceUntouched();
    }
}

// ---------------------------------------------------------------- a full disk

// A failed job leaves none of its files: a split whose second file fills the disk removes
// its first.
TEST(JobFaults, AFullDiskInsideTheWriterEndsTheJobWithoutAFile) {
    for (const int at : {0, 90, 20}) {  // a cut of 5..95; a split whose first, or second, file fills the disk
        const bool split = at > 0;
        SCOPED_TRACE(split ? "split at " + std::to_string(at) : "cut");
        FaultJob f(pcmClip(), split);
        // The writer's own file writes start failing after 600 kB, as on a full disk.
        auto* writer = dynamic_cast<FfmpegWriter*>(f.job.tap->inner.get());
        ASSERT_NE(writer, nullptr);
        writer->setWriteLimitForTesting(600 * 1024);
        f.job.chooseOutput("full_1.avi", 1);
        f.job.chooseOutput("full_2.avi", 2);
        f.job.setMarkers(split ? at : 5, 95);
        split ? f.w().cmdSplit_Click() : f.w().cmdCut_Click();
        logFault(std::string("write failure (full disk) inside the writer during a ") + (split ? "split" : "cut"),
                 f.messages());
        const QString description = f.expectFailureMessage();
        EXPECT_TRUE(description.contains("No space left on device")) << description.toStdString();
        EXPECT_EQ(f.job.tap->created.size(), at == 20 ? 2 : 1);
        EXPECT_EQ(f.job.outputFiles(), QStringList{});
        expectWindowRestored(f.w());
        f.expectSourceUntouched();
    }
}

// A small filesystem of its own for the test while it lives, when this machine lets it mount one.
struct SmallFilesystem {
    QTemporaryDir mountPoint;
    QString failure;  // why none could be mounted
    explicit SmallFilesystem(const char* size) {
        const QByteArray options = QByteArray("size=") + size + ",mode=0777";
        if (::mount("tmpfs", QFile::encodeName(mountPoint.path()).constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                    options.constData()) != 0)
            failure = QString::fromLocal8Bit(std::strerror(errno));
    }
    ~SmallFilesystem() {
        if (failure.isEmpty()) ::umount2(QFile::encodeName(mountPoint.path()).constData(), MNT_DETACH);
    }
    bool mounted() const { return failure.isEmpty(); }
};

TEST(JobFaults, AFullSmallFilesystemEndsTheJobWithoutAFile) {
    SmallFilesystem disk("400k");
    if (!disk.mounted())
        GTEST_SKIP() << "this machine does not let the test mount a small filesystem (" << disk.failure.toStdString()
                     << ")";
    const QTemporaryDir& mountPoint = disk.mountPoint;

    FaultJob f;
    const QString target = mountPoint.path() + "/cut.avi";
    f.job.harness.dialogs.fileAnswers = {{target, 0}};
    f.w().cmdOutFile_Click();
    f.job.setMarkers(1, 100);  // about 1 MB: more than the filesystem holds
    f.w().cmdCut_Click();
    logFault("full 400 kB filesystem during a cut", f.messages());
    const QString description = f.expectFailureMessage();
    EXPECT_TRUE(description.contains("No space left on device")) << description.toStdString();
    EXPECT_EQ(QDir(mountPoint.path()).entryList(QDir::Files), QStringList{});
    expectWindowRestored(f.w());
    f.expectSourceUntouched();
    // With its room back, the next job runs normally.
    f.job.harness.dialogs.shownMessages.clear();
    f.job.setMarkers(1, 20);
    f.w().cmdCut_Click();
    EXPECT_EQ(f.messages(), QStringList{f.w().Messages[Msg::CutFinished]});
    expectReadableOutput(target, 20);
}

// ---------------------------------------------------------------- the source goes away

TEST(JobFaults, SourceDeletedDuringAJobIsStillReadThroughTheOpenFile) {
    for (const bool split : {false, true}) {
        SCOPED_TRACE(split ? "split" : "cut");
        FaultJob f(pcmClip(), split);
        f.job.chooseOutput("out_1.avi", 1);
        f.job.chooseOutput("out_2.avi", 2);
        f.job.setMarkers(split ? 50 : 10, 60);
        f.job.tap->afterVideoFrame = [&](int n) {
            if (n == 5 && QFileInfo::exists(f.source.path)) {
                ASSERT_TRUE(QFile::remove(f.source.path));
            }
        };
        split ? f.w().cmdSplit_Click() : f.w().cmdCut_Click();
        logFault(std::string("source deleted during a ") + (split ? "split" : "cut"), f.messages());
        // The reader holds the file open, so the job reads it to the end.
        EXPECT_EQ(f.messages(), QStringList{f.w().Messages[split ? 20 : 19]});
        if (split) {
            expectReadableOutput(f.job.path("out_1.avi"), 49);
            expectReadableOutput(f.job.path("out_2.avi"), 51);
        } else {
            expectReadableOutput(f.job.path("out_1.avi"), 51);
        }
        expectWindowRestored(f.w());
        EXPECT_FALSE(QFileInfo::exists(f.source.path));
        EXPECT_TRUE(folderState(f.sourceFolder.path()).isEmpty()) << "a file appeared beside the source";
    }
}

TEST(JobFaults, SourceCutShortDuringAJobEndsReadably) {
    for (const bool split : {false, true}) {
        SCOPED_TRACE(split ? "split" : "cut");
        FaultJob f(pcmClip(), split);
        f.job.chooseOutput("out_1.avi", 1);
        f.job.chooseOutput("out_2.avi", 2);
        f.job.setMarkers(split ? 30 : 10, 90);
        const qint64 size = QFileInfo(f.source.path).size();
        f.job.tap->afterVideoFrame = [&](int n) {
            if (n == 5 && QFileInfo(f.source.path).size() == size) {
                ASSERT_TRUE(QFile::resize(f.source.path, size / 3));
            }
        };
        split ? f.w().cmdSplit_Click() : f.w().cmdCut_Click();
        // Frames past the new end cannot be read: the job either stops with the reason and
        // leaves no file, or finishes with what could be read in closed, readable files.
        const QStringList shown = f.messages();
        ASSERT_FALSE(shown.isEmpty());
        const bool failed = shown.last().startsWith(f.w().Messages[Msg::OperationFailed] + " ");
        if (failed) {
            f.expectFailureMessage();
            EXPECT_EQ(f.job.outputFiles(), QStringList{});
        } else {
            EXPECT_EQ(shown, QStringList{f.w().Messages[split ? 20 : 19]});
        }
        logFault(std::string("source cut short during a ") + (split ? "split" : "cut"), shown);
        for (const QString& name : f.job.outputFiles()) {
            EXPECT_TRUE(name == "out_1.avi" || name == "out_2.avi") << name.toStdString();
            EXPECT_GT(clips::probeFrameCount(f.job.path(name)), 0) << name.toStdString();
        }
        expectWindowRestored(f.w());
        // The window still works: the next open is of a whole file.
        f.job.harness.dialogs.shownMessages.clear();
        f.w().OpenSourceVideo(pcmClip().path);
        EXPECT_TRUE(f.w().FileLoaded);
        EXPECT_EQ(clips::frameNumberOf(f.w().FrameBits), 1);
    }
}

// ---------------------------------------------------------------- Cancel

TEST(JobFaults, CancelInTheFirstAndInTheLastPassOfACut) {
    for (const bool lastPass : {false, true}) {
        SCOPED_TRACE(lastPass ? "last pass" : "first pass");
        FaultJob f;
        f.job.chooseOutput("cut.avi");
        f.job.setMarkers(61, 20);  // marker 2 before marker 1: the range is 20..61
        const int frames = 42;
        f.job.tap->afterVideoFrame = [&](int n) {
            if (n == (lastPass ? frames : 1)) f.w().cmdCancel->click();
        };
        f.w().cmdCut_Click();
        logFault(std::string("Cancel in the ") + (lastPass ? "last" : "first") + " pass of a cut", f.messages());
        EXPECT_EQ(f.messages(), QStringList{f.w().Messages[Msg::JobCancelled]});
        expectReadableOutput(f.job.path("cut.avi"), lastPass ? frames : 1);
        EXPECT_EQ(f.job.outputFiles(), QStringList{"cut.avi"});
        EXPECT_EQ(f.w().SliderTimePosition1->value(), 61);
        EXPECT_EQ(f.w().SliderTimePosition2->value(), 20);
        expectWindowRestored(f.w());
        f.expectSourceUntouched();
    }
}

TEST(JobFaults, CancelInTheFirstAndLastPassesOfASplit) {
    // Split at 40: the first file holds frames 1-39, the second 40-100.
    struct Moment {
        const char* label;
        int file;             // 1 or 2
        int frame;            // of that file
        QList<int> expected;  // frames in each file written
    };
    for (const Moment& m : {Moment{"first pass", 1, 1, {1}}, Moment{"first pass of the second file", 2, 1, {39, 1}},
                            Moment{"last pass", 2, 61, {39, 61}}}) {
        SCOPED_TRACE(m.label);
        FaultJob f(pcmClip(), true);
        f.job.chooseOutput("part_1.avi", 1);
        f.job.chooseOutput("part_2.avi", 2);
        f.job.setMarkers(40, 77);
        f.job.tap->afterVideoFrame = [&](int n) {
            if (f.job.tap->created.size() == m.file && n == m.frame) f.w().cmdCancel->click();
        };
        f.w().cmdSplit_Click();
        logFault(std::string("Cancel in the ") + m.label + " of a split", f.messages());
        EXPECT_EQ(f.messages(), QStringList{f.w().Messages[Msg::JobCancelled]});
        expectReadableOutput(f.job.path("part_1.avi"), m.expected[0]);
        if (m.expected.size() > 1) expectReadableOutput(f.job.path("part_2.avi"), m.expected[1]);
        EXPECT_EQ(f.job.outputFiles().size(), m.expected.size());
        EXPECT_EQ(f.w().SliderTimePosition1->value(), 40);
        EXPECT_EQ(f.w().SliderTimePosition2->value(), 77);
        expectWindowRestored(f.w());
        f.expectSourceUntouched();
    }
}

// ---------------------------------------------------------------- Exit

TEST(JobFaults, ExitDuringACutOrASplitClosesTheOutputFiles) {
    for (const bool split : {false, true}) {
        SCOPED_TRACE(split ? "split" : "cut");
        FaultJob f(pcmClip(), split);
        f.job.chooseOutput("out_1.avi", 1);
        f.job.chooseOutput("out_2.avi", 2);
        f.job.setMarkers(split ? 20 : 30, 70);
        int filesStarted = 0;
        f.job.tap->afterVideoFrame = [&](int n) {
            filesStarted = int(f.job.tap->created.size());
            // Exit arrives through the message loop, during the job's yield.
            if (filesStarted == (split ? 2 : 1) && n == 6)
                QTimer::singleShot(0, &f.w(), [&] { f.w().cmdExit_Click(); });
        };
        split ? f.w().cmdSplit_Click() : f.w().cmdCut_Click();  // returns once the window has shut down
        logFault(std::string("Exit during a ") + (split ? "split" : "cut"), f.messages());
        EXPECT_TRUE(f.w().unloaded());
        EXPECT_GE(f.job.harness.programEnds, 1);
        EXPECT_TRUE(f.messages().isEmpty()) << f.messages().join(" | ").toStdString();
        if (split) {
            expectReadableOutput(f.job.path("out_1.avi"), 19);
            expectReadableOutput(f.job.path("out_2.avi"), 6);
        } else {
            expectReadableOutput(f.job.path("out_1.avi"), 6);
        }
        f.expectSourceUntouched();
    }
}

// ---------------------------------------------------------------- the source's own format

// Frames 12-82 of a clip with B-frames and keyframes at 1, 26 or 28, 51 or 52 and 76, cut in
// the source's own format: the head piece (to the first keyframe) is encoded, the whole groups
// are copied, the tail piece (from frame 76) is encoded. The progress bar tells the phase: the
// head ends below 20 %, the copy's first pass ends near 86 %, the tail starts at 90 %.
struct OriginalFault {
    const char* label;
    int atPercent;  // the fault comes when the progress bar (frames written) first shows this much; -1: before the cut
    std::function<void(FaultJob&, const QString& output)> fault;
    JobOutcome::Kind outcome;  // Running: the window was closed during the job
    int minFrames, maxFrames;  // the output holds frames 12, 13, ... this many; 0: no file is left
    enum Needs { Nothing, ReadOnlyFolders, SmallFilesystem } needs = Nothing;
    // The source. The MJPEG AVI is larger than the demuxers' read buffers: cut short during the
    // job, it lacks packets the job has still to read.
    const char* clip = "gst_x264_mp4";
};

TEST(JobFaults, FaultsDuringACutInTheSourcesOwnFormat) {
    using Kind = JobOutcome::Kind;
    const auto cancel = [](FaultJob& f, const QString&) { f.w().cmdCancel->click(); };
    const auto readOnly = [](FaultJob&, const QString& out) {
        QFile::setPermissions(QFileInfo(out).path(), kReadOnlyFolder);
    };
    const auto removeOutput = [](FaultJob&, const QString& out) { ASSERT_TRUE(QFile::remove(out)); };
    const auto removeSource = [](FaultJob& f, const QString&) { ASSERT_TRUE(QFile::remove(f.source.path)); };
    const auto cutSource = [](FaultJob& f, const QString&) {
        ASSERT_TRUE(QFile::resize(f.source.path, QFileInfo(f.source.path).size() / 3));
    };
    const auto exit = [](FaultJob& f, const QString&) {
        QTimer::singleShot(0, &f.w(), [&f] { f.w().cmdExit_Click(); });
    };
    const OriginalFault faults[] = {
        {"Cancel while the head piece is encoded", 5, cancel, Kind::Cancelled, 1, 14},
        {"Cancel during the packet copy", 20, cancel, Kind::Cancelled, 14, 64},
        // The tail encodes beside the copy: it may be complete when the cancel comes.
        {"Cancel while the tail piece is encoded", 90, cancel, Kind::Cancelled, 64, 71},
        {"output folder made read-only", 5, readOnly, Kind::Finished, 71, 71, OriginalFault::ReadOnlyFolders},
        {"output removed during the job", 5, removeOutput, Kind::Failed, 0, 0},
        {"source deleted after opening", -1, removeSource, Kind::Finished, 71, 71},
        {"source deleted during the job", 5, removeSource, Kind::Finished, 71, 71},
        {"source cut short after opening", -1, cutSource, Kind::Failed, 0, 0},
        {"source cut short during the job", 5, cutSource, Kind::Failed, 0, 0, OriginalFault::Nothing, "avi_mjpeg_pcm"},
        // The MP4 file's index comes last: what reached the disk cannot be read, and goes.
        {"full 32 kB filesystem", -1, {}, Kind::Failed, 0, 0, OriginalFault::SmallFilesystem},
        // The job runs on its own thread: the copy of so short a range may be complete when the
        // window's exit reaches it, so the file holds a readable part or the whole range.
        {"Exit during the packet copy", 20, exit, Kind::Running, 14, 71},
    };
    const bool readOnlyFolders = readOnlyFoldersRefuse();
    SmallFilesystem disk("32k");
    for (const OriginalFault& c : faults) {
        SCOPED_TRACE(c.label);
        if ((c.needs == OriginalFault::ReadOnlyFolders && !readOnlyFolders) ||
            (c.needs == OriginalFault::SmallFilesystem && !disk.mounted())) {
            logFault(std::string("original format: ") + c.label, {"(not possible on this machine)"});
            continue;
        }
        const bool sourceFault = QByteArray(c.label).startsWith("source");
        FaultJob f(clips::foreignClipNames().contains(c.clip) ? clips::foreign(c.clip) : clips::get(c.clip));
        WithoutFileOverride asUser;
        f.w().cmdOptOriginal_Click();
        const QString folder = c.needs == OriginalFault::SmallFilesystem ? disk.mountPoint.path() : f.job.out.path();
        const QString out = folder + "/cut." + QFileInfo(f.source.path).suffix();
        f.job.harness.dialogs.fileAnswers = {{out, 0}};
        f.w().cmdOutFile_Click();
        f.job.setMarkers(12, 82);
        bool struck = !c.fault;
        const auto strike = [&] {
            struck = true;
            c.fault(f, out);
        };
        if (c.atPercent < 0 && !struck) strike();
        QObject::connect(f.w().ProgressBar1, &QProgressBar::valueChanged, [&](int percent) {
            if (!struck && percent >= c.atPercent) strike();
        });
        f.w().cmdCut_Click();
        QFile::setPermissions(folder, kWritableFolder);
        logFault(std::string("original format: ") + c.label, f.messages());
        EXPECT_TRUE(struck);
        if (c.outcome == Kind::Running) {
            EXPECT_TRUE(f.w().unloaded());
            EXPECT_TRUE(f.messages().isEmpty()) << f.messages().join(" | ").toStdString();
        } else {
            ASSERT_TRUE(f.w().lastJobOutcome());
            EXPECT_EQ(int(f.w().lastJobOutcome()->kind), int(c.outcome)) << f.messages().join(" | ").toStdString();
            if (c.outcome == Kind::Failed) {
                EXPECT_TRUE(f.expectFailureMessage().contains(sourceFault ? f.source.path : out));
            } else {
                EXPECT_EQ(
                    f.messages(),
                    QStringList{f.w().Messages[c.outcome == Kind::Finished ? Msg::CutFinished : Msg::JobCancelled]});
            }
            expectWindowRestored(f.w());
        }
        // The output is the one file in its folder, holding a run of the range from its start,
        // or nothing is left.
        const QStringList left = QDir(folder).entryList(QDir::Files | QDir::Hidden);
        EXPECT_TRUE(left.isEmpty() || left == QStringList{QFileInfo(out).fileName()}) << left.join(", ").toStdString();
        const QList<int> frames = left.isEmpty() ? QList<int>{} : clips::decodeFrameNumbers(out);
        EXPECT_EQ(frames, range(12, 11 + int(frames.size())));
        EXPECT_GE(frames.size(), c.minFrames);
        EXPECT_LE(frames.size(), c.maxFrames);
        if (c.maxFrames == 0) {
            EXPECT_TRUE(left.isEmpty());
        }
        if (!sourceFault) f.expectSourceUntouched();
        QFile::remove(out);
    }
}
