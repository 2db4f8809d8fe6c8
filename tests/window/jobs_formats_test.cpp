// Every output format and option, through the window's controls and a real cut.
#include "window/JobsTestSupport.h"

using namespace jobstest;

namespace {

struct FormatCase {
    const char* name;
    std::function<void(frmMain&)> choose;
    const char* container;
    const char* video;
    const char* audio;
};

void runCase(const FormatCase& c) {
    SCOPED_TRACE(c.name);
    JobWindow job;
    job.w.PartnerAppPresent = true;
    job.open(clips::get("avi_mjpeg_pcm"));
    c.choose(job.w);
    const QString ext = job.w.OutputExtensions.at(size_t(job.w.OutputFormat));
    job.chooseOutput(QStringLiteral("fmt_1.") + ext);
    job.setMarkers(11, 30);
    job.w.cmdCut_Click();
    ASSERT_EQ(job.messages(), QStringList{job.w.Messages[Msg::CutFinished]});
    const Probed p = probed(job.path("fmt_1." + ext));
    EXPECT_EQ(p.container, c.container);
    EXPECT_EQ(p.video, c.video);
    EXPECT_EQ(p.audio, c.audio);
    EXPECT_GT(clips::probeFrameCount(job.path("fmt_1." + ext)), 15);
}

}  // namespace

TEST(JobsFormats, AviWithEveryAudioOption) {
    const std::pair<const char*, const char*> options[] = {{"optPCM", "pcm_s16le"},  {"optADPCM", "adpcm_ima_wav"},
                                                           {"optULAW", "pcm_mulaw"}, {"optALAW", "pcm_alaw"},
                                                           {"optMP3", "mp3"},        {"optGSM", "gsm_ms"}};
    for (const auto& [button, codec] : options) {
        runCase({button,
                 [button = button](frmMain& w) {
                     w.findChild<QRadioButton*>(button)->setChecked(true);
                     w.setListIndex(w.cmbCnannelsAVI, 0);  // mono
                 },
                 "avi", "mpeg4", codec});
    }
}

TEST(JobsFormats, AviWithASecondCodec) {
    // The list holds the engine's codecs from the last to the first.
    runCase({"mjpeg",
             [](frmMain& w) {
                 const int motionJpeg = w.cmbAVICodecs->findText("Motion JPEG");
                 ASSERT_GE(motionJpeg, 0);
                 w.setListIndex(w.cmbAVICodecs, motionJpeg);
             },
             "avi", "mjpeg", "pcm_s16le"});
}

TEST(JobsFormats, MpegOneAndTwo) {
    runCase({"mpeg1", [](frmMain& w) { w.cmdOptMPEG_Click(); }, "mpeg", "mpeg1video", "mp2"});
    runCase({"mpeg2",
             [](frmMain& w) {
                 w.cmdOptMPEG_Click();
                 w.rbMPEG2->setChecked(true);
                 w.setListIndex(w.cmbFramerateMPEG, 2);  // 25.00
             },
             "mpeg", "mpeg2video", "mp2"});
}

TEST(JobsFormats, WmvProfile) {
    runCase({"wmv",
             [](frmMain& w) {
                 w.cmdOptWMV_Click();
                 w.setListIndex(w.cmbWMVCodecs, 2);
             },
             "asf", "wmv2", "wmav2"});
}

