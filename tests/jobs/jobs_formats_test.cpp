// Every output format and option, through the window's controls and a real cut.
#include "jobs/JobsTestSupport.h"

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
