// The main window's controls, start-up, shut-down and the application-shell handlers.
#include "window/frmMain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QScreen>
#include <optional>
#include <stdexcept>

#include "engine/platform/Platform.h"
#include "rules/Conversions.h"
#include "settings/AppSettings.h"
#include "settings/Regg.h"
#include "window/EngineFactory.h"
#include "window/JobThread.h"
#include "window/ErrorPolicy.h"
#include "window/frmAbout.h"

namespace {

const QColor kWindowColor(123, 126, 196);  // &H00C47E7B
const QColor kLightBlue(192, 192, 255);    // &H00FFC0C0
const QColor kLightGrey(224, 224, 224);

template <typename T, typename... Args>
T* control(QWidget* parent, const char* name, Args&&... args) {
    T* w = new T(std::forward<Args>(args)..., parent);
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

QGroupBox* frame(QWidget* parent, const char* name, const QString& caption, int l, int t, int w, int h) {
    auto* box = control<QGroupBox>(parent, name, caption);
    placeTwips(box, l, t, w, h);
    return box;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption, int l, int t, int w, int h) {
    auto* b = control<QPushButton>(parent, name, caption);
    placeTwips(b, l, t, w, h);
    b->setAutoDefault(false);
    return b;
}

SkinLabel* label(QWidget* parent, const char* name, const QString& caption, int l, int t, int w, int h) {
    auto* b = control<SkinLabel>(parent, name, caption);
    placeTwips(b, l, t, w, h);
    return b;
}

QComboBox* list(QWidget* parent, const char* name, const QStringList& items, int l, int t, int w, int h,
                const QColor& background = QColor()) {
    auto* c = control<QComboBox>(parent, name);
    c->setEditable(false);
    c->addItems(items);
    c->setCurrentIndex(-1);  // a list starts without a chosen item; start-up chooses it
    placeTwips(c, l, t, w, h);
    if (background.isValid()) {
        QPalette p = c->palette();
        p.setColor(QPalette::Base, background);
        p.setColor(QPalette::Button, background);
        c->setPalette(p);
    }
    return c;
}

QRadioButton* option(QWidget* parent, const char* name, const QString& caption, int l, int t, int w, int h) {
    auto* r = control<QRadioButton>(parent, name, caption);
    placeTwips(r, l, t, w, h);
    return r;
}

QLineEdit* textBox(QWidget* parent, const char* name, const QString& text, int l, int t, int w, int h) {
    auto* e = control<QLineEdit>(parent, name, text);
    placeTwips(e, l, t, w, h);
    e->setEnabled(false);  // display only
    e->setCursorPosition(0);
    return e;
}

PictureBox* pictureBox(QWidget* parent, const char* name, int l, int t, int w, int h) {
    auto* p = control<PictureBox>(parent, name);
    p->setTwipGeometry(l, t, w, h);
    return p;
}

QSlider* markerSlider(QWidget* parent, const char* name, int l, int t, int w, int h) {
    auto* s = control<QSlider>(parent, name, Qt::Horizontal);
    s->setRange(1, 100);
    placeTwips(s, l, t, w, h);
    s->hide();
    return s;
}

}  // namespace

frmMain::frmMain(WindowServices services) : services_(std::move(services)) {
    if (!services_.makeReader) services_.makeReader = createVideoFileReader;
    if (!services_.makeWriter) services_.makeWriter = createVideoFileWriter;
    if (!services_.makeImageFile) services_.makeImageFile = [] { return std::make_unique<ImageFile>(); };
    if (!services_.makeAudioPlayer) services_.makeAudioPlayer = [] { return std::make_unique<::AudioPlayer>(); };
    if (services_.dialogs) {
        dialogs_ = services_.dialogs;
    } else {
        ownDialogs_ = std::make_unique<QtDialogs>(this);
        dialogs_ = ownDialogs_.get();
    }
    buildControls();
    connectHandlers();
    setUpDesktop();
}

frmMain::~frmMain() {
    if (about_) delete about_;
    // A help lookup still asking the desktop ends first: it is short, and the window is gone.
    if (helpLookup_) {
        helpLookup_->wait();
        delete helpLookup_;
    }
}

void frmMain::buildControls() {
    setObjectName("frmMain");
    setWindowTitle("Korvelin");
    setFixedSize(884, 553 + kTimelineRoom);  // the piece list's frame on the right
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kWindowColor);
    setPalette(pal);
    setAutoFillBackground(true);
    const QIcon icon(platform().programFolder() + "/korvelin.png");
    if (!icon.isNull()) setWindowIcon(icon);

    // Top-level frames keep their stored sizes; start-up gives them their places (pixels).
    FrameInputFile = frame(this, "FrameInputFile", {}, 0, 0, 6435, 555);
    FrameCutEditor = frame(this, "FrameCutEditor", {}, 75, 645, 6585, 4245 + kTimelineRoom * 15);
    FrameOutputFile = frame(this, "FrameOutputFile", {}, 120, 4920, 6435, 870);
    FrameOP = frame(this, "FrameOP", {}, 840, 6120, 5775, 615);
    FrameVideoInfo = frame(this, "FrameVideoInfo", {}, 6870, 0, 3000, 3060);
    FrameConvertTo = frame(this, "FrameConvertTo", {}, 6840, 3360, 3180, 3045);
    Frame1 = frame(this, "Frame1", {}, 6720, 6420, 2775, 465);
    Frame2 = frame(this, "Frame2", {}, 30, 6105, 765, 990);
    Frame2->hide();
    ProgressBar1 = control<QProgressBar>(this, "ProgressBar1");
    placeTwips(ProgressBar1, 900, 6930, 5595, 240);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->hide();
    Timer2 = control<QTimer>(this, "Timer2");
    Timer2->setInterval(25);
    File1 = control<QListWidget>(this, "File1");
    placeTwips(File1, 4770, 7440, 225, 675);
    File1->hide();
    Skin1 = control<Skin>(this, "Skin1");

