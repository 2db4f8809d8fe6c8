// What a desktop program does around the window's own controls: keys for the buttons, a video
// dropped onto the window or handed over by a later start, the preview on the whole screen, the
// open file in the title and help that opens without a CHM viewer.
#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSpinBox>
#include <QTextEdit>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>
#include <utility>

#include "engine/platform/Platform.h"
#include "rules/TimelineLayout.h"
#include "window/ErrorPolicy.h"
#include "window/frmMain.h"

namespace {

// What a key does in the window and in the full-screen preview.
enum KeyCommand : int {
    NoCommand,
    StepBack,          // the marker playback drives, one frame back
    StepForward,       // and one forward
    StepOtherBack,     // the other marker
    StepOtherForward,  //
    PlayStop,
    Open,
    Cut,
    Split,
    FullScreen,  // into the full-screen preview and out again
    LeaveFullScreen,
    Help,
    // The driven marker's moves, also along the timeline strip.
    PreviousKeyFrame,  // where a cut needs no encoding
    NextKeyFrame,
    SecondBack,
    SecondForward,
    FirstFrame,
    LastFrame,
    TenthBack,
    TenthForward,
    AddPiece,     // the markers' range into the piece list
    RemovePiece,  // the selected piece out of it
};

struct KeyBinding {
    KeyCommand command;
    QKeyCombination keys;
};

// Stepping goes without a modifier (Shift for the other marker) so that it repeats while held;
// commands that start something go with Ctrl, as Ctrl+O opens in every desktop program.
constexpr KeyBinding kKeyBindings[] = {
    {StepBack, QKeyCombination(Qt::Key_Left)},
    {StepForward, QKeyCombination(Qt::Key_Right)},
    {StepOtherBack, QKeyCombination(Qt::ShiftModifier, Qt::Key_Left)},
    {StepOtherForward, QKeyCombination(Qt::ShiftModifier, Qt::Key_Right)},
    {PlayStop, QKeyCombination(Qt::Key_Space)},
    {Open, QKeyCombination(Qt::ControlModifier, Qt::Key_O)},
    {Cut, QKeyCombination(Qt::ControlModifier, Qt::Key_X)},
    {Split, QKeyCombination(Qt::ControlModifier, Qt::Key_K)},
    {FullScreen, QKeyCombination(Qt::Key_F)},
    {LeaveFullScreen, QKeyCombination(Qt::Key_Escape)},
    {Help, QKeyCombination(Qt::Key_F1)},
    {PreviousKeyFrame, QKeyCombination(Qt::AltModifier, Qt::Key_Left)},
    {NextKeyFrame, QKeyCombination(Qt::AltModifier, Qt::Key_Right)},
    {SecondBack, QKeyCombination(Qt::ControlModifier, Qt::Key_Left)},
    {SecondForward, QKeyCombination(Qt::ControlModifier, Qt::Key_Right)},
    {FirstFrame, QKeyCombination(Qt::Key_Home)},
    {LastFrame, QKeyCombination(Qt::Key_End)},
    {TenthBack, QKeyCombination(Qt::Key_PageUp)},
    {TenthForward, QKeyCombination(Qt::Key_PageDown)},
    {AddPiece, QKeyCombination(Qt::Key_A)},
    {RemovePiece, QKeyCombination(Qt::Key_Delete)},
};

KeyCommand keyCommand(const QKeyEvent& event) {
    // The arrows of the number pad step as well.
    const Qt::KeyboardModifiers modifiers = event.modifiers() & ~Qt::KeypadModifier;
    for (const KeyBinding& b : kKeyBindings)
        if (b.keys.key() == event.key() && b.keys.keyboardModifiers() == modifiers) return b.command;
    return NoCommand;
}

bool repeatsWhileHeld(KeyCommand command) {
    return command == StepBack || command == StepForward || command == StepOtherBack || command == StepOtherForward ||
           command >= PreviousKeyFrame;
}

// The key of a command as the desktop writes it ("Ctrl+O", "Shift+Left").
QString keyText(KeyCommand command) {
    for (const KeyBinding& b : kKeyBindings)
        if (b.command == command) return QKeySequence(b.keys).toString(QKeySequence::NativeText);
    return {};
}

// A control the user types into keeps every key: the window's keys wait until it loses the focus.
bool takesTyping(const QWidget* w) {
    if (!w) return false;
    if (auto* edit = qobject_cast<const QLineEdit*>(w)) return !edit->isReadOnly();
    if (auto* edit = qobject_cast<const QPlainTextEdit*>(w)) return !edit->isReadOnly();
    if (auto* edit = qobject_cast<const QTextEdit*>(w)) return !edit->isReadOnly();
    if (auto* box = qobject_cast<const QComboBox*>(w)) return box->isEditable();
    return qobject_cast<const QAbstractSpinBox*>(w) != nullptr;
}

// The first local file of a drop; empty when the drop brings none (text, web addresses).
QString firstDroppedFile(const QMimeData* data) {
    if (!data || !data->hasUrls()) return {};
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) return url.toLocalFile();
    return {};
}

