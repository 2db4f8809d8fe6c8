#pragma once
// Encodes one piece next to a cut point on a thread of its own, with a cursor of its own on
// the source, and keeps its packets until the cut writes them in their place. So the pieces
// at both ends of a range encode at the same time, beside the copy between them.
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "engine/remux/PieceEncoder.h"

class PieceWorker {
public:
    // Starts encoding frames first..last (see PieceEncoder). Throws MediaError.
    PieceWorker(std::shared_ptr<const OpenedSource> source, const PieceStyle& style, int32_t first, int32_t last,
                StreamTicks decodeLead, int threads);
    // Stops the encoding (what is not written is dropped).
    ~PieceWorker();
    PieceWorker(const PieceWorker&) = delete;
    PieceWorker& operator=(const PieceWorker&) = delete;

    // Writes the packets encoded so far, waiting for one when there is none yet. False once
    // the piece is written. Throws the piece's MediaError.
    bool writeSome(OutputSession& session);
    // Encodes no further frame; the frames the encoder holds are still given (a cancel).
    void finishEarly();
    // True once every frame is encoded (its decoder and encoder are gone; packets may wait).
    bool encoded() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return done_;
    }
    int64_t packetsEncoded() const { return encoded_; }
    int32_t currentFrame() const { return current_; }

private:
    struct Encoded {
        ffmpeg::Packet packet;
        StreamTicks pts, dts;
    };
    void run();
    void stop();

    PacketCursor cursor_;
    std::unique_ptr<PieceEncoder> piece_;
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Encoded> queue_;
    bool done_ = false;
    std::exception_ptr failure_;
    std::atomic<bool> stopping_{false};
    std::atomic<int64_t> encoded_{0};
    std::atomic<int32_t> current_{0};
    std::thread thread_;
};
