#include "app/BatchMode.h"

#include <unistd.h>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QTimer>
#include <csignal>

#include "engine/output/ContainerRules.h"
#include "engine/platform/Dialogs.h"
#include "jobs/OriginalJob.h"
#include "rules/JobRules.h"
#include "rules/OutputFormats.h"
#include "rules/OutputNames.h"
#include "window/frmMain.h"

namespace {

const QStringList kAudioOptions{"pcm", "adpcm", "ulaw", "alaw", "mp3", "gsm"};

// The formats each format option applies to.
const QHash<QString, QList<OutputFormat>> kOptionFormats{
    {"--avi-codec", {OutputFormat::Avi}},
    {"--audio", {OutputFormat::Avi}},
    {"--fps", {OutputFormat::Avi, OutputFormat::Mpeg}},
    {"--channels", {OutputFormat::Avi, OutputFormat::Mpeg}},
    {"--mpeg-version", {OutputFormat::Mpeg}},
    {"--video-kbps", {OutputFormat::Mpeg}},
    {"--audio-kbps", {OutputFormat::Mpeg}},
    {"--wmv-profile", {OutputFormat::Wmv}},
    {"--container", {OutputFormat::Original}},
};

std::optional<int> wholeNumber(const QString& text) {
    bool ok = false;
    const int n = text.toInt(&ok);
    return ok ? std::optional<int>(n) : std::nullopt;
}

// "A-B": frames A to B as given (a piece that ends before it starts is refused later, by name).
std::optional<Piece> pieceNamed(const QString& text) {
    const QStringList ends = text.split('-');
    if (ends.size() != 2) return std::nullopt;
    const auto first = wholeNumber(ends[0]), last = wholeNumber(ends[1]);
    if (!first || !last || *first < 1 || *last < 1) return std::nullopt;
    return Piece{*first, *last};
}

QString shownName(OutputFormat format) { return QString::fromLatin1(formatInfo(format).shownName); }

volatile std::sig_atomic_t interruptRequested = 0;
extern "C" void onInterrupt(int) { interruptRequested = 1; }

// One batch job on a window of its own.
class BatchRun {
public:
    BatchRun(BatchRequest request, QTextStream& out, QTextStream& err, bool progressOnTerminal)
        : r_(std::move(request)), out_(out), err_(err), terminal_(progressOnTerminal) {}

    int run() {
        WindowServices services;
        services.dialogs = &dialogs_;
        services.endProgram = [] {};
        // A batch job may run beside the window or beside other batch jobs.
        services.anotherCopyRunning = [] { return false; };
        services.showSplash = false;
        services.fillTimeline = false;
        frmMain window(std::move(services));
        w_ = &window;
        dialogs_.onMessage = [this](const ScriptedDialogs::Message& m) {
            QString text = m.text;
            text.replace("\r\n", "\n").replace('\r', '\n');
            out_ << text << "\n";
            out_.flush();
        };
        if (!window.Form_Load()) return fail("the window could not start");

        window.OpenSourceVideo(r_.source);
        if (!window.FileLoaded) return 1;  // the window's own message says why
        if (auto code = chooseFormat()) return *code;
        if (auto code = chooseOptions()) return *code;
        if (auto code = chooseOutputNames()) return *code;
        if (auto code = chooseContainer()) return *code;
        if (auto code = placeMarkers()) return *code;
        return runJob();
    }

private:
    int fail(const QString& text, int code = 1) {
        err_ << "korvelin: " << text << "\n";
        err_.flush();
        return code;
    }
    int invalid(const QString& text) {
        err_ << usageError(text) << "\n";
        err_.flush();
        return 2;
    }

    std::optional<int> chooseFormat() {
        w_->chooseOutputFormat(r_.format);
        if (w_->OutputFormat == r_.format) return std::nullopt;
        return fail(shownName(r_.format) +
                        " output needs the partner application, which is not installed; the offer to install it "
                        "was answered No",
                    3);
    }