    // FrameInputFile
    txtFile = textBox(FrameInputFile, "txtFile", "Select Input Video File", 120, 170, 4995, 315);
    cmdFile = button(FrameInputFile, "cmdFile", "...", 5160, 170, 1200, 340);

    // FrameCutEditor
    VideoView1 = control<VideoView>(FrameCutEditor, "VideoView1");
    placeTwips(VideoView1, 90, 225, 4620, 3330);
    picScreen = pictureBox(FrameCutEditor, "picScreen", 105, 225, 4590, 3315);
    picScreen->setPicture(QPixmap(platform().programFolder() + "/picscreen.png"));
    SkinLabel1 = label(FrameCutEditor, "SkinLabel1", "Preview Type", 4800, 120, 1755, 465);
    cmbVideoSize = list(FrameCutEditor, "cmbVideoSize", {"0  Shrink To Fit", "1", "2", "3", "4", "5", "6", "7"}, 4830,
                        330, 1715, 315, Qt::white);
    cmbVideoSize->setEnabled(false);
    Frame4 = frame(FrameCutEditor, "Frame4", {}, 4800, 600, 1755, 1155);
    Frame5 = frame(FrameCutEditor, "Frame5", {}, 4800, 1800, 1755, 1785);
    sldBack = pictureBox(FrameCutEditor, "sldBack", 240, 3720, 6060, 195);
    sldThum = pictureBox(FrameCutEditor, "sldThum", 240, 3720, 375, 185);
    sldThum->setEnabled(false);
    cmdPrevFrame = button(FrameCutEditor, "cmdPrevFrame", {}, 60, 3720, 200, 195);
    cmdNextFrame = button(FrameCutEditor, "cmdNextFrame", {}, 6300, 3720, 200, 195);
    sldBack2 = pictureBox(FrameCutEditor, "sldBack2", 225, 4005, 6060, 195);
    sldThum2 = pictureBox(FrameCutEditor, "sldThum2", 240, 4000, 375, 180);
    sldThum2->setEnabled(false);
    cmdPrevFrame2 = button(FrameCutEditor, "cmdPrevFrame2", {}, 60, 4000, 200, 195);
    cmdNextFrame2 = button(FrameCutEditor, "cmdNextFrame2", {}, 6300, 4000, 200, 195);
    lblreg = pictureBox(FrameCutEditor, "lblreg", 300, 4080, 15, 75);
    lblreg->setStyleSheet("background-color: #f28c28; border: none;");  // the range a cut writes
    SliderTimePosition1 = markerSlider(FrameCutEditor, "SliderTimePosition1", -1320, 2010, 5655, 255);
    SliderTimePosition2 = markerSlider(FrameCutEditor, "SliderTimePosition2", -1320, 2430, 5655, 255);
    Timer1 = control<QTimer>(this, "Timer1");
    Timer1->setInterval(500);
    // The timeline strip under the marker strips, as wide as they are.
    Timeline1 = new TimelineStrip(FrameCutEditor);
    Timeline1->setGeometry(twipsToPixels(240), twipsToPixels(4245), twipsToPixels(6060), TimelineStrip::kStripHeight);
    // The thumbs sit above their strips and the band above everything but the thumbs.
    lblreg->raise();
    sldThum->raise();
    sldThum2->raise();
    picScreen->raise();

    // Frame4, Frame5
    cmdSavePictureAs = button(Frame4, "cmdSavePictureAs", "Save Frame", 60, 750, 1650, 335);
    cmdSavePictureAs->setEnabled(false);
    // The marker and source texts use their frame's whole width, so that every language's words
    // and frame numbers of five digits fit; the playback marker's caption takes two lines.
    LabelS = label(Frame4, "LabelS", {}, 60, 120, 1635, 585);
    LabelT = label(Frame5, "LabelT", {}, 60, 120, 1635, 825);
    lblSldNo = label(Frame5, "lblSldNo", "Using Slider #", 60, 960, 1635, 420);
    lblSldNo->setWordWrap(true);
    lblSldNo->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
    cmbPlaySld = list(Frame5, "cmbPlaySld", {"1", "2"}, 360, 1400, 1185, 315, kLightGrey);
    cmbPlaySld->setEnabled(false);

    // picScreen: the idle logo between two lines
    lblLogo = pictureBox(picScreen, "lblLogo", 60, 75, 3405, 285);
    auto* logoText = new QLabel("         Korvelin", lblLogo);
    logoText->setObjectName("lblLogoText");
    QFont logoFont("Arial Black", 10);
    logoFont.setItalic(true);
    logoFont.setBold(true);
    logoText->setFont(logoFont);
    logoText->setStyleSheet("color: white; background: transparent;");
    logoText->setGeometry(0, 0, twipsToPixels(3405), twipsToPixels(285));
    Line1 = control<LineControl>(picScreen, "Line1");
    Line1->setLine(270, 345, 3015, 345);
    Line1->setColor(QColor(200, 205, 235));
    Line2 = control<LineControl>(picScreen, "Line2");
    Line2->setLine(300, 90, 3030, 90);
    Line2->setColor(QColor(90, 95, 140));
    Splash1 = control<Splash>(this, "Splash1");

