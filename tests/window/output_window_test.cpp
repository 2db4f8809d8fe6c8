// Output format, output names and the writer configuration, on a real window. The writer
// here records what the window asks of it, so each control's mapping is checked exactly.
#include <gtest/gtest.h>
#include <QFile>
#include <QTemporaryDir>

#include "settings/IniReader.h"
#include "support/StubSource.h"
#include "support/WindowHarness.h"

namespace {

// A source as the writer configuration reads it.
class FakeSource : public StubSource {
public:
    bool audio = true;
    int32_t rate = 44100;
    bool HasVideo() const override { return true; }
    bool HasAudio() const override { return audio; }
    int32_t FrameWidth() const override { return 320; }
    int32_t FrameHeight() const override { return 240; }
    double FrameRate() const override { return 25; }
    int32_t AudioSampleRate() const override { return rate; }
    int32_t AudioChannels() const override { return audio ? 2 : 0; }
};

// Records every call; `failOn` makes the named operation throw.
class RecordingWriter : public VideoSink {
public:
    QStringList calls;
    QString failOn;
    int32_t codec = 0, profile = 0;

    void SetHasVideo(bool on) override { log("SetHasVideo", {on}); }
    void SetHasAudio(bool on) override { log("SetHasAudio", {on}); }
    void SetVideoFormat(int32_t w, int32_t h, double fps) override { log("SetVideoFormat", {w, h, fps}); }
    void SetAudioFormat(int32_t r, int32_t c) override { log("SetAudioFormat", {r, c}); }
    void SetAviVideo(int32_t w, int32_t h, double fps) override { log("SetAviVideo", {w, h, fps}); }
    void SetAudioPCM(int32_t r, int32_t c, int32_t b) override { log("SetAudioPCM", {r, c, b}); }
    void SetAudioADPCM(int32_t r, int32_t c) override { log("SetAudioADPCM", {r, c}); }
    void SetAudioALaw(int32_t r, int32_t c) override { log("SetAudioALaw", {r, c}); }
    void SetAudioMuLaw(int32_t r, int32_t c) override { log("SetAudioMuLaw", {r, c}); }
    void SetAudioGSM(int32_t r) override { log("SetAudioGSM", {r}); }
    void SetAudioMP3(int32_t k, int32_t r, int32_t c) override { log("SetAudioMP3", {k, r, c}); }
    void SetMpegVideo(int32_t v, int32_t k, int32_t w, int32_t h, double fps) override {
        log("SetMpegVideo", {v, k, w, h, fps});
    }
    void SetMpegAudio(int32_t k, int32_t r, int32_t c) override { log("SetMpegAudio", {k, r, c}); }
    int32_t VideoCodecCount() const override { return 3; }
    void SetVideoCodec(int32_t i) override {
        log("SetVideoCodec", {i});
        codec = i;
    }
    int32_t VideoCodec() const override { return codec; }
    QString VideoCodecName() const override { return QStringLiteral("Codec %1").arg(codec); }
    CodecCapabilities VideoCodecCapabilities() const override { return {}; }
    CodecSettings VideoCodecSettings() const override {
        if (failOn == "VideoCodecSettings") throw MediaError("VideoCodecSettings failed");
        return {};
    }
    void SetVideoCodecSettings(const CodecSettings&) override { log("SetVideoCodecSettings", {}); }
    bool HasVideo() const override { return true; }
    bool HasAudio() const override { return true; }
    void WriteVideoFrame(const FrameData&) override { log("WriteVideoFrame", {}); }
    void WriteAudio(const AudioChunk&) override { log("WriteAudio", {}); }
    void CloseFile() override { log("CloseFile", {}); }
    int32_t WmvProfileCount() const override { return 5; }
    void SetWmvProfile(int32_t i) override {
        log("SetWmvProfile", {i});
        profile = i;
    }
    int32_t WmvProfile() const override { return profile; }
    QString WmvProfileName() const override { return QStringLiteral("Profile %1").arg(profile); }
    void CreateFile(const QString& path, int32_t container) override { log("CreateFile", {path, container}); }

private:
    void log(const QString& op, const QVariantList& args) {
        if (op == failOn) throw MediaError(op + " failed");
        QStringList texts;
        for (const QVariant& a : args) texts << a.toString();
        calls << op + "(" + texts.join(",") + ")";
    }
};

struct OutputWindow {
    FakeSource* source = nullptr;
    RecordingWriter* writer = nullptr;
    WindowHarness harness{true, [this](WindowServices& s) {
                              s.makeReader = [this] {
                                  auto r = std::make_unique<FakeSource>();
                                  source = r.get();
                                  return r;
                              };
                              s.makeWriter = [this] {
                                  auto w = std::make_unique<RecordingWriter>();
                                  writer = w.get();
                                  return w;
                              };
                          }};
    frmMain& w = *harness.window;
    QTemporaryDir dir;

