// The timeline strip in the real window: its keys, a click and drag on it, the background
// thumbnails and waveform, the bands it is given, and the strip in the full-screen preview.
#include <gtest/gtest.h>
#include <QApplication>
#include <QProcess>
#include <QTest>

#include "rules/TimelineLayout.h"
#include "support/Clips.h"
#include "support/WindowHarness.h"

namespace {

struct TimelineWindow : WindowHarness {
    frmMain& w;
    TimelineStrip& strip;
    TimelineWindow() : w(*window), strip(*window->Timeline1) {
        w.show();
        w.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&w));
    }
    void open(const QString& clip) {
        w.OpenSourceVideo(clips::get(clip).path);
        ASSERT_TRUE(w.FileLoaded) << messages().join(" | ").toStdString();
    }
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : QApplication::activeWindow();
        QTest::keyClick(target ? target : &w, key, modifiers);
    }
    int shown() const { return clips::frameNumberOf(w.FrameBits); }
    bool backgroundDone() {
        return QTest::qWaitFor(
            [&] { return strip.waveformReady() && strip.thumbnailsReady() == strip.thumbnailsWanted(); }, 20000);
    }
};

// The frames ffprobe marks as key frames (1-based, in presentation order).
QList<int> probedKeyFrames(const QString& path) {
    QProcess probe;
    probe.start("ffprobe",
                {"-v", "error", "-select_streams", "v:0", "-show_entries", "frame=key_frame", "-of", "csv=p=0", path});
    probe.waitForFinished(60000);
    QList<int> keys;
    int frame = 0;
    for (const QByteArray& line : probe.readAllStandardOutput().split('\n')) {
        if (line.trimmed().isEmpty()) continue;  // a frame's side data prints an empty line
        ++frame;
        if (line.trimmed().startsWith("1")) keys << frame;
    }
    return keys;
}

TEST(TimelineWindow, AltArrowsLandOnKeyFramesAndTheOtherKeysMoveTheDrivenMarker) {
    TimelineWindow t;
    t.open("ts_h264_mp2");  // 100 frames at 25 fps, a key frame every 25
    const QList<int> keys = probedKeyFrames(clips::get("ts_h264_mp2").path);
    ASSERT_GE(t.strip.cleanStarts().size(), 3u);
    // Every tick is a key frame to ffprobe.
    for (const int32_t frame : t.strip.cleanStarts()) EXPECT_TRUE(keys.contains(frame)) << frame;
    t.press(Qt::Key_Right, Qt::AltModifier);
    const int second = t.strip.cleanStarts()[1];
    EXPECT_EQ(t.w.SliderTimePosition1->value(), second);
    EXPECT_EQ(t.shown(), second);
    EXPECT_TRUE(keys.contains(t.shown()));
    t.press(Qt::Key_Right, Qt::AltModifier);
    EXPECT_EQ(t.shown(), t.strip.cleanStarts()[2]);
    t.press(Qt::Key_Left, Qt::AltModifier);
    EXPECT_EQ(t.shown(), second);

    struct Step {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int expected;
    };
    const Step steps[] = {
        {Qt::Key_Home, Qt::NoModifier, 1},       {Qt::Key_Right, Qt::ControlModifier, 26},  // one second
        {Qt::Key_PageDown, Qt::NoModifier, 36},  {Qt::Key_End, Qt::NoModifier, 100},
        {Qt::Key_PageDown, Qt::NoModifier, 100}, {Qt::Key_PageUp, Qt::NoModifier, 90},
        {Qt::Key_Left, Qt::ControlModifier, 65},
    };
    for (const Step& s : steps) {
        t.press(s.key, s.modifiers);
        EXPECT_EQ(t.w.SliderTimePosition1->value(), s.expected) << QKeySequence(s.key).toString().toStdString();
        EXPECT_EQ(t.shown(), s.expected);
    }
    // With the second marker driven, the keys move it and leave the first.
    t.w.cmbPlaySld->setCurrentIndex(1);
    t.press(Qt::Key_Home);
    EXPECT_EQ(t.w.SliderTimePosition2->value(), 1);
    EXPECT_EQ(t.w.SliderTimePosition1->value(), 65);
    // Ending the range, it stops just before key frames: the cut then encodes none of them.
    t.press(Qt::Key_End);
    t.press(Qt::Key_Left, Qt::AltModifier);
    const int end = t.w.SliderTimePosition2->value();
    EXPECT_EQ(end, t.strip.cleanStarts().back() - 1);
    EXPECT_TRUE(keys.contains(end + 1));
    EXPECT_TRUE(t.strip.toolTip().contains(QKeySequence(Qt::ALT | Qt::Key_Right).toString(QKeySequence::NativeText)));
}

