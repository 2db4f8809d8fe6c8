#pragma once
// Shared by the job tests: a window with the real engine whose output writer is watched
// (and can be made to fail), and ffprobe/ffmpeg based checks of what the jobs wrote.
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>
#include <QApplication>
#include <functional>

#include "support/Clips.h"
#include "support/WindowHarness.h"
#include "window/EngineFactory.h"

namespace jobstest {

// The real output writer with a tap: counts what is written, calls a hook after each video
// frame (inside the job, as the job runs) and can fail a write the way a full disk does.
class WriterTap : public VideoSink {
public:
    std::unique_ptr<VideoSink> inner = createVideoFileWriter();
    int videoFrames = 0;  // in the file being written
    int audioBlocks = 0;
    int failAfterFrames = -1;  // the write after this many frames throws
    QString failure = QStringLiteral("No space left on device");
    QStringList created;  // paths passed to CreateFile, in order
    int closes = 0;
    std::function<void(int)> afterVideoFrame;

    void SetHasVideo(bool on) override { inner->SetHasVideo(on); }
    void SetHasAudio(bool on) override { inner->SetHasAudio(on); }
    bool HasVideo() const override { return inner->HasVideo(); }
    bool HasAudio() const override { return inner->HasAudio(); }
    void SetVideoFormat(int32_t w, int32_t h, double fps) override { inner->SetVideoFormat(w, h, fps); }
    void SetAudioFormat(int32_t rate, int32_t ch) override { inner->SetAudioFormat(rate, ch); }
    void SetAviVideo(int32_t w, int32_t h, double fps) override { inner->SetAviVideo(w, h, fps); }
    void SetAudioPCM(int32_t r, int32_t c, int32_t b) override { inner->SetAudioPCM(r, c, b); }
    void SetAudioADPCM(int32_t r, int32_t c) override { inner->SetAudioADPCM(r, c); }
    void SetAudioALaw(int32_t r, int32_t c) override { inner->SetAudioALaw(r, c); }
    void SetAudioMuLaw(int32_t r, int32_t c) override { inner->SetAudioMuLaw(r, c); }
    void SetAudioGSM(int32_t r) override { inner->SetAudioGSM(r); }
    void SetAudioMP3(int32_t k, int32_t r, int32_t c) override { inner->SetAudioMP3(k, r, c); }
    void SetMpegVideo(int32_t v, int32_t k, int32_t w, int32_t h, double fps) override {
        inner->SetMpegVideo(v, k, w, h, fps);
    }
    void SetMpegAudio(int32_t k, int32_t r, int32_t c) override { inner->SetMpegAudio(k, r, c); }
    int32_t VideoCodecCount() const override { return inner->VideoCodecCount(); }
    void SetVideoCodec(int32_t i) override { inner->SetVideoCodec(i); }
    int32_t VideoCodec() const override { return inner->VideoCodec(); }
    QString VideoCodecName() const override { return inner->VideoCodecName(); }
    CodecCapabilities VideoCodecCapabilities() const override { return inner->VideoCodecCapabilities(); }
    CodecSettings VideoCodecSettings() const override { return inner->VideoCodecSettings(); }
    void SetVideoCodecSettings(const CodecSettings& s) override { inner->SetVideoCodecSettings(s); }
    int32_t WmvProfileCount() const override { return inner->WmvProfileCount(); }
    void SetWmvProfile(int32_t i) override { inner->SetWmvProfile(i); }
    int32_t WmvProfile() const override { return inner->WmvProfile(); }
    QString WmvProfileName() const override { return inner->WmvProfileName(); }
    void CreateFile(const QString& path, int32_t container) override {
        created << path;
        videoFrames = 0;
        audioBlocks = 0;
        inner->CreateFile(path, container);
    }
    void WriteVideoFrame(const FrameData& frame) override {
        if (failAfterFrames >= 0 && videoFrames >= failAfterFrames) throw MediaError(failure);
        inner->WriteVideoFrame(frame);
        ++videoFrames;
        // The job writes on its worker thread; the hook plays a user acting in the window at
        // that moment, so it runs on the window's thread while the job waits.
        if (afterVideoFrame)
            QMetaObject::invokeMethod(
                qApp, [this] { afterVideoFrame(videoFrames); },
                QThread::currentThread() == qApp->thread() ? Qt::DirectConnection : Qt::BlockingQueuedConnection);
    }
    void WriteAudio(const AudioChunk& chunk) override {
        inner->WriteAudio(chunk);
        ++audioBlocks;
    }
    void CloseFile() override {
        ++closes;
        inner->CloseFile();
    }
};

// A started window with the real reader and a tapped writer, and a folder for outputs.
struct JobWindow {
    WriterTap* tap = nullptr;  // owned by the window
    WindowHarness harness{true, [this](WindowServices& s) {
                              s.makeWriter = [this] {
                                  auto w = std::make_unique<WriterTap>();
                                  tap = w.get();
                                  return w;
                              };
                          }};
    QTemporaryDir out;
    frmMain& w = *harness.window;

