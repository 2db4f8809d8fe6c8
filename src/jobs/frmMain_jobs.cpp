// Cut and split: copying decoded frames and audio blocks from the source reader to the
// output writer, interleaved by their positions, inside the click handler. Each pass of the
// copy loop gives the window one turn of its message loop, which serves Cancel, the
// progress display and the preview.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <optional>

#include "app/Conversions.h"
#include "app/ErrorPolicy.h"
#include "app/frmMain.h"
#include "jobs/JobRules.h"
#include "timeline/MarkerRules.h"

namespace {

// The engine objects are reached through the window on every use: closing the window
// during a job's yield releases them.
VideoFile& engineObject(const std::unique_ptr<VideoFile>& object) {
    if (!object) throw MediaError(QStringLiteral("The media engine object is not available"));
    return *object;
}

struct CopyState {
    bool videoFinished = false;
    bool audioFinished = false;
    bool finished() const { return videoFinished && audioFinished; }
};

// Video is read whenever its position is not ahead of the audio's.
bool videoIsDue(VideoFile& in, const CopyState& s) {
    return !s.videoFinished && (in.VideoTime() <= in.AudioTime() || s.audioFinished);
}

// One video frame from the reader to the preview and the writer.
void copyVideoStep(frmMain& w, FrameData& buffer, CopyState& s) {
    VideoFile& in = engineObject(w.VideoFileIn1);
    if (!videoIsDue(in, s)) return;
    buffer = in.ReadVideoFrame();
    if (buffer.isEmpty()) {
        s.videoFinished = true;
        return;
    }
    w.VideoView1->ShowFrame(buffer);
    engineObject(w.VideoFileOut).WriteVideoFrame(buffer);
}

// One audio block from the reader to the writer, whenever video is ahead.
void copyAudioStep(frmMain& w, AudioChunk& block, CopyState& s) {
    VideoFile& in = engineObject(w.VideoFileIn1);
    if (s.audioFinished || !(in.VideoTime() > in.AudioTime() || s.videoFinished)) return;
    block = in.ReadAudio(kJobAudioBlockBytes);
    if (block.empty()) {
        s.audioFinished = true;
        return;
    }
    engineObject(w.VideoFileOut).WriteAudio(block);
}

// Gives the window one turn of its message loop per pass of a copy loop, so Cancel and the
// other live controls are served every pass. Repaints are asked for, never forced, and are
// merged: between two paints at least kRepaintMs pass (the preview still follows the copy
// at film speed), so a fast job spends its time copying rather than redrawing the window.
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

void enableAll(std::initializer_list<QWidget*> controls, bool enabled) {
    for (QWidget* c : controls) c->setEnabled(enabled);
}

// How a job ended, for its closing message.
struct JobEnd {
    std::optional<QString> failure;  // the description of what failed

    QString message(const frmMain& w, bool cancelled, int successMessage) const {
        if (failure) return w.Messages[1] + " " + *failure;
        return cancelled ? w.Messages[21] : w.Messages[successMessage];
    }
};

// Closing the output is part of the job: a file that cannot be completed is a failure.
void closeOutput(frmMain& w, JobEnd& end) {
    try {
        if (w.VideoFileOut) w.VideoFileOut->CloseFile();
    } catch (...) {
        if (!end.failure) end.failure = describeError(std::current_exception());
    }
}

}  // namespace

void frmMain::cmdCancel_Click() { CancelRequested = true; }

void frmMain::cmdCut_Click() {
    if (!FileLoaded) return;
    JobEnd end;
    std::optional<int32_t> saved1, saved2;
    try {
        CutStartValue = SliderTimePosition1->value();
        CutEndValue = SliderTimePosition2->value();
        if (CutStartValue == CutEndValue) {
            dialogs().MsgBox(Messages[4], MsgButtons::Ok);
            return;
        }
        const VideoFile& source = engineObject(VideoFileIn1);
        double startTime = rangeTime(CutStartValue, source.FrameCount(), source.VideoDuration());
        double endTime = rangeTime(CutEndValue, source.FrameCount(), source.VideoDuration());
        if (CutStartValue > CutEndValue) Swap(CutStartValue, CutEndValue);
        if (startTime > endTime) Swap(startTime, endTime);

        InternalMarkerChange = true;
        saved1 = SliderTimePosition1->value();
        saved2 = SliderTimePosition2->value();
        enableAll({FrameOptVideoAvi, FrameOptVideoMpeg, FrameOptVideoWMV, cmdFile, cmdCut, cmdSplit, cmdOptAVI,
                   cmdOptMPEG, cmdOptWMV},
                  false);
        cmdCancel->setEnabled(true);
        enableAll({cmdOutFile, cmdOutFile2, FrameConvertTo}, false);
        CancelRequested = false;
        // The frame-step buttons are locked too: a marker stepped now would move the
        // reader and put frames from outside the range into the output.
        enableAll({cmdPlayStop, sldThum, sldThum2, cmdPrevFrame, cmdNextFrame, cmdPrevFrame2, cmdNextFrame2}, false);

        QString path = EdOutFile->text();
        ConfigureOutputWriter(path);

        engineObject(VideoFileIn1).SeekFrame(CutStartValue);
        CopyState copy;
        ProgressBar1->show();
        AudioChunk block;
        WindowTurns turns(*this);
        for (;;) {
            VideoFile& reader = engineObject(VideoFileIn1);
            if (reader.CurrentFrame() >= CutEndValue) copy.videoFinished = true;
            if (double(reader.AudioTime()) >= endTime) copy.audioFinished = true;
            if (copy.finished() || CancelRequested) break;

            copyVideoStep(*this, FrameBits, copy);
            copyAudioStep(*this, block, copy);

            InternalMarkerChange = true;
            QSlider* marker =
                SliderTimePosition1->value() < SliderTimePosition2->value() ? SliderTimePosition1 : SliderTimePosition2;
            marker->setValue(cutMarkerValue(reader.AudioTime(), reader.VideoTime(), reader.AudioDuration(),
                                            reader.VideoDuration(), marker->maximum()));
            ProgressBar1->setValue(cutPercent(reader.CurrentFrame(), CutStartValue, CutEndValue));
            InternalMarkerChange = false;
            LabelS->setCaption(positionLabel(" ~2"));
            if (!turns.yield()) return;
        }
    } catch (...) {
        end.failure = describeError(std::current_exception());
    }

    closeOutput(*this, end);
    ProgressBar1->hide();
    if (saved1) resumeNext([&] { SliderTimePosition1->setValue(*saved1); });
    if (saved2) resumeNext([&] { SliderTimePosition2->setValue(*saved2); });
    InternalMarkerChange = false;
    enableAll({sldThum, sldThum2, cmdCut, cmdSplit}, true);
    cmdCancel->setEnabled(false);
    enableAll({cmdFile, cmdPlayStop}, true);
    ProgressBar1->setValue(0);
    enableAll({cmdOptAVI, cmdOptMPEG, cmdOptWMV, FrameOptVideoAvi, FrameOptVideoMpeg, FrameOptVideoWMV, FrameConvertTo,
               cmdOutFile, cmdOutFile2, cmdPrevFrame, cmdNextFrame, cmdPrevFrame2, cmdNextFrame2},
              true);
    dialogs().MsgBox(end.message(*this, CancelRequested, 19), MsgButtons::Ok);
}

