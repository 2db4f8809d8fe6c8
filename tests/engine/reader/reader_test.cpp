#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <climits>
#include <cmath>

#include "engine/reader/FfmpegReader.h"
#include "engine/reader/PacketCursor.h"
#include "support/Clips.h"

namespace {

const QStringList& allVideoClips() {
    static const QStringList names = clips::videoClipNames() + QStringList{"avi_noaudio", "oneframe", "long_mpeg4"};
    return names;
}

struct Opened {
    clips::Clip clip;
    std::unique_ptr<FfmpegReader> reader;
};

Opened open(const QString& name) {
    Opened o{clips::get(name), std::make_unique<FfmpegReader>()};
    o.reader->OpenFile(o.clip.path);
    return o;
}

// Length of the file's audio as the ffmpeg tool decodes it.
double decodedAudioMs(const QString& path, int sampleRate) {
    QByteArray pcm;
    clips::run("ffmpeg", {"-nostdin", "-v", "error", "-i", path, "-map", "0:a:0", "-ac", "2", "-f", "s16le", "-"},
               &pcm);
    return pcm.size() / 4.0 / sampleRate * 1000;
}

int readNumber(VideoSource& reader) { return clips::frameNumberOf(reader.ReadVideoFrame()); }

// A copy of the first part of a file, as a download that stopped would leave it.
QString truncatedCopy(const QString& path, double fraction) {
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) return {};
    const QByteArray head = in.read(static_cast<qint64>(in.size() * fraction));
    const QString out = clips::clipsFolder() + "/truncated-" + QFileInfo(path).fileName();
    QFile file(out);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return {};
    file.write(head);
    return out;
}

QString writeFile(const QString& name, const QByteArray& content) {
    const QString path = clips::clipsFolder() + "/" + name;
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(content);
    return path;
}

// Reads all remaining audio in chunks of `bytes`; returns the samples (interleaved).
std::vector<int16_t> readAllAudio(VideoSource& reader, int32_t bytes, size_t* largestChunk = nullptr) {
    std::vector<int16_t> all;
    for (int guard = 0; guard < 100000; ++guard) {
        const AudioChunk chunk = reader.ReadAudio(bytes);
        if (chunk.empty()) break;
        if (largestChunk) *largestChunk = std::max(*largestChunk, chunk.size());
        all.insert(all.end(), chunk.begin(), chunk.end());
    }
    return all;
}

TEST(FfmpegReader, DescribesEveryClipAsFfprobeCountsIt) {
    for (const QString& name : allVideoClips()) {
        SCOPED_TRACE(name.toStdString());
        auto [clip, reader] = open(name);
        EXPECT_TRUE(reader->HasVideo());
        EXPECT_EQ(reader->HasAudio(), clip.audio);
        EXPECT_EQ(reader->FrameCount(), clips::probeFrameCount(clip.path));
        EXPECT_EQ(reader->FrameCount(), clip.frames);
        EXPECT_EQ(reader->FrameWidth(), clip.width);
        EXPECT_EQ(reader->FrameHeight(), clip.height);
        EXPECT_NEAR(reader->FrameRate(), clip.fps, 0.01);
        EXPECT_NEAR(reader->VideoDuration(), clip.frames * 1000.0 / clip.fps, 2);
        EXPECT_FALSE(reader->VideoCodecName().isEmpty());
        EXPECT_GT(reader->VideoBitRate(), 0);
        EXPECT_EQ(reader->CurrentFrame(), 0);
        EXPECT_EQ(reader->VideoTime(), 0);
        EXPECT_EQ(reader->AudioTime(), 0);
        EXPECT_EQ(reader->AudioSampleSize(), 16);
        if (clip.audio) {
            EXPECT_EQ(reader->AudioSampleRate(), clip.sampleRate);
            EXPECT_EQ(reader->AudioChannels(), clip.channels);
            EXPECT_FALSE(reader->AudioCodecName().isEmpty());
            EXPECT_GT(reader->AudioBitRate(), 0);
            // Within one codec frame: decoders may place their first samples a frame late.
            EXPECT_NEAR(reader->AudioDuration(), decodedAudioMs(clip.path, clip.sampleRate), 50);
        }
    }
}

