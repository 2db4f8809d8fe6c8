#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <functional>
#include <stdexcept>

#include "engine/skin/Skin.h"
#include "engine/skin/SkinFile.h"

// Readable QString values in failure messages.
void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

using skinfile::parseSkin;
using skinfile::parseSplash;

namespace {

const QString kDataDir = QStringLiteral(KORVELIN_SOURCE_DIR "/data");

QString readText(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll());
}

void writeText(const QString& path, const QString& text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text.toUtf8());
}

// Runs the event loop until `done` holds or the time is up.
bool waitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

// A small skin that exercises every kind of section.
const char* kSmallSkin = R"(# a test skin
[colours]
ink = #102030
accent = steelblue

[look Form]
style =
    #frmMain { background: $ink; }

[look combo]
style =
    QPushButton { color: $ink; }
    QPushButton:hover { color: $accent; }

[look SLD_BTN_R]
arrow = right
arrow-colour = $accent
style = QPushButton { padding: 0; }

[look tab]
style = QPushButton[chosen="true"] { font-weight: bold; }

[window frmAbout]
look = combo

[panel band]
window = frmMain
rect = 0, 0, 300, 30
caption = Korvelin

[button Help]
window = frmMain
parent = band
rect = 200, 4, 50, 22
caption = Help
tip = Open the help

[button close]
window = frmMain
parent = band
rect = 260, 4, 30, 22
action = close

[button wmvbutton]
window = frmMain
anchor = FrameConvertTo
rect = 10, -20, 60, 20
caption = WMV
look = tab
mirror = cmdOptWMV
)";

// The controls of the main window the skin refers to, with their real names.
struct MainWindowMock {
    QWidget window;
    QFrame* convertTo = nullptr;
    QPushButton* optAVI = nullptr;
    QPushButton* optMPEG = nullptr;
    QPushButton* optWMV = nullptr;
    QPushButton* nextFrame = nullptr;
    QLabel* sldBack = nullptr;
    QLabel* sldThum = nullptr;
    QComboBox* list = nullptr;

