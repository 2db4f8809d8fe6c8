// Batch mode: its arguments, and the program run end to end for a cut and a split.
#include "app/BatchMode.h"
#include "app/ProgramRun.h"
#include "window/JobsTestSupport.h"

using namespace jobstest;

namespace {

BatchRequest parsed(const QStringList& args) {
    auto result = parseBatchArguments(args);
    if (auto* error = std::get_if<QString>(&result)) ADD_FAILURE() << error->toStdString();
    return std::holds_alternative<BatchRequest>(result) ? std::get<BatchRequest>(result) : BatchRequest{};
}

QString parseError(const QStringList& args) {
    auto result = parseBatchArguments(args);
    return std::holds_alternative<QString>(result) ? std::get<QString>(result) : QString();
}

// The texts the window shows, in the language the program starts with.
const std::array<QString, Msg::Count>& windowMessages() {
    static const std::array<QString, Msg::Count> messages = [] {
        WindowHarness h;
        return h.window->Messages;
    }();
    return messages;
}

}  // namespace

TEST(JobsBatchArguments, ReadsACutAndASplit) {
    const BatchRequest cut = parsed({"--cut", "in.avi", "--from", "10", "--to", "30", "--out", "o.avi", "--audio",
                                     "mp3", "--quiet", "--avi-codec", "2", "--fps", "25.00", "--channels", "1"});
    EXPECT_EQ(cut.job, BatchRequest::Job::Cut);
    EXPECT_EQ(cut.source, "in.avi");
    EXPECT_EQ(cut.from, 10);
    EXPECT_EQ(cut.to, 30);
    EXPECT_EQ(cut.out1, "o.avi");
    EXPECT_EQ(cut.format, OutputFormat::Avi);
    EXPECT_EQ(cut.audio, "mp3");
    EXPECT_EQ(cut.aviCodec, 2);
    EXPECT_EQ(cut.fps, "25.00");
    EXPECT_EQ(cut.channels, 1);
    EXPECT_TRUE(cut.quiet);

    const BatchRequest split =
        parsed({"--split", "in.avi", "--at", "50", "--out1", "a.mpeg", "--out2", "b.mpeg", "--format", "mpeg",
                "--mpeg-version", "2", "--video-kbps", "1500", "--audio-kbps", "192"});
    EXPECT_EQ(split.job, BatchRequest::Job::Split);
    EXPECT_EQ(split.at, 50);
    EXPECT_EQ(split.out2, "b.mpeg");
    EXPECT_EQ(split.format, OutputFormat::Mpeg);
    EXPECT_EQ(split.mpegVersion, 2);
    EXPECT_EQ(split.videoKbps, 1500);
    EXPECT_EQ(split.audioKbps, 192);
    EXPECT_FALSE(split.quiet);
    EXPECT_EQ(parsed({"--cut", "i", "--from", "1", "--to", "2", "--out", "o", "--format", "wmv", "--wmv-profile", "0"})
                  .wmvProfile,
              0);
    EXPECT_EQ(parsed({"--split", "i", "--at", "5", "--out1", "a", "--out2", "b", "--format", "original"}).format,
              OutputFormat::Original);
    EXPECT_EQ(
        parsed({"--cut", "i", "--from", "1", "--to", "2", "--out", "o", "--format", "original", "--container", "M2TS"})
            .container,
        "m2ts");
}

TEST(JobsBatchArguments, RefusesWhatMakesNoJob) {
    const QStringList cut{"--cut", "in.avi", "--from", "10", "--to", "30", "--out", "o.avi"};
    EXPECT_FALSE(parseError({"--cut", "in.avi", "--from", "10", "--out", "o.avi"}).isEmpty());  // no --to
    EXPECT_FALSE(parseError(cut + QStringList{"--at", "5"}).isEmpty());                         // split option
    EXPECT_FALSE(parseError(cut + QStringList{"--from", "3"}).isEmpty());                       // twice
    EXPECT_FALSE(parseError(cut + QStringList{"--quiet", "--quiet"}).isEmpty());
    EXPECT_FALSE(parseError(cut + QStringList{"--format", "mov"}).isEmpty());
    EXPECT_FALSE(parseError(cut + QStringList{"--audio", "flac"}).isEmpty());
    EXPECT_FALSE(parseError(cut + QStringList{"--channels", "3"}).isEmpty());
    EXPECT_FALSE(parseError(cut + QStringList{"--avi-codec", "-1"}).isEmpty());
    EXPECT_FALSE(parseError(cut + QStringList{"--avi-codec"}).isEmpty());                              // no value
    EXPECT_FALSE(parseError(cut + QStringList{"--mpeg-version", "2"}).isEmpty());                      // not AVI
    EXPECT_FALSE(parseError(cut + QStringList{"--format", "wmv", "--fps", "25.00"}).isEmpty());        // no WMV rate
    EXPECT_FALSE(parseError(cut + QStringList{"--format", "original", "--channels", "2"}).isEmpty());  // no options
    EXPECT_FALSE(parseError(cut + QStringList{"--container", "mkv"}).isEmpty());                       // not AVI
    EXPECT_FALSE(parseError({"--cut", "in.avi", "--from", "x", "--to", "30", "--out", "o.avi"}).isEmpty());
    EXPECT_FALSE(parseError({"--split", "in.avi", "--at", "0", "--out1", "a", "--out2", "b"}).isEmpty());
}

