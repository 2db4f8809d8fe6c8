// The piece list in the window: pieces added and removed with keys, chosen in the list, and the
// cut that writes them as one file.
#include <QStyleOption>
#include <QtTest/QTest>

#include "window/JobsTestSupport.h"

using namespace jobstest;

TEST(PiecesWindow, KeysBuildTheListAndCutWritesItsPiecesInOrder) {
    JobWindow job;
    frmMain& w = job.w;
    job.open(clips::get("avi_mjpeg_pcm"));  // 100 frames, 25 fps, 44.1 kHz stereo
    job.chooseOutput("pieces_1.avi");
    for (const auto& [m1, m2] : {std::pair{70, 80}, std::pair{50, 40}, std::pair{10, 20}}) {
        job.setMarkers(m1, m2);
        QTest::keyClick(&w, Qt::Key_A);
    }
    ASSERT_EQ(w.lstPieces->count(), 3);
    EXPECT_EQ(w.lstPieces->item(1)->text(), w.Messages[Msg::PieceItem].arg(40).arg(50).arg(11));
    // The pieces are bands on the timeline strip, green while kept and red while removed, drawn
    // over the strip's plain background in the row between the pictures and the waveform.
    auto stripAt = [&w](int frame) {
        return w.Timeline1->grab().toImage().pixelColor(w.Timeline1->xOf(frame) + 2,
                                                        TimelineStrip::kThumbnailHeight + 1);
    };
    const QColor plain = stripAt(30), kept = stripAt(45);
    w.optRemovePieces->setChecked(true);
    const QColor removed = stripAt(45);
    w.optKeepPieces->setChecked(true);
    EXPECT_GT(kept.green() - plain.green(), kept.red() - plain.red());
    EXPECT_GT(removed.red() - plain.red(), removed.green() - plain.green());

    // A range that shares a frame with a piece is not added; the message names that piece.
    job.setMarkers(75, 90);
    QTest::keyClick(&w, Qt::Key_A);
    EXPECT_EQ(job.messages(), QStringList{w.Messages[Msg::PieceOverlaps].arg(1).arg(70).arg(80)});
    EXPECT_EQ(w.lstPieces->count(), 3);

    // Choosing a piece moves the markers to it; Delete removes it.
    w.lstPieces->setCurrentRow(1);
    EXPECT_EQ(w.selection().marker(1), 40);
    EXPECT_EQ(w.selection().marker(2), 50);
    QTest::keyClick(&w, Qt::Key_Delete);
    EXPECT_EQ(w.pieces().pieces(), (std::vector<Piece>{{70, 80}, {10, 20}}));

    job.harness.dialogs.shownMessages.clear();
    QTest::keyClick(&w, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(job.messages(), QStringList{w.Messages[Msg::CutFinished]});
    const QString file = job.path("pieces_1.avi");
    EXPECT_EQ(clips::decodeFrameNumbers(file), range(70, 80) + range(10, 20));
    expectWindowRestored(w);
    EXPECT_TRUE(w.FramePieces->isEnabled());

    // Removed instead of kept: everything else, in the source's order. While a job locks the
    // list, which way its pieces go still shows.
    w.optRemovePieces->setChecked(true);
    const auto indicator = [](QRadioButton* b) {
        QStyleOptionButton option;
        option.initFrom(b);
        return b->grab(b->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, b)).toImage();
    };
    w.FramePieces->setEnabled(false);
    EXPECT_NE(indicator(w.optKeepPieces), indicator(w.optRemovePieces));
    w.FramePieces->setEnabled(true);
    job.chooseOutput("rest_1.avi");
    w.cmdCut_Click();
    EXPECT_EQ(clips::decodeFrameNumbers(job.path("rest_1.avi")), range(1, 9) + range(21, 69) + range(81, 100));

    // A piece of one frame is named in the singular.
    job.setMarkers(95, 95);
    QTest::keyClick(&w, Qt::Key_A);
    EXPECT_EQ(w.lstPieces->item(w.lstPieces->count() - 1)->text(), w.Messages[Msg::PieceItemOneFrame].arg(95));

    // The list belongs to its source.
    job.open(clips::get("avi_mjpeg_pcm"));
    EXPECT_EQ(w.lstPieces->count(), 0);
    EXPECT_FALSE(w.cmdClearPieces->isEnabled());
}
