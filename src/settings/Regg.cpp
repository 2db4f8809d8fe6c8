#include "settings/Regg.h"

#include "settings/CRegister.h"

QString ReadRegistryString(uint32_t root, const QString& keyPath, const QString& valueName,
                           const QString& defaultText) {
    return CRegister().REGGetSetting(root, keyPath, valueName, defaultText);
}
