#include "rules/OutputFormats.h"

#include <QStringList>

std::optional<OutputFormat> formatNamed(const QString& name) {
    for (const OutputFormatInfo& info : kOutputFormats)
        if (name == QLatin1String(info.name)) return info.format;
    return std::nullopt;
}

QString formatNames(const QString& separator) {
    QStringList names;
    for (const OutputFormatInfo& info : kOutputFormats) names << QString::fromLatin1(info.name);
    return names.join(separator);
}
