#pragma once
#include <QHash>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QVector>

// The skin and splash file formats as plain data, read by pure functions that never throw and
// never crash: a bad file gives an error text naming the line, never a half-read skin.
// The formats themselves are described at the top of data/kvl.skn and data/kvl.spl.
namespace skinfile {

// How one skin element is drawn.
struct Look {
    QString name;
    QString style;        // Qt style sheet, colours already substituted
    QString arrow;        // "", "left", "right", "up" or "down": an arrow picture drawn on a button
    QString arrowColour;  // a colour name QColor understands; empty = the button's text colour
};

// A widget the skin adds to a window: a plain panel or a button that reports its clicks.
struct Part {
    enum class Kind { Panel, Button };
    enum class Action { Click, Close };
    Kind kind = Kind::Panel;
    QString name;    // objectName of the created widget and, for buttons, the clicked element's name
    QString window;  // objectName of the window the part belongs to
    QString parent;  // objectName of the widget it is put in; empty = the window itself
    QString anchor;  // objectName of a widget the rect is measured from; empty = the parent
    QRect rect;      // pixels, relative to the anchor (or parent)
    QString caption;
    QString look;    // name of a Look; empty = none
    QString mirror;  // objectName of the widget whose enabled state and bold font the button shows
    QString tip;
    Action action = Action::Click;
    int line = 0;  // where it was declared, for messages
};

struct SkinData {
    QHash<QString, Look> looks;
    QHash<QString, QString> windowLooks;  // window objectName -> look name
    QVector<Part> parts;                  // in file order: a part may sit in an earlier part
};

struct SkinParseResult {
    SkinData skin;
    QString error;  // empty when the text is a valid skin
    bool ok() const { return error.isEmpty(); }
};

SkinParseResult parseSkin(const QString& text);

// Rewrites every url(...) whose path is relative so that it points into `baseDir`, and lists the
// absolute paths of all pictures named, so that a loader can check that they exist.
QString resolveUrls(const QString& style, const QString& baseDir, QStringList* pictures = nullptr);

struct SplashData {
    QString picture;  // as written in the file: relative to the file's folder, or absolute
    int durationMs = 0;
};

struct SplashParseResult {
    SplashData splash;
    QString error;
    bool ok() const { return error.isEmpty(); }
};

SplashParseResult parseSplash(const QString& text);

}  // namespace skinfile
