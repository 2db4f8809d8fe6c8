#pragma once
#include <QString>
#include <QStringList>
#include <cstdint>
#include <utility>

#include "settings/RegistryStore.h"

// The program's registry access class. No operation raises an error for a registry
// failure: reads fall back to the default, writes and deletions report false.
//
// Value names: "*" and "" both stand for the key's unnamed default value.
class CRegister {
public:
    // Works on the store in RegistryStore::defaultFolder().
    CRegister() = default;
    explicit CRegister(RegistryStore store) : store_(std::move(store)) {}

    // sKey not empty: deletes that value of the key TrimKeyPath(sSection).
    // sKey empty: deletes the key sSection (not trimmed) with its subkeys.
    bool REGDeleteSetting(uint32_t regHKEY, const QString& sSection, const QString& sKey);
    // The string value sKey of the key TrimKeyPath(sSection); sDefault when the key or the
    // value is missing or does not hold a string. A stored empty string is returned as "".
    QString REGGetSetting(uint32_t regHKEY, const QString& sSection, const QString& sKey, const QString& sDefault);
    // Creates the key TrimKeyPath(sSection) as needed and stores sValue as the string value
    // sKey. True when it was stored.
    bool REGSaveSetting(uint32_t regHKEY, const QString& sSection, const QString& sKey, const QString& sValue);
    // Removes one "\" at the start, then one "\" at the end.
    static QString TrimKeyPath(const QString& path);
    // The names of the subkeys of strPath (not trimmed), in order; empty when the key cannot
    // be opened.
    QStringList GetAllKeys(uint32_t HKEY, const QString& strPath);

    // The value name the store uses: "*" is the unnamed default value, as is "".
    static QString storedValueName(const QString& sKey);

private:
    RegistryStore store_;
};