TEST(JobsBatchProgram, CutsEndToEnd) {
    ProgramRun run;
    const QString target = run.home.path() + "/batch_1.avi";
    run.run(
        {"--cut", clips::get("avi_mjpeg_pcm").path, "--from", "12", "--to", "30", "--out", target, "--avi-codec", "2"});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString() << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(windowMessages()[19])) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("written: " + target)) << run.out.toStdString();
    // Into a pipe: a line for each tenth the bar enters, none rewritten in place.
    const qsizetype lines = run.err.count("progress: ");
    EXPECT_TRUE(lines >= 2 && lines <= 11 && !run.err.contains('\r')) << run.err.toStdString();
    EXPECT_EQ(clips::decodeFrameNumbers(target), range(12, 30));
    EXPECT_EQ(probed(target).video, "mjpeg");
}

TEST(JobsBatchProgram, SplitsEndToEnd) {
    ProgramRun run;
    run.withPartner();
    const QString first = run.home.path() + "/half_1.avi", second = run.home.path() + "/half_2.avi";
    run.run({"--split", clips::get("avi_mjpeg_pcm").path, "--at", "40", "--out1", first, "--out2", second, "--quiet"});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString() << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(windowMessages()[20])) << run.out.toStdString();
    EXPECT_FALSE(run.err.contains("progress")) << run.err.toStdString();
    EXPECT_EQ(clips::decodeFrameNumbers(first), range(1, 39));
    EXPECT_EQ(clips::decodeFrameNumbers(second), range(40, 100));
}

TEST(JobsBatchProgram, ReportsRefusalsAndBadArguments) {
    const QString source = clips::get("avi_mjpeg_pcm").path;
    {
        ProgramRun run;  // no partner application: MPEG is refused after the offer
        run.run(
            {"--cut", source, "--from", "1", "--to", "20", "--out", run.home.path() + "/m_1.mpeg", "--format", "mpeg"});
        EXPECT_EQ(run.exitCode, 3) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains("partner")) << run.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(run.home.path() + "/m_1.mpeg"));
    }
    {
        ProgramRun run;  // the split also needs it
        run.run({"--split", source, "--at", "40", "--out1", run.home.path() + "/a_1.avi", "--out2",
                 run.home.path() + "/a_2.avi"});
        EXPECT_EQ(run.exitCode, 3) << run.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(run.home.path() + "/a_1.avi"));
    }
    {
        ProgramRun run;  // the split guard: the window's refusal, and a failing exit
        run.withPartner();
        run.run({"--split", source, "--at", "3", "--out1", run.home.path() + "/a_1.avi", "--out2",
                 run.home.path() + "/a_2.avi"});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(run.out.contains(windowMessages()[0])) << run.out.toStdString();
    }
    {
        ProgramRun run;  // a frame beyond the source, a range given backwards, a list item that does not exist
        run.run({"--cut", source, "--from", "1", "--to", "101", "--out", run.home.path() + "/x_1.avi"});
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_FALSE(run.err.contains("usage:")) << run.err.toStdString();  // one line, not the usage
        EXPECT_TRUE(run.err.contains("see korvelin --help")) << run.err.toStdString();
        run.run({"--cut", source, "--from", "60", "--to", "12", "--out", run.home.path() + "/x_1.avi"});
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.err.contains("--from 60 comes after --to 12")) << run.err.toStdString();
        run.run({"--cut", source, "--from", "1", "--to", "10", "--out", run.home.path() + "/x_1.avi", "--fps", "26"});
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.err.contains("25.00")) << run.err.toStdString();
        run.run({"--cut", source, "--to", "10", "--out", run.home.path() + "/x_1.avi"});
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_FALSE(QFileInfo::exists(run.home.path() + "/x_1.avi"));
    }
    {
        ProgramRun run;  // a source that cannot be opened
        run.run({"--cut", run.home.path() + "/nothing.avi", "--from", "1", "--to", "10", "--out",
                 run.home.path() + "/y_1.avi"});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_FALSE(run.out.isEmpty());
    }
}

