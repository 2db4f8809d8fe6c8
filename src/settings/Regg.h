#pragma once
#include <QString>
#include <cstdint>

#include "settings/RegistryStore.h"

// Reads one string value of a registry key with the same rule as CRegister::REGGetSetting:
// the key path loses one "\" at each end, "*" and "" name the unnamed default value, and
// defaultText is returned when the key or the value is missing or holds no string.
QString ReadRegistryString(uint32_t root, const QString& keyPath, const QString& valueName, const QString& defaultText);
