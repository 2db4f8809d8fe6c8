#pragma once
#include <QString>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/common/CodecSettings.h"

extern "C" {
#include <libavutil/pixfmt.h>
#include <libavutil/rational.h>
}

// Everything the writer has been told before CreateFile.
struct WriterSettings {
    // The source, as it will be delivered to WriteVideoFrame and WriteAudio.
    bool hasVideo = false;
    bool hasAudio = false;
    int sourceWidth = 0;
    int sourceHeight = 0;
    double sourceFps = 0;
    int sourceRate = 0;
    int sourceChannels = 0;

    // AVI
    enum class AviAudio { Pcm, Adpcm, ALaw, MuLaw, Gsm, Mp3 };
    int aviWidth = 0;
    int aviHeight = 0;
    double aviFps = 0;
    AviAudio aviAudio = AviAudio::Pcm;
    int aviAudioRate = 0;      // 0: the source's
    int aviAudioChannels = 0;  // 0: the source's
    int aviAudioBits = 16;
    int aviAudioKbps = 128;
    int aviCodec = 1;                          // 1-based, into aviCodecs()
    std::vector<CodecSettings> codecSettings;  // one per AVI codec

    // MPEG
    int mpegVersion = 1;
    int mpegVideoKbps = 1150;
    int mpegWidth = 0;
    int mpegHeight = 0;
    double mpegFps = 0;
    int mpegAudioKbps = 224;
    int mpegAudioChannels = 2;

    // WMV
    int wmvProfile = 1;  // 1-based, into wmvProfiles()
};

// How one output file is made: the muxer and each stream's encoder, fully decided.
struct VideoPlan {
    std::string encoder;
    AVPixelFormat pixelFormat = AV_PIX_FMT_YUV420P;
    int width = 0;
    int height = 0;
    AVRational frameRate{0, 1};   // of the output
    AVRational sourceRate{0, 1};  // of the frames that will arrive
    std::string fourcc;           // empty: the muxer's usual tag
    int64_t bitRate = 0;          // bit/s; 0 with a quality below
    int64_t maxRate = 0;
    int64_t minRate = 0;
    int bufferSize = 0;  // bits
    int qscale = 0;      // fixed quantiser for FFmpeg's own MPEG-family encoders
    int crf = -1;        // x264 rate factor
    int gopSize = 12;
    int maxBFrames = 0;
    AVRational sampleAspect{1, 1};
    int fieldOrder = 0;                                        // AVFieldOrder stated for the stream; 0: unknown
    bool interlaced = false;                                   // coded as two fields (encoders that can), in fieldOrder
    std::vector<std::pair<std::string, std::string>> options;  // encoder private options
};

struct AudioPlan {
    std::string encoder;
    int sampleRate = 0;
    int channels = 0;
    int64_t bitRate = 0;  // bit/s; 0 where the codec fixes it
    int sourceRate = 0;
    int sourceChannels = 0;
};

struct OutputPlan {
    std::string muxer;
    std::optional<VideoPlan> video;
    std::optional<AudioPlan> audio;
    std::vector<std::pair<std::string, std::string>> muxerOptions;
};

// The source's picture as its first frame shows it.
struct SourcePicture {
    int width = 0;
    int height = 0;
    AVRational sampleAspect{1, 1};
    int fieldOrder = 0;  // AVFieldOrder
};

// The video plan for the source's picture: a sample aspect ratio that shows the output at the
// source's display aspect (MPEG through its aspect code, the width adjusted where no code fits),
// the source's field order stated, and interlaced coding where the encoder has it.
VideoPlan adaptToSource(const VideoPlan& plan, const SourcePicture& source);

// Decides the output file for a container (1 AVI, 2 MPEG, 3 WMV) from the settings; throws
// MediaError when the settings cannot make a file.
OutputPlan planOutput(const WriterSettings& settings, int container);
