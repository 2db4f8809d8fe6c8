#include "jobs/Job.h"

#include <sys/stat.h>
#include <unistd.h>
#include <QFile>

void Job::ownOutput(const QString& path) {
    // Asked right after the file was created exclusively: whatever is at the name now is the job's.
    OwnFile file{QFile::encodeName(path)};
    struct stat made {};
    if (!file.path.isEmpty() && ::stat(file.path.constData(), &made) == 0) {
        file.device = made.st_dev;
        file.inode = made.st_ino;
        ownFiles_.push_back(file);
    }
}

void Job::removeOwnOutputs() {
    QStringList kept;
    for (const OwnFile& file : ownFiles_) {
        struct stat named {};
        if (::stat(file.path.constData(), &named) == 0 && named.st_dev == file.device && named.st_ino == file.inode &&
            ::unlink(file.path.constData()) != 0)
            kept << QFile::decodeName(file.path);
    }
    ownFiles_.clear();
    if (!kept.isEmpty())
        outcome_.failure += QStringLiteral(" (%1 could not be removed)").arg(kept.join(QStringLiteral(", ")));
}
