// The partner offer in the real window: presence from the private registry store, the
// offer on MPEG, WMV and Split, and what accepting it does (installer beside the program or
// downloaded from a local server, its start through the platform layer, the program's end).
#include <gtest/gtest.h>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTimer>

#include "rules/PartnerInstaller.h"
#include "settings/AppSettings.h"
#include "support/FakePlatform.h"
#include "support/WindowHarness.h"
#include "window/LocalHttpServer.h"
#include "window/PartnerDownload.h"

namespace {

const QByteArray kPath = "/download/PandoSetup.exe";
const char kPresenceKey[] = "SOFTWARE\\Classes\\.pando";

// Captures started programs and reports a temporary folder with a blank in its name.
struct PartnerPlatform : FakePlatform {
    QString tempFolder() override { return "/var/tmp/kv partner"; }
};

// Points the download at `url` while it lives.
struct PartnerUrl {
    explicit PartnerUrl(const QString& url) { qputenv(kPartnerUrlVariable, url.toUtf8()); }
    ~PartnerUrl() { qunsetenv(kPartnerUrlVariable); }
};

QString closedAddress() {
    return QString("http://127.0.0.1:%1/download/PandoSetup.exe").arg(LocalHttpServer::closedPort());
}

// A window started with the partner's presence value absent (nullptr) or set to `value`,
// in a private program folder.
struct PartnerWindow {
    WindowHarness h{false};
    PartnerPlatform platform;
    QString folder;
    QString installer;