TEST(FfmpegReader, CodecNamesAreFfmpegsLongNames) {
    auto [clip, reader] = open("mp4_h264_aac");
    EXPECT_EQ(reader->VideoCodecName(), "H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10");
    EXPECT_EQ(reader->AudioCodecName(), "AAC (Advanced Audio Coding)");
}

TEST(FfmpegReader, SequentialReadGivesEveryFrameThenEmpty) {
    for (const QString& name : allVideoClips()) {
        SCOPED_TRACE(name.toStdString());
        auto [clip, reader] = open(name);
        const int count = reader->FrameCount();
        int previousTime = -1;
        for (int n = 1; n <= count; ++n) {
            const int time = reader->VideoTime();
            EXPECT_GT(time, previousTime) << "frame " << n;
            previousTime = time;
            const FrameData frame = reader->ReadVideoFrame();
            ASSERT_FALSE(frame.isEmpty()) << "frame " << n;
            ASSERT_EQ(clips::frameNumberOf(frame), n);
            ASSERT_EQ(reader->CurrentFrame(), n);
        }
        EXPECT_EQ(reader->CurrentFrame(), count);
        EXPECT_EQ(reader->VideoTime(), reader->VideoDuration());
        EXPECT_TRUE(reader->ReadVideoFrame().isEmpty());
        EXPECT_TRUE(reader->ReadVideoFrame().isEmpty());
        EXPECT_EQ(reader->CurrentFrame(), count);
    }
}

TEST(FfmpegReader, SeekFrameLandsExactlyForwardsAndBackwards) {
    QRandomGenerator random(1234);
    for (const QString& name : allVideoClips()) {
        SCOPED_TRACE(name.toStdString());
        auto [clip, reader] = open(name);
        const int count = reader->FrameCount();
        QList<int> targets{1, count, (count + 1) / 2, 2, count - 1};
        for (int i = 0; i < 6; ++i) targets << 1 + random.bounded(count);
        QList<int> ascending = targets;
        std::sort(ascending.begin(), ascending.end());
        QList<int> descending(ascending.rbegin(), ascending.rend());
        for (const QList<int>& order : {targets, ascending, descending}) {
            for (int n : order) {
                n = std::clamp(n, 1, count);
                reader->SeekFrame(n);
                EXPECT_EQ(reader->CurrentFrame(), n - 1);
                const int expectedTime = static_cast<int>(std::lround((n - 1) * 1000.0 / clip.fps));
                EXPECT_NEAR(reader->VideoTime(), expectedTime, 1) << "frame " << n;
                ASSERT_EQ(readNumber(*reader), n) << "after SeekFrame(" << n << ")";
                EXPECT_EQ(reader->CurrentFrame(), n);
            }
        }
    }
}

TEST(FfmpegReader, SteppingBackFromTheEndGivesEveryFrameWithoutDecodingAGopPerStep) {
    for (const QString& name : clips::videoClipNames() + QStringList{"long_mpeg4"}) {
        SCOPED_TRACE(name.toStdString());
        auto [clip, reader] = open(name);
        const int count = reader->FrameCount();
        reader->SeekFrame(count);
        ASSERT_EQ(readNumber(*reader), count);
        const int restartsBefore = reader->stats().decoderRestarts;
        for (int n = count - 1; n >= 1; --n) {
            reader->SeekFrame(n);
            ASSERT_EQ(readNumber(*reader), n);
        }
        // Each GOP is decoded about once (open GOPs may need the one before as well).
        EXPECT_LE(reader->stats().decoderRestarts - restartsBefore, 2 * reader->keyframeCount() + 2);
    }
}

