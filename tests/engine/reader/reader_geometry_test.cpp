// The reader's picture geometry and sound on clips from other writers: turned phone clips come
// out upright everywhere a frame goes (size, preview, saved picture, cut), and surround sound
// is folded to stereo at the standard levels without clipping.
#include <gtest/gtest.h>

#include <QImage>
#include <cmath>

#include "../GeometryClips.h"
#include "../writer/WriterTestSupport.h"
#include "engine/image/ImageFile.h"
#include "engine/reader/FfmpegReader.h"
#include "engine/reader/Orientation.h"
#include "engine/view/VideoView.h"
#include "engine/writer/FfmpegWriter.h"

extern "C" {
#include <libavutil/display.h>
#include <libavutil/frame.h>
}

namespace {

Orientation fromMatrix(double degrees, bool mirrored) {
    int32_t matrix[9];
    av_display_rotation_set(matrix, degrees);
    if (mirrored) av_display_matrix_flip(matrix, 1, 0);
    return orientationOf(matrix);
}

// A 3 x 2 picture whose luma values name their place: 10 * row + column.
ffmpeg::Frame numberedPicture(AVPixelFormat format) {
    ffmpeg::Frame frame = ffmpeg::makeFrame();
    frame->format = format;
    frame->width = 3;
    frame->height = 2;
    frame->sample_aspect_ratio = {4, 3};
    av_frame_get_buffer(frame.get(), 0);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) frame->data[0][y * frame->linesize[0] + x] = uint8_t(10 * y + x);
    return frame;
}

std::vector<int> lumaRows(const AVFrame* frame) {
    std::vector<int> values;
    for (int y = 0; y < frame->height; ++y)
        for (int x = 0; x < frame->width; ++x) values.push_back(frame->data[0][y * frame->linesize[0] + x]);
    return values;
}

double rms(const AudioChunk& samples, int channel, int channels) {
    double sum = 0;
    size_t n = 0;
    for (size_t i = channel; i < samples.size(); i += channels) sum += double(samples[i]) * samples[i], ++n;
    return n ? std::sqrt(sum / n) : 0;
}

// The middle second of the reader's sound (away from encoder start-up and fades).
AudioChunk middleSecond(FfmpegReader& reader) {
    reader.SeekTime(500);
    return reader.ReadAudio(reader.AudioSampleRate() * reader.AudioChannels() * 2);
}

}  // namespace

TEST(Orientation, DisplayMatricesGiveQuarterTurnsAndMirrors) {
    // The turn FFmpeg's own tools apply for each matrix (the clips below check the convention
    // end to end against ffmpeg's "rotate" tag).
    EXPECT_EQ(fromMatrix(0, false), (Orientation{}));
    EXPECT_EQ(fromMatrix(90, false), (Orientation{true, true, false}));   // a quarter turn clockwise
    EXPECT_EQ(fromMatrix(-90, false), (Orientation{true, false, true}));  // anticlockwise
    EXPECT_EQ(fromMatrix(180, false), (Orientation{false, true, true}));
    EXPECT_EQ(fromMatrix(0, true), (Orientation{false, true, false}));  // mirrored left to right
    EXPECT_EQ(fromMatrix(-90, true), (Orientation{true, true, true}));  // turned and mirrored
    EXPECT_EQ(fromMatrix(45, false), (Orientation{}));                  // not a quarter turn: as stored
    EXPECT_EQ(orientedSize({640, 360}, fromMatrix(90, false)), QSize(360, 640));
}

TEST(Orientation, TurnsEveryPlaneAndTheSampleAspect) {
    ScalerCache scaler;
    const ffmpeg::Frame picture = numberedPicture(AV_PIX_FMT_YUV420P);
    const ffmpeg::Frame clockwise = orientFrame(picture.get(), {true, true, false}, scaler);
    ASSERT_TRUE(clockwise);
    EXPECT_EQ(clockwise->width, 2);
    EXPECT_EQ(clockwise->height, 3);
    EXPECT_EQ(lumaRows(clockwise.get()), (std::vector<int>{10, 0, 11, 1, 12, 2}));
    EXPECT_EQ(clockwise->sample_aspect_ratio.num, 3);
    EXPECT_EQ(clockwise->sample_aspect_ratio.den, 4);
    const ffmpeg::Frame halfTurn = orientFrame(picture.get(), {false, true, true}, scaler);
    EXPECT_EQ(lumaRows(halfTurn.get()), (std::vector<int>{12, 11, 10, 2, 1, 0}));
    // 4:2:2 cannot be turned plane by plane: it is turned as 4:4:4.
    const ffmpeg::Frame wide = orientFrame(numberedPicture(AV_PIX_FMT_YUV422P).get(), {true, false, true}, scaler);
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->format, AV_PIX_FMT_YUV444P);
    EXPECT_EQ(lumaRows(wide.get()), (std::vector<int>{2, 12, 1, 11, 0, 10}));
}

