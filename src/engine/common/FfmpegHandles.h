#pragma once
#include <cstdint>
#include <memory>

// Owning handles for the FFmpeg objects the engine keeps, so every path out of a function
// (including a thrown MediaError) releases them. The deleters live in FfmpegHandles.cpp, so
// this header needs only the names of the FFmpeg types and can be included anywhere.
extern "C" {
struct AVAudioFifo;
struct AVBSFContext;
struct AVCodecContext;
struct AVCodecParserContext;
struct AVDictionary;
struct AVFormatContext;
struct AVFrame;
struct AVIOContext;
struct AVPacket;
struct SwrContext;
struct SwsContext;
}

namespace ffmpeg {

struct InputCloser {
    void operator()(AVFormatContext* c) const;  // avformat_close_input
};
struct OutputFreer {
    void operator()(AVFormatContext* c) const;  // avformat_free_context; its custom I/O is not touched
};
struct CustomIoFreer {
    void operator()(AVIOContext* c) const;  // the context's current buffer, then the context
};
struct CodecCloser {
    void operator()(AVCodecContext* c) const;
};
struct PacketFreer {
    void operator()(AVPacket* p) const;
};
struct FrameFreer {
    void operator()(AVFrame* f) const;
};
struct ParserCloser {
    void operator()(AVCodecParserContext* p) const;
};
struct ScalerFreer {
    void operator()(SwsContext* s) const;
};
struct ResamplerFreer {
    void operator()(SwrContext* s) const;
};
struct AudioFifoFreer {
    void operator()(AVAudioFifo* f) const;
};
struct DictionaryFreer {
    void operator()(AVDictionary* d) const;
};
struct BitstreamFilterFreer {
    void operator()(AVBSFContext* c) const;  // av_bsf_free
};
struct SampleBufferFreer {
    void operator()(uint8_t** planes) const;  // from av_samples_alloc_array_and_samples
};

using Input = std::unique_ptr<AVFormatContext, InputCloser>;
using Output = std::unique_ptr<AVFormatContext, OutputFreer>;
using CustomIo = std::unique_ptr<AVIOContext, CustomIoFreer>;
using Codec = std::unique_ptr<AVCodecContext, CodecCloser>;
using Packet = std::unique_ptr<AVPacket, PacketFreer>;
using Frame = std::unique_ptr<AVFrame, FrameFreer>;
using Parser = std::unique_ptr<AVCodecParserContext, ParserCloser>;
using Scaler = std::unique_ptr<SwsContext, ScalerFreer>;
using Resampler = std::unique_ptr<SwrContext, ResamplerFreer>;
using AudioFifo = std::unique_ptr<AVAudioFifo, AudioFifoFreer>;
using Dictionary = std::unique_ptr<AVDictionary, DictionaryFreer>;
using SampleBuffer = std::unique_ptr<uint8_t*, SampleBufferFreer>;
using BitstreamFilter = std::unique_ptr<AVBSFContext, BitstreamFilterFreer>;

Packet makePacket();
Frame makeFrame();

// A custom I/O context with a buffer of bufferSize bytes, for callbacks as avio_alloc_context
// takes them; null when memory runs out (the buffer is then freed too).
CustomIo makeCustomIo(int bufferSize, bool writable, void* opaque, int (*read)(void*, uint8_t*, int),
                      int (*write)(void*, uint8_t*, int), int64_t (*seek)(void*, int64_t, int));

// Sets an entry of an owned dictionary, creating the dictionary on first use.
void setOption(Dictionary& options, const char* key, const char* value);
void setOption(Dictionary& options, const char* key, int64_t value);

// Runs an FFmpeg call that takes an AVDictionary** (and may replace the dictionary with the
// entries it did not use), keeping the dictionary owned by the handle throughout.
template <typename Call>
auto withOptions(Dictionary& options, Call&& call) {
    AVDictionary* raw = options.release();
    const auto result = call(&raw);
    options.reset(raw);
    return result;
}

}  // namespace ffmpeg
