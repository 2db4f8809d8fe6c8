// Cut and split, the window's part: the click handler returns when the job has ended. The
// job's passes run on a worker thread with a reader of their own, while the window's message
// loop keeps running; after each pass the window takes one turn, which shows the pass's frame
// and progress and serves Cancel. The jobs themselves live in CopyJob (the writer's formats,
// from decoded frames) and OriginalJob (the source's own format, from its packets).
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <algorithm>
#include <optional>

#include "jobs/CopyJob.h"
#include "jobs/OriginalJob.h"
#include "rules/Conversions.h"
#include "rules/JobRules.h"
#include "rules/TextKeys.h"
#include "window/ErrorPolicy.h"
#include "window/JobThread.h"
#include "window/frmMain.h"

namespace {

// The window's turn after each pass of a job. Every pass's frame and progress go to the
// window's controls, but the window repaints them at most every kRepaintMs (the preview still
// follows the copy at film speed), so a fast job spends its time copying rather than waiting
// for the window. Between repaints the window's updates are off; when one is due they are
// switched on, which asks for a repaint of the whole window with everything changed meanwhile,
// and they stay on until that repaint has happened: switched off before it, the window would
// drop it and go on showing an old state.
class WindowTurns {
public:
    explicit WindowTurns(frmMain& w) : w_(w) {
        sincePaint_.start();
        askForPaint();
    }
    ~WindowTurns() {
        w_.setUpdatesEnabled(true);
        w_.update();
    }
    WindowTurns(const WindowTurns&) = delete;
    WindowTurns& operator=(const WindowTurns&) = delete;

    // After the turn's changes.
    void paintNowAndThen() {
        if (w_.updatesEnabled()) {
            if (w_.paintCount() != paintsBefore_) w_.setUpdatesEnabled(false);  // painted: hold the next back
        } else if (sincePaint_.hasExpired(kRepaintMs)) {
            w_.setUpdatesEnabled(true);
            askForPaint();
        }
    }

private:
    void askForPaint() {
        paintsBefore_ = w_.paintCount();
        w_.update();
        sincePaint_.restart();
    }