    MainWindowMock() {
        window.setObjectName("frmMain");
        window.resize(884, 553);
        convertTo = new QFrame(&window);
        convertTo->setObjectName("FrameConvertTo");
        convertTo->setGeometry(470, 290, 212, 203);
        auto hiddenButton = [&](const char* name, int left) {
            auto* b = new QPushButton(name, convertTo);
            b->setObjectName(name);
            b->setGeometry(left / 15, 10, 59, 23);
            b->hide();
            return b;
        };
        optAVI = hiddenButton("cmdOptAVI", 240);
        optMPEG = hiddenButton("cmdOptMPEG", 1140);
        optWMV = hiddenButton("cmdOptWMV", 2070);
        auto* cutEditor = new QFrame(&window);
        cutEditor->setObjectName("FrameCutEditor");
        cutEditor->setGeometry(10, 100, 439, 283);
        nextFrame = new QPushButton(cutEditor);
        nextFrame->setObjectName("cmdNextFrame");
        nextFrame->setGeometry(420, 248, 13, 13);
        sldBack = new QLabel(cutEditor);
        sldBack->setObjectName("sldBack");
        sldThum = new QLabel(cutEditor);
        sldThum->setObjectName("sldThum");
        sldThum->setEnabled(false);
        list = new QComboBox(cutEditor);
        list->setObjectName("cmbVideoSize");
        list->addItems({"0  Shrink To Fit", "1"});
    }
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// The skin file format

TEST(SkinFile, SmallSkinReadsEveryKindOfSection) {
    const auto r = parseSkin(kSmallSkin);
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    const auto& s = r.skin;
    EXPECT_EQ(s.looks.size(), 4);
    // Colours are substituted and continuation lines are joined with line breaks.
    EXPECT_EQ(s.looks["combo"].style, "QPushButton { color: #102030; }\nQPushButton:hover { color: steelblue; }");
    EXPECT_EQ(s.looks["SLD_BTN_R"].arrow, "right");
    EXPECT_EQ(s.looks["SLD_BTN_R"].arrowColour, "steelblue");
    EXPECT_EQ(s.windowLooks.value("frmAbout"), "combo");

    ASSERT_EQ(s.parts.size(), 4);
    EXPECT_EQ(s.parts[0].kind, skinfile::Part::Kind::Panel);
    EXPECT_EQ(s.parts[0].caption, "Korvelin");
    const auto& help = s.parts[1];
    EXPECT_EQ(help.kind, skinfile::Part::Kind::Button);
    EXPECT_EQ(help.name, "Help");
    EXPECT_EQ(help.parent, "band");
    EXPECT_EQ(help.rect, QRect(200, 4, 50, 22));
    EXPECT_EQ(help.tip, "Open the help");
    EXPECT_EQ(help.action, skinfile::Part::Action::Click);
    EXPECT_EQ(s.parts[2].action, skinfile::Part::Action::Close);
    const auto& wmv = s.parts[3];
    EXPECT_EQ(wmv.anchor, "FrameConvertTo");
    EXPECT_EQ(wmv.rect, QRect(10, -20, 60, 20));
    EXPECT_EQ(wmv.mirror, "cmdOptWMV");
    EXPECT_EQ(wmv.look, "tab");
}

TEST(SkinFile, WindowsLineEndsAndCommentsAreAccepted) {
    QString text = QString::fromLatin1(kSmallSkin);
    text.replace("\n", "\r\n");
    text.prepend("; a comment\r\n\r\n");
    const auto r = parseSkin(text);
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_FALSE(r.skin.looks["combo"].style.contains('\r'));
}

TEST(SkinFile, MistakesAreReportedWithTheirLine) {
    struct Case {
        const char* text;
        int line;
        const char* says;
    };
    const Case cases[] = {
        {"[look a]\nstyle = x\n[gizmo b]\n", 3, "unknown section kind"},
        {"style = x\n", 1, "keys must follow a section header"},
        {"\n  continued\n", 2, "continues nothing"},
        {"[look a\n", 1, "must end with ']'"},
        {"[look a b c]\n", 1, "[kind name]"},
        {"[look a]\nstyle\n", 2, "key = value"},
        {"[look a]\nstyle = x\nstyle = y\n", 3, "given twice"},
        {"[look a]\ncolour = red\n", 2, "does not know the key \"colour\""},
        {"[look a]\nstyle = color: $nope;\n", 2, "\"$nope\""},
        {"[look a]\narrow = sideways\n", 2, "left, right, up or down"},
        {"[colours]\nink = notacolour\n", 2, "not a colour"},
        {"[colours x]\n", 1, "takes no name"},
        {"[look]\n", 1, "needs a name"},
        {"[look a]\n[look a]\n", 2, "declared twice"},
        {"[window w]\nlook = missing\n", 1, "existing [look]"},
        {"[button b]\nrect = 0, 0, 1, 1\n", 1, "needs \"window\""},
        {"[button b]\nwindow = w\n", 1, "needs \"rect\""},
        {"[button b]\nwindow = w\nrect = 1, 2, 3\n", 3, "rect is x, y, width, height"},
        {"[button b]\nwindow = w\nrect = 1, 2, 0, 4\n", 3, "rect is"},
        {"[button b]\nwindow = w\nrect = 1, 2, x, 4\n", 3, "rect is"},
        {"[button b]\nwindow = w\nrect = 1, 2, 3, 4\nlook = none\n", 4, "no [look none]"},
        {"[button b]\nwindow = w\nrect = 1, 2, 3, 4\naction = explode\n", 4, "click or close"},
        {"[button b]\nwindow = w w\nrect = 1, 2, 3, 4\n", 2, "not a widget name"},
        {"[panel p]\nwindow = w\nrect = 1, 2, 3, 4\nmirror = x\n", 4, "does not know the key \"mirror\""},
        {"[panel p]\nwindow = w\nrect = 1,2,3,4\n[button p]\nwindow = w\nrect = 1,2,3,4\n", 4, "already exists"},
    };
    for (const Case& c : cases) {
        const auto r = parseSkin(QString::fromUtf8(c.text));
        ASSERT_FALSE(r.ok()) << c.text;
        EXPECT_TRUE(r.error.startsWith(QStringLiteral("line %1: ").arg(c.line)))
            << c.text << " -> " << r.error.toStdString();
        EXPECT_TRUE(r.error.contains(QString::fromUtf8(c.says))) << c.text << " -> " << r.error.toStdString();
    }
}

TEST(SkinFile, EmptyTextIsAnEmptySkin) {
    const auto r = parseSkin(QString());
    EXPECT_TRUE(r.ok());
    EXPECT_TRUE(r.skin.looks.isEmpty());
    EXPECT_TRUE(r.skin.parts.isEmpty());
}

// Garbage never crashes the reader: cut, spliced and byte-flipped versions of the real skin and
// random bytes all come back either as a skin or as an error naming a line.
TEST(SkinFile, DamagedFilesNeverCrashTheReader) {
    const QString real = readText(kDataDir + "/kvl.skn");
    ASSERT_FALSE(real.isEmpty());
    QRandomGenerator rng(20240611);
    int rejected = 0;
    for (int i = 0; i < 600; ++i) {
        QString text = real;
        switch (i % 4) {
            case 0: text.truncate(rng.bounded(real.size())); break;
            case 1:
                for (int k = 0; k < 8; ++k) text[rng.bounded(text.size())] = QChar(ushort(rng.bounded(1, 0x3000)));
                break;
            case 2: text = real.mid(rng.bounded(real.size())) + real.left(rng.bounded(real.size())); break;
            default: {
                QByteArray bytes(rng.bounded(1, 400), '\0');
                for (char& b : bytes) b = char(rng.bounded(256));
                text = QString::fromLatin1(bytes);
            }
        }
        const auto r = parseSkin(text);
        if (!r.ok()) {
            ++rejected;
            EXPECT_TRUE(r.error.startsWith("line ")) << r.error.toStdString();
        }
    }
    EXPECT_GT(rejected, 100);  // the damage is real, not all of it harmless
}

TEST(SkinFile, PictureUrlsPointIntoTheSkinFolder) {
    QStringList pictures;
    const QString out = skinfile::resolveUrls(
        "a { border-image: url(pics/a.png); } b { image: url('b.png'); } c { image: url(\"/abs/c.png\"); } "
        "d { image: url(:/res/d.png); }",
        "/opt/korvelin", &pictures);
    EXPECT_TRUE(out.contains("url(\"/opt/korvelin/pics/a.png\")"));
    EXPECT_TRUE(out.contains("url(\"/opt/korvelin/b.png\")"));
    EXPECT_TRUE(out.contains("url(\"/abs/c.png\")"));
    EXPECT_TRUE(out.contains("url(\":/res/d.png\")"));
    EXPECT_EQ(pictures, QStringList({"/opt/korvelin/pics/a.png", "/opt/korvelin/b.png", "/abs/c.png", ":/res/d.png"}));
    EXPECT_EQ(skinfile::resolveUrls("no pictures here", "/x"), "no pictures here");
}

TEST(SkinFile, TheShippedSkinDeclaresEverythingTheProgramUses) {
    const auto r = parseSkin(readText(kDataDir + "/kvl.skn"));
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    for (const char* element :
         {"Form", "combo", "Button", "SLDBACK", "SLDTHUM", "SLD_BTN_R", "SLD_BTN_L", "SmallForm", "Label"})
        EXPECT_TRUE(r.skin.looks.contains(element)) << element;
    EXPECT_EQ(r.skin.looks["SLD_BTN_R"].arrow, "right");
    EXPECT_EQ(r.skin.looks["SLD_BTN_L"].arrow, "left");
    // The command-button look must leave font weight to the program, which marks the chosen
    // format button in bold.
    EXPECT_FALSE(r.skin.looks["combo"].style.contains("font-weight"));

    QHash<QString, skinfile::Part> byName;
    for (const auto& p : r.skin.parts) byName.insert(p.name, p);
    for (const char* name : {"Help", "about", "avibutton", "mpegbutton", "wmvbutton", "originalbutton", "close"}) {
        ASSERT_TRUE(byName.contains(name)) << name;
        EXPECT_EQ(byName[name].kind, skinfile::Part::Kind::Button) << name;
        EXPECT_EQ(byName[name].window, "frmMain") << name;
    }
    EXPECT_EQ(byName["close"].action, skinfile::Part::Action::Close);
    EXPECT_EQ(byName["avibutton"].mirror, "cmdOptAVI");
    EXPECT_EQ(byName["mpegbutton"].mirror, "cmdOptMPEG");
    EXPECT_EQ(byName["wmvbutton"].mirror, "cmdOptWMV");
    // The header band fits above the first frames of the window (they start at y = 34).
    EXPECT_LE(byName["header"].rect.bottom(), 33);
}

TEST(SkinFile, SplashFileKeys) {
    auto r = parseSplash("# splash\npicture = splash.png\nduration = 900\n");
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_EQ(r.splash.picture, "splash.png");
    EXPECT_EQ(r.splash.durationMs, 900);

    r = parseSplash("[splash]\npicture = a b.png\n");
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_EQ(r.splash.picture, "a b.png");
    EXPECT_EQ(r.splash.durationMs, 1500);

    EXPECT_FALSE(parseSplash("").ok());
    EXPECT_FALSE(parseSplash("duration = 100\n").ok());
    EXPECT_FALSE(parseSplash("picture =\n").ok());
    EXPECT_FALSE(parseSplash("picture = a.png\nduration = 0\n").ok());
    EXPECT_FALSE(parseSplash("picture = a.png\nduration = 70000\n").ok());
    EXPECT_FALSE(parseSplash("picture = a.png\nduration = soon\n").ok());
    EXPECT_FALSE(parseSplash("picture = a.png\nsound = b.wav\n").ok());
    EXPECT_FALSE(parseSplash("picture = a.png\n[other]\n").ok());
    EXPECT_FALSE(parseSplash("picture = a.png\n[splash]\npicture = b.png\n").ok());
}

// ---------------------------------------------------------------------------------------------
// The skin engine on widgets

class SkinEngine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        smallSkin = dir.filePath("small.skn");
        writeText(smallSkin, kSmallSkin);
    }

    QTemporaryDir dir;
    QString smallSkin;
    MainWindowMock w;
    Skin skin;
    QStringList clicks;

    void listen() {
        QObject::connect(&skin, &Skin::ElementClick, [this](const SkinElement& e) { clicks << e.Name(); });
    }
};

