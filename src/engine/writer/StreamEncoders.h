#pragma once
#include <QString>
#include <cstdint>
#include <vector>

#include "engine/common/FfmpegHandles.h"
#include "engine/common/FrameData.h"
#include "engine/common/ScalerCache.h"
#include "engine/output/OutputContainer.h"
#include "engine/writer/OutputPlan.h"

extern "C" {
struct AVStream;
}

// One encoder with its output stream; sends frames and writes what comes out.
class StreamEncoder {
public:
    StreamEncoder(const StreamEncoder&) = delete;
    StreamEncoder& operator=(const StreamEncoder&) = delete;
    virtual ~StreamEncoder();

protected:
    StreamEncoder(Muxer& muxer, const char* encoder);
    // A fresh codec context for the same encoder and stream, to be set up and opened anew.
    void resetContext();
    // Opens the codec and fills the stream's parameters; called by the subclass once ctx_ is set up.
    void open(ffmpeg::Dictionary options);
    // Sends a frame (nullptr: end of stream) and writes every packet the encoder has ready.
    void encode(AVFrame* frame);
    // Lets a stream change a packet's times (in the encoder's time base) before it is written.
    virtual void adjust(AVPacket*) {}

    Muxer& muxer_;
    QString name_;
    ffmpeg::Codec ctx_;
    ffmpeg::Packet packet_;
    AVStream* stream_ = nullptr;  // owned by the container
};

// Takes frames in any pixel layout and size, converts them to the encoder's, and drops or
// repeats them so the output rate shows each moment of the source at the right time.
//
// It opens with the plan as given; adoptSource, before the first frame, sets it up again for
// the source's picture shape and field order.
class VideoEncoder : public StreamEncoder {
public:
    VideoEncoder(Muxer& muxer, const VideoPlan& plan);
    void adoptSource(const SourcePicture& source);
    void write(const FrameView& frame);
    void finish();
    int64_t framesWritten() const { return outputFrames_; }
    const VideoPlan& plan() const { return plan_; }

private:
    void configure();
    void prepareFrame();

    VideoPlan plan_;
    ffmpeg::Frame frame_;
    ScalerCache scaler_;  // to the encoder's layout and size, J layouts as full range
    int64_t sourceFrames_ = 0;
    int64_t outputFrames_ = 0;
};

// Takes interleaved 16-bit samples at the source's rate and channels, resamples them to the
// encoder's format and feeds the encoder frames of its fixed size.
class AudioEncoder : public StreamEncoder {
public:
    AudioEncoder(Muxer& muxer, const AudioPlan& plan);
    // samples: interleaved, count a multiple of the source channel count.
    void write(const int16_t* samples, int64_t count);
    void finish();

private:
    void adjust(AVPacket* packet) override;
    void resample(const uint8_t** input, int frames);
    void encodeFromFifo(int frames);

    AudioPlan plan_;
    ffmpeg::Resampler swr_;
    ffmpeg::AudioFifo fifo_;
    ffmpeg::Frame frame_;
    ffmpeg::SampleBuffer buffer_;  // resampler output, planes as the encoder wants them
    int bufferCapacity_ = 0;       // in samples per channel
    int frameSize_ = 0;
    bool padLastFrame_ = false;
    int64_t pts_ = 0;
    bool started_ = false;
    int64_t delay_ = 0;  // added to every packet time, so the first one starts at 0
};
