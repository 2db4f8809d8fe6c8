// The registry file format: reading and writing the registry editor's export text.
#include <gtest/gtest.h>

#include <QRandomGenerator>

#include "settings/RegFile.h"

namespace {

const QByteArray kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";

const RegValue* value(const RegData& data, const QString& key, const QString& name) {
    const auto k = data.keys.constFind(regFold(key));
    if (k == data.keys.cend()) return nullptr;
    const auto v = k->values.constFind(regFold(name));
    return v == k->values.cend() ? nullptr : &*v;
}

}  // namespace

TEST(RegFileFormat, ReadsKeysNamedAndDefaultValuesWithEscapes) {
    const RegData data = parseRegFile(kHeader +
                                      "[HKEY_LOCAL_MACHINE\\Software\\Halvorin\\Vantrel Settings]\r\n"
                                      "@=\"default text\"\r\n"
                                      "\"Lang\"=\"English\"\r\n"
                                      "\"Path\"=\"C:\\\\Program Files\\\\Korvelin\"\r\n"
                                      "\"Quote\"=\"say \\\"hi\\\"\"\r\n"
                                      "\"Empty\"=\"\"\r\n");
    EXPECT_FALSE(data.unrecognised);
    // The parents of a key exist too.
    EXPECT_TRUE(data.keys.contains(regFold("HKEY_LOCAL_MACHINE\\Software")));
    EXPECT_TRUE(data.keys.contains(regFold("HKEY_LOCAL_MACHINE\\Software\\Halvorin")));
    const QString key = "hkey_local_machine\\SOFTWARE\\halvorin\\vantrel settings";
    ASSERT_NE(value(data, key, ""), nullptr);
    EXPECT_EQ(value(data, key, "")->data, "default text");
    EXPECT_EQ(value(data, key, "LANG")->data, "English");
    EXPECT_EQ(value(data, key, "path")->data, "C:\\Program Files\\Korvelin");
    EXPECT_EQ(value(data, key, "Quote")->data, "say \"hi\"");
    ASSERT_NE(value(data, key, "Empty"), nullptr);
    EXPECT_TRUE(value(data, key, "Empty")->data.isEmpty());
    EXPECT_EQ(data.keys.value(regFold(key)).path, "HKEY_LOCAL_MACHINE\\Software\\Halvorin\\Vantrel Settings");
}

TEST(RegFileFormat, WritesTheExportFormatAndReadsItBackUnchanged) {
    RegData data;
    addRegKey(data, "HKEY_LOCAL_MACHINE\\Software\\A b");
    RegKey& key = data.keys[regFold("HKEY_LOCAL_MACHINE\\Software\\A b")];
    key.values.insert("", RegValue{"", true, "def", {}});
    key.values.insert(regFold("Name \"q\""), RegValue{"Name \"q\"", true, "back\\slash \"quoted\" \\\"", {}});
    key.values.insert(regFold("lines"), RegValue{"lines", true, QString("one\r\ntwo\n") + QChar(0) + "x", {}});
    key.values.insert(regFold("unicode"), RegValue{"unicode", true, QString::fromUtf8("Français € 日本"), {}});
    key.values.insert(regFold("empty"), RegValue{"empty", true, "", {}});

    const QByteArray text = formatRegFile(data);
    EXPECT_TRUE(text.startsWith("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE]\n"));
    EXPECT_TRUE(text.contains("[HKEY_LOCAL_MACHINE\\Software\\A b]\n@=\"def\"\n"));
    EXPECT_TRUE(text.contains("\"Name \\\"q\\\"\"=\"back\\\\slash \\\"quoted\\\" \\\\\\\"\"\n"));
    EXPECT_TRUE(text.contains("\"empty\"=\"\"\n"));
    // Line breaks cannot stand in a quoted string: such data is written in hex form.
    EXPECT_TRUE(text.contains("\"lines\"=hex(1):6f,00,6e,00,65,00,0d,00,0a,00"));

    const RegData back = parseRegFile(text);
    EXPECT_EQ(formatRegFile(back), text);
    const QString path = "HKEY_LOCAL_MACHINE\\Software\\A b";
    for (const RegValue& v : key.values) {
        ASSERT_NE(value(back, path, v.name), nullptr) << v.name.toStdString();
        EXPECT_EQ(value(back, path, v.name)->name, v.name);
        EXPECT_EQ(value(back, path, v.name)->data, v.data) << v.name.toStdString();
    }
}

