#include "engine/reader/SharedIndexes.h"

#include <QDateTime>
#include <QFileInfo>
#include <QMutex>
#include <map>

namespace {

struct Published {
    std::weak_ptr<const PacketIndex> index;
    qint64 size = -1;
    QDateTime modified;
};

struct Registry {
    QMutex mutex;
    std::map<std::pair<QString, int>, Published> entries;
};

Registry& registry() {
    static Registry r;
    return r;
}

}  // namespace

void publishIndex(const QString& path, int videoStream, const std::shared_ptr<const PacketIndex>& index) {
    const QFileInfo file(path);
    Registry& r = registry();
    QMutexLocker lock(&r.mutex);
    for (auto it = r.entries.begin(); it != r.entries.end();)  // forget the indexes no reader keeps
        it = it->second.index.expired() ? r.entries.erase(it) : std::next(it);
    r.entries[{file.absoluteFilePath(), videoStream}] = {index, file.size(), file.lastModified()};
}

std::shared_ptr<const PacketIndex> publishedIndex(const QString& path, int videoStream) {
    const QFileInfo file(path);
    Registry& r = registry();
    QMutexLocker lock(&r.mutex);
    const auto it = r.entries.find({file.absoluteFilePath(), videoStream});
    if (it == r.entries.end() || it->second.size != file.size() || it->second.modified != file.lastModified())
        return nullptr;
    return it->second.index.lock();
}
