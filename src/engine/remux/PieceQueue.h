#pragma once
// The pieces next to the cut points of all the ranges of a cut, in the order the file holds
// them, each encoded on a worker thread ahead of its place in the file: one at a time (a
// decoder and an encoder are the most memory a cut holds), and no further ahead than the
// pieces of the range after the one being written. So a range's head is mostly encoded while
// the copy of the range before it is written, instead of holding the file up.
#include <cstddef>
#include <deque>
#include <memory>
#include <vector>

#include "engine/remux/CutPlan.h"
#include "engine/remux/PieceWorker.h"

class PieceQueue {
public:
    // The pieces of these plans, one per range, in the order of the ranges.
    PieceQueue(std::shared_ptr<const OpenedSource> source, const PieceStyle& style, const std::vector<CutPlan>& plans);

    // Starts the next piece when none is encoding and it belongs to range `range` (the one
    // being written) or the one after. `waiting`: the file waits for the first piece not yet
    // written; when that is the one started, it takes the encoder's own choice of threads,
    // otherwise one thread, beside the copy. Throws MediaError.
    void startAhead(size_t range, bool waiting);
    // The first piece not yet written; null when it is not started.
    PieceWorker* next() const { return started_.empty() ? nullptr : started_.front().get(); }
    // The first piece is written.
    void dropNext() { started_.pop_front(); }
    // Stops every piece (what is not written is dropped).
    void clear() { started_.clear(); }

private:
    struct PlannedPiece {
        size_t range;
        int32_t first, last;
        StreamTicks decodeLead;
    };
    std::shared_ptr<const OpenedSource> source_;
    const PieceStyle& style_;
    std::vector<PlannedPiece> planned_;  // in file order
    size_t nextPlanned_ = 0;
    std::deque<std::unique_ptr<PieceWorker>> started_;  // not yet written, in file order
};
