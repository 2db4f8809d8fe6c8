// The lossless cut at the engine's own interface: it takes an opened source and never opens
// the file again by its name, and it writes through the output layer.
#include <gtest/gtest.h>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QTemporaryDir>
#include <climits>

#include "engine/common/MediaError.h"
#include "engine/remux/LosslessCut.h"
#include "support/BeepClips.h"
#include "support/ClipCopies.h"
#include "support/Clips.h"
#include "support/DecodeChecks.h"
#include "support/ForeignClips.h"

namespace {

QList<int> range(int first, int last) {
    QList<int> r;
    for (int n = first; n <= last; ++n) r << n;
    return r;
}

// Writes the ranges; the failure's description, empty when it was written.
QString cut(LosslessCut& lossless, const QString& out, const std::vector<FrameRange>& ranges) {
    try {
        lossless.begin(out, ranges);
        while (lossless.step()) {
        }
    } catch (const MediaError& e) {
        return e.description();
    }
    return {};
}
QString cut(LosslessCut& lossless, const QString& out, int first, int last) {
    return cut(lossless, out, {{first, last}});
}

// The decode times of the file's video as ffprobe reads them, where they do not rise.
QString decodeTimesNotRising(const QString& path) {
    QByteArray times;
    clips::run("ffprobe",
               {"-v", "error", "-select_streams", "v:0", "-show_entries", "packet=dts", "-of", "csv=p=0", path},
               &times);
    QString faults;
    qint64 last = LLONG_MIN;
    for (const QByteArray& line : times.split('\n')) {
        bool ok = false;
        const qint64 dts = line.trimmed().toLongLong(&ok);
        if (!ok) continue;
        if (dts <= last) faults += QStringLiteral("%1 after %2; ").arg(dts).arg(last);
        last = dts;
    }
    return faults;
}

TEST(LosslessCut, ASourceRenamedAndDeletedAfterItsOpenIsCut) {
    QTemporaryDir dir;
    const QString path = copyClipTo(clips::foreign("gst_x264_mp4").path, dir.filePath("source.mp4"));
    LosslessCut lossless(OpenedSource::open(path));
    ASSERT_TRUE(QFile::rename(path, dir.filePath("renamed.mp4")));
    ASSERT_TRUE(QFile::remove(dir.filePath("renamed.mp4")));
    const QString out = dir.filePath("cut.mp4");
    EXPECT_EQ(cut(lossless, out, 12, 60).toStdString(), "");
    EXPECT_EQ(clips::decodeFrameNumbers(out), range(12, 60));
}

TEST(LosslessCut, SoundTheContainerCannotCarryIsEncodedAgainInStepWithThePicture) {
    QTemporaryDir dir;
    LosslessCut lossless(OpenedSource::open(clips::foreign("webm_vp9_opus").path));  // Opus, which AVI lacks
    const QString out = dir.filePath("cut.avi");
    EXPECT_EQ(cut(lossless, out, 12, 82).toStdString(), "");
    EXPECT_EQ(clips::decodeFrameNumbers(out), range(12, 82));
    const checks::Span sound = checks::soundSpan(out);
    EXPECT_NEAR(sound.start, 0, sound.longest);
    // MP3 in AVI plays the encoder's start-up delay (one frame at most) at the end.
    EXPECT_NEAR(sound.end, 71 / 25.0, 2 * sound.longest);
}

// Copied sound against its picture, per writer and container, in a cut of frames first..last
// of a clip that beeps with frames 1, 26, 51, ...: every beep as far from its picture as in the
// source, and every sound track reaching past the picture by less than one of its frames at
// either end, never short of it. An AVI plays its sound from its first packet on and can only
// move whole frames there: its beeps may move by half a sound frame, and only its end is
// measured (FFmpeg shows its first picture after the codec's delay).
struct SoundCase {
    const char* clip;
    int first, last;
    const char* extension;
    friend void PrintTo(const SoundCase& c, std::ostream* os) { *os << c.clip << " " << c.first << ".." << c.last; }
};

class SoundAgainstPicture : public testing::TestWithParam<SoundCase> {};

TEST_P(SoundAgainstPicture, KeepsEveryBeepWithItsPictureAndCoversThePictureExactly) {
    const SoundCase c = GetParam();
    const clips::Clip source = beeps::clip(c.clip);
    QTemporaryDir dir;
    LosslessCut lossless(OpenedSource::open(source.path));
    const QString out = dir.filePath(QStringLiteral("cut.") + c.extension);
    ASSERT_EQ(cut(lossless, out, c.first, c.last).toStdString(), "");
    EXPECT_EQ(clips::decodeFrameNumbers(out), range(c.first, c.last));
    for (const QString& note : lossless.stats().notes)
        EXPECT_FALSE(note.contains("sound", Qt::CaseInsensitive)) << note.toStdString();

    const bool avi = QByteArray(c.extension) == "avi";
    const double pictureStart = checks::pictureStart(out), pictureEnd = pictureStart + (c.last - c.first + 1) / 25.0;
    const double rangeEndInSource = checks::pictureStart(source.path) + c.last / 25.0;
    int tracks = 0;
    for (const QJsonValue st : clips::probe(source.path)["streams"].toArray())
        tracks += st.toObject()["codec_type"] == "audio";
    for (int track = 0; track < tracks; ++track) {
        const checks::Span sound = checks::soundSpan(out, track);
        // Where the source's own sound ends before the range does, so may the cut's.
        const double shortBy = std::max(0.0, rangeEndInSource - checks::soundSpan(source.path, track).end);
        if (!avi) {
            EXPECT_GE(pictureStart - sound.start, -0.001) << "track " << track;
            EXPECT_LT(pictureStart - sound.start, sound.longest - 0.001) << "track " << track;
        }
        EXPECT_GE(sound.end - pictureEnd, -shortBy - 0.001) << "track " << track;
        EXPECT_LT(sound.end - pictureEnd, sound.longest - 0.001) << "track " << track;
    }
    QMap<int, double> inSource;
    for (const beeps::Beep& b : beeps::beepsAgainstPictures(source.path)) inSource[b.sourceFrame] = b.offsetMs;
    const double tolerance = avi ? checks::soundSpan(out).longest * 500 : 1;
    const QList<beeps::Beep> heard = beeps::beepsAgainstPictures(out);
    int beepFrames = 0;
    for (int n = c.first; n <= c.last; ++n) beepFrames += (n - 1) % 25 == 0;
    EXPECT_EQ(heard.size(), beepFrames);
    for (const beeps::Beep& b : heard)
        EXPECT_NEAR(b.offsetMs, inSource.value(b.sourceFrame), tolerance) << "the beep of frame " << b.sourceFrame;
}

INSTANTIATE_TEST_SUITE_P(Writers, SoundAgainstPicture,
                         testing::Values(SoundCase{"gst_avi_pcm", 31, 77, "avi"}, SoundCase{"dvd_vob", 31, 170, "vob"},
                                         SoundCase{"dvd_vob", 1, 76, "vob"}, SoundCase{"dvd_vob", 77, 300, "vob"},
                                         SoundCase{"mencoder_avi", 31, 170, "avi"},
                                         SoundCase{"divx_avi", 31, 170, "avi"},
                                         SoundCase{"handbrake_m4v", 31, 170, "m4v"},
                                         SoundCase{"bluray_m2ts", 31, 170, "m2ts"}),
                         [](const auto& info) {
                             return std::string(info.param.clip) + "_" + std::to_string(info.param.first) + "_" +
                                    std::to_string(info.param.last);
                         });

// Bytes of the packets that show frames first..last of the file (numbered in display order).
int64_t bytesOfFrames(const QString& path, int first, int last) {
    int64_t bytes = 0;
    for (const checks::Packet& p : checks::videoPackets(path, true))
        if (p.frame >= first && p.frame <= last) bytes += p.data.size();
    return bytes;
}

// The lowest PSNR (dB) of frames 1..count of `out` against frames from..from+count-1 of `source`.
double lowestPsnr(const QString& out, const QString& source, int from, int count, const QString& statsFile) {
    const QString graph = QStringLiteral(
                              "[1:v]trim=start_frame=%1:end_frame=%2,setpts=PTS-STARTPTS[r];"
                              "[0:v]trim=end_frame=%3,setpts=PTS-STARTPTS[o];[o][r]psnr=stats_file=%4")
                              .arg(from - 1)
                              .arg(from - 1 + count)
                              .arg(count)
                              .arg(statsFile);
    if (clips::run("ffmpeg", {"-v", "error", "-i", out, "-i", source, "-lavfi", graph, "-f", "null", "-"}) != 0) return 0;
    QFile stats(statsFile);
    if (!stats.open(QIODevice::ReadOnly)) return 0;
    double lowest = 1000;
    int frames = 0;
    for (const QByteArray& line : stats.readAll().split('\n'))
        if (const int at = line.indexOf("psnr_avg:"); at >= 0) {
            lowest = std::min(lowest, line.mid(at + 9).split(' ').first().toDouble());
            ++frames;
        }
    return frames == count ? lowest : 0;
}

// Edges are encoded near the source's own rate over the same frames and still show its
// pictures closely: a fixed fine quantiser took more than twice its bits on grain, a fixed
// fine H.264 quality half as many again on a source with long groups.
TEST(LosslessCut, EdgesStayNearTheSourcesRateAndPictures) {
    QTemporaryDir dir;
    const struct {
        QString codec, extension;
        int frames;  // the cut is 10..frames, its head up to the second keyframe
        QStringList options;
        double most;  // bytes against the source's for the same frames
    } cases[] = {
        {"mpeg4", "avi", 100, {"-c:v", "mpeg4", "-q:v", "6", "-g", "50"}, 1.5},
        {"mpeg2video", "avi", 100, {"-c:v", "mpeg2video", "-q:v", "6", "-g", "50"}, 1.5},
        {"x264_long",
         "mkv",
         150,
         {"-c:v", "libx264", "-preset", "veryfast", "-crf", "23", "-level", "3.0", "-g", "100", "-sc_threshold", "0"},
         1.25},
    };
    for (const auto& c : cases) {
        const clips::Clip source = clips::make("grain_" + c.codec, c.extension, 352, 288, 25, c.frames, false,
                                               QStringList{"-vf", "noise=alls=12:allf=t", "-bf", "2"} + c.options);
        LosslessCut lossless(OpenedSource::open(source.path));
        const QString out = dir.filePath(c.codec + "." + c.extension);
        ASSERT_EQ(cut(lossless, out, 10, c.frames).toStdString(), "");
        const int head = lossless.stats().firstCopiedFrame - 10;
        ASSERT_GT(head, 30) << c.codec.toStdString();
        const double ratio = double(bytesOfFrames(out, 1, head)) / bytesOfFrames(source.path, 10, 10 + head - 1);
        EXPECT_LE(ratio, c.most) << c.codec.toStdString();
        EXPECT_GE(lowestPsnr(out, source.path, 10, head, dir.filePath(c.codec + ".psnr")), 34) << c.codec.toStdString();
    }
}
// Matroska states a default frame length, which readers take for every frame's, only for a
// source whose frames all last alike (here to the millisecond of its time base).
TEST(LosslessCut, MatroskaStatesADefaultFrameLengthOnlyForEvenFrames) {
    QTemporaryDir dir;
    for (const bool even : {true, false}) {
        QStringList options{"-c:v", "libx264", "-g", "25", "-video_track_timescale", "1000"};
        if (!even)  // frames of 60 and 20 ms by turns
            options << "-vf" << "settb=1/1000,setpts=(N*0.04+mod(N\\,2)*0.02)/TB" << "-fps_mode" << "passthrough"
                    << "-enc_time_base:v" << "1:1000";
        const clips::Clip source = clips::make(even ? "mp4_ms_even" : "mp4_ms_uneven", "mp4", 320, 240, 25, 60,
                                               false, options);
        LosslessCut lossless(OpenedSource::open(source.path));
        const QString out = dir.filePath(even ? "even.mkv" : "uneven.mkv");
        ASSERT_EQ(cut(lossless, out, 12, 50).toStdString(), "");
        EXPECT_EQ(clips::decodeFrameNumbers(out), range(12, 50));
        QByteArray info;
        ASSERT_EQ(clips::run("mkvinfo", {out}, &info), 0);
        EXPECT_EQ(info.contains("Default duration"), even) << info.toStdString();
    }
}

TEST(LosslessCut, KeepsTheSourcesTagsButNotItsWholeStreamStatistics) {
    QTemporaryDir dir;
    const clips::Clip tagged = clips::make(
        "mp4_tagged", "mp4", 320, 240, 25, 50, true,
        {"-c:v", "libx264", "-g", "25", "-c:a", "aac", "-metadata", "title=Holiday", "-metadata", "artist=Ann",
         "-metadata", "comment=first day", "-metadata", "creation_time=2026-07-01T10:00:00Z"});
    const struct {
        QString source;
        QString out;
    } cases[] = {{tagged.path, dir.filePath("tagged.mp4")},
                 {clips::foreign("mkvmerge_h264_ac3").path, dir.filePath("statistics.mkv")}};
    for (const auto& c : cases) {
        LosslessCut lossless(OpenedSource::open(c.source));
        ASSERT_EQ(cut(lossless, c.out, 12, 40).toStdString(), "");
        const QJsonObject probed = clips::probe(c.out);
        const QJsonObject tags = probed["format"].toObject()["tags"].toObject();
        if (c.source == tagged.path) {
            EXPECT_EQ(tags["title"].toString(), "Holiday");
            EXPECT_EQ(tags["artist"].toString(), "Ann");
            EXPECT_EQ(tags["comment"].toString(), "first day");
            EXPECT_TRUE(tags["creation_time"].toString().startsWith("2026-07-01T10:00:00"));
        }
        for (const QJsonValue stream : probed["streams"].toArray())
            EXPECT_FALSE(stream.toObject()["tags"].toObject().contains("NUMBER_OF_FRAMES")) << c.out.toStdString();
    }
}

// "audio aac eng default", one line per stream, to compare an output's streams with its source's.
QStringList streamsOf(const QJsonObject& probed) {
    QStringList streams;
    for (const QJsonValue v : probed["streams"].toArray()) {
        const QJsonObject s = v.toObject();
        streams << QStringLiteral("%1 %2 %3 %4")
                       .arg(s["codec_type"].toString(), s["codec_name"].toString(),
                            s["tags"].toObject()["language"].toString(),
                            s["disposition"].toObject()["default"].toInt() ? "default" : "");
    }
    return streams;
}

// The top-level box of an MP4 file that comes first of `a` and `b`.
QByteArray firstBoxOf(const QString& path, const QByteArray& a, const QByteArray& b) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    for (qint64 at = 0; file.seek(at);) {
        const QByteArray head = file.read(8);
        if (head.size() < 8) return {};
        const QByteArray type = head.mid(4);
        if (type == a || type == b) return type;
        const quint32 size =
            quint32(uchar(head[0])) << 24 | uchar(head[1]) << 16 | uchar(head[2]) << 8 | uchar(head[3]);
        if (size < 8) return {};
        at += size;
    }
    return {};
}

