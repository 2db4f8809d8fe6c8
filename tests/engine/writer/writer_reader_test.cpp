// Round trips through the engine's real reader: the writer is set up from the reader's facts as
// the window does, fed by the jobs' copy loop (video when its time is not ahead of the audio's,
// audio blocks of 2304 bytes otherwise), and its files are read back by the reader.
#include <gtest/gtest.h>

#include "WriterTestSupport.h"
#include "engine/reader/FfmpegReader.h"
#include "engine/writer/FfmpegWriter.h"

using namespace writertest;

namespace {

// Sets the writer's source facts from an open reader.
void describeFrom(VideoSource& reader, VideoSink& writer) {
    if (reader.HasVideo()) writer.SetVideoFormat(reader.FrameWidth(), reader.FrameHeight(), reader.FrameRate());
    if (reader.HasAudio()) writer.SetAudioFormat(reader.AudioSampleRate(), reader.AudioChannels());
    writer.SetHasVideo(reader.HasVideo());
    writer.SetHasAudio(reader.HasAudio());
}

// Copies the whole source, interleaved by the reader's positions. Returns the frames written.
int copyAll(VideoSource& reader, VideoSink& writer) {
    bool videoDone = !reader.HasVideo(), audioDone = !reader.HasAudio();
    int frames = 0;
    while (!videoDone || !audioDone) {
        if ((reader.VideoTime() <= reader.AudioTime() || audioDone) && !videoDone) {
            const FrameData frame = reader.ReadVideoFrame();
            if (frame.isEmpty())
                videoDone = true;
            else
                writer.WriteVideoFrame(frame), ++frames;
        }
        if ((reader.VideoTime() > reader.AudioTime() || videoDone) && !audioDone) {
            const AudioChunk chunk = reader.ReadAudio(2304);
            if (chunk.empty())
                audioDone = true;
            else
                writer.WriteAudio(chunk);
        }
    }
    return frames;
}

QList<int> readBackNumbers(const QString& path, int* frameCount) {
    FfmpegReader reader;
    reader.OpenFile(path);
    *frameCount = reader.FrameCount();
    QList<int> numbers;
    for (FrameData f = reader.ReadVideoFrame(); !f.isEmpty(); f = reader.ReadVideoFrame())
        numbers << clips::frameNumberOf(f);
    return numbers;
}

}  // namespace

TEST(WriterThroughReader, EveryContainerRoundTripsFramesAndSound) {
    struct Case {
        const char* clip;
        int container;
        const char* file;
    };
    for (const Case& c : {Case{"mkv_mpeg4_vorbis", kContainerAvi, "reader-avi.avi"},
                          Case{"mp4_h264_aac", kContainerMpeg, "reader-mpeg.mpg"},
                          Case{"ts_h264_mp2", kContainerWmv, "reader-wmv.wmv"}}) {
        SCOPED_TRACE(c.file);
        const clips::Clip clip = clips::get(c.clip);
        FfmpegReader reader;
        reader.OpenFile(clip.path);
        FfmpegWriter writer;
        describeFrom(reader, writer);
        writer.SetAudioMP3(128, reader.AudioSampleRate(), 2);
        writer.SetAviVideo(reader.FrameWidth(), reader.FrameHeight(), reader.FrameRate());
        writer.SetMpegVideo(2, 3000, reader.FrameWidth(), reader.FrameHeight(), reader.FrameRate());
        writer.SetMpegAudio(192, reader.AudioSampleRate(), 2);
        writer.SetWmvProfile(writer.WmvProfileCount());
        const QString path = outputPath(c.file);
        writer.CreateFile(path, c.container);
        const int frames = copyAll(reader, writer);
        writer.CloseFile();
        EXPECT_EQ(frames, clip.frames);

        const FileFacts facts = probeFile(path);
        ASSERT_TRUE(facts.video && facts.audio);
        EXPECT_EQ(facts.video->frames, clip.frames);
        // The reader delivers audio up to the end of the source's own sound track.
        const double sourceAudio = reader.AudioDuration() / 1000.0, sourceVideo = reader.VideoDuration() / 1000.0;
        EXPECT_NEAR(facts.video->duration(), sourceVideo, 1 / clip.fps + 1e-3);
        EXPECT_NEAR(facts.audio->duration() - facts.video->duration(), sourceAudio - sourceVideo,
                    1 / clip.fps + 2 * 1152.0 / facts.audio->sampleRate);

        int readBackCount = 0;
        EXPECT_EQ(readBackNumbers(path, &readBackCount), countUp(clip.frames));
        EXPECT_EQ(readBackCount, clip.frames);
    }
}

TEST(WriterThroughReader, ASplitWritesBothHalvesWithNothingLostOrDoubled) {
    const clips::Clip clip = clips::get("avi_mjpeg_pcm");
    FfmpegReader reader;
    reader.OpenFile(clip.path);
    FfmpegWriter writer;
    const int splitPoint = 37;
    const QString first = outputPath("reader-split_1.avi"), second = outputPath("reader-split_2.avi");
    for (const QString& path : {first, second}) {
        describeFrom(reader, writer);
        writer.SetHasAudio(path == second);  // the first half carries pictures only
        writer.SetAudioPCM(reader.AudioSampleRate(), reader.AudioChannels(), 16);
        writer.SetAviVideo(reader.FrameWidth(), reader.FrameHeight(), reader.FrameRate());
        writer.CreateFile(path, kContainerAvi);
        if (path == first) {
            reader.SeekTime(0);
            for (int n = 1; n <= splitPoint; ++n) writer.WriteVideoFrame(reader.ReadVideoFrame());
        } else {
            reader.SeekFrame(splitPoint + 1);
            copyAll(reader, writer);
        }
        writer.CloseFile();
    }
    int count = 0;
    EXPECT_EQ(readBackNumbers(first, &count), countUp(splitPoint));
    EXPECT_EQ(readBackNumbers(second, &count), countUp(clip.frames - splitPoint, splitPoint + 1));
}