TEST(FfmpegReader, SmallFrameCacheStillStepsBackCorrectlyAndCheaply) {
    auto [clip, reader] = open("long_mpeg4");
    // Room for about eight 320x240 pictures (with the decoder's padding): the cache must give
    // way inside each GOP.
    reader->setFrameCacheBytes(8 * 150000);
    const int count = reader->FrameCount();
    reader->SeekFrame(count);
    ASSERT_EQ(readNumber(*reader), count);
    for (int n = count - 1; n >= 1; --n) {
        reader->SeekFrame(n);
        ASSERT_EQ(readNumber(*reader), n);
    }
    // About one restart per eight steps back, not one per step.
    EXPECT_LT(reader->stats().decoderRestarts, count / 4);
}

TEST(FfmpegReader, ReadingOnAfterASeekContinuesInOrder) {
    auto [clip, reader] = open("mp4_h264_aac");
    reader->SeekFrame(22);  // a leading picture of an open GOP
    for (int n = 22; n <= 60; ++n) ASSERT_EQ(readNumber(*reader), n);
    reader->SeekFrame(61);  // the frame that comes next anyway: no seek
    const int restarts = reader->stats().decoderRestarts;
    EXPECT_EQ(readNumber(*reader), 61);
    EXPECT_EQ(reader->stats().decoderRestarts, restarts);
    // A released decoder goes; the frame on show comes back without decoding, the next exactly.
    reader->ReleaseDecoder();
    EXPECT_EQ(reader->decoderThreads(), 0);
    reader->SeekFrame(61);
    EXPECT_EQ(readNumber(*reader), 61);
    EXPECT_EQ(reader->stats().framesDecoded, 0);
    EXPECT_EQ(readNumber(*reader), 62);
}

TEST(FfmpegReader, SeekTimeGoesToTheFrameShowingThenAndAudioToTheExactTime) {
    auto [clip, reader] = open("mp4_h264_aac");  // 30 fps: frame k starts at (k-1) * 33.3 ms
    reader->SeekTime(1000);
    EXPECT_EQ(reader->CurrentFrame(), 30);
    EXPECT_EQ(reader->VideoTime(), 1000);
    EXPECT_EQ(reader->AudioTime(), 1000);
    EXPECT_EQ(readNumber(*reader), 31);

    reader->SeekTime(1020);
    EXPECT_EQ(reader->CurrentFrame(), 30);
    EXPECT_EQ(reader->VideoTime(), 1000);
    EXPECT_EQ(reader->AudioTime(), 1020);
    EXPECT_EQ(readNumber(*reader), 31);

    reader->SeekTime(0);
    EXPECT_EQ(readNumber(*reader), 1);
    reader->SeekTime(-50);
    EXPECT_EQ(reader->CurrentFrame(), 0);
    EXPECT_EQ(reader->AudioTime(), 0);

    reader->SeekTime(reader->VideoDuration() - 1);
    EXPECT_EQ(readNumber(*reader), reader->FrameCount());
    reader->SeekTime(reader->VideoDuration());
    EXPECT_EQ(reader->CurrentFrame(), reader->FrameCount());
    EXPECT_TRUE(reader->ReadVideoFrame().isEmpty());

    // SeekFrame puts audio at the frame's start.
    reader->SeekFrame(46);
    EXPECT_EQ(reader->AudioTime(), 1500);
    EXPECT_EQ(reader->VideoTime(), 1500);
}

