#include "engine/remux/PieceWorker.h"

#include "engine/common/MediaError.h"

PieceWorker::PieceWorker(std::shared_ptr<const OpenedSource> source, const PieceStyle& style, int32_t first,
                         int32_t last, StreamTicks decodeLead, int threads)
    : cursor_(std::move(source)) {
    const PieceSink keep = [this](AVPacket* packet, StreamTicks pts, StreamTicks dts) {
        ffmpeg::Packet copy(av_packet_clone(packet));
        if (!copy) throw MediaError(QStringLiteral("Out of memory"));
        const std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back({std::move(copy), pts, dts});
        ++encoded_;
        ready_.notify_one();
    };
    piece_ = std::make_unique<PieceEncoder>(cursor_, keep, style, first, last, decodeLead, threads);
    thread_ = std::thread([this] { run(); });
}

PieceWorker::~PieceWorker() { stop(); }

void PieceWorker::run() {
    try {
        while (!stopping_ && piece_->step()) current_ = piece_->currentFrame();
        if (stopping_) piece_->finish();
        current_ = piece_->currentFrame();
    } catch (...) {
        const std::lock_guard<std::mutex> lock(mutex_);
        failure_ = std::current_exception();
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
    ready_.notify_one();
}

void PieceWorker::stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
}

void PieceWorker::finishEarly() { stop(); }

bool PieceWorker::writeSome(OutputSession& session) {
    std::deque<Encoded> taken;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [this] { return done_ || !queue_.empty(); });
        taken.swap(queue_);
        if (taken.empty() && failure_) std::rethrow_exception(failure_);
        if (taken.empty()) return false;
    }
    for (Encoded& e : taken) session.writeVideo(e.packet.get(), e.pts, e.dts);
    return true;
}
