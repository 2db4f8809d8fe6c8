// The INI reader with the private-profile rules, and the language files shipped in data/.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "settings/IniReader.h"

namespace {

QString valueOf(const QByteArray& bytes, const QString& section, const QString& key, int bufferSize = 255) {
    QString returned = "stale";
    const int count = profileStringFromBytes(bytes, section, key, "Default", returned, bufferSize);
    EXPECT_EQ(count, returned.size());
    return returned;
}

const QByteArray kSample =
    "; comment line\r\n"
    "[frmMain]\r\n"
    "0=Korvelin\r\n"
    "  9  =   Cut   \r\n"
    "Quoted=\"  Marker  \"\r\n"
    "Single='x'\r\n"
    "Half=\"open\r\n"
    ";10=commented out\r\n"
    "Empty=\r\n"
    "Equals=a=b\r\n"
    "no equals sign\r\n"
    "9=second is ignored\r\n"
    "[ MSGX ]\r\n"
    "0=message zero\r\n"
    "[other]\n"
    "0=other zero\n";

}  // namespace

TEST(IniReader, NamesIgnoreCaseAndValuesAreTrimmedAndUnquoted) {
    EXPECT_EQ(valueOf(kSample, "frmMain", "0"), "Korvelin");
    EXPECT_EQ(valueOf(kSample, "FRMMAIN", "9"), "Cut");
    EXPECT_EQ(valueOf(kSample, "frmmain", "quoted"), "  Marker  ");
    EXPECT_EQ(valueOf(kSample, "frmMain", "Single"), "x");
    EXPECT_EQ(valueOf(kSample, "frmMain", "Half"), "\"open");
    EXPECT_EQ(valueOf(kSample, "frmMain", "Empty"), "");
    EXPECT_EQ(valueOf(kSample, "frmMain", "Equals"), "a=b");
    EXPECT_EQ(valueOf(kSample, "msgx", "0"), "message zero");
    EXPECT_EQ(valueOf(kSample, " Other ", "0"), "other zero");
}

TEST(IniReader, MissingSectionKeyOrCommentedKeyGivesTheDefault) {
    EXPECT_EQ(valueOf(kSample, "frmMain", "10"), "Default");
    EXPECT_EQ(valueOf(kSample, "frmMain", "1"), "Default");
    EXPECT_EQ(valueOf(kSample, "nosuch", "0"), "Default");
    EXPECT_EQ(valueOf(kSample, "MSGX", "9"), "Default");  // key of another section
    EXPECT_EQ(valueOf("", "frmMain", "0"), "Default");
    EXPECT_EQ(valueOf(QByteArray("\x00\xFF[frmMain\x00", 11), "frmMain", "0"), "Default");
    // The default loses trailing blanks, as with the Windows function.
    QString returned;
    EXPECT_EQ(profileStringFromBytes("", "s", "k", "dflt  ", returned, 255), 4);
    EXPECT_EQ(returned, "dflt");
}

TEST(IniReader, ResultIsCutToOneLessThanTheBuffer) {
    const QString longText(300, QChar('x'));
    const QByteArray file = "[s]\nk=" + longText.toUtf8() + "\n";
    EXPECT_EQ(valueOf(file, "s", "k"), QString(254, QChar('x')));
    EXPECT_EQ(valueOf(file, "s", "k", 10), QString(9, QChar('x')));
    EXPECT_EQ(valueOf(file, "s", "k", 1), "");
    EXPECT_EQ(valueOf(file, "s", "k", 0), "");
    EXPECT_EQ(valueOf("[s]\nk=" + QByteArray(254, 'y') + "\n", "s", "k"), QString(254, QChar('y')));
    EXPECT_EQ(valueOf("[s]\nk=abc\n", "s", "nokey", 4), "Def");
    // A character outside the basic plane is not cut in half.
    const QString clef = QString::fromUtf8("\xF0\x9D\x84\x9E");  // one character, two UTF-16 units
    EXPECT_EQ(valueOf("[s]\nk=ab" + clef.toUtf8() + "\n", "s", "k", 3), "ab");
    EXPECT_EQ(valueOf("[s]\nk=a" + clef.toUtf8() + "\n", "s", "k", 3), "a" + clef);
}

