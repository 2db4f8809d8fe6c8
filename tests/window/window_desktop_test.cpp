// The window as a desktop program, driven with real input events: keys, a dropped file, the
// full-screen preview, the title and the help that opens without a CHM viewer.
#include <gtest/gtest.h>
#include <QApplication>
#include <QMimeData>
#include <QScreen>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>

#include "support/Clips.h"
#include "support/FakePlatform.h"
#include "support/WindowHarness.h"

namespace {

struct DesktopWindow : WindowHarness {
    frmMain& w;
    DesktopWindow() : w(*window) {
        w.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&w));
    }
    void open(const QString& clip) {
        w.OpenSourceVideo(clips::get(clip).path);
        ASSERT_TRUE(w.FileLoaded);
    }
    int shown() const { return clips::frameNumberOf(w.FrameBits); }
    // A key as the user presses it: to the widget with the focus, else to the active window (the
    // main window while the offscreen platform has none active).
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : QApplication::activeWindow();
        QTest::keyClick(target ? target : &w, key, modifiers);
    }
};

// Drops files onto the window the way a file manager does; true when the window accepted the drop.
bool dropFiles(frmMain& w, const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    const QPoint at = w.rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &drop);
    WindowHarness::pumpEvents();  // the file opens once the drop has finished
    return drop.isAccepted();
}