// Frames 12..82 are 0.44 s to 3.28 s of the clips: the cues across the range's ends are shortened.
TEST(LosslessCut, KeepsEveryTrackChapterAndAttachmentTheContainerCarriesAndNamesTheRest) {
    QTemporaryDir dir;
    const QString tracks = clips::foreign("mkvmerge_tracks").path;
    const auto source = OpenedSource::open(tracks);
    EXPECT_EQ(source->audioStream(), 1) << "the first sound track flagged default, not the largest";
    LosslessCut lossless(source);

    const QString mkv = dir.filePath("tracks.mkv");
    ASSERT_EQ(cut(lossless, mkv, 12, 82).toStdString(), "");
    EXPECT_EQ(lossless.stats().notes, QStringList());
    const QJsonObject probed = clips::probe(mkv);
    EXPECT_EQ(streamsOf(probed).join(", ").toStdString(), streamsOf(clips::probe(tracks)).join(", ").toStdString());
    const QJsonObject font = probed["streams"].toArray().last().toObject();
    EXPECT_EQ(font["tags"].toObject()["filename"].toString(), "LiberationSans-Regular.ttf");
    QByteArray chapters, cues;
    clips::run("ffprobe",
               {"-v", "error", "-show_chapters", "-of", "csv=p=0", "-show_entries",
                "chapter=start_time,end_time:chapter_tags=title", mkv},
               &chapters);
    EXPECT_EQ(chapters, "0.000000,1.560000,Opening\n1.560000,2.840000,Middle\n");
    for (const QString& track : QStringList{"s:0", "s:1"}) {
        clips::run("ffprobe",
                   {"-v", "error", "-select_streams", track, "-show_entries", "packet=pts_time,duration_time", "-of",
                    "csv=p=0", mkv},
                   &cues);
        EXPECT_EQ(cues, "0.000000,0.560000\n1.060000,0.500000\n2.760000,0.080000\n") << track.toStdString();
    }

    ASSERT_EQ(cut(lossless, dir.filePath("tracks.mp4"), 12, 82).toStdString(), "");
    // Both sound tracks (the muxer adds a track of its own for the chapters).
    EXPECT_EQ(streamsOf(clips::probe(dir.filePath("tracks.mp4"))).mid(1, 2).join(", ").toStdString(),
              streamsOf(clips::probe(tracks)).mid(1, 2).join(", ").toStdString());
    const QStringList notes = lossless.stats().notes;
    ASSERT_EQ(notes.size(), 3) << notes.join('\n').toStdString();
    EXPECT_TRUE(notes[0].startsWith("Subtitle track 1 (SubRip subtitle, eng) is not kept")) << notes[0].toStdString();
    EXPECT_TRUE(notes[1].startsWith("Subtitle track 2")) << notes[1].toStdString();
    EXPECT_TRUE(notes[2].startsWith("Attachment 1 (TrueType font, LiberationSans-Regular.ttf) is not kept"))
        << notes[2].toStdString();

    ASSERT_EQ(cut(lossless, dir.filePath("tracks.ts"), 12, 82).toStdString(), "");
    EXPECT_TRUE(lossless.stats().notes.contains("The chapters are not kept (an mpegts file holds none)"))
        << lossless.stats().notes.join('\n').toStdString();

    // Cut again, the MP4's chapter track stays one: it is the chapters, which the muxer writes.
    LosslessCut again(OpenedSource::open(dir.filePath("tracks.mp4")));
    ASSERT_EQ(cut(again, dir.filePath("again.mp4"), 5, 30).toStdString(), "");
    EXPECT_EQ(streamsOf(clips::probe(dir.filePath("again.mp4"))).size(), 4);
    EXPECT_EQ(again.stats().notes, QStringList());
}

