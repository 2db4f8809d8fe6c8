#include "window/PartnerDownload.h"

#include <curl/curl.h>

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <memory>
#include <optional>

#include "engine/platform/Dialogs.h"
#include "engine/platform/Platform.h"

namespace {

constexpr long kConnectCheckSeconds = 5;
constexpr long kConnectTimeoutSeconds = 20;
// A transfer that delivers nothing for this long is given up.
constexpr long kStallSeconds = 60;
constexpr long kMaxRedirects = 5;

void initCurlOnce() {
    static const bool done = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    (void)done;
}

struct EasyDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;

struct UrlDeleter {
    void operator()(CURLU* u) const { curl_url_cleanup(u); }
};

struct UrlParts {
    QString scheme;  // lower case
    QString host;
    QByteArray normalized;  // the whole address as libcurl will use it
};

std::optional<QString> urlPart(CURLU* u, CURLUPart part) {
    char* text = nullptr;
    if (curl_url_get(u, part, &text, 0) != CURLUE_OK) return std::nullopt;
    QString result = QString::fromUtf8(text);
    curl_free(text);
    return result;
}

std::optional<UrlParts> parseUrl(const QString& url) {
    initCurlOnce();
    std::unique_ptr<CURLU, UrlDeleter> u(curl_url());
    if (!u || curl_url_set(u.get(), CURLUPART_URL, url.toUtf8().constData(), 0) != CURLUE_OK) return std::nullopt;
    const auto scheme = urlPart(u.get(), CURLUPART_SCHEME);
    const auto host = urlPart(u.get(), CURLUPART_HOST);
    const auto whole = urlPart(u.get(), CURLUPART_URL);
    if (!scheme || !host || !whole || host->isEmpty()) return std::nullopt;
    return UrlParts{scheme->toLower(), *host, whole->toUtf8()};
}

bool isLoopbackHost(const QString& host) {
    return host == u"127.0.0.1" || host.compare(u"localhost", Qt::CaseInsensitive) == 0;
}

// The rules every handle follows, for the connection check and the transfer alike. False
// when the address is refused.
bool applyAddressPolicy(CURL* h, const QString& url) {
    if (!downloadUrlProblem(url).isEmpty()) return false;
    const UrlParts parts = *parseUrl(url);
    const bool loopback = isLoopbackHost(parts.host);
    curl_easy_setopt(h, CURLOPT_URL, parts.normalized.constData());
    // Plain http only towards this computer; a redirect may only lead to https.
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, loopback ? "http,https" : "https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    // This computer is never reached through a proxy.
    if (loopback) curl_easy_setopt(h, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(h, CURLOPT_USERAGENT, "Korvelin/" KORVELIN_VERSION);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    return true;
}

// What one transfer writes to and shows.
struct Transfer {
    QSaveFile* file;
    DownloadDialog* dialog;
    bool writeFailed = false;
};

size_t writeBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const qint64 bytes = static_cast<qint64>(size * count);
    if (t->file->write(data, bytes) != bytes) {
        t->writeFailed = true;
        return 0;  // libcurl stops with a write error
    }
    return size * count;
}

// Called by libcurl at least once a second: shows progress, serves the dialog's events and
// stops the transfer once the user has cancelled.
int showProgress(void* user, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t) {
    auto* t = static_cast<Transfer*>(user);
    t->dialog->setProgress(now, total > 0 ? total : -1);
    QCoreApplication::processEvents();
    return t->dialog->cancelled() ? 1 : 0;
}

}  // namespace

QString partnerDownloadUrl() {
    const QString fromEnvironment = qEnvironmentVariable(kPartnerUrlVariable);
    return fromEnvironment.isEmpty() ? QString::fromLatin1(kPartnerDownloadUrl) : fromEnvironment;
}

QString downloadUrlProblem(const QString& url) {
    const std::optional<UrlParts> parts = parseUrl(url);
    if (!parts) return "The download address is not a valid web address: " + url;
    if (parts->scheme == u"https") return {};
    if (parts->scheme == u"http") {
        if (isLoopbackHost(parts->host)) return {};
        return "The installer is downloaded only over HTTPS; plain HTTP is accepted only from "
               "this computer (127.0.0.1 or localhost): " +
               url;
    }
    return "The download address must be an HTTPS address: " + url;
}

