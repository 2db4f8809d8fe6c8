#include "engine/skin/SkinFile.h"

#include <QColor>
#include <QDir>
#include <QRegularExpression>
#include <QSet>

namespace skinfile {
namespace {

// ---- The shared line syntax: [kind name] headers, key = value lines, indented continuations.

struct Entry {
    QString key;
    QString value;
    int line = 0;
};

struct Section {
    QString kind;  // empty for keys written before the first header
    QString name;
    int line = 0;
    QVector<Entry> entries;

    const Entry* find(const QString& key) const {
        for (const Entry& e : entries)
            if (e.key == key) return &e;
        return nullptr;
    }
    QString value(const QString& key) const {
        const Entry* e = find(key);
        return e ? e->value : QString();
    }
};

struct SectionFile {
    QVector<Section> sections;
    QString error;
};

QString lineError(int line, const QString& text) { return QStringLiteral("line %1: %2").arg(line).arg(text); }

bool isWord(const QString& s, bool allowUpper) {
    if (s.isEmpty() || s.size() > 200) return false;
    for (QChar c : s) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' ||
                        (allowUpper && c >= 'A' && c <= 'Z');
        if (!ok) return false;
    }
    return true;
}

SectionFile readSections(const QString& text) {
    SectionFile file;
    const QStringList lines = text.split(QLatin1Char('\n'));
    Section* section = nullptr;
    Entry* entry = nullptr;
    auto fail = [&](int line, const QString& message) {
        file.error = lineError(line, message);
        return file;
    };
    auto openSection = [&](const QString& kind, const QString& name, int line) {
        file.sections.append(Section{kind, name, line, {}});
        section = &file.sections.last();
        entry = nullptr;
    };

    for (int i = 0; i < lines.size(); ++i) {
        const int lineNo = i + 1;
        QString line = lines[i];
        if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
        if (line.trimmed().isEmpty()) continue;
        const QChar first = line.front();
        if (first == '#' || first == ';') continue;

        if (first == ' ' || first == '\t') {
            if (!entry) return fail(lineNo, QStringLiteral("an indented line continues nothing"));
            if (!entry->value.isEmpty()) entry->value += QLatin1Char('\n');
            entry->value += line.trimmed();
            continue;
        }
        if (first == '[') {
            const QString header = line.trimmed();
            if (!header.endsWith(QLatin1Char(']')))
                return fail(lineNo, QStringLiteral("a section header must end with ']'"));
            const QStringList words = header.mid(1, header.size() - 2).simplified().split(QLatin1Char(' '));
            const QString kind = words.value(0).toLower();
            const QString name = words.value(1);
            if (words.size() > 2 || !isWord(kind, false))
                return fail(lineNo, QStringLiteral("a section header is [kind] or [kind name]"));
            if (!name.isEmpty() && !isWord(name, true))
                return fail(lineNo, QStringLiteral("\"%1\" is not a usable name").arg(name));
            for (const Section& s : file.sections)
                if (s.kind == kind && s.name == name)
                    return fail(lineNo, QStringLiteral("[%1] is declared twice (first on line %2)")
                                            .arg(header.mid(1, header.size() - 2).simplified())
                                            .arg(s.line));
            openSection(kind, name, lineNo);
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0) return fail(lineNo, QStringLiteral("expected \"key = value\""));
        const QString key = line.left(eq).trimmed().toLower();
        if (!isWord(key, false)) return fail(lineNo, QStringLiteral("\"%1\" is not a key name").arg(key));
        if (!section) openSection(QString(), QString(), lineNo);
        if (section->find(key)) return fail(lineNo, QStringLiteral("\"%1\" is given twice").arg(key));
        section->entries.append(Entry{key, line.mid(eq + 1).trimmed(), lineNo});
        entry = &section->entries.last();
    }
    return file;
}

// Every key of a section must be one the section kind knows, so a misspelt key is reported
// instead of silently doing nothing.
QString checkKeys(const Section& s, const QStringList& known) {
    for (const Entry& e : s.entries)
        if (!known.contains(e.key))
            return lineError(e.line, QStringLiteral("[%1] does not know the key \"%2\"").arg(s.kind, e.key));
    return {};
}

// ---- Skin sections.

// Replaces "$name" by the named colour. Unknown names are an error.
QString substituteColours(const QString& text, const QHash<QString, QString>& colours, QString* unknown) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '$') {
            out += text[i];
            continue;
        }
        qsizetype end = i + 1;
        while (end < text.size() && (text[end].isLetterOrNumber() || text[end] == '_' || text[end] == '-')) ++end;
        const QString name = text.mid(i + 1, end - i - 1);
        const auto found = colours.constFind(name);
        if (found == colours.constEnd()) {
            *unknown = name;
            return {};
        }
        out += *found;
        i = end - 1;
    }
    return out;
}

