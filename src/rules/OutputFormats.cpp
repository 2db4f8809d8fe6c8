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

const std::array<const char*, 31> kSourceExtensions{
    "avi", "mpg",  "mpeg", "wmv", "asf",                                      // the classic formats
    "mp4", "m4v",  "mov",  "qt",  "3gp", "3g2", "mj2",                        // ISO media
    "mkv", "webm",                                                            // Matroska
    "ts",  "m2ts", "mts",  "m2t", "tod", "vob", "mpe",  "m1v", "m2v", "evo",  // MPEG streams
    "flv", "f4v",  "ogv",  "mxf", "dv",  "nut", "divx",                       // others
};

QString openDialogFilter() {
    QStringList patterns;
    for (const char* extension : kSourceExtensions) patterns << QStringLiteral("*.") + QLatin1String(extension);
    return "All Movie Files |" + patterns.join(';') +
           "|AVI Files (*.avi)|*.avi|Mpeg files (*.mpg, *.mpeg)|*.mpg; *.mpeg|Windows Media files (*.wmv, *.asf)|"
           "*.wmv; *.asf|All Files|*|";
}
