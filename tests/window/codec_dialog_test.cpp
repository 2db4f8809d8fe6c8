// The codec configuration dialog, alone and as the window shows it for the writer, and the effect of
// its settings on the file written.
#include <gtest/gtest.h>
#include <QApplication>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>

#include "engine/writer/FfmpegWriter.h"
#include "engine/writer/WriterCatalog.h"
#include "engine/writer/WriterTestSupport.h"
#include "window/CodecConfigDialog.h"

using namespace writertest;

namespace {

// Runs `act` on the dialog once it is shown for the writer, then returns whether it was accepted.
int configureWith(FfmpegWriter& writer, const std::function<void(CodecConfigDialog&)>& act) {
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<CodecConfigDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        seen = true;
        act(*dialog);
    });
    const int result = configureVideoCodec(writer, nullptr) ? 1 : 0;
    EXPECT_TRUE(seen) << "the dialog was not shown modally";
    return result;
}

void press(CodecConfigDialog& d, QDialogButtonBox::StandardButton which) {
    d.findChild<QDialogButtonBox*>("buttons")->button(which)->click();
}

}  // namespace

TEST(CodecDialog, ShowsOnlyTheControlsTheCodecHas) {
    for (const AviCodec& codec : aviCodecs()) {
        CodecConfigDialog d(codec.name, codec.caps, codec.defaults);
        EXPECT_TRUE(d.windowTitle().startsWith(codec.name));
        auto* quality = d.findChild<QSpinBox*>("quality");
        EXPECT_EQ(quality != nullptr, codec.caps.hasQuality()) << codec.encoder;
        EXPECT_EQ(d.findChild<QSpinBox*>("bitrate") != nullptr, codec.caps.bitrate) << codec.encoder;
        EXPECT_EQ(d.findChild<QSpinBox*>("keyframes") != nullptr, codec.caps.keyframes) << codec.encoder;
        if (quality) {
            EXPECT_EQ(quality->minimum(), codec.caps.qualityMin);
            EXPECT_EQ(quality->maximum(), codec.caps.qualityMax);
            EXPECT_EQ(quality->value(), codec.defaults.quality);
        }
        EXPECT_EQ(d.settings(), codec.defaults) << "untouched controls give back the settings";
    }
}

TEST(CodecDialog, RateControlChoiceSwitchesTheControls) {
    const AviCodec& codec = aviCodecs()[size_t(codecIndex("libx264") - 1)];
    CodecConfigDialog d(codec.name, codec.caps, codec.defaults);
    auto* quality = d.findChild<QSpinBox*>("quality");
    auto* bitrate = d.findChild<QSpinBox*>("bitrate");
    EXPECT_TRUE(quality->isEnabled());
    EXPECT_FALSE(bitrate->isEnabled());
    d.findChild<QRadioButton*>("byBitrate")->setChecked(true);
    EXPECT_FALSE(quality->isEnabled());
    EXPECT_TRUE(bitrate->isEnabled());
    bitrate->setValue(4500);
    d.findChild<QSpinBox*>("keyframes")->setValue(48);
    const CodecSettings s = d.settings();
    EXPECT_EQ(s.rateControl, CodecSettings::RateControl::Bitrate);
    EXPECT_EQ(s.bitrateKbps, 4500);
    EXPECT_EQ(s.keyframeInterval, 48);
    EXPECT_EQ(s.quality, codec.defaults.quality);
}

TEST(CodecDialog, OutOfRangeSettingsAreBroughtIntoRange) {
    const AviCodec& codec = aviCodecs()[size_t(codecIndex("mpeg4") - 1)];
    CodecSettings wild;
    wild.quality = 99;
    wild.bitrateKbps = -5;
    wild.keyframeInterval = 100000;
    CodecConfigDialog d(codec.name, codec.caps, wild);
    EXPECT_EQ(d.findChild<QSpinBox*>("quality")->value(), 31);
    const CodecSettings s = d.settings();
    EXPECT_EQ(s.quality, 31);
    EXPECT_EQ(s.bitrateKbps, kMinCodecBitrateKbps);
    EXPECT_EQ(s.keyframeInterval, kMaxKeyframeInterval);
}

