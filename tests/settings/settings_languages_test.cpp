// Listing the language files and their pictures.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include "settings/Languages.h"

namespace {

void touch(const QString& path, const QByteArray& bytes = "[frmMain]\n0=x\n") {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

void writePicture(const QString& path, QColor colour) {
    QImage image(24, 16, QImage::Format_RGB888);
    image.fill(colour);
    ASSERT_TRUE(image.save(path, "BMP"));
}

}  // namespace

TEST(LanguageListing, ListsIniFilesSortedWithTheirPictures) {
    QTemporaryDir dir;
    touch(dir.filePath("English.ini"));
    touch(dir.filePath("Deutsch.ini"));
    touch(dir.filePath("fr.ini"));
    touch(dir.filePath("readme.txt"));
    writePicture(dir.filePath("English.bmp"), Qt::blue);
    writePicture(dir.filePath("Deutsch.bmp"), Qt::red);
    writePicture(dir.filePath("fr.bmp"), Qt::green);

    const QList<LanguageFile> languages = listLanguageFiles(dir.path());
    ASSERT_EQ(languages.size(), 3);
    EXPECT_EQ(languages[0].name, "Deutsch");
    EXPECT_EQ(languages[1].name, "English");
    EXPECT_EQ(languages[2].name, "fr");
    EXPECT_EQ(languages[2].fileName, "fr.ini");
    EXPECT_EQ(languages[2].iniPath, dir.filePath("fr.ini"));
    EXPECT_EQ(languages[2].picturePath, dir.filePath("fr.bmp"));
    for (const LanguageFile& language : languages) {
        EXPECT_TRUE(language.pictureExists);
        EXPECT_EQ(language.picture.size(), QSize(24, 16));
    }
    EXPECT_EQ(languages[0].picture.pixelColor(3, 3), QColor(Qt::red));
}

TEST(LanguageListing, AMissingOrBrokenPictureDoesNotStopTheOthers) {
    QTemporaryDir dir;
    touch(dir.filePath("Aaa.ini"));
    touch(dir.filePath("Bbb.ini"));
    touch(dir.filePath("Ccc.ini"));
    writePicture(dir.filePath("Ccc.bmp"), Qt::blue);
    touch(dir.filePath("Bbb.bmp"), "not a picture");

    const QList<LanguageFile> languages = listLanguageFiles(dir.path());
    ASSERT_EQ(languages.size(), 3);
    EXPECT_FALSE(languages[0].pictureExists);
    EXPECT_TRUE(languages[0].picture.isNull());
    EXPECT_TRUE(languages[1].pictureExists);
    EXPECT_TRUE(languages[1].picture.isNull());
    EXPECT_TRUE(languages[2].pictureExists);
    EXPECT_FALSE(languages[2].picture.isNull());
}

TEST(LanguageListing, EmptyOrMissingFolderGivesNoLanguages) {
    QTemporaryDir dir;
    EXPECT_TRUE(listLanguageFiles(dir.path()).isEmpty());
    EXPECT_TRUE(listLanguageFiles(dir.filePath("nowhere")).isEmpty());
    // A folder named like a language file is not one.
    ASSERT_TRUE(QDir(dir.path()).mkdir("Folder.ini"));
    EXPECT_TRUE(listLanguageFiles(dir.path()).isEmpty());
}

TEST(LanguageListing, TheShippedLanguagesHaveTheirFlags) {
    const QList<LanguageFile> languages = listLanguageFiles(QStringLiteral(KORVELIN_SOURCE_DIR) + "/data/Languages");
    ASSERT_EQ(languages.size(), 3);
    EXPECT_EQ(languages[0].name, "Deutsch");
    EXPECT_EQ(languages[1].name, "English");
    EXPECT_EQ(languages[2].name, QString::fromUtf8("Français"));
    for (const LanguageFile& language : languages) {
        SCOPED_TRACE(language.name.toStdString());
        EXPECT_EQ(language.picture.size(), QSize(24, 16));
    }
    // The French flag: blue, white and red from left to right.
    const QImage& french = languages[2].picture;
    EXPECT_GT(french.pixelColor(1, 8).blue(), 150);
    EXPECT_EQ(french.pixelColor(12, 8), QColor(Qt::white));
    EXPECT_GT(french.pixelColor(22, 8).red(), 200);
    // The German flag: black above gold.
    EXPECT_EQ(languages[0].picture.pixelColor(12, 1), QColor(Qt::black));
    EXPECT_GT(languages[0].picture.pixelColor(12, 14).green(), 150);
}
