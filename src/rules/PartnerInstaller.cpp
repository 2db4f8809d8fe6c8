#include "rules/PartnerInstaller.h"

QString installerParameters(const QString& tempFolder) {
    return QStringLiteral(" /V\"/qn /l*v ") + tempFolder + QStringLiteral("\\PandoSetup.log") +
           QStringLiteral(" PARTNER=Brevant\"");
}

QStringList installerArguments(const QString& parameters) {
    QStringList arguments;
    QString piece;
    bool quoted = false;
    for (const QChar c : parameters) {
        if (c == u'"') quoted = !quoted;
        if (c == u' ' && !quoted) {
            if (!piece.isEmpty()) arguments << piece;
            piece.clear();
        } else {
            piece += c;
        }
    }
    if (!piece.isEmpty()) arguments << piece;
    return arguments;
}
