// Opening a source video and the frame preview.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTimer>
#include <atomic>

#include "engine/platform/Platform.h"
#include "rules/Conversions.h"
#include "rules/InfoTexts.h"
#include "rules/MarkerRules.h"
#include "rules/OutputFormats.h"
#include "rules/OutputNames.h"
#include "window/ErrorPolicy.h"
#include "window/frmMain.h"

namespace {

// The reason an open failed, with the text the user sees.
struct OpenFailure : std::runtime_error {
    explicit OpenFailure(const QString& text) : std::runtime_error(text.toStdString()), text(text) {}
    QString text;
};

}  // namespace

void frmMain::cmdFile_Click() {
    endQuietly("cmdFile_Click: open dialog", [&] {
        FileDialogState& d = dialogs().state;
        d.FileName.clear();
        d.DialogTitle = "Open Video File";
        d.Filter = openDialogFilter();
        d.FilterIndex = 1;
        d.InitDir = openDialogFolder();
        dialogs().ShowOpen();
        if (unloaded_) return;  // closed while the dialog was up
        if (!d.FileName.isEmpty()) OpenSourceVideo(d.FileName);
    });
}

// The folder of the source opened last, else the user's video folder, else home: never the
// working folder, which start-up makes the program's.
QString frmMain::openDialogFolder() const {
    const QString candidates[] = {PrevOpenedFile.isEmpty() ? QString() : QFileInfo(PrevOpenedFile).absolutePath(),
                                  QStandardPaths::writableLocation(QStandardPaths::MoviesLocation)};
    for (const QString& folder : candidates)
        if (!folder.isEmpty() && QFileInfo(folder).isDir()) return folder;
    return QDir::homePath();
}

void frmMain::OpenSourceVideo(const QString& path) {
    const auto afterOpen = qScopeGuard([this] { sourceChanged(); });  // title, focus, full screen
    QString failure;
    try {
        // 1. Only one source is open at a time.
        if (FileLoaded) {
            FileLoaded = false;
            Timeline1->clearSource();
            VideoFileIn1->CloseFile();
        }
        // 2, 3. The source and the proposed output names.
        txtFile->setText(path);
        // Output in the source's own format keeps the source's extension.
        const QString own = sourceExtension(path);
        OutputExtensions.at(size_t(::OutputFormat::Original)) =
            own.isEmpty() ? QString::fromLatin1(formatInfo(::OutputFormat::Original).extension) : own;
        const auto [first, second] = proposeOutputNames(path, OutputExtensions.at(size_t(OutputFormat)));
        EdOutFile->setText(first);
        EdOutFile2->setText(second);
        // 4.
        for (QWidget* w : std::initializer_list<QWidget*>{SliderTimePosition1, SliderTimePosition2, cmdOutFile,
                                                          cmdOutFile2, cmdCut, cmdSplit})
            w->setEnabled(true);
        // 5, 6.
        openWithProgress(path);
        setMarker(1, 1);
        setMarker(2, 1);
        // 7, 8.
        if (!VideoFileIn1->HasVideo()) throw OpenFailure(Messages[Msg::NoVideoStream]);
        const QString videoText = videoInformation(*VideoFileIn1, Messages);
        setMarkerLastFrame(VideoFileIn1->FrameCount());
        FileLoaded = true;
        EdInfoVideo->setText(videoText);
        // 9.
        EdInfoAudio->setText(VideoFileIn1->HasAudio() ? audioInformation(*VideoFileIn1, Messages) : QString());
        // 10. The player is prepared whether or not there is audio.
        AudioPlayer->SetFormat(VideoFileIn1->AudioSampleRate(), VideoFileIn1->AudioChannels());
        AudioPlayer->ResetPlayer(0);
        // 11.
        PlayPosition[1] = 1;
        PlayPosition[2] = 1;
        StopPlayback();
        // 12.
        cmdPlayStop->setText(GetFromINI("frmMain", QString::number(Caption::Play)));
        cmdPlayStop->update();
        cmdPlayStop->setEnabled(true);
        cmbPlaySld->setEnabled(true);
        cmdPlayStop->update();
        // 13. Thumbs at the start of their strips. A one-frame source has no travel: its
        // thumbs simply rest at the strips' left edges.
        auto placeAtStart = [this](int k, PictureBox* thumb, PictureBox* strip) {
            const int32_t last = selection_.lastFrame();
            thumb->setLeft(last > 1
                               ? thumbLeft(selection_.marker(k), last, strip->Left(), strip->Width(), thumb->Width())
                               : strip->Left());
        };
        placeAtStart(1, sldThum, sldBack);
        placeAtStart(2, sldThum2, sldBack2);
        // 14, 15.
        Timer2->stop();
        picScreen->hide();
        for (QWidget* w : std::initializer_list<QWidget*>{cmdSavePictureAs, sldThum, sldThum2, cmbVideoSize})
            w->setEnabled(true);
        // 16, 17, 18.
        LabelT->setCaption(sourceSummary(*VideoFileIn1, Messages));
        ShowPreviewFrame();
        resumeNext("OpenSourceVideo: Calc_Reg", [&] { Calc_Reg(); });
        resumeNext("OpenSourceVideo: container list", [&] { fillContainerList(); });
        PrevOpenedFile = path;
        return;
    } catch (const OpenFailure& e) {
        failure = e.text;
    } catch (...) {
        failure = describeError(std::current_exception());
    }

    if (closeRequested_) return;  // the window closes as soon as the open has stopped

    // Failure: back to the idle look.
    FileLoaded = true;
    InternalMarkerChange = true;
    setMarker(1, 1);
    setMarker(2, 1);
    SliderTimePosition1_Change();
    SliderTimePosition2_Change();
    InternalMarkerChange = false;
    resumeNext("OpenSourceVideo: Calc_Reg", [&] { Calc_Reg(); });
    FileLoaded = false;
    resumeNext("OpenSourceVideo: CloseFile", [&] { VideoFileIn1->CloseFile(); });
    EdInfoVideo->setText({});
    EdInfoAudio->setText({});
    cmbContainer->clear();
    txtFile->setText(GetFromINI("frmMain", QString::number(Caption::SelectInputFile)));
    dialogs().MsgBox(failure.isEmpty() ? QStringLiteral("Loading Error") : failure, MsgButtons::Ok, MsgIcon::Critical);
    VideoView1->Clear();
    Timer2->start();
    picScreen->show();
    // Idle without a source: nothing that needs one can be used.
    for (QWidget* w : std::initializer_list<QWidget*>{cmdPlayStop, cmbPlaySld, cmdSavePictureAs, sldThum, sldThum2,
                                                      cmbVideoSize, cmdCut, cmdSplit})
        w->setEnabled(false);
    // The previous file is tried once; if that fails too, the window stays idle.
    if (!PrevOpenedFile.isEmpty() && !reopening_) {
        reopening_ = true;
        OpenSourceVideo(PrevOpenedFile);
        reopening_ = false;
    }
}