TEST_F(SkinEngine, ShippedSkinAddsItsButtonsAndReportsClicksByExactName) {
    skin.LoadSkinFile(kDataDir + "/kvl.skn");
    ASSERT_TRUE(skin.isLoaded());
    skin.SkinWindow(&w.window);
    listen();

    for (const char* name : {"Help", "about", "avibutton", "mpegbutton", "wmvbutton", "originalbutton", "close"}) {
        auto* b = qobject_cast<QAbstractButton*>(skin.skinButton(name));
        ASSERT_NE(b, nullptr) << name;
        EXPECT_EQ(b->window(), &w.window) << name;
        EXPECT_EQ(b->focusPolicy(), Qt::NoFocus) << name;
        EXPECT_TRUE(b->property(kSkinPartProperty).toBool()) << name;  // the window's own walks skip it
    }
    for (const char* name : {"Help", "about", "avibutton", "mpegbutton", "wmvbutton", "originalbutton"})
        static_cast<QAbstractButton*>(skin.skinButton(name))->click();
    EXPECT_EQ(clicks, QStringList({"Help", "about", "avibutton", "mpegbutton", "wmvbutton", "originalbutton"}));

    // The header band runs along the top of the window; the format tabs stand on the format frame.
    QWidget* header = skin.skinButton("header");
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->geometry().top(), 0);
    EXPECT_EQ(header->width(), w.window.width());
    const QRect tab = skin.skinButton("avibutton")->geometry();
    EXPECT_EQ(tab.bottom(), w.convertTo->y());  // overlapping the frame's top border
    EXPECT_GT(tab.left(), w.convertTo->x());
    // The window got the whole-window look.
    EXPECT_TRUE(w.window.styleSheet().contains("#frmMain"));
}

