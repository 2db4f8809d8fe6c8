#pragma once
#include <QByteArray>
#include <QString>
#include <optional>

// The project's private-profile (INI) reader, with the rules of the Windows function
// GetPrivateProfileString:
//   - "[section]" lines open a section; "key=value" lines belong to the section above them;
//     lines starting with ';' are comments; other lines are ignored;
//   - section and key names compare without regard to case, and are trimmed;
//   - the value is trimmed; one pair of matching quotes around it is removed, so a value
//     can keep blanks at its ends by quoting it ("Marker ");
//   - the first matching key wins;
//   - a missing file, section or key gives the default text;
//   - the result is cut to bufferSize - 1 characters and its length is the count returned.
// Files are decoded as UTF-8 when they are valid UTF-8, otherwise as Windows-1252.

// The value of `key` in `section` of the INI text, untrimmed to any buffer; nullopt when absent.
std::optional<QString> findIniValue(const QString& iniText, const QString& section, const QString& key);

// GetPrivateProfileString on the bytes of an INI file: `returned` receives the value (or the
// default), cut to bufferSize - 1 characters; the count of characters is returned.
int profileStringFromBytes(const QByteArray& fileBytes, const QString& section, const QString& key,
                           const QString& defaultText, QString& returned, int bufferSize);

// The same on a file; a file that does not exist or cannot be read gives the default.
int GetPrivateProfileString(const QString& section, const QString& key, const QString& defaultText, QString& returned,
                            int bufferSize, const QString& path);

// The language text rule: key `key` of `section` in the file `path`, default "Default",
// a 255-character buffer, so at most 254 characters.
QString readIniText(const QString& path, const QString& section, const QString& key);

// The text rule for a key added after the first language files: as readIniText, but a key
// (or file) `path` lacks takes the value in `fallbackPath` (the English file), and "Default"
// only when that lacks it too.
QString readAddedIniText(const QString& path, const QString& fallbackPath, const QString& section, const QString& key);