TEST(FfmpegReader, AudioFromASeekPointAddsUpToTheSourceFromThere) {
    for (const QString& name : clips::videoClipNames() + QStringList{"long_mpeg4"}) {
        SCOPED_TRACE(name.toStdString());
        auto [clip, reader] = open(name);
        const int channels = reader->AudioChannels();
        const double rate = reader->AudioSampleRate();
        size_t largest = 0;
        const std::vector<int16_t> whole = readAllAudio(*reader, 2304, &largest);
        const double wholeFrames = double(whole.size()) / channels;
        // The end agrees with AudioDuration to within a codec frame (see above).
        EXPECT_NEAR(wholeFrames, reader->AudioDuration() / 1000.0 * rate, rate * 0.05);
        EXPECT_NEAR(reader->AudioTime(), reader->AudioDuration(), 50);
        EXPECT_NEAR(reader->AudioTime(), wholeFrames * 1000 / rate, 1);
        EXPECT_TRUE(reader->ReadAudio(2304).empty());

        const int frame = 1 + 3 * (clip.frames / 6);  // starts on a whole millisecond at 25 and 30 fps
        reader->SeekFrame(frame);
        const int seekMs = reader->VideoTime();
        EXPECT_EQ(reader->AudioTime(), seekMs);
        const std::vector<int16_t> rest = readAllAudio(*reader, 0, &largest);
        const int64_t skipped = std::llround(seekMs / 1000.0 * rate);
        EXPECT_NEAR(double(rest.size()) / channels, wholeFrames - skipped, largest / channels + 2);

        // The samples after the seek are the ones a read from the start had there. Containers
        // that stamp audio in whole milliseconds place it to within half a millisecond.
        const bool millisecondStamps = name.startsWith("mkv") || name.startsWith("webm") || name.startsWith("wmv");
        const int allowedLag = millisecondStamps ? static_cast<int>(rate / 2000) + 1 : 1;
        const int compare = std::min<int>(4096, static_cast<int>(rest.size() / channels) - allowedLag);
        int bestLag = 0, bestWorst = INT_MAX;
        for (int lag = -allowedLag; lag <= allowedLag; ++lag) {
            int worst = 0;
            for (int i = allowedLag; i < compare; ++i)
                for (int c = 0; c < channels; ++c)
                    worst =
                        std::max(worst, std::abs(whole[(skipped + i + lag) * channels + c] - rest[i * channels + c]));
            if (worst < bestWorst) bestWorst = worst, bestLag = lag;
        }
        const bool lossless = name == "avi_mjpeg_pcm" || name == "long_mpeg4";
        EXPECT_LE(bestWorst, lossless ? 0 : 16) << "largest sample difference after the seek, at lag " << bestLag;
    }
}

TEST(FfmpegReader, AudioChunkSizesFollowTheRequest) {
    auto [clip, reader] = open("mkv_mpeg4_vorbis");
    const AudioChunk block = reader->ReadAudio(2304);
    EXPECT_EQ(block.size(), 1152u);  // 16-bit samples: 576 stereo sample frames
    const AudioChunk odd = reader->ReadAudio(1001);
    EXPECT_EQ(odd.size(), 500u);  // whole sample frames only
    EXPECT_EQ(reader->AudioTime(), std::lround(826 * 1000.0 / 44100));
    const AudioChunk chunk = reader->ReadAudio(0);
    EXPECT_FALSE(chunk.empty());
    EXPECT_EQ(reader->AudioTime(), std::lround((826 + chunk.size() / 2) * 1000.0 / 44100));
}

TEST(FfmpegReader, AudioThatStartsLateIsPrecededBySilence) {
    // Matroska's audio is measured packet by packet while the file is indexed; MP4's comes
    // from the sample table and the packets at its two ends.
    const clips::Clip clipsWithLateAudio[] = {
        clips::make("late_audio", "mkv", 320, 240, 25, 50, true,
                    {"-c:v", "mpeg4", "-q:v", "3", "-c:a", "pcm_s16le", "-af", "asetpts=PTS+0.5/TB"}),
        clips::make("late_audio", "mp4", 320, 240, 25, 100, true,
                    {"-c:v", "libx264", "-c:a", "aac", "-af", "asetpts=PTS+0.5/TB"}),
    };
    for (const clips::Clip& clip : clipsWithLateAudio) {
        SCOPED_TRACE(clip.path.toStdString());
        FfmpegReader reader;
        reader.OpenFile(clip.path);
        ASSERT_TRUE(reader.HasAudio());
        const int rate = reader.AudioSampleRate(), channels = reader.AudioChannels();
        EXPECT_NEAR(reader.AudioDuration(), 500 + decodedAudioMs(clip.path, rate), 50);
        const double probedKbps = clips::probe(clip.path)["streams"][1]["bit_rate"].toString().toDouble() / 1000;
        EXPECT_NEAR(reader.AudioBitRate(), probedKbps, probedKbps * 0.05);
        const std::vector<int16_t> samples = readAllAudio(reader, 4096);
        const size_t silence = static_cast<size_t>(rate / 2) * channels;
        // AAC's first packet starts one codec frame early with the encoder's run-in.
        const size_t runIn = clip.path.endsWith(".mp4") ? 1024 * channels : channels;
        ASSERT_GT(samples.size(), silence + 1000);
        EXPECT_TRUE(std::all_of(samples.begin(), samples.begin() + silence - runIn, [](int16_t s) { return s == 0; }));
        EXPECT_TRUE(
            std::any_of(samples.begin() + silence, samples.begin() + silence + 200, [](int16_t s) { return s != 0; }));
    }
}