    explicit PartnerWindow(const char* presence) {
        folder = h.makeProgramFolder();
        installer = folder + "/PandoSetup.exe";
        if (presence) h.registry().writeValue(HKEY_LOCAL_MACHINE, kPresenceKey, "", presence);
        h.start();
    }
    frmMain& w() { return *h.window; }
    // Program-folder files whose name starts with "PandoSetup", hidden ones included.
    QStringList installerFiles() const {
        return QDir(folder).entryList({"PandoSetup*", ".PandoSetup*"}, QDir::Files | QDir::Hidden | QDir::System);
    }
    const ScriptedDialogs::Message& message(int i) const { return h.dialogs.shownMessages.at(i); }
};

bool isOffer(const ScriptedDialogs::Message& m) { return m.text == kPartnerOfferText; }

TEST(PartnerPresence, DecidedOnceAtStartFromTheRegistryValue) {
    EXPECT_TRUE(PartnerWindow("Pando.File").w().PartnerAppPresent);
    EXPECT_FALSE(PartnerWindow("").w().PartnerAppPresent);
    EXPECT_FALSE(PartnerWindow(nullptr).w().PartnerAppPresent);
    // A key present under another root, or another value of the key, does not count.
    PartnerWindow other(nullptr);
    other.h.registry().writeValue(HKEY_CURRENT_USER, kPresenceKey, "", "Pando.File");
    other.h.registry().writeValue(HKEY_LOCAL_MACHINE, kPresenceKey, "Content Type", "application/x-pando");
    other.h.window.reset();
    ASSERT_TRUE(other.h.start());
    EXPECT_FALSE(other.w().PartnerAppPresent);
    // Installing the partner while the program runs changes nothing until the next start.
    other.h.registry().writeValue(HKEY_LOCAL_MACHINE, kPresenceKey, "", "Pando.File");
    other.h.dialogs.messageAnswers = {MsgResult::No};
    other.w().cmdOptMPEG_Click();
    EXPECT_EQ(other.h.dialogs.shownMessages.size(), 1);
    EXPECT_FALSE(other.w().PartnerAppPresent);
}

TEST(PartnerOffer, WithThePartnerPresentMpegWmvAndSplitGoOnWithoutAsking) {
    PartnerWindow p("Pando.File");
    p.w().cmdOptMPEG_Click();
    EXPECT_EQ(p.w().OutputFormat, OutputFormat::Mpeg);
    p.w().Skin1_ElementClick(SkinElement("wmvbutton"));
    EXPECT_EQ(p.w().OutputFormat, OutputFormat::Wmv);
    EXPECT_TRUE(p.h.dialogs.shownMessages.isEmpty());
    p.w().cmdSplit_Click();
    for (const auto& m : p.h.dialogs.shownMessages) EXPECT_FALSE(isOffer(m));
    EXPECT_EQ(p.h.programEnds, 0);
    EXPECT_TRUE(p.platform.startedPrograms.isEmpty());
}

TEST(PartnerOffer, DecliningChangesNothingAndTheNextClickAsksAgain) {
    for (const char* presence : {static_cast<const char*>(nullptr), ""}) {
        SCOPED_TRACE(presence ? "empty value" : "key missing");
        PartnerWindow p(presence);
        const PartnerUrl url(closedAddress());
        const auto features = {
            std::function<void()>([&] { p.w().Skin1_ElementClick(SkinElement("mpegbutton")); }),
            std::function<void()>([&] { p.w().cmdOptMPEG_Click(); }),
            std::function<void()>([&] { p.w().cmdOptWMV_Click(); }),
            std::function<void()>([&] { p.w().cmdSplit_Click(); }),
        };
        int asked = 0;
        for (const auto& click : features) {
            for (int round = 0; round < 2; ++round) {
                p.h.dialogs.messageAnswers = {MsgResult::No};
                click();
                ++asked;
                // The offer and nothing more.
                ASSERT_EQ(p.h.dialogs.shownMessages.size(), asked);
                const auto& m = p.message(asked - 1);
                EXPECT_EQ(m.text, QString(kPartnerOfferText));
                EXPECT_EQ(m.text,
                          "To use this option you need to Re-Install Pando(The program will be terminated). "
                          "To install Pando click yes below.");
                EXPECT_EQ(m.buttons, MsgButtons::YesNo);
                EXPECT_EQ(m.icon, MsgIcon::Question);
                EXPECT_EQ(m.title, "");  // the application's title
                EXPECT_EQ(p.w().OutputFormat, OutputFormat::Avi);
                EXPECT_TRUE(p.w().FrameOptVideoAvi->isVisibleTo(&p.w()));
            }
        }
        EXPECT_EQ(p.h.programEnds, 0);
        EXPECT_TRUE(p.platform.startedPrograms.isEmpty());
        EXPECT_TRUE(p.installerFiles().isEmpty());
        EXPECT_FALSE(p.w().unloaded());
    }
}

// After accepting: the program ended without Form_Unload, so the frame-rate choice made in
// this run was not saved.
void expectEndedWithoutSaving(PartnerWindow& p) {
    EXPECT_EQ(p.h.programEnds, 1);
    EXPECT_FALSE(p.w().unloaded());
    EXPECT_EQ(p.w().OutputFormat, OutputFormat::Avi);  // the feature did not go on
    p.h.window.reset();
    EXPECT_EQ(GetSetting("Korvelin", "Settings", "VideoFrameRate", "not saved"), "not saved");
}

TEST(PartnerOffer, AcceptingWithTheInstallerBesideTheProgramStartsItAtOnce) {
    PartnerWindow p(nullptr);
    LocalHttpServer server;
    const PartnerUrl url(server.url(kPath));
    {
        QFile f(p.installer);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("installer");
    }
    p.w().setListIndex(p.w().cmbFramerateAVI, 6);
    p.h.dialogs.messageAnswers = {MsgResult::Yes};
    p.w().cmdOptWMV_Click();

    ASSERT_EQ(p.h.dialogs.shownMessages.size(), 1);
    EXPECT_TRUE(isOffer(p.message(0)));
    EXPECT_TRUE(server.requests().isEmpty());  // no download
    ASSERT_EQ(p.platform.startedPrograms.size(), 1);
    EXPECT_EQ(p.platform.startedPrograms[0].first, p.installer);
    EXPECT_EQ(p.platform.startedPrograms[0].second,
              QStringList{"/V\"/qn /l*v /var/tmp/kv partner\\PandoSetup.log PARTNER=Brevant\""});
    EXPECT_EQ(" " + p.platform.startedPrograms[0].second.join(' '), installerParameters("/var/tmp/kv partner"));
    expectEndedWithoutSaving(p);
}

TEST(PartnerOffer, AcceptingWithoutInstallerOrConnectionEndsAfterTheMessage) {
    PartnerWindow p("");
    const PartnerUrl url(closedAddress());
    p.w().setListIndex(p.w().cmbFramerateAVI, 6);
    p.h.dialogs.messageAnswers = {MsgResult::Yes};
    p.w().cmdSplit_Click();

    ASSERT_EQ(p.h.dialogs.shownMessages.size(), 2);
    EXPECT_TRUE(isOffer(p.message(0)));
    EXPECT_EQ(p.message(1).text, "You are not connected to internet");
    EXPECT_EQ(p.message(1).buttons, MsgButtons::Ok);
    EXPECT_EQ(p.message(1).title, "");
    EXPECT_TRUE(p.installerFiles().isEmpty());
    EXPECT_TRUE(p.platform.startedPrograms.isEmpty());
    expectEndedWithoutSaving(p);
}

TEST(PartnerOffer, AcceptingDownloadsTheInstallerThenStartsIt) {
    PartnerWindow p(nullptr);
    LocalHttpServer server;
    QByteArray body(250000, 'P');
    for (int i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7 % 251);
    server.route(kPath, {200, body});
    const PartnerUrl url(server.url(kPath));
    p.w().setListIndex(p.w().cmbFramerateAVI, 6);
    p.h.dialogs.messageAnswers = {MsgResult::Yes};
    p.w().cmdOptMPEG_Click();

    EXPECT_EQ(server.requestedPaths(), QList<QByteArray>{kPath});
    EXPECT_EQ(p.installerFiles(), QStringList{"PandoSetup.exe"});
    QFile f(p.installer);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll() == body);
    ASSERT_EQ(p.platform.startedPrograms.size(), 1);
    EXPECT_EQ(p.platform.startedPrograms[0].first, p.installer);
    EXPECT_EQ(p.platform.startedPrograms[0].second, installerArguments(installerParameters("/var/tmp/kv partner")));
    EXPECT_EQ(p.h.dialogs.shownMessages.size(), 1);
    EXPECT_EQ(downloader().options().picture, p.folder + "/icon.bmp");
    expectEndedWithoutSaving(p);
}

