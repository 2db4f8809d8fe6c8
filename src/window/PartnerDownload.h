#pragma once
// Downloading the partner application's installer: where it comes from, which addresses
// may be used, and the download itself (libcurl with a progress dialog).
#include <QList>
#include <QString>
#include <QStringList>

#include "window/DownloadDialog.h"

class Dialogs;
class QWidget;

// Where the installer comes from. The file is started right after the download, so it is
// fetched over HTTPS only.
inline constexpr char kPartnerDownloadUrl[] = "https://downloads.halvorin.com/download/PandoSetup.exe";
// Replaces the whole address, e.g. for tests against a server on this computer.
inline constexpr char kPartnerUrlVariable[] = "KORVELIN_PARTNER_URL";

// $KORVELIN_PARTNER_URL when set and not empty, else kPartnerDownloadUrl.
QString partnerDownloadUrl();

// Why `url` may not be used for a download; empty when it may. Allowed: https:// to any
// host, and plain http:// only to this computer (127.0.0.1 or localhost). The address is
// read with libcurl's own parser, the one the transfer uses, so both see the same host.
QString downloadUrlProblem(const QString& url);

// The download library: options for the next run, a queue of files, and a run that fetches
// them with a progress dialog. A file is written under a temporary name beside its target
// and renamed only after a complete transfer (HTTP status 200, the announced length), so a
// failed, cut-off or cancelled download leaves no file. Partial downloads are never
// resumed: every run starts each file afresh.
class FileDownloader {
public:
    struct QueuedFile {
        QString url;
        QString path;
    };

    // True when a connection to the address's host and port (and, for https, the secure
    // handshake) succeeds within a few seconds.
    bool IsConnected(const QString& url);
    // Options of the next runs: "title", "label", "description", "smallwizardimage" (path
    // of the dialog's picture). "simple" and "resume" are accepted: the dialog is always the
    // simple one-file form and nothing is ever resumed. Other names are ignored.
    void SetOption(const QString& name, const QString& value);
    void AddFile(const QString& url, const QString& path);
    // Fetches the queued files one after the other while showing the progress dialog
    // (application-modal, owned by `owner` or none); stops at a cancel. True when every file
    // arrived complete.
    bool DownloadFiles(QWidget* owner);
    void ClearFiles();

    const QList<QueuedFile>& queue() const { return queue_; }
    const DownloadOptions& options() const { return options_; }
    // Per file of the last run, in queue order: "" when it arrived, else why not.
    const QStringList& lastResults() const { return lastResults_; }

private:
    QString downloadOne(const QueuedFile& file, DownloadDialog& dialog);

    DownloadOptions options_;
    QList<QueuedFile> queue_;
    QStringList lastResults_;
};

// The one download library of the program.
FileDownloader& downloader();

// Downloads `url` to `path` with the partner installer's dialog texts and the picture
// icon.bmp beside the program. Without a connection it shows "You are not connected to
// internet" and sets nothing; an address that downloadUrlProblem refuses is reported and
// not contacted. A failed or cancelled download is not reported: the file is then absent.
// Always returns false; the caller looks for the file instead.
bool DownloadPartnerInstaller(const QString& url, const QString& path, Dialogs& dialogs);
