#pragma once
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

// A clicked element of the skin: the skin's own buttons carry names such as "Help",
// "avibutton", "mpegbutton", "wmvbutton", "about" and the close element.
class SkinElement {
public:
    explicit SkinElement(QString name) : name_(std::move(name)) {}
    QString Name() const { return name_; }

private:
    QString name_;
};

// The skin engine. A skin file (kvl.skn) maps element names to looks and declares the
// skin's own buttons; see data/kvl.skn for the format.
class Skin : public QObject {
    Q_OBJECT
public:
    explicit Skin(QObject* parent = nullptr);
    ~Skin() override;

    // Reads the skin file; throws std::runtime_error with a readable text when it cannot.
    void LoadSkinFile(const QString& path);
    // Gives a whole window the skin's look and adds the skin's own buttons to it.
    void SkinWindow(QWidget* window);
    // Draws one control as the named element ("combo", "Button", "SLDBACK", ...).
    void SkinWindowAs(QWidget* control, const QString& element);

    bool isLoaded() const;
    // Finds one of the skin's own buttons added by SkinWindow (tests, screenshots).
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
    // Shows the splash; it goes away by itself after the file's duration.
    void ShowSplash(int flags);
    bool isShowing() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
