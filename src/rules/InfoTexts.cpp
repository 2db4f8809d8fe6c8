#include "rules/InfoTexts.h"

#include <QStringList>

#include "engine/common/VideoSource.h"
#include "rules/Conversions.h"
#include "rules/TextKeys.h"

namespace {
QString line(const QString& label, const QString& value) { return label + "\t" + value; }
}  // namespace

QString videoInformation(const VideoSource& r, const std::array<QString, Msg::Count>& m) {
    return QStringList{
        line(m[Msg::Codec], r.VideoCodecName()),
        line(m[Msg::DurationMs], QString::number(r.VideoDuration())),
        line(m[Msg::BitRate], QString::number(r.VideoBitRate())),
        line(m[Msg::FrameRate], realText(r.FrameRate())),
        line(m[Msg::Frames], QString::number(r.FrameCount())),
        line(m[Msg::FrameSize], QString::number(r.FrameWidth()) + "*" + QString::number(r.FrameHeight()))}
        .join("\r\n");
}

QString audioInformation(const VideoSource& r, const std::array<QString, Msg::Count>& m) {
    return QStringList{line(m[Msg::Codec], r.AudioCodecName()),
                       line(m[Msg::DurationMs], QString::number(r.AudioDuration())),
                       line(m[Msg::BitRate], QString::number(r.AudioBitRate())),
                       line(m[Msg::SampleRate], QString::number(r.AudioSampleRate())),
                       line(m[Msg::SampleSize], QString::number(r.AudioSampleSize())),
                       line(m[Msg::Channels], QString::number(r.AudioChannels()))}
        .join("\r\n");
}

QString sourceSummary(const VideoSource& r, const std::array<QString, Msg::Count>& m) {
    return m[Msg::VideoLength] + "\r" + QString::number(r.VideoDuration()) + " " + m[Msg::Milliseconds] + "\r" +
           m[Msg::FrameCount] + "\r" + QString::number(r.FrameCount());
}