// "clip.mp4 — Korvelin": the open file first, as desktop programs name their documents.
QString windowTitleFor(const QString& programTitle, const QString& openFile) {
    if (openFile.isEmpty()) return programTitle;
    return QFileInfo(openFile).fileName() + QString::fromUtf8(" \u2014 ") + programTitle;
}

// The MIME types CHM files go by: the registered name and its older alias.
const char* const kChmTypes[] = {"application/vnd.ms-htmlhelp", "application/x-chm"};

}  // namespace

void frmMain::setUpDesktop() {
    // The window sees every key and double-click first, so that a focused button or list does not
    // swallow the arrows; controls that take typing still get theirs (see takesTyping).
    qApp->installEventFilter(this);
    setAcceptDrops(true);
    connect(cmbPlaySld, &QComboBox::currentIndexChanged, this, [this] { updateKeyTooltips(); });
    handOverRetry_ = new QTimer(this);
    handOverRetry_->setSingleShot(true);
    handOverRetry_->setInterval(250);
    connect(handOverRetry_, &QTimer::timeout, this, [this] { openHandedOverSource(); });
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress: {
            auto* target = qobject_cast<QWidget*>(watched);
            if (!target || (target->window() != this && target->window() != previewStage_)) break;
            if (takesTyping(QApplication::focusWidget())) break;
            const auto* key = static_cast<QKeyEvent*>(event);
            const KeyCommand command = keyCommand(*key);
            // A held arrow keeps stepping; a held Space or F must not toggle over and over.
            if (key->isAutoRepeat() && !repeatsWhileHeld(command)) return command != NoCommand;
            if (runKeyCommand(command)) return true;
            break;
        }
        case QEvent::MouseButtonDblClick:
            if (watched == VideoView1) {
                if (previewStage_) {
                    leavePreviewFullScreen();
                } else {
                    showPreviewFullScreen();
                }
                return true;
            }
            break;
        case QEvent::Close:
            // Closing the full-screen window (Alt+F4) brings the preview back; closing the main
            // window takes the full-screen one with it.
            if (watched == previewStage_) {
                leavePreviewFullScreen();
                event->ignore();
                return true;
            }
            if (watched == this) leavePreviewFullScreen();
            break;
        default: break;
    }
    return QWidget::eventFilter(watched, event);
}

bool frmMain::runKeyCommand(int command) {
    // Each key clicks its button, so it does what the button does and nothing while the button
    // is disabled (no file yet, playback or a job running).
    const bool firstDriven = cmbPlaySld->currentIndex() != 1;
    QPushButton* back = firstDriven ? cmdPrevFrame : cmdPrevFrame2;
    QPushButton* forward = firstDriven ? cmdNextFrame : cmdNextFrame2;
    QPushButton* otherBack = firstDriven ? cmdPrevFrame2 : cmdPrevFrame;
    QPushButton* otherForward = firstDriven ? cmdNextFrame2 : cmdNextFrame;
    switch (static_cast<KeyCommand>(command)) {
        case NoCommand: return false;
        case StepBack: back->click(); return true;
        case StepForward: forward->click(); return true;
        case StepOtherBack: otherBack->click(); return true;
        case StepOtherForward: otherForward->click(); return true;
        case PlayStop: cmdPlayStop->click(); return true;
        case Open: cmdFile->click(); return true;
        case Cut: cmdCut->click(); return true;
        case Split: cmdSplit->click(); return true;
        case FullScreen:
            if (previewStage_) {
                leavePreviewFullScreen();
            } else {
                showPreviewFullScreen();
            }
            return true;
        case LeaveFullScreen:
            if (!previewStage_) return false;
            leavePreviewFullScreen();
            return true;
        case Help: openHelp(); return true;
        case PreviousKeyFrame:
        case NextKeyFrame:
        case SecondBack:
        case SecondForward:
        case FirstFrame:
        case LastFrame:
        case TenthBack:
        case TenthForward: {
            if (!FileLoaded) return true;
            const int32_t now = selection_.marker(drivenMarker()), last = selection_.lastFrame();
            moveDrivenMarker(keyMoveTarget(static_cast<KeyCommand>(command), now, last, VideoFileIn1->FrameRate()));
            return true;
        }
        case AddPiece: cmdAddPiece->click(); return true;
        case RemovePiece: cmdRemovePiece->click(); return true;
    }
    return false;
}

