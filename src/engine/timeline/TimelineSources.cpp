#include "engine/timeline/TimelineSources.h"

#include <algorithm>
#include <cmath>

#include "engine/common/MediaError.h"
#include "engine/reader/Demux.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

std::vector<int32_t> cleanStartFrames(const PacketIndex& index) {
    std::vector<int32_t> frames;
    for (int p = 0; p < index.packetCount(); ++p)
        if (index.isCleanStart(p) && index.isKeyPacket(p) && index.frameOfPacket(p) > 0)
            frames.push_back(index.frameOfPacket(p));
    std::sort(frames.begin(), frames.end());
    frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
    return frames;
}

KeyframePictures::KeyframePictures(std::shared_ptr<const OpenedSource> source)
    : source_(source),
      orientation_(streamOrientation(source->video())),
      cursor_(source),
      decoder_(demux::openDecoder(source->video(), 1, QStringLiteral("video"), source->path())) {
    if (!packet_ || !frame_) throw MediaError(QStringLiteral("Out of memory while opening %1").arg(source->path()));
    // Only the key frame is wanted: whatever follows it in the stream is skipped unread.
    decoder_->skip_frame = AVDISCARD_NONKEY;
}

QImage KeyframePictures::picture(int32_t frame, int height) {
    const PacketIndex& index = source_->index();
    if (frame < 1 || frame > index.frameCount()) return {};
    const int packet = index.packetOfFrame(frame);
    if (!index.isKeyPacket(packet) || !cursor_.seek(packet) || cursor_.read(packet_.get()) != packet) return {};
    avcodec_flush_buffers(decoder_.get());
    QImage image;
    // The one packet, then the end of the stream: the decoder gives out the picture at once.
    const bool sent = avcodec_send_packet(decoder_.get(), packet_.get()) >= 0;
    av_packet_unref(packet_.get());
    if (sent && avcodec_send_packet(decoder_.get(), nullptr) >= 0 &&
        avcodec_receive_frame(decoder_.get(), frame_.get()) >= 0) {
        if (orientation_.isIdentity()) {
            image = scaled(frame_.get(), height);
        } else if (const ffmpeg::Frame turned = orientFrame(frame_.get(), orientation_, turner_)) {
            image = scaled(turned.get(), height);
        }
        av_frame_unref(frame_.get());
    }
    avcodec_flush_buffers(decoder_.get());  // back out of the end-of-stream state
    return image;
}

QImage KeyframePictures::scaled(const AVFrame* frame, int height) {
    if (frame->width <= 0 || frame->height <= 0 || height <= 0) return {};
    const AVRational sar = frame->sample_aspect_ratio;
    const double aspect = (sar.num > 0 && sar.den > 0 ? av_q2d(sar) : 1.0) * frame->width / frame->height;
    const int width = std::clamp(static_cast<int>(std::lround(height * aspect)), 1, height * 4);
    QImage image(width, height, QImage::Format_RGB32);
    const PlainLayout source = plainLayout(static_cast<AVPixelFormat>(frame->format));
    ScaleGeometry geometry{frame->width, frame->height,    source.format, source.fullRange, width,
                           height,       AV_PIX_FMT_RGB32, true,          SWS_AREA};
    if (!scaler_.prepare(geometry)) return {};
    uint8_t* target[4] = {image.bits(), nullptr, nullptr, nullptr};
    const int targetLines[4] = {static_cast<int>(image.bytesPerLine()), 0, 0, 0};
    if (!scaler_.scale(frame->data, frame->linesize, target, targetLines)) return {};
    return image;
}
