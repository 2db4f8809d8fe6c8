#pragma once
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

#include "settings/RegFile.h"

// Predefined registry roots.
constexpr uint32_t HKEY_CLASSES_ROOT = 0x80000000;
constexpr uint32_t HKEY_CURRENT_USER = 0x80000001;
constexpr uint32_t HKEY_LOCAL_MACHINE = 0x80000002;
constexpr uint32_t HKEY_USERS = 0x80000003;
constexpr uint32_t HKEY_CURRENT_CONFIG = 0x80000005;

// A file-backed store with the registry's semantics: keys below a root, named string
// values and the unnamed default value (name ""), names compared without regard to case.
// Each root lives in one file named after it, e.g. HKEY_LOCAL_MACHINE.reg, in the registry
// editor's export format (see RegFile.h), so a person can read and edit it.
//
// Every operation reads the file afresh; every change replaces the whole file atomically.
// A missing or unreadable file reads as empty; a file that is not a registry file also
// reads as empty, and is kept beside the new one as "<name>.reg.bad" when first replaced.
//
// Key paths are relative to the root: "" is the root itself, otherwise the parts are joined
// by "\" and none may be empty (no leading, trailing or doubled "\"), as in the registry.
class RegistryStore {
public:
    // The store's folder: $KORVELIN_REGISTRY_DIR when set, else "korvelin/registry" in the
    // user's configuration folder.
    static QString defaultFolder();
    // "HKEY_LOCAL_MACHINE" and so on; "" for a number that is not a predefined root.
    static QString rootName(uint32_t root);

    explicit RegistryStore(const QString& folder = defaultFolder());
    const QString& folder() const { return folder_; }
    // The file of a root; "" when `root` is not a predefined root.
    QString filePath(uint32_t root) const;

    bool keyExists(uint32_t root, const QString& keyPath) const;
    // nullopt when the key or the value is missing, or the value does not hold a string.
    std::optional<QString> readValue(uint32_t root, const QString& keyPath, const QString& valueName) const;
    // Subkey names in order; nullopt when the key does not exist.
    std::optional<QStringList> subkeys(uint32_t root, const QString& keyPath) const;

    // Creates the key and any missing parents. False when it cannot be stored.
    bool createKey(uint32_t root, const QString& keyPath);
    // Creates the key as needed and sets the value, replacing any earlier one.
    bool writeValue(uint32_t root, const QString& keyPath, const QString& valueName, const QString& data);
    // False when the key or the value does not exist, or the file cannot be written.
    bool deleteValue(uint32_t root, const QString& keyPath, const QString& valueName);
    // Deletes the key with all its subkeys. The root itself cannot be deleted.
    bool deleteKey(uint32_t root, const QString& keyPath);

private:
    // The full path of a key ("HKEY_LOCAL_MACHINE\Software"), or nullopt for an unknown
    // root or an invalid path.
    static std::optional<QString> fullPath(uint32_t root, const QString& keyPath);
    RegData load(uint32_t root) const;
    bool save(uint32_t root, const RegData& data) const;

    QString folder_;
};
