#pragma once
// The main window: every control, every piece of run-time state and every handler. The
// handlers live in src/window/, one file per subsystem (frmMain_open, frmMain_markers,
// frmMain_jobs, ...); this header is the window's table of contents.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHash>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "engine/audio/AudioPlayer.h"
#include "engine/common/VideoSink.h"
#include "engine/common/VideoSource.h"
#include "engine/image/ImageFile.h"
#include "engine/platform/Dialogs.h"
#include "engine/skin/Skin.h"
#include "engine/view/VideoView.h"
#include "jobs/CopyJob.h"
#include "jobs/OriginalJob.h"
#include "rules/OutputFormats.h"
#include "rules/PieceList.h"
#include "rules/Selection.h"
#include "rules/TextKeys.h"
#include "settings/CRegister.h"
#include "window/Controls.h"
#include "window/SingleInstance.h"
#include "window/TimelineStrip.h"

#include "window/frmAbout.h"

// What the window is built from. Every member has a working default; tests replace the
// ones they need to observe or to make fail.
struct WindowServices {
    std::function<std::unique_ptr<VideoSource>()> makeReader;
    std::function<std::unique_ptr<VideoSink>()> makeWriter;
    std::function<std::unique_ptr<ImageFile>()> makeImageFile;
    std::function<std::unique_ptr<::AudioPlayer>()> makeAudioPlayer;
    // The shared file dialog and message boxes; null = Qt dialogs owned by the window.
    Dialogs* dialogs = nullptr;
    // Ends the program (after Form_Unload, or directly from the partner offer).
    std::function<void()> endProgram;
    // Whether another copy of the program runs (checked and locked by Form_Load).
    std::function<bool()> anotherCopyRunning;
    // Show the splash at start-up (off in tests so no extra window appears).
    bool showSplash = true;
    // Fill the timeline strip (thumbnails, waveform, black and silent marks) for each source;
    // off where no one sees the window (batch mode), so its work does not slow the job.
    bool fillTimeline = true;
};

// Marks the marker changes made while it lives as the program's own (InternalMarkerChange), so
// the change handler does not move the reader; the flag is put back when it ends.
class MarkerChangeGuard {
public:
    explicit MarkerChangeGuard(bool& flag) : flag_(flag), previous_(flag) { flag_ = true; }
    ~MarkerChangeGuard() { flag_ = previous_; }
    MarkerChangeGuard(const MarkerChangeGuard&) = delete;
    MarkerChangeGuard& operator=(const MarkerChangeGuard&) = delete;

private:
    bool& flag_;
    bool previous_;
};

class JobThread;

class frmMain : public QWidget {
    Q_OBJECT
public:
    explicit frmMain(WindowServices services = {});
    ~frmMain() override;

    // Start-up; false when the program must end at once (another copy runs).
    bool Form_Load();
    void Form_Unload();
    bool unloaded() const { return unloaded_; }
    bool opening() const { return opening_; }  // a source's index scan is under way
    void Form_Paint();

