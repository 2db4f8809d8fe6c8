#pragma once
// A platform layer for tests: a clock the test drives, and records of what the window asked
// to open or start instead of doing it. Installs itself while it lives.
#include <QHash>
#include <QList>
#include <QPair>
#include <functional>

#include "engine/platform/Platform.h"

struct FakePlatform : Platform {
    uint32_t ticks = 1000;
    bool realClock = false;
    QStringList openedDocuments;
    QList<QPair<QString, QStringList>> startedPrograms;
    bool realRunCheck = false;         // false: every file counts as a program this system runs
    QHash<QString, QString> handlers;  // MIME type -> desktop entry of the program that opens it
    std::function<void()> onLookup;    // runs at each handler lookup, on the thread that asks

    FakePlatform() { setPlatform(this); }
    ~FakePlatform() override { setPlatform(nullptr); }

    uint32_t GetTickCount() override { return realClock ? Platform::GetTickCount() : ticks; }
    bool openDocument(const QString& path) override {
        openedDocuments << path;
        return true;
    }
    bool canRun(const QString& program) override { return realRunCheck ? Platform::canRun(program) : true; }
    QString defaultApplicationFor(const QString& mimeType) override {
        if (onLookup) onLookup();
        return handlers.value(mimeType);
    }
    bool startDetached(const QString& program, const QStringList& arguments) override {
        startedPrograms.append({program, arguments});
        return true;
    }
};