int32_t frmMain::keyMoveTarget(int command, int32_t now, int32_t last, double fps) const {
    switch (static_cast<KeyCommand>(command)) {
        case PreviousKeyFrame:
        case NextKeyFrame:
            // Marker 2, the range's end, stops before a key frame, marker 1 on one: neither encodes a frame.
            return neighbourIn(keyFrameStops(Timeline1->cleanStarts(), last, drivenMarker() == 2), now,
                               command == NextKeyFrame ? +1 : -1);
        case SecondBack: return movedBy(now, -oneSecondOfFrames(fps), last);
        case SecondForward: return movedBy(now, oneSecondOfFrames(fps), last);
        case FirstFrame: return 1;
        case LastFrame: return last;
        case TenthBack: return movedBy(now, -tenthOfFrames(last), last);
        case TenthForward: return movedBy(now, tenthOfFrames(last), last);
        case NoCommand:
        case StepBack:
        case StepForward:
        case StepOtherBack:
        case StepOtherForward:
        case PlayStop:
        case Open:
        case Cut:
        case Split:
        case FullScreen:
        case LeaveFullScreen:
        case Help:
        case AddPiece:
        case RemovePiece: break;
    }
    return now;
}

void frmMain::updateKeyTooltips() {
    const bool firstDriven = cmbPlaySld->currentIndex() != 1;
    auto stepTip = [&](int marker, KeyCommand command, KeyCommand otherCommand, const char* step) {
        const bool driven = (marker == 1) == firstDriven;
        return Messages[Msg::Marker] + " " + QString::number(marker) + " " + QString::fromUtf8(step) + " (" +
               keyText(driven ? command : otherCommand) + ")";
    };
    cmdPrevFrame->setToolTip(stepTip(1, StepBack, StepOtherBack, "\u22121"));
    cmdNextFrame->setToolTip(stepTip(1, StepForward, StepOtherForward, "+1"));
    cmdPrevFrame2->setToolTip(stepTip(2, StepBack, StepOtherBack, "\u22121"));
    cmdNextFrame2->setToolTip(stepTip(2, StepForward, StepOtherForward, "+1"));
    auto caption = [&](int key) { return GetFromINI("frmMain", QString::number(key)); };
    cmdPlayStop->setToolTip(caption(Caption::Play) + " / " + caption(Caption::Stop) + " (" + keyText(PlayStop) + ")");
    cmdFile->setToolTip(caption(Caption::SelectInputFile) + " (" + keyText(Open) + ")");
    cmdCut->setToolTip(caption(Caption::Cut) + " (" + keyText(Cut) + ")");
    cmdSplit->setToolTip(caption(Caption::Split) + " (" + keyText(Split) + ")");
    VideoView1->setToolTip(Messages[Msg::FullScreenPreview] + " (" + keyText(FullScreen) + ")");
    auto pair = [&](int message, KeyCommand back, KeyCommand forward) {
        return "\n" + Messages[message] + " (" + keyText(back) + " / " + keyText(forward) + ")";
    };
    Timeline1->setToolTip(Messages[Msg::TimelineUse] + pair(Msg::KeyFrameMove, PreviousKeyFrame, NextKeyFrame) +
                          pair(Msg::SecondMove, SecondBack, SecondForward) +
                          pair(Msg::FirstLastFrame, FirstFrame, LastFrame) +
                          pair(Msg::TenthMove, TenthBack, TenthForward));
    cmdAddPiece->setToolTip(cmdAddPiece->text() + " (" + keyText(AddPiece) + ")");
    cmdRemovePiece->setToolTip(cmdRemovePiece->text() + " (" + keyText(RemovePiece) + ")");
}

// ---------------------------------------------------------------- opening a source

