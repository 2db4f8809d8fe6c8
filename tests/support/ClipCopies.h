#pragma once
// Copies of test clips under chosen names (folder names with dots, odd extensions).
#include <QDir>
#include <QFile>
#include <QFileInfo>

inline QString copyClipTo(const QString& clipPath, const QString& target) {
    QDir().mkpath(QFileInfo(target).path());
    QFile::remove(target);
    QFile::copy(clipPath, target);
    return target;
}

inline QString writeTextFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(content);
    return path;
}