    // ---------------- controls (objectName = the control's name) ----------------
    // top level
    QGroupBox* FrameInputFile{};
    QGroupBox* FrameCutEditor{};
    QGroupBox* FrameOutputFile{};
    QGroupBox* FrameOP{};
    QGroupBox* FrameVideoInfo{};
    QGroupBox* FrameConvertTo{};
    QGroupBox* Frame1{};
    QGroupBox* Frame2{};
    QProgressBar* ProgressBar1{};
    QTimer* Timer2{};
    QListWidget* File1{};
    Skin* Skin1{};
    Splash* Splash1{};
    // FrameInputFile
    QLineEdit* txtFile{};
    QPushButton* cmdFile{};
    // FrameCutEditor
    VideoView* VideoView1{};
    PictureBox* picScreen{};
    SkinLabel* SkinLabel1{};
    QComboBox* cmbVideoSize{};
    QGroupBox* Frame4{};
    QGroupBox* Frame5{};
    PictureBox* sldBack{};
    PictureBox* sldThum{};
    QPushButton* cmdPrevFrame{};
    QPushButton* cmdNextFrame{};
    PictureBox* sldBack2{};
    PictureBox* sldThum2{};
    QPushButton* cmdPrevFrame2{};
    QPushButton* cmdNextFrame2{};
    PictureBox* lblreg{};
    QSlider* SliderTimePosition1{};
    QSlider* SliderTimePosition2{};
    TimelineStrip* Timeline1{};  // thumbnails, waveform, key-frame ticks, range; under the marker strips
    QTimer* Timer1{};
    // Frame4, Frame5
    QPushButton* cmdSavePictureAs{};
    SkinLabel* LabelS{};
    SkinLabel* LabelT{};
    SkinLabel* lblSldNo{};
    QComboBox* cmbPlaySld{};
    // picScreen
    PictureBox* lblLogo{};
    LineControl* Line1{};
    LineControl* Line2{};
    // FrameOutputFile
    QLineEdit* EdOutFile{};
    QPushButton* cmdOutFile{};
    QLineEdit* EdOutFile2{};
    QPushButton* cmdOutFile2{};
    // FrameOP
    QPushButton* cmdPlayStop{};
    QPushButton* cmdCut{};
    QPushButton* cmdSplit{};
    QPushButton* cmdCancel{};
    // FrameVideoInfo
    SkinLabel* lblVideoInfo{};
    TextBox* EdInfoVideo{};
    SkinLabel* lblAudioInfo{};
    TextBox* EdInfoAudio{};
    // FrameConvertTo
    QPushButton* cmdOptAVI{};
    QPushButton* cmdOptMPEG{};
    QPushButton* cmdOptWMV{};
    QPushButton* cmdOptOriginal{};
    QGroupBox* FrameOptVideoAvi{};
    SkinLabel* lblFrameRate2{};
    QComboBox* cmbFramerateAVI{};
    SkinLabel* lblAVICodec{};
    QPushButton* btnConfigureVideoCodec{};
    QComboBox* cmbAVICodecs{};
    QGroupBox* FrameOptAudioAvi{};
    QRadioButton* optPCM{};
    QRadioButton* optADPCM{};
    QRadioButton* optULAW{};
    QRadioButton* optMP3{};
    QRadioButton* optALAW{};
    QRadioButton* optGSM{};
    SkinLabel* lblChannels2{};
    QComboBox* cmbCnannelsAVI{};
    QGroupBox* FrameOptVersionMpeg{};
    QRadioButton* rbMPEG1{};
    QRadioButton* rbMPEG2{};
    QGroupBox* FrameOptVideoMpeg{};
    SkinLabel* lblFrameRate{};
    QComboBox* cmbFramerateMPEG{};
    SkinLabel* lblVideoBitrate{};
    QComboBox* cmbVideoBitrateMPEG{};
    QGroupBox* FrameOptAudioMpeg{};
    SkinLabel* lblChannels{};
    QComboBox* cmbCnannelsMPEG{};
    SkinLabel* lblAudioBitrate{};
    QComboBox* cmbAudioBitrateMPEG{};
    QGroupBox* FrameOptVideoWMV{};
    QComboBox* cmbWMVCodecs{};
    QGroupBox* FrameOptOriginal{};  // the source's own format: one line of explanation, the container
    SkinLabel* lblOriginalFormat{};
    SkinLabel* lblContainer{};
    QComboBox* cmbContainer{};  // item data: the container's extension, "" for the source's own
    // Frame1, Frame2
    SkinLabel* lblLang{};
    QComboBox* LstLang{};
    QPushButton* cmdHelp{};
    QPushButton* cmdExit{};
    // FramePieces: the piece list (frmMain_pieces)
    QGroupBox* FramePieces{};
    QListWidget* lstPieces{};
    QPushButton* cmdAddPiece{};
    QPushButton* cmdRemovePiece{};
    QPushButton* cmdPieceUp{};
    QPushButton* cmdPieceDown{};
    QPushButton* cmdClearPieces{};
    QRadioButton* optKeepPieces{};
    QRadioButton* optRemovePieces{};

    // ---------------- state ----------------
    QString CurLang;
    QString CurLangPath;
    bool MoveShape = false;
    bool MoveShape2 = false;
    QString PrevOpenedFile;
    std::unique_ptr<VideoSink> VideoFileOut;
    std::unique_ptr<VideoSource> VideoFileIn1;
    std::unique_ptr<::AudioPlayer> AudioPlayer;
    bool FileLoaded = false;
    FrameData FrameBits;
    bool InternalMarkerChange = false;
    int32_t CutStartValue = 0;
    int32_t CutEndValue = 0;
    // The extension of output names per format; Original's follows the source opened last.
    std::array<QString, kOutputFormats.size()> OutputExtensions;
    ::OutputFormat OutputFormat = ::OutputFormat::Avi;
    std::unique_ptr<CRegister> Registry;
    std::array<QString, Msg::Count> Messages;
    bool Playing = false;
    std::array<int32_t, 3> PlayPosition{};
    int16_t PlaySlider = 0;
    int32_t PlayStartTick = 0;
    bool NoAudioDevice = false;
    bool PartnerAppPresent = false;