TEST(IniReader, DecodesUtf8OrElseWindows1252) {
    EXPECT_EQ(valueOf("[s]\nk=Fran\xC3\xA7"
                      "ais \xE2\x82\xAC\n",
                      "s", "k"),
              QString::fromUtf8("Français €"));
    EXPECT_EQ(valueOf("\xEF\xBB\xBF[s]\nk=\xC3\xBC\n", "s", "k"), QString::fromUtf8("ü"));
    // Not valid UTF-8: single-byte Windows text, where 0x80 is the euro sign.
    EXPECT_EQ(valueOf("[s]\nk=Fran\xE7"
                      "ais \x80 \x93q\x94\n",
                      "s", "k"),
              QString::fromUtf8("Français € \xE2\x80\x9Cq\xE2\x80\x9D"));
    // Section names are decoded the same way.
    EXPECT_EQ(valueOf("[Men\xFC]\nk=v\n", "MENÜ", "k"), "v");
}

TEST(IniReader, FileWrapperAndLanguageTextRule) {
    QTemporaryDir dir;
    const QString path = dir.filePath("Lang.ini");
    EXPECT_EQ(readIniText(path, "frmMain", "0"), "Default");        // missing file
    EXPECT_EQ(readIniText(dir.path(), "frmMain", "0"), "Default");  // a folder, not a file
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[frmMain]\n0=Title\n1=" + QByteArray(400, 'z') + "\n");
    file.close();
    EXPECT_EQ(readIniText(path, "FRMMAIN", "0"), "Title");
    EXPECT_EQ(readIniText(path, "frmMain", "1").size(), 254);
    EXPECT_EQ(readIniText(path, "frmMain", "2"), "Default");
    QString returned;
    EXPECT_EQ(GetPrivateProfileString("frmMain", "0", "d", returned, 3, path), 2);
    EXPECT_EQ(returned, "Ti");
}

// Every key the program reads is present in every shipped language file, and the texts
// that other text is built around have the shape that needs.
TEST(ShippedLanguages, EveryLanguageHasEveryKey) {
    const QDir languages(QStringLiteral(KORVELIN_SOURCE_DIR) + "/data/Languages");
    const QStringList files = languages.entryList({"*.ini"}, QDir::Files, QDir::Name);
    ASSERT_EQ(files, (QStringList{"Deutsch.ini", "English.ini", QString::fromUtf8("Français.ini")}));
    for (const QString& name : files) {
        SCOPED_TRACE(name.toStdString());
        const QString path = languages.filePath(name);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        EXPECT_FALSE(QString::fromUtf8(bytes).contains(QChar::ReplacementCharacter)) << "not UTF-8";

        QStringList keys = {"0"};
        for (int key = 6; key <= 31; ++key) keys << QString::number(key);
        for (const QString& key : keys) {
            const QString text = readIniText(path, "frmMain", key);
            EXPECT_NE(text, "Default") << "frmMain " << key.toStdString();
            EXPECT_FALSE(text.isEmpty()) << "frmMain " << key.toStdString();
        }
        for (int key = 0; key <= 34; ++key) {
            const QString text = readIniText(path, "MSGX", QString::number(key));
            EXPECT_NE(text, "Default") << "MSGX " << key;
            EXPECT_FALSE(text.isEmpty()) << "MSGX " << key;
            EXPECT_LT(text.size(), 254) << "MSGX " << key;
        }
        // The preview sizes are read back as the number they start with.
        EXPECT_TRUE(readIniText(path, "frmMain", "27").startsWith("0 "));
        EXPECT_EQ(readIniText(path, "frmMain", "28"), "1");
        EXPECT_EQ(readIniText(path, "frmMain", "0"), "Korvelin");
        EXPECT_NE(readIniText(path, "frmMain", "29"), readIniText(path, "frmMain", "30"));
        // "<9>1#: 25" reads as words followed by the marker number.
        EXPECT_TRUE(readIniText(path, "MSGX", "9").endsWith(' '));
        EXPECT_EQ(readIniText(path, "MSGX", "8"), "ms");
        // "<1> description": the prefix ends in a colon.
        EXPECT_TRUE(readIniText(path, "MSGX", "1").endsWith(':'));
    }
}