// A cut from frame 60 (2.36 s) and one from frame 17 (16 frames in).
TEST(LosslessCut, KeepsTheLayoutAndMovesCaptureDateAndTimecodeByTheCutsStart) {
    QTemporaryDir dir;
    LosslessCut faststart(OpenedSource::open(clips::foreign("mp4_text_faststart").path));
    const QString mp4 = dir.filePath("faststart.mp4");
    ASSERT_EQ(cut(faststart, mp4, 60, 82).toStdString(), "");
    EXPECT_EQ(firstBoxOf(mp4, "moov", "mdat"), "moov");
    const QJsonObject probed = clips::probe(mp4);
    const QJsonObject tags = probed["format"].toObject()["tags"].toObject();
    EXPECT_EQ(tags["title"].toString(), "Holiday");
    EXPECT_TRUE(tags["creation_time"].toString().startsWith("2026-07-01T10:00:02"))
        << tags["creation_time"].toString().toStdString();
    EXPECT_TRUE(streamsOf(probed).contains("subtitle mov_text eng default"))
        << streamsOf(probed).join(", ").toStdString();

    LosslessCut prores(OpenedSource::open(clips::foreign("mov_prores_timecode").path));
    const QString mov = dir.filePath("prores.mov");
    ASSERT_EQ(cut(prores, mov, 17, 60).toStdString(), "");
    const QJsonObject video = clips::probe(mov)["streams"].toArray().first().toObject();
    EXPECT_EQ(video["sample_aspect_ratio"].toString(), "4:3");
    EXPECT_EQ(video["tags"].toObject()["timecode"].toString(), "10:00:00:16");
}