    std::optional<QString> failure;  // what the last configuration reported

    // The writer calls one configuration makes, for a file in the private folder.
    QStringList configure(const QString& name = "a_1.avi") {
        writer->calls.clear();
        QString path = dir.path() + "/" + name;
        failure = w.ConfigureOutputWriter(path, w.OutputFormat);
        return writer->calls;
    }
    QString created(const QString& name, int container) const {
        return QStringLiteral("CreateFile(%1/%2,%3)").arg(dir.path(), name).arg(container);
    }
};

const QStringList kSourceLayout{"SetVideoFormat(320,240,25)", "SetAudioFormat(44100,2)", "SetHasVideo(true)",
                                "SetHasAudio(true)"};

}  // namespace

TEST(OutputFormat, ConvertToShowsTheFormatsFramesAndMarksItsButton) {
    OutputWindow o;
    frmMain& w = o.w;
    const std::vector<std::vector<QWidget*>> frames{{w.FrameOptAudioAvi, w.FrameOptVideoAvi},
                                                    {w.FrameOptAudioMpeg, w.FrameOptVideoMpeg, w.FrameOptVersionMpeg},
                                                    {w.FrameOptVideoWMV},
                                                    {w.FrameOptOriginal}};
    const QPushButton* buttons[] = {w.cmdOptAVI, w.cmdOptMPEG, w.cmdOptWMV, w.cmdOptOriginal};
    for (int ind : {1, 3, 2, 0, 2}) {
        w.ConvertTo(OutputFormat(ind));
        EXPECT_EQ(int(w.OutputFormat), ind);
        for (int f = 0; f < 4; ++f) {
            for (QWidget* frame : frames[f])
                EXPECT_EQ(!frame->isHidden(), f == ind) << frame->objectName().toStdString();
            EXPECT_EQ(buttons[f]->font().bold(), f == ind);
        }
    }
}

TEST(OutputFormat, ConvertToRewritesTheExtensionOfBothNames) {
    OutputWindow o;
    frmMain& w = o.w;
    // The initial text has no dot: only frames and buttons change.
    w.ConvertTo(OutputFormat::Mpeg);
    EXPECT_EQ(w.EdOutFile->text(), "Select Output Video File");
    EXPECT_EQ(w.EdOutFile2->text(), "Select Output Video File");

    w.EdOutFile->setText("/data/avi/x_1.avi");
    w.EdOutFile2->setText("/data/avi/x_2.avi");
    w.ConvertTo(OutputFormat::Wmv);
    EXPECT_EQ(w.EdOutFile->text(), "/data/avi/x_1.wmv");
    EXPECT_EQ(w.EdOutFile2->text(), "/data/avi/x_2.wmv");
    w.ConvertTo(OutputFormat::Wmv);  // the current format again changes nothing
    EXPECT_EQ(w.EdOutFile->text(), "/data/avi/x_1.wmv");
    w.ConvertTo(OutputFormat::Mpeg);
    w.ConvertTo(OutputFormat::Avi);
    EXPECT_EQ(w.EdOutFile->text(), "/data/avi/x_1.avi");
    EXPECT_EQ(w.EdOutFile2->text(), "/data/avi/x_2.avi");

    // A dot in a folder is not an extension; a second name of another extension stays.
    w.EdOutFile->setText("/v.1/x_1.avi");
    w.EdOutFile2->setText("/v.1/x_2.mpeg");
    w.ConvertTo(OutputFormat::Wmv);
    EXPECT_EQ(w.EdOutFile->text(), "/v.1/x_1.wmv");
    EXPECT_EQ(w.EdOutFile2->text(), "/v.1/x_2.mpeg");
}

