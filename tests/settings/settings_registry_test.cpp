// The registry store, CRegister and ReadRegistryString on private store folders.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "settings/CRegister.h"
#include "settings/Regg.h"
#include "settings/RegistryStore.h"

namespace {

const QString kSettingsKey = "Software\\Halvorin\\Vantrel Settings";

class RegistryTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString folder() const { return dir.path() + "/registry"; }
    RegistryStore store() const { return RegistryStore(folder()); }
    CRegister reg() const { return CRegister(store()); }
    QString machineFile() const { return folder() + "/HKEY_LOCAL_MACHINE.reg"; }

    void writeMachineFile(const QByteArray& bytes) const {
        QDir().mkpath(folder());
        QFile file(machineFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    QByteArray machineFileBytes() const {
        QFile file(machineFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

}  // namespace

TEST(TrimKeyPath, RemovesAtMostOneBackslashAtEachEnd) {
    EXPECT_EQ(CRegister::TrimKeyPath("\\Software\\X\\"), "Software\\X");
    EXPECT_EQ(CRegister::TrimKeyPath("Software\\X"), "Software\\X");
    EXPECT_EQ(CRegister::TrimKeyPath("\\\\Software\\X\\\\"), "\\Software\\X\\");
    EXPECT_EQ(CRegister::TrimKeyPath("\\"), "");
    EXPECT_EQ(CRegister::TrimKeyPath("\\\\"), "");
    EXPECT_EQ(CRegister::TrimKeyPath("\\\\\\"), "\\");
    EXPECT_EQ(CRegister::TrimKeyPath(""), "");
    EXPECT_EQ(CRegister::TrimKeyPath("a\\"), "a");
}

TEST_F(RegistryTest, FirstStartGivesTheDefaultAndASaveIsReadBack) {
    CRegister r = reg();
    EXPECT_EQ(r.REGGetSetting(HKEY_LOCAL_MACHINE, kSettingsKey, "Lang", "English"), "English");
    EXPECT_FALSE(QFile::exists(machineFile()));  // reading creates nothing
    ASSERT_TRUE(r.REGSaveSetting(HKEY_LOCAL_MACHINE, kSettingsKey, "Lang", "Deutsch"));
    EXPECT_EQ(r.REGGetSetting(HKEY_LOCAL_MACHINE, kSettingsKey, "Lang", "English"), "Deutsch");
    // Names of keys and values ignore case; another CRegister sees the same store.
    EXPECT_EQ(reg().REGGetSetting(HKEY_LOCAL_MACHINE, "SOFTWARE\\halvorin\\VANTREL SETTINGS", "lang", "x"), "Deutsch");
    // The file is the registry editor's export text.
    const QByteArray text = machineFileBytes();
    EXPECT_TRUE(text.startsWith("Windows Registry Editor Version 5.00\n"));
    EXPECT_TRUE(text.contains("[HKEY_LOCAL_MACHINE\\Software\\Halvorin\\Vantrel Settings]\n\"Lang\"=\"Deutsch\"\n"));
}

TEST_F(RegistryTest, StoredEmptyStringIsNotTheDefault) {
    CRegister r = reg();
    ASSERT_TRUE(r.REGSaveSetting(HKEY_LOCAL_MACHINE, kSettingsKey, "Lang", ""));
    EXPECT_EQ(r.REGGetSetting(HKEY_LOCAL_MACHINE, kSettingsKey, "Lang", "English"), "");
    // A missing value of an existing key still gives the default.
    EXPECT_EQ(r.REGGetSetting(HKEY_LOCAL_MACHINE, kSettingsKey, "Other", "dflt"), "dflt");
}

TEST_F(RegistryTest, StarAndEmptyNameAddressTheUnnamedDefaultValue) {
    CRegister r = reg();
    EXPECT_EQ(r.REGGetSetting(HKEY_LOCAL_MACHINE, "K", "*", "none"), "none");
    ASSERT_TRUE(r.REGSaveSetting(HKEY_LOCAL_MACHINE, "K", "*", "unnamed"));
    EXPECT_TRUE(machineFileBytes().contains("[HKEY_LOCAL_MACHINE\\K]\n@=\"unnamed\"\n"));
    EXPECT_EQ(r.REGGetSetting(HKEY_LOCAL_MACHINE, "K", "", "none"), "unnamed");
    ASSERT_TRUE(r.REGSaveSetting(HKEY_LOCAL_MACHINE, "K", "", "again"));
    EXPECT_EQ(r.REGGetSetting(HKEY_LOCAL_MACHINE, "K", "*", "none"), "again");
    // A value really named "@" is not the default value.
    ASSERT_TRUE(r.REGSaveSetting(HKEY_LOCAL_MACHINE, "K", "@", "at"));
    EXPECT_EQ(r.REGGetSetting(HKEY_LOCAL_MACHINE, "K", "*", "none"), "again");
    EXPECT_EQ(r.REGGetSetting(HKEY_LOCAL_MACHINE, "K", "@", "none"), "at");
    EXPECT_TRUE(r.REGDeleteSetting(HKEY_LOCAL_MACHINE, "K", "*"));
    EXPECT_EQ(r.REGGetSetting(HKEY_LOCAL_MACHINE, "K", "*", "none"), "none");
    EXPECT_FALSE(r.REGDeleteSetting(HKEY_LOCAL_MACHINE, "K", "*"));
}

TEST_F(RegistryTest, PathsWithOneBackslashAtEitherEndAddressTheSameKey) {
    CRegister r = reg();
    ASSERT_TRUE(r.REGSaveSetting(HKEY_LOCAL_MACHINE, "\\" + kSettingsKey + "\\", "Lang", "Français"));
    EXPECT_EQ(r.REGGetSetting(HKEY_LOCAL_MACHINE, kSettingsKey, "Lang", "English"), "Français");
    EXPECT_EQ(r.REGGetSetting(HKEY_LOCAL_MACHINE, "\\" + kSettingsKey, "Lang", "English"), "Français");
    // Two backslashes leave one: that path is not a valid key.
    EXPECT_EQ(r.REGGetSetting(HKEY_LOCAL_MACHINE, "\\\\" + kSettingsKey, "Lang", "English"), "English");
    EXPECT_FALSE(r.REGSaveSetting(HKEY_LOCAL_MACHINE, "\\\\A", "x", "y"));
    EXPECT_FALSE(r.REGSaveSetting(HKEY_LOCAL_MACHINE, "A\\\\B", "x", "y"));
}

TEST_F(RegistryTest, ReadRegistryStringFollowsTheSameRuleOnTheConfiguredFolder) {
    qputenv("KORVELIN_REGISTRY_DIR", folder().toUtf8());
    EXPECT_EQ(RegistryStore::defaultFolder(), folder());
    EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.pando", "", ""), "");
    CRegister r = reg();
    ASSERT_TRUE(r.REGSaveSetting(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.pando", "*", ""));
    EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.pando", "", "absent"), "");
    ASSERT_TRUE(r.REGSaveSetting(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.pando", "*", "Pando.File"));
    EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Classes\\.pando\\", "", ""), "Pando.File");
    EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.pando", "*", ""), "Pando.File");
    // Another root is another file.
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, "SOFTWARE\\Classes\\.pando", "", "none"), "none");
    qunsetenv("KORVELIN_REGISTRY_DIR");
}

TEST_F(RegistryTest, UnknownRootsAreRefused) {
    CRegister r = reg();
    EXPECT_FALSE(r.REGSaveSetting(0x12345678, "K", "v", "x"));
    EXPECT_EQ(r.REGGetSetting(0x12345678, "K", "v", "d"), "d");
    EXPECT_TRUE(r.GetAllKeys(0x12345678, "").isEmpty());
    EXPECT_TRUE(r.REGSaveSetting(HKEY_CURRENT_USER, "K", "v", "x"));
    EXPECT_TRUE(QFile::exists(folder() + "/HKEY_CURRENT_USER.reg"));
    EXPECT_FALSE(QFile::exists(machineFile()));
}

TEST_F(RegistryTest, CorruptFilesReadAsEmptyAndAreKeptAsideWhenReplaced) {
    for (const QByteArray& garbage :
         {QByteArray("\x00\xFF\x13garbage", 10), QByteArray("[unterminated"),
          QByteArray("Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"open")}) {
        writeMachineFile(garbage);
        EXPECT_EQ(reg().REGGetSetting(HKEY_LOCAL_MACHINE, "K", "v", "dflt"), "dflt");
        EXPECT_TRUE(reg().GetAllKeys(HKEY_LOCAL_MACHINE, "").size() <= 1);
    }
    writeMachineFile("not a registry file");
    ASSERT_TRUE(reg().REGSaveSetting(HKEY_LOCAL_MACHINE, "K", "v", "new"));
    EXPECT_EQ(reg().REGGetSetting(HKEY_LOCAL_MACHINE, "K", "v", "dflt"), "new");
    QFile kept(machineFile() + ".bad");
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "not a registry file");
}

TEST_F(RegistryTest, WritesReplaceTheFileWholeAndKeepHandEditedParts) {
    writeMachineFile(
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "; edited by hand\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Other]\r\n"
        "\"Count\"=dword:00000010\r\n"
        "\"Name\"=\"kept\"\r\n");
    CRegister r = reg();
    ASSERT_TRUE(r.REGSaveSetting(HKEY_LOCAL_MACHINE, kSettingsKey, "Lang", "English"));
    EXPECT_EQ(r.REGGetSetting(HKEY_LOCAL_MACHINE, "Software\\Other", "Name", ""), "kept");
    // A value that is not a string reads as missing but survives the rewrite.
    EXPECT_EQ(r.REGGetSetting(HKEY_LOCAL_MACHINE, "Software\\Other", "Count", "none"), "none");
    EXPECT_TRUE(machineFileBytes().contains("\"Count\"=dword:00000010\n"));
    // No temporary file is left beside the store file.
    EXPECT_EQ(QDir(folder()).entryList(QDir::Files), QStringList{"HKEY_LOCAL_MACHINE.reg"});
}

TEST_F(RegistryTest, AWriteReplacesTheFileInsteadOfRewritingItInPlace) {
    CRegister r = reg();
    ASSERT_TRUE(r.REGSaveSetting(HKEY_LOCAL_MACHINE, kSettingsKey, "Lang", "English"));
    const QByteArray before = machineFileBytes();
    // A second name for the old file: a write in place would change what it shows.
    const QString oldName = folder() + "/old-link";
    ASSERT_EQ(::link(QFile::encodeName(machineFile()).constData(), QFile::encodeName(oldName).constData()), 0);
    ASSERT_TRUE(r.REGSaveSetting(HKEY_LOCAL_MACHINE, kSettingsKey, "Lang", "Deutsch"));
    QFile old(oldName);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), before);
    EXPECT_TRUE(machineFileBytes().contains("\"Lang\"=\"Deutsch\""));
    struct stat oldStat {
    }, newStat{};
    ASSERT_EQ(::stat(QFile::encodeName(oldName).constData(), &oldStat), 0);
    ASSERT_EQ(::stat(QFile::encodeName(machineFile()).constData(), &newStat), 0);
    EXPECT_NE(oldStat.st_ino, newStat.st_ino);
}

TEST_F(RegistryTest, WritesFailCleanlyWhenTheFolderCannotBeMade) {
    QFile blocker(dir.path() + "/registry");  // a file where the folder should be
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    CRegister r = reg();
    EXPECT_FALSE(r.REGSaveSetting(HKEY_LOCAL_MACHINE, kSettingsKey, "Lang", "English"));
    EXPECT_EQ(r.REGGetSetting(HKEY_LOCAL_MACHINE, kSettingsKey, "Lang", "English"), "English");
}

TEST_F(RegistryTest, EscapedDataSurvivesTheFile) {
    CRegister r = reg();
    const QString tricky = "C:\\dir\\\"quoted\"\\ end\\\ttab\nline\r\n" + QString(QChar(0x20AC));
    ASSERT_TRUE(r.REGSaveSetting(HKEY_LOCAL_MACHINE, "Esc\\\"Key\"", "na\\me\"", tricky));
    EXPECT_EQ(r.REGGetSetting(HKEY_LOCAL_MACHINE, "esc\\\"key\"", "NA\\ME\"", ""), tricky);
}

TEST_F(RegistryTest, GetAllKeysListsDirectSubkeysOfAnUntrimmedPath) {
    CRegister r = reg();
    ASSERT_TRUE(r.REGSaveSetting(HKEY_LOCAL_MACHINE, "Root\\beta", "v", "1"));
    ASSERT_TRUE(r.REGSaveSetting(HKEY_LOCAL_MACHINE, "Root\\Alpha\\Deep", "v", "1"));
    ASSERT_TRUE(r.REGSaveSetting(HKEY_LOCAL_MACHINE, "Root\\Gamma", "v", "1"));
    ASSERT_TRUE(r.REGSaveSetting(HKEY_LOCAL_MACHINE, "Root2", "v", "1"));
    EXPECT_EQ(r.GetAllKeys(HKEY_LOCAL_MACHINE, "Root"), (QStringList{"Alpha", "beta", "Gamma"}));
    EXPECT_EQ(r.GetAllKeys(HKEY_LOCAL_MACHINE, "ROOT\\alpha"), QStringList{"Deep"});
    EXPECT_TRUE(r.GetAllKeys(HKEY_LOCAL_MACHINE, "Root\\Gamma").isEmpty());
    EXPECT_TRUE(r.GetAllKeys(HKEY_LOCAL_MACHINE, "\\Root").isEmpty());  // not trimmed
    EXPECT_TRUE(r.GetAllKeys(HKEY_LOCAL_MACHINE, "Missing").isEmpty());
    EXPECT_EQ(r.GetAllKeys(HKEY_LOCAL_MACHINE, ""), (QStringList{"Root", "Root2"}));
}

TEST_F(RegistryTest, DeletingAKeyTakesItsSubkeysAndUsesThePathUntrimmed) {
    CRegister r = reg();
    ASSERT_TRUE(r.REGSaveSetting(HKEY_LOCAL_MACHINE, "A\\B\\C", "v", "1"));
    ASSERT_TRUE(r.REGSaveSetting(HKEY_LOCAL_MACHINE, "A\\BB", "v", "2"));
    EXPECT_FALSE(r.REGDeleteSetting(HKEY_LOCAL_MACHINE, "\\A\\B", ""));
    EXPECT_TRUE(r.REGDeleteSetting(HKEY_LOCAL_MACHINE, "a\\b", ""));
    EXPECT_EQ(r.REGGetSetting(HKEY_LOCAL_MACHINE, "A\\B\\C", "v", "gone"), "gone");
    EXPECT_EQ(r.REGGetSetting(HKEY_LOCAL_MACHINE, "A\\BB", "v", "gone"), "2");
    EXPECT_EQ(r.GetAllKeys(HKEY_LOCAL_MACHINE, "A"), QStringList{"BB"});
    EXPECT_FALSE(r.REGDeleteSetting(HKEY_LOCAL_MACHINE, "A\\B", ""));
    EXPECT_FALSE(r.REGDeleteSetting(HKEY_LOCAL_MACHINE, "", ""));  // never the root itself
    // Deleting a value: the path is trimmed.
    EXPECT_TRUE(r.REGDeleteSetting(HKEY_LOCAL_MACHINE, "\\A\\BB\\", "V"));
    EXPECT_FALSE(r.REGDeleteSetting(HKEY_LOCAL_MACHINE, "A\\BB", "v"));
    EXPECT_TRUE(store().keyExists(HKEY_LOCAL_MACHINE, "A\\BB"));
}