// A cut's timecode is the source's at its first picture's time, on a phone's video whose frames
// come at a varying rate (1/30 s to frame 60, 1/15 s after) as on a constant-rate one. An MP4
// or QuickTime file from a QuickTime one keeps its video's time scale, each frame's length (the
// track's length is the span cut) and its make and model.
TEST(LosslessCut, TimecodeIsTheFirstPicturesTimeAtAnyFrameRate) {
    QTemporaryDir dir;
    const struct {
        const char* clip;
        const char* container;
        int first, last;
        const char* timecode;
        // The video track's length, 600 a second; -1 where the rate changes within the frames
        // the codec reorders (the track then ends as far before the last frame does as its
        // pictures are decoded ahead of it); 0 for a track of another time scale.
        int64_t ticks;
    } cases[] = {
        {"mov_vfr_timecode", "mov", 30, 120, "08:30:00:29", -1},    // from 0.967 s
        {"mov_vfr_timecode", "mp4", 91, 120, "08:30:04:00", 1200},  // from 4.0 s
        {"mov_vfr_timecode", "mp4", 45, 75, "08:30:01:14", -1},
        {"mov_prores_timecode", "mov", 17, 60, "10:00:00:16", 0},
    };
    for (const auto& c : cases) {
        LosslessCut lossless(OpenedSource::open(clips::foreign(c.clip).path));
        const QString out = dir.filePath(QStringLiteral("%1-%2.%3").arg(c.clip).arg(c.first).arg(c.container));
        const std::string label = out.toStdString();
        ASSERT_EQ(cut(lossless, out, c.first, c.last).toStdString(), "") << label;
        EXPECT_EQ(clips::decodeFrameNumbers(out), range(c.first, c.last)) << label;
        EXPECT_EQ(decodeTimesNotRising(out).toStdString(), "") << label;
        const QJsonObject probed = clips::probe(out);
        const QJsonArray streams = probed["streams"].toArray();
        const QJsonObject video = streams.first().toObject(), timecode = streams.last().toObject();
        EXPECT_EQ(video["tags"].toObject()["timecode"].toString().toStdString(), c.timecode) << label;
        EXPECT_EQ(timecode["codec_tag_string"].toString().toStdString(), "tmcd") << label;
        EXPECT_EQ(timecode["tags"].toObject()["timecode"].toString().toStdString(), c.timecode) << label;
        if (c.ticks == 0) continue;
        EXPECT_EQ(video["time_base"].toString().toStdString(), "1/600") << label;
        if (c.ticks > 0) {
            EXPECT_EQ(video["duration_ts"].toInteger(), c.ticks) << label;
        }
        const QJsonObject tags = probed["format"].toObject()["tags"].toObject();
        EXPECT_EQ(tags["com.apple.quicktime.make"].toString().toStdString(), "Apple") << label;
        EXPECT_EQ(tags["com.apple.quicktime.model"].toString().toStdString(), "iPhone 12") << label;
    }
}