TEST(FfmpegReader, ASourceRenamedAfterOpeningStaysReadable) {
    // Sound is demuxed only once it is first read; the file must still be the one opened.
    const clips::Clip clip = clips::get("mp4_h264_aac");
    FfmpegReader original;
    original.OpenFile(clip.path);
    const std::vector<int16_t> expected = readAllAudio(original, 4096);
    QTemporaryDir dir;
    const QString copy = dir.path() + "/source.mp4";
    ASSERT_TRUE(QFile::copy(clip.path, copy));
    FfmpegReader reader;
    reader.OpenFile(copy);
    ASSERT_TRUE(QFile::rename(copy, dir.path() + "/moved.mp4"));
    EXPECT_EQ(readAllAudio(reader, 4096), expected);
    reader.SeekFrame(clip.frames / 2);
    EXPECT_EQ(readNumber(reader), clip.frames / 2);
}

TEST(FfmpegReader, FileWithoutAudioReportsAPlayableFormatAndNoSamples) {
    auto [clip, reader] = open("avi_noaudio");
    EXPECT_FALSE(reader->HasAudio());
    EXPECT_EQ(reader->AudioSampleRate(), 44100);
    EXPECT_EQ(reader->AudioChannels(), 2);
    EXPECT_EQ(reader->AudioDuration(), 0);
    EXPECT_TRUE(reader->ReadAudio(2304).empty());
    EXPECT_TRUE(reader->ReadAudio(0).empty());
    reader->SeekFrame(11);
    EXPECT_EQ(reader->AudioTime(), 400);
}

TEST(FfmpegReader, OneFrameClip) {
    auto [clip, reader] = open("oneframe");
    EXPECT_EQ(reader->FrameCount(), 1);
    EXPECT_EQ(reader->VideoDuration(), 40);
    EXPECT_EQ(readNumber(*reader), 1);
    EXPECT_EQ(reader->CurrentFrame(), 1);
    EXPECT_TRUE(reader->ReadVideoFrame().isEmpty());
    reader->SeekFrame(1);
    EXPECT_EQ(readNumber(*reader), 1);
    reader->SeekFrame(5);  // beyond the end: at the end
    EXPECT_EQ(reader->CurrentFrame(), 1);
    EXPECT_TRUE(reader->ReadVideoFrame().isEmpty());
    reader->SeekFrame(0);  // before the start: the first frame
    EXPECT_EQ(readNumber(*reader), 1);
}

TEST(FfmpegReader, SkipFramesIsOnlyAHint) {
    auto [clip, reader] = open("long_mpeg4");
    reader->SeekFrame(100);
    reader->SkipFrames(3);
    for (int n = 100; n < 103; ++n) EXPECT_FALSE(reader->ReadVideoFrame().isEmpty());
    EXPECT_EQ(readNumber(*reader), 103);
    reader->SkipFrames(-7);
    reader->SkipFrames(1 << 30);
    EXPECT_EQ(readNumber(*reader), 104);
}