TEST_F(SkinEngine, CloseElementClosesTheWindowWithoutReportingAClick) {
    skin.LoadSkinFile(smallSkin);
    skin.SkinWindow(&w.window);
    listen();
    w.window.show();
    ASSERT_TRUE(w.window.isVisible());
    static_cast<QAbstractButton*>(skin.skinButton("close"))->click();
    EXPECT_FALSE(w.window.isVisible());
    EXPECT_TRUE(clicks.isEmpty());
}

TEST_F(SkinEngine, FormatButtonsMirrorTheHiddenButtons) {
    skin.LoadSkinFile(kDataDir + "/kvl.skn");
    skin.SkinWindow(&w.window);
    // The program draws every command button as "combo", the hidden format buttons included.
    for (QPushButton* b : {w.optAVI, w.optMPEG, w.optWMV}) skin.SkinWindowAs(b, "combo");
    listen();
    auto* avi = static_cast<QAbstractButton*>(skin.skinButton("avibutton"));
    auto* mpeg = static_cast<QAbstractButton*>(skin.skinButton("mpegbutton"));
    auto* wmv = static_cast<QAbstractButton*>(skin.skinButton("wmvbutton"));
    EXPECT_FALSE(avi->property("chosen").toBool());

    auto setBold = [](QWidget* b, bool bold) {
        QFont f = b->font();
        f.setBold(bold);
        b->setFont(f);
    };
    setBold(w.optMPEG, true);
    EXPECT_TRUE(mpeg->property("chosen").toBool());
    EXPECT_FALSE(avi->property("chosen").toBool());
    setBold(w.optMPEG, false);
    setBold(w.optAVI, true);
    EXPECT_FALSE(mpeg->property("chosen").toBool());
    EXPECT_TRUE(avi->property("chosen").toBool());

    // A job disables the hidden buttons: the skin's buttons follow and ignore clicks.
    w.optWMV->setEnabled(false);
    EXPECT_FALSE(wmv->isEnabled());
    wmv->click();
    EXPECT_TRUE(clicks.isEmpty());
    w.optWMV->setEnabled(true);
    EXPECT_TRUE(wmv->isEnabled());
    wmv->click();
    EXPECT_EQ(clicks, QStringList({"wmvbutton"}));

    // Disabling the frame that holds them counts as well.
    w.convertTo->setEnabled(false);
    EXPECT_FALSE(avi->isEnabled());
    EXPECT_FALSE(mpeg->isEnabled());
    w.convertTo->setEnabled(true);
    EXPECT_TRUE(avi->isEnabled());
    // Skinning never touched the hidden buttons' own state.
    EXPECT_TRUE(w.optAVI->isHidden());
    EXPECT_TRUE(w.optAVI->font().bold());
}