TEST(LosslessCut, NeverReplacesAFileAndLeavesNoneWhenTheContainerCannotHoldTheVideo) {
    QTemporaryDir dir;
    LosslessCut vp9(OpenedSource::open(clips::foreign("webm_vp9_opus").path));
    const QString mpg = dir.filePath("vp9.mpg");
    const QString why = cut(vp9, mpg, 12, 60);
    EXPECT_TRUE(why.contains("VP9") && why.contains("MPEG")) << why.toStdString();
    EXPECT_FALSE(QFile::exists(mpg));

    const QString existing = writeTextFile(dir.filePath("existing.webm"), "the user's work");
    EXPECT_TRUE(cut(vp9, existing, 12, 60).contains("already exists"));
    QFile file(existing);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "the user's work");
}

// A chosen container that cannot carry the video is refused before any file exists, naming the
// codec and the containers that can carry it.
TEST(LosslessCut, RefusesAContainerThatCannotCarryTheVideo) {
    const clips::Clip prores =
        clips::make("mov_prores", "mov", 320, 240, 25, 30, true, {"-c:v", "prores_ks", "-c:a", "pcm_s16le"});
    const struct {
        QString source;
        const char* container;
        const char* named;  // in the refusal
    } cases[] = {
        {clips::foreign("webm_vp9_opus").path, "ts", "VP9"},
        {clips::foreign("gst_x264_mkv").path, "webm", "H.264"},
        {prores.path, "mp4", "ProRes"},
        // HEVC pieces would be preceded by the source's parameter sets in start-code form.
        {clips::foreign("mp4_hevc10_aac").path, "m2ts", "HEVC"},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        LosslessCut lossless(OpenedSource::open(c.source));
        lossless.setContainer(c.container);
        const QString out = dir.filePath("refused.out");
        const QString why = cut(lossless, out, 12, 25);
        EXPECT_TRUE(why.contains(c.named) && why.contains("mkv")) << c.container << ": " << why.toStdString();
        EXPECT_FALSE(QFile::exists(out)) << c.container;
    }
}

