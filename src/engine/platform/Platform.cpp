#include "engine/platform/Platform.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <chrono>

#include <sys/resource.h>
#include <unistd.h>

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
    return programFolderBeside(QCoreApplication::applicationDirPath());
}

QString programFolderBeside(const QString& binaryFolder) {
    // The skin is the one file every program folder holds.
    auto holdsProgramFiles = [](const QString& folder) { return QFileInfo::exists(folder + "/kvl.skn"); };
    if (holdsProgramFiles(binaryFolder)) return binaryFolder;
    const QString installed = QDir::cleanPath(binaryFolder + "/../share/korvelin");
    if (holdsProgramFiles(installed)) return installed;
    return binaryFolder;
}

QString Platform::tempFolder() {
    QString folder = QDir::tempPath();
    // The root folder "/" keeps its only separator.
    while (folder.size() > 1 && folder.endsWith(u'/')) folder.chop(1);
    return folder;
}

bool Platform::openDocument(const QString& path) { return QDesktopServices::openUrl(QUrl::fromLocalFile(path)); }

QString Platform::defaultApplicationFor(const QString& mimeType) {
    // xdg-mime (xdg-utils) reads the same associations xdg-open uses to open the file.
    const QString xdgMime = QStandardPaths::findExecutable("xdg-mime");
    if (xdgMime.isEmpty()) return {};
    QProcess query;
    query.start(xdgMime, {"query", "default", mimeType});
    if (!query.waitForFinished(5000)) {
        query.kill();
        query.waitForFinished(1000);
        return {};
    }
    if (query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0) return {};
    return QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed();
}

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

void runBelowWindow() {
    // On Linux the nice value belongs to each thread; raising it needs no privilege. A failure
    // only leaves the thread at the window's priority.
    constexpr int kBackgroundNice = 10;
    const pid_t thread = gettid();
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, thread);
    if (errno == 0) setpriority(PRIO_PROCESS, thread, std::min(current + kBackgroundNice, 19));
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
