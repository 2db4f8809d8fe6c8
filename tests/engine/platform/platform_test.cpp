// The platform layer: tick count, folders, the replaceable platform object, background work.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

#include "engine/platform/Platform.h"

TEST(TickCount, DifferencesSurviveTheWrap) {
    EXPECT_EQ(tickDifference(100, 40), 60);
    EXPECT_EQ(tickDifference(5, 0xFFFFFFF0u), 21);
    EXPECT_EQ(tickDifference(0, 0xFFFFFFFFu), 1);
    EXPECT_EQ(tickDifference(0xFFFFFFF0u, 5), -21);
    EXPECT_EQ(tickDifference(0x7FFFFFFFu, 0), 0x7FFFFFFF);
    EXPECT_EQ(tickDifference(7, 7), 0);
}

TEST(TickCount, RealClockAdvancesInMilliseconds) {
    Platform real;
    const uint32_t start = real.GetTickCount();
    QThread::msleep(30);
    const int32_t elapsed = tickDifference(real.GetTickCount(), start);
    EXPECT_GE(elapsed, 29);
    EXPECT_LT(elapsed, 2000);
}

TEST(PlatformFolders, ProgramFolderFollowsTheEnvironment) {
    Platform real;
    const QByteArray saved = qgetenv("KORVELIN_PROGRAM_DIR");
    qputenv("KORVELIN_PROGRAM_DIR", "/opt/korvelin-test");
    EXPECT_EQ(real.programFolder(), "/opt/korvelin-test");
    qunsetenv("KORVELIN_PROGRAM_DIR");
    EXPECT_EQ(real.programFolder(), QCoreApplication::applicationDirPath());
    if (!saved.isEmpty()) qputenv("KORVELIN_PROGRAM_DIR", saved);
}

TEST(PlatformFolders, TempFolderHasNoTrailingSeparator) {
    Platform real;
    const QByteArray saved = qgetenv("TMPDIR");
    QDir().mkpath("/tmp/korvelin-tmp-test");
    qputenv("TMPDIR", "/tmp/korvelin-tmp-test/");
    EXPECT_EQ(real.tempFolder(), "/tmp/korvelin-tmp-test");
    if (saved.isEmpty())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", saved);
    EXPECT_FALSE(real.tempFolder().endsWith('/'));
    EXPECT_TRUE(QDir(real.tempFolder()).exists());
}

TEST(PlatformObject, ReplacementAndRestore) {
    struct FakeClock : Platform {
        uint32_t now = 0xFFFFFF00u;
        uint32_t GetTickCount() override { return now; }
        QStringList started;
        bool startDetached(const QString& program, const QStringList& arguments) override {
            started << program << arguments;
            return true;
        }
    } fake;
    Platform& real = platform();
    setPlatform(&fake);
    EXPECT_EQ(&platform(), &fake);
    const uint32_t start = platform().GetTickCount();
    fake.now += 0x200;  // wraps
    EXPECT_EQ(tickDifference(platform().GetTickCount(), start), 0x200);
    EXPECT_TRUE(platform().startDetached("/x/setup", {"/V\"a b\""}));
    EXPECT_EQ(fake.started, (QStringList{"/x/setup", "/V\"a b\""}));
    setPlatform(nullptr);
    EXPECT_EQ(&platform(), &real);
}

TEST(PlatformObject, StartDetachedRunsWithoutAShell) {
    QTemporaryDir dir;
    const QString marker = dir.filePath("out; touch injected");
    // The argument reaches the program as one piece: no shell splits or interprets it.
    ASSERT_TRUE(platform().startDetached("/usr/bin/touch", {marker}));
    for (int i = 0; i < 100 && !QFile::exists(marker); ++i) QThread::msleep(20);
    EXPECT_TRUE(QFile::exists(marker));
    EXPECT_FALSE(QFile::exists("injected"));
    EXPECT_FALSE(platform().startDetached(dir.filePath("no-such-program"), {}));
}

TEST(PlatformFolders, ProgramFilesBesideTheProgramOrInShareWhenInstalled) {
    QTemporaryDir root;
    auto touch = [](const QString& path) {
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        return f.open(QIODevice::WriteOnly);
    };
    const QString bin = root.filePath("usr/bin");
    QDir().mkpath(bin);
    EXPECT_EQ(programFolderBeside(bin), bin);  // nothing anywhere: the program's own folder
    ASSERT_TRUE(touch(root.filePath("usr/share/korvelin/kvl.skn")));
    EXPECT_EQ(programFolderBeside(bin), root.filePath("usr/share/korvelin"));
    ASSERT_TRUE(touch(bin + "/kvl.skn"));  // a build folder holds its files itself
    EXPECT_EQ(programFolderBeside(bin), bin);
}

TEST(PlatformDesktop, DefaultApplicationComesFromTheDesktopsAssociations) {
    QTemporaryDir home;
    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME"), savedData = qgetenv("XDG_DATA_HOME");
    QDir().mkpath(home.filePath("data/applications"));
    QDir().mkpath(home.filePath("config"));
    QFile entry(home.filePath("data/applications/korvelin-test-viewer.desktop"));
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.write(
        "[Desktop Entry]\nType=Application\nName=Viewer\nExec=true %f\n"
        "MimeType=application/x-korvelin-test;\n");
    entry.close();
    QFile associations(home.filePath("config/mimeapps.list"));
    ASSERT_TRUE(associations.open(QIODevice::WriteOnly));
    associations.write("[Default Applications]\napplication/x-korvelin-test=korvelin-test-viewer.desktop\n");
    associations.close();
    qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
    qputenv("XDG_DATA_HOME", home.filePath("data").toUtf8());
    Platform real;
    EXPECT_EQ(real.defaultApplicationFor("application/x-korvelin-test"), "korvelin-test-viewer.desktop");
    EXPECT_EQ(real.defaultApplicationFor("application/x-korvelin-nothing-opens-this"), "");
    auto restore = [](const char* name, const QByteArray& value) {
        if (value.isEmpty())
            qunsetenv(name);
        else
            qputenv(name, value);
    };
    restore("XDG_CONFIG_HOME", savedConfig);
    restore("XDG_DATA_HOME", savedData);
}

TEST(BackgroundWork, RunsBelowTheWindowAndPassesThatOnToItsThreads) {
    auto nice = [] { return getpriority(PRIO_PROCESS, gettid()); };
    const int window = nice();
    int worker = window, started = window;
    std::thread([&] {
        runBelowWindow();
        worker = nice();
        std::thread([&] { started = nice(); }).join();  // an encoder's thread, say
    }).join();
    EXPECT_GT(worker, window);
    EXPECT_EQ(started, worker);
    EXPECT_EQ(nice(), window);  // the calling thread only, not the whole program
}
