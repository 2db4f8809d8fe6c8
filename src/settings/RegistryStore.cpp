#include "settings/RegistryStore.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

// Longest name of one key in the registry.
constexpr qsizetype kMaxKeyNameLength = 255;

bool hasLineBreak(const QString& text) { return text.contains(u'\n') || text.contains(u'\r'); }

bool isStorableKeyPath(const QString& keyPath) {
    if (keyPath.isEmpty()) return true;
    if (!isValidKeyPath(keyPath) || hasLineBreak(keyPath)) return false;
    for (const QString& part : keyPath.split(u'\\'))
        if (part.size() > kMaxKeyNameLength) return false;
    return true;
}

}  // namespace

QString RegistryStore::defaultFolder() {
    const QString fromEnvironment = qEnvironmentVariable("KORVELIN_REGISTRY_DIR");
    if (!fromEnvironment.isEmpty()) return fromEnvironment;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/korvelin/registry");
}

QString RegistryStore::rootName(uint32_t root) {
    switch (root) {
        case HKEY_CLASSES_ROOT: return QStringLiteral("HKEY_CLASSES_ROOT");
        case HKEY_CURRENT_USER: return QStringLiteral("HKEY_CURRENT_USER");
        case HKEY_LOCAL_MACHINE: return QStringLiteral("HKEY_LOCAL_MACHINE");
        case HKEY_USERS: return QStringLiteral("HKEY_USERS");
        case HKEY_CURRENT_CONFIG: return QStringLiteral("HKEY_CURRENT_CONFIG");
        default: return {};
    }
}

RegistryStore::RegistryStore(const QString& folder) : folder_(folder) {}

QString RegistryStore::filePath(uint32_t root) const {
    const QString name = rootName(root);
    return name.isEmpty() ? QString() : folder_ + u'/' + name + QStringLiteral(".reg");
}

std::optional<QString> RegistryStore::fullPath(uint32_t root, const QString& keyPath) {
    const QString name = rootName(root);
    if (name.isEmpty() || !isStorableKeyPath(keyPath)) return std::nullopt;
    return keyPath.isEmpty() ? name : name + u'\\' + keyPath;
}

RegData RegistryStore::load(uint32_t root) const {
    QFile file(filePath(root));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return parseRegFile(file.readAll());
}

bool RegistryStore::save(uint32_t root, const RegData& data) const {
    if (!QDir().mkpath(folder_)) return false;
    const QString path = filePath(root);
    // A file that was not a registry file is kept aside rather than silently overwritten.
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly) && parseRegFile(existing.readAll()).unrecognised) {
        existing.close();
        QFile::remove(path + QStringLiteral(".bad"));
        QFile::copy(path, path + QStringLiteral(".bad"));
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    const QByteArray bytes = formatRegFile(data);
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool RegistryStore::keyExists(uint32_t root, const QString& keyPath) const {
    const std::optional<QString> path = fullPath(root, keyPath);
    if (!path) return false;
    return keyPath.isEmpty() || load(root).keys.contains(regFold(*path));
}

std::optional<QString> RegistryStore::readValue(uint32_t root, const QString& keyPath, const QString& valueName) const {
    const std::optional<QString> path = fullPath(root, keyPath);
    if (!path) return std::nullopt;
    const RegData data = load(root);
    const auto key = data.keys.constFind(regFold(*path));
    if (key == data.keys.cend()) return std::nullopt;
    const auto value = key->values.constFind(regFold(valueName));
    if (value == key->values.cend() || !value->isString) return std::nullopt;
    return value->data;
}

std::optional<QStringList> RegistryStore::subkeys(uint32_t root, const QString& keyPath) const {
    const std::optional<QString> path = fullPath(root, keyPath);
    if (!path) return std::nullopt;
    const RegData data = load(root);
    const QString parent = regFold(*path);
    if (!keyPath.isEmpty() && !data.keys.contains(parent)) return std::nullopt;
    QStringList names;
    const QString prefix = parent + u'\\';
    for (auto it = data.keys.lowerBound(prefix); it != data.keys.cend() && it.key().startsWith(prefix); ++it)
        if (!it.key().mid(prefix.size()).contains(u'\\')) names.append(it->path.section(u'\\', -1));
    return names;
}

bool RegistryStore::createKey(uint32_t root, const QString& keyPath) {
    const std::optional<QString> path = fullPath(root, keyPath);
    if (!path) return false;
    RegData data = load(root);
    if (keyPath.isEmpty() || data.keys.contains(regFold(*path))) return true;
    addRegKey(data, *path);
    return save(root, data);
}

bool RegistryStore::writeValue(uint32_t root, const QString& keyPath, const QString& valueName, const QString& text) {
    const std::optional<QString> path = fullPath(root, keyPath);
    if (!path || hasLineBreak(valueName)) return false;
    RegData data = load(root);
    addRegKey(data, *path);
    RegKey& key = data.keys[regFold(*path)];
    const QString folded = regFold(valueName);
    const QString name = key.values.contains(folded) ? key.values[folded].name : valueName;
    key.values.insert(folded, RegValue{name, true, text, {}});
    return save(root, data);
}

bool RegistryStore::deleteValue(uint32_t root, const QString& keyPath, const QString& valueName) {
    const std::optional<QString> path = fullPath(root, keyPath);
    if (!path) return false;
    RegData data = load(root);
    const auto key = data.keys.find(regFold(*path));
    if (key == data.keys.end() || key->values.remove(regFold(valueName)) == 0) return false;
    return save(root, data);
}

bool RegistryStore::deleteKey(uint32_t root, const QString& keyPath) {
    const std::optional<QString> path = fullPath(root, keyPath);
    if (!path || keyPath.isEmpty()) return false;
    RegData data = load(root);
    const QString folded = regFold(*path);
    if (!data.keys.contains(folded)) return false;
    data.keys.remove(folded);
    const QString prefix = folded + u'\\';
    for (auto it = data.keys.lowerBound(prefix); it != data.keys.end() && it.key().startsWith(prefix);)
        it = data.keys.erase(it);
    return save(root, data);
}
