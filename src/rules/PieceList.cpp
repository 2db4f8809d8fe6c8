#include "rules/PieceList.h"

#include <algorithm>
#include <numeric>
#include <utility>

void PieceList::add(int32_t a, int32_t b) { addAsGiven({std::min(a, b), std::max(a, b)}); }

void PieceList::addAsGiven(Piece piece) {
    pieces_.push_back(piece);
    selected_ = size() - 1;
}

void PieceList::select(int index) { selected_ = index >= 0 && index < size() ? index : -1; }

bool PieceList::moveUp() {
    if (selected_ <= 0) return false;
    std::swap(pieces_[selected_], pieces_[selected_ - 1]);
    --selected_;
    return true;
}

bool PieceList::moveDown() {
    if (selected_ < 0 || selected_ + 1 >= size()) return false;
    std::swap(pieces_[selected_], pieces_[selected_ + 1]);
    ++selected_;
    return true;
}

bool PieceList::removeSelected() {
    if (selected_ < 0) return false;
    pieces_.erase(pieces_.begin() + selected_);
    if (selected_ >= size()) selected_ = size() - 1;
    return true;
}

void PieceList::clear() {
    pieces_.clear();
    selected_ = -1;
}

int PieceList::overlapping(Piece range, int except) const {
    for (int i = 0; i < size(); ++i)
        if (i != except && pieces_[i].first <= range.last && range.first <= pieces_[i].last) return i;
    return -1;
}

std::vector<PieceProblem> PieceList::problems(int32_t frameCount) const {
    using Kind = PieceProblem::Kind;
    std::vector<PieceProblem> found;
    for (int i = 0; i < size(); ++i) {
        const Piece& p = pieces_[i];
        if (p.first > p.last) {
            found.push_back({Kind::Reversed, i});
            continue;
        }
        if (p.first < 1 || p.last > frameCount) found.push_back({Kind::OutOfRange, i});
        // Each pair once: against the pieces after it.
        for (int j = i + 1; j < size(); ++j) {
            const Piece& q = pieces_[j];
            if (q.first <= q.last && p.first <= q.last && q.first <= p.last) found.push_back({Kind::Overlap, i, j});
        }
    }
    if (found.empty() && mode_ == PieceMode::Remove && rangesToWrite(frameCount).empty())
        found.push_back({Kind::NothingLeft});
    return found;
}

std::vector<Piece> PieceList::rangesToWrite(int32_t frameCount) const {
    if (mode_ == PieceMode::Keep) return pieces_;
    std::vector<Piece> removed = pieces_;
    std::sort(removed.begin(), removed.end(), [](const Piece& a, const Piece& b) { return a.first < b.first; });
    std::vector<Piece> kept;
    int32_t next = 1;  // the first frame not yet written or removed
    for (const Piece& r : removed) {
        if (r.first > next) kept.push_back({next, r.first - 1});
        next = std::max(next, r.last + 1);
    }
    if (next <= frameCount) kept.push_back({next, frameCount});
    return kept;
}

QStringList describeProblems(const PieceList& list, const std::vector<PieceProblem>& problems, int32_t frameCount,
                             const PieceProblemTexts& texts) {
    // The text with the piece's position and frames, as %1 to %3.
    auto named = [&](const QString& text, int i) {
        const Piece& p = list.pieces()[i];
        return text.arg(i + 1).arg(p.first).arg(p.last);
    };
    QStringList lines;
    for (const PieceProblem& p : problems) {
        switch (p.kind) {
            case PieceProblem::Kind::Reversed: lines << named(texts.reversed, p.piece); break;
            case PieceProblem::Kind::OutOfRange: lines << named(texts.outOfRange, p.piece).arg(frameCount); break;
            case PieceProblem::Kind::Overlap: {
                const Piece& other = list.pieces()[p.other];
                lines << named(texts.overlap, p.piece).arg(p.other + 1).arg(other.first).arg(other.last);
                break;
            }
            case PieceProblem::Kind::NothingLeft: lines << texts.nothingLeft; break;
        }
    }
    return lines;
}
