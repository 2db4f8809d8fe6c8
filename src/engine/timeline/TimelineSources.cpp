#include "engine/timeline/TimelineSources.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "engine/common/MediaError.h"
#include "engine/common/VideoSource.h"
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
        image = scaled(frame_.get(), height);
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

void measureSoundPeaks(VideoSource& reader, int buckets, const std::atomic<bool>& stop,
                       const std::function<void(const std::vector<uint8_t>&)>& report, int reportEvery) {
    std::vector<uint8_t> peaks(static_cast<size_t>(std::max(buckets, 1)), 0);
    const int rate = reader.AudioSampleRate();
    const int channels = std::max(reader.AudioChannels(), 1);
    const double duration = std::max<double>(reader.VideoDuration(), 1) / 1000.0;
    if (!reader.HasAudio() || rate <= 0) return report(peaks);
    reader.SeekTime(0);
    int64_t sample = 0;  // sample frames read so far
    for (int chunks = 1; !stop.load(std::memory_order_relaxed); ++chunks) {
        const AudioChunk chunk = reader.ReadAudio(0);
        if (chunk.empty()) break;
        const auto frames = static_cast<int64_t>(chunk.size()) / channels;
        // One bucket covers many chunks: each chunk's peak goes to the bucket its middle is in.
        int loudest = 0;
        for (const int16_t s : chunk) loudest = std::max(loudest, std::abs(int(s)));
        const double middle = (sample + frames / 2.0) / rate;
        const auto bucket =
            static_cast<size_t>(std::clamp(middle / duration * double(peaks.size()), 0.0, double(peaks.size() - 1)));
        peaks[bucket] = std::max<uint8_t>(peaks[bucket], static_cast<uint8_t>(std::min(255, loudest >> 7)));
        sample += frames;
        if (chunks % reportEvery == 0) report(peaks);
    }
    report(peaks);
}
