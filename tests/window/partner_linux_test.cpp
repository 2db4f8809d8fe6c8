// The partner application on Linux: present when the desktop's MIME database knows its file
// type; an installer this system cannot run is reported and the program goes on.
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>

#include "rules/PartnerInstaller.h"
#include "support/Clips.h"
#include "support/FakePlatform.h"
#include "support/WindowHarness.h"

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

}  // namespace

// First in this program: the MIME database is read once per process, from the folders the
// environment names at that moment.
TEST(PartnerOnLinux, ATypeWithThePandoPatternInTheMimeDatabaseCountsAsPresent) {
    QTemporaryDir data;
    QDir().mkpath(data.path() + "/mime/packages");
    writeFile(data.path() + "/mime/packages/pando-test.xml",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
              "  <mime-type type=\"application/x-pando-test\"><comment>Pando file</comment>"
              "<glob pattern=\"*.pando\"/></mime-type>\n"
              "</mime-info>\n");
    ASSERT_EQ(clips::run("update-mime-database", {data.path() + "/mime"}), 0);
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    qputenv("XDG_DATA_DIRS", data.path().toUtf8());

    EXPECT_TRUE(platform().fileTypeRegistered("*.pando"));
    EXPECT_FALSE(platform().fileTypeRegistered("*.pandora"));
    WindowHarness h;  // the settings store has no partner key
    EXPECT_TRUE(h.window->PartnerAppPresent);
    h.window->cmdOptWMV_Click();
    EXPECT_EQ(h.window->OutputFormat, OutputFormat::Wmv);
    EXPECT_TRUE(h.messages().isEmpty());
    qunsetenv("XDG_DATA_HOME");
    qunsetenv("XDG_DATA_DIRS");
}

TEST(PartnerOnLinux, AnInstallerThisSystemCannotRunIsReportedAndTheProgramGoesOn) {
    WindowHarness h(false);
    FakePlatform fake;
    fake.realRunCheck = true;
    const QString folder = h.makeProgramFolder();
    const QString installer = folder + "/" + kPartnerInstallerName;
    writeFile(installer, QByteArray("MZ\x90\0\3\0\0\0", 8) + QByteArray(500, '\0'));  // a Windows program
    ASSERT_TRUE(h.start());
    frmMain& w = *h.window;
    w.PartnerAppPresent = false;

    h.dialogs.messageAnswers = {MsgResult::Yes};
    w.cmdOptMPEG_Click();
    ASSERT_EQ(h.messages().size(), 2);
    EXPECT_EQ(h.messages()[0], kPartnerOfferText);
    EXPECT_EQ(h.messages()[1], kPartnerInstallerNotRunnableText);
    EXPECT_TRUE(fake.startedPrograms.isEmpty());
    EXPECT_EQ(h.programEnds, 0);
    EXPECT_FALSE(w.unloaded());
    EXPECT_EQ(w.OutputFormat, OutputFormat::Avi);

    // A program this system runs (a script) is started, and the program ends as the offer said.
    writeFile(installer, "#!/bin/sh\nexit 0\n");
    h.dialogs.messageAnswers = {MsgResult::Yes};
    w.cmdOptMPEG_Click();
    ASSERT_EQ(fake.startedPrograms.size(), 1);
    EXPECT_EQ(h.programEnds, 1);
}
