// The piece list: editing it, the ranges a cut writes from it, and what refuses it.
#include <gtest/gtest.h>

#include "rules/PieceList.h"

TEST(PieceList, EditingKeepsTheSelectionOnThePieceItActsOn) {
    PieceList list;
    list.add(50, 10);  // markers in either order
    list.add(60, 70);
    list.add(80, 90);
    EXPECT_EQ(list.pieces().front(), (Piece{10, 50}));
    EXPECT_EQ(list.selected(), 2);
    EXPECT_FALSE(list.moveDown());
    EXPECT_TRUE(list.moveUp());
    EXPECT_EQ(list.selected(), 1);
    EXPECT_EQ(list.pieces()[1], (Piece{80, 90}));
    list.select(0);
    EXPECT_FALSE(list.moveUp());
    EXPECT_TRUE(list.removeSelected());
    EXPECT_EQ(list.pieces(), (std::vector<Piece>{{80, 90}, {60, 70}}));
    EXPECT_EQ(list.selected(), 0);  // the next piece
    list.select(1);
    list.removeSelected();
    EXPECT_EQ(list.selected(), 0);  // the last one went: the one before
    list.select(7);
    EXPECT_EQ(list.selected(), -1);
    EXPECT_FALSE(list.removeSelected());
    list.clear();
    EXPECT_TRUE(list.empty());
}

TEST(PieceList, KeptPiecesGoInListOrderRemovedOnesLeaveTheRestInSourceOrder) {
    PieceList list;
    list.add(200, 260);
    list.add(10, 40);
    list.add(100, 150);
    EXPECT_EQ(list.rangesToWrite(300), (std::vector<Piece>{{200, 260}, {10, 40}, {100, 150}}));
    list.setMode(PieceMode::Remove);
    EXPECT_EQ(list.rangesToWrite(300), (std::vector<Piece>{{1, 9}, {41, 99}, {151, 199}, {261, 300}}));
    // Removing from the very start and to the very end leaves no empty range behind.
    PieceList edges;
    edges.setMode(PieceMode::Remove);
    edges.add(1, 30);
    edges.add(71, 100);
    EXPECT_EQ(edges.rangesToWrite(100), (std::vector<Piece>{{31, 70}}));
}

TEST(PieceList, ProblemsNameEveryBadPiece) {
    PieceList list;
    list.addAsGiven({10, 50});
    list.addAsGiven({40, 60});    // overlaps the first
    list.addAsGiven({90, 80});    // reversed
    list.addAsGiven({95, 120});   // past the end
    list.addAsGiven({100, 100});  // overlaps the one before, a single frame
    const auto problems = list.problems(100);
    const QStringList text = describeProblems(list, problems, 100);
    EXPECT_EQ(text, (QStringList{"piece 1 (frames 10-50) overlaps piece 2 (frames 40-60)",
                                 "piece 3 (frames 90-80) ends before it starts",
                                 "piece 4 (frames 95-120) lies outside frames 1-100",
                                 "piece 4 (frames 95-120) overlaps piece 5 (frames 100-100)"}));
    EXPECT_EQ(list.overlapping({55, 58}), 1);
    EXPECT_EQ(list.overlapping({55, 58}, 1), -1);

    PieceList all;
    all.setMode(PieceMode::Remove);
    all.add(1, 100);
    EXPECT_EQ(describeProblems(all, all.problems(100), 100), QStringList{"the pieces removed leave no frame to write"});
    all.setMode(PieceMode::Keep);
    EXPECT_TRUE(all.problems(100).empty());
}
