#include "rules/OutputNames.h"

#include <stdexcept>

namespace {
qsizetype fileNameStart(const QString& path) { return path.lastIndexOf('/') + 1; }
}  // namespace

qsizetype extensionDot(const QString& path) { return path.indexOf('.', fileNameStart(path)); }

std::pair<QString, QString> proposeOutputNames(const QString& sourcePath, const QString& extension) {
    const qsizetype dot = extensionDot(sourcePath);
    const QString stem = dot < 0 ? sourcePath : sourcePath.left(dot);
    return {stem + "_1." + extension, stem + "_2." + extension};
}

QString sourceExtension(const QString& sourcePath) {
    const qsizetype dot = sourcePath.lastIndexOf('.');
    return dot <= fileNameStart(sourcePath) ? QString() : sourcePath.mid(dot + 1);
}

bool extensionPiece(const QString& path, QString* piece) {
    const qsizetype dot = extensionDot(path);
    if (dot < 0) return false;
    const qsizetype second = path.indexOf('.', dot + 1);
    *piece = second < 0 ? path.mid(dot + 1) : path.mid(dot + 1, second - dot - 1);
    return true;
}

QString rewriteExtension(const QString& path, const QString& oldPiece, const QString& newExtension) {
    QString piece;
    if (!extensionPiece(path, &piece) || piece != oldPiece) return path;
    const qsizetype dot = extensionDot(path);
    return path.left(dot + 1) + newExtension + path.mid(dot + 1 + piece.size());
}

QString nextNameStep(const QString& path) {
    const qsizetype dot = extensionDot(path);
    if (dot <= fileNameStart(path)) throw std::invalid_argument("The output file name has no extension");
    const QChar before = path[dot - 1];
    const int n = (before.isDigit() && before.unicode() < 128 ? before.digitValue() : 0) + 1;
    // A character outside the basic plane is a surrogate pair: both halves are replaced.
    const qsizetype start = before.isLowSurrogate() && dot - 2 >= fileNameStart(path) && path[dot - 2].isHighSurrogate()
                                ? dot - 2
                                : dot - 1;
    return path.left(start) + QString::number(n) + path.mid(dot);
}

QString framePictureProposal(const QString& sourcePath, int32_t frameNumber) {
    const qsizetype dot = sourcePath.lastIndexOf('.');
    return (dot > fileNameStart(sourcePath) ? sourcePath.left(dot) : sourcePath) + " Frame" +
           QString::number(frameNumber);
}

QString framePictureFile(const QString& name, int format) {
    // The extension of each format's own entry in the save dialog's filter.
    static const char* const kExtensions[] = {"bmp", "jpg", "gif", "tif", "pcx", "wmf",
                                              "emf", "tga", "png", "ras", "j2k"};
    if (format < 1 || format > 11 || pictureFormatOfName(name) != 0) return name;
    return name + u'.' + QLatin1String(kExtensions[format - 1]);
}

int pictureFormatOfName(const QString& path) {
    static const std::pair<const char*, int> kExtensions[] = {
        {"bmp", 1}, {"jpg", 2}, {"jpeg", 2}, {"gif", 3}, {"tif", 4},  {"tiff", 4}, {"pcx", 5},
        {"wmf", 6}, {"emf", 7}, {"tga", 8},  {"png", 9}, {"ras", 10}, {"jp2", 11}, {"j2k", 11}};
    const QString name = path.section(u'/', -1);
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot < 0) return 0;
    const QString extension = name.mid(dot + 1).toLower();
    for (const auto& [ext, format] : kExtensions)
        if (extension == QLatin1String(ext)) return format;
    return 0;
}