TEST_F(SkinEngine, SkinningAControlKeepsItsStateAndItsSignals) {
    skin.LoadSkinFile(kDataDir + "/kvl.skn");
    w.window.show();
    struct Subject {
        QWidget* widget;
        const char* element;
    };
    const Subject subjects[] = {{w.nextFrame, "SLD_BTN_R"}, {w.sldBack, "SLDBACK"}, {w.sldThum, "SLDTHUM"},
                                {w.list, "Button"},         {w.optAVI, "combo"},    {w.nextFrame, "SLD_BTN_L"}};
    for (const Subject& s : subjects) {
        const bool enabled = s.widget->isEnabled(), hidden = s.widget->isHidden();
        skin.SkinWindowAs(s.widget, s.element);
        EXPECT_EQ(s.widget->isEnabled(), enabled) << s.element;
        EXPECT_EQ(s.widget->isHidden(), hidden) << s.element;
        EXPECT_FALSE(s.widget->styleSheet().isEmpty()) << s.element;
    }
    // Also for a disabled, hidden control.
    w.list->setEnabled(false);
    w.list->hide();
    skin.SkinWindowAs(w.list, "Button");
    EXPECT_FALSE(w.list->isEnabled());
    EXPECT_TRUE(w.list->isHidden());

    // The arrow buttons carry a drawn arrow and still click.
    skin.SkinWindowAs(w.nextFrame, "SLD_BTN_R");
    EXPECT_FALSE(w.nextFrame->icon().isNull());
    int clicked = 0;
    QObject::connect(w.nextFrame, &QPushButton::clicked, [&] { ++clicked; });
    w.nextFrame->click();
    EXPECT_EQ(clicked, 1);

    // A list keeps its choice when skinned again, as every click handler does.
    w.list->setCurrentIndex(1);
    skin.SkinWindowAs(w.list, "Button");
    EXPECT_EQ(w.list->currentIndex(), 1);
}

TEST_F(SkinEngine, UnknownElementsAndNullWidgetsAreIgnored) {
    skin.LoadSkinFile(smallSkin);
    skin.SkinWindowAs(w.optAVI, "no-such-element");
    EXPECT_TRUE(w.optAVI->styleSheet().isEmpty());
    skin.SkinWindowAs(nullptr, "combo");
    skin.SkinWindow(nullptr);
}