    // FrameOutputFile
    EdOutFile = textBox(FrameOutputFile, "EdOutFile", "Select Output Video File", 90, 150, 4965, 315);
    cmdOutFile = button(FrameOutputFile, "cmdOutFile", "...", 5130, 150, 1200, 315);
    cmdOutFile->setEnabled(false);
    EdOutFile2 = textBox(FrameOutputFile, "EdOutFile2", "Select Output Video File", 90, 500, 4965, 315);
    cmdOutFile2 = button(FrameOutputFile, "cmdOutFile2", "...", 5130, 500, 1200, 315);
    cmdOutFile2->setEnabled(false);

    // FrameOP
    cmdPlayStop = button(FrameOP, "cmdPlayStop", "Play", 120, 240, 1440, 345);
    cmdCut = button(FrameOP, "cmdCut", "Cut", 1680, 240, 1245, 345);
    cmdSplit = button(FrameOP, "cmdSplit", "Split", 2970, 240, 1215, 345);
    cmdCancel = button(FrameOP, "cmdCancel", "Cancel", 4320, 240, 1350, 345);
    for (auto* b : {cmdPlayStop, cmdCut, cmdSplit, cmdCancel}) b->setEnabled(false);

    // FrameVideoInfo
    lblVideoInfo = label(FrameVideoInfo, "lblVideoInfo", "Video Information", 570, 120, 1725, 225);
    EdInfoVideo = control<TextBox>(FrameVideoInfo, "EdInfoVideo");
    placeTwips(EdInfoVideo, 50, 360, 2880, 1155);
    EdInfoVideo->setEnabled(false);
    lblAudioInfo = label(FrameVideoInfo, "lblAudioInfo", "Audio Information", 570, 1560, 1845, 225);
    EdInfoAudio = control<TextBox>(FrameVideoInfo, "EdInfoAudio");
    placeTwips(EdInfoAudio, 50, 1800, 2880, 1215);
    EdInfoAudio->setEnabled(false);
    for (TextBox* info : {EdInfoVideo, EdInfoAudio}) {
        // One "label<TAB>value" line per property: the values in one column after the labels.
        info->setLineWrapMode(QPlainTextEdit::NoWrap);
        QFont small("Arial");
        small.setPointSizeF(7.5);
        info->setFont(small);
        info->document()->setDocumentMargin(1);
        info->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        info->setLabelColumn(QFontMetricsF(small).horizontalAdvance("Sample size (bits): "));
    }

    // FrameConvertTo: format buttons (reached through the skin) and the option frames
    cmdOptAVI = button(FrameConvertTo, "cmdOptAVI", "AVI", 240, 150, 885, 345);
    cmdOptMPEG = button(FrameConvertTo, "cmdOptMPEG", "MPEG", 1140, 150, 885, 345);
    cmdOptWMV = button(FrameConvertTo, "cmdOptWMV", "WMV", 2070, 150, 885, 345);
    cmdOptOriginal = button(FrameConvertTo, "cmdOptOriginal", "Original", 2070, 150, 885, 345);
    for (auto* b : {cmdOptAVI, cmdOptMPEG, cmdOptWMV, cmdOptOriginal}) b->hide();

    FrameOptVideoAvi = frame(FrameConvertTo, "FrameOptVideoAvi", "Video Format: ", 240, 360, 3015, 1365);
    lblFrameRate2 = label(FrameOptVideoAvi, "lblFrameRate2", "FrameRate:", 210, 300, 1185, 255);
    cmbFramerateAVI = list(FrameOptVideoAvi, "cmbFramerateAVI",
                           {"10.00", "15.00", "20.00", "23.97", "24.00", "25.00", "29.97", "30.00"}, 1410, 210, 1400,
                           315, kLightBlue);
    lblAVICodec = label(FrameOptVideoAvi, "lblAVICodec", "AVI Codec:", 180, 630, 1185, 255);
    btnConfigureVideoCodec = button(FrameOptVideoAvi, "btnConfigureVideoCodec", "Configure ...", 1410, 600, 1275, 315);
    cmbAVICodecs = list(FrameOptVideoAvi, "cmbAVICodecs", {}, 50, 960, 2860, 315, kLightBlue);

    FrameOptAudioAvi = frame(FrameConvertTo, "FrameOptAudioAvi", "Audio Format: ", 240, 1200, 3015, 1335);
    optPCM = option(FrameOptAudioAvi, "optPCM", "PCM", 90, 300, 885, 285);
    optADPCM = option(FrameOptAudioAvi, "optADPCM", "ADPCM", 1020, 300, 945, 285);
    optULAW = option(FrameOptAudioAvi, "optULAW", "ULAW", 2070, 300, 885, 285);
    optMP3 = option(FrameOptAudioAvi, "optMP3", "MP3", 90, 600, 885, 285);
    optALAW = option(FrameOptAudioAvi, "optALAW", "ALAW", 1020, 600, 945, 285);
    optGSM = option(FrameOptAudioAvi, "optGSM", "GSM", 2070, 600, 885, 285);
    optPCM->setChecked(true);
    lblChannels2 = label(FrameOptAudioAvi, "lblChannels2", "Channels:", 540, 1020, 825, 255);
    cmbCnannelsAVI = list(FrameOptAudioAvi, "cmbCnannelsAVI", {"Mono", "Stereo"}, 1470, 960, 1245, 315, kLightGrey);

