#pragma once
// Runs one hostile file through the window the way a user would: open it, and either see it
// refused with a readable message and the window idle, or step and drag the markers, play a
// moment, cut a short piece (re-encoded, and in the source's own format) and save the frame
// on show. Each file has a time bound, and a watchdog ends the whole program with the file's
// name if one never comes back.
#include <gtest/gtest.h>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QImage>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "rules/Conversions.h"
#include "support/Clips.h"
#include "support/WindowHarness.h"
#include "window/JobsTestSupport.h"

namespace hostile {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kSlowdown = 4;  // the sanitizer build runs several times slower
#else
constexpr int kSlowdown = 1;
#endif
// What one file may take, from the open to the saved frame.
constexpr int kSecondsPerFile = 20 * kSlowdown;
// Past this the program is taken to hang and is ended, naming the file.
constexpr int kHangSeconds = 90 * kSlowdown;

// Ends the program when one step runs past its deadline, so a hang is reported as such with
// the file's name instead of as a silent timeout of the whole test run.
class Watchdog {
public:
    Watchdog() : thread_([this] { watch(); }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    void arm(const std::string& label, int seconds) {
        std::lock_guard lock(mutex_);
        label_ = label;
        deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        armed_ = true;
        wake_.notify_all();
    }
    void disarm() {
        std::lock_guard lock(mutex_);
        armed_ = false;
    }

private:
    void watch() {
        std::unique_lock lock(mutex_);
        while (!stop_) {
            if (!armed_) {
                wake_.wait(lock);
                continue;
            }
            if (wake_.wait_until(lock, deadline_) == std::cv_status::timeout && armed_ &&
                std::chrono::steady_clock::now() >= deadline_) {
                std::fprintf(stderr, "HANG: %s did not finish within its time\n", label_.c_str());
                std::fflush(stderr);
                std::abort();
            }
        }
    }
    std::mutex mutex_;
    std::condition_variable wake_;
    std::string label_;
    std::chrono::steady_clock::time_point deadline_;
    bool armed_ = false;
    bool stop_ = false;
    std::thread thread_;
};

inline Watchdog& watchdog() {
    static Watchdog dog;
    return dog;
}

inline QByteArray checksum(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&f);
    return hash.result().toHex();
}

// A message a person can read: some words, no control characters, not a bare placeholder.
inline void expectReadable(const QString& text) {
    EXPECT_GE(text.size(), 8) << text.toStdString();
    EXPECT_LE(text.size(), 600) << text.toStdString();
    EXPECT_NE(text, "Unknown error");
    EXPECT_NE(text, "Default");
    for (const QChar c : text)
        EXPECT_TRUE(c.isPrint() || c == '\r' || c == '\n' || c == '\t')
            << "character " << int(c.unicode()) << " in: " << text.toStdString();
}

// What happened to one file, for the summary line.
struct Outcome {
    bool opened = false;
    int frames = 0;
    QString size;  // as the reader reports it
    QString openMessage;
    QString cutMessage;
    int cutFrames = -1;
    QString ownMessage;  // of the cut in the source's own format
    int ownFrames = -1;
    bool frameSaved = false;
    qint64 ms = 0;
};

inline QString describe(const Outcome& o) {
    if (!o.opened) return QStringLiteral("refused: %1").arg(o.openMessage.left(140));
    return QStringLiteral("opened, %1 frames of %2; cut: %3 (%4 frames); own format: %5 (%6 frames); frame saved: %7")
        .arg(o.frames)
        .arg(o.size)
        .arg(o.cutMessage.left(100))
        .arg(o.cutFrames)
        .arg(o.ownMessage.left(100))
        .arg(o.ownFrames)
        .arg(o.frameSaved ? "yes" : "no");
}

// The frame the preview holds is a whole picture of a sensible size.
inline void expectPictureOnShow(const frmMain& w) {
    const auto view = viewFrame(w.FrameBits);
    ASSERT_TRUE(view.has_value()) << "the preview holds no picture";
    EXPECT_GT(view->width(), 0);
    EXPECT_GT(view->height(), 0);
    EXPECT_LE(view->width(), 16384);
    EXPECT_LE(view->height(), 16384);
}

// The number, in its source, of the frame the preview holds.
inline int shownFrameNumber(const frmMain& w) {
    const auto view = viewFrame(w.FrameBits);
    return view ? view->header.frameNumber : -1;
}

// Refused: one readable error, the idle look, nothing kept from the file; and the window
// still opens a good clip afterwards.
inline void checkRefused(WindowHarness& h, Outcome& o) {
    frmMain& w = *h.window;
    ASSERT_EQ(h.dialogs.shownMessages.size(), 1) << h.messages().join(" | ").toStdString();
    o.openMessage = h.dialogs.shownMessages[0].text;
    expectReadable(o.openMessage);
    EXPECT_EQ(h.dialogs.shownMessages[0].icon, MsgIcon::Critical);
    EXPECT_FALSE(w.FileLoaded);
    EXPECT_TRUE(w.PrevOpenedFile.isEmpty());
    EXPECT_TRUE(w.picScreen->isVisibleTo(&w));
    EXPECT_TRUE(w.Timer2->isActive());
    for (QWidget* c : std::initializer_list<QWidget*>{w.cmdSavePictureAs, w.sldThum, w.sldThum2, w.cmbVideoSize})
        EXPECT_FALSE(c->isEnabled()) << c->objectName().toStdString();
    EXPECT_EQ(w.txtFile->text(), w.GetFromINI("frmMain", "6"));
    EXPECT_TRUE(w.EdInfoVideo->text().isEmpty());
    EXPECT_TRUE(w.EdInfoAudio->text().isEmpty());

    h.dialogs.shownMessages.clear();
    const clips::Clip good = clips::get("avi_noaudio");
    w.OpenSourceVideo(good.path);
    ASSERT_TRUE(w.FileLoaded) << h.messages().join(" | ").toStdString();
    EXPECT_EQ(clips::frameNumberOf(w.FrameBits), 1);
    w.SliderTimePosition1->setValue(20);
    EXPECT_EQ(clips::frameNumberOf(w.FrameBits), 20);
}

// Opened: markers, drag, playback, a cut and a saved frame all work on it.
inline void checkUsable(WindowHarness& h, const QString& outDir, Outcome& o) {
    frmMain& w = *h.window;
    EXPECT_TRUE(h.messages().isEmpty()) << h.messages().join(" | ").toStdString();
    const int frames = w.SliderTimePosition1->maximum();
    o.frames = frames;
    o.size = QStringLiteral("%1x%2 at %3 fps")
                 .arg(w.VideoFileIn1->FrameWidth())
                 .arg(w.VideoFileIn1->FrameHeight())
                 .arg(w.VideoFileIn1->FrameRate());
    ASSERT_GE(frames, 1);
    ASSERT_EQ(frames, w.VideoFileIn1->FrameCount());
    expectPictureOnShow(w);
    EXPECT_FALSE(w.EdInfoVideo->text().isEmpty());

    // Frame steps (which wrap around at either end) and marker moves.
    int expected = 1;
    for (int i = 0; i < 3; ++i) {
        w.cmdNextFrame_Click();
        expected = expected == frames ? 1 : expected + 1;
    }
    w.cmdPrevFrame_Click();
    expected = expected == 1 ? frames : expected - 1;
    EXPECT_EQ(w.SliderTimePosition1->value(), expected);
    w.SliderTimePosition2->setValue(frames);
    w.cmdPrevFrame2_Click();
    w.cmdNextFrame2_Click();
    EXPECT_EQ(w.SliderTimePosition2->value(), frames);
    w.cmdNextFrame2_Click();  // wraps around to the first frame
    EXPECT_EQ(w.SliderTimePosition2->value(), 1);
    w.SliderTimePosition1->setValue((frames + 1) / 2);
    EXPECT_EQ(w.SliderTimePosition1->value(), (frames + 1) / 2);
    expectPictureOnShow(w);
    EXPECT_EQ(shownFrameNumber(w), (frames + 1) / 2) << "the preview did not follow the marker";

    // A drag of thumb 1 to the right and back (positions in twips).
    const float x = w.sldThum->Width() / 2;
    w.sldThum_MouseDown(1, 0, x, 30);
    w.sldThum_MouseMove(1, 0, x + 900, 30);
    w.sldThum_MouseMove(1, 0, x - 400, 30);
    w.sldThum_MouseUp(1, 0, x - 400, 30);
    EXPECT_FALSE(w.MoveShape);
    EXPECT_TRUE(w.sldThum->isEnabled());
    expectPictureOnShow(w);
    EXPECT_EQ(shownFrameNumber(w), w.SliderTimePosition1->value()) << "the preview did not follow the drag";

    // A moment of playback from marker 1.
    if (w.cmdPlayStop->isEnabled()) {
        w.cmdPlayStop_Click();
        QElapsedTimer playing;
        playing.start();
        while (playing.elapsed() < 200) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (w.Playing) w.cmdPlayStop_Click();
        EXPECT_FALSE(w.Playing);
        EXPECT_TRUE(w.cmdCut->isEnabled());
    }

    // A short cut through the window, with the name chosen in the save dialog.
    const int first = std::min(2, frames), last = std::min(frames, 11);
    const double outputFps = leadingNumber(w.cmbFramerateAVI->currentText());
    w.VideoFileIn1->SeekFrame(last + 1);
    const double spanMs = w.VideoFileIn1->VideoTime();
    w.VideoFileIn1->SeekFrame(first);
    const double expectedCutFrames = (spanMs - w.VideoFileIn1->VideoTime()) * outputFps / 1000;
    w.SliderTimePosition1->setValue(first);
    w.SliderTimePosition2->setValue(last);
    const QString cutName = outDir + "/cut.avi";
    h.dialogs.fileAnswers = {{cutName, 0}};
    w.cmdOutFile_Click();
    h.dialogs.shownMessages.clear();
    w.cmdCut_Click();
    const QStringList shown = h.messages();
    ASSERT_FALSE(shown.isEmpty());
    o.cutMessage = shown.last();
    jobstest::expectWindowRestored(w);
    EXPECT_EQ(w.SliderTimePosition1->value(), first);
    EXPECT_EQ(w.SliderTimePosition2->value(), last);
    if (first == last) {
        EXPECT_EQ(shown, QStringList{w.Messages[Msg::SameFrame]});
    } else {
        EXPECT_EQ(shown, QStringList{w.Messages[Msg::CutFinished]}) << "the cut of an opened file failed";
        if (!o.cutMessage.startsWith(w.Messages[Msg::CutFinished])) expectReadable(o.cutMessage);
        // The writer keeps the source's timing at the list's frame rate: the range's time
        // span decides how many frames the cut holds, unless the frames' times run
        // backwards (a clock that starts again), where it holds the range's frames.
        o.cutFrames = clips::probeFrameCount(cutName);
        const double rangeFrames = last - first + 1;
        EXPECT_GE(o.cutFrames, std::min(rangeFrames, expectedCutFrames) - 1) << "frames in the cut";
        EXPECT_LE(o.cutFrames, std::max(rangeFrames, expectedCutFrames) + 1) << "frames in the cut";
    }

    // The same piece in the source's own format: a cut whose file ffprobe reads, a refusal that
    // names the codec it would need, or a failure with a readable reason that leaves no file.
    const QString ownName = outDir + "/own." + QFileInfo(w.PrevOpenedFile).suffix();
    w.cmdOptOriginal_Click();
    h.dialogs.fileAnswers = {{ownName, 0}};
    w.cmdOutFile_Click();
    h.dialogs.shownMessages.clear();
    w.cmdCut_Click();
    EXPECT_EQ(h.messages().size(), 1) << h.messages().join(" | ").toStdString();
    ASSERT_TRUE(w.lastJobOutcome());
    const JobOutcome own = *w.lastJobOutcome();
    jobstest::expectWindowRestored(w);
    EXPECT_EQ(w.SliderTimePosition1->value(), first);
    EXPECT_EQ(w.SliderTimePosition2->value(), last);
    switch (own.kind) {
        case JobOutcome::Kind::Finished: o.ownMessage = "finished"; break;
        case JobOutcome::Kind::Failed:
            o.ownMessage = own.failure;
            expectReadable(own.failure);
            EXPECT_FALSE(QFileInfo::exists(ownName)) << "a failed cut left its file";
            break;
        case JobOutcome::Kind::Refused:
            o.ownMessage = own.refusal == JobRefusal::EdgesNeedEncoder
                               ? "refused, needs an encoder for " + own.codecName
                               : QStringLiteral("refused");
            EXPECT_TRUE(first == last || (own.refusal == JobRefusal::EdgesNeedEncoder && !own.codecName.isEmpty()));
            break;
        case JobOutcome::Kind::Running:
        case JobOutcome::Kind::Cancelled: ADD_FAILURE() << "a cut in the source's own format did not end by itself";
    }
    if (own.kind == JobOutcome::Kind::Finished || QFileInfo::exists(ownName)) {
        o.ownFrames = clips::probeFrameCount(ownName);
        EXPECT_GT(o.ownFrames, 0) << "the file of a cut in the source's own format holds no picture";
        EXPECT_LE(o.ownFrames, last - first + 1) << "frames in the cut in the source's own format";
    }

    // The frame on show saved as PNG (entry 9 of the picture dialog).
    const QString picture = outDir + "/frame.png";
    h.dialogs.fileAnswers = {{picture, 9}};
    h.dialogs.shownMessages.clear();
    w.cmdSavePictureAs_Click();
    EXPECT_TRUE(h.messages().isEmpty()) << h.messages().join(" | ").toStdString();
    const QImage saved(picture, "PNG");
    o.frameSaved = !saved.isNull();
    EXPECT_TRUE(o.frameSaved) << "the frame on show was not saved";
    if (const auto view = viewFrame(w.FrameBits); view && o.frameSaved) {
        EXPECT_EQ(saved.size(), QSize(view->width(), view->height()));
    }
}

enum class Expect { OpensOrIsRefused, Opens };

// The whole run for one file; prints one summary line. A file whose pictures are all intact
// (only a header field or an index is wrong) must open: refusing it would cost the user it.
inline void runHostileFile(const QString& label, const QString& path, Expect expect = Expect::OpensOrIsRefused) {
    const QByteArray before = checksum(path);
    QTemporaryDir out;
    Outcome o;
    QElapsedTimer clock;
    clock.start();
    watchdog().arm(label.toStdString(), kHangSeconds);
    {
        WindowHarness h;
        h.window->OpenSourceVideo(path);
        if (h.window->FileLoaded) {
            o.opened = true;
            checkUsable(h, out.path(), o);
        } else {
            checkRefused(h, o);
            if (expect == Expect::Opens) ADD_FAILURE() << "a file with intact pictures was refused";
        }
    }
    watchdog().disarm();
    o.ms = clock.elapsed();
    EXPECT_LT(o.ms, kSecondsPerFile * 1000) << label.toStdString() << " took " << o.ms << " ms";
    EXPECT_EQ(checksum(path), before) << "the source was changed";
    // Nothing but the cut and the picture was written.
    for (const QString& name : QDir(out.path()).entryList(QDir::Files | QDir::Hidden))
        EXPECT_TRUE(name == "cut.avi" || name.startsWith("own.") || name == "frame.png") << name.toStdString();
    std::printf("[hostile] %-34s %6lld ms  %s\n", qPrintable(label), o.ms, qPrintable(describe(o)));
    std::fflush(stdout);
}

}  // namespace hostile