void frmMain::ShowPreviewFrame() {
    if (!FileLoaded) return;
    if (VideoFileIn1->CurrentFrame() == VideoFileIn1->FrameCount()) VideoFileIn1->SeekTime(0);
    FrameBits = VideoFileIn1->ReadVideoFrame();
    if (FrameBits.isEmpty()) {
        LabelS->setCaption(Messages[Msg::NoFrameToShow]);
        update();
        VideoView1->Clear();
        if (Playing) cmdPlayStop_Click();
        PlayPosition[PlaySlider] = 1;
    } else {
        showPosition(" ~1");
        update();
        VideoView1->ShowFrame(FrameBits);
    }
}

void frmMain::cmbVideoSize_Click() {
    // The items' texts come from the language file: one whose number does not fit ends the
    // handler quietly.
    endQuietly("cmbVideoSize_Click", [&] {
        VideoView1->SetViewSize(toInt32(leadingNumber(cmbVideoSize->currentText())));
        Skin1->SkinWindowAs(cmbVideoSize, "Button");
    });
}

void frmMain::openWithProgress(const QString& path) {
    // Opening reads the whole file for its frame index. The reader opens on a worker thread
    // while the window keeps answering, its controls locked as during a job (nothing on the
    // window's side touches the reader meanwhile: no source is loaded). When the scan takes a
    // while the window shows how far it is. Cancel, or a request to close the window, stops
    // it and the open fails (a close then closes the window).
    const uint32_t started = platform().GetTickCount();
    std::atomic<int> percent{-1};
    std::atomic<bool> stop{false};
    bool shown = false;
    opening_ = true;
    CancelRequested = false;
    QTimer progress;
    progress.setInterval(kOpenProgressIntervalMs);
    connect(&progress, &QTimer::timeout, this, [&] {
        if (closeRequested_ || CancelRequested) stop = true;
        if (percent < 0 || (!shown && tickDifference(platform().GetTickCount(), started) < kOpenProgressAfterMs))
            return;
        if (!shown) {
            shown = true;
            LabelS->setCaption(Messages[Msg::ReadingFile]);
            ProgressBar1->show();
        }
        ProgressBar1->setValue(percent);
    });
    VideoFileIn1->SetOpenProgress([&](int p) {  // on the worker
        percent = p;
        return !stop;
    });
    auto done = qScopeGuard([&] {
        resumeNext("openWithProgress: forget progress", [&] { VideoFileIn1->SetOpenProgress({}); });
        opening_ = false;
        if (shown) {
            ProgressBar1->hide();
            ProgressBar1->setValue(0);
        }
        if (closeRequested_) QTimer::singleShot(0, this, &QWidget::close);
    });
    progress.start();
    // At the window's priority: the decoders the reader starts serve the window afterwards.
    onJobWorker([&] { VideoFileIn1->OpenFile(path); }, [&] { stop = true; }, false);
}
