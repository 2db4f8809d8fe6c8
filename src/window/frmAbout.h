#pragma once
#include <QDialog>
#include <QPushButton>

#include "window/Controls.h"

class Skin;

// The About box: product name, version, notice and four lines from the language file.
class frmAbout : public QDialog {
    Q_OBJECT
public:
    // Loading the box runs its Form_Load against the main window's skin.
    frmAbout(QWidget* owner, Skin* skin);

    SkinLabel* Label2{};
    SkinLabel* Label1{};
    SkinLabel* Label4{};
    SkinLabel* Label3{};
    SkinLabel* Label5{};
    SkinLabel* Label6{};
    SkinLabel* Label7{};
    QPushButton* cmdOK{};

    // "2.6.1" for version 2.6.0.1: major.minor.revision.
    static QString versionText();
    // What follows the notice text of the language file.
    static QString noticeSuffix();

private:
    void Form_Load();
    void cmdOK_Click();
    Skin* skin_;
};