    // Chooses a list item by its text as a user would; the usage error lists the items.
    std::optional<int> chooseItem(QComboBox* list, const QString& option, const QString& text) {
        const int index = list->findText(text);
        if (index >= 0) {
            w_->setListIndex(list, index);
            return std::nullopt;
        }
        QStringList items;
        for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
        return invalid(option + " must be one of: " + items.join(' '));
    }

    std::optional<int> choosePosition(QComboBox* list, const QString& option, int position) {
        if (position < 0 || position >= list->count())
            return invalid(
                QStringLiteral("%1 must be a list position from 0 to %2").arg(option).arg(list->count() - 1));
        w_->setListIndex(list, position);
        return std::nullopt;
    }

    std::optional<int> chooseOptions() {
        frmMain& w = *w_;
        const bool avi = r_.format == OutputFormat::Avi;
        if (r_.aviCodec)
            if (auto code = choosePosition(w.cmbAVICodecs, "--avi-codec", *r_.aviCodec)) return code;
        if (r_.audio) {
            QRadioButton* const buttons[] = {w.optPCM, w.optADPCM, w.optULAW, w.optALAW, w.optMP3, w.optGSM};
            buttons[kAudioOptions.indexOf(*r_.audio)]->setChecked(true);
        }
        if (r_.fps)
            if (auto code = chooseItem(avi ? w.cmbFramerateAVI : w.cmbFramerateMPEG, "--fps", *r_.fps)) return code;
        if (r_.channels)
            if (auto code = choosePosition(avi ? w.cmbCnannelsAVI : w.cmbCnannelsMPEG, "--channels", *r_.channels - 1))
                return code;
        if (r_.mpegVersion) (*r_.mpegVersion == 1 ? w.rbMPEG1 : w.rbMPEG2)->setChecked(true);
        if (r_.videoKbps)
            if (auto code = chooseItem(w.cmbVideoBitrateMPEG, "--video-kbps", QString::number(*r_.videoKbps)))
                return code;
        if (r_.audioKbps)
            if (auto code = chooseItem(w.cmbAudioBitrateMPEG, "--audio-kbps", QString::number(*r_.audioKbps)))
                return code;
        if (r_.wmvProfile)
            if (auto code = choosePosition(w.cmbWMVCodecs, "--wmv-profile", *r_.wmvProfile)) return code;
        return std::nullopt;
    }

    // The names go through the save dialog, which stores them unchanged.
    std::optional<int> chooseOutputNames() {
        dialogs_.fileAnswers = {{r_.out1, 0}};
        w_->cmdOutFile_Click();
        if (w_->EdOutFile->text() != r_.out1) return fail("the output name could not be chosen");
        if (r_.job == BatchRequest::Job::Split) {
            dialogs_.fileAnswers = {{r_.out2, 0}};
            w_->cmdOutFile2_Click();
            if (w_->EdOutFile2->text() != r_.out2) return fail("the second output name could not be chosen");
        }
        return std::nullopt;
    }

    // The container of the original format. The names stay as given: the save dialog chose the
    // item their extension names, and a name that names another container than --container
    // is refused rather than written in a container it does not say. A container the source
    // does not fit in is refused naming the stream that does not fit.
    std::optional<int> chooseContainer() {
        if (!r_.container) return std::nullopt;
        QComboBox* list = w_->cmbContainer;
        QStringList offered;
        for (int i = 0; i < list->count(); ++i)
            offered << (i == 0 ? w_->sourceContainerExtension() : list->itemData(i).toString()).toLower();
        const int chosen = int(offered.indexOf(*r_.container));
        if (chosen < 0) {
            QStringList known;
            for (const char* name : kCopyContainers) known << QString::fromLatin1(name);
            if (!known.contains(*r_.container))
                return invalid(QStringLiteral("--container %1 names no container korvelin writes; it writes: %2")
                                   .arg(*r_.container, known.join(' ')));
            QString misfit;
            if (const auto source = w_->VideoFileIn1->openedSource())
                misfit = OriginalJob::containerMisfit(*source, *r_.container);
            return invalid(QStringLiteral("--container %1 cannot hold this source's streams as they are (%2); they "
                                          "fit in: %3")
                               .arg(*r_.container, misfit, offered.join(' ')));
        }
        for (const QString& name : {r_.out1, r_.out2}) {
            const QString extension = sourceExtension(name).toLower();
            if (offered.contains(extension) && extension != offered[chosen])
                return invalid(
                    QStringLiteral("--container %1 does not match the output name %2").arg(*r_.container, name));
        }
        list->setCurrentIndex(chosen);
        return std::nullopt;
    }