bool parseRect(const QString& text, QRect* rect) {
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4) return false;
    int v[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        v[i] = parts[i].trimmed().toInt(&ok);
        if (!ok || v[i] < -10000 || v[i] > 10000) return false;
    }
    if (v[2] <= 0 || v[3] <= 0) return false;
    *rect = QRect(v[0], v[1], v[2], v[3]);
    return true;
}

QString readColours(const Section& s, QHash<QString, QString>* colours) {
    for (const Entry& e : s.entries) {
        if (!QColor::isValidColorName(e.value))
            return lineError(e.line, QStringLiteral("\"%1\" is not a colour").arg(e.value));
        colours->insert(e.key, e.value);
    }
    return {};
}

QString readLook(const Section& s, const QHash<QString, QString>& colours, Look* look) {
    if (QString err = checkKeys(s, {"style", "arrow", "arrow-colour"}); !err.isEmpty()) return err;
    look->name = s.name;
    for (const Entry& e : s.entries) {
        QString unknown;
        const QString value = substituteColours(e.value, colours, &unknown);
        if (!unknown.isNull())
            return lineError(e.line, QStringLiteral("the colour \"$%1\" is not in [colours]").arg(unknown));
        if (e.key == "style") {
            look->style = value;
        } else if (e.key == "arrow") {
            if (!QStringList{"left", "right", "up", "down"}.contains(value))
                return lineError(e.line, QStringLiteral("arrow is left, right, up or down"));
            look->arrow = value;
        } else {
            if (!QColor::isValidColorName(value))
                return lineError(e.line, QStringLiteral("\"%1\" is not a colour").arg(value));
            look->arrowColour = value;
        }
    }
    return {};
}

QString readPart(const Section& s, const SkinData& skin, Part* part) {
    const bool button = s.kind == "button";
    QStringList known{"window", "parent", "anchor", "rect", "caption", "look", "tip"};
    if (button)
        known << "mirror"
              << "action";
    if (QString err = checkKeys(s, known); !err.isEmpty()) return err;

    part->kind = button ? Part::Kind::Button : Part::Kind::Panel;
    part->name = s.name;
    part->line = s.line;
    part->window = s.value("window");
    part->parent = s.value("parent");
    part->anchor = s.value("anchor");
    part->caption = s.value("caption");
    part->look = s.value("look");
    part->mirror = s.value("mirror");
    part->tip = s.value("tip");

    const QString what = QStringLiteral("[%1 %2]").arg(s.kind, s.name);
    if (part->window.isEmpty()) return lineError(s.line, what + QStringLiteral(" needs \"window\""));
    const Entry* rect = s.find("rect");
    if (!rect) return lineError(s.line, what + QStringLiteral(" needs \"rect\""));
    if (!parseRect(rect->value, &part->rect))
        return lineError(rect->line, QStringLiteral("rect is x, y, width, height (whole pixels, sizes above 0)"));
    if (!part->look.isEmpty() && !skin.looks.contains(part->look))
        return lineError(s.find("look")->line, QStringLiteral("there is no [look %1]").arg(part->look));
    for (const char* key : {"window", "parent", "anchor", "mirror"}) {
        const Entry* e = s.find(key);
        if (e && !isWord(e->value, true))
            return lineError(e->line, QStringLiteral("\"%1\" is not a widget name").arg(e->value));
    }
    if (const Entry* action = s.find("action")) {
        if (action->value == "close")
            part->action = Part::Action::Close;
        else if (action->value != "click")
            return lineError(action->line, QStringLiteral("action is click or close"));
    }
    return {};
}

}  // namespace

