#include "settings/Languages.h"

#include <QDir>
#include <QFileInfo>

QList<LanguageFile> listLanguageFiles(const QString& folder) {
    QDir dir(folder);
    dir.setNameFilters({QStringLiteral("*.ini")});
    dir.setFilter(QDir::Files);  // name filters ignore case unless QDir::CaseSensitive is set
    dir.setSorting(QDir::Name | QDir::IgnoreCase);

    QList<LanguageFile> languages;
    for (const QString& fileName : dir.entryList()) {
        LanguageFile language;
        language.fileName = fileName;
        language.name = fileName.left(fileName.size() - 4);
        language.iniPath = folder + u'/' + fileName;
        language.picturePath = folder + u'/' + language.name + QStringLiteral(".bmp");
        language.pictureExists = QFileInfo(language.picturePath).isFile();
        if (language.pictureExists) language.picture.load(language.picturePath);
        languages.append(language);
    }
    return languages;
}