TEST_F(SkinEngine, SkinningAWindowAgainReplacesItsParts) {
    skin.LoadSkinFile(smallSkin);
    skin.SkinWindow(&w.window);
    skin.LoadSkinFile(smallSkin);  // the About box reloads the file each time it opens
    skin.SkinWindow(&w.window);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(w.window.findChildren<QAbstractButton*>("Help").size(), 1);
    EXPECT_EQ(w.window.findChildren<QWidget*>("band").size(), 1);
    listen();
    static_cast<QAbstractButton*>(skin.skinButton("Help"))->click();
    EXPECT_EQ(clicks, QStringList({"Help"}));
    // The new Help button sits in the new band.
    EXPECT_EQ(skin.skinButton("Help")->parentWidget(), skin.skinButton("band"));
}

TEST_F(SkinEngine, PartsWithoutTheirWidgetsAreLeftOut) {
    skin.LoadSkinFile(smallSkin);
    delete w.convertTo;  // no format frame, no mirrored buttons
    skin.SkinWindow(&w.window);
    EXPECT_NE(skin.skinButton("Help"), nullptr);
    EXPECT_EQ(skin.skinButton("wmvbutton"), nullptr);
}

TEST_F(SkinEngine, OtherWindowsGetTheirOwnLookAndNoMainWindowParts) {
    skin.LoadSkinFile(smallSkin);
    QWidget about;
    about.setObjectName("frmAbout");
    skin.SkinWindow(&about);
    const auto parsed = parseSkin(kSmallSkin);
    EXPECT_EQ(about.styleSheet(), parsed.skin.looks["combo"].style);
    EXPECT_TRUE(about.findChildren<QWidget*>().isEmpty());
}

TEST_F(SkinEngine, WithoutASkinNothingChanges) {
    EXPECT_FALSE(skin.isLoaded());
    skin.SkinWindow(&w.window);
    skin.SkinWindowAs(w.nextFrame, "SLD_BTN_R");
    EXPECT_EQ(skin.skinButton("Help"), nullptr);
    EXPECT_TRUE(w.window.styleSheet().isEmpty());
    EXPECT_TRUE(w.nextFrame->styleSheet().isEmpty());
    EXPECT_TRUE(w.nextFrame->icon().isNull());
}

TEST_F(SkinEngine, BadFilesThrowReadableErrorsAndLeaveTheWindowWorking) {
    auto expectThrows = [&](const QString& path, const char* says) {
        try {
            skin.LoadSkinFile(path);
            ADD_FAILURE() << "no error for " << path.toStdString();
        } catch (const std::runtime_error& e) {
            const QString text = QString::fromUtf8(e.what());
            EXPECT_TRUE(text.contains(QDir::toNativeSeparators(path))) << text.toStdString();
            EXPECT_TRUE(text.contains(QString::fromUtf8(says))) << text.toStdString();
        }
    };
    expectThrows(dir.filePath("missing.skn"), "does not exist");
    expectThrows(dir.path(), "not a file");
    writeText(dir.filePath("bad.skn"), "[look combo]\nstyle = x\n[button b]\n");
    expectThrows(dir.filePath("bad.skn"), "line 3");
    writeText(dir.filePath("nopicture.skn"), "[look combo]\nstyle = QPushButton { image: url(gone.png); }\n");
    expectThrows(dir.filePath("nopicture.skn"), "gone.png is missing");
    EXPECT_FALSE(skin.isLoaded());

    // The window works unskinned.
    skin.SkinWindow(&w.window);
    listen();
    int clicked = 0;
    QObject::connect(w.optAVI, &QPushButton::clicked, [&] { ++clicked; });
    w.optAVI->click();
    EXPECT_EQ(clicked, 1);
    EXPECT_TRUE(w.window.findChildren<QAbstractButton*>("Help").isEmpty());

    // A failed reload keeps the skin that was loaded before.
    skin.LoadSkinFile(smallSkin);
    expectThrows(dir.filePath("bad.skn"), "line 3");
    EXPECT_TRUE(skin.isLoaded());
    skin.SkinWindow(&w.window);
    EXPECT_NE(skin.skinButton("Help"), nullptr);
}

