#pragma once
// A real main window on the offscreen platform with private settings, registry, lock folder
// and scripted dialogs. Header-only: it is compiled into the window test programs.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <memory>

#include "engine/platform/Dialogs.h"
#include "settings/RegistryStore.h"
#include "window/frmMain.h"

struct WindowHarness {
    QTemporaryDir home;
    ScriptedDialogs dialogs;
    int programEnds = 0;
    std::unique_ptr<frmMain> window;

    QByteArray savedProgramDir = qgetenv("KORVELIN_PROGRAM_DIR");

    explicit WindowHarness(bool load = true, std::function<void(WindowServices&)> adjust = {}) {
        qputenv("KORVELIN_REGISTRY_DIR", (home.path() + "/registry").toUtf8());
        qputenv("KORVELIN_SETTINGS_DIR", (home.path() + "/settings").toUtf8());
        qputenv("KORVELIN_LOCK_DIR", (home.path() + "/lock").toUtf8());
        QDir().mkpath(home.path() + "/registry");
        QDir().mkpath(home.path() + "/settings");
        if (load) start(std::move(adjust));
    }
    ~WindowHarness() {
        window.reset();
        qunsetenv("KORVELIN_REGISTRY_DIR");
        qunsetenv("KORVELIN_SETTINGS_DIR");
        qunsetenv("KORVELIN_LOCK_DIR");
        qputenv("KORVELIN_PROGRAM_DIR", savedProgramDir);
    }

    // Makes a private program folder: a copy of the build's program files (languages, skin,
    // pictures), which a test may then change. Call before start().
    QString makeProgramFolder() {
        const QString from = QString::fromUtf8(savedProgramDir);
        const QString to = home.path() + "/program";
        QDir().mkpath(to + "/Languages");
        for (const QString& f : QDir(from + "/Languages").entryList(QDir::Files))
            QFile::copy(from + "/Languages/" + f, to + "/Languages/" + f);
        for (const QString& f : QDir(from).entryList({"*.skn", "*.spl", "*.png", "*.bmp", "*.chm"}, QDir::Files))
            QFile::copy(from + "/" + f, to + "/" + f);
        qputenv("KORVELIN_PROGRAM_DIR", to.toUtf8());
        return to;
    }

    // Creates the window and runs its start-up; false when start-up ended the program.
    bool start(std::function<void(WindowServices&)> adjust = {}) {
        WindowServices services;
        services.dialogs = &dialogs;
        services.endProgram = [this] { ++programEnds; };
        services.showSplash = false;
        if (adjust) adjust(services);
        window = std::make_unique<frmMain>(std::move(services));
        return window->Form_Load();
    }

    // Closes the window through its close command (runs Form_Unload) and forgets it.
    void closeWindow() {
        window->close();
        window.reset();
    }

    RegistryStore registry() const { return RegistryStore(home.path() + "/registry"); }

    // The texts of the message boxes shown so far.
    QStringList messages() const {
        QStringList texts;
        for (const auto& m : dialogs.shownMessages) texts << m.text;
        return texts;
    }

    static void pumpEvents() { QCoreApplication::processEvents(); }
};
