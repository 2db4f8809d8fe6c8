#include "engine/platform/Platform.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QMimeDatabase>
#include <QProcess>
#include <QUrl>
#include <algorithm>
#include <chrono>

uint32_t Platform::GetTickCount() {
    // The monotonic clock counts from an arbitrary point (boot on Linux); only differences
    // matter, and they survive the 32-bit wrap (see tickDifference).
    const auto elapsed = std::chrono::steady_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
    return static_cast<uint32_t>(static_cast<uint64_t>(ms));
}

QString Platform::programFolder() {
    const QString fromEnvironment = qEnvironmentVariable("KORVELIN_PROGRAM_DIR");
    if (!fromEnvironment.isEmpty()) return fromEnvironment;
    return QCoreApplication::applicationDirPath();
}

QString Platform::tempFolder() {
    QString folder = QDir::tempPath();
    // The root folder "/" keeps its only separator.
    while (folder.size() > 1 && folder.endsWith(u'/')) folder.chop(1);
    return folder;
}

bool Platform::openDocument(const QString& path) { return QDesktopServices::openUrl(QUrl::fromLocalFile(path)); }

bool Platform::startDetached(const QString& program, const QStringList& arguments) {
    return QProcess::startDetached(program, arguments);
}

bool Platform::canRun(const QString& program) {
    QFile file(program);
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QByteArray head = file.read(4);
    return head == QByteArray(
                       "\x7f"
                       "ELF",
                       4) ||
           head.startsWith("#!");
}

bool Platform::fileTypeRegistered(const QString& pattern) {
    // The types whose patterns match a name of that pattern, then the pattern itself among them.
    QString sample = pattern;
    sample.replace(u'*', QStringLiteral("file"));
    const QList<QMimeType> types = QMimeDatabase().mimeTypesForFileName(sample);
    return std::any_of(types.begin(), types.end(), [&](const QMimeType& type) {
        return type.globPatterns().contains(pattern, Qt::CaseInsensitive);
    });
}

namespace {

Platform*& replacementPlatform() {
    static Platform* replacement = nullptr;
    return replacement;
}

}  // namespace

Platform& platform() {
    static Platform real;
    Platform* replacement = replacementPlatform();
    return replacement ? *replacement : real;
}

void setPlatform(Platform* replacement) { replacementPlatform() = replacement; }
