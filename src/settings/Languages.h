#pragma once
#include <QImage>
#include <QList>
#include <QString>

// One language file found in the language folder.
struct LanguageFile {
    QString fileName;     // "English.ini"
    QString name;         // the file name without its last four characters: "English"
    QString iniPath;      // folder + "/" + fileName
    QString picturePath;  // folder + "/" + name + ".bmp"
    bool pictureExists = false;
    QImage picture;  // null when the picture is missing or cannot be read
};

// The "*.ini" files of `folder` (the pattern matched without regard to case), sorted by
// file name. A language whose picture is missing or unreadable is still listed, without a
// picture. A folder that does not exist gives an empty list.
QList<LanguageFile> listLanguageFiles(const QString& folder);