TEST_F(SkinEngine, PicturesAreFoundBesideTheSkinFile) {
    QImage picture(4, 4, QImage::Format_RGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(picture.save(dir.filePath("dot.png")));
    writeText(dir.filePath("pic.skn"), "[look Label]\nstyle = QLabel { border-image: url(dot.png); }\n");
    skin.LoadSkinFile(dir.filePath("pic.skn"));
    skin.SkinWindowAs(w.sldBack, "Label");
    EXPECT_TRUE(w.sldBack->styleSheet().contains(QDir(dir.path()).filePath("dot.png")));
}

// ---------------------------------------------------------------------------------------------
// The splash screen

class SplashScreen : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        QImage picture(40, 24, QImage::Format_RGB32);
        picture.fill(Qt::darkBlue);
        ASSERT_TRUE(picture.save(dir.filePath("pic.png")));
    }
    QTemporaryDir dir;
    Splash splash;
};

TEST_F(SplashScreen, ShowsAndGoesAwayByItself) {
    writeText(dir.filePath("quick.spl"), "picture = pic.png\nduration = 60\n");
    splash.LoadSplashFile(dir.filePath("quick.spl"));
    EXPECT_FALSE(splash.isShowing());
    splash.ShowSplash(0);
    EXPECT_TRUE(splash.isShowing());
    EXPECT_TRUE(waitFor([&] { return !splash.isShowing(); }, 3000));
    // It can be shown again.
    splash.ShowSplash(0);
    EXPECT_TRUE(splash.isShowing());
    EXPECT_TRUE(waitFor([&] { return !splash.isShowing(); }, 3000));
}

TEST_F(SplashScreen, BadFilesThrowAndShowNothing) {
    EXPECT_THROW(splash.LoadSplashFile(dir.filePath("none.spl")), std::runtime_error);
    writeText(dir.filePath("nopic.spl"), "picture = absent.png\n");
    EXPECT_THROW(splash.LoadSplashFile(dir.filePath("nopic.spl")), std::runtime_error);
    writeText(dir.filePath("notapic.png"), "this is text");
    writeText(dir.filePath("textpic.spl"), "picture = notapic.png\n");
    EXPECT_THROW(splash.LoadSplashFile(dir.filePath("textpic.spl")), std::runtime_error);
    writeText(dir.filePath("bad.spl"), "picture = pic.png\nduration = -5\n");
    try {
        splash.LoadSplashFile(dir.filePath("bad.spl"));
        ADD_FAILURE();
    } catch (const std::runtime_error& e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).contains("line 2")) << e.what();
    }
    splash.ShowSplash(0);
    EXPECT_FALSE(splash.isShowing());
}

TEST_F(SplashScreen, ShippedSplashLoads) {
    splash.LoadSplashFile(kDataDir + "/kvl.spl");
    splash.ShowSplash(0);
    EXPECT_TRUE(splash.isShowing());
}

TEST(Artwork, ShippedPicturesHaveTheirSizes) {
    EXPECT_EQ(QImage(kDataDir + "/picscreen.png").size(), QSize(320, 232));
    EXPECT_EQ(QImage(kDataDir + "/korvelin.png").size(), QSize(32, 32));
    EXPECT_EQ(QImage(kDataDir + "/korvelin-256.png").size(), QSize(256, 256));
    EXPECT_FALSE(QImage(kDataDir + "/icon.bmp").isNull());
    EXPECT_FALSE(QImage(kDataDir + "/splash.png").isNull());
}

// The help project lists every page, and every link between pages leads somewhere.
TEST(HelpSources, ProjectListsEveryPageAndLinksResolve) {
    const QDir help(kDataDir + "/help");
    const QString project = readText(help.filePath("kvl.hhp"));
    const QString contents = readText(help.filePath("kvl.hhc"));
    ASSERT_FALSE(project.isEmpty());
    ASSERT_TRUE(project.contains("Compiled file=kvl.chm"));
    const QStringList pages = help.entryList({"*.html"}, QDir::Files);
    ASSERT_GE(pages.size(), 8);
    static const QRegularExpression href(R"re(href="([^"#]*)(#[^"]*)?")re");
    for (const QString& page : pages) {
        EXPECT_TRUE(project.contains("\n" + page + "\n")) << page.toStdString() << " is not in kvl.hhp";
        EXPECT_TRUE(contents.contains("\"" + page + "\"")) << page.toStdString() << " is not in kvl.hhc";
        const QString html = readText(help.filePath(page));
        for (auto it = href.globalMatch(html); it.hasNext();) {
            const QString target = it.next().captured(1);
            if (!target.isEmpty()) {
                EXPECT_TRUE(help.exists(target)) << page.toStdString() << " links to missing " << target.toStdString();
            }
        }
    }
}
