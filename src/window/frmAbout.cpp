#include "window/frmAbout.h"

#include "engine/platform/Platform.h"
#include "engine/skin/Skin.h"
#include "window/ErrorPolicy.h"

namespace {
SkinLabel* aboutLabel(QWidget* parent, const char* name, const QString& text, int l, int t, int w, int h,
                      double points) {
    auto* label = new SkinLabel(text, parent);
    label->setObjectName(name);
    placeTwips(label, l, t, w, h);
    QFont font("MS Sans Serif");
    font.setPointSizeF(points);
    label->setFont(font);
    label->setWordWrap(true);
    return label;
}
}  // namespace

frmAbout::frmAbout(QWidget* owner, Skin* skin) : QDialog(owner), skin_(skin) {
    setObjectName("frmAbout");
    setWindowTitle("About Korvelin");
    setFixedSize(twipsToPixels(4215), twipsToPixels(3585));
    setModal(true);
    if (owner) setWindowIcon(owner->windowIcon());
    Label2 = aboutLabel(this, "Label2", "Korvelin", 120, 120, 3960, 495, 13.5);
    Label1 = aboutLabel(this, "Label1", "Version 2.6.0.1", 90, 660, 4005, 435, 9.75);
    Label4 = aboutLabel(this, "Label4", {}, 60, 1140, 4035, 285, 9.75);
    Label3 = aboutLabel(this, "Label3", "A Program For Cut, Split and Capture Video Files", 60, 1455, 4065, 645, 9.75);
    Label5 = aboutLabel(this, "Label5", "Windowed Label", 75, 2115, 4050, 330, 8.25);
    Label6 = aboutLabel(this, "Label6", "Windowed Label", 60, 2475, 4065, 345, 8.25);
    Label7 = aboutLabel(this, "Label7", "Windowed Label", 60, 2835, 4035, 345, 8.25);
    cmdOK = new QPushButton("OK", this);
    cmdOK->setObjectName("cmdOK");
    placeTwips(cmdOK, 1455, 3180, 930, 345);
    QPalette okPalette = cmdOK->palette();
    okPalette.setColor(QPalette::Button, QColor(0x3B, 0x3E, 0x51));  // &H00513E3B
    cmdOK->setPalette(okPalette);
    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    Form_Load();
}

void frmAbout::Form_Load() {
    // The skin file is read again each time the box loads.
    resumeNext("Form_Load: LoadSkinFile", [&] { skin_->LoadSkinFile(platform().programFolder() + "/kvl.skn"); });
    resumeNext("Form_Load: SkinWindowAs", [&] { skin_->SkinWindowAs(this, "SmallForm"); });
    resumeNext("Form_Load: SkinWindowAs", [&] { skin_->SkinWindowAs(cmdOK, "combo"); });
    for (auto* label : {Label2, Label1, Label3, Label4, Label5, Label6, Label7})
        resumeNext("Form_Load: SkinWindowAs", [&] { skin_->SkinWindowAs(label, "Label"); });
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(179, 188, 152));  // &H0098BCB3
    setPalette(p);
    setAutoFillBackground(true);
}

void frmAbout::cmdOK_Click() { accept(); }

QString frmAbout::versionText() {
    return QStringLiteral("%1.%2.%3")
        .arg(KORVELIN_VERSION_MAJOR)
        .arg(KORVELIN_VERSION_MINOR)
        .arg(KORVELIN_VERSION_TWEAK);
}

QString frmAbout::noticeSuffix() { return QStringLiteral(" 2026 Korvelin"); }