// Sources whose clocks step back (parts recorded apart and joined, a clock that starts again),
// wrap, or give the first packets no decode time (HandBrake's Matroska): each part's frames
// continue the output's time line, in every range and container, as decoders show them.
TEST(LosslessCut, CutsAcrossJoinsAndWrapsContinueTheTimeLine) {
    QTemporaryDir dir;
    const struct {
        const char* clip;
        const char* container;
        std::vector<FrameRange> ranges;  // across the joins after frames 30 and 60, the wrap at 7
    } cases[] = {
        {"ts_joined_x264", "ts", {{12, 50}}},          {"ts_joined_x264", "ts", {{1, 39}}},
        {"ts_joined_x264", "ts", {{40, 90}}},          {"ts_joined_x264", "mkv", {{20, 75}}},
        {"ts_joined_x264", "ts", {{5, 20}, {41, 70}}}, {"ts_wrap_x264", "ts", {{3, 60}}},
        {"handbrake_x264_mkv", "mkv", {{1, 60}}},      {"handbrake_x264_mkv", "mkv", {{1, 55}, {76, 90}}},
        {"handbrake_x264_mkv", "mp4", {{1, 90}}},
    };
    int n = 0;
    for (const auto& c : cases) {
        LosslessCut lossless(OpenedSource::open(clips::foreign(c.clip).path));
        const QString out = dir.filePath(QStringLiteral("%1-%2.%3").arg(c.clip).arg(++n).arg(c.container));
        const std::string label = out.toStdString();
        const QString why = cut(lossless, out, c.ranges);
        EXPECT_EQ(why.toStdString(), "") << label;
        if (!why.isEmpty()) continue;
        QList<int> frames;
        for (const FrameRange& r : c.ranges) frames += range(r.first, r.last);
        EXPECT_EQ(clips::decodeFrameNumbers(out), frames) << label;
        EXPECT_EQ(decodeTimesNotRising(out).toStdString(), "") << label;
        QString problems;
        EXPECT_EQ(checks::gstreamerFrameNumbers(out, &problems), frames) << label << problems.toStdString();
        if (QString(c.clip).startsWith("ts_") && c.ranges.size() == 1) {  // the sound moves with its part's picture
            const checks::Span sound = checks::soundSpan(out);
            const double picture = checks::pictureStart(out);
            EXPECT_NEAR(sound.start, picture, sound.longest) << label;
            EXPECT_NEAR(sound.end, picture + frames.size() / 25.0, sound.longest) << label;
        }
    }
}