    FrameOptVersionMpeg = frame(FrameConvertTo, "FrameOptVersionMpeg", "MPEG Version", 120, 960, 3015, 555);
    rbMPEG1 = option(FrameOptVersionMpeg, "rbMPEG1", "MPEG1", 330, 240, 945, 285);
    rbMPEG2 = option(FrameOptVersionMpeg, "rbMPEG2", "MPEG2", 1410, 240, 945, 285);
    rbMPEG1->setChecked(true);
    FrameOptVideoMpeg = frame(FrameConvertTo, "FrameOptVideoMpeg", "Video Format", 240, 1440, 3015, 1005);
    lblFrameRate = label(FrameOptVideoMpeg, "lblFrameRate", "FrameRate:", 270, 300, 1065, 255);
    cmbFramerateMPEG = list(FrameOptVideoMpeg, "cmbFramerateMPEG", {"23.97", "24.00", "25.00", "29.97", "30.00"}, 1440,
                            210, 1275, 315, kLightBlue);
    lblVideoBitrate = label(FrameOptVideoMpeg, "lblVideoBitrate", "VideoBitrate:", 270, 630, 1065, 255);
    cmbVideoBitrateMPEG = list(FrameOptVideoMpeg, "cmbVideoBitrateMPEG", {"750", "1150", "1500", "1950", "2376"}, 1440,
                               600, 1275, 315, kLightBlue);
    FrameOptAudioMpeg = frame(FrameConvertTo, "FrameOptAudioMpeg", "Audio Format", 120, 1920, 3015, 1005);
    lblChannels = label(FrameOptAudioMpeg, "lblChannels", "Channels:", 210, 300, 1155, 255);
    cmbCnannelsMPEG = list(FrameOptAudioMpeg, "cmbCnannelsMPEG", {"Mono", "Stereo"}, 1440, 210, 1305, 315, kLightBlue);
    lblAudioBitrate = label(FrameOptAudioMpeg, "lblAudioBitrate", "AudioBitrate:", 210, 630, 1155, 255);
    cmbAudioBitrateMPEG =
        list(FrameOptAudioMpeg, "cmbAudioBitrateMPEG",
             {"32", "48", "56", "64", "80", "96", "112", "128", "160", "192", "224", "256", "320", "384"}, 1440, 600,
             1305, 315, kLightBlue);
    FrameOptVideoWMV = frame(FrameConvertTo, "FrameOptVideoWMV", "Output Video Format", 80, 2040, 3060, 855);
    FrameOptVideoWMV->hide();
    FrameOptVideoAvi->hide();
    FrameOptAudioAvi->hide();
    cmbWMVCodecs = list(FrameOptVideoWMV, "cmbWMVCodecs", {}, 50, 330, 2990, 315, kLightBlue);
    // The source's own format: its frame says what the job does and offers the containers.
    FrameOptOriginal = frame(FrameConvertTo, "FrameOptOriginal", "Source Format", 80, 2040, 3015, 1905);
    FrameOptOriginal->hide();
    lblOriginalFormat = label(FrameOptOriginal, "lblOriginalFormat",
                              "Keeps the source's format; only the frames next to the cut points are encoded again.",
                              150, 300, 2730, 720);
    lblContainer = label(FrameOptOriginal, "lblContainer", "Container:", 150, 1110, 2730, 255);
    cmbContainer = list(FrameOptOriginal, "cmbContainer", {}, 150, 1410, 2730, 315, kLightBlue);
    lblOriginalFormat->setWordWrap(true);
    lblOriginalFormat->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    for (auto* f : {FrameOptVideoAvi, FrameOptAudioAvi, FrameOptVersionMpeg, FrameOptVideoMpeg, FrameOptAudioMpeg,
                    FrameOptVideoWMV, FrameOptOriginal}) {
        QFont bold = f->font();
        bold.setBold(true);
        f->setFont(bold);
        // The controls inside keep the normal weight.
        for (auto* child : f->findChildren<QWidget*>()) {
            QFont normal = child->font();
            normal.setBold(false);
            child->setFont(normal);
        }
    }

    // Frame1: language; Frame2 (never shown): About and Exit
    // The list is as wide as its longest language name with its flag.
    lblLang = label(Frame1, "lblLang", "Language", 90, 180, 900, 195);
    LstLang = list(Frame1, "LstLang", {}, 1020, 120, 1715, 330);
    LstLang->setFont(QFont("Tahoma"));
    cmdHelp = button(Frame2, "cmdHelp", "About", 60, 150, 660, 405);
    cmdExit = button(Frame2, "cmdExit", "Exit", 75, 555, 660, 405);

    buildPieceControls();
}

QPushButton* frmMain::formatButton(::OutputFormat format) const {
    switch (format) {
        case ::OutputFormat::Avi: return cmdOptAVI;
        case ::OutputFormat::Mpeg: return cmdOptMPEG;
        case ::OutputFormat::Wmv: return cmdOptWMV;
        case ::OutputFormat::Original: return cmdOptOriginal;
    }
    return nullptr;
}