    std::optional<int> placeMarkers() {
        const int frames = w_->SliderTimePosition1->maximum();
        auto inRange = [&](int n) { return n >= 1 && n <= frames; };
        if (r_.pieceMode) {
            PieceList list;
            list.setMode(*r_.pieceMode);
            for (const Piece& p : r_.pieces) list.addAsGiven(p);
            if (const auto problems = list.problems(frames); !problems.empty())
                return fail(
                    QStringLiteral("the pieces cannot be cut: ") + describeProblems(list, problems, frames).join("; "),
                    2);
            list.select(-1);
            w_->setPieceList(list);
        } else if (r_.job == BatchRequest::Job::Cut) {
            if (!inRange(r_.from) || !inRange(r_.to))
                return invalid(QStringLiteral("--from and --to must be frames from 1 to %1").arg(frames));
            w_->SliderTimePosition1->setValue(r_.from);
            w_->SliderTimePosition2->setValue(r_.to);
        } else {
            if (!inRange(r_.at)) return invalid(QStringLiteral("--at must be a frame from 1 to %1").arg(frames));
            w_->SliderTimePosition1->setValue(r_.at);
        }
        return std::nullopt;
    }

    // The names the job will write: each the first free name from the one chosen.
    QStringList expectedOutputs() const {
        QStringList names;
        try {
            auto exists = [&](const QString& p) { return QFileInfo::exists(p) || names.contains(p); };
            names << freeName(r_.out1, exists);
            if (r_.job == BatchRequest::Job::Split) names << freeName(r_.out2, exists);
        } catch (...) {
            return {};
        }
        return names;
    }

    int runJob() {
        frmMain& w = *w_;
        const bool cut = r_.job == BatchRequest::Job::Cut;
        // One line rewritten in place on a terminal, a line per tenth into a pipe or a file.
        int lastShown = -1;
        QObject::connect(w.ProgressBar1, &QProgressBar::valueChanged, &w, [&](int value) {
            if (r_.quiet || w.ProgressBar1->isHidden() || !batchProgressShown(value, lastShown, terminal_)) return;
            lastShown = value;
            if (terminal_) {
                err_ << "\rprogress: " << QString::number(value).rightJustified(3) << "%";
            } else {
                err_ << "progress: " << value << "%\n";
            }
            err_.flush();
        });
        // Ctrl+C cancels the job as the Cancel button does; the file keeps what was written.
        bool interrupted = false;
        interruptRequested = 0;
        auto* previous = std::signal(SIGINT, onInterrupt);
        QTimer interruptPoll;
        QObject::connect(&interruptPoll, &QTimer::timeout, &w, [&] {
            if (!interruptRequested) return;
            interruptRequested = 0;
            interrupted = true;
            w.cmdCancel->click();
        });
        interruptPoll.start(100);

        const QStringList outputs = expectedOutputs();
        const bool partnerPresent = w.PartnerAppPresent;
        (cut ? w.cmdCut : w.cmdSplit)->click();
        interruptPoll.stop();
        std::signal(SIGINT, previous);
        if (terminal_ && lastShown >= 0) {
            err_ << "\n";  // the progress line ends before what follows
            err_.flush();
        }

        // No outcome: the split never started, its offer to install the partner answered No.
        const std::optional<JobOutcome>& outcome = w.lastJobOutcome();
        if (!interrupted && outcome && outcome->kind == JobOutcome::Kind::Finished) {
            for (const QString& name : outputs) out_ << "written: " << name << "\n";
            out_.flush();
            return 0;
        }
        if (!cut && !partnerPresent && !outcome)
            return fail(
                "the split needs the partner application, which is not installed; the offer to install it was "
                "answered No",
                3);
        return 1;
    }

