#pragma once
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <memory>

// A clicked element of the skin: the skin's own buttons carry names such as "Help",
// "avibutton", "mpegbutton", "wmvbutton", "about" and the close element.
class SkinElement {
public:
    explicit SkinElement(QString name) : name_(std::move(name)) {}
    QString Name() const { return name_; }

private:
    QString name_;
};

// Every widget the skin adds to a window (its buttons and panels) carries this property set to
// true, so that code walking a window's controls can tell them from the window's own.
inline constexpr char kSkinPartProperty[] = "kvlSkinButton";

// The skin engine. A skin file (kvl.skn) maps element names to looks and declares the
// skin's own buttons; see data/kvl.skn for the format. Widgets are found by objectName.
// Skinning only sets style sheets (and arrow icons): it never changes a control's enabled or
// visible state or its signals. Until a skin is loaded every call does nothing.
class Skin : public QObject {
    Q_OBJECT
public:
    explicit Skin(QObject* parent = nullptr);
    ~Skin() override;

    // Reads the skin file; throws std::runtime_error with a readable text (path and line) when
    // it cannot. A failed load keeps the skin loaded before, if any.
    void LoadSkinFile(const QString& path);
    // Gives a whole window the skin's look (the look its [window] section names, else "Form")
    // and adds the skin's own panels and buttons declared for the window's objectName. Skinning
    // the same window again replaces the parts added before.
    void SkinWindow(QWidget* window);
    // Draws one control as the named element ("combo", "Button", "SLDBACK", ...). An element the
    // skin does not define leaves the control as it is.
    void SkinWindowAs(QWidget* control, const QString& element);

    bool isLoaded() const;
    // Finds one of the skin's own buttons or panels added by SkinWindow, by its name.
    QWidget* skinButton(const QString& name) const;

signals:
    void ElementClick(const SkinElement& element);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// The splash screen: kvl.spl names a picture and how long it stays (see data/kvl.spl).
class Splash : public QObject {
    Q_OBJECT
public:
    explicit Splash(QObject* parent = nullptr);
    ~Splash() override;
    // Throws std::runtime_error when the file or its picture cannot be read.
    void LoadSplashFile(const QString& path);
    // Shows the splash; it goes away by itself after the file's duration (or when clicked).
    // No flags are defined: 0 shows the plain splash. Does nothing before a successful load.
    void ShowSplash(int flags);
    bool isShowing() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