    static constexpr qint64 kRepaintMs = 40;
    frmMain& w_;
    QElapsedTimer sincePaint_;
    int64_t paintsBefore_ = 0;
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
// A split's names the frames where the second file could begin (%2).
QString edgesRefusalText(const std::array<QString, Msg::Count>& messages, const QString& codecName,
                         const NearestCopyPoints& edges) {
    if (edges.split)
        return messages[Msg::SplitNeedsEncoder].arg(codecName, edgeFramesText(edges.startBefore, edges.startAfter));
    return messages[Msg::EdgesNeedEncoder].arg(codecName, edgeFramesText(edges.startBefore, edges.startAfter),
                                               edgeFramesText(edges.endBefore, edges.endAfter));
}

// While a job runs it has the machine to itself: the timeline strip's background reading stops
// (and starts again afterwards) and the window's reader gives up its decoder, which the job does
// not use; so the job's decoder and encoder do not share the cores, and the memory peaks at what
// the job needs.
class BackgroundHold {
public:
    BackgroundHold(TimelineStrip* strip, VideoSource* reader) : strip_(strip) {
        strip_->holdWork();
        if (reader) resumeNext("job: release the window's decoder", [&] { reader->ReleaseDecoder(); });
    }
    ~BackgroundHold() { strip_->resumeWork(); }
    BackgroundHold(const BackgroundHold&) = delete;
    BackgroundHold& operator=(const BackgroundHold&) = delete;

private:
    TimelineStrip* strip_;
};

}  // namespace

// While a job (or an open's index scan) runs, everything that could change its source, its
// output or its settings is locked; Cancel is the one control that works. Each control gets
// back the state it had.
class frmMain::JobControlsLock {
public:
    explicit JobControlsLock(frmMain& w)
        : w_(w), controls_{w.cmdFile,      w.cmdPlayStop,    w.cmdCut,        w.cmdSplit, w.cmdOutFile,
                           w.cmdOutFile2,  w.FrameConvertTo, w.sldThum,       w.sldThum2, w.cmdPrevFrame,
                           w.cmdNextFrame, w.cmdPrevFrame2,  w.cmdNextFrame2, w.Timeline1} {
        for (const OutputFormatInfo& info : kOutputFormats) {
            controls_.push_back(w.formatButton(info.format));
            for (QGroupBox* frame : w.formatOptionFrames(info.format)) controls_.push_back(frame);
        }
        controls_.push_back(w.FramePieces);
        for (QWidget* c : controls_) {
            wasEnabled_.push_back(!c->testAttribute(Qt::WA_ForceDisabled));  // its own state, not its parent's
            c->setEnabled(false);
        }
        w_.cmdCancel->setEnabled(true);
    }
    ~JobControlsLock() {
        for (size_t i = 0; i < controls_.size(); ++i) controls_[i]->setEnabled(wasEnabled_[i]);
        w_.cmdCancel->setEnabled(false);
    }
    JobControlsLock(const JobControlsLock&) = delete;
    JobControlsLock& operator=(const JobControlsLock&) = delete;

private:
    frmMain& w_;
    std::vector<QWidget*> controls_;
    std::vector<bool> wasEnabled_;
};

void frmMain::cmdCancel_Click() { CancelRequested = true; }

QString frmMain::claimJobOutput(int part, ::OutputFormat format) {
    // Asked for by the job, on its worker thread for a split's second file: the output is set
    // up on the window's thread, which owns the text boxes and the writer's settings.
    QString path;
    auto claim = [&] {
        QLineEdit* box = part == 1 ? EdOutFile : EdOutFile2;
        path = box->text();
        if (auto failure = ConfigureOutputWriter(path, format)) throw MediaError(*failure);
        jobOutputs_.push_back({box->text(), path});
    };
    runningJob_ ? runningJob_->onWindowThread(claim) : claim();
    return path;
}

VideoSource& frmMain::jobReader() {
    // A reader of its own on the opened source, so that the job reads on its thread while the
    // window's reader stays the window's (a reader that gives none, as tests make, is shared).
    // It is opened on the job's worker: its decoder's threads then run below the window too.
    onJobWorker([this] { jobReader_ = VideoFileIn1->OpenSecondReader(); }, [] {});
    return jobReader_ ? *jobReader_ : *VideoFileIn1;
}

// The format is the one chosen when the job started: a split's second file is written in
// the same format as its first, whatever happens to the choice while the job runs.
CopyJob::OpenOutput frmMain::outputOpener() {
    jobOutputs_.clear();
    return [this, format = OutputFormat](int part) { return claimJobOutput(part, format); };
}

OriginalJob::OutputPath frmMain::originalOutputPath() {
    jobOutputs_.clear();
    return [this](int part) { return claimJobOutput(part, ::OutputFormat::Original); };
}

std::unique_ptr<Job> frmMain::makeCutJob(int32_t startMarker, int32_t endMarker) {
    if (OutputFormat == ::OutputFormat::Original) {
        auto job = OriginalJob::cut(VideoFileIn1->openedSource(), startMarker, endMarker, originalOutputPath());
        job->setContainer(chosenContainer());
        return job;
    }
    return std::make_unique<CopyJob>(CopyJob::cut(jobReader(), *VideoFileOut, startMarker, endMarker, outputOpener()));
}

std::unique_ptr<Job> frmMain::makeSplitJob(int32_t splitFrame) {
    if (OutputFormat == ::OutputFormat::Original) {
        auto job = OriginalJob::split(VideoFileIn1->openedSource(), splitFrame, originalOutputPath());
        job->setContainer(chosenContainer());
        return job;
    }
    return std::make_unique<CopyJob>(CopyJob::split(jobReader(), *VideoFileOut, splitFrame, outputOpener()));
}

void frmMain::onJobWorker(const std::function<void()>& work, const std::function<void()>& cancel, bool belowWindow) {
    JobControlsLock lock(*this);
    JobThread worker;
    runningJob_ = &worker;
    const auto done = qScopeGuard([&] { runningJob_ = nullptr; });
    worker.run(
        [&] {
            work();
            return false;
        },
        [](bool) {}, cancel, belowWindow);
}

bool frmMain::startJob(Job& job) {
    // Starting opens the output and its encoders: on the worker too.
    bool started = false;
    onJobWorker([&] { started = job.start(); }, [&job] { job.cancel(); });
    return started;
}

bool frmMain::runJobPasses(Job& job) {
    WindowTurns turns(*this);
    // The job reports from its worker thread; the window shows the last frame and progress of
    // each pass at its turn, while the worker waits.
    const auto showFrame = std::exchange(job.onFrame, nullptr);
    const auto showProgress = std::exchange(job.onProgress, nullptr);
    std::optional<QByteArray> frame;
    std::optional<JobProgress> progress;
    job.onFrame = [&](const QByteArray& f) { frame = f; };
    job.onProgress = [&](const JobProgress& p) { progress = p; };
    JobThread worker;
    runningJob_ = &worker;
    const auto done = qScopeGuard([&] {
        runningJob_ = nullptr;
        job.onFrame = showFrame;
        job.onProgress = showProgress;
    });
    worker.run([&] { return job.step(); },
               [&](bool) {
                   if (unloaded_) return;  // the window closed during the pass; the job has ended
                   if (frame && showFrame) showFrame(*std::exchange(frame, std::nullopt));
                   if (progress && showProgress) showProgress(*std::exchange(progress, std::nullopt));
                   turns.paintNowAndThen();
                   if (CancelRequested) job.cancel();
               },
               [&job] { job.cancel(); });
    if (unloaded_) return false;
    // The window's reader stands where the job's stopped, as if the job had read with it: the
    // preview shows the job's last frame, and stepping goes on from there.
    if (jobReader_)
        resumeNext("job: reader position", [&] { VideoFileIn1->SeekFrame(jobReader_->CurrentFrame() + 1); });
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
                    text = edgesRefusalText(Messages, outcome.codecName, outcome.edges);
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
    // What the output does not keep of the source as it is (a track its container cannot
    // carry, sound encoded again) is said however the job ended, never left out silently.
    for (const QString& note : outcome.notes) text += "\n" + note;
    // The box comes up over the window as the job left it: bar hidden, Cancel off, markers back.
    if (isVisible()) repaint();
    dialogs().MsgBox(text, MsgButtons::Ok);
}

void frmMain::cmdCut_Click() {
    if (!FileLoaded) return;
    const BackgroundHold hold(Timeline1, VideoFileIn1.get());
    CutStartValue = selection_.marker(1);
    CutEndValue = selection_.marker(2);
    const auto releaseReader = qScopeGuard([this] { jobReader_.reset(); });  // after the job
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
        showPosition(" ~2");
    };
    const int32_t saved1 = selection_.marker(1);
    const int32_t saved2 = selection_.marker(2);
    CancelRequested = false;
    const bool started = startJob(job);
    if (unloaded_) return;
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
    const BackgroundHold hold(Timeline1, VideoFileIn1.get());
    const auto releaseReader = qScopeGuard([this] { jobReader_.reset(); });  // after the job
    const std::unique_ptr<Job> owned = makeSplitJob(selection_.marker(1));
    Job& job = *owned;
    // The preview keeps the last frame the job read; Save Frame writes what the preview shows.
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
    const bool started = startJob(job);
    if (unloaded_) return;
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
