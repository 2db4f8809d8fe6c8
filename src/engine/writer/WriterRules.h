#pragma once
#include <QSize>
#include <cstdint>
#include <vector>

extern "C" {
#include <libavutil/rational.h>
}

// Small rules of the output writer, kept apart from FFmpeg's state so they can be checked alone.

// A frame rate as an exact fraction. Rates within 0.015 of the NTSC rates (23.976, 29.97, 59.94, ...)
// become n*1000/1001, whole numbers stay whole; {0, 1} for rates that are not positive.
AVRational exactFrameRate(double fps);

// The MPEG video standard rate nearest to rate (MPEG-1 and MPEG-2 allow only these).
AVRational nearestMpegFrameRate(AVRational rate);

// Number of output frames that must exist once sourceFrames frames have arrived, so that output
// frame j shows the source frame on screen at time j / outputRate. Equal rates give sourceFrames.
int64_t outputFramesAfter(int64_t sourceFrames, AVRational sourceRate, AVRational outputRate);

// Even width and height of at least 2 (4:2:0 encoders need them), rounding down.
QSize evenSize(QSize size);

// The size scaled down to fit maxWidth x maxHeight keeping its shape (a limit of 0 means none),
// then made even.
QSize fitWithin(QSize size, int maxWidth, int maxHeight);

// MP2 bitrate nearest to kbps among those MPEG-1 Layer II allows for the channel count
// (mono 32..192, stereo 64..384 kbit/s).
int mp2Bitrate(int kbps, int channels);

// The entry of rates nearest to wanted (the first of two equally near ones).
int nearestRate(const std::vector<int>& rates, int wanted);

// Sample rates the MP3 encoder accepts.
const std::vector<int>& mp3SampleRates();
// MP3 bitrate nearest to kbps among those MPEG audio allows at the sample rate.
int mp3Bitrate(int kbps, int sampleRate);

// The sample aspect ratio that shows a picture of size output at displayAspect (width / height
// as seen); {1, 1} when displayAspect is not a positive number.
AVRational sampleAspectFor(double displayAspect, QSize output);

// MPEG video states its picture shape by a code: MPEG-1 a pixel aspect among fourteen,
// MPEG-2 a display aspect (4:3, 16:9, 2.21:1) or square pixels. The width that, with the code
// nearest to the source's shape, shows the picture at displayAspect within half a percent (the
// output width itself when the code allows it), and the sample aspect ratio that makes FFmpeg's
// encoder choose that code.
struct MpegShape {
    int width = 0;
    AVRational sampleAspect{1, 1};
};
MpegShape mpegShape(int version, QSize output, double displayAspect);

// Whether MPEG-1 output is a video CD stream: 352 x 288 at 25 or 352 x 240 at 29.97 frames a
// second, 1150 kbit/s video, and either no sound or 224 kbit/s stereo MP2 at 44.1 kHz.
bool isVideoCdShape(QSize size, AVRational rate, int videoKbps, bool audio, int audioKbps, int audioChannels,
                    int audioRate);