TEST(DesktopKeys, ArrowsStepTheDrivenMarkerShiftTheOtherSpacePlays) {
    DesktopWindow d;
    frmMain& w = d.w;
    d.press(Qt::Key_Right);  // nothing open: the step button does nothing, nor does the key
    EXPECT_FALSE(w.FileLoaded);
    d.open("avi_mjpeg_pcm");  // 100 frames
    d.press(Qt::Key_Right);
    d.press(Qt::Key_Right);
    EXPECT_EQ(w.SliderTimePosition1->value(), 3);
    EXPECT_EQ(d.shown(), 3);
    d.press(Qt::Key_Left);
    EXPECT_EQ(w.SliderTimePosition1->value(), 2);
    d.press(Qt::Key_Left, Qt::ShiftModifier);  // marker 2 wraps to the last frame
    EXPECT_EQ(w.SliderTimePosition2->value(), 100);
    EXPECT_EQ(d.shown(), 100);
    EXPECT_EQ(w.SliderTimePosition1->value(), 2);

    // With marker 2 driving playback the arrows move marker 2 and Shift marker 1.
    w.setListIndex(w.cmbPlaySld, 1);
    d.press(Qt::Key_Right);
    EXPECT_EQ(w.SliderTimePosition2->value(), 1);
    d.press(Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(w.SliderTimePosition1->value(), 3);
    EXPECT_TRUE(w.cmdNextFrame2->toolTip().contains(QKeySequence(Qt::Key_Right).toString(QKeySequence::NativeText)));
    EXPECT_TRUE(w.cmdNextFrame->toolTip().contains(
        QKeySequence(Qt::ShiftModifier | Qt::Key_Right).toString(QKeySequence::NativeText)));

    // A focused list or button does not take the arrows and Space.
    w.cmbVideoSize->setFocus();
    d.press(Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_EQ(w.SliderTimePosition1->value(), 2);
    EXPECT_EQ(w.cmbVideoSize->currentIndex(), 0);
    d.press(Qt::Key_Space);
    EXPECT_TRUE(w.Playing);
    // Space held down: its repeats do not stop playback again; a held arrow steps on every repeat.
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QString(" "), true);
    QApplication::sendEvent(&w, &repeat);
    EXPECT_TRUE(w.Playing);
    d.press(Qt::Key_Space);
    EXPECT_FALSE(w.Playing);
    const int before = w.SliderTimePosition2->value();
    QKeyEvent heldArrow(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(&w, &heldArrow);
    EXPECT_EQ(w.SliderTimePosition2->value(), before + 1);
}

TEST(DesktopKeys, CommandKeysClickTheirButtonsAndTextBoxesKeepTheirKeys) {
    DesktopWindow d;
    frmMain& w = d.w;
    d.open("avi_noaudio");
    QSignalSpy opened(w.cmdFile, &QPushButton::clicked), cut(w.cmdCut, &QPushButton::clicked),
        split(w.cmdSplit, &QPushButton::clicked);
    d.press(Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(opened.count(), 1);
    EXPECT_EQ(d.dialogs.shownFileDialogs.size(), 1);  // the open dialog (answered Cancel)
    d.press(Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(cut.count(), 1);
    d.press(Qt::Key_K, Qt::ControlModifier);
    EXPECT_EQ(split.count(), 1);
    EXPECT_TRUE(w.FileLoaded);

    // While a text box has the focus it gets the keys, and the markers stay.
    w.EdOutFile->setEnabled(true);
    w.EdOutFile->clear();
    w.EdOutFile->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), w.EdOutFile);
    d.press(Qt::Key_Right);
    d.press(Qt::Key_Space);
    d.press(Qt::Key_F);
    EXPECT_EQ(w.SliderTimePosition1->value(), 1);
    EXPECT_FALSE(w.Playing);
    EXPECT_EQ(w.previewFullScreenWindow(), nullptr);
    EXPECT_EQ(w.EdOutFile->text(), " f");

    // Once a source opens nothing that takes typing has the focus: the arrows step at once.
    ASSERT_TRUE(dropFiles(w, {QUrl::fromLocalFile(clips::get("avi_mjpeg_pcm").path)}));
    EXPECT_NE(QApplication::focusWidget(), w.EdOutFile);
    d.press(Qt::Key_Right);
    EXPECT_EQ(w.SliderTimePosition1->value(), 2);
}

TEST(DesktopDrop, TheFirstDroppedFileOpensAndNamesTheWindow) {
    DesktopWindow d;
    frmMain& w = d.w;
    const QString programTitle = w.windowTitle();
    EXPECT_FALSE(dropFiles(w, {QUrl("https://example.com/clip.avi")}));  // nothing to open here
    const clips::Clip first = clips::get("mkv_mpeg4_vorbis"), second = clips::get("avi_noaudio");
    ASSERT_TRUE(dropFiles(w, {QUrl::fromLocalFile(first.path), QUrl::fromLocalFile(second.path)}));
    EXPECT_TRUE(w.FileLoaded);
    EXPECT_EQ(w.txtFile->text(), first.path);
    EXPECT_EQ(w.SliderTimePosition1->maximum(), first.frames);
    EXPECT_EQ(w.windowTitle(), QFileInfo(first.path).fileName() + QString::fromUtf8(" \u2014 ") + programTitle);

    // A file that is no video: the window's message, the previous file open again, and its title.
    QTemporaryDir folder;
    const QString notVideo = folder.filePath("notes.avi");
    QFile text(notVideo);
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("not a video at all\n");
    text.close();
    ASSERT_TRUE(dropFiles(w, {QUrl::fromLocalFile(notVideo)}));
    ASSERT_EQ(d.messages().size(), 1);
    EXPECT_TRUE(w.FileLoaded);
    EXPECT_EQ(w.txtFile->text(), first.path);
    EXPECT_TRUE(w.windowTitle().startsWith(QFileInfo(first.path).fileName()));

    // No drop while the video plays, as the open button is off then too.
    w.cmdPlayStop->click();
    ASSERT_TRUE(w.Playing);
    EXPECT_FALSE(dropFiles(w, {QUrl::fromLocalFile(second.path)}));
    w.cmdPlayStop->click();
    EXPECT_EQ(w.txtFile->text(), first.path);
}

TEST(DesktopPreview, DoubleClickShowsThePictureFullScreenAndKeysGoOnThere) {
    DesktopWindow d;
    frmMain& w = d.w;
    QTest::mouseDClick(w.VideoView1, Qt::LeftButton);  // nothing open: the idle picture stays
    EXPECT_EQ(w.previewFullScreenWindow(), nullptr);
    d.open("mp4_h264_aac");
    w.setListIndex(w.cmbVideoSize, 4);  // 200 %
    const QRect place = w.VideoView1->geometry();

    QTest::mouseDClick(w.VideoView1, Qt::LeftButton);
    QWidget* stage = w.previewFullScreenWindow();
    ASSERT_NE(stage, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(stage));
    EXPECT_TRUE(stage->isFullScreen());
    EXPECT_EQ(w.VideoView1->window(), stage);
    // The picture takes the screen above the timeline strip, which comes along under it.
    const QSize screenSize = stage->screen()->geometry().size() - QSize(0, TimelineStrip::kStripHeight);
    EXPECT_EQ(w.VideoView1->size(), screenSize);
    EXPECT_EQ(w.Timeline1->window(), stage);
    // The whole picture, as large as the screen allows, in the clip's shape.
    const QRect drawn = w.VideoView1->targetRect();
    EXPECT_TRUE(drawn.width() == screenSize.width() || drawn.height() == screenSize.height());
    EXPECT_TRUE(QRect(QPoint(), screenSize).contains(drawn));
    const clips::Clip clip = clips::get("mp4_h264_aac");
    EXPECT_NEAR(double(drawn.width()) / drawn.height(), double(clip.width) / clip.height, 0.01);

    // Stepping, dragging and playback draw into it.
    stage->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(stage));
    d.press(Qt::Key_Right);
    EXPECT_EQ(d.shown(), 2);
    w.SliderTimePosition1->setValue(20);  // where a dragged thumb puts the marker
    EXPECT_EQ(clips::frameNumberOf(w.VideoView1->currentFrame()), 20);
    d.press(Qt::Key_Space);
    EXPECT_TRUE(w.Playing);
    EXPECT_TRUE(w.VideoView1->isPlaying());
    d.press(Qt::Key_Space);
    w.setListIndex(w.cmbVideoSize, 1);  // chosen in the window meanwhile (100 %)

    // Esc returns the view to its place, at the size chosen in the window's list.
    d.press(Qt::Key_Escape);
    EXPECT_EQ(w.previewFullScreenWindow(), nullptr);
    EXPECT_EQ(w.VideoView1->parentWidget(), w.FrameCutEditor);
    EXPECT_EQ(w.VideoView1->geometry(), place);
    EXPECT_EQ(w.VideoView1->ViewSize(), 1);
    EXPECT_TRUE(w.VideoView1->isVisible());

    // F and a second double-click go there and back too; closing the window takes it along.
    d.press(Qt::Key_F);
    ASSERT_NE(w.previewFullScreenWindow(), nullptr);
    QTest::mouseDClick(w.VideoView1, Qt::LeftButton);
    EXPECT_EQ(w.previewFullScreenWindow(), nullptr);
    d.press(Qt::Key_F);
    ASSERT_NE(w.previewFullScreenWindow(), nullptr);
    d.closeWindow();
    EXPECT_EQ(d.programEnds, 1);
}

// The help viewer is looked up off the window's thread; true once the answer was acted on.
bool helpAnswered(const frmMain& w) {
    return QTest::qWaitFor([&] { return !w.helpLookupRunning(); }, 10000);
}

TEST(DesktopHelp, OpensTheChmWithAViewerElseThePagesElseSaysWhere) {
    FakePlatform fake;
    DesktopWindow d;
    frmMain& w = d.w;
    const QString folder = qEnvironmentVariable("KORVELIN_PROGRAM_DIR");
    ASSERT_TRUE(QFileInfo::exists(folder + "/help/index.html"));

    fake.handlers["text/html"] = "firefox-esr.desktop";
    fake.handlers["application/x-chm"] = "xchm.desktop";
    w.Skin1_ElementClick(SkinElement("Help"));
    ASSERT_TRUE(helpAnswered(w));
    ASSERT_EQ(fake.openedDocuments.size(), 1);
    EXPECT_EQ(fake.openedDocuments.takeFirst(), folder + "/kvl.chm");

    // No CHM viewer: the same pages in the browser (F1 asks as the Help button does).
    fake.handlers.remove("application/x-chm");
    d.press(Qt::Key_F1);
    ASSERT_TRUE(helpAnswered(w));
    ASSERT_EQ(fake.openedDocuments.size(), 1);
    EXPECT_EQ(fake.openedDocuments.takeFirst(), folder + "/help/index.html");

    // Nothing opens either: a message says where the pages are.
    fake.handlers.clear();
    w.Skin1_ElementClick(SkinElement("Help"));
    ASSERT_TRUE(helpAnswered(w));
    EXPECT_TRUE(fake.openedDocuments.isEmpty());
    ASSERT_EQ(d.messages().size(), 1);
    EXPECT_TRUE(d.messages()[0].startsWith(w.Messages[Msg::HelpNotOpened]));
    EXPECT_TRUE(d.messages()[0].endsWith(folder + "/help/index.html"));
    EXPECT_FALSE(w.Messages[Msg::HelpNotOpened].isEmpty());
    EXPECT_NE(w.Messages[Msg::HelpNotOpened], "Default");
}

// The window answers while the desktop is asked; a close meanwhile ends the program, and the
// answer that comes after it shows nothing.
TEST(DesktopHelp, TheLookupKeepsTheWindowAnsweringAndACloseEndsTheProgram) {
    FakePlatform fake;
    QSemaphore gate;
    fake.onLookup = [&] {
        gate.tryAcquire(1, 10000);
        gate.release();
    };
    DesktopWindow d;
    d.press(Qt::Key_F1);
    EXPECT_TRUE(d.w.helpLookupRunning());
    d.w.close();
    EXPECT_EQ(d.programEnds, 1);
    gate.release();
    EXPECT_TRUE(helpAnswered(d.w));
    EXPECT_TRUE(d.messages().isEmpty());
    EXPECT_TRUE(fake.openedDocuments.isEmpty());
}

}  // namespace
