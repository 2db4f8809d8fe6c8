// The source's picture shape and fields reach every output, and MPEG files are what disc
// authoring tools take: sources from ffmpeg (DV, broadcast MPEG-2) and GStreamer (x264 in
// Matroska and MP4), read by the engine's reader and written as the window sets the writer up.
#include <gtest/gtest.h>

#include <QDir>

#include "../GeometryClips.h"
#include "WriterTestSupport.h"
#include "engine/reader/FfmpegReader.h"
#include "engine/writer/FfmpegWriter.h"
#include "engine/writer/WriterRules.h"

using namespace writertest;

namespace {

struct Output {
    int container;
    int mpegVersion;  // MPEG only
    const char* ext;
};

// Writes the whole source to an output of the given kind, set up from the reader as the window does.
QString writeFrom(const clips::Clip& clip, const Output& out, const QString& name, int mpegKbps = 6000) {
    FfmpegReader reader;
    reader.OpenFile(clip.path);
    FfmpegWriter writer;
    writer.SetVideoFormat(reader.FrameWidth(), reader.FrameHeight(), reader.FrameRate());
    if (reader.HasAudio()) writer.SetAudioFormat(reader.AudioSampleRate(), reader.AudioChannels());
    writer.SetHasVideo(true);
    writer.SetHasAudio(reader.HasAudio());
    writer.SetAviVideo(reader.FrameWidth(), reader.FrameHeight(), reader.FrameRate());
    writer.SetAudioPCM(reader.AudioSampleRate(), 2, 16);
    writer.SetMpegVideo(out.mpegVersion, mpegKbps, reader.FrameWidth(), reader.FrameHeight(), reader.FrameRate());
    writer.SetMpegAudio(224, reader.AudioSampleRate(), 2);
    writer.SetWmvProfile(writer.WmvProfileCount());
    const QString path = outputPath(name + "." + out.ext);
    writer.CreateFile(path, out.container);
    bool videoDone = false, audioDone = !reader.HasAudio();
    while (!videoDone || !audioDone) {
        if (!videoDone && (audioDone || reader.VideoTime() <= reader.AudioTime())) {
            const FrameData frame = reader.ReadVideoFrame();
            videoDone = frame.isEmpty();
            if (!videoDone) writer.WriteVideoFrame(frame);
        } else {
            const AudioChunk chunk = reader.ReadAudio(2304);
            audioDone = chunk.empty();
            if (!audioDone) writer.WriteAudio(chunk);
        }
    }
    writer.CloseFile();
    return path;
}

const Output kAvi{kContainerAvi, 0, "avi"}, kMpeg1{kContainerMpeg, 1, "mpg"}, kMpeg2{kContainerMpeg, 2, "mpg"},
    kWmv{kContainerWmv, 0, "wmv"};

}  // namespace

TEST(WriterGeometryRules, MpegAspectCodesAndWidths) {
    // MPEG-2 states 4:3 and 16:9 by code; other shapes get square pixels and a matching width.
    EXPECT_EQ(mpegShape(2, {720, 576}, 4.0 / 3).width, 720);
    EXPECT_EQ(av_cmp_q(mpegShape(2, {720, 576}, 16.0 / 9).sampleAspect, AVRational{64, 45}), 0);
    const MpegShape portrait = mpegShape(2, {360, 640}, 360.0 / 640);
    EXPECT_EQ(portrait.width, 360);
    EXPECT_EQ(av_cmp_q(portrait.sampleAspect, AVRational{1, 1}), 0);
    EXPECT_EQ(mpegShape(2, {720, 576}, 2.0).width, 1152);
    // MPEG-1's pixel codes have 16:9 PAL exactly; 4:3 PAL needs the 625-line code and 704 columns.
    EXPECT_EQ(mpegShape(1, {720, 576}, 16.0 / 9).width, 720);
    EXPECT_EQ(mpegShape(1, {720, 576}, 4.0 / 3).width, 704);
    EXPECT_EQ(mpegShape(1, {352, 288}, 352.0 / 288).width, 352);

    EXPECT_TRUE(isVideoCdShape({352, 288}, {25, 1}, 1150, true, 224, 2, 44100));
    EXPECT_TRUE(isVideoCdShape({352, 240}, {30000, 1001}, 1150, false, 0, 0, 0));
    EXPECT_FALSE(isVideoCdShape({352, 240}, {25, 1}, 1150, true, 224, 2, 44100));
    EXPECT_FALSE(isVideoCdShape({352, 288}, {25, 1}, 2000, true, 224, 2, 44100));
    EXPECT_FALSE(isVideoCdShape({352, 288}, {25, 1}, 1150, true, 192, 2, 44100));
}

