#pragma once
#include <QStringList>
#include <QTextStream>
#include <optional>

// The command-line modes of the program that show no window:
//   korvelin --help | -h       the usage, on standard output
//   korvelin --version         the program's version
//   korvelin --info FILE
//   korvelin --save-frame FILE --frame N --format bmp|jpeg|gif|tiff|pcx|wmf|emf|tga|png|ras|j2k --out PATH
// Both run through the same engine objects as the window. Returns the exit code, or
// nullopt when the arguments name neither mode (the window starts).
std::optional<int> runCommandLineMode(const QStringList& arguments, QTextStream& out, QTextStream& err);

// The usage of every mode of the program (the window, --info, --save-frame, batch mode).
QString programUsage();

// The source the window opens after start-up (`korvelin VIDEO`), as an absolute path: a
// relative one names a file from the caller's working folder, which start-up leaves for the
// program's. Empty without an argument.
QString startupSourcePath(const QStringList& arguments);