TEST(FfmpegReader, AudioOnlyFileOpensWithoutVideo) {
    const clips::Clip clip = clips::get("audio_only");
    FfmpegReader reader;
    reader.OpenFile(clip.path);
    EXPECT_FALSE(reader.HasVideo());
    EXPECT_TRUE(reader.HasAudio());
    EXPECT_EQ(reader.FrameCount(), 0);
    EXPECT_EQ(reader.AudioSampleRate(), 44100);
    EXPECT_NEAR(reader.AudioDuration(), 2000, 2);
    EXPECT_TRUE(reader.ReadVideoFrame().isEmpty());
    EXPECT_THROW(reader.SeekFrame(1), MediaError);
    reader.SeekTime(1500);
    EXPECT_EQ(reader.AudioTime(), 1500);
    const std::vector<int16_t> rest = readAllAudio(reader, 8192);
    EXPECT_NEAR(rest.size() / 2.0, 0.5 * 44100, 1);
}

void expectFailure(FfmpegReader& reader, const QString& path, const QString& phrase) {
    try {
        reader.OpenFile(path);
        ADD_FAILURE() << "opened " << path.toStdString();
    } catch (const MediaError& e) {
        EXPECT_TRUE(e.description().contains(phrase)) << e.description().toStdString();
        EXPECT_TRUE(e.description().contains(path)) << e.description().toStdString();
    }
    EXPECT_FALSE(reader.HasVideo());
    EXPECT_FALSE(reader.HasAudio());
    // The same object opens the next file as if nothing had happened.
    const clips::Clip good = clips::get("avi_mjpeg_pcm");
    reader.OpenFile(good.path);
    EXPECT_EQ(reader.FrameCount(), good.frames);
    EXPECT_EQ(readNumber(reader), 1);
    EXPECT_FALSE(reader.ReadAudio(0).empty());
    reader.CloseFile();
}

TEST(FfmpegReader, BadFilesGiveClearErrorsAndTheReaderStaysUsable) {
    FfmpegReader reader;
    expectFailure(reader, clips::clipsFolder() + "/no-such-file.avi", "File not found");
    expectFailure(reader, writeFile("empty.avi", {}), "the file is empty");
    expectFailure(reader, writeFile("text.avi", QByteArray("This is a shopping list, not a film.\n").repeated(50)),
                  "Not a video file");
    expectFailure(reader, clips::clipsFolder(), "not a regular file");
    expectFailure(reader, truncatedCopy(clips::get("mp4_h264_aac").path, 0.3), "Not a video file");
    expectFailure(reader, truncatedCopy(clips::get("avi_mjpeg_pcm").path, 0.3), "truncated");
}

TEST(FfmpegReader, ClosedReaderRefusesWithAMessage) {
    FfmpegReader reader;
    EXPECT_FALSE(reader.HasVideo());
    EXPECT_NO_THROW(reader.CloseFile());
    try {
        reader.FrameCount();
        ADD_FAILURE() << "FrameCount answered without a file";
    } catch (const MediaError& e) {
        EXPECT_EQ(e.description(), "No video file is open");
    }
    reader.OpenFile(clips::get("avi_noaudio").path);
    reader.CloseFile();
    EXPECT_FALSE(reader.HasVideo());
    EXPECT_THROW(reader.ReadVideoFrame(), MediaError);
    EXPECT_THROW(reader.ReadAudio(0), MediaError);
    EXPECT_THROW(reader.SeekFrame(1), MediaError);
    EXPECT_THROW(reader.VideoTime(), MediaError);
}

TEST(FfmpegReader, FactoryGivesAWorkingReader) {
    std::unique_ptr<VideoSource> reader = createVideoFileReader();
    reader->OpenFile(clips::get("ts_h264_mp2").path);
    EXPECT_EQ(reader->FrameCount(), 100);
    reader->SeekFrame(50);
    EXPECT_EQ(readNumber(*reader), 50);
}

}  // namespace

