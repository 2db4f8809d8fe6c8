#pragma once
// The pieces of one source that a cut writes as one file. Each piece is a range of frames the
// user marked; the list either keeps them (written in the list's order) or removes them
// (everything else is written, in the source's order). An empty list leaves the cut to the
// two markers.
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

// Frames first..last of the source, 1-based.
struct Piece {
    int32_t first = 0, last = 0;
    int32_t length() const { return last - first + 1; }
    friend bool operator==(const Piece&, const Piece&) = default;
};

enum class PieceMode { Keep, Remove };

// What is wrong with a list, for a refusal: `piece` (and `other`) are 0-based list positions.
struct PieceProblem {
    enum class Kind { Reversed, OutOfRange, Overlap, NothingLeft };
    Kind kind;
    int piece = -1;
    int other = -1;
};

class PieceList {
public:
    const std::vector<Piece>& pieces() const { return pieces_; }
    bool empty() const { return pieces_.empty(); }
    int size() const { return int(pieces_.size()); }
    // The selected piece's position, -1 when none is.
    int selected() const { return selected_; }

    PieceMode mode() const { return mode_; }
    void setMode(PieceMode mode) { mode_ = mode; }

    // Adds frames a..b (either order) at the end of the list and selects it.
    void add(int32_t a, int32_t b);
    // Adds the piece as given, reversed or not (a request from the command line, checked later).
    void addAsGiven(Piece piece);
    // Selects the piece at `index`; an index outside the list selects none.
    void select(int index);
    // Moves the selected piece one place up or down, the selection with it. False when it
    // cannot move (none selected, or already at that end).
    bool moveUp();
    bool moveDown();
    // Removes the selected piece; the one after it (else the one before) is selected next.
    bool removeSelected();
    void clear();

    // The first piece other than `except` that shares a frame with a..b, -1 when none does.
    int overlapping(Piece range, int except = -1) const;
    // Everything that keeps the list from being written from a source of frameCount frames.
    std::vector<PieceProblem> problems(int32_t frameCount) const;
    // The ranges a cut writes, in order: the pieces in list order when they are kept, the
    // frames between them in source order when they are removed. Assumes no problems.
    std::vector<Piece> rangesToWrite(int32_t frameCount) const;

private:
    std::vector<Piece> pieces_;
    int selected_ = -1;
    PieceMode mode_ = PieceMode::Keep;
};

// The wording of each kind of problem; the window takes it from its language. %1 is the piece's
// position (1-based), %2 and %3 its first and last frame; for an overlap %4 is the other piece's
// position and %5, %6 its frames; outside the source, %4 is the source's last frame.
struct PieceProblemTexts {
    QString reversed = QStringLiteral("piece %1 (frames %2-%3) ends before it starts");
    QString outOfRange = QStringLiteral("piece %1 (frames %2-%3) lies outside frames 1-%4");
    QString overlap = QStringLiteral("piece %1 (frames %2-%3) overlaps piece %4 (frames %5-%6)");
    QString nothingLeft = QStringLiteral("the pieces removed leave no frame to write");
};

// One line per problem, naming the pieces by their position (1-based) and frames.
QStringList describeProblems(const PieceList& list, const std::vector<PieceProblem>& problems, int32_t frameCount,
                             const PieceProblemTexts& texts = {});