    // The shared file dialog and message boxes.
    Dialogs& dialogs() { return *dialogs_; }
    // The marked range: the two markers the sliders SliderTimePosition1 and 2 show.
    const Selection& selection() const { return selection_; }

    // ---------------- app: shell, skin, About, logo ----------------
    void cmdExit_Click();
    void Skin1_ElementClick(const SkinElement& element);
    void Timer2_Timer();
    // Chooses a list item from code; like a user's choice it runs the list's click handler.
    void setListIndex(QComboBox* list, int index);
    frmAbout* aboutBox() const { return about_; }

    // ---------------- settings: languages and captions ----------------
    void LstLang_Click();
    QString GetFromINI(const QString& Hd, const QString& ID);

    // ---------------- source: open, preview, playback, save frame ----------------
    void cmdFile_Click();
    void OpenSourceVideo(const QString& path);
    void ShowPreviewFrame();
    void cmdPlayStop_Click();
    void StopPlayback();
    void Timer1_Timer();
    void AudioPlayer_EndArrayPlay();
    void cmdSavePictureAs_Click();

    // ---------------- timeline: markers, stepping, thumbs, band ----------------
    void cmdPrevFrame_Click();
    void cmdNextFrame_Click();
    void cmdPrevFrame2_Click();
    void cmdNextFrame2_Click();
    void sldThum_MouseDown(int button, int shift, float x, float y);
    void sldThum_MouseMove(int button, int shift, float x, float y);
    void sldThum_MouseUp(int button, int shift, float x, float y);
    void sldThum2_MouseDown(int button, int shift, float x, float y);
    void sldThum2_MouseMove(int button, int shift, float x, float y);
    void sldThum2_MouseUp(int button, int shift, float x, float y);
    // The marker playback drives (1 or 2, as chosen under Using Slider #).
    int drivenMarker() const;
    // Moves the driven marker to `frame` and shows that frame (the timeline strip and its keys).
    void moveDrivenMarker(int32_t frame);

    // ---------------- output: format, names, writer configuration ----------------
    void ConvertTo(::OutputFormat Ind);
    void cmdOptAVI_Click();
    void cmdOptMPEG_Click();
    void cmdOptWMV_Click();
    void cmdOptOriginal_Click();
    // Chooses a format as its button does (a format that needs the partner application
    // offers it first).
    void chooseOutputFormat(::OutputFormat format);
    void cmdOutFile_Click();
    void cmdOutFile2_Click();
    // The Original format's container: the names' extension follows the choice.
    void cmbContainer_Click();
    // The containers the open source's streams fit in as they are, the source's own first.
    void fillContainerList();
    // The extension of the container chosen for the Original format; empty for the source's own.
    QString chosenContainer() const;
    // The open source's own extension (the Original format's when the source has none).
    QString sourceContainerExtension() const;
    // Chooses the list item the output name's extension names (see containerChoiceForName).
    void followNameWithContainer(const QString& name);
    // Rewrites the extension of both output names to the current format's.
    void rewriteOutputExtensions();
    // Sets the output writer up for `format` and creates the file at the first free
    // name from `path` (path becomes that name). Returns the reason when it fails. Original
    // is not written by the writer: only the free name is chosen; its job creates the file.
    std::optional<QString> ConfigureOutputWriter(QString& path, ::OutputFormat format);
    void btnConfigureVideoCodec_Click();

    // ---------------- jobs: cut and split ----------------
    void cmdCut_Click();
    void cmdSplit_Click();
    // How the last cut or split ended (none before the first).
    const std::optional<JobOutcome>& lastJobOutcome() const { return lastJobOutcome_; }

    // ---------------- pieces: several ranges of the source in one cut ----------------
    void cmdAddPiece_Click();  // the markers' range as a new piece at the end of the list
    void cmdRemovePiece_Click();
    void cmdPieceUp_Click();
    void cmdPieceDown_Click();
    void cmdClearPieces_Click();
    void lstPieces_Click(int row);  // selects the piece and moves the markers to it
    const PieceList& pieces() const { return pieces_; }
    // Replaces the list (batch mode's --keep and --remove); it is checked when the cut starts.
    void setPieceList(const PieceList& list);