// Once, such a source's frames were misplaced by the index and the cut refused; now the second
// part continues the time line.
TEST(LosslessCut, AClockThatStartsAgainContinuesTheTimeLine) {
    // Two transport streams one after the other (100 frames, then 10): the second's clock starts again.
    QTemporaryDir dir;
    const clips::Clip second = clips::make("ts_176_restart", "ts", 176, 144, 25, 10, false,
                                           {"-c:v", "libx264", "-preset", "veryfast", "-f", "mpegts"});
    QByteArray joined;
    for (const QString& part : {clips::get("ts_h264_mp2").path, second.path}) {
        QFile file(part);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        joined += file.readAll();
    }
    LosslessCut lossless(OpenedSource::open(writeTextFile(dir.filePath("restart.ts"), joined)));
    EXPECT_EQ(cut(lossless, dir.filePath("cut.ts"), 96, 110).toStdString(), "");
    EXPECT_EQ(clips::decodeFrameNumbers(dir.filePath("cut.ts")), range(96, 100) + range(1, 10));
}

// A recording that begins inside an open group (transport stream bytes cut at a packet
// boundary): the pictures no decoder shows are not counted, and frames are numbered as FFmpeg
// and GStreamer show them, in the source and in a cut.
TEST(LosslessCut, ARecordingThatBeginsInsideAGroupNumbersTheFramesDecodersShow) {
    QTemporaryDir dir;
    QFile whole(clips::foreign("ts_x264_opengop").path);
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    const QByteArray bytes = whole.readAll();
    const QString path = writeTextFile(dir.filePath("capture.ts"), bytes.mid(bytes.size() / 5 / 188 * 188));
    const QList<int> shown = clips::decodeFrameNumbers(path);
    QString problems;
    EXPECT_EQ(checks::gstreamerFrameNumbers(path, &problems), shown) << problems.toStdString();
    const std::shared_ptr<const OpenedSource> source = OpenedSource::open(path);
    ASSERT_EQ(source->index().frameCount(), shown.size());
    LosslessCut lossless(source);
    const QString out = dir.filePath("cut.ts");
    ASSERT_EQ(cut(lossless, out, 5, int(shown.size()) - 4).toStdString(), "");
    EXPECT_EQ(clips::decodeFrameNumbers(out), shown.mid(4, shown.size() - 8));
    EXPECT_GT(lossless.stats().videoPacketsCopied, 0);
}