TEST(JobsFormats, OriginalCutsInTheSourcesOwnFormat) {
    JobWindow job;
    job.w.PartnerAppPresent = false;  // not needed for a cut in the source's format
    const clips::Clip clip = clips::get("mp4_h264_aac");
    job.open(clip);
    job.w.cmdOptOriginal_Click();
    ASSERT_EQ(job.w.OutputFormat, OutputFormat::Original);
    EXPECT_EQ(job.w.EdOutFile->text(), clip.path.chopped(4) + "_1.mp4");

    // Both markers away from the keyframes (every 24th frame), in either order; the name
    // chosen is taken, so the job writes the next free one and says so.
    job.chooseOutput("own_1.mp4");
    QFile taken(job.path("own_1.mp4"));
    ASSERT_TRUE(taken.open(QIODevice::WriteOnly));
    taken.close();
    job.setMarkers(50, 10);
    job.w.cmdCut_Click();
    const QString written = job.path("own_2.mp4");
    ASSERT_EQ(job.messages(), QStringList{job.w.Messages[Msg::CutFinished] + "\n" + QDir::toNativeSeparators(written)});
    expectWindowRestored(job.w);
    EXPECT_EQ(job.w.SliderTimePosition1->value(), 50);
    EXPECT_EQ(job.w.SliderTimePosition2->value(), 10);
    EXPECT_TRUE(job.tap->created.isEmpty());  // the writer took no part
    EXPECT_EQ(probed(written).video, "h264");
    EXPECT_EQ(probed(written).audio, "aac");
    EXPECT_EQ(clips::probeFrameCount(written), 41);
    EXPECT_EQ(clips::decodeFrameNumbers(written), range(10, 50));

    // WMV 8's edges are encoded with FFmpeg's wmv2: the cut is written in the source's format.
    job.open(clips::get("wmv_wma"));
    job.chooseOutput("wmv8_1.wmv");
    job.setMarkers(5, 30);
    job.w.cmdCut_Click();
    ASSERT_TRUE(job.w.lastJobOutcome());
    EXPECT_EQ(job.w.lastJobOutcome()->kind, JobOutcome::Kind::Finished);
    const QString message = job.messages().value(job.messages().size() - 1);
    ASSERT_TRUE(message.startsWith(job.w.Messages[Msg::CutFinished])) << message.toStdString();
    const QString wmv = job.path("wmv8_1.wmv");
    EXPECT_EQ(clips::decodeFrameNumbers(wmv), range(5, 30));
    expectWindowRestored(job.w);
}

TEST(JobsFormats, OriginalOffersTheContainersTheSourceFitsIn) {
    JobWindow job;
    const clips::Clip clip = clips::get("ts_h264_mp2");
    job.open(clip);
    job.w.cmdOptOriginal_Click();
    QStringList items;
    for (int i = 0; i < job.w.cmbContainer->count(); ++i) items << job.w.cmbContainer->itemText(i);
    EXPECT_EQ(items, QStringList({"as the source (.ts)", "MKV", "MP4", "MOV", "AVI"}));  // M2TS holds no MP2
    EXPECT_TRUE(job.w.cmbContainer->isVisible());

    // A choice rewrites both names; a name chosen in the save dialog chooses its container.
    job.w.setListIndex(job.w.cmbContainer, items.indexOf("MKV"));
    EXPECT_EQ(job.w.EdOutFile->text(), clip.path.chopped(3) + "_1.mkv");
    EXPECT_EQ(job.w.EdOutFile2->text(), clip.path.chopped(3) + "_2.mkv");
    job.chooseOutput("box_1.mp4");
    EXPECT_EQ(job.w.cmbContainer->currentText(), "MP4");
    job.w.setListIndex(job.w.cmbContainer, items.indexOf("MOV"));
    EXPECT_EQ(job.w.EdOutFile->text(), job.path("box_1.mov"));
    job.setMarkers(12, 60);
    job.w.cmdCut_Click();
    ASSERT_EQ(job.messages(), QStringList{job.w.Messages[Msg::CutFinished]});
    EXPECT_EQ(probed(job.path("box_1.mov")).container, "mov,mp4,m4a,3gp,3g2,mj2");
    EXPECT_EQ(clips::decodeFrameNumbers(job.path("box_1.mov")), range(12, 60));

    // Another source brings its own list, back on its own container.
    job.open(clips::get("webm_vp8_opus"));
    EXPECT_EQ(job.w.cmbContainer->itemText(0), "as the source (.webm)");
    EXPECT_EQ(job.w.cmbContainer->currentIndex(), 0);
    EXPECT_TRUE(job.w.EdOutFile->text().endsWith("_1.webm")) << job.w.EdOutFile->text().toStdString();
}