    // ---------------- frmMain_desktop: keys, drop, full-screen preview, title, help ----------------
    // The full-screen window while the preview is in it, else null.
    QWidget* previewFullScreenWindow() const { return previewStage_; }
    // Whether the desktop is being asked for a help viewer (F1, the skin's Help).
    bool helpLookupRunning() const { return helpLookup_ != nullptr; }
    // How many times the window has painted itself: a job's turns hold the window's repaints
    // back only once the repaint they asked for has happened.
    int64_t paintCount() const { return paintCount_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // ---------------- used only by the window's own handlers ----------------
    // controls
    QList<QIcon> Imgl;
    // state
    std::unique_ptr<ImageFile> ImageFile1;
    int16_t MoveShapeXOld = 0;
    int16_t MoveShapeXOld2 = 0;
    bool CancelRequested = false;
    int16_t LogoStep = 1;
    // app
    void SkinForm(QWidget* frm);
    void cmdHelp_Click();  // the About procedure
    void showAbout(bool skinWholeWindow);
    void cmbFramerateAVI_Click();
    void cmbCnannelsAVI_Click();
    void cmbFramerateMPEG_Click();
    void cmbVideoBitrateMPEG_Click();
    void cmbCnannelsMPEG_Click();
    void cmbAudioBitrateMPEG_Click();
    void cmbWMVCodecs_Click();
    void cmbPlaySld_Click();
    // settings
    void Load_Language();
    // Key `key` of `section` ("frmMain" or "MSGX") through GetFromINI; a key added after the
    // first language files falls back to the English file's text when the language lacks it.
    QString languageText(const QString& section, int key);
    void SetCaption();
    // source
    // An open that takes longer than this shows its progress.
    static constexpr int32_t kOpenProgressAfterMs = 500;
    static constexpr int kOpenProgressIntervalMs = 50;  // how often the window looks at the scan
    void cmbVideoSize_Click();
    void StartPlayback();
    // Playback's first pictures are decoded: the pre-read sound starts, and with it the clock.
    void startSoundAndClock();
    static constexpr int32_t kFramesReadyAtStart = 3;  // decoded beyond the first when it starts
    void AudioPlayer_EndPlay();
    void RefillAudioBuffer();
    // timeline
    void SliderTimePosition1_Change();
    void SliderTimePosition2_Change();
    void Calc_Reg();
    // output
    void FillEngineLists();
    void cmbAVICodecs_Click();
    // jobs
    void cmdCancel_Click();
    // partner
    bool CHKPANDO();
    // frmMain_desktop
    // The help: kvl.chm with the desktop's CHM viewer, else its HTML pages in the browser, else a
    // message saying where the pages are.
    void openHelp();
    // A later start of the program asked for `path` (empty: only to come to the front): the
    // window comes to the front and opens it as a drop would.
    void anotherStartAsked(const QString& path);
    // The preview alone on the whole screen, aspect kept; the window keeps working behind it.
    void showPreviewFullScreen();
    void leavePreviewFullScreen();
    void updateWindowTitle();

    void buildControls();
    void fillAviCodecList();
    void fillWmvProfileList();
    bool acquireInstanceLock();
    // Timer ticks and audio events have no caller to report to: a failure inside one stops
    // playback cleanly and leaves the window usable instead of ending the program.
    template <typename F>
    void guardedTick(F&& handler) {
        try {
            handler();
        } catch (...) {
            recoverFromTickFailure();
        }
    }
    void recoverFromTickFailure();
    // The last guard of every event handler that reaches the engine: no exception leaves it
    // into Qt's event loop. A failure is reported in a message box and the window stays usable.
    template <typename F>
    void guardedHandler(F&& handler) noexcept {
        try {
            handler();
        } catch (...) {
            reportHandlerFailure(std::current_exception());
        }
    }
    void reportHandlerFailure(std::exception_ptr error) noexcept;
    void connectHandlers();
    void PlaceFrames();
    void centreOnScreen();
    void endProgram();
    // The pixels the window grew by for the timeline strip.
    static constexpr int kTimelineRoom = TimelineStrip::kStripHeight + 6;
    // The strip follows the open source: its background work starts or stops.
    void timelineSourceChanged();
    // Marker change handler shared by both markers (k = 1 or 2).
    void markerChanged(int k);
    void thumbMouseDown(int k, float x);
    void thumbMouseMove(int k, int button, int shift, float x);
    void thumbMouseUp(int k);
    void stepMarker(int k, int direction);
    // The slider that shows marker k.
    QSlider* sliderOf(int k) const { return k == 1 ? SliderTimePosition1 : SliderTimePosition2; }
    // Moves marker k in the selection and shows it on its slider; a changed value runs the
    // marker's change handler.
    void setMarker(int k, int32_t frame);
    // The markers' last frame (the source's frame count), in the selection and on both sliders.
    void setMarkerLastFrame(int32_t lastFrame);
    // The markers' position text, ending in " ~1" or " ~2" for the marker that moved last;
    // showPosition puts it in LabelS and keeps the ending, which a language change shows again.
    QString positionLabel(const QString& ending) const;
    void showPosition(const QString& ending);
    QString positionEnding_ = QStringLiteral(" ~1");
    int64_t paintCount_ = 0;
    void showOutputSaveDialog(QLineEdit* edit, QPushButton* jobButton);
    // The button that chooses a format and the frames of its options.
    QPushButton* formatButton(::OutputFormat format) const;
    std::vector<QGroupBox*> formatOptionFrames(::OutputFormat format) const;
    class JobControlsLock;
    // The output of file `part` of a job in `format`, at the first free name from its text
    // box, recorded in jobOutputs_. Throws MediaError when it cannot be set up.
    QString claimJobOutput(int part, ::OutputFormat format);
    CopyJob::OpenOutput outputOpener();
    OriginalJob::OutputPath originalOutputPath();
    // The cut or split job of the chosen format.
    std::unique_ptr<Job> makeCutJob(int32_t startMarker, int32_t endMarker);
    std::unique_ptr<Job> makeSplitJob(int32_t splitFrame);
    // The cut of the piece list's ranges in the chosen format; null (after a message naming
    // them) when pieces overlap or leave nothing to write.
    std::unique_ptr<Job> makePiecesJob();
    // Runs `work` on a worker thread (below the window's priority unless told otherwise), the
    // window locked and its event loop turning meanwhile; `cancel` is called when the window
    // closes during it.
    void onJobWorker(const std::function<void()>& work, const std::function<void()>& cancel, bool belowWindow = true);
    bool startJob(Job& job);      // Job::start on the job's worker thread
    bool runJobPasses(Job& job);  // false when the window was closed during the job
    // The reader a job reads the source with (see jobReader_).
    VideoSource& jobReader();
    std::unique_ptr<VideoSource> jobReader_;  // a running job's own reader of the opened source
    JobThread* runningJob_ = nullptr;         // the worker of the running job, else null
    void reportJobOutcome(const JobOutcome& outcome, int finishedMessage);
    // The files of the running or last job: the name in the text box and the name written.
    struct JobOutput {
        QString chosen;
        QString written;
    };
    std::vector<JobOutput> jobOutputs_;
    Selection selection_;
    // frmMain_pieces.cpp
    PieceList pieces_;
    bool showingPieces_ = false;  // the list widget is being refilled: its signals are not the user's
    void buildPieceControls();
    void showPieces();
    void showPieceBands();
    void showPieceButtons();  // which of the list's buttons can act now
    void setPieceCaptions(const std::function<QString(int)>& caption);
    // Gives each button whose caption is wider than the button a font small enough to show it whole.
    void fitButtonCaptions();
    void piecesSourceChanged();
    // frmMain_desktop.cpp
    void setUpDesktop();
    void sourceChanged();  // after every OpenSourceVideo, whichever way it ended
    bool runKeyCommand(int command);
    // Where a move key takes the driven marker from frame `now`.
    int32_t keyMoveTarget(int command, int32_t now, int32_t last, double fps) const;
    void updateKeyTooltips();

    WindowServices services_;
    QHash<QComboBox*, void (frmMain::*)()> clickHandlers_;
    std::unique_ptr<Dialogs> ownDialogs_;
    Dialogs* dialogs_ = nullptr;
    std::unique_ptr<SingleInstance> instance_;  // the lock of the one running copy
    QString handedOverSource_;                  // a later start's file, waiting for the open button
    QTimer* handOverRetry_ = nullptr;
    QThread* helpLookup_ = nullptr;  // asks the desktop for a help viewer; owned, null when idle
    void openHandedOverSource();
    QPointer<frmAbout> about_;
    bool unloaded_ = false;
    bool reopening_ = false;
    bool opening_ = false;         // the reader is reading a file for its index
    bool closeRequested_ = false;  // the window was closed during an open
    // Playback started, its first picture still being decoded: the sound read ahead waits.
    bool soundStartsWithPicture_ = false;
    std::vector<AudioChunk> soundWaiting_;
    void openWithProgress(const QString& path);
    QString openDialogFolder() const;
    int lastPictureFormat_ = 1;  // the frame dialog's filter index of the last picture saved
    std::optional<JobOutcome> lastJobOutcome_;
    QPointer<QWidget> previewStage_;  // the full-screen window holding VideoView1
    QRect previewPlace_;              // VideoView1's place in the window while full screen
    QRect timelinePlace_;             // Timeline1's place in the window while full screen
};