TEST(CodecDialog, AcceptedSettingsAreKeptPerCodecAndCancelledOnesDropped) {
    FfmpegWriter writer;
    const int mpeg4 = codecIndex("mpeg4"), mjpeg = codecIndex("mjpeg");
    writer.SetVideoCodec(mpeg4);
    EXPECT_EQ(configureWith(writer,
                            [](CodecConfigDialog& d) {
                                d.findChild<QSpinBox*>("quality")->setValue(12);
                                d.findChild<QSpinBox*>("keyframes")->setValue(30);
                                press(d, QDialogButtonBox::Ok);
                            }),
              1);
    writer.SetVideoCodec(mjpeg);
    EXPECT_EQ(configureWith(writer,
                            [](CodecConfigDialog& d) {
                                d.findChild<QSpinBox*>("quality")->setValue(20);
                                press(d, QDialogButtonBox::Cancel);
                            }),
              0);
    EXPECT_EQ(writer.codecSettings(mjpeg), aviCodecs()[size_t(mjpeg - 1)].defaults);
    writer.SetVideoCodec(mpeg4);
    EXPECT_EQ(writer.codecSettings(mpeg4).quality, 12);
    EXPECT_EQ(writer.codecSettings(mpeg4).keyframeInterval, 30);
    // The dialog opens on the kept settings.
    configureWith(writer, [](CodecConfigDialog& d) {
        EXPECT_EQ(d.findChild<QSpinBox*>("quality")->value(), 12);
        press(d, QDialogButtonBox::Cancel);
    });
    // A codec with nothing to set still answers: the dialog says so and OK accepts.
    writer.SetVideoCodec(codecIndex("huffyuv"));
    EXPECT_EQ(configureWith(writer, [](CodecConfigDialog& d) { press(d, QDialogButtonBox::Ok); }), 1);
}

TEST(CodecDialog, TheChosenQualityAndKeyframesReachTheFile) {
    // Noise over the pattern, so that the quantiser matters.
    const clips::Clip noisy = clips::make("noisy_pattern", "avi", 320, 240, 25, 100, false,
                                          {"-vf", "noise=alls=30:allf=t", "-c:v", "mjpeg", "-q:v", "2"});
    const DecodedClip source = decodeClip(noisy.path);
    auto write = [&](const QString& name, const CodecSettings& settings) {
        FfmpegWriter writer;
        describeSource(writer, source);
        writer.SetHasAudio(false);
        writer.SetAviVideo(source.width, source.height, source.fps);
        writer.SetVideoCodec(codecIndex("mpeg4"));
        writer.setCodecSettings(writer.VideoCodec(), settings);
        const QString path = outputPath(name);
        writer.CreateFile(path, kContainerAvi);
        copyInterleaved(writer, source);
        writer.CloseFile();
        return path;
    };
    CodecSettings fine = aviCodecs()[size_t(codecIndex("mpeg4") - 1)].defaults;
    fine.quality = 2;
    fine.keyframeInterval = 10;
    CodecSettings coarse = fine;
    coarse.quality = 31;
    coarse.keyframeInterval = 100;
    const QString finePath = write("quality-fine.avi", fine), coarsePath = write("quality-coarse.avi", coarse);
    EXPECT_GT(QFileInfo(finePath).size(), QFileInfo(coarsePath).size() * 4);

    // Keyframes every 10 frames: frames 1, 11, 21, ... are key frames.
    QByteArray out;
    clips::run("ffprobe",
               {"-v", "error", "-select_streams", "v:0", "-show_entries", "packet=flags", "-of", "csv=p=0", finePath},
               &out);
    const QList<QByteArray> flags = out.trimmed().split('\n');
    ASSERT_EQ(flags.size(), 100);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(flags[i].startsWith('K'), i % 10 == 0) << "packet " << i;
}
