// What the timeline strip reads of a source: which stretches count as black or silent and
// which runs of them are marked, and thumbnails turned upright.
#include <gtest/gtest.h>

#include <QFileInfo>
#include <atomic>

#include "../GeometryClips.h"
#include "engine/reader/OpenedSource.h"
#include "engine/timeline/QuietRuns.h"
#include "engine/timeline/QuietScans.h"
#include "engine/timeline/TimelineSources.h"
#include "support/Clips.h"

namespace {

TEST(QuietRuns, RunsOfHalfASecondOrMoreAreKept) {
    struct Case {
        const char* what;
        std::vector<TimeSpan> quiet;  // quiet stretches of 0.04 s steps; everything else is loud
        std::vector<TimeSpan> expected;
    };
    const Case cases[] = {
        {"none", {}, {}},
        {"too short", {{1.0, 1.48}}, {}},
        {"just long enough", {{1.0, 1.52}}, {{1.0, 1.52}}},
        {"two, one too short", {{1.0, 2.0}, {3.0, 3.2}}, {{1.0, 2.0}}},
        {"quiet at the end", {{9.0, 10.0}}, {{9.0, 10.0}}},
    };
    for (const Case& c : cases) {
        QuietRuns runs;
        for (int step = 0; step < 250; ++step) {  // 10 s in 40-ms stretches
            const double start = step * 0.04, end = start + 0.04;
            bool quiet = false;
            for (const TimeSpan& q : c.quiet) quiet |= start >= q.start - 1e-9 && end <= q.end + 1e-9;
            runs.add(start, end, quiet);
        }
        const std::vector<TimeSpan>& found = runs.finish();
        ASSERT_EQ(found.size(), c.expected.size()) << c.what;
        for (size_t i = 0; i < found.size(); ++i) {
            EXPECT_NEAR(found[i].start, c.expected[i].start, 1e-9) << c.what;
            EXPECT_NEAR(found[i].end, c.expected[i].end, 1e-9) << c.what;
        }
    }
    // A gap in the source's times does not end a run.
    QuietRuns gap;
    gap.add(0, 0.3, true);
    gap.add(0.4, 0.6, true);
    EXPECT_EQ(gap.finish(), (std::vector<TimeSpan>{{0, 0.6}}));
}

TEST(QuietRuns, BlackAndSilentByTheFiltersDefaultLevels) {
    EXPECT_EQ(darkLumaLevel(true), 25);
    EXPECT_EQ(darkLumaLevel(false), 37);
    EXPECT_TRUE(blackPicture(98, 100));
    EXPECT_FALSE(blackPicture(97, 100));
    EXPECT_FALSE(blackPicture(0, 0));
    EXPECT_TRUE(silentSound(0.0009));  // below -60 dB
    EXPECT_FALSE(silentSound(0.0011));
}

// Five seconds of H.264 (with B-frames) and AAC whose picture is black and sound silent from
// 2 s to just before 3 s: frames 51 to 75 at 25 fps.
TEST(QuietScans, ABlackSilentSecondInTheMiddleIsMarked) {
    const QString path = clips::clipsFolder() + "/black-silent-second.mp4";
    // clang-format off
    clips::makeOnce(path, [](const QString& part) {
        return clips::run("ffmpeg", {"-nostdin", "-loglevel", "error", "-y",
            "-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25,drawbox=color=black:t=fill:enable='between(t,2,2.99)'",
            "-f", "lavfi", "-i", "sine=frequency=440:duration=5,volume=0:enable='between(t,2,2.99)'",
            "-t", "5", "-c:v", "libx264", "-bf", "2", "-g", "25", "-pix_fmt", "yuv420p", "-c:a", "aac", part}) == 0;
    });
    // clang-format on
    const auto source = OpenedSource::open(path);
    const std::atomic<bool> stop{false};
    std::vector<FrameSpan> blacks;
    SoundScan sound;
    scanBlack(source, stop, [&](const std::vector<FrameSpan>& found) { blacks = found; });
    scanSound(source, 100, stop, [&](const SoundScan& found) { sound = found; });
    // Black by the decoded pictures (a frame or two coarser where pictures were skipped); silent
    // to within the sound coder's frames (about 21 ms, a frame at most).
    ASSERT_EQ(blacks.size(), 1u);
    EXPECT_NEAR(blacks[0].first, 51, 2);
    EXPECT_NEAR(blacks[0].last, 75, 2);
    ASSERT_EQ(sound.silences.size(), 1u);
    EXPECT_NEAR(sound.silences[0].first, 51, 1);
    EXPECT_NEAR(sound.silences[0].last, 75, 1);
    EXPECT_NEAR(sound.peaks[10], 255 / 8, 2);  // the tone, an eighth of full scale
    EXPECT_EQ(sound.peaks[50], 0);
}

// A phone clip stored on its side shows upright, as the preview shows it: the frame's number
// pattern reads only in the upright picture.
TEST(KeyframePictures, ThumbnailsOfATurnedClipStandUpright) {
    for (const int degrees : {90, 270}) {
        KeyframePictures pictures(OpenedSource::open(geometry::turnedClip(degrees, "mp4").path));
        const QImage image = pictures.picture(1, 320);
        EXPECT_EQ(image.size(), QSize(180, 320)) << degrees;
        EXPECT_EQ(clips::frameNumberOf(image), 1) << degrees;
    }
}

}  // namespace
