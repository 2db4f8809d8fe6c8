// The installer download against a local HTTP server: complete, failed, cut-off, cancelled
// and refused downloads, the connection check and the download queue.
#include <gtest/gtest.h>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include "engine/platform/Dialogs.h"
#include "window/LocalHttpServer.h"
#include "window/PartnerDownload.h"

namespace {

const QByteArray kPath = "/download/PandoSetup.exe";

QByteArray randomBytes(int size) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(size);
    for (char& b : bytes) b = static_cast<char>(generator.bounded(256));
    return bytes;
}

// A private program folder with the dialog's picture, and a target folder for downloads.
class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedProgramDir_ = qgetenv("KORVELIN_PROGRAM_DIR");
        qputenv("KORVELIN_PROGRAM_DIR", program_.path().toUtf8());
        QImage picture(32, 32, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        ASSERT_TRUE(picture.save(program_.path() + "/icon.bmp", "BMP"));
        target_ = targetDir_.path() + "/PandoSetup.exe";
        // Options left by an earlier test must not hide a run that sets none.
        downloader().SetOption("title", "untouched");
    }
    void TearDown() override { qputenv("KORVELIN_PROGRAM_DIR", savedProgramDir_); }

    // Every file in the target folder, hidden ones included.
    QStringList targetFolderFiles() const {
        return QDir(targetDir_.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }
    QByteArray targetContents() const {
        QFile f(target_);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir program_;
    QTemporaryDir targetDir_;
    QString target_;
    ScriptedDialogs dialogs_;
    LocalHttpServer server_;
    QByteArray savedProgramDir_;
};

// Watches for the download dialog while a download runs; records what it shows and, when
// asked, presses Cancel once a file has brought at least `cancelAtBytes`.
struct DialogWatcher {
    QTimer timer;
    bool seen = false;
    QString title, label, description;
    bool pictureShown = false;
    bool cancelPressed = false;

    explicit DialogWatcher(qint64 cancelAtBytes = -1) {
        timer.setInterval(10);
        timer.callOnTimeout([this, cancelAtBytes] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* d = dynamic_cast<DownloadDialog*>(w);
                if (!d || !d->isVisible()) continue;
                seen = true;
                title = d->windowTitle();
                label = d->label->text();
                description = d->description->text();
                pictureShown = !d->picture->pixmap().isNull() && !d->picture->isHidden();
                if (cancelAtBytes >= 0 && !cancelPressed && d->received() >= cancelAtBytes) {
                    d->cancelButton->click();
                    cancelPressed = true;
                }
            }
        });
        timer.start();
    }
};

TEST_F(DownloadTest, ACompleteDownloadLeavesExactlyTheInstaller) {
    const QByteArray body = randomBytes(300000);
    server_.route(kPath, {200, body});
    DownloadPartnerInstaller(server_.url(kPath), target_, dialogs_);

    EXPECT_TRUE(dialogs_.shownMessages.isEmpty());
    EXPECT_EQ(downloader().lastResults(), QStringList{""});
    EXPECT_EQ(targetFolderFiles(), QStringList{"PandoSetup.exe"});
    EXPECT_TRUE(targetContents() == body);
    EXPECT_TRUE(QFile::permissions(target_) & QFileDevice::ExeOwner);
    EXPECT_EQ(server_.requestedPaths(), QList<QByteArray>{kPath});
    // The six options as the partner download sets them; the queue is empty again.
    EXPECT_EQ(downloader().options().title, "Downloading Pando Installer...");
    EXPECT_EQ(downloader().options().label, "Downloading Pando Installer...");
    EXPECT_EQ(downloader().options().description, "Downloading Pando Installer, Please wait....");
    EXPECT_EQ(downloader().options().picture, program_.path() + "/icon.bmp");
    EXPECT_TRUE(downloader().queue().isEmpty());
}

TEST_F(DownloadTest, NothingIsResumedAnOldPieceIsReplacedWhole) {
    const QByteArray body = randomBytes(100000);
    server_.route(kPath, {200, body});
    {
        QFile old(target_);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(body.left(40000));
    }
    DownloadPartnerInstaller(server_.url(kPath), target_, dialogs_);
    EXPECT_TRUE(targetContents() == body);
    ASSERT_EQ(server_.requests().size(), 1);
    EXPECT_FALSE(server_.requests()[0].head.toLower().contains("range:"));
}

