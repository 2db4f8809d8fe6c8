#pragma once
#include <QString>
#include <QStringList>
#include <QTextStream>
#include <optional>
#include <variant>
#include <vector>

#include "rules/OutputFormats.h"
#include "rules/PieceList.h"

// Batch mode: a cut or a split without anyone at the window, for many files and for scripts.
//   korvelin --cut SRC --from A --to B --out PATH [options]
//   korvelin --cut SRC --keep A-B [--keep C-D ...] --out PATH [options]
//   korvelin --cut SRC --remove A-B [--remove C-D ...] --out PATH [options]
//   korvelin --split SRC --at S --out1 PATH1 --out2 PATH2 [options]
// It drives the main window itself (on the offscreen platform): opens SRC, chooses the
// format and options in their controls, the output names through the save dialog and the
// markers, and clicks Cut or Split. Progress goes to stderr (one line that updates on a
// terminal, a line every 10 % otherwise, none with --quiet), the texts of the window's
// message boxes to stdout. Questions (the partner offer) are answered No.
//
// Exit codes: 0 the job reported success; 1 the job failed, was cancelled or refused, or
// the source could not be opened; 2 invalid arguments, refused in one line (a --from after
// --to, pieces that overlap, end before they start or lie outside the source, a container the
// source's streams do not fit in, named in the message; no file is written); 3 the format or
// the split needs the partner application, which is not installed. A job that fails leaves
// none of its files.

struct BatchRequest {
    enum class Job { Cut, Split };
    Job job = Job::Cut;
    QString source;
    int from = 0, to = 0;  // cut: the two markers
    // cut: the pieces of --keep or --remove, in the order given, and which of the two it was
    std::vector<Piece> pieces;
    std::optional<PieceMode> pieceMode;
    int at = 0;          // split: marker 1
    QString out1, out2;  // cut: out1 only
    OutputFormat format = OutputFormat::Avi;
    std::optional<int> aviCodec;     // list position
    std::optional<QString> audio;    // pcm adpcm ulaw alaw mp3 gsm
    std::optional<QString> fps;      // an item of the format's frame-rate list
    std::optional<int> channels;     // 1 or 2
    std::optional<int> mpegVersion;  // 1 or 2
    std::optional<int> videoKbps;    // an item of the MPEG video bitrate list
    std::optional<int> audioKbps;    // an item of the MPEG audio bitrate list
    std::optional<int> wmvProfile;   // list position
    bool quiet = false;              // no progress
    // Original: the container's extension (mkv, ts, ...), chosen among those the source fits in.
    std::optional<QString> container;
};

// Reads the arguments of a batch job; the text of the error for arguments that do not
// make one. Checks what can be checked without the source and the window's lists.
std::variant<BatchRequest, QString> parseBatchArguments(const QStringList& arguments);

QString batchUsage();
// The one line that refuses arguments (exit 2): the reason, and where the usage is told.
QString usageError(const QString& text);

// Runs a batch job when the arguments begin with --cut or --split; nullopt otherwise.
std::optional<int> runBatchMode(const QStringList& arguments, QTextStream& out, QTextStream& err);