TEST(OutputFormat, MpegAndWmvNeedThePartnerApplication) {
    OutputWindow o;
    frmMain& w = o.w;
    w.EdOutFile->setText("/c/a_1.avi");
    w.PartnerAppPresent = false;
    w.cmdOptMPEG_Click();  // the offer is declined
    w.cmdOptWMV_Click();
    EXPECT_EQ(w.OutputFormat, OutputFormat::Avi);
    EXPECT_EQ(w.EdOutFile->text(), "/c/a_1.avi");
    EXPECT_FALSE(w.FrameOptVideoAvi->isHidden());
    EXPECT_EQ(o.harness.programEnds, 0);

    w.PartnerAppPresent = true;
    w.cmdOptWMV_Click();
    EXPECT_EQ(w.OutputFormat, OutputFormat::Wmv);
    EXPECT_EQ(w.EdOutFile->text(), "/c/a_1.wmv");
    w.cmdOptMPEG_Click();
    EXPECT_EQ(w.OutputFormat, OutputFormat::Mpeg);
    w.cmdOptAVI_Click();
    EXPECT_EQ(w.OutputFormat, OutputFormat::Avi);
}

TEST(OutputFormat, OriginalKeepsTheSourcesExtensionAndNeedsNoWriter) {
    OutputWindow o;
    frmMain& w = o.w;
    w.PartnerAppPresent = false;
    w.OpenSourceVideo("/data/take.two.MOV");
    ASSERT_TRUE(w.FileLoaded);
    EXPECT_EQ(w.EdOutFile->text(), "/data/take_1.avi");

    // Its skin tab chooses it without the partner application's offer.
    auto* tab = qobject_cast<QPushButton*>(w.Skin1->skinButton("originalbutton"));
    ASSERT_TRUE(tab);
    EXPECT_EQ(tab->text(), readIniText(w.CurLangPath, "frmMain", "32"));
    o.harness.dialogs.shownMessages.clear();
    tab->click();
    EXPECT_EQ(w.OutputFormat, OutputFormat::Original);
    EXPECT_TRUE(o.harness.messages().isEmpty());
    EXPECT_TRUE(tab->property("chosen").toBool());
    EXPECT_EQ(w.EdOutFile->text(), "/data/take_1.MOV");
    EXPECT_EQ(w.EdOutFile2->text(), "/data/take_2.MOV");
    EXPECT_FALSE(w.FrameOptOriginal->isHidden());
    EXPECT_EQ(w.lblOriginalFormat->caption(), readIniText(w.CurLangPath, "frmMain", "34"));

    // The save dialog's chosen entry is the source's own extension.
    w.cmdOutFile_Click();
    const FileDialogState shown = o.harness.dialogs.shownFileDialogs.last();
    EXPECT_EQ(shown.FilterIndex, 6);
    EXPECT_TRUE(shown.Filter.endsWith("|" + tab->text() + " (*.MOV)|*.MOV|")) << shown.Filter.toStdString();

    // The writer is left alone: only the first free name is chosen, the job creates the file.
    QFile taken(o.dir.path() + "/t_1.MOV");
    ASSERT_TRUE(taken.open(QIODevice::WriteOnly));
    o.writer->calls.clear();
    QString path = o.dir.path() + "/t_1.MOV";
    EXPECT_EQ(w.ConfigureOutputWriter(path, OutputFormat::Original), std::nullopt);
    EXPECT_EQ(path, o.dir.path() + "/t_2.MOV");
    EXPECT_TRUE(o.writer->calls.isEmpty()) << o.writer->calls.join(' ').toStdString();

    // The next source brings its own extension; one without any gets Matroska's.
    w.OpenSourceVideo("/data/clip.webm");
    EXPECT_EQ(w.EdOutFile->text(), "/data/clip_1.webm");
    w.OpenSourceVideo("/data/v.1/recording");
    EXPECT_EQ(w.EdOutFile2->text(), "/data/v.1/recording_2.mkv");
}

