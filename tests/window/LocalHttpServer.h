#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for download tests, run on its own thread. Each path
// answers as its Route says: any status, a body, a declared length that may differ from
// what is sent, a cut-off, or a stall that lasts until the client hangs up. Every request
// line and its headers are recorded.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>

class LocalHttpServer {
public:
    struct Route {
        Route(int status = 404, QByteArray body = {}, qint64 declaredLength = -1, qint64 sendBytes = -1,
              bool stallAfterSending = false, QByteArray location = {})
            : status(status),
              body(std::move(body)),
              declaredLength(declaredLength),
              sendBytes(sendBytes),
              stallAfterSending(stallAfterSending),
              location(std::move(location)) {}
        int status;
        QByteArray body;
        qint64 declaredLength;   // Content-Length sent; -1 = the body's size
        qint64 sendBytes;        // bytes of the body actually sent; -1 = all
        bool stallAfterSending;  // then wait until the client hangs up
        QByteArray location;     // Location header, for redirects
    };
    struct Request {
        QByteArray path;
        QByteArray head;  // request line and headers
    };

    LocalHttpServer() {
        listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        socklen_t size = sizeof address;
        if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::listen(listenFd_, 8) != 0 ||
            ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &size) != 0 || ::pipe(wake_) != 0)
            throw std::runtime_error("cannot start the local HTTP server");
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { run(); });
    }

    ~LocalHttpServer() {
        stopping_ = true;
        const char c = 'x';
        [[maybe_unused]] auto written = ::write(wake_[1], &c, 1);
        thread_.join();
        ::close(listenFd_);
        ::close(wake_[0]);
        ::close(wake_[1]);
    }

    void route(const QByteArray& path, Route r) {
        std::lock_guard lock(mutex_);
        routes_[path] = std::move(r);
    }
    QString url(const QByteArray& path) const { return QString("http://127.0.0.1:%1%2").arg(port_).arg(QString(path)); }
    int port() const { return port_; }
    QList<Request> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    QList<QByteArray> requestedPaths() const {
        QList<QByteArray> paths;
        for (const Request& r : requests()) paths << r.path;
        return paths;
    }

    // A port on 127.0.0.1 where nothing listens: connections to it are refused.
    static int closedPort() {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
        ::close(fd);
        return ntohs(address.sin_port);
    }

private:
    // Waits until `fd` is readable; false when the server is stopping.
    bool waitReadable(int fd) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        while (!stopping_) {
            if (::poll(fds, 2, -1) < 0) continue;
            if (fds[1].revents) return false;
            if (fds[0].revents) return true;
        }
        return false;
    }

    void run() {
        while (waitReadable(listenFd_)) {
            const int client = ::accept(listenFd_, nullptr, nullptr);
            if (client < 0) continue;
            serve(client);
            ::close(client);
        }
    }

    void sendAll(int fd, const char* data, qint64 size) {
        while (size > 0) {
            const ssize_t n = ::send(fd, data, static_cast<size_t>(size), MSG_NOSIGNAL);
            if (n <= 0) return;
            data += n;
            size -= n;
        }
    }

    void serve(int client) {
        QByteArray head;
        char buffer[4096];
        while (!head.contains("\r\n\r\n")) {
            if (!waitReadable(client)) return;
            const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0) return;  // e.g. a connection check that only connects
            head.append(buffer, n);
        }
        const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
        const QByteArray path = requestLine.value(1);
        Route r;  // unknown paths: 404
        {
            std::lock_guard lock(mutex_);
            requests_.append({path, head});
            if (routes_.contains(path)) r = routes_.value(path);
        }
        const qint64 declared = r.declaredLength >= 0 ? r.declaredLength : r.body.size();
        QByteArray response = "HTTP/1.1 " + QByteArray::number(r.status) + " Status\r\n";
        response += "Content-Length: " + QByteArray::number(declared) + "\r\n";
        if (!r.location.isEmpty()) response += "Location: " + r.location + "\r\n";
        response += "Connection: close\r\n\r\n";
        sendAll(client, response.constData(), response.size());
        const qint64 toSend = r.sendBytes >= 0 ? qMin(r.sendBytes, qint64(r.body.size())) : r.body.size();
        // Pieces with pauses, so the client reports progress while the body arrives.
        for (qint64 sent = 0; sent < toSend && !stopping_;) {
            const qint64 piece = qMin<qint64>(16384, toSend - sent);
            sendAll(client, r.body.constData() + sent, piece);
            sent += piece;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (r.stallAfterSending) {
            while (waitReadable(client)) {
                if (::recv(client, buffer, sizeof buffer, 0) <= 0) break;  // the client hung up
            }
        }
    }

    int listenFd_ = -1;
    int wake_[2] = {-1, -1};
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    mutable std::mutex mutex_;
    QHash<QByteArray, Route> routes_;
    QList<Request> requests_;
};
