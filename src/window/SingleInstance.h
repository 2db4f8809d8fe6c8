#pragma once
#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <memory>

// One running window per user, as desktop programs have it. The first copy holds a lock file in
// the user's runtime folder ($KORVELIN_LOCK_DIR when set) and listens on a local socket beside
// it; a later start hands its source file through that socket and ends.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // Takes the lock and listens; null when another copy holds the lock.
    static std::unique_ptr<SingleInstance> claim();
    // From a later start: asks the running copy to open `path`, or only to come to the front
    // when it is empty. False when no copy took the request.
    static bool handOver(const QString& path);

signals:
    // A later start asked for `path` (empty: only to come to the front).
    void requested(const QString& path);

private:
    explicit SingleInstance(std::unique_ptr<QLockFile> lock);
    void takeConnection();

    std::unique_ptr<QLockFile> lock_;
    QLocalServer server_;
};