bool FileDownloader::IsConnected(const QString& url) {
    initCurlOnce();
    Easy h(curl_easy_init());
    if (!h || !applyAddressPolicy(h.get(), url)) return false;
    curl_easy_setopt(h.get(), CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(h.get(), CURLOPT_CONNECTTIMEOUT, kConnectCheckSeconds);
    return curl_easy_perform(h.get()) == CURLE_OK;
}

void FileDownloader::SetOption(const QString& name, const QString& value) {
    const QString key = name.toLower();
    if (key == u"title")
        options_.title = value;
    else if (key == u"label")
        options_.label = value;
    else if (key == u"description")
        options_.description = value;
    else if (key == u"smallwizardimage")
        options_.picture = value;
}

void FileDownloader::AddFile(const QString& url, const QString& path) { queue_.append({url, path}); }

void FileDownloader::ClearFiles() { queue_.clear(); }

bool FileDownloader::DownloadFiles(QWidget* owner) {
    lastResults_.clear();
    DownloadDialog dialog(options_, owner);
    dialog.show();
    bool allArrived = true;
    for (const QueuedFile& file : queue_) {
        if (dialog.cancelled()) {
            lastResults_ << "cancelled";
            allArrived = false;
            continue;
        }
        const QString result = downloadOne(file, dialog);
        lastResults_ << result;
        if (!result.isEmpty()) allArrived = false;
    }
    dialog.hide();
    return allArrived;
}

QString FileDownloader::downloadOne(const QueuedFile& file, DownloadDialog& dialog) {
    initCurlOnce();
    // QSaveFile writes to a temporary file in the target's folder and renames it on commit;
    // without a commit the temporary file is removed.
    QSaveFile out(file.path);
    if (!out.open(QIODevice::WriteOnly)) return "cannot write " + file.path + ": " + out.errorString();

    Easy h(curl_easy_init());
    if (!h) return "the download library could not start";
    if (!applyAddressPolicy(h.get(), file.url)) return downloadUrlProblem(file.url);

    Transfer transfer{&out, &dialog};
    char errorText[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(h.get(), CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(h.get(), CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h.get(), CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(h.get(), CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(h.get(), CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl_easy_setopt(h.get(), CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h.get(), CURLOPT_LOW_SPEED_TIME, kStallSeconds);
    curl_easy_setopt(h.get(), CURLOPT_WRITEFUNCTION, writeBody);
    curl_easy_setopt(h.get(), CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(h.get(), CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h.get(), CURLOPT_XFERINFOFUNCTION, showProgress);
    curl_easy_setopt(h.get(), CURLOPT_XFERINFODATA, &transfer);

    const CURLcode code = curl_easy_perform(h.get());
    if (code == CURLE_ABORTED_BY_CALLBACK) return "cancelled";
    if (transfer.writeFailed) return "cannot write " + file.path + ": " + out.errorString();
    if (code != CURLE_OK) return QString::fromUtf8(errorText[0] ? errorText : curl_easy_strerror(code));

    long status = 0;
    curl_easy_getinfo(h.get(), CURLINFO_RESPONSE_CODE, &status);
    if (status != 200) return QString("HTTP status %1").arg(status);
    curl_off_t announced = -1, received = 0;
    curl_easy_getinfo(h.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    curl_easy_getinfo(h.get(), CURLINFO_SIZE_DOWNLOAD_T, &received);
    if (announced >= 0 && received != announced) return QString("received %1 of %2 bytes").arg(received).arg(announced);

    dialog.setProgress(received, received);
    if (!out.commit()) return "cannot write " + file.path + ": " + out.errorString();
    // The installer is started right after the download.
    QFile::setPermissions(file.path, QFile::permissions(file.path) | QFileDevice::ExeOwner);
    return {};
}

FileDownloader& downloader() {
    static FileDownloader instance;
    return instance;
}

bool DownloadPartnerInstaller(const QString& url, const QString& path, Dialogs& dialogs) {
    const QString problem = downloadUrlProblem(url);
    if (!problem.isEmpty()) {
        dialogs.MsgBox(problem, MsgButtons::Ok, MsgIcon::Critical);
        return false;
    }
    FileDownloader& d = downloader();
    if (!d.IsConnected(url)) {
        dialogs.MsgBox("You are not connected to internet", MsgButtons::Ok);
        return false;
    }
    d.SetOption("simple", "");
    d.SetOption("title", "Downloading Pando Installer...");
    d.SetOption("label", "Downloading Pando Installer...");
    d.SetOption("description", "Downloading Pando Installer, Please wait....");
    d.SetOption("smallwizardimage", platform().programFolder() + "/icon.bmp");
    d.SetOption("resume", "false");
    d.AddFile(url, path);
    d.DownloadFiles(nullptr);
    d.ClearFiles();
    return false;
}