SkinParseResult parseSkin(const QString& text) {
    SkinParseResult result;
    const SectionFile file = readSections(text);
    if (!file.error.isEmpty()) {
        result.error = file.error;
        return result;
    }
    // Colours and looks first, so that the order of sections in the file does not matter to them.
    QHash<QString, QString> colours;
    for (const Section& s : file.sections) {
        if (s.kind.isEmpty()) {
            result.error = lineError(s.line, QStringLiteral("keys must follow a section header"));
            return result;
        }
        if (s.kind == "colours" && !s.name.isEmpty()) {
            result.error = lineError(s.line, QStringLiteral("[colours] takes no name"));
            return result;
        }
        if (s.kind != "colours" && s.name.isEmpty()) {
            result.error = lineError(s.line, QStringLiteral("[%1] needs a name").arg(s.kind));
            return result;
        }
        if (!QStringList{"colours", "look", "window", "panel", "button"}.contains(s.kind)) {
            result.error = lineError(s.line, QStringLiteral("unknown section kind \"%1\"").arg(s.kind));
            return result;
        }
        if (s.kind == "colours") result.error = readColours(s, &colours);
        if (!result.error.isEmpty()) return result;
    }
    SkinData& skin = result.skin;
    for (const Section& s : file.sections) {
        if (s.kind != "look") continue;
        Look look;
        result.error = readLook(s, colours, &look);
        if (!result.error.isEmpty()) return result;
        skin.looks.insert(look.name, look);
    }
    QSet<QString> partNames;
    for (const Section& s : file.sections) {
        if (s.kind == "window") {
            if (QString err = checkKeys(s, {"look"}); !err.isEmpty()) {
                result.error = err;
                return result;
            }
            const QString look = s.value("look");
            if (!skin.looks.contains(look)) {
                result.error =
                    lineError(s.line, QStringLiteral("[window %1] needs the look of an existing [look]").arg(s.name));
                return result;
            }
            skin.windowLooks.insert(s.name, look);
        } else if (s.kind == "panel" || s.kind == "button") {
            // Panels and buttons share one namespace: a part is found by its objectName.
            if (partNames.contains(s.name)) {
                result.error = lineError(s.line, QStringLiteral("a part named \"%1\" already exists").arg(s.name));
                return result;
            }
            Part part;
            result.error = readPart(s, skin, &part);
            if (!result.error.isEmpty()) return result;
            partNames.insert(part.name);
            skin.parts.append(part);
        }
    }
    return result;
}

QString resolveUrls(const QString& style, const QString& baseDir, QStringList* pictures) {
    static const QRegularExpression url(QStringLiteral(R"re(url\(\s*(["']?)([^)"']*)\1\s*\))re"));
    QString out;
    qsizetype last = 0;
    auto it = url.globalMatch(style);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const QString path = m.captured(2).trimmed();
        const bool relative = !path.isEmpty() && !path.startsWith(QLatin1Char(':')) && QDir::isRelativePath(path);
        const QString full = relative ? QDir::cleanPath(baseDir + QLatin1Char('/') + path) : path;
        if (pictures && !full.isEmpty()) pictures->append(full);
        out += style.mid(last, m.capturedStart() - last);
        out += QStringLiteral("url(\"%1\")").arg(full);
        last = m.capturedEnd();
    }
    out += style.mid(last);
    return out;
}

SplashParseResult parseSplash(const QString& text) {
    SplashParseResult result;
    const SectionFile file = readSections(text);
    if (!file.error.isEmpty()) {
        result.error = file.error;
        return result;
    }
    // The keys stand on their own or under one [splash] header.
    const Section* keys = nullptr;
    for (const Section& s : file.sections) {
        if (!s.kind.isEmpty() && s.kind != "splash") {
            result.error = lineError(s.line, QStringLiteral("a splash file has no [%1] section").arg(s.kind));
            return result;
        }
        if (keys) {
            result.error = lineError(s.line, QStringLiteral("the splash keys are given twice"));
            return result;
        }
        keys = &s;
    }
    if (!keys) {
        result.error = QStringLiteral("the file names no picture");
        return result;
    }
    if (QString err = checkKeys(*keys, {"picture", "duration"}); !err.isEmpty()) {
        result.error = err.replace(QStringLiteral("[]"), QStringLiteral("the splash file"));
        return result;
    }
    result.splash.picture = keys->value("picture");
    if (result.splash.picture.isEmpty()) {
        result.error = lineError(keys->line, QStringLiteral("\"picture\" names no file"));
        return result;
    }
    const Entry* duration = keys->find("duration");
    result.splash.durationMs = 1500;
    if (duration) {
        bool ok = false;
        const int ms = duration->value.toInt(&ok);
        if (!ok || ms < 1 || ms > 60000) {
            result.error = lineError(duration->line, QStringLiteral("duration is 1 to 60000 milliseconds"));
            return result;
        }
        result.splash.durationMs = ms;
    }
    return result;
}

}  // namespace skinfile