std::vector<QGroupBox*> frmMain::formatOptionFrames(::OutputFormat format) const {
    switch (format) {
        case ::OutputFormat::Avi: return {FrameOptAudioAvi, FrameOptVideoAvi};
        case ::OutputFormat::Mpeg: return {FrameOptAudioMpeg, FrameOptVideoMpeg, FrameOptVersionMpeg};
        case ::OutputFormat::Wmv: return {FrameOptVideoWMV};
        case ::OutputFormat::Original: return {FrameOptOriginal};
    }
    return {};
}

void frmMain::connectHandlers() {
    auto onClick = [this](QPushButton* b, void (frmMain::*handler)()) {
        connect(b, &QPushButton::clicked, this, [this, handler] { guardedHandler([&] { (this->*handler)(); }); });
    };
    onClick(cmdFile, &frmMain::cmdFile_Click);
    onClick(cmdSavePictureAs, &frmMain::cmdSavePictureAs_Click);
    onClick(cmdPlayStop, &frmMain::cmdPlayStop_Click);
    onClick(cmdPrevFrame, &frmMain::cmdPrevFrame_Click);
    onClick(cmdNextFrame, &frmMain::cmdNextFrame_Click);
    onClick(cmdPrevFrame2, &frmMain::cmdPrevFrame2_Click);
    onClick(cmdNextFrame2, &frmMain::cmdNextFrame2_Click);
    // Each format's button chooses its format (cmdOptAVI_Click, cmdOptMPEG_Click, ...).
    for (const OutputFormatInfo& info : kOutputFormats)
        connect(formatButton(info.format), &QPushButton::clicked, this,
                [this, format = info.format] { guardedHandler([&] { chooseOutputFormat(format); }); });
    onClick(cmdOutFile, &frmMain::cmdOutFile_Click);
    onClick(cmdOutFile2, &frmMain::cmdOutFile2_Click);
    onClick(btnConfigureVideoCodec, &frmMain::btnConfigureVideoCodec_Click);
    onClick(cmdCut, &frmMain::cmdCut_Click);
    onClick(cmdCancel, &frmMain::cmdCancel_Click);
    onClick(cmdSplit, &frmMain::cmdSplit_Click);
    onClick(cmdHelp, &frmMain::cmdHelp_Click);
    onClick(cmdExit, &frmMain::cmdExit_Click);
    connect(Timeline1, &TimelineStrip::frameChosen, this,
            [this](int32_t frame) { guardedHandler([&] { moveDrivenMarker(frame); }); });

    // A user's choice in a list runs its click handler (choices from code go through setListIndex).
    const std::pair<QComboBox*, void (frmMain::*)()> lists[] = {
        {cmbVideoSize, &frmMain::cmbVideoSize_Click},
        {cmbPlaySld, &frmMain::cmbPlaySld_Click},
        {cmbFramerateAVI, &frmMain::cmbFramerateAVI_Click},
        {cmbCnannelsAVI, &frmMain::cmbCnannelsAVI_Click},
        {cmbFramerateMPEG, &frmMain::cmbFramerateMPEG_Click},
        {cmbVideoBitrateMPEG, &frmMain::cmbVideoBitrateMPEG_Click},
        {cmbCnannelsMPEG, &frmMain::cmbCnannelsMPEG_Click},
        {cmbAudioBitrateMPEG, &frmMain::cmbAudioBitrateMPEG_Click},
        {cmbWMVCodecs, &frmMain::cmbWMVCodecs_Click},
        {cmbAVICodecs, &frmMain::cmbAVICodecs_Click},
        {cmbContainer, &frmMain::cmbContainer_Click},
        {LstLang, &frmMain::LstLang_Click},
    };
    for (const auto& [box, handler] : lists) {
        connect(box, &QComboBox::activated, this,
                [this, handler = handler] { guardedHandler([&] { (this->*handler)(); }); });
        clickHandlers_.insert(box, handler);
    }

    // Markers: the sliders show the selection. A slider moved directly (by batch mode or a
    // test, as a user moves it) moves the selection first; then the change handler runs.
    connect(SliderTimePosition1, &QSlider::valueChanged, this, [this](int value) {
        selection_.setMarker(1, value);
        guardedHandler([&] { SliderTimePosition1_Change(); });
    });
    connect(SliderTimePosition2, &QSlider::valueChanged, this, [this](int value) {
        selection_.setMarker(2, value);
        guardedHandler([&] { SliderTimePosition2_Change(); });
    });
    using MouseHandler = void (frmMain::*)(int, int, float, float);
    auto onMouse = [this](PictureBox* box, void (PictureBox::*signal)(int, int, float, float), MouseHandler handler) {
        connect(box, signal, this, [this, handler](int button, int shift, float x, float y) {
            guardedHandler([&] { (this->*handler)(button, shift, x, y); });
        });
    };
    onMouse(sldThum, &PictureBox::MouseDown, &frmMain::sldThum_MouseDown);
    onMouse(sldThum, &PictureBox::MouseMove, &frmMain::sldThum_MouseMove);
    onMouse(sldThum, &PictureBox::MouseUp, &frmMain::sldThum_MouseUp);
    onMouse(sldThum2, &PictureBox::MouseDown, &frmMain::sldThum2_MouseDown);
    onMouse(sldThum2, &PictureBox::MouseMove, &frmMain::sldThum2_MouseMove);
    onMouse(sldThum2, &PictureBox::MouseUp, &frmMain::sldThum2_MouseUp);

    connect(Timer1, &QTimer::timeout, this, [this] { guardedTick([this] { Timer1_Timer(); }); });
    connect(Timer2, &QTimer::timeout, this, &frmMain::Timer2_Timer);
    connect(Skin1, &Skin::ElementClick, this,
            [this](const SkinElement& element) { guardedHandler([&] { Skin1_ElementClick(element); }); });
}

