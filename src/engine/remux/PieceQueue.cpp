#include "engine/remux/PieceQueue.h"

#include <algorithm>

namespace {

// Before a copy, a head's decode times run ahead of presentation as far as the copy's do, so
// the copy's first decode time still comes after the piece's last.
StreamTicks decodeLeadBefore(const PacketIndex& index, const CutPlan& plan) {
    if (!plan.hasCopy()) return {};
    return StreamTicks{std::max<int64_t>(0, index.frameTime(plan.copyFirst) - index.decodeTime(plan.copyBegin))};
}

}  // namespace

PieceQueue::PieceQueue(std::shared_ptr<const OpenedSource> source, const PieceStyle& style,
                       const std::vector<CutPlan>& plans)
    : source_(std::move(source)), style_(style) {
    for (size_t r = 0; r < plans.size(); ++r) {
        const CutPlan& plan = plans[r];
        if (plan.hasHead())
            planned_.push_back({r, plan.headFirst, plan.headLast, decodeLeadBefore(source_->index(), plan)});
        if (plan.hasTail()) planned_.push_back({r, plan.tailFirst, plan.tailLast, StreamTicks{}});
    }
}

void PieceQueue::startAhead(size_t range, bool waiting) {
    if (nextPlanned_ >= planned_.size() || planned_[nextPlanned_].range > range + 1) return;
    if (!started_.empty() && !started_.back()->encoded()) return;
    const PlannedPiece& piece = planned_[nextPlanned_];
    const int threads = waiting && started_.empty() ? 0 : 1;
    started_.push_back(std::make_unique<PieceWorker>(source_, style_, piece.first, piece.last, piece.decodeLead, threads));
    ++nextPlanned_;
}