    BatchRequest r_;
    QTextStream& out_;
    QTextStream& err_;
    const bool terminal_;      // progress goes to a terminal
    ScriptedDialogs dialogs_;  // questions are answered No; file dialogs take the names given
    frmMain* w_ = nullptr;
};

}  // namespace

QString usageError(const QString& text) { return QStringLiteral("korvelin: %1 (see korvelin --help)").arg(text); }

QString batchUsage() {
    return QStringLiteral(
               "usage: korvelin --cut SRC --from A --to B --out PATH [options]\n"
               "       korvelin --cut SRC --keep A-B [--keep C-D ...] --out PATH [options]\n"
               "       korvelin --cut SRC --remove A-B [--remove C-D ...] --out PATH [options]\n"
               "       korvelin --split SRC --at S --out1 PATH1 --out2 PATH2 [options]\n"
               "options:\n"
               "  %1output format (default avi); original keeps the source's\n"
               "                                       container and codecs and encodes only the frames next to\n"
               "                                       the cut points again\n"
               "  --avi-codec N                        AVI video codec, position in the codec list (0 = first)\n"
               "  --audio pcm|adpcm|ulaw|alaw|mp3|gsm  AVI audio format (default pcm)\n"
               "  --fps TEXT                           AVI or MPEG frame rate, an item of its list (e.g. 25.00)\n"
               "  --channels 1|2                       AVI or MPEG audio channels\n"
               "  --mpeg-version 1|2                   MPEG version (default 1)\n"
               "  --video-kbps N                       MPEG video bitrate: 750 1150 1500 1950 2376\n"
               "  --audio-kbps N                       MPEG audio bitrate: 32 48 56 64 80 96 112 128 160 192 224 256 "
               "320 384\n"
               "  --wmv-profile N                      WMV profile, position in the profile list (0 = first)\n"
               "  --container EXT                      original: the container (mkv mp4 mov ts m2ts webm avi mpg\n"
               "                                       flv) where the source's streams fit as they are; without\n"
               "                                       it the extension of --out chooses, else the source's own\n"
               "  --quiet                              no progress (on a terminal one line that updates,\n"
               "                                       otherwise a line every 10 %)\n"
               "--keep writes the pieces in the order given, --remove everything else in the source's order;\n"
               "pieces that overlap, end before they start or lie outside the source are refused (exit 2), and\n"
               "so is a --from after --to.\n"
               "MPEG, WMV and split need the partner application.\n"
               "An original-format job whose cut points need an encoder the source's codec lacks is refused\n"
               "(exit 1); the message names the nearest frames where it needs none.\n")
        .arg(QStringLiteral("--format %1").arg(formatNames("|")).leftJustified(37));
}

