#include "engine/reader/VideoTrack.h"

#include "engine/common/Decoding.h"
#include "engine/common/MediaError.h"
#include "engine/common/StreamSelection.h"
#include "engine/reader/Demux.h"

namespace {

// What playback leaves out: the pictures nothing refers to while it catches up, else none.
AVDiscard pictureSkip(bool nonReference) { return nonReference ? AVDISCARD_NONREF : AVDISCARD_DEFAULT; }

}  // namespace

VideoTrack::VideoTrack(std::shared_ptr<const OpenedSource> source, int64_t cacheBytes)
    : path_(source->path()),
      cursor_(source),
      timeBase_(source->video()->time_base),
      decoder_(demux::openDecoder(source->video(), 0, QStringLiteral("video"), source->path())),
      cache_(cacheBytes) {
    if (!packet_ || !frame_) throw MediaError(QStringLiteral("Out of memory while opening %1").arg(path_));
}

const AVFrame* VideoTrack::frame(int n, int keepFrom) {
    if (const AVFrame* cached = cache_.find(n)) return cached;
    keepFrom_ = keepFrom;
    auto decodeTo = [&] {
        while (!cache_.find(n) && lastOutput_ < n && decodeOne(n)) {
        }
        return cache_.find(n);
    };
    const int start = index().startPacketFor(n);
    const bool continued = canContinueTo(n);
    if (!continued) startRun(start);
    if (const AVFrame* decoded = decodeTo()) return decoded;
    // The decoder did not give this frame: once more afresh, then from the keyframe before
    // (a keyframe flag on a picture that is not a clean start).
    if (continued) {
        startRun(start);
        if (const AVFrame* decoded = decodeTo()) return decoded;
    }
    if (const int earlier = cursor_.keyframeBefore(start); earlier != start) {
        startRun(earlier);
        if (const AVFrame* decoded = decodeTo()) return decoded;
    }
    int found = 0;
    if (const AVFrame* neighbour = cache_.nearest(n, &found)) return neighbour;
    throw MediaError(QStringLiteral("Frame %1 of %2 cannot be decoded (the file is damaged)").arg(n).arg(path_));
}

bool VideoTrack::canContinueTo(int n) const {
    // Going on is right when the run already covers a keyframe that decodes n, and n is yet
    // to come; a keyframe for n further ahead is reached faster by a seek.
    return runActive_ && !drained_ && n > lastOutput_ && index().decodableFrom(n, runStart_) &&
           index().startPacketFor(n) <= cursor_.next();
}

void VideoTrack::startRun(int packet) {
    ++stats_.runs;
    runUpEnd_ = 0;
    decoder_->skip_frame = pictureSkip(skipNonReference_);
    avcodec_flush_buffers(decoder_.get());
    runActive_ = drained_ = sentEnd_ = false;
    lastOutput_ = 0;
    if (!cursor_.seek(packet))
        throw MediaError(QStringLiteral("Cannot find frame data in %1 (the file is damaged)").arg(path_));
    runStart_ = packet;
    runActive_ = true;
}

// The next packet for the decoder, tagged with its number in the index.
bool VideoTrack::readPacket() {
    const int number = cursor_.read(packet_.get());
    if (number < 0) return false;
    packet_->pts = number;
    // A run-up's pictures nothing refers to are never shown: left out. The decoder takes the
    // setting with each packet (its frame threads too).
    if (runUpEnd_ > 0 && number >= runUpEnd_) {
        runUpEnd_ = 0;
        decoder_->skip_frame = pictureSkip(skipNonReference_);
    }
    return true;
}

bool VideoTrack::decodeOne(int wanted) {
    if (!runActive_ || drained_) return false;
    if (decodeNextFrame(decoder_.get(), frame_.get(), packet_.get(), &sentEnd_, [this] { return readPacket(); })) {
        keep(frame_.get(), wanted);
        av_frame_unref(frame_.get());
        return true;
    }
    drained_ = true;
    return false;
}

const AVFrame* VideoTrack::frameFrom(int n, int* number, const std::function<bool()>& goOn) {
    // Decoded before (the frame on show when playing starts): from the cache, and the decoder
    // goes on after it.
    if (const AVFrame* cached = cache_.find(n)) {
        *number = n;
        return cached;
    }
    if (!canContinueTo(n)) {
        startRun(index().startPacketFor(n));
        // Every picture shown from n on is in n's packet or a later one, or is a reference.
        runUpEnd_ = index().packetOfFrame(n);
        if (runUpEnd_ > runStart_) decoder_->skip_frame = AVDISCARD_NONREF;
    }
    while (runActive_ && !drained_) {
        if (!decodeNextFrame(decoder_.get(), frame_.get(), packet_.get(), &sentEnd_, [this] { return readPacket(); })) {
            drained_ = true;
            break;
        }
        const int found = pictureNumber(frame_.get());
        if (found <= 0) continue;
        ++stats_.framesDecoded;
        lastOutput_ = std::max(lastOutput_, found);
        // Leading pictures of the run's keyframe, and what came before n, are passed over.
        if (found >= n && index().decodableFrom(found, runStart_)) {
            *number = found;
            return frame_.get();
        }
        if (goOn && !goOn()) break;
    }
    return nullptr;
}

void VideoTrack::setSkipNonReference(bool on) {
    skipNonReference_ = on;
    if (runUpEnd_ == 0) decoder_->skip_frame = pictureSkip(on);
    // The pictures still decoded are only glanced at while catching up: no deblocking, and
    // the decoder's faster, less exact steps. Frame threads take the settings with the
    // next packet.
    decoder_->skip_loop_filter = on ? AVDISCARD_ALL : AVDISCARD_DEFAULT;
    if (on)
        decoder_->flags2 |= AV_CODEC_FLAG2_FAST;
    else
        decoder_->flags2 &= ~AV_CODEC_FLAG2_FAST;
}

int VideoTrack::pictureNumber(const AVFrame* frame) const {
    if (frame->width <= 0 || frame->height <= 0 || frame->format < 0) return 0;
    int number = lastOutput_ + 1;  // a decoder that lost the tag: pictures come in order
    if (frame->pts >= 0 && frame->pts < index().packetCount())
        number = index().frameOfPacket(static_cast<int>(frame->pts));
    return number > 0 && number <= index().frameCount() ? number : 0;
}

void VideoTrack::keep(const AVFrame* frame, int wanted) {
    const int number = pictureNumber(frame);
    if (number == 0) return;
    ++stats_.framesDecoded;
    lastOutput_ = std::max(lastOutput_, number);
    // Leading pictures of the run's first keyframe refer to pictures before it: not kept.
    if (number < keepFrom_ && number != wanted) return;
    if (index().decodableFrom(number, runStart_)) cache_.put(number, frame, wanted);
}
