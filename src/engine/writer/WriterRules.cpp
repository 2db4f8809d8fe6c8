#include "engine/writer/WriterRules.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

extern "C" {
#include <libavutil/mathematics.h>
}

AVRational exactFrameRate(double fps) {
    if (!(fps > 0) || !std::isfinite(fps)) return {0, 1};
    for (int base : {24, 30, 48, 60, 120}) {
        const double ntsc = base * 1000.0 / 1001.0;
        if (std::abs(fps - ntsc) < 0.015) return {base * 1000, 1001};
    }
    const double whole = std::round(fps);
    if (std::abs(fps - whole) < 0.001 && whole <= 1e6) return {static_cast<int>(whole), 1};
    return av_d2q(fps, 1000000);
}

AVRational nearestMpegFrameRate(AVRational rate) {
    static const AVRational standard[] = {{24000, 1001}, {24, 1}, {25, 1},       {30000, 1001},
                                          {30, 1},       {50, 1}, {60000, 1001}, {60, 1}};
    const double wanted = rate.den ? av_q2d(rate) : 0;
    AVRational best = standard[2];
    double bestDistance = 1e300;
    for (const AVRational& r : standard) {
        const double distance = std::abs(av_q2d(r) - wanted);
        if (distance < bestDistance) best = r, bestDistance = distance;
    }
    return best;
}

int64_t outputFramesAfter(int64_t sourceFrames, AVRational sourceRate, AVRational outputRate) {
    if (sourceFrames <= 0) return 0;
    // ceil(sourceFrames * outputRate / sourceRate) in exact integer arithmetic.
    const int64_t num = int64_t(outputRate.num) * sourceRate.den;
    const int64_t den = int64_t(outputRate.den) * sourceRate.num;
    if (num <= 0 || den <= 0) return sourceFrames;
    return av_rescale_rnd(sourceFrames, num, den, AV_ROUND_UP);
}

QSize evenSize(QSize size) { return {std::max(2, size.width() & ~1), std::max(2, size.height() & ~1)}; }

QSize fitWithin(QSize size, int maxWidth, int maxHeight) {
    double scale = 1;
    if (maxWidth > 0 && size.width() > maxWidth) scale = std::min(scale, double(maxWidth) / size.width());
    if (maxHeight > 0 && size.height() > maxHeight) scale = std::min(scale, double(maxHeight) / size.height());
    if (scale < 1)
        size = QSize(static_cast<int>(std::lround(size.width() * scale)),
                     static_cast<int>(std::lround(size.height() * scale)));
    return evenSize(size);
}

int nearestRate(const std::vector<int>& rates, int wanted) {
    int best = rates.empty() ? wanted : rates.front();
    for (int r : rates)
        if (std::abs(int64_t(r) - wanted) < std::abs(int64_t(best) - wanted)) best = r;
    return best;
}

int mp2Bitrate(int kbps, int channels) {
    static const std::vector<int> mono{32, 48, 56, 64, 80, 96, 112, 128, 160, 192};
    static const std::vector<int> stereo{64, 96, 112, 128, 160, 192, 224, 256, 320, 384};
    return nearestRate(channels == 1 ? mono : stereo, kbps);
}

const std::vector<int>& mp3SampleRates() {
    static const std::vector<int> rates{8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
    return rates;
}

int mp3Bitrate(int kbps, int sampleRate) {
    // MPEG-1 Layer III at 32 kHz and above; MPEG-2/2.5 Layer III below.
    static const std::vector<int> high{32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static const std::vector<int> low{8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    return nearestRate(sampleRate >= 32000 ? high : low, kbps);
}

AVRational sampleAspectFor(double displayAspect, QSize output) {
    if (!(displayAspect > 0) || !std::isfinite(displayAspect) || output.isEmpty()) return {1, 1};
    return av_d2q(displayAspect * output.height() / output.width(), 100000);
}

namespace {

// Height / width of a pixel for each MPEG-1 aspect code from 1 (ISO 11172-2, table 2-D.4).
constexpr double kMpeg1PelAspect[] = {1.0,    0.6735, 0.7031, 0.7615, 0.8055, 0.8437, 0.8935,
                                      0.9157, 0.9815, 1.0255, 1.0695, 1.0950, 1.1575, 1.2015};
// Display aspects of MPEG-2 codes 2 to 4.
constexpr AVRational kMpeg2DisplayAspect[] = {{4, 3}, {16, 9}, {221, 100}};
constexpr double kShapeTolerance = 0.005;

int evenWidth(double width) { return std::clamp(2 * static_cast<int>(std::lround(width / 2)), 2, 4094); }

}  // namespace

MpegShape mpegShape(int version, QSize output, double displayAspect) {
    MpegShape shape;
    shape.width = output.width();
    if (!(displayAspect > 0) || !std::isfinite(displayAspect) || output.isEmpty()) return shape;
    const double wanted = displayAspect * output.height() / output.width();  // sample aspect
    if (version == 2) {
        for (const AVRational& dar : kMpeg2DisplayAspect) {
            if (std::abs(displayAspect / av_q2d(dar) - 1) <= 2 * kShapeTolerance) {
                shape.sampleAspect = av_mul_q(dar, AVRational{output.height(), output.width()});
                return shape;
            }
        }
        // Square pixels: any shape shows right once the width matches it.
        if (std::abs(wanted - 1) > kShapeTolerance) shape.width = evenWidth(output.height() * displayAspect);
        shape.sampleAspect = {1, 1};
        return shape;
    }
    double best = 1;
    for (double pel : kMpeg1PelAspect)
        if (std::abs(1 / pel - wanted) < std::abs(1 / best - wanted)) best = pel;
    if (std::abs(wanted * best - 1) > kShapeTolerance) shape.width = evenWidth(output.height() * displayAspect * best);
    shape.sampleAspect = sampleAspectFor(displayAspect, QSize(shape.width, output.height()));
    return shape;
}

bool isVideoCdShape(QSize size, AVRational rate, int videoKbps, bool audio, int audioKbps, int audioChannels,
                    int audioRate) {
    const bool pal = size == QSize(352, 288) && av_cmp_q(rate, AVRational{25, 1}) == 0;
    const bool ntsc = size == QSize(352, 240) && av_cmp_q(rate, AVRational{30000, 1001}) == 0;
    const bool sound = !audio || (audioKbps == 224 && audioChannels == 2 && audioRate == 44100);
    return (pal || ntsc) && videoKbps == 1150 && sound;
}
