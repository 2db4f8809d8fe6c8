#include "engine/common/FfmpegHandles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace ffmpeg {

void InputCloser::operator()(AVFormatContext* c) const { avformat_close_input(&c); }

void OutputFreer::operator()(AVFormatContext* c) const {
    if (!c) return;
    c->pb = nullptr;  // custom I/O belongs to its own handle
    avformat_free_context(c);
}

void CustomIoFreer::operator()(AVIOContext* c) const {
    if (!c) return;
    av_freep(&c->buffer);  // FFmpeg may have replaced the buffer it was given
    avio_context_free(&c);
}

void CodecCloser::operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
void PacketFreer::operator()(AVPacket* p) const { av_packet_free(&p); }
void FrameFreer::operator()(AVFrame* f) const { av_frame_free(&f); }
void ParserCloser::operator()(AVCodecParserContext* p) const { av_parser_close(p); }
void ScalerFreer::operator()(SwsContext* s) const { sws_freeContext(s); }
void ResamplerFreer::operator()(SwrContext* s) const { swr_free(&s); }
void AudioFifoFreer::operator()(AVAudioFifo* f) const {
    if (f) av_audio_fifo_free(f);
}
void BitstreamFilterFreer::operator()(AVBSFContext* c) const { av_bsf_free(&c); }
void DictionaryFreer::operator()(AVDictionary* d) const { av_dict_free(&d); }
void SampleBufferFreer::operator()(uint8_t** planes) const {
    if (planes) av_freep(&planes[0]);  // one allocation holds every plane
    av_freep(&planes);
}

Packet makePacket() { return Packet(av_packet_alloc()); }
Frame makeFrame() { return Frame(av_frame_alloc()); }

CustomIo makeCustomIo(int bufferSize, bool writable, void* opaque, int (*read)(void*, uint8_t*, int),
                      int (*write)(void*, uint8_t*, int), int64_t (*seek)(void*, int64_t, int)) {
    auto* buffer = static_cast<unsigned char*>(av_malloc(size_t(bufferSize)));
    if (!buffer) return {};
    CustomIo io(avio_alloc_context(buffer, bufferSize, writable ? 1 : 0, opaque, read, write, seek));
    if (!io) av_free(buffer);
    return io;
}

void setOption(Dictionary& options, const char* key, const char* value) {
    withOptions(options, [&](AVDictionary** d) { return av_dict_set(d, key, value, 0); });
}

void setOption(Dictionary& options, const char* key, int64_t value) {
    withOptions(options, [&](AVDictionary** d) { return av_dict_set_int(d, key, value, 0); });
}

}  // namespace ffmpeg