TEST(WriterGeometry, EveryOutputShowsTheSourcesDisplayAspect) {
    struct Source {
        clips::Clip clip;
        double aspect;
    };
    for (const Source& source : {Source{geometry::dvClip(), 4.0 / 3}, Source{geometry::anamorphicClip(), 16.0 / 9}}) {
        for (const Output& out : {kAvi, kMpeg1, kMpeg2, kWmv}) {
            const QString name = QStringLiteral("aspect-%1-%2%3").arg(source.clip.name, out.ext).arg(out.mpegVersion);
            SCOPED_TRACE(name.toStdString());
            const QString path = writeFrom(source.clip, out, name);
            const geometry::PictureFacts facts = geometry::pictureFacts(path);
            EXPECT_NEAR(facts.displayAspect / source.aspect, 1.0, 0.01) << facts.width << "x" << facts.height;
            EXPECT_EQ(clips::decodeFrameNumbers(path), countUp(source.clip.frames));
        }
    }
}

TEST(WriterGeometry, InterlacedSourcesStayInterlacedInTheirFieldOrder) {
    // DV is bottom field first, the broadcast clip top field first.
    for (const auto& [clip, topFirst] :
         {std::pair{geometry::dvClip(), false}, std::pair{geometry::broadcastClip(), true}}) {
        SCOPED_TRACE(clip.name.toStdString());
        const geometry::PictureFacts mpeg2 = geometry::pictureFacts(writeFrom(clip, kMpeg2, "fields-" + clip.name));
        EXPECT_TRUE(mpeg2.interlaced);
        EXPECT_EQ(mpeg2.topFieldFirst, topFirst);
        // MPEG-4 Part 2 in AVI codes the fields too.
        const geometry::PictureFacts avi = geometry::pictureFacts(writeFrom(clip, kAvi, "fields-" + clip.name));
        EXPECT_TRUE(avi.interlaced);
        EXPECT_EQ(avi.topFieldFirst, topFirst);
    }
    // A progressive source stays progressive.
    EXPECT_FALSE(
        geometry::pictureFacts(writeFrom(geometry::anamorphicClip(), kMpeg2, "fields-progressive")).interlaced);
}

TEST(WriterGeometry, DiscAuthoringToolsTakeTheMpegFiles) {
    const QString work = clips::clipsFolder() + "/authoring";
    QDir(work).removeRecursively();
    QDir().mkpath(work);
    // Video CD: PAL from an ffmpeg clip, NTSC from GStreamer's MP4 muxer.
    const clips::Clip pal = clips::make("vcd_pal_source", "avi", 352, 288, 25, 50, true,
                                        {"-c:v", "mpeg4", "-q:v", "3", "-c:a", "pcm_s16le"});
    const clips::Clip ntsc = geometry::gstreamerClip("vcd_ntsc_source", "mp4", 352, 240, "30000/1001", 60, "1/1",
                                                     "x264enc speed-preset=veryfast ! mp4mux");
    for (const clips::Clip& clip : {pal, ntsc}) {
        SCOPED_TRACE(clip.name.toStdString());
        const QString mpeg = writeFrom(clip, kMpeg1, "vcd-" + clip.name, 1150);
        const QString xml = work + "/" + clip.name + ".xml";
        ASSERT_EQ(clips::run("vcdxgen", {"-t", "vcd2", "-o", xml, mpeg}), 0);
        QByteArray log;
        EXPECT_EQ(clips::run("vcdxbuild",
                             {"--cue-file=" + work + "/" + clip.name + ".cue",
                              "--bin-file=" + work + "/" + clip.name + ".bin", xml},
                             &log),
                  0)
            << log.constData();
        EXPECT_EQ(clips::decodeFrameNumbers(mpeg), countUp(clip.frames));
    }
    // DVD: dvdauthor takes the MPEG-2 of the interlaced 4:3 DV clip.
    qputenv("VIDEO_FORMAT", "PAL");
    const QString dvd = writeFrom(geometry::dvClip(), kMpeg2, "dvd-dv");
    QByteArray log;
    EXPECT_EQ(clips::run("dvdauthor", {"-o", work + "/dvd", "-t", dvd}, &log), 0);
    EXPECT_EQ(clips::run("dvdauthor", {"-o", work + "/dvd", "-T"}, &log), 0);
    EXPECT_TRUE(QFileInfo::exists(work + "/dvd/VIDEO_TS/VTS_01_1.VOB"));
}
