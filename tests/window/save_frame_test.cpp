// Saving the frame on show: the proposal, the shared dialog, the entry-to-writer mapping.
#include <gtest/gtest.h>

#include "support/ClipCopies.h"
#include "support/Clips.h"
#include "support/WindowHarness.h"

namespace {

// A picture writer that records which operation was called, for which frame and name.
struct RecordingImageFile : ImageFile {
    QStringList* calls;
    explicit RecordingImageFile(QStringList* log) : calls(log) {}
    int32_t record(const char* op, const FrameData& f, const QString& path) {
        *calls << QString("%1 %2 %3").arg(op).arg(clips::frameNumberOf(f)).arg(path);
        return 0;
    }
    int32_t SaveBMP(const FrameData& f, const QString& p) override { return record("BMP", f, p); }
    int32_t SaveGIF(const FrameData& f, const QString& p) override { return record("GIF", f, p); }
    int32_t SaveJPEG(const FrameData& f, const QString& p) override { return record("JPEG", f, p); }
    int32_t SavePNG(const FrameData& f, const QString& p) override { return record("PNG", f, p); }
    int32_t SaveTIFF(const FrameData& f, const QString& p) override { return record("TIFF", f, p); }
    int32_t SaveWMF(const FrameData& f, const QString& p) override { return record("WMF", f, p); }
    int32_t SaveEMF(const FrameData& f, const QString& p) override { return record("EMF", f, p); }
    int32_t SavePCX(const FrameData& f, const QString& p) override { return record("PCX", f, p); }
    int32_t SaveTGA(const FrameData& f, const QString& p) override { return record("TGA", f, p); }
    int32_t SaveRAS(const FrameData& f, const QString& p) override { return record("RAS", f, p); }
    int32_t SaveJPEG2000(const FrameData& f, const QString& p) override { return record("JPEG2000", f, p); }
};

TEST(SaveFrame, EachFilterEntryCallsItsOwnWriterWithTheFrameOnShow) {
    QStringList calls;
    WindowHarness h(true, [&](WindowServices& s) {
        s.makeImageFile = [&] { return std::make_unique<RecordingImageFile>(&calls); };
    });
    frmMain& w = *h.window;
    w.OpenSourceVideo(clips::get("avi_mjpeg_pcm").path);
    w.SliderTimePosition1->setValue(33);
    const QStringList expected{"BMP", "JPEG", "GIF", "TIFF", "PCX", "WMF", "EMF", "TGA", "PNG", "RAS", "JPEG2000"};
    for (int index = 1; index <= 11; ++index) h.dialogs.fileAnswers.append({"/tmp/x" + QString::number(index), index});
    h.dialogs.fileAnswers.append({"/tmp/none", 12});
    for (int i = 0; i < 12; ++i) w.cmdSavePictureAs_Click();
    ASSERT_EQ(calls.size(), 11);  // index 12 calls nothing
    const QStringList extensions{"bmp", "jpg", "gif", "tif", "pcx", "wmf", "emf", "tga", "png", "ras", "j2k"};
    for (int i = 0; i < 11; ++i)
        EXPECT_EQ(calls[i], QString("%1 33 /tmp/x%2.%3").arg(expected[i]).arg(i + 1).arg(extensions[i]));
    const FileDialogState& shown = h.dialogs.shownFileDialogs.last();
    EXPECT_EQ(shown.DialogTitle, "Save Picture To File");
    EXPECT_TRUE(shown.CancelError);
    EXPECT_TRUE(shown.Filter.startsWith("BMP Files (*.bmp)|*.bmp|JPEG Files"));
    EXPECT_TRUE(h.messages().isEmpty());
}

TEST(SaveFrame, ProposalDropsTheExtensionAndTheNameWinsOverThePngEntry) {
    WindowHarness h;
    frmMain& w = *h.window;
    const QString source = copyClipTo(clips::get("mpeg2_ps").path, h.home.path() + "/v/clip.mpeg");
    w.OpenSourceVideo(source);
    ASSERT_TRUE(w.FileLoaded);
    w.SliderTimePosition1->setValue(12);
    const QString target = h.home.path() + "/out/picture.bmp";
    QDir().mkpath(h.home.path() + "/out");
    h.dialogs.fileAnswers.append({target, 9});
    w.cmdSavePictureAs_Click();
    EXPECT_EQ(h.dialogs.shownFileDialogs.last().FileName, h.home.path() + "/v/clip Frame12");
    QFile f(target);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.read(2), QByteArray("BM"));
    f.close();
    QImage image(target, "BMP");
    EXPECT_EQ(image.size(), QSize(352, 288));
    EXPECT_EQ(clips::frameNumberOf(image), 12);
    // The dialog opens on the format last written; a name without a known extension takes it
    // and its extension.
    const QString plain = h.home.path() + "/out/noextension";
    h.dialogs.fileAnswers.append({plain, 0});
    w.cmdSavePictureAs_Click();
    EXPECT_EQ(h.dialogs.shownFileDialogs.last().FilterIndex, 1);
    QFile written(plain + ".bmp");
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.read(2), QByteArray("BM"));
}

TEST(SaveFrame, CancelWritesNothingAndNothingHappensWithoutASource) {
    WindowHarness h;
    frmMain& w = *h.window;
    w.cmdSavePictureAs_Click();
    EXPECT_TRUE(h.dialogs.shownFileDialogs.isEmpty());
    w.OpenSourceVideo(clips::get("avi_noaudio").path);
    const QStringList before = QDir(h.home.path()).entryList(QDir::Files);
    w.cmdSavePictureAs_Click();  // no queued answer: cancel
    EXPECT_EQ(h.dialogs.shownFileDialogs.size(), 1);
    EXPECT_TRUE(h.messages().isEmpty());
    EXPECT_EQ(QDir(h.home.path()).entryList(QDir::Files), before);
    // CancelError stays set on the shared dialog: the open dialog's cancel ends quietly too.
    w.cmdFile_Click();
    EXPECT_TRUE(h.messages().isEmpty());
    EXPECT_TRUE(w.FileLoaded);
}

}  // namespace
