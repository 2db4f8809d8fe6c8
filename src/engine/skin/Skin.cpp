#include "engine/skin/Skin.h"

#include <QAbstractButton>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QSplashScreen>
#include <QStyle>
#include <QTimer>
#include <optional>
#include <stdexcept>
#include <vector>

#include "engine/skin/SkinFile.h"

namespace {

// Set on a mirroring button while its mirror widget's font is bold; looks select it with [chosen="true"].
constexpr char kChosenProperty[] = "chosen";

std::runtime_error fileError(const QString& path, const QString& text) {
    return std::runtime_error(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), text).toStdString());
}

QString readWholeFile(const QString& path, qint64 limit) {
    QFile file(path);
    const QFileInfo info(path);
    if (!info.exists()) throw fileError(path, QStringLiteral("the file does not exist"));
    if (!info.isFile()) throw fileError(path, QStringLiteral("this is a folder, not a file"));
    if (!file.open(QIODevice::ReadOnly)) throw fileError(path, file.errorString());
    if (file.size() > limit) throw fileError(path, QStringLiteral("the file is too large"));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFile::NoError) throw fileError(path, file.errorString());
    return QString::fromUtf8(bytes);
}

QPixmap arrowPixmap(const QString& direction, const QColor& colour, int side) {
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    const qreal s = side, m = s * 0.18, mid = s / 2;
    QPainterPath path;
    if (direction == "right") {
        path.moveTo(m + s * 0.1, m);
        path.lineTo(s - m + s * 0.05, mid);
        path.lineTo(m + s * 0.1, s - m);
    } else if (direction == "left") {
        path.moveTo(s - m - s * 0.1, m);
        path.lineTo(m - s * 0.05, mid);
        path.lineTo(s - m - s * 0.1, s - m);
    } else if (direction == "up") {
        path.moveTo(m, s - m - s * 0.1);
        path.lineTo(mid, m - s * 0.05);
        path.lineTo(s - m, s - m - s * 0.1);
    } else {
        path.moveTo(m, m + s * 0.1);
        path.lineTo(mid, s - m + s * 0.05);
        path.lineTo(s - m, m + s * 0.1);
    }
    path.closeSubpath();
    p.drawPath(path);
    return pixmap;
}

void repolish(QWidget* w) {
    w->style()->unpolish(w);
    w->style()->polish(w);
    w->update();
}

// Keeps a skin button in step with the widget it mirrors: disabled with it, "chosen" while the
// mirror's font is bold. It watches the mirror's own change events, so no timer polls it.
class MirrorWatch : public QObject {
public:
    MirrorWatch(QAbstractButton* button, QWidget* mirror) : QObject(button), button_(button), mirror_(mirror) {
        mirror->installEventFilter(this);
        sync();
    }

    void sync() {
        if (!mirror_) return;
        button_->setEnabled(mirror_->isEnabled());
        const bool chosen = mirror_->font().bold();
        if (button_->property(kChosenProperty).toBool() != chosen) {
            button_->setProperty(kChosenProperty, chosen);
            repolish(button_);
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == mirror_ && (event->type() == QEvent::EnabledChange || event->type() == QEvent::FontChange))
            sync();
        return false;
    }

private:
    QAbstractButton* button_;
    QPointer<QWidget> mirror_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Skin

struct Skin::Impl {
    std::optional<skinfile::SkinData> skin;

    struct Created {
        QPointer<QWidget> window;
        QPointer<QWidget> widget;
    };
    std::vector<Created> created;

    const skinfile::Look* look(const QString& name) const {
        if (!skin) return nullptr;
        const auto it = skin->looks.constFind(name);
        return it == skin->looks.constEnd() ? nullptr : &*it;
    }

