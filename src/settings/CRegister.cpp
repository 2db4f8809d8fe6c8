#include "settings/CRegister.h"

namespace {

// A subkey name is read into a 255-character buffer that also holds its closing NUL.
constexpr qsizetype kLongestEnumeratedName = 254;

}  // namespace

QString CRegister::TrimKeyPath(const QString& path) {
    QString trimmed = path;
    if (trimmed.startsWith(u'\\')) trimmed.remove(0, 1);
    if (trimmed.endsWith(u'\\')) trimmed.chop(1);
    return trimmed;
}

QString CRegister::storedValueName(const QString& sKey) { return sKey == u"*" ? QString() : sKey; }

QString CRegister::REGGetSetting(uint32_t regHKEY, const QString& sSection, const QString& sKey,
                                 const QString& sDefault) {
    const std::optional<QString> value = store_.readValue(regHKEY, TrimKeyPath(sSection), storedValueName(sKey));
    return value ? *value : sDefault;
}

bool CRegister::REGSaveSetting(uint32_t regHKEY, const QString& sSection, const QString& sKey, const QString& sValue) {
    return store_.writeValue(regHKEY, TrimKeyPath(sSection), storedValueName(sKey), sValue);
}

bool CRegister::REGDeleteSetting(uint32_t regHKEY, const QString& sSection, const QString& sKey) {
    if (sKey.isEmpty()) return store_.deleteKey(regHKEY, sSection);
    return store_.deleteValue(regHKEY, TrimKeyPath(sSection), storedValueName(sKey));
}

QStringList CRegister::GetAllKeys(uint32_t HKEY, const QString& strPath) {
    QStringList names;
    // The enumeration stops at the first name that does not fit the buffer, as it would
    // stop at any failure.
    for (const QString& name : store_.subkeys(HKEY, strPath).value_or(QStringList())) {
        if (name.size() > kLongestEnumeratedName) break;
        names.append(name.section(QChar(0), 0, 0));
    }
    return names;
}