TEST(ReaderGeometry, TurnedPhoneClipsAreUprightInSizePreviewPictureAndCut) {
    for (const auto& [degrees, ext] : {std::pair{90, "mp4"}, std::pair{270, "mov"}}) {
        SCOPED_TRACE(degrees);
        const clips::Clip clip = geometry::turnedClip(degrees, ext);
        FfmpegReader reader;
        reader.OpenFile(clip.path);
        EXPECT_EQ(reader.FrameWidth(), 180);
        EXPECT_EQ(reader.FrameHeight(), 320);

        reader.SeekFrame(7);
        const FrameData frame = reader.ReadVideoFrame();
        EXPECT_EQ(clips::frameNumberOf(frame), 7);

        VideoView view;
        view.resize(400, 400);
        view.ShowFrame(frame);
        const QImage shown = view.renderedImage();
        const QRect drawn = videoTargetRect(0, frameDisplaySize(viewFrame(frame)->header), view.size());
        EXPECT_LT(drawn.width(), drawn.height());
        EXPECT_EQ(clips::frameNumberOf(shown.copy(drawn)), 7);

        const QString picture = writertest::outputPath(QStringLiteral("turned%1.png").arg(degrees));
        ImageFile().SavePNG(frame, picture);
        const QImage saved(picture);
        EXPECT_EQ(saved.size(), QSize(180, 320));
        EXPECT_EQ(clips::frameNumberOf(saved), 7);

        // A cut of frames 5..20 into AVI, set up from the reader as the window does.
        FfmpegWriter writer;
        writer.SetVideoFormat(reader.FrameWidth(), reader.FrameHeight(), reader.FrameRate());
        writer.SetHasVideo(true);
        writer.SetAviVideo(reader.FrameWidth(), reader.FrameHeight(), reader.FrameRate());
        const QString cut = writertest::outputPath(QStringLiteral("turned%1-cut.avi").arg(degrees));
        writer.CreateFile(cut, kContainerAvi);
        reader.SeekFrame(5);
        for (int n = 5; n <= 20; ++n) writer.WriteVideoFrame(reader.ReadVideoFrame());
        writer.CloseFile();
        const geometry::PictureFacts facts = geometry::pictureFacts(cut);
        EXPECT_EQ(QSize(facts.width, facts.height), QSize(180, 320));
        EXPECT_EQ(clips::decodeFrameNumbers(cut), writertest::countUp(16, 5));
    }
}

TEST(ReaderGeometry, SurroundSoundIsFoldedToStereoAtTheStandardLevels) {
    const double tone = 0.5 * 32767 / std::sqrt(2.0);  // RMS of the half-scale tone
    {
        // Left gets front left and centre, right the centre and right surround (each -3 dB);
        // the low-frequency channel stays out; the mix is scaled by 1 / (1 + 2 x 0.707).
        const clips::Clip clip = geometry::surroundClip("surround_levels", "FL=4*c0|FC=4*c0|LFE=4*c0|BR=4*c0");
        FfmpegReader reader;
        reader.OpenFile(clip.path);
        EXPECT_EQ(reader.AudioChannels(), 2);
        const AudioChunk sound = middleSecond(reader);
        const double scale = 1 + 2 * M_SQRT1_2;
        EXPECT_NEAR(rms(sound, 0, 2) / tone, (1 + M_SQRT1_2) / scale, 0.01);
        EXPECT_NEAR(rms(sound, 1, 2) / tone, 2 * M_SQRT1_2 / scale, 0.01);
    }
    {
        // Every channel at 90 % of full scale: the fold is as loud as one channel, not clipped.
        const clips::Clip clip =
            geometry::surroundClip("surround_loud", "FL=7.2*c0|FR=7.2*c0|FC=7.2*c0|LFE=7.2*c0|BL=7.2*c0|BR=7.2*c0");
        FfmpegReader reader;
        reader.OpenFile(clip.path);
        const AudioChunk sound = middleSecond(reader);
        for (int channel : {0, 1}) EXPECT_NEAR(rms(sound, channel, 2) / (tone * 1.8), 1.0, 0.01);
    }
    {
        // Broadcast AC-3 5.1 with the same tone in every channel comes out at the tone's level.
        const clips::Clip clip = geometry::broadcastClip();
        FfmpegReader reader;
        reader.OpenFile(clip.path);
        EXPECT_EQ(reader.AudioChannels(), 2);
        const AudioChunk sound = middleSecond(reader);
        for (int channel : {0, 1}) EXPECT_NEAR(rms(sound, channel, 2) / (tone / 4), 1.0, 0.05);
    }
}
