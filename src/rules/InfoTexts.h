#pragma once
#include <QString>
#include <array>

#include "rules/TextKeys.h"

class VideoSource;

// The information texts of an open source: lines "label<TAB>value" joined by CR LF.
// Values are asked of the reader as each line is written.
QString videoInformation(const VideoSource& reader, const std::array<QString, Msg::Count>& messages);
QString audioInformation(const VideoSource& reader, const std::array<QString, Msg::Count>& messages);
// The source summary: first line, duration and unit, label, frame count (lone CRs).
QString sourceSummary(const VideoSource& reader, const std::array<QString, Msg::Count>& messages);