void frmMain::cmdSplit_Click() {
    if (!PartnerAppPresent && CHKPANDO()) return;
    if (!FileLoaded) return;
    JobEnd end;
    std::optional<double> saved2;
    try {
        if (!splitPointAllowed(SliderTimePosition1->value(), SliderTimePosition1->maximum())) {
            dialogs().MsgBox(Messages[0], MsgButtons::Ok);
            return;
        }
        ProgressBar1->show();
        ProgressBar1->setValue(0);
        InternalMarkerChange = true;
        saved2 = SliderTimePosition2->value();
        enableAll({sldThum, sldThum2}, false);
        CancelRequested = false;
        enableAll({cmdCut, cmdSplit}, false);
        cmdCancel->setEnabled(true);
        enableAll({cmdFile, cmdPlayStop, FrameOptVideoAvi, FrameOptVideoMpeg, FrameOptVideoWMV, FrameConvertTo,
                   cmdOutFile, cmdOutFile2},
                  false);

        const int32_t splitFrame = SliderTimePosition1->value();
        engineObject(VideoFileIn1).SeekTime(0);
        int part = 1;
        {
            QString path = EdOutFile->text();
            ConfigureOutputWriter(path);
        }
        InternalMarkerChange = true;

        CopyState copy;
        FrameData frame;
        AudioChunk block;
        WindowTurns turns(*this);
        for (;;) {
            // A cancel that came in during the last yield ends the job before anything more
            // is read, so a job cancelled during the first file never starts the second.
            if (CancelRequested) break;
            VideoFile& reader = engineObject(VideoFileIn1);
            // The first file ends where the next frame due is the split frame: it holds
            // frames 1 to split - 1 and the second file starts with the split frame. The
            // audio has caught up with the video by then, so the two sound tracks meet
            // within one block.
            if (part == 1 && (reader.CurrentFrame() + 1 >= splitFrame || copy.videoFinished) &&
                (reader.VideoTime() <= reader.AudioTime() || copy.audioFinished)) {
                engineObject(VideoFileOut).CloseFile();
                reader.SeekFrame(splitFrame);
                part = 2;
                copy = CopyState{};
                QString path = EdOutFile2->text();
                ConfigureOutputWriter(path);
            }
            copyVideoStep(*this, frame, copy);
            copyAudioStep(*this, block, copy);

            const int16_t overall = splitOverallPercent(reader.AudioTime(), reader.VideoTime(), reader.AudioDuration(),
                                                        reader.VideoDuration());
            ProgressBar1->setValue(splitPercent(reader.CurrentFrame(), splitFrame, reader.FrameCount()));
            SliderTimePosition2->setValue(splitMarkerValue(overall, SliderTimePosition2->maximum()));
            if (copy.finished() || CancelRequested) break;
            if (!turns.yield()) return;
        }
    } catch (...) {
        end.failure = describeError(std::current_exception());
    }

    closeOutput(*this, end);
    ProgressBar1->hide();
    if (saved2) resumeNext([&] { SliderTimePosition2->setValue(toInt32(*saved2)); });
    InternalMarkerChange = false;
    enableAll({sldThum, sldThum2, cmdCut, cmdSplit}, true);
    cmdCancel->setEnabled(false);
    enableAll({cmdFile, cmdPlayStop, FrameOptVideoAvi, FrameOptVideoMpeg, FrameOptVideoWMV, FrameConvertTo, cmdOutFile,
               cmdOutFile2},
              true);
    dialogs().MsgBox(end.message(*this, CancelRequested, 20), MsgButtons::Ok);
    ProgressBar1->setValue(0);
}
