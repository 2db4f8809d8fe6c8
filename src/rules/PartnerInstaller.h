#pragma once
// The partner application's installer: its file, the offer text and its command line.
#include <QString>
#include <QStringList>

// The installer's file name in the program's folder.
inline constexpr char kPartnerInstallerName[] = "PandoSetup.exe";

// The offer shown when a feature needs the partner application (fixed English text).
inline constexpr char kPartnerOfferText[] =
    "To use this option you need to Re-Install Pando(The program will be terminated). "
    "To install Pando click yes below.";

// Said instead of starting an installer that this system cannot run (fixed English text).
inline constexpr char kPartnerInstallerNotRunnableText[] =
    "The Pando installer cannot be started on this system: it is not a program this system can run.";

// The installer's parameter string, built from four pieces:
//   " /V\"/qn /l*v " + tempFolder + "\\PandoSetup.log" + " PARTNER=Brevant\""
// /V hands the quoted text to the installer engine: /qn runs without a user interface,
// /l*v writes a verbose log, PARTNER names us. The "\" before the log's name is the
// installer's own path syntax and is kept as is, whatever separator tempFolder uses.
QString installerParameters(const QString& tempFolder);

// The argument list that carries `parameters` to a program started without a shell: one
// argument per piece separated by blanks outside double quotes. Quote characters stay in
// their argument, so the installer receives its /V"..." switch exactly as written and the
// pieces joined by single blanks give the parameter string back (less its leading blank).
QStringList installerArguments(const QString& parameters);