    QString path(const QString& name) const { return out.path() + "/" + name; }

    void open(const clips::Clip& clip) {
        w.OpenSourceVideo(clip.path);
        ASSERT_TRUE(w.FileLoaded) << harness.messages().join(" | ").toStdString();
        harness.dialogs.shownMessages.clear();
    }
    // Chooses an output name through the save dialog, as a user does.
    void chooseOutput(const QString& name, int which = 1) {
        harness.dialogs.fileAnswers = {{path(name), 0}};
        which == 1 ? w.cmdOutFile_Click() : w.cmdOutFile2_Click();
        ASSERT_EQ((which == 1 ? w.EdOutFile : w.EdOutFile2)->text(), path(name));
    }
    void setMarkers(int m1, int m2) {
        w.SliderTimePosition1->setValue(m1);
        w.SliderTimePosition2->setValue(m2);
    }
    QStringList messages() const { return harness.messages(); }
    QStringList outputFiles() const { return QDir(out.path()).entryList(QDir::Files, QDir::Name); }
};

// The controls a job locks are all usable again, Cancel is not, and the bar is hidden at 0.
inline void expectWindowRestored(const frmMain& w) {
    for (QWidget* c : std::initializer_list<QWidget*>{
             w.sldThum, w.sldThum2, w.cmdCut, w.cmdSplit, w.cmdFile, w.cmdPlayStop, w.cmdOptAVI, w.cmdOptMPEG,
             w.cmdOptWMV, w.FrameOptVideoAvi, w.FrameOptVideoMpeg, w.FrameOptVideoWMV, w.FrameConvertTo, w.cmdOutFile,
             w.cmdOutFile2, w.cmdPrevFrame, w.cmdNextFrame, w.cmdPrevFrame2, w.cmdNextFrame2})
        EXPECT_TRUE(c->isEnabled()) << c->objectName().toStdString();
    EXPECT_FALSE(w.cmdCancel->isEnabled());
    EXPECT_TRUE(w.ProgressBar1->isHidden());
    EXPECT_EQ(w.ProgressBar1->value(), 0);
    EXPECT_FALSE(w.InternalMarkerChange);
}

inline QList<int> range(int first, int last) {
    QList<int> r;
    for (int i = first; i <= last; ++i) r << i;
    return r;
}

// The container and the codec of each kind of stream, as ffprobe reads them.
struct Probed {
    QString container;
    QString video;
    QString audio;
    int audioRate = 0;
    int audioChannels = 0;
};
inline Probed probed(const QString& path) {
    const QJsonObject p = clips::probe(path);
    Probed r;
    r.container = p["format"].toObject()["format_name"].toString();
    for (const auto& s : p["streams"].toArray()) {
        const QJsonObject o = s.toObject();
        if (o["codec_type"] == "video") r.video = o["codec_name"].toString();
        if (o["codec_type"] == "audio") {
            r.audio = o["codec_name"].toString();
            r.audioRate = o["sample_rate"].toString().toInt();
            r.audioChannels = o["channels"].toInt();
        }
    }
    return r;
}

// Sample frames of the file's sound track, decoded by the ffmpeg tool (mono, the file's
// own rate).
inline qint64 audioSamples(const QString& path) {
    QByteArray pcm;
    const int code = clips::run(
        "ffmpeg", {"-nostdin", "-loglevel", "error", "-i", path, "-map", "0:a:0", "-ac", "1", "-f", "s16le", "-"},
        &pcm);
    if (code != 0) return -1;
    return pcm.size() / 2;
}

inline QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace jobstest