// Whether each frame of the file's video is interlaced, as ffprobe decodes it.
QList<bool> interlacedFrames(const QString& path) {
    QByteArray out;
    clips::run(
        "ffprobe",
        {"-v", "error", "-select_streams", "v:0", "-show_entries", "frame=interlaced_frame", "-of", "csv=p=0", path},
        &out);
    QList<bool> flags;
    for (const QByteArray& line : out.split('\n'))
        if (!line.trimmed().isEmpty()) flags << (line.split(',').first().toInt() != 0);
    return flags;
}

// A transport stream whose first 50 frames are progressive and the next 50 interlaced
// (x264's MBAFF), written as two encodes joined by ffmpeg's concat demuxer: its stream
// header tells only of the progressive pictures.
clips::Clip progressiveThenInterlacedTs() {
    const QStringList x264{"-c:v", "libx264", "-preset", "veryfast", "-g", "25", "-bf", "2", "-f", "mpegts"};
    const clips::Clip progressive = clips::make("ts_progressive_part", "ts", 320, 240, 25, 50, false, x264);
    const clips::Clip interlaced = clips::make("ts_mbaff_part", "ts", 320, 240, 25, 50, false,
                                               QStringList{"-vf", "trim=start_frame=50,setpts=PTS-STARTPTS", "-flags",
                                                           "+ildct+ilme", "-x264-params", "tff=1"} +
                                                   x264);
    clips::Clip joined = progressive;
    joined.name = "ts_progressive_then_mbaff";
    joined.path = clips::clipsFolder() + "/ts_progressive_then_mbaff.ts";
    joined.frames = 100;
    clips::makeOnce(joined.path, [&](const QString& partial) {
        const QString list = writeTextFile(
            partial + ".txt", QStringLiteral("file '%1'\nfile '%2'\n").arg(progressive.path, interlaced.path).toUtf8());
        return clips::run("ffmpeg", {"-nostdin", "-v", "error", "-y", "-f", "concat", "-safe", "0", "-i", list, "-c",
                                     "copy", "-f", "mpegts", partial}) == 0;
    });
    return joined;
}

// Frames encoded at the cut points are the marked ones and of the kind the source's are: AV1
// from SVT-AV1 and from libaom (a size above the lowest level, which the encoder must be given
// in its own numbering), and interlaced pictures in a stream that turns interlaced halfway.
TEST(LosslessCut, EncodedEdgesAreTheMarkedFramesOfTheSourcesKind) {
    const struct {
        clips::Clip source;
        int first, last;
    } cases[] = {
        {clips::make("mp4_svtav1", "mp4", 480, 360, 25, 100, false, {"-c:v", "libsvtav1", "-g", "25", "-crf", "30"}),
         12, 82},
        {clips::make("mkv_libaom", "mkv", 480, 360, 25, 100, false,
                     {"-c:v", "libaom-av1", "-cpu-used", "8", "-g", "25", "-crf", "30"}),
         12, 82},
        {progressiveThenInterlacedTs(), 60, 90},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source.name.toStdString());
        QTemporaryDir dir;
        LosslessCut lossless(OpenedSource::open(c.source.path));
        const QString out = dir.filePath("cut." + QFileInfo(c.source.path).suffix());
        const QString why = cut(lossless, out, c.first, c.last);
        EXPECT_EQ(why.toStdString(), "");
        if (!why.isEmpty()) continue;
        EXPECT_GT(lossless.stats().videoPacketsEncoded, 0);
        EXPECT_EQ(clips::decodeFrameNumbers(out), range(c.first, c.last));
        EXPECT_EQ(interlacedFrames(out), interlacedFrames(c.source.path).mid(c.first - 1, c.last - c.first + 1));
    }
}

TEST(LosslessCut, ATruncatedSourceIsRefusedAtItsOpenAsTheReaderRefusesIt) {
    QTemporaryDir dir;
    QFile whole(clips::get("avi_mjpeg_pcm").path);
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    const QString path = writeTextFile(dir.filePath("truncated.avi"), whole.read(whole.size() * 3 / 10));
    try {
        OpenedSource::open(path);
        ADD_FAILURE() << "a truncated source opened";
    } catch (const MediaError& e) {
        EXPECT_TRUE(e.description().contains("truncated")) << e.description().toStdString();
    }
}

}  // namespace
