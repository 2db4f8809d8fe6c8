// Korvelin: cuts a piece out of a video file or splits it in two.
//   korvelin [VIDEO]           the window, opening VIDEO right after start-up
//   korvelin --info FILE       what the media engine reports about FILE
//   korvelin --save-frame ...  one frame of FILE as a picture
//   korvelin --cut / --split   a job without anyone at the window (batch mode)
//   korvelin --help, -h        the usage; --version the version
#include <QApplication>
#include <QTimer>
#include <cstdio>

#include "app/BatchMode.h"
#include "app/CommandLine.h"
#include "engine/common/EngineLog.h"
#include "window/SingleInstance.h"
#include "window/frmMain.h"

int main(int argc, char** argv) {
    // Damaged media is reported to the user through the window's messages; FFmpeg's own
    // lines go to a logging category, not to the terminal.
    routeFfmpegLog();
    const QStringList arguments = [&] {
        QStringList list;
        for (int i = 1; i < argc; ++i) list << QString::fromLocal8Bit(argv[i]);
        return list;
    }();
    QTextStream out(stdout), err(stderr);
    if (!arguments.isEmpty() && (arguments[0].startsWith("--") || arguments[0] == "-h")) {
        // Modes without a window run on Qt's offscreen platform, so no display is needed.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        if (auto code = runCommandLineMode(arguments, out, err)) return *code;
        if (auto code = runBatchMode(arguments, out, err)) return *code;
        err << usageError(QStringLiteral("unknown option %1").arg(arguments[0])) << "\n";
        return 2;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName("Korvelin");
    QApplication::setApplicationDisplayName("Korvelin");
    // A relative path names a file from the caller's folder: resolved before start-up moves
    // to the program's folder.
    const QString path = startupSourcePath(arguments);
    frmMain window;
    if (!window.Form_Load()) {
        // Another copy is running: it opens the file (or only comes to the front) and this one
        // ends at once, without a message.
        SingleInstance::handOver(path);
        return 0;
    }
    if (!path.isEmpty()) {
        QTimer::singleShot(0, &window, [&window, path] { window.OpenSourceVideo(path); });
    }
    return app.exec();
}