TEST(JobsBatchProgram, OriginalSplitsAndCutsWithEncodedEdges) {
    {
        ProgramRun run;
        run.withPartner();
        const QString first = run.home.path() + "/own_1.mp4", second = run.home.path() + "/own_2.mp4";
        run.run({"--split", clips::get("mp4_h264_aac").path, "--at", "40", "--out1", first, "--out2", second,
                 "--format", "original"});
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString() << run.out.toStdString();
        EXPECT_TRUE(run.out.contains(windowMessages()[Msg::SplitFinished])) << run.out.toStdString();
        EXPECT_EQ(probed(first).video, "h264");
        EXPECT_EQ(clips::decodeFrameNumbers(first), range(1, 39));
        EXPECT_EQ(clips::decodeFrameNumbers(second), range(40, 90));
    }
    {
        ProgramRun run;  // WMV 8 edges are encoded with FFmpeg's wmv2
        const QString target = run.home.path() + "/own_1.wmv";
        run.run({"--cut", clips::get("wmv_wma").path, "--from", "5", "--to", "30", "--out", target, "--format",
                 "original"});
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString() << run.out.toStdString();
        EXPECT_EQ(clips::decodeFrameNumbers(target), range(5, 30));
    }
    {
        ProgramRun run;  // Theora edges are encoded with libtheora
        run.withPartner();
        const QString source =
            clips::make("theora", "mkv", 320, 240, 25, 90, false, {"-c:v", "libtheora", "-g", "25"}).path;
        const QString first = run.home.path() + "/t_1.mkv", second = run.home.path() + "/t_2.mkv";
        run.run({"--split", source, "--at", "40", "--out1", first, "--out2", second, "--format", "original"});
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString() << run.out.toStdString();
        EXPECT_EQ(clips::decodeFrameNumbers(first), range(1, 39));
        EXPECT_EQ(clips::decodeFrameNumbers(second), range(40, 90));
    }
}

// The original format's container: --container, else the extension of --out. A split writes
// both files in it; sound it cannot hold is encoded again and said; a --container the source
// does not fit in, or that the name contradicts, is refused without a file.
TEST(JobsBatchProgram, OriginalWritesTheChosenContainer) {
    const clips::Clip ts = clips::get("ts_h264_mp2");
    {
        ProgramRun run;
        run.withPartner();
        const QString first = run.home.path() + "/rec_1.part", second = run.home.path() + "/rec_2.part";
        run.run({"--split", ts.path, "--at", "40", "--out1", first, "--out2", second, "--format", "original",
                 "--container", "mkv", "--quiet"});
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString() << run.out.toStdString();
        EXPECT_EQ(probed(first).container, "matroska,webm");
        EXPECT_EQ(probed(second).container, "matroska,webm");
        EXPECT_EQ(clips::decodeFrameNumbers(first), range(1, 39));
        EXPECT_EQ(clips::decodeFrameNumbers(second), range(40, ts.frames));
    }
    {
        ProgramRun run;  // FLV holds no MP2 sound
        const QString target = run.home.path() + "/rec_1.flv";
        run.run({"--cut", ts.path, "--from", "12", "--to", "60", "--out", target, "--format", "original"});
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString() << run.out.toStdString();
        EXPECT_TRUE(run.out.contains("is encoded again as MP3")) << run.out.toStdString();
        EXPECT_EQ(probed(target).video, "h264");
        EXPECT_EQ(probed(target).audio, "mp3");
        EXPECT_EQ(clips::decodeFrameNumbers(target), range(12, 60));
    }
    {
        ProgramRun run;
        const QString webm = run.home.path() + "/rec_1.webm", mp4 = run.home.path() + "/rec_1.mp4";
        const QStringList cut{"--cut", ts.path, "--from", "12", "--to", "60", "--format", "original"};
        run.run(cut + QStringList{"--out", webm, "--container", "webm"});
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.err.contains("mkv")) << run.err.toStdString();
        run.run(cut + QStringList{"--out", mp4, "--container", "mkv"});  // the name says another container
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_FALSE(QFileInfo::exists(webm) || QFileInfo::exists(mp4));
        run.run(cut + QStringList{"--out", mp4, "--container", "flv"});  // the refusal names what does not fit
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.err.contains("Sound track 1 (MP2") && run.err.contains("An FLV")) << run.err.toStdString();
        run.run(cut + QStringList{"--out", mp4, "--container", "xyz"});
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.err.contains("names no container")) << run.err.toStdString();
    }
}

// The program's own options: --help and -h print the usage to standard output, --version the
// version; an option it does not know is refused in one line.
TEST(JobsBatchProgram, HelpVersionAndUnknownOptions) {
    ProgramRun run;
    for (const char* help : {"--help", "-h"}) {
        run.run({help});
        EXPECT_EQ(run.exitCode, 0) << help;
        EXPECT_TRUE(run.out.startsWith("usage: korvelin") && run.out.contains("--cut SRC")) << run.out.toStdString();
        EXPECT_FALSE(run.err.contains("korvelin")) << run.err.toStdString();
    }
    run.run({"--version"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, QStringLiteral("korvelin " KORVELIN_VERSION "\n"));
    run.run({"--bogus"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.endsWith("korvelin: unknown option --bogus (see korvelin --help)\n")) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("usage:"));
}
