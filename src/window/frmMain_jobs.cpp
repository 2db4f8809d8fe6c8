// Cut and split, the window's part: the job runs inside the click handler, one pass at a
// time, and each pass gives the window one turn of its message loop, which serves Cancel,
// the progress display and the preview. The jobs themselves live in CopyJob (the writer's
// formats, from decoded frames) and OriginalJob (the source's own format, from its packets).
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <algorithm>
#include <optional>

#include "jobs/CopyJob.h"
#include "jobs/OriginalJob.h"
#include "rules/Conversions.h"
#include "rules/JobRules.h"
#include "rules/TextKeys.h"
#include "window/ErrorPolicy.h"
#include "window/frmMain.h"

namespace {

// Gives the window one turn of its message loop per pass of a job. Repaints are asked for,
// never forced, and are merged: between two paints at least kRepaintMs pass (the preview
// still follows the copy at film speed), so a fast job spends its time copying rather than
// redrawing the window.
class WindowTurns {
public:
    explicit WindowTurns(frmMain& w) : w_(w) { sincePaint_.start(); }
    ~WindowTurns() {
        w_.setUpdatesEnabled(true);
        w_.update();
    }
    WindowTurns(const WindowTurns&) = delete;
    WindowTurns& operator=(const WindowTurns&) = delete;

    // False when the window was closed during the turn: its engine objects are gone and the
    // job must end without touching anything.
    bool yield() {
        const bool paint = first_ || sincePaint_.hasExpired(kRepaintMs);
        first_ = false;
        w_.setUpdatesEnabled(paint);  // while disabled, the pass's update requests are dropped
        if (paint) {
            w_.update();  // the whole window, with everything the dropped requests changed
            sincePaint_.restart();
        }
        QCoreApplication::processEvents();
        return !w_.unloaded();
    }

private:
    static constexpr qint64 kRepaintMs = 40;
    frmMain& w_;
    QElapsedTimer sincePaint_;
    bool first_ = true;
};

// The frames of one edge where a cut needs no encoding, for a message: "12, 48", one of
// them when the other is missing (0) or the same, a dash when there is none.
QString edgeFramesText(int32_t before, int32_t after) {
    QStringList frames;
    for (const int32_t frame : {before, after})
        if (frame > 0 && !frames.contains(QString::number(frame))) frames << QString::number(frame);
    return frames.isEmpty() ? QStringLiteral("\u2013") : frames.join(", ");
}

// The refusal of a cut in the source's own format whose edges need an encoder the codec
// lacks: the message names the codec (%1) and the frames where the cut could begin (%2)
// and end (%3) without encoding.
QString edgesRefusalText(const QString& message, const QString& codecName, const NearestCopyPoints& edges) {
    return message.arg(codecName, edgeFramesText(edges.startBefore, edges.startAfter),
                       edgeFramesText(edges.endBefore, edges.endAfter));
}

}  // namespace

// While a job runs, everything that could change its source, its output or its settings is
// locked; Cancel is the one control that works.
class frmMain::JobControlsLock {
public:
    explicit JobControlsLock(frmMain& w)
        : w_(w), controls_{w.cmdFile,      w.cmdPlayStop,    w.cmdCut,       w.cmdSplit, w.cmdOutFile,
                           w.cmdOutFile2,  w.FrameConvertTo, w.sldThum,      w.sldThum2, w.cmdPrevFrame,
                           w.cmdNextFrame, w.cmdPrevFrame2,  w.cmdNextFrame2} {
        for (const OutputFormatInfo& info : kOutputFormats) {
            controls_.push_back(w.formatButton(info.format));
            for (QGroupBox* frame : w.formatOptionFrames(info.format)) controls_.push_back(frame);
        }
        controls_.push_back(w.FramePieces);
        for (QWidget* c : controls_) c->setEnabled(false);
        w_.cmdCancel->setEnabled(true);
    }
    ~JobControlsLock() {
        for (QWidget* c : controls_) c->setEnabled(true);
        w_.cmdCancel->setEnabled(false);
    }
    JobControlsLock(const JobControlsLock&) = delete;
    JobControlsLock& operator=(const JobControlsLock&) = delete;

private:
    frmMain& w_;
    std::vector<QWidget*> controls_;
};

void frmMain::cmdCancel_Click() { CancelRequested = true; }

QString frmMain::claimJobOutput(int part, ::OutputFormat format) {
    QLineEdit* box = part == 1 ? EdOutFile : EdOutFile2;
    QString path = box->text();
    if (auto failure = ConfigureOutputWriter(path, format)) throw MediaError(*failure);
    jobOutputs_.push_back({box->text(), path});
    return path;
}

// The format is the one chosen when the job started: a split's second file is written in
// the same format as its first, whatever happens to the choice while the job runs.
CopyJob::OpenOutput frmMain::outputOpener() {
    jobOutputs_.clear();
    return [this, format = OutputFormat](int part) { claimJobOutput(part, format); };
}

OriginalJob::OutputPath frmMain::originalOutputPath() {
    jobOutputs_.clear();
    return [this](int part) { return claimJobOutput(part, ::OutputFormat::Original); };
}

std::unique_ptr<Job> frmMain::makeCutJob(int32_t startMarker, int32_t endMarker) {
    if (OutputFormat == ::OutputFormat::Original)
        return OriginalJob::cut(VideoFileIn1->openedSource(), startMarker, endMarker, originalOutputPath());
    return std::make_unique<CopyJob>(
        CopyJob::cut(*VideoFileIn1, *VideoFileOut, startMarker, endMarker, outputOpener()));
}