    // Drops the parts an earlier SkinWindow gave this window. They are deleted later, not now,
    // because the click being handled may have come from one of them.
    void removeParts(QWidget* window) {
        for (Created& c : created) {
            if (c.window != window || !c.widget) continue;
            c.widget->hide();
            c.widget->setObjectName(QString());
            c.widget->deleteLater();
            c.widget = nullptr;
        }
        std::erase_if(created, [](const Created& c) { return !c.widget || !c.window; });
    }
};

Skin::Skin(QObject* parent) : QObject(parent), d(std::make_unique<Impl>()) {}
Skin::~Skin() = default;

void Skin::LoadSkinFile(const QString& path) {
    const QString text = readWholeFile(path, 1 << 20);
    skinfile::SkinParseResult parsed = skinfile::parseSkin(text);
    if (!parsed.ok()) throw fileError(path, parsed.error);

    // Pictures are named relative to the skin file; every one of them must be there.
    const QString dir = QFileInfo(path).absolutePath();
    QStringList pictures;
    for (skinfile::Look& look : parsed.skin.looks) look.style = skinfile::resolveUrls(look.style, dir, &pictures);
    for (const QString& picture : pictures)
        if (!QFileInfo(picture).isFile())
            throw fileError(path, QStringLiteral("the picture %1 is missing").arg(QDir::toNativeSeparators(picture)));

    d->skin = std::move(parsed.skin);
}

bool Skin::isLoaded() const { return d->skin.has_value(); }

void Skin::SkinWindow(QWidget* window) {
    if (!d->skin || !window) return;
    const QString windowName = window->objectName();
    if (const skinfile::Look* look = d->look(d->skin->windowLooks.value(windowName, QStringLiteral("Form"))))
        SkinWindowAs(window, look->name);

    d->removeParts(window);
    for (const skinfile::Part& part : d->skin->parts) {
        if (part.window != windowName) continue;
        auto find = [&](const QString& name) -> QWidget* {
            if (name.isEmpty() || name == windowName) return window;
            return window->findChild<QWidget*>(name);
        };
        QWidget* parent = find(part.parent);
        QWidget* anchor = part.anchor.isEmpty() ? parent : find(part.anchor);
        if (!parent || !anchor) continue;  // this window lacks the widget the part belongs to

        QWidget* widget = nullptr;
        if (part.kind == skinfile::Part::Kind::Button) {
            auto* button = new QPushButton(part.caption, parent);
            button->setFocusPolicy(Qt::NoFocus);  // skin buttons stay out of the keyboard order
            button->setCursor(Qt::PointingHandCursor);
            button->setProperty(kChosenProperty, false);
            if (part.action == skinfile::Part::Action::Close) {
                connect(button, &QPushButton::clicked, this, [w = QPointer<QWidget>(window)] {
                    if (w) w->close();
                });
            } else {
                connect(button, &QPushButton::clicked, this,
                        [this, name = part.name] { emit ElementClick(SkinElement(name)); });
            }
            widget = button;
        } else {
            auto* label = new QLabel(part.caption, parent);
            label->setTextFormat(Qt::PlainText);
            widget = label;
        }
        widget->setObjectName(part.name);
        widget->setProperty(kSkinPartProperty, true);
        if (!part.tip.isEmpty()) widget->setToolTip(part.tip);
        const QPoint origin = anchor == parent ? QPoint() : parent->mapFromGlobal(anchor->mapToGlobal(QPoint()));
        widget->setGeometry(part.rect.translated(origin));
        if (!part.look.isEmpty()) SkinWindowAs(widget, part.look);
        if (!part.mirror.isEmpty()) {
            if (QWidget* mirror = find(part.mirror); mirror && mirror != widget)
                new MirrorWatch(static_cast<QAbstractButton*>(widget), mirror);
        }
        widget->raise();
        widget->show();
        d->created.push_back({window, widget});
    }
}

void Skin::SkinWindowAs(QWidget* control, const QString& element) {
    const skinfile::Look* look = d->look(element);
    if (!control || !look) return;
    // Plain widgets draw a style-sheet background only when asked to.
    control->setAttribute(Qt::WA_StyledBackground, true);
    if (control->styleSheet() != look->style) control->setStyleSheet(look->style);
    if (!look->arrow.isEmpty()) {
        if (auto* button = qobject_cast<QAbstractButton*>(control)) {
            const QColor colour = look->arrowColour.isEmpty() ? button->palette().color(QPalette::ButtonText)
                                                              : QColor::fromString(look->arrowColour);
            const int side = qMax(5, qMin(button->width(), button->height()) - 4);
            button->setIcon(QIcon(arrowPixmap(look->arrow, colour, side * 2)));
            button->setIconSize(QSize(side, side));
        }
    }
}

QWidget* Skin::skinButton(const QString& name) const {
    for (auto it = d->created.rbegin(); it != d->created.rend(); ++it)
        if (it->widget && it->widget->objectName() == name) return it->widget;
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Splash

struct Splash::Impl {
    QPixmap picture;
    int durationMs = 0;
    std::unique_ptr<QSplashScreen> screen;
    QTimer timer;
};

Splash::Splash(QObject* parent) : QObject(parent), d(std::make_unique<Impl>()) {
    d->timer.setSingleShot(true);
    connect(&d->timer, &QTimer::timeout, this, [this] {
        if (d->screen) d->screen->close();
    });
}

Splash::~Splash() = default;

void Splash::LoadSplashFile(const QString& path) {
    const skinfile::SplashParseResult parsed = skinfile::parseSplash(readWholeFile(path, 64 * 1024));
    if (!parsed.ok()) throw fileError(path, parsed.error);
    const QString picturePath = QDir::isRelativePath(parsed.splash.picture)
                                    ? QFileInfo(path).absoluteDir().filePath(parsed.splash.picture)
                                    : parsed.splash.picture;
    QPixmap picture;
    if (!QFileInfo(picturePath).isFile() || !picture.load(picturePath))
        throw fileError(path,
                        QStringLiteral("the picture %1 cannot be read").arg(QDir::toNativeSeparators(picturePath)));
    d->picture = picture;
    d->durationMs = parsed.splash.durationMs;
}

void Splash::ShowSplash(int /*flags: no variants are defined; 0 is the plain splash*/) {
    if (d->picture.isNull()) return;
    if (!d->screen) d->screen = std::make_unique<QSplashScreen>(d->picture, Qt::WindowStaysOnTopHint);
    d->screen->setPixmap(d->picture);
    d->screen->show();
    d->screen->raise();
    d->timer.start(d->durationMs);
}

bool Splash::isShowing() const { return d->screen && d->screen->isVisible(); }
