#include "rules/OutputFormats.h"

#include <QStringList>

#include "rules/OutputNames.h"

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

QStringList originalContainerChoices(const QString& sourceExtension, const QStringList& carriers) {
    QStringList choices{QString()};
    for (const QString& extension : carriers)
        if (extension.compare(sourceExtension, Qt::CaseInsensitive) != 0) choices << extension;
    return choices;
}

QString containerShownName(const QString& extension) {
    return extension.compare(QLatin1String("webm"), Qt::CaseInsensitive) == 0 ? QStringLiteral("WebM")
                                                                              : extension.toUpper();
}

int containerChoiceForName(const QStringList& choices, const QString& path) {
    const QString extension = sourceExtension(path);
    for (int i = 1; i < choices.size(); ++i)
        if (!extension.isEmpty() && choices[i].compare(extension, Qt::CaseInsensitive) == 0) return i;
    return 0;
}
