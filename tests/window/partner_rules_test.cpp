// The partner installer's command line and the download address policy.
#include <gtest/gtest.h>
#include <QUrl>

#include "rules/PartnerInstaller.h"
#include "window/PartnerDownload.h"

namespace {

TEST(InstallerParameters, AreTheFourPiecesToTheCharacter) {
    EXPECT_EQ(installerParameters("C:\\Users\\eva\\AppData\\Local\\Temp"),
              " /V\"/qn /l*v C:\\Users\\eva\\AppData\\Local\\Temp\\PandoSetup.log PARTNER=Brevant\"");
    // The log's "\" is the installer's own syntax and stays whatever the folder looks like.
    EXPECT_EQ(installerParameters("/tmp"), " /V\"/qn /l*v /tmp\\PandoSetup.log PARTNER=Brevant\"");
    EXPECT_EQ(installerParameters(""), " /V\"/qn /l*v \\PandoSetup.log PARTNER=Brevant\"");
}

TEST(InstallerArguments, SplitAtBlanksOutsideQuotesAndKeepTheQuotes) {
    // The whole /V switch is quoted, so the installer gets it as one argument, as written.
    const QString parameters = installerParameters("/var/tmp/kv partner");
    const QStringList arguments = installerArguments(parameters);
    ASSERT_EQ(arguments, QStringList{"/V\"/qn /l*v /var/tmp/kv partner\\PandoSetup.log PARTNER=Brevant\""});
    EXPECT_EQ(" " + arguments.join(' '), parameters);

    EXPECT_EQ(installerArguments("a \"b c\" d"), (QStringList{"a", "\"b c\"", "d"}));
    EXPECT_EQ(installerArguments("  one   two "), (QStringList{"one", "two"}));
    EXPECT_EQ(installerArguments("x\"y z\"w v"), (QStringList{"x\"y z\"w", "v"}));
    EXPECT_EQ(installerArguments("\"open quote to the end"), QStringList{"\"open quote to the end"});
    EXPECT_TRUE(installerArguments("").isEmpty());
    EXPECT_TRUE(installerArguments("   ").isEmpty());
}

TEST(DownloadAddress, TheProgramsOwnAddressIsHttpsWithTheFixedPath) {
    const QUrl url(QString::fromLatin1(kPartnerDownloadUrl));
    EXPECT_EQ(url.scheme(), "https");
    EXPECT_FALSE(url.host().isEmpty());
    EXPECT_EQ(url.path(), "/download/PandoSetup.exe");
    EXPECT_EQ(downloadUrlProblem(kPartnerDownloadUrl), "");

    qunsetenv(kPartnerUrlVariable);
    EXPECT_EQ(partnerDownloadUrl(), kPartnerDownloadUrl);
    qputenv(kPartnerUrlVariable, "");
    EXPECT_EQ(partnerDownloadUrl(), kPartnerDownloadUrl);
    qputenv(kPartnerUrlVariable, "http://127.0.0.1:8123/download/PandoSetup.exe");
    EXPECT_EQ(partnerDownloadUrl(), "http://127.0.0.1:8123/download/PandoSetup.exe");
    qunsetenv(kPartnerUrlVariable);
}

TEST(DownloadAddress, HttpsAnywherePlainHttpOnlyToThisComputer) {
    for (const char* allowed :
         {"https://downloads.example.org/download/PandoSetup.exe", "HTTPS://Example.org:8443/download/PandoSetup.exe",
          "https://127.0.0.1/download/PandoSetup.exe", "http://127.0.0.1:8080/download/PandoSetup.exe",
          "http://localhost/download/PandoSetup.exe", "http://LocalHost:9/x", "HTTP://127.0.0.1/x"})
        EXPECT_EQ(downloadUrlProblem(allowed), "") << allowed;

    for (const char* refused :
         {"http://example.org/download/PandoSetup.exe",
          // the host here is example.org; "localhost" is only a user name
          "http://localhost@example.org/download/PandoSetup.exe", "http://127.0.0.1.example.org/x",
          "http://localhost.example.org/x", "http://127.0.0.2/x", "http://10.0.0.1/x", "http://[::1]/x",
          "ftp://127.0.0.1/PandoSetup.exe", "file:///tmp/PandoSetup.exe", "https://", "", "not an address",
          "//example.org/download/PandoSetup.exe"})
        EXPECT_NE(downloadUrlProblem(refused), "") << refused;

    EXPECT_TRUE(downloadUrlProblem("http://example.org/x").contains("HTTPS"));
}

}  // namespace