void frmMain::dragEnterEvent(QDragEnterEvent* event) {
    // Only while the open button would work: not during playback or a job.
    if (cmdFile->isEnabled() && !firstDroppedFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void frmMain::dropEvent(QDropEvent* event) {
    const QString path = firstDroppedFile(event->mimeData());
    if (path.isEmpty() || !cmdFile->isEnabled()) return;
    event->acceptProposedAction();
    // Opened once the drop has finished, so the program the file came from is not kept waiting
    // while the source is indexed or a message box is up.
    QTimer::singleShot(0, this, [this, path] {
        if (!unloaded() && cmdFile->isEnabled()) OpenSourceVideo(path);
    });
}

void frmMain::anotherStartAsked(const QString& path) {
    if (unloaded_) return;
    if (isMinimized()) showNormal();
    raise();
    activateWindow();
    if (path.isEmpty()) return;
    handedOverSource_ = path;  // a later request replaces one still waiting
    openHandedOverSource();
}

void frmMain::openHandedOverSource() {
    if (unloaded_ || handedOverSource_.isEmpty()) return;
    // Playback gives way, as for a file chosen in the window; a job, an open or a dialog is
    // waited for.
    if (!QApplication::activeModalWidget() && !opening_ && Playing && cmdPlayStop->isEnabled()) StopPlayback();
    if (QApplication::activeModalWidget() || opening_ || !cmdFile->isEnabled()) {
        handOverRetry_->start();
        return;
    }
    OpenSourceVideo(std::exchange(handedOverSource_, QString()));
}

void frmMain::sourceChanged() {
    resumeNext("sourceChanged: title", [&] { updateWindowTitle(); });
    resumeNext("sourceChanged: timeline", [&] { timelineSourceChanged(); });
    piecesSourceChanged();
    if (!FileLoaded) {
        leavePreviewFullScreen();
        return;
    }
    // The arrows step at once after an open: nothing that takes typing keeps the focus.
    QWidget* focused = QApplication::focusWidget();
    if (takesTyping(focused) && focused->window() == this) focused->clearFocus();
}

void frmMain::updateWindowTitle() {
    const QString title = windowTitleFor(GetFromINI("frmMain", QString::number(Caption::WindowTitle)),
                                         FileLoaded ? PrevOpenedFile : QString());
    setWindowTitle(title);
    if (previewStage_) previewStage_->setWindowTitle(title);
}

// ---------------------------------------------------------------- full-screen preview

void frmMain::showPreviewFullScreen() {
    if (previewStage_ || !FileLoaded) return;
    auto* stage = new QWidget(this, Qt::Window);
    stage->setObjectName("PreviewFullScreen");
    stage->setWindowTitle(windowTitle());
    QPalette black = stage->palette();
    black.setColor(QPalette::Window, Qt::black);
    stage->setPalette(black);
    stage->setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(stage);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    // The same view moves over, so stepping, dragging and playback draw into it as before.
    previewPlace_ = VideoView1->geometry();
    layout->addWidget(VideoView1, 1);
    // The timeline strip comes along under the picture, across the whole screen.
    timelinePlace_ = Timeline1->geometry();
    Timeline1->setFixedHeight(TimelineStrip::kStripHeight);
    layout->addWidget(Timeline1);
    VideoView1->SetViewSize(6);  // as large as the screen allows, aspect kept
    previewStage_ = stage;
    if (QScreen* s = screen()) stage->setGeometry(s->geometry());
    stage->showFullScreen();
    stage->activateWindow();
    stage->raise();
}

void frmMain::leavePreviewFullScreen() {
    if (!previewStage_) return;
    QWidget* stage = previewStage_;
    previewStage_ = nullptr;
    VideoView1->setParent(FrameCutEditor);
    VideoView1->setGeometry(previewPlace_);
    // The size chosen in the window's list, even if it was changed meanwhile.
    resumeNext("leavePreviewFullScreen: view size", [&] { cmbVideoSize_Click(); });
    VideoView1->lower();  // under the idle picture and the strips, where it was built
    VideoView1->show();
    Timeline1->setParent(FrameCutEditor);
    Timeline1->setGeometry(timelinePlace_);
    Timeline1->show();
    stage->hide();
    // Later: this may run inside one of the stage's own events.
    stage->deleteLater();
    activateWindow();
}

// ---------------------------------------------------------------- help

void frmMain::openHelp() {
    // Asking the desktop which program opens a type runs xdg-mime, which takes a moment: the
    // questions are asked off the window's thread, and a second F1 meanwhile adds nothing.
    if (helpLookup_) return;
    const QString folder = platform().programFolder();
    const QString compiled = folder + "/kvl.chm";
    const QString pages = folder + "/help/index.html";
    struct Viewers {
        bool chm = false, html = false;
    };
    auto found = std::make_shared<Viewers>();
    helpLookup_ = QThread::create([compiled, pages, found] {
        auto registered = [](const QString& type) { return !platform().defaultApplicationFor(type).isEmpty(); };
        found->chm = QFileInfo::exists(compiled) && std::any_of(std::begin(kChmTypes), std::end(kChmTypes),
                                                                [&](const char* t) { return registered(t); });
        found->html = QFileInfo::exists(pages) && registered("text/html");
    });
    connect(helpLookup_, &QThread::finished, this, [this, found, compiled, pages] {
        helpLookup_->wait();
        delete helpLookup_;
        helpLookup_ = nullptr;
        if (unloaded_) return;  // the window was closed meanwhile
        // xdg-open starts without saying whether anything opened the file, so each way is taken
        // only when the desktop names a program for it.
        if (found->chm && platform().openDocument(compiled)) return;
        if (found->html && platform().openDocument(pages)) return;
        dialogs().MsgBox(Messages[Msg::HelpNotOpened] + "\r\n" + QDir::toNativeSeparators(pages), MsgButtons::Ok,
                         MsgIcon::Information);
    });
    helpLookup_->start();
}
