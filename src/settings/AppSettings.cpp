#include "settings/AppSettings.h"

#include <QSettings>
#include <memory>

namespace {

std::unique_ptr<QSettings> openSettings(const QString& appName) {
    const QString folder = qEnvironmentVariable("KORVELIN_SETTINGS_DIR");
    if (!folder.isEmpty())
        return std::make_unique<QSettings>(folder + u'/' + appName + QStringLiteral(".ini"), QSettings::IniFormat);
    return std::make_unique<QSettings>(QStringLiteral("Korvelin"), appName);
}

}  // namespace

QString GetSetting(const QString& appName, const QString& section, const QString& key, const QString& defaultValue) {
    if (key.isEmpty()) return defaultValue;
    const std::unique_ptr<QSettings> settings = openSettings(appName);
    settings->beginGroup(section);
    const QVariant value = settings->value(key);
    if (!value.isValid()) return defaultValue;
    // An INI line edited by hand to "a, b" reads back as a list.
    if (value.typeId() == QMetaType::QStringList) return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

bool SaveSetting(const QString& appName, const QString& section, const QString& key, const QString& value) {
    if (key.isEmpty()) return false;
    const std::unique_ptr<QSettings> settings = openSettings(appName);
    settings->beginGroup(section);
    settings->setValue(key, value);
    settings->endGroup();
    settings->sync();
    return settings->status() == QSettings::NoError;
}