void frmMain::setListIndex(QComboBox* box, int index) {
    if (index < -1 || index >= box->count()) throw std::out_of_range("Invalid property value");
    box->setCurrentIndex(index);
    if (auto handler = clickHandlers_.value(box)) (this->*handler)();
}

// ---------------------------------------------------------------- start-up and shut-down

bool frmMain::acquireInstanceLock() {
    instance_ = SingleInstance::claim();
    if (!instance_) return false;
    connect(instance_.get(), &SingleInstance::requested, this, &frmMain::anotherStartAsked);
    return true;
}

void frmMain::PlaceFrames() {
    auto place = [](QWidget* w, std::optional<int> top, std::optional<int> left, bool twips) {
        const int t = top ? (twips ? twipsToPixels(*top) : *top) : w->y();
        const int l = left ? (twips ? twipsToPixels(*left) : *left) : w->x();
        w->move(l, t);
    };
    place(FrameInputFile, 37, 10, false);
    place(FrameCutEditor, 100, 10, false);
    place(FrameOutputFile, 407 + kTimelineRoom, 10, false);
    place(FrameOP, 460 + kTimelineRoom, std::nullopt, false);
    place(FrameVideoInfo, 34, 475, false);
    place(FrameConvertTo, 290, 475, false);
    place(Frame1, 512, 495, false);
    place(FrameOptVideoAvi, 230, 75, true);
    place(FrameOptAudioAvi, 1540, 75, true);
    place(FrameOptVideoMpeg, 230, 75, true);
    place(FrameOptAudioMpeg, 1250, 75, true);
    place(FrameOptVersionMpeg, 2300, 75, true);
    place(FrameOptVideoWMV, 250, 75, true);
    place(FrameOptOriginal, 250, 75, true);
    place(FrameConvertTo, std::nullopt, 470, false);
    place(FrameOP, 491 + kTimelineRoom, 65, false);
    ProgressBar1->setGeometry(40, 476 + kTimelineRoom, ProgressBar1->width(), 13);
}

