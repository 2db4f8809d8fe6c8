#include "source/InfoTexts.h"

#include <QStringList>

#include "rules/Conversions.h"
#include "engine/common/VideoSource.h"

namespace {
QString line(const QString& label, const QString& value) { return label + "\t" + value; }
}  // namespace

QString videoInformation(const VideoSource& r, const std::array<QString, 35>& m) {
    return QStringList{line(m[10], r.VideoCodecName()),
                       line(m[11], QString::number(r.VideoDuration())),
                       line(m[12], QString::number(r.VideoBitRate())),
                       line(m[13], realText(r.FrameRate())),
                       line(m[14], QString::number(r.FrameCount())),
                       line(m[15], QString::number(r.FrameWidth()) + "*" + QString::number(r.FrameHeight()))}
        .join("\r\n");
}

QString audioInformation(const VideoSource& r, const std::array<QString, 35>& m) {
    return QStringList{line(m[10], r.AudioCodecName()),
                       line(m[11], QString::number(r.AudioDuration())),
                       line(m[12], QString::number(r.AudioBitRate())),
                       line(m[16], QString::number(r.AudioSampleRate())),
                       line(m[17], QString::number(r.AudioSampleSize())),
                       line(m[18], QString::number(r.AudioChannels()))}
        .join("\r\n");
}

QString sourceSummary(const VideoSource& r, const std::array<QString, 35>& m) {
    return m[22] + "\r" + QString::number(r.VideoDuration()) + " " + m[8] + "\r" + m[23] + "\r" +
           QString::number(r.FrameCount());
}