std::variant<BatchRequest, QString> parseBatchArguments(const QStringList& args) {
    if (args.isEmpty() || (args[0] != "--cut" && args[0] != "--split")) return QStringLiteral("no job named");
    BatchRequest r;
    const bool cut = args[0] == "--cut";
    r.job = cut ? BatchRequest::Job::Cut : BatchRequest::Job::Split;
    const QStringList jobOptions =
        cut ? QStringList{"--from", "--to", "--out"} : QStringList{"--at", "--out1", "--out2"};
    QSet<QString> seen;

    for (int i = 0; i < args.size(); i += 2) {
        const QString& option = args[i];
        if (option == "--quiet") {  // the one option without a value
            if (r.quiet) return QStringLiteral("--quiet is given twice");
            r.quiet = true;
            --i;
            continue;
        }
        if (cut && (option == "--keep" || option == "--remove")) {  // the options that may repeat
            if (i + 1 >= args.size()) return QStringLiteral("%1 needs a value").arg(option);
            const PieceMode mode = option == "--keep" ? PieceMode::Keep : PieceMode::Remove;
            if (r.pieceMode && *r.pieceMode != mode) return QStringLiteral("--keep and --remove cannot be mixed");
            const auto piece = pieceNamed(args[i + 1]);
            if (!piece)
                return QStringLiteral("invalid value for %1: %2 (a range of frames, A-B)").arg(option, args[i + 1]);
            r.pieceMode = mode;
            r.pieces.push_back(*piece);
            continue;
        }
        const bool known =
            i == 0 || jobOptions.contains(option) || option == "--format" || kOptionFormats.contains(option);
        if (!known) return QStringLiteral("unknown argument %1").arg(option);
        if (i + 1 >= args.size()) return QStringLiteral("%1 needs a value").arg(option);
        if (seen.contains(option)) return QStringLiteral("%1 is given twice").arg(option);
        seen.insert(option);
        const QString& value = args[i + 1];
        auto number = [&](int min, int max) -> std::optional<int> {
            const auto n = wholeNumber(value);
            return n && *n >= min && *n <= max ? n : std::nullopt;
        };
        auto badValue = [&] { return QStringLiteral("invalid value for %1: %2").arg(option, value); };

        if (i == 0) {
            if (value.isEmpty()) return badValue();
            r.source = value;
        } else if (option == "--from" || option == "--to" || option == "--at") {
            const auto n = number(1, INT32_MAX);
            if (!n) return badValue();
            (option == "--from" ? r.from : option == "--to" ? r.to : r.at) = *n;
        } else if (option == "--out" || option == "--out1" || option == "--out2") {
            if (value.isEmpty()) return badValue();
            (option == "--out2" ? r.out2 : r.out1) = value;
        } else if (option == "--format") {
            const auto format = formatNamed(value);
            if (!format) return badValue();
            r.format = *format;
        } else if (option == "--container") {
            if (value.isEmpty() || value.contains('.') || value.contains('/')) return badValue();
            r.container = value.toLower();
        } else if (option == "--audio") {
            if (!kAudioOptions.contains(value)) return badValue();
            r.audio = value;
        } else if (option == "--fps") {
            if (value.isEmpty()) return badValue();
            r.fps = value;
        } else if (option == "--channels" || option == "--mpeg-version") {
            const auto n = number(1, 2);
            if (!n) return badValue();
            (option == "--channels" ? r.channels : r.mpegVersion) = *n;
        } else {  // list positions and bitrates
            const auto n = number(0, INT32_MAX);
            if (!n) return badValue();
            if (option == "--avi-codec")
                r.aviCodec = n;
            else if (option == "--wmv-profile")
                r.wmvProfile = n;
            else if (option == "--video-kbps")
                r.videoKbps = n;
            else
                r.audioKbps = n;
        }
    }
    if (r.pieceMode && (seen.contains("--from") || seen.contains("--to")))
        return QStringLiteral("--from and --to cannot be given with --keep or --remove");
    for (const QString& option : jobOptions)
        if (!seen.contains(option) && (!r.pieceMode || option == "--out"))
            return QStringLiteral("%1 is missing").arg(option);
    if (cut && !r.pieceMode && r.from > r.to)
        return QStringLiteral("the range ends before it starts: --from %1 comes after --to %2").arg(r.from).arg(r.to);
    for (const QString& option : seen) {
        if (kOptionFormats.contains(option) && !kOptionFormats[option].contains(r.format))
            return QStringLiteral("%1 does not apply to %2 output").arg(option, shownName(r.format));
    }
    return r;
}

std::optional<int> runBatchMode(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    if (arguments.isEmpty() || (arguments[0] != "--cut" && arguments[0] != "--split")) return std::nullopt;
    auto parsed = parseBatchArguments(arguments);
    if (const auto* error = std::get_if<QString>(&parsed)) {
        err << usageError(*error) << "\n";
        err.flush();
        return 2;
    }
    BatchRequest request = std::get<BatchRequest>(std::move(parsed));
    // Start-up makes the program folder the current folder, so names are fixed now.
    auto absolute = [](QString& path) {
        if (!path.isEmpty()) path = QFileInfo(path).absoluteFilePath();
    };
    absolute(request.source);
    absolute(request.out1);
    absolute(request.out2);
    return BatchRun(std::move(request), out, err, isatty(STDERR_FILENO) == 1).run();
}
