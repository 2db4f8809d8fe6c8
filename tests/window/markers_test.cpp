// Markers in the real window: stepping, the frame on show, labels, thumbs and the band.
#include <gtest/gtest.h>
#include <QApplication>
#include <QMouseEvent>
#include <functional>

#include "rules/MarkerRules.h"
#include "rules/Selection.h"
#include "support/Clips.h"
#include "support/WindowHarness.h"

namespace {

struct OpenWindow : WindowHarness {
    frmMain& w;
    OpenWindow() : w(*window) {
        w.OpenSourceVideo(clips::get("avi_mjpeg_pcm").path);  // 100 frames
        EXPECT_TRUE(w.FileLoaded);
    }
    int shown() const { return clips::frameNumberOf(w.FrameBits); }
};

TEST(Markers, SteppingWrapsAndShowsExactlyThatFrame) {
    OpenWindow o;
    frmMain& w = o.w;
    w.cmdPrevFrame_Click();
    EXPECT_EQ(w.SliderTimePosition1->value(), 100);
    EXPECT_EQ(o.shown(), 100);
    w.cmdNextFrame_Click();
    EXPECT_EQ(w.SliderTimePosition1->value(), 1);
    EXPECT_EQ(o.shown(), 1);
    for (int expected = 2; expected <= 12; ++expected) {
        w.cmdNextFrame_Click();
        EXPECT_EQ(o.shown(), expected);
    }
    for (int expected = 11; expected >= 3; --expected) {
        w.cmdPrevFrame_Click();
        EXPECT_EQ(o.shown(), expected);
    }
    EXPECT_TRUE(w.LabelS->caption().endsWith(" ~1"));
    EXPECT_TRUE(w.LabelS->caption().startsWith(w.Messages[Msg::Marker] + "1#: 3\r"));
    EXPECT_EQ(w.sldThum->toolTip(), w.Messages[Msg::Marker] + ":3");

    w.cmdPrevFrame2_Click();
    EXPECT_EQ(w.SliderTimePosition2->value(), 100);
    EXPECT_EQ(o.shown(), 100);
    EXPECT_EQ(w.CutEndValue, 100);
    EXPECT_TRUE(w.LabelS->caption().endsWith(" ~2"));
    w.cmdNextFrame2_Click();
    EXPECT_EQ(w.SliderTimePosition2->value(), 1);
    EXPECT_EQ(o.shown(), 1);
    EXPECT_EQ(w.CutEndValue, 1);
}

// The handlers read the markers from the selection, the user sees the sliders: both must agree
// however a marker moves.
TEST(Markers, TheSlidersShowTheSelectionHoweverAMarkerMoves) {
    OpenWindow o;
    frmMain& w = o.w;
    const Selection& s = w.selection();
    auto expectShown = [&](int m1, int m2, int last) {
        EXPECT_EQ(s.marker(1), m1);
        EXPECT_EQ(s.marker(2), m2);
        EXPECT_EQ(s.lastFrame(), last);
        EXPECT_EQ(w.SliderTimePosition1->value(), m1);
        EXPECT_EQ(w.SliderTimePosition2->value(), m2);
        EXPECT_EQ(w.SliderTimePosition1->maximum(), last);
        EXPECT_EQ(w.SliderTimePosition2->maximum(), last);
    };
    expectShown(1, 1, 100);
    w.SliderTimePosition2->setValue(500);  // past the end: the last frame
    w.cmdPrevFrame_Click();                // back from the first frame: the last
    expectShown(100, 100, 100);
    w.cmdNextFrame2_Click();
    expectShown(100, 1, 100);
    EXPECT_EQ(o.shown(), 1);
    // A shorter source: both markers back to its first frame, the range its frames.
    w.SliderTimePosition2->setValue(90);
    w.OpenSourceVideo(clips::get("avi_noaudio").path);  // 50 frames
    ASSERT_TRUE(w.FileLoaded);
    expectShown(1, 1, 50);
    w.cmdPrevFrame2_Click();
    expectShown(1, 50, 50);
    EXPECT_EQ(o.shown(), 50);
}

TEST(Markers, MarkerOneLeavesCutStartAloneAndInternalChangesDoNotSeek) {
    OpenWindow o;
    frmMain& w = o.w;
    w.CutStartValue = 7;
    w.SliderTimePosition1->setValue(40);
    EXPECT_EQ(w.CutStartValue, 7);
    EXPECT_EQ(o.shown(), 40);
    const int current = w.VideoFileIn1->CurrentFrame();
    const int32_t cutEnd = w.CutEndValue;
    const float thumbBefore = w.sldThum2->Left();
    w.InternalMarkerChange = true;
    w.SliderTimePosition2->setValue(80);
    w.InternalMarkerChange = false;
    EXPECT_EQ(w.VideoFileIn1->CurrentFrame(), current);  // the reader did not move
    EXPECT_EQ(o.shown(), 40);                            // nor did the preview
    EXPECT_EQ(w.CutEndValue, cutEnd);
    EXPECT_GT(w.sldThum2->Left(), thumbBefore);  // but the thumb, label and band did
    EXPECT_TRUE(w.LabelS->caption().contains("2#: 80"));
    EXPECT_EQ(w.sldThum2->toolTip(), w.Messages[Msg::Marker] + ":80");
}

TEST(Markers, BandFollowsTheMarkersInEitherOrder) {
    OpenWindow o;
    frmMain& w = o.w;
    auto expectBand = [&] {
        const Band b = bandBetween(w.SliderTimePosition1->value(), 100, w.sldBack->Left(), w.sldBack->Width(),
                                   w.sldThum->Width(), w.SliderTimePosition2->value(), 100, w.sldBack2->Left(),
                                   w.sldBack2->Width(), w.sldThum2->Width());
        EXPECT_FLOAT_EQ(w.lblreg->Left(), float(b.left));
        EXPECT_FLOAT_EQ(w.lblreg->Width(), float(b.width));
    };
    w.SliderTimePosition1->setValue(20);
    w.SliderTimePosition2->setValue(70);
    expectBand();
    const float orderedLeft = w.lblreg->Left(), orderedWidth = w.lblreg->Width();
    w.SliderTimePosition1->setValue(70);
    w.SliderTimePosition2->setValue(20);
    expectBand();
    // Each centre is measured on its own strip; strip 2 starts 15 twips left of strip 1.
    EXPECT_FLOAT_EQ(w.lblreg->Left(), orderedLeft - 15);
    EXPECT_FLOAT_EQ(w.lblreg->Width(), orderedWidth + 30);
    w.SliderTimePosition1->setValue(20);
    expectBand();
    // On the same frame the band only spans the strips' offset (15 twips).
    EXPECT_FLOAT_EQ(w.lblreg->Width(), w.sldBack->Left() - w.sldBack2->Left());
}

// A real pointer: each move is sent where the pointer now is relative to the thumb, which
// may itself have moved since the last event.
void dragThumb(PictureBox* thumb, int grabX, const QList<int>& pointerXs, std::function<void()> beforeRelease = {}) {
    const QPoint globalStart = thumb->mapToGlobal(QPoint(grabX, 3));
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(grabX, 3), QPointF(globalStart), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(thumb, &press);
    QPoint global = globalStart;
    for (int x : pointerXs) {
        global = QPoint(x, globalStart.y());
        const QPointF local = thumb->mapFromGlobal(QPointF(global));
        QMouseEvent move(QEvent::MouseMove, local, QPointF(global), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        if (thumb->isEnabled()) QApplication::sendEvent(thumb, &move);
    }
    if (beforeRelease) beforeRelease();
    const QPointF local = thumb->mapFromGlobal(QPointF(global));
    QMouseEvent release(QEvent::MouseButtonRelease, local, QPointF(global), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    if (thumb->isEnabled()) QApplication::sendEvent(thumb, &release);
}

TEST(Thumbs, TheThumbFollowsTheMouseAndThePreviewFollowsTheThumb) {
    OpenWindow o;
    frmMain& w = o.w;
    const int start = w.sldThum->mapToGlobal(QPoint(4, 3)).x();
    int32_t timeAtLastMove = -1;
    dragThumb(w.sldThum, 4, {start + 40, start + 80, start + 120, start + 160},
              [&] { timeAtLastMove = w.VideoFileIn1->VideoTime(); });
    EXPECT_FALSE(w.MoveShape);
    const int value = w.SliderTimePosition1->value();
    EXPECT_GT(value, 30);
    EXPECT_LT(value, 60);
    EXPECT_EQ(o.shown(), value);
    // The thumb rests where the thumb rule puts the chosen frame, near the pointer.
    EXPECT_FLOAT_EQ(w.sldThum->Left(),
                    thumbLeft(value, 100, w.sldBack->Left(), w.sldBack->Width(), w.sldThum->Width()));
    // The drag mapping and the thumb rule are not exact inverses: the thumb may rest up to
    // about two frame steps (3.8 pixels each here) from the pointer.
    EXPECT_NEAR(w.sldThum->mapToGlobal(QPoint(4, 3)).x(), start + 160, 8);
    EXPECT_EQ(w.PlayPosition[1], timeAtLastMove);
    EXPECT_TRUE(w.sldThum->isEnabled());
}

TEST(Thumbs, DraggingPastEitherEndClampsAndEndsTheDrag) {
    OpenWindow o;
    frmMain& w = o.w;
    w.SliderTimePosition2->setValue(50);
    const int start = w.sldThum2->mapToGlobal(QPoint(4, 3)).x();
    dragThumb(w.sldThum2, 4, {start - 100, start - 2000, start + 50});
    EXPECT_EQ(w.SliderTimePosition2->value(), 1);
    EXPECT_FLOAT_EQ(w.sldThum2->Left(), w.sldBack2->Left());
    EXPECT_FALSE(w.MoveShape2);
    EXPECT_TRUE(w.sldThum2->isEnabled());
    EXPECT_EQ(o.shown(), 1);

    const int again = w.sldThum->mapToGlobal(QPoint(4, 3)).x();
    dragThumb(w.sldThum, 4, {again + 3000});
    EXPECT_EQ(w.SliderTimePosition1->value(), 100);
    EXPECT_FLOAT_EQ(w.sldThum->Left() + w.sldThum->Width(), w.sldBack->Left() + w.sldBack->Width());
    EXPECT_EQ(o.shown(), 100);
}

TEST(Thumbs, AMoveWithoutMouseDownDoesNothing) {
    OpenWindow o;
    frmMain& w = o.w;
    const float before = w.sldThum->Left();
    w.sldThum_MouseMove(1, 0, 900, 10);
    EXPECT_EQ(w.sldThum->Left(), before);
    EXPECT_EQ(w.SliderTimePosition1->value(), 1);
}

}  // namespace
