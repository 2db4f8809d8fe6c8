#pragma once
// The registry store's file parser on arbitrary bytes, and its promise that what it reads
// is written back as text it reads back unchanged.
#include <QByteArray>
#include <QStringList>
#include <cstddef>
#include <cstdint>

#include "fuzz/targets/FuzzCheck.h"
#include "settings/RegFile.h"

namespace fuzztargets {

inline std::string describe(const RegData& data) {
    std::string text = data.unrecognised ? "(unrecognised)\n" : "";
    for (auto key = data.keys.cbegin(); key != data.keys.cend(); ++key) {
        text += "[" + fuzzcheck::show(key.value().path) + "] as " + fuzzcheck::show(key.key()) + "\n";
        for (const RegValue& value : key.value().values)
            text += "  " + fuzzcheck::show(value.name) + (value.isString ? " string " : " other ") +
                    fuzzcheck::show(value.data) + " raw " + fuzzcheck::show(value.rawData) + "\n";
    }
    return text;
}

inline bool sameRegData(const RegData& a, const RegData& b) {
    if (a.unrecognised != b.unrecognised || a.keys.keys() != b.keys.keys()) return false;
    for (auto key = a.keys.cbegin(); key != a.keys.cend(); ++key) {
        const RegKey& other = b.keys[key.key()];
        if (key.value().path != other.path || key.value().values.keys() != other.values.keys()) return false;
        for (auto value = key.value().values.cbegin(); value != key.value().values.cend(); ++value) {
            const RegValue& o = other.values[value.key()];
            // A string is the same whatever form it was written in; other kinds by their text.
            if (value->name != o.name || value->isString != o.isString ||
                (value->isString ? value->data != o.data : value->rawData != o.rawData))
                return false;
        }
    }
    return true;
}

// Text without control characters, as the program's own key paths and value names are.
inline QString withoutControls(QString text) {
    text.removeIf([](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
    return text;
}

// Values the program stores: the input read as "path|name|data|path|name|data...", the
// data being any text. Written and read back, every value is the same.
inline void checkStoredValues(const QByteArray& bytes) {
    const QStringList pieces = QString::fromUtf8(bytes).split(u'|');
    RegData stored;
    for (qsizetype i = 0; i + 2 < pieces.size() && i < 48; i += 3) {
        const QString path = withoutControls(pieces.at(i));
        if (!isValidKeyPath(path) || path.startsWith(u'-')) continue;
        addRegKey(stored, path);
        RegValue value;
        value.name = withoutControls(pieces.at(i + 1));
        value.data = pieces.at(i + 2);
        RegKey& key = stored.keys[regFold(path)];
        const QString folded = regFold(value.name);
        if (key.values.contains(folded)) value.name = key.values[folded].name;
        key.values.insert(folded, value);
    }
    const RegData reread = parseRegFile(formatRegFile(stored));
    for (auto key = stored.keys.cbegin(); key != stored.keys.cend(); ++key) {
        FUZZ_CHECK(reread.keys.contains(key.key()), "key " + fuzzcheck::show(key.value().path));
        const RegKey& back = reread.keys[key.key()];
        FUZZ_CHECK(back.path == key.value().path, "key " + fuzzcheck::show(key.value().path));
        for (const RegValue& value : key.value().values) {
            const QString folded = regFold(value.name);
            FUZZ_CHECK(back.values.contains(folded), "value " + fuzzcheck::show(value.name));
            const RegValue& got = back.values[folded];
            FUZZ_CHECK(got.name == value.name && got.isString && got.data == value.data,
                       "value " + fuzzcheck::show(value.name) + " data " + fuzzcheck::show(value.data) +
                           " read back as " + fuzzcheck::show(got.name) + " data " + fuzzcheck::show(got.data));
        }
    }
}

inline void fuzzRegFile(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    checkStoredValues(bytes);
    const RegData parsed = parseRegFile(bytes);
    for (auto key = parsed.keys.cbegin(); key != parsed.keys.cend(); ++key) {
        FUZZ_CHECK(isValidKeyPath(key.value().path), describe(parsed));
        FUZZ_CHECK(regFold(key.value().path) == key.key(), describe(parsed));
        // Every parent of a key is a key too.
        const qsizetype slash = key.value().path.lastIndexOf(u'\\');
        if (slash > 0) FUZZ_CHECK(parsed.keys.contains(regFold(key.value().path.left(slash))), describe(parsed));
        for (auto value = key.value().values.cbegin(); value != key.value().values.cend(); ++value)
            FUZZ_CHECK(regFold(value->name) == value.key(), describe(parsed));
    }
    if (parsed.unrecognised) {
        FUZZ_CHECK(parsed.keys.isEmpty(), describe(parsed));
        return;
    }

    const QByteArray written = formatRegFile(parsed);
    const RegData reread = parseRegFile(written);
    FUZZ_CHECK(sameRegData(parsed, reread),
               "read:\n" + describe(parsed) + "read back:\n" + describe(reread) + "written:\n" + written.toStdString());
    FUZZ_CHECK(formatRegFile(reread) == written, "written twice differently:\n" + written.toStdString());
}

}  // namespace fuzztargets