TEST(PartnerOffer, AFailedCutOffOrCancelledDownloadStartsNothingAndEnds) {
    QByteArray body(200000, 'x');
    struct Case {
        const char* name;
        LocalHttpServer::Route route;
    } cases[] = {
        {"404", {404, "not here"}},
        {"cut off", {200, body, -1, 90000}},
        {"cancelled", {200, body, -1, 65536, true}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PartnerWindow p(nullptr);
        LocalHttpServer server;
        server.route(kPath, c.route);
        const PartnerUrl url(server.url(kPath));
        // Presses Cancel on the download dialog once the stalled transfer has begun.
        QTimer canceller;
        canceller.setInterval(10);
        canceller.callOnTimeout([&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* d = dynamic_cast<DownloadDialog*>(w); d && d->isVisible() && d->received() >= 65536)
                    d->cancelButton->click();
        });
        canceller.start();
        p.w().setListIndex(p.w().cmbFramerateAVI, 6);
        p.h.dialogs.messageAnswers = {MsgResult::Yes};
        p.w().cmdOptWMV_Click();

        EXPECT_EQ(server.requestedPaths(), QList<QByteArray>{kPath});
        EXPECT_NE(downloader().lastResults().value(0), "");
        EXPECT_TRUE(p.installerFiles().isEmpty()) << p.installerFiles().join(", ").toStdString();
        EXPECT_TRUE(p.platform.startedPrograms.isEmpty());
        EXPECT_EQ(p.h.dialogs.shownMessages.size(), 1);
        expectEndedWithoutSaving(p);
    }
}

TEST(PartnerOffer, APlainHttpAddressElsewhereIsRefusedAndNothingStarts) {
    PartnerWindow p(nullptr);
    const PartnerUrl url("http://downloads.example.org/download/PandoSetup.exe");
    p.h.dialogs.messageAnswers = {MsgResult::Yes};
    p.w().cmdOptMPEG_Click();
    ASSERT_EQ(p.h.dialogs.shownMessages.size(), 2);
    EXPECT_TRUE(p.message(1).text.contains("HTTPS"));
    EXPECT_TRUE(p.installerFiles().isEmpty());
    EXPECT_TRUE(p.platform.startedPrograms.isEmpty());
    expectEndedWithoutSaving(p);
}

}  // namespace