TEST(OutputFormat, SaveDialogsStoreTheChosenNameUnchanged) {
    OutputWindow o;
    frmMain& w = o.w;
    w.PartnerAppPresent = true;
    w.cmdOptMPEG_Click();
    w.EdOutFile->setText("/c/old_1.mpeg");
    o.harness.dialogs.fileAnswers = {{"/out/film.avi", 2}};
    w.cmdOutFile_Click();
    const FileDialogState shown = o.harness.dialogs.shownFileDialogs.last();
    EXPECT_EQ(shown.DialogTitle, "Select Output Video File");
    EXPECT_EQ(shown.FileName, "/c/old_1.mpeg");
    EXPECT_EQ(shown.Flags, 2);
    EXPECT_EQ(shown.FilterIndex, 3);  // the MPEG entry
    EXPECT_TRUE(shown.Filter.startsWith("All Movie Files |*.avi;*.mpg;*.mpeg;*.wmv;*.wma;*.asf;*.mov;*.qt|"));
    EXPECT_EQ(w.EdOutFile->text(), "/out/film.avi");
    EXPECT_EQ(w.OutputFormat, OutputFormat::Mpeg);
    EXPECT_TRUE(w.cmdCut->isEnabled());

    // Cancel keeps the name; the second name has its own box and job button.
    w.cmdOutFile_Click();
    EXPECT_EQ(w.EdOutFile->text(), "/out/film.avi");
    EXPECT_FALSE(w.cmdSplit->isEnabled());
    o.harness.dialogs.fileAnswers = {{"/out/second.mpeg", 0}};
    w.cmdOutFile2_Click();
    EXPECT_EQ(w.EdOutFile2->text(), "/out/second.mpeg");
    EXPECT_TRUE(w.cmdSplit->isEnabled());
}

TEST(OutputWriter, EngineListsRunFromTheLastItem) {
    OutputWindow o;
    frmMain& w = o.w;
    ASSERT_EQ(w.cmbAVICodecs->count(), 3);
    EXPECT_EQ(w.cmbAVICodecs->itemText(0), "Codec 3");
    EXPECT_EQ(w.cmbAVICodecs->itemText(2), "Codec 1");
    EXPECT_EQ(w.cmbAVICodecs->currentIndex(), 0);
    EXPECT_EQ(o.writer->codec, 3);  // start-up chose list position 0
    w.setListIndex(w.cmbAVICodecs, 2);
    EXPECT_EQ(o.writer->codec, 1);

    ASSERT_EQ(w.cmbWMVCodecs->count(), 5);
    EXPECT_EQ(w.cmbWMVCodecs->itemText(0), "Profile 5");
    w.PartnerAppPresent = true;
    w.cmdOptWMV_Click();
    EXPECT_TRUE(o.configure("a_1.wmv").contains("SetWmvProfile(5)"));
    w.setListIndex(w.cmbWMVCodecs, 4);
    EXPECT_EQ(o.configure("a_1.wmv"), (kSourceLayout + QStringList{"SetWmvProfile(1)", o.created("a_1.wmv", 3)}));
}

