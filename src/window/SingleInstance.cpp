#include "window/SingleInstance.h"

#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>

namespace {

// A request is a path; anything longer is not one and is dropped.
constexpr qint64 kLongestRequest = 64 * 1024;
constexpr int kHandOverWaitMs = 2000;

QString instanceFolder() {
    QString dir = qEnvironmentVariable("KORVELIN_LOCK_DIR");
    if (dir.isEmpty()) dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) dir = QDir::tempPath();
    QDir().mkpath(dir);
    return dir;
}

QString socketPath() { return instanceFolder() + "/korvelin.socket"; }

}  // namespace

std::unique_ptr<SingleInstance> SingleInstance::claim() {
    auto lock = std::make_unique<QLockFile>(instanceFolder() + "/korvelin.lock");
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) return nullptr;
    return std::unique_ptr<SingleInstance>(new SingleInstance(std::move(lock)));
}

SingleInstance::SingleInstance(std::unique_ptr<QLockFile> lock) : lock_(std::move(lock)) {
    // Whoever holds the lock owns the socket: one left by a copy that crashed goes.
    const QString path = socketPath();
    QLocalServer::removeServer(path);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::takeConnection);
    // Without the socket (a folder path too long for one, say) the window still works; later
    // starts then end without handing their file over.
    server_.listen(path);
}

void SingleInstance::takeConnection() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // The request is everything the later start writes before it hangs up, so a file name
        // may hold any character, a line break included.
        struct Request {
            QByteArray bytes;
            bool tooLong = false;
        };
        auto request = std::make_shared<Request>();
        auto read = [socket, request] {
            if (request->tooLong) return;
            request->bytes.append(socket->readAll());
            request->tooLong = request->bytes.size() > kLongestRequest;
            if (request->tooLong) socket->abort();
        };
        connect(socket, &QLocalSocket::readyRead, socket, read);
        connect(socket, &QLocalSocket::disconnected, this, [this, read, request] {
            read();
            if (!request->tooLong) emit requested(QString::fromUtf8(request->bytes));
        });
    }
}

bool SingleInstance::handOver(const QString& path) {
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(kHandOverWaitMs)) return false;
    socket.write(path.toUtf8());
    const bool written = socket.bytesToWrite() == 0 || socket.waitForBytesWritten(kHandOverWaitMs);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(kHandOverWaitMs);
    return written;
}