std::unique_ptr<Job> frmMain::makeSplitJob(int32_t splitFrame) {
    if (OutputFormat == ::OutputFormat::Original)
        return OriginalJob::split(VideoFileIn1->openedSource(), splitFrame, originalOutputPath());
    return std::make_unique<CopyJob>(CopyJob::split(*VideoFileIn1, *VideoFileOut, splitFrame, outputOpener()));
}

bool frmMain::runJobPasses(Job& job) {
    WindowTurns turns(*this);
    while (job.step()) {
        if (!turns.yield()) return false;
        if (CancelRequested) job.cancel();
    }
    return true;
}

void frmMain::reportJobOutcome(const JobOutcome& outcome, int finishedMessage) {
    lastJobOutcome_ = outcome;
    QString text;
    switch (outcome.kind) {
        case JobOutcome::Kind::Failed: text = Messages[Msg::OperationFailed] + " " + outcome.failure; break;
        case JobOutcome::Kind::Cancelled: text = Messages[Msg::JobCancelled]; break;
        case JobOutcome::Kind::Refused:
            switch (outcome.refusal) {
                case JobRefusal::SameFrame: text = Messages[Msg::SameFrame]; break;
                case JobRefusal::SplitPointOutOfRange:
                case JobRefusal::None: text = Messages[Msg::SplitPointOutOfRange]; break;
                case JobRefusal::EdgesNeedEncoder:
                    text = edgesRefusalText(Messages[Msg::EdgesNeedEncoder], outcome.codecName, outcome.edges);
                    break;
            }
            break;
        case JobOutcome::Kind::Running:
        case JobOutcome::Kind::Finished:
            text = Messages[finishedMessage];
            // An existing file is never replaced: the job wrote under the next free name. The
            // message then says where the output went (the text boxes keep the chosen names).
            const bool renamed = std::any_of(jobOutputs_.begin(), jobOutputs_.end(),
                                             [](const JobOutput& o) { return o.chosen != o.written; });
            if (renamed) {
                QStringList written;
                for (const JobOutput& o : jobOutputs_) written << QDir::toNativeSeparators(o.written);
                text += "\n" + written.join(", ");
            }
    }
    dialogs().MsgBox(text, MsgButtons::Ok);
}

void frmMain::cmdCut_Click() {
    if (!FileLoaded) return;
    CutStartValue = selection_.marker(1);
    CutEndValue = selection_.marker(2);
    // With pieces in the list the cut writes their ranges, otherwise the markers' range.
    const std::unique_ptr<Job> owned = pieces_.empty() ? makeCutJob(CutStartValue, CutEndValue) : makePiecesJob();
    if (!owned) return;
    Job& job = *owned;
    job.onFrame = [this](const FrameData& frame) {
        FrameBits = frame;
        VideoView1->ShowFrame(frame);
    };
    job.onProgress = [this](const JobProgress& p) {
        MarkerChangeGuard internal(InternalMarkerChange);
        // The earlier marker shows the progress through the piece.
        setMarker(selection_.earlierMarker(),
                  cutMarkerValue(p.audioTime, p.videoTime, p.audioDuration, p.videoDuration, selection_.lastFrame()));
        ProgressBar1->setValue(p.percent);
        LabelS->setCaption(positionLabel(" ~2"));
    };
    const int32_t saved1 = selection_.marker(1);
    const int32_t saved2 = selection_.marker(2);
    CancelRequested = false;
    const bool started = job.start();
    if (job.outcome().kind == JobOutcome::Kind::Refused) return reportJobOutcome(job.outcome(), Msg::CutFinished);
    CutStartValue = job.firstFrame();
    CutEndValue = job.lastFrame();
    {
        JobControlsLock lock(*this);
        ProgressBar1->show();
        if (started && !runJobPasses(job)) return;
        ProgressBar1->hide();
        resumeNext("cut: restore marker 1", [&] { setMarker(1, saved1); });
        resumeNext("cut: restore marker 2", [&] { setMarker(2, saved2); });
        ProgressBar1->setValue(0);
    }
    reportJobOutcome(job.outcome(), Msg::CutFinished);
}

void frmMain::cmdSplit_Click() {
    if (!PartnerAppPresent && CHKPANDO()) return;
    if (!FileLoaded) return;
    const std::unique_ptr<Job> owned = makeSplitJob(selection_.marker(1));
    Job& job = *owned;
    // The preview keeps the last frame the job read: the reader stands after it when the job
    // ends, and Save Frame writes what the preview shows.
    job.onFrame = [this](const FrameData& frame) {
        FrameBits = frame;
        VideoView1->ShowFrame(frame);
    };
    job.onProgress = [this](const JobProgress& p) {
        ProgressBar1->setValue(p.percent);
        const int16_t overall = splitOverallPercent(p.audioTime, p.videoTime, p.audioDuration, p.videoDuration);
        setMarker(2, splitMarkerValue(overall, selection_.lastFrame()));
    };
    const int32_t saved2 = selection_.marker(2);
    CancelRequested = false;
    const bool started = job.start();
    if (job.outcome().kind == JobOutcome::Kind::Refused) return reportJobOutcome(job.outcome(), Msg::SplitFinished);
    {
        // Marker 2 shows the progress and is put back afterwards without moving the reader.
        MarkerChangeGuard internal(InternalMarkerChange);
        JobControlsLock lock(*this);
        ProgressBar1->show();
        ProgressBar1->setValue(0);
        if (started && !runJobPasses(job)) return;
        ProgressBar1->hide();
        resumeNext("split: restore marker 2", [&] { setMarker(2, saved2); });
    }
    reportJobOutcome(job.outcome(), Msg::SplitFinished);
    ProgressBar1->setValue(0);
}
