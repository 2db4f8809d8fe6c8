#pragma once
// The main window as the benchmark cases drive it.
#include <QTemporaryDir>
#include <functional>
#include <memory>

#include "engine/platform/Dialogs.h"
#include "support/SoundServer.h"
#include "window/frmMain.h"

// A window with private settings and scripted dialogs, as a user's would be, but offscreen.
struct BenchWindow {
    QTemporaryDir home;
    ScriptedDialogs dialogs;
    std::unique_ptr<frmMain> window;
    explicit BenchWindow(std::function<void(WindowServices&)> adjust = {}) {
        soundDevice();  // before the window's audio player asks Qt for devices
        qputenv("KORVELIN_REGISTRY_DIR", (home.path() + "/registry").toUtf8());
        qputenv("KORVELIN_SETTINGS_DIR", (home.path() + "/settings").toUtf8());
        qputenv("KORVELIN_LOCK_DIR", (home.path() + "/lock").toUtf8());
        WindowServices s;
        s.dialogs = &dialogs;
        s.showSplash = false;
        s.endProgram = [] {};
        if (adjust) adjust(s);
        window = std::make_unique<frmMain>(std::move(s));
        window->Form_Load();
    }
};
