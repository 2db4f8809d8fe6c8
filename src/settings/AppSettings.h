#pragma once
#include <QString>

// Per-user application settings, addressed by application name, section and key.
// They live in Qt's per-user settings of organisation "Korvelin" under the application
// name, or, when $KORVELIN_SETTINGS_DIR is set, in the INI file "<appName>.ini" in that
// folder (tests use a private folder). The section is the settings group.

// The stored text, or defaultValue when there is none.
QString GetSetting(const QString& appName, const QString& section, const QString& key,
                   const QString& defaultValue = {});
// Stores the text; false when the settings could not be written.
bool SaveSetting(const QString& appName, const QString& section, const QString& key, const QString& value);
