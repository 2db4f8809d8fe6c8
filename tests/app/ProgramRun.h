#pragma once
// The program itself in its own process, as a script runs it: private settings, registry and
// lock folder, its exit code and what it printed.
#include <gtest/gtest.h>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include "settings/RegistryStore.h"

struct ProgramRun {
    QTemporaryDir home;
    int exitCode = -1;
    QString out, err;

    void withPartner() {
        RegistryStore(home.path() + "/registry").writeValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.pando", "", "x");
    }
    void run(const QStringList& args) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("KORVELIN_PROGRAM_DIR", KORVELIN_BUILD_DIR);
        env.insert("KORVELIN_REGISTRY_DIR", home.path() + "/registry");
        env.insert("KORVELIN_SETTINGS_DIR", home.path() + "/settings");
        env.insert("KORVELIN_LOCK_DIR", home.path() + "/lock");
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(KORVELIN_BUILD_DIR "/korvelin"), args);
        ASSERT_TRUE(p.waitForStarted()) << "the program korvelin is not built";
        ASSERT_TRUE(p.waitForFinished(120000));
        exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
        out = QString::fromLocal8Bit(p.readAllStandardOutput());
        err = QString::fromLocal8Bit(p.readAllStandardError());
    }
};