TEST_F(DownloadTest, FailedAndCutOffDownloadsLeaveNoFile) {
    const QByteArray body = randomBytes(200000);
    struct Case {
        const char* name;
        LocalHttpServer::Route route;
        const char* reasonContains;
    } cases[] = {
        {"not found", {404, "no such file"}, "404"},
        {"server error", {500, "broken"}, "500"},
        {"success without 200", {203, body}, "HTTP status 203"},
        {"cut off mid-transfer", {200, body, -1, 120000}, ""},
        {"fewer bytes than announced", {200, body.left(1000), 5000}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server_.route(kPath, c.route);
        DownloadPartnerInstaller(server_.url(kPath), target_, dialogs_);
        ASSERT_EQ(downloader().lastResults().size(), 1);
        EXPECT_NE(downloader().lastResults()[0], "");
        EXPECT_TRUE(downloader().lastResults()[0].contains(c.reasonContains))
            << downloader().lastResults()[0].toStdString();
        EXPECT_TRUE(targetFolderFiles().isEmpty()) << targetFolderFiles().join(", ").toStdString();
        EXPECT_TRUE(dialogs_.shownMessages.isEmpty());
        EXPECT_TRUE(downloader().queue().isEmpty());
    }
}

TEST_F(DownloadTest, ARedirectToPlainHttpIsNotFollowed) {
    server_.route("/other/PandoSetup.exe", {200, randomBytes(5000)});
    server_.route(kPath, {302, {}, -1, -1, false, server_.url("/other/PandoSetup.exe").toUtf8()});
    DownloadPartnerInstaller(server_.url(kPath), target_, dialogs_);
    EXPECT_NE(downloader().lastResults().value(0), "");
    EXPECT_TRUE(targetFolderFiles().isEmpty());
    EXPECT_EQ(server_.requestedPaths(), QList<QByteArray>{kPath});
}

TEST_F(DownloadTest, CancellingTheDialogStopsTheTransferAndLeavesNoFile) {
    // 64 KB of 1 MB arrive, then the server waits until the client gives up.
    server_.route(kPath, {200, randomBytes(1 << 20), -1, 65536, true});
    DialogWatcher watcher(60000);
    DownloadPartnerInstaller(server_.url(kPath), target_, dialogs_);

    EXPECT_TRUE(watcher.cancelPressed);
    EXPECT_EQ(downloader().lastResults(), QStringList{"cancelled"});
    EXPECT_TRUE(targetFolderFiles().isEmpty());
    EXPECT_TRUE(dialogs_.shownMessages.isEmpty());
    // What the dialog showed while it ran.
    EXPECT_EQ(watcher.title, "Downloading Pando Installer...");
    EXPECT_EQ(watcher.label, "Downloading Pando Installer...");
    EXPECT_EQ(watcher.description, "Downloading Pando Installer, Please wait....");
    EXPECT_TRUE(watcher.pictureShown);
    // The dialog is gone afterwards.
    for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_FALSE(dynamic_cast<DownloadDialog*>(w) && w->isVisible());
}

TEST_F(DownloadTest, WithoutAConnectionOnlyTheMessageAppears) {
    const QString url = QString("http://127.0.0.1:%1/download/PandoSetup.exe").arg(LocalHttpServer::closedPort());
    EXPECT_FALSE(downloader().IsConnected(url));
    EXPECT_TRUE(downloader().IsConnected(server_.url(kPath)));

    DialogWatcher watcher;
    DownloadPartnerInstaller(url, target_, dialogs_);
    ASSERT_EQ(dialogs_.shownMessages.size(), 1);
    EXPECT_EQ(dialogs_.shownMessages[0].text, "You are not connected to internet");
    EXPECT_EQ(dialogs_.shownMessages[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(dialogs_.shownMessages[0].title, "");        // the application's title
    EXPECT_EQ(downloader().options().title, "untouched");  // no option set
    QCoreApplication::processEvents();
    EXPECT_FALSE(watcher.seen);
    EXPECT_TRUE(targetFolderFiles().isEmpty());
}

TEST_F(DownloadTest, APlainHttpAddressElsewhereIsRefusedWithoutContactingIt) {
    DownloadPartnerInstaller("http://downloads.example.org/download/PandoSetup.exe", target_, dialogs_);
    ASSERT_EQ(dialogs_.shownMessages.size(), 1);
    EXPECT_TRUE(dialogs_.shownMessages[0].text.contains("HTTPS"));
    EXPECT_EQ(downloader().options().title, "untouched");
    EXPECT_TRUE(targetFolderFiles().isEmpty());
    // The library itself refuses it too.
    EXPECT_FALSE(downloader().IsConnected("http://downloads.example.org/x"));
}

TEST_F(DownloadTest, TheQueueIsClearedAfterEveryRun) {
    const QByteArray first = randomBytes(20000), second = randomBytes(30000);
    server_.route("/one", {200, first});
    server_.route("/two", {200, second});
    const QString secondTarget = targetDir_.path() + "/second.exe";
    DownloadPartnerInstaller(server_.url("/one"), target_, dialogs_);
    EXPECT_TRUE(downloader().queue().isEmpty());
    DownloadPartnerInstaller(server_.url("/two"), secondTarget, dialogs_);
    EXPECT_TRUE(downloader().queue().isEmpty());
    EXPECT_EQ(server_.requestedPaths(), (QList<QByteArray>{"/one", "/two"}));
    EXPECT_EQ(downloader().lastResults(), QStringList{""});
    EXPECT_TRUE(targetContents() == first);
    QFile f(secondTarget);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll() == second);
}

}  // namespace