TEST(OutputWriter, AviSettingsFollowTheControls) {
    OutputWindow o;
    frmMain& w = o.w;
    w.setListIndex(w.cmbFramerateAVI, 6);  // 29.97
    w.setListIndex(w.cmbCnannelsAVI, 0);   // mono
    const std::pair<QRadioButton*, QString> options[] = {
        {w.optPCM, "SetAudioPCM(44100,1,16)"}, {w.optALAW, "SetAudioALaw(44100,1)"},
        {w.optULAW, "SetAudioMuLaw(44100,1)"}, {w.optMP3, "SetAudioMP3(128,44100,1)"},
        {w.optGSM, "SetAudioGSM(44100)"},      {w.optADPCM, "SetAudioADPCM(44100,1)"}};
    for (const auto& [button, call] : options) {
        button->setChecked(true);
        EXPECT_EQ(o.configure(),
                  (kSourceLayout + QStringList{call, "SetAviVideo(320,240,29.97)", o.created("a_1.avi", 1)}));
    }
    // A source without sound still gets the audio call, with the rate it reports.
    o.source->audio = false;
    o.source->rate = 0;
    w.optPCM->setChecked(true);
    EXPECT_EQ(o.configure(),
              (QStringList{"SetVideoFormat(320,240,25)", "SetHasVideo(true)", "SetHasAudio(false)",
                           "SetAudioPCM(0,1,16)", "SetAviVideo(320,240,29.97)", o.created("a_1.avi", 1)}));
}

TEST(OutputWriter, MpegSettingsFollowTheControls) {
    OutputWindow o;
    frmMain& w = o.w;
    w.PartnerAppPresent = true;
    w.cmdOptMPEG_Click();
    EXPECT_EQ(o.configure("m.mpeg"),
              (kSourceLayout +
               QStringList{"SetMpegVideo(1,1150,320,240,29.97)", "SetMpegAudio(128,44100,2)", o.created("m.mpeg", 2)}));
    w.rbMPEG2->setChecked(true);
    w.setListIndex(w.cmbVideoBitrateMPEG, 4);
    w.setListIndex(w.cmbAudioBitrateMPEG, 13);
    w.setListIndex(w.cmbFramerateMPEG, 0);
    w.setListIndex(w.cmbCnannelsMPEG, 0);
    EXPECT_EQ(o.configure("m.mpeg"),
              (kSourceLayout +
               QStringList{"SetMpegVideo(2,2376,320,240,23.97)", "SetMpegAudio(384,44100,1)", o.created("m.mpeg", 2)}));
}

TEST(OutputWriter, ExistingFilesGiveTheNextFreeName) {
    OutputWindow o;
    for (const char* name : {"a_1.avi", "a_2.avi"}) {
        QFile f(o.dir.path() + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    EXPECT_EQ(o.configure("a_1.avi").last(), o.created("a_3.avi", 1));
    EXPECT_EQ(o.configure("a_9.avi").last(), o.created("a_9.avi", 1));
    // A dangling link takes its name too.
    ASSERT_TRUE(QFile::link(o.dir.path() + "/nowhere/x.avi", o.dir.path() + "/b_1.avi"));
    EXPECT_EQ(o.configure("b_1.avi").last(), o.created("b_2.avi", 1));
}

TEST(OutputWriter, FailuresAreReportedAndTheWindowGoesOn) {
    OutputWindow o;
    frmMain& w = o.w;
    o.writer->failOn = "SetAviVideo";
    const QStringList calls = o.configure();
    EXPECT_FALSE(calls.join(' ').contains("CreateFile"));
    EXPECT_EQ(o.failure, "SetAviVideo failed");

    // A name without an extension cannot be stepped to a free name.
    o.writer->failOn.clear();
    QFile f(o.dir.path() + "/noext");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    EXPECT_FALSE(o.configure("noext").join(' ').contains("CreateFile"));
    ASSERT_TRUE(o.failure);
    EXPECT_FALSE(o.failure->isEmpty());

    // The codec list and the configure button report an engine failure and go on.
    const auto before = o.harness.messages().size();
    o.writer->failOn = "SetVideoCodec";
    w.setListIndex(w.cmbAVICodecs, 1);
    o.writer->failOn = "VideoCodecSettings";
    w.btnConfigureVideoCodec_Click();
    ASSERT_EQ(o.harness.messages().size(), before + 2);
    EXPECT_EQ(o.harness.messages().mid(before), (QStringList{"SetVideoCodec failed", "VideoCodecSettings failed"}));
    EXPECT_EQ(o.harness.programEnds, 0);
}