bool frmMain::Form_Load() {
    // 1. Another copy running: end at once, without a message and without touching a setting.
    const bool another = services_.anotherCopyRunning ? services_.anotherCopyRunning() : !acquireInstanceLock();
    if (another) return false;

    const QString folder = platform().programFolder();
    // 2. Partner probe.
    // The partner counts as present when the settings store has its key, or when the
    // desktop's MIME database knows its file type (where programs register them on Linux).
    resumeNext("Form_Load: ReadRegistryString", [&] {
        PartnerAppPresent = !ReadRegistryString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.pando", "", "").isEmpty();
    });
    if (!PartnerAppPresent)
        resumeNext("Form_Load: fileTypeRegistered",
                   [&] { PartnerAppPresent = platform().fileTypeRegistered(QStringLiteral("*.pando")); });
    // 3. Places of the frames.
    resumeNext("Form_Load: PlaceFrames", [&] { PlaceFrames(); });
    // 4. Engine objects.
    resumeNext("Form_Load: makeReader", [&] { VideoFileIn1 = services_.makeReader(); });
    resumeNext("Form_Load: makeWriter", [&] { VideoFileOut = services_.makeWriter(); });
    resumeNext("Form_Load: makeImageFile", [&] { ImageFile1 = services_.makeImageFile(); });
    resumeNext("Form_Load: makeAudioPlayer", [&] {
        AudioPlayer = services_.makeAudioPlayer();
        connect(AudioPlayer.get(), &::AudioPlayer::EndArrayPlay, this,
                [this] { guardedTick([this] { AudioPlayer_EndArrayPlay(); }); });
        connect(AudioPlayer.get(), &::AudioPlayer::EndPlay, this,
                [this] { guardedTick([this] { AudioPlayer_EndPlay(); }); });
    });
    // 5. Splash.
    if (services_.showSplash) {
        resumeNext("Form_Load: LoadSplashFile", [&] { Splash1->LoadSplashFile(folder + "/kvl.spl"); });
        resumeNext("Form_Load: ShowSplash", [&] { Splash1->ShowSplash(0); });
    }
    // 6. Skin.
    resumeNext("Form_Load: LoadSkinFile", [&] { Skin1->LoadSkinFile(folder + "/kvl.skn"); });
    resumeNext("Form_Load: SkinWindow", [&] { Skin1->SkinWindow(this); });
    resumeNext("Form_Load: SkinForm", [&] { SkinForm(this); });
    const std::pair<QWidget*, const char*> elements[] = {{sldBack, "SLDBACK"},        {sldThum, "SLDTHUM"},
                                                         {sldBack2, "SLDBACK"},       {sldThum2, "SLDTHUM"},
                                                         {cmdNextFrame, "SLD_BTN_R"}, {cmdNextFrame2, "SLD_BTN_R"},
                                                         {cmdPrevFrame, "SLD_BTN_L"}, {cmdPrevFrame2, "SLD_BTN_L"}};
    for (const auto& entry : elements)
        resumeNext("Form_Load: SkinWindowAs", [&] { Skin1->SkinWindowAs(entry.first, entry.second); });
    // 7.
    PrevOpenedFile.clear();
    cmdCut->update();
    cmdSplit->update();
    // 8. Settings store and the stored language.
    resumeNext("Form_Load: settings store", [&] {
        if (!Registry) Registry = std::make_unique<CRegister>();
    });
    resumeNext("Form_Load: REGGetSetting", [&] {
        CurLang =
            Registry->REGGetSetting(HKEY_LOCAL_MACHINE, "Software\\Halvorin\\Vantrel Settings", "Lang", "English");
    });
    // 9. Languages and captions.
    resumeNext("Form_Load: Load_Language", [&] { Load_Language(); });
    resumeNext("Form_Load: SetCaption", [&] { SetCaption(); });
    // 10.
    LogoStep = 1;
    OutputFormat = ::OutputFormat::Avi;
    // 11. Codec and profile lists.
    resumeNext("Form_Load: FillEngineLists", [&] { FillEngineLists(); });
    // 12. Initial list items.
    resumeNext("Form_Load: choose cmbFramerateAVI", [&] {
        // A stored value that is not an item of the list (a damaged setting, or -1 stored from
        // an empty list) falls back to the default item, so the choice heals.
        constexpr int kDefaultRate = 5;  // 25.00
        int index = kDefaultRate;
        resumeNext("Form_Load: stored VideoFrameRate",
                   [&] { index = toInt16(strictNumber(GetSetting("Korvelin", "Settings", "VideoFrameRate", "5"))); });
        if (index < 0 || index >= cmbFramerateAVI->count()) index = kDefaultRate;
        setListIndex(cmbFramerateAVI, index);
    });
    resumeNext("Form_Load: choose cmbAudioBitrateMPEG", [&] { setListIndex(cmbAudioBitrateMPEG, 7); });
    resumeNext("Form_Load: choose cmbVideoBitrateMPEG", [&] { setListIndex(cmbVideoBitrateMPEG, 1); });
    resumeNext("Form_Load: choose cmbFramerateMPEG", [&] { setListIndex(cmbFramerateMPEG, 3); });
    // 13.
    cmdCancel->setEnabled(false);
    // 14.
    resumeNext("Form_Load: choose cmbCnannelsAVI", [&] { setListIndex(cmbCnannelsAVI, 1); });
    resumeNext("Form_Load: choose cmbCnannelsMPEG", [&] { setListIndex(cmbCnannelsMPEG, 1); });
    resumeNext("Form_Load: choose cmbVideoSize", [&] { setListIndex(cmbVideoSize, 0); });
    resumeNext("Form_Load: choose cmbPlaySld", [&] { setListIndex(cmbPlaySld, 0); });
    // 15.
    FileLoaded = false;
    InternalMarkerChange = false;
    QDir::setCurrent(folder);
    // 16.
    for (const OutputFormatInfo& info : kOutputFormats)
        OutputExtensions.at(size_t(info.format)) = QString::fromLatin1(info.extension);
    // 17. Audio device.
    resumeNext("Form_Load: DeviceCount", [&] {
        const int16_t devices = toInt16(AudioPlayer->DeviceCount());
        if (devices >= 1) {
            AudioPlayer->SetOutputDevice(0);
            AudioPlayer->SetVolume(65535);
            AudioPlayer->SetBufferCount(50);
            NoAudioDevice = false;
        } else {
            NoAudioDevice = true;
        }
    });
    if (!AudioPlayer) NoAudioDevice = true;
    // 18. Show the window.
    Timer2->start();
    setWindowState(Qt::WindowNoState);
    resumeNext("Form_Load: centre", [&] { centreOnScreen(); });
    show();
    setWindowState(Qt::WindowNoState);
    return true;
}

// The window opens in the middle of the screen's available area.
void frmMain::centreOnScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
}

void frmMain::Form_Unload() {
    if (unloaded_) return;
    unloaded_ = true;
    resumeNext("Form_Unload: SaveSetting", [&] {
        SaveSetting("Korvelin", "Settings", "VideoFrameRate", QString::number(cmbFramerateAVI->currentIndex()));
    });
    resumeNext("Form_Unload: stop", [&] { Timer1->stop(); });
    resumeNext("Form_Unload: Clear", [&] { VideoView1->Clear(); });
    resumeNext("Form_Unload: Stop", [&] {
        if (AudioPlayer) AudioPlayer->Stop();
    });
    // A job running on its worker ends first (closed readable, as after Cancel): it uses the
    // writer released below.
    if (runningJob_) resumeNext("Form_Unload: end job", [&] { runningJob_->abandon(); });
    resumeNext("Form_Unload: timeline", [&] { Timeline1->clearSource(); });
    if (FileLoaded) {
        FileLoaded = false;
        resumeNext("Form_Unload: close source", [&] { VideoFileIn1->CloseFile(); });
        resumeNext("Form_Unload: close output", [&] { VideoFileOut->CloseFile(); });
    }
    resumeNext("Form_Unload: release reader", [&] { VideoFileIn1.reset(); });
    resumeNext("Form_Unload: release writer", [&] { VideoFileOut.reset(); });
    resumeNext("Form_Unload: release picture writer", [&] { ImageFile1.reset(); });
    resumeNext("Form_Unload: release audio player", [&] { AudioPlayer.reset(); });
    if (about_) about_->close();
    instance_.reset();
    endProgram();
}

