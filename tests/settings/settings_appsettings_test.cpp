// Per-user application settings, redirected to a private folder.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "settings/AppSettings.h"

TEST(AppSettings, SavedTextIsReadBackFromTheRedirectedFolder) {
    QTemporaryDir dir;
    qputenv("KORVELIN_SETTINGS_DIR", dir.path().toUtf8());
    EXPECT_EQ(GetSetting("Korvelin", "Settings", "VideoFrameRate", "5"), "5");
    ASSERT_TRUE(SaveSetting("Korvelin", "Settings", "VideoFrameRate", "6"));
    EXPECT_EQ(GetSetting("Korvelin", "Settings", "VideoFrameRate", "5"), "6");
    EXPECT_EQ(GetSetting("Korvelin", "Other", "VideoFrameRate", "none"), "none");
    EXPECT_EQ(GetSetting("Another", "Settings", "VideoFrameRate", "none"), "none");
    ASSERT_TRUE(SaveSetting("Korvelin", "Settings", "VideoFrameRate", "-1"));
    EXPECT_EQ(GetSetting("Korvelin", "Settings", "VideoFrameRate", "5"), "-1");
    ASSERT_TRUE(SaveSetting("Korvelin", "Settings", "Text", "a, b; c"));
    EXPECT_EQ(GetSetting("Korvelin", "Settings", "Text"), "a, b; c");

    QFile file(dir.filePath("Korvelin.ini"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.contains("[Settings]")) << text.constData();
    EXPECT_TRUE(text.contains("VideoFrameRate=-1")) << text.constData();
    qunsetenv("KORVELIN_SETTINGS_DIR");
}

TEST(AppSettings, HandEditedOrUnwritableSettingsFailSoftly) {
    QTemporaryDir dir;
    qputenv("KORVELIN_SETTINGS_DIR", dir.path().toUtf8());
    QFile file(dir.filePath("Korvelin.ini"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Settings]\nVideoFrameRate=  7 \nList=a, b\n");
    file.close();
    EXPECT_EQ(GetSetting("Korvelin", "Settings", "VideoFrameRate", "5"), "7");
    EXPECT_EQ(GetSetting("Korvelin", "Settings", "List", ""), "a, b");
    EXPECT_EQ(GetSetting("Korvelin", "Settings", "", "5"), "5");
    EXPECT_FALSE(SaveSetting("Korvelin", "Settings", "", "1"));

    // The settings file's place is taken by a folder: saving reports failure.
    qputenv("KORVELIN_SETTINGS_DIR", (dir.path() + "/blocked").toUtf8());
    ASSERT_TRUE(QDir(dir.path()).mkpath("blocked/Korvelin.ini"));
    EXPECT_FALSE(SaveSetting("Korvelin", "Settings", "VideoFrameRate", "6"));
    EXPECT_EQ(GetSetting("Korvelin", "Settings", "VideoFrameRate", "5"), "5");
    qunsetenv("KORVELIN_SETTINGS_DIR");
}