TEST(TimelineWindow, AClickOrDragOnTheStripMovesTheDrivenMarkerAndCtrlWheelZooms) {
    TimelineWindow t;
    t.open("long_mpeg4");  // 600 frames
    TimelineStrip& strip = t.strip;
    const int x = strip.xOf(300) + 1;
    QTest::mouseClick(&strip, Qt::LeftButton, {}, QPoint(x, 20));
    EXPECT_EQ(t.w.SliderTimePosition1->value(), frameAtX(strip.view(), x));
    EXPECT_NEAR(t.w.SliderTimePosition1->value(), 300, 1);
    EXPECT_EQ(t.shown(), t.w.SliderTimePosition1->value());
    // A drag follows the pointer.
    QTest::mousePress(&strip, Qt::LeftButton, {}, QPoint(x, 20));
    QMouseEvent move(QEvent::MouseMove, QPointF(strip.xOf(450) + 1, 20), strip.mapToGlobal(QPointF(0, 0)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&strip, &move);
    QTest::mouseRelease(&strip, Qt::LeftButton, {}, QPoint(strip.xOf(450) + 1, 20));
    EXPECT_NEAR(t.w.SliderTimePosition1->value(), 450, 1);
    // Ctrl+wheel zooms in around the pointer: the frame under it stays.
    const int32_t under = frameAtX(strip.view(), x);
    QWheelEvent wheel(QPointF(x, 20), strip.mapToGlobal(QPointF(x, 20)), {}, QPoint(0, 480), Qt::NoButton,
                      Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&strip, &wheel);
    EXPECT_LT(strip.view().span, 600 / 2.0);
    EXPECT_NEAR(frameAtX(strip.view(), x), under, 1);
}

TEST(TimelineWindow, ThumbnailsAndWaveformArriveInTheBackgroundAndStopWithTheSource) {
    TimelineWindow t;
    t.open("long_mpeg4");
    ASSERT_TRUE(t.backgroundDone());
    EXPECT_GT(t.strip.thumbnailsReady(), 5);
    EXPECT_GT(t.strip.cacheBytes(), 0);
    // The strip's pictures are the key frames themselves: the first cell shows frame 1's picture.
    const QImage drawn = t.strip.grab().toImage();
    EXPECT_NE(drawn.pixelColor(5, 5), QColor(0x20, 0x22, 0x26));  // not the strip's background
    // The clip's tone is drawn as the waveform around the middle of the band under the pictures.
    const int waveMiddle = TimelineStrip::kThumbnailHeight + 2 + (TimelineStrip::kStripHeight - 40) / 2;
    EXPECT_EQ(drawn.pixelColor(t.strip.width() / 2, waveMiddle), QColor(0x6c, 0xb4, 0xe8));
    // Opening another source while the work runs stops it at once; the new source's work follows.
    t.open("mp4_h264_aac");
    t.open("long_mpeg4");
    t.open("ts_h264_mp2");
    ASSERT_TRUE(t.backgroundDone());
    EXPECT_EQ(t.strip.view().frameCount, 100);
    // A job holds the work: nothing arrives while it runs, and the work completes afterwards.
    t.open("long_mpeg4");
    t.strip.holdWork();
    const int held = t.strip.thumbnailsReady();
    QTest::qWait(300);
    EXPECT_EQ(t.strip.thumbnailsReady(), held);
    t.strip.resumeWork();
    ASSERT_TRUE(t.backgroundDone());
    EXPECT_TRUE(QTest::qWaitFor([&] { return t.strip.blackMarksReady(); }, 60000));
}

TEST(TimelineWindow, BandsAreDrawnInTheirColoursAndTheStripGoesFullScreen) {
    TimelineWindow t;
    t.open("avi_noaudio");  // 50 frames
    t.strip.setMarkers(1, 1);
    const QImage before = t.strip.grab().toImage();
    t.strip.setBands({{10, 20, TimelineStrip::BandKind::Kept}, {30, 40, TimelineStrip::BandKind::Removed}});
    ASSERT_EQ(t.strip.bands().size(), 2u);
    const QImage after = t.strip.grab().toImage();
    const int y = TimelineStrip::kStripHeight - 3;
    // In the middle of a frame's place, away from the key-frame ticks at its left edge.
    auto at = [&](const QImage& image, int frame) { return image.pixelColor(t.strip.xOf(frame) + 4, y); };
    const QColor kept = at(after, 15), removed = at(after, 35);
    EXPECT_NE(kept, at(before, 15));
    EXPECT_GT(kept.green(), kept.red());
    EXPECT_GT(removed.red(), removed.green());
    EXPECT_EQ(at(after, 25), at(before, 25));

    t.press(Qt::Key_F);
    QWidget* stage = t.w.previewFullScreenWindow();
    ASSERT_TRUE(stage);
    EXPECT_EQ(t.strip.window(), stage);
    t.press(Qt::Key_Escape);
    EXPECT_EQ(t.strip.window(), &t.w);
    EXPECT_EQ(t.strip.height(), TimelineStrip::kStripHeight);
}

}  // namespace