void frmMain::endProgram() {
    if (services_.endProgram) {
        services_.endProgram();
    } else {
        QCoreApplication::exit(0);
    }
}

void frmMain::closeEvent(QCloseEvent* event) {
    if (opening_) {  // the open stops first; the window then closes
        closeRequested_ = true;
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}

void frmMain::Form_Paint() {
    if (FileLoaded && FrameBits.size() - 1 > 0) VideoView1->ShowFrame(FrameBits);
}

void frmMain::paintEvent(QPaintEvent* event) {
    ++paintCount_;
    QWidget::paintEvent(event);
    endQuietly("paintEvent: Form_Paint", [&] { Form_Paint(); });  // a message box here would paint again
}

void frmMain::reportHandlerFailure(std::exception_ptr error) noexcept {
    logSwallowed("event handler", error);
    // A drag that the failure interrupted is over.
    MoveShape = MoveShape2 = false;
    if (unloaded_) return;
    resumeNext("reportHandlerFailure: MsgBox", [&] {
        dialogs().MsgBox(Messages[Msg::OperationFailed] + " " + describeError(error), MsgButtons::Ok,
                         MsgIcon::Critical);
    });
}

void frmMain::cmdExit_Click() {
    close();
    // Closing runs Form_Unload, which ends the program; end it here only if it did not run.
    if (!unloaded_) endProgram();
}

// ---------------------------------------------------------------- skin commands

void frmMain::SkinForm(QWidget* frm) {
    for (auto* b : frm->findChildren<QPushButton*>()) {
        if (b->property("kvlSkinButton").toBool()) continue;  // the skin's own buttons
        Skin1->SkinWindowAs(b, "combo");
    }
}

void frmMain::cmbFramerateAVI_Click() { Skin1->SkinWindowAs(cmbFramerateAVI, "Button"); }
void frmMain::cmbCnannelsAVI_Click() { Skin1->SkinWindowAs(cmbCnannelsAVI, "Button"); }
void frmMain::cmbFramerateMPEG_Click() { Skin1->SkinWindowAs(cmbFramerateMPEG, "Button"); }
void frmMain::cmbVideoBitrateMPEG_Click() { Skin1->SkinWindowAs(cmbVideoBitrateMPEG, "Button"); }
void frmMain::cmbCnannelsMPEG_Click() { Skin1->SkinWindowAs(cmbCnannelsMPEG, "Button"); }
void frmMain::cmbAudioBitrateMPEG_Click() { Skin1->SkinWindowAs(cmbAudioBitrateMPEG, "Button"); }
void frmMain::cmbWMVCodecs_Click() { Skin1->SkinWindowAs(cmbWMVCodecs, "Button"); }
void frmMain::cmbPlaySld_Click() { Skin1->SkinWindowAs(cmbPlaySld, "Button"); }

void frmMain::Skin1_ElementClick(const SkinElement& element) {
    if (element.Name() == "Help") openHelp();
    for (const OutputFormatInfo& info : kOutputFormats)
        if (enabledFlag(formatButton(info.format)) && element.Name() == QLatin1String(info.skinButton))
            chooseOutputFormat(info.format);
    if (element.Name() == "about") showAbout(false);
}

// ---------------------------------------------------------------- About box

void frmMain::cmdHelp_Click() { showAbout(true); }

void frmMain::showAbout(bool skinWholeWindow) {
    if (!about_) about_ = new frmAbout(this, Skin1);
    if (skinWholeWindow) resumeNext("showAbout: SkinWindow", [&] { Skin1->SkinWindow(about_); });
    about_->setWindowTitle(Messages[Msg::AboutTitle]);
    about_->Label4->setCaption(Messages[Msg::Copyright] + frmAbout::noticeSuffix());
    about_->Label1->setCaption(Messages[Msg::Version] + " " + frmAbout::versionText());
    about_->Label3->setCaption(Messages[Msg::AboutDescription]);
    about_->Label5->setCaption(Messages[Msg::AboutCut]);
    about_->Label6->setCaption(Messages[Msg::AboutSplit]);
    about_->Label7->setCaption(Messages[Msg::AboutSaveFrame]);
    about_->exec();
    // OK unloads the About box; the next opening loads it again.
    delete about_;
}

// ---------------------------------------------------------------- idle logo

void frmMain::Timer2_Timer() {
    const int16_t step = static_cast<int16_t>(15 * LogoStep);
    lblLogo->setLeft(lblLogo->Left() + step);
    if (lblLogo->Left() + lblLogo->Width() > picScreen->Width() || lblLogo->Left() < 0)
        LogoStep = static_cast<int16_t>(-LogoStep);
    Line1->setX1(lblLogo->Left() + 30);
    Line1->setX2(lblLogo->Left() + lblLogo->Width() - 30);
    Line2->setX1(lblLogo->Left() + 30);
    Line2->setX2(lblLogo->Left() + lblLogo->Width() - 30);
}