TEST(RegFileFormat, KeepsOtherValueKindsVerbatimAndReadsHexStrings) {
    const RegData data = parseRegFile(kHeader +
                                      "[HKEY_LOCAL_MACHINE\\K]\n"
                                      "\"Count\"=dword:0000001f\n"
                                      "\"Text\"=hex(1):41,00,\\\n"
                                      "  42,00,00,00\n"
                                      "\"Expand\"=hex(2):25,00,00,00\n"
                                      "\"Bad\"=hex(1):zz\n");
    const QString key = "HKEY_LOCAL_MACHINE\\K";
    ASSERT_NE(value(data, key, "Count"), nullptr);
    EXPECT_FALSE(value(data, key, "Count")->isString);
    EXPECT_EQ(value(data, key, "Text")->data, "AB");
    EXPECT_TRUE(value(data, key, "Expand")->isString);
    EXPECT_EQ(value(data, key, "Expand")->data, "%");
    EXPECT_FALSE(value(data, key, "Bad")->isString);
    const QByteArray text = formatRegFile(data);
    EXPECT_TRUE(text.contains("\"Count\"=dword:0000001f\n"));
    EXPECT_TRUE(text.contains("\"Expand\"=hex(2):25,00,00,00\n"));
}

TEST(RegFileFormat, ReadsTheEditorsOwnUtf16ExportAndRegedit4) {
    const QString text =
        "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Sw]\r\n\"Lang\"=\"Français\"\r\n";
    QByteArray utf16("\xFF\xFE");
    for (QChar c : text) {
        utf16.append(static_cast<char>(c.unicode() & 0xFF));
        utf16.append(static_cast<char>(c.unicode() >> 8));
    }
    EXPECT_EQ(value(parseRegFile(utf16), "HKEY_LOCAL_MACHINE\\Sw", "Lang")->data, "Français");

    // REGEDIT4 files are single-byte text.
    const RegData ansi = parseRegFile(
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Sw]\r\n\"Lang\"=\"Fran\xE7"
        "ais\"\r\n");
    EXPECT_EQ(value(ansi, "HKEY_LOCAL_MACHINE\\Sw", "Lang")->data, "Français");
}

TEST(RegFileFormat, CorruptOrOddInputReadsAsEmptyOrSkipsTheBadLines) {
    EXPECT_TRUE(parseRegFile("").keys.isEmpty());
    EXPECT_FALSE(parseRegFile("\n\n").unrecognised);
    const RegData noHeader = parseRegFile("[HKEY_LOCAL_MACHINE\\K]\n\"a\"=\"b\"\n");
    EXPECT_TRUE(noHeader.keys.isEmpty());
    EXPECT_TRUE(noHeader.unrecognised);
    EXPECT_TRUE(parseRegFile(QByteArray("\x00\x01\xFF\xFE\x00", 5)).keys.isEmpty());

    const RegData mixed = parseRegFile(kHeader +
                                       "\"outside\"=\"no key yet\"\n"
                                       "[HKEY_LOCAL_MACHINE\\\\Double]\n\"x\"=\"ignored\"\n"
                                       "[-HKEY_LOCAL_MACHINE\\Deleted]\n\"y\"=\"ignored\"\n"
                                       "[HKEY_LOCAL_MACHINE\\Good]\n"
                                       "\"unterminated\"=\"abc\n"
                                       "\"trailing\"=\"abc\" junk\n"
                                       "noquotes=\"x\"\n"
                                       "\"removed\"=-\n"
                                       "; a comment\n"
                                       "\"ok\" = \"fine\"\n");
    EXPECT_EQ(mixed.keys.size(), 2);  // HKEY_LOCAL_MACHINE and its subkey Good
    const RegKey good = mixed.keys.value(regFold("HKEY_LOCAL_MACHINE\\Good"));
    EXPECT_EQ(good.values.size(), 1);
    EXPECT_EQ(value(mixed, "HKEY_LOCAL_MACHINE\\Good", "ok")->data, "fine");
}

TEST(RegFileFormat, RandomBytesNeverBreakTheReader) {
    QRandomGenerator random(1234);
    const QByteArray alphabet = "[]\\\"@=-:,;hex(1)dword\r\n HKEY_LOCAL_MACHINE\xC3\xA7\xFF";
    for (int round = 0; round < 2000; ++round) {
        QByteArray bytes = round % 2 ? kHeader : QByteArray();
        const int length = random.bounded(200);
        for (int i = 0; i < length; ++i) bytes.append(alphabet.at(random.bounded(alphabet.size())));
        const RegData data = parseRegFile(bytes);
        // Whatever was understood survives a write and a second read.
        EXPECT_EQ(formatRegFile(parseRegFile(formatRegFile(data))), formatRegFile(data));
    }
}