TEST(FfmpegReader, OpenReportsItsProgressAndStopsWhenAsked) {
    const clips::Clip clip = clips::get("avi_mjpeg_pcm");
    FfmpegReader reader;
    QList<int> seen;
    reader.SetOpenProgress([&](int percent) {
        seen << percent;
        return true;
    });
    reader.OpenFile(clip.path);
    ASSERT_FALSE(seen.isEmpty());
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_GT(seen.last(), 0);
    EXPECT_LE(seen.last(), 100);
    reader.SetOpenProgress([](int) { return false; });
    EXPECT_THROW(reader.OpenFile(clip.path), MediaError);
    EXPECT_FALSE(reader.HasVideo());
    reader.SetOpenProgress({});
    reader.OpenFile(clip.path);
    EXPECT_EQ(reader.FrameCount(), clip.frames);
}

TEST(FfmpegReader, AJumpKeepsOnlyTheFramesJustBeforeItsTarget) {
    const clips::Clip clip = clips::get("long_mpeg4");
    FfmpegReader reader;
    reader.OpenFile(clip.path);
    const int target = clip.frames - 5;
    reader.SeekFrame(target);
    const FrameData shown = reader.ReadVideoFrame();
    ASSERT_EQ(clips::frameNumberOf(shown), target);
    // 44 frames after its keyframe (groups of 50): at most the target and the frames kept before it,
    // with room for the decoder's padding.
    const int64_t oneFrame = int64_t(clip.width) * clip.height * 3 / 2;
    EXPECT_LE(reader.frameCacheBytesInUse(), (FfmpegReader::kFramesKeptBeforeJump + 1) * 2 * oneFrame);
    // Stepping back past them decodes the group once and keeps it: every frame comes right.
    for (int n = target - 1; n > target - 20; --n) {
        reader.SeekFrame(n);
        ASSERT_EQ(readNumber(reader), n);
    }
    EXPECT_GT(reader.frameCacheBytesInUse(), 10 * oneFrame);
}

// The lossless cut's copy hands on the sound it reads: from a seek on, every sound packet the
// file holds from there to its end, once, whole and in order, as FFmpeg reads them; nothing of
// a stream not asked for, and nothing once the cursor seeks again.
TEST(PacketCursor, HandsOnEverySoundPacketAfterItsSeekOnceInOrder) {
    for (const QString name : {"ts_h264_mp2", "mpeg2_ps", "mp4_h264_aac", "mkv_mpeg4_vorbis", "avi_mjpeg_pcm"}) {
        SCOPED_TRACE(name.toStdString());
        const clips::Clip clip = clips::get(name);
        const std::shared_ptr<const OpenedSource> source = OpenedSource::open(clip.path);
        const int sound = source->audioStream();
        QByteArray probed;
        ASSERT_EQ(clips::run("ffprobe",
                             {"-v", "error", "-select_streams", QString::number(sound), "-show_entries",
                              "packet=pts,size", "-of", "csv=p=0", clip.path},
                             &probed),
                  0);
        QStringList all;  // "pts,size" (ffprobe adds a field for some packets)
        for (const QString& line : QString::fromLatin1(probed).split('\n', Qt::SkipEmptyParts))
            all << line.section(',', 0, 1);
        QStringList handed;
        const auto keep = [&](AVPacket* p) {
            handed << (p->pts == AV_NOPTS_VALUE ? QStringLiteral("N/A") : QString::number(p->pts)) + "," +
                          QString::number(p->size);
        };
        PacketCursor cursor(source);
        const int target = source->index().packetCount() / 2;
        ASSERT_TRUE(cursor.seek(target));
        EXPECT_EQ(cursor.handOn({sound, source->videoStream(), 99}, keep), std::vector<int>{sound});
        ffmpeg::Packet packet = ffmpeg::makePacket();
        EXPECT_EQ(cursor.read(packet.get()), target);
        while (cursor.read(packet.get()) >= 0) {
        }
        ASSERT_FALSE(handed.isEmpty());
        const qsizetype from = all.indexOf(handed.first());
        ASSERT_GT(from, 0);
        EXPECT_EQ(handed, all.mid(from));

        handed.clear();
        ASSERT_TRUE(cursor.seek(target));
        while (cursor.read(packet.get()) >= 0) {
        }
        EXPECT_TRUE(handed.isEmpty());
    }
}
