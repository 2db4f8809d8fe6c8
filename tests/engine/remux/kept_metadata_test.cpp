// The rules by which a cut moves what it keeps besides packets: tags that tell a moment or a
// frame, chapters and cues, at the edges of the ranges written.
#include <gtest/gtest.h>

#include "engine/remux/CueCopier.h"
#include "engine/remux/KeptMetadata.h"

namespace {

TEST(KeptMetadata, TimecodesAndCaptureDatesMoveByTheCutsStart) {
    const struct {
        const char* value;
        AVRational rate;
        int64_t frames;
        const char* moved;
    } timecodes[] = {
        {"10:00:00:00", {25, 1}, 16, "10:00:00:16"},
        {"10:00:59:24", {25, 1}, 1, "10:01:00:00"},
        {"00:00:59;29", {30000, 1001}, 1, "00:01:00;02"},  // drop-frame skips ;00 and ;01
        {"not a timecode", {25, 1}, 5, "not a timecode"},
    };
    for (const auto& t : timecodes)
        EXPECT_EQ(movedTimecode(t.value, t.rate, t.frames).toStdString(), t.moved) << t.value;
    EXPECT_EQ(movedCreationTime("2026-07-01T10:00:00.000000Z", 2.36).toStdString(), "2026-07-01T10:00:02.360000Z");
    EXPECT_EQ(movedCreationTime("2026-12-31T23:59:59Z", 1.5).toStdString(), "2027-01-01T00:00:00.500000Z");
    EXPECT_EQ(movedCreationTime("yesterday", 1).toStdString(), "yesterday");
}

TEST(KeptMetadata, ChaptersAndCuesAreClippedToTheRangesAndMovedWithThem) {
    // Chapters [0,20) [20,50) [50,90); ranges 10..30 and 40..60 written back to back.
    const std::vector<KeptChapter> chapters = keptChapters({{0, 20}, {20, 50}, {50, 90}}, {{10, 30, 0}, {40, 60, 20}});
    const std::vector<std::tuple<int, int64_t, int64_t>> expected{{0, 0, 10}, {1, 10, 30}, {2, 30, 40}};
    ASSERT_EQ(chapters.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(std::make_tuple(chapters[i].source, chapters[i].start, chapters[i].end), expected[i]) << i;

    const struct {
        Cue cue;
        std::optional<std::pair<int64_t, int64_t>> kept;  // start, duration
    } cues[] = {
        {{5, 10}, std::pair<int64_t, int64_t>{10, 5}},   // across the start
        {{12, 3}, std::pair<int64_t, int64_t>{12, 3}},   // inside
        {{28, 10}, std::pair<int64_t, int64_t>{28, 2}},  // across the end
        {{0, 10}, std::nullopt},                         // ends where the range starts
        {{30, 5}, std::nullopt},                         // starts where it ends
        {{5, 0}, std::nullopt},                          // no duration: kept only when it starts inside
        {{29, 0}, std::pair<int64_t, int64_t>{29, 0}},
    };
    for (const auto& c : cues) {
        const std::optional<Cue> kept = cueInRange(c.cue, 10, 30);
        EXPECT_EQ(kept ? std::optional(std::pair{kept->start, kept->duration}) : std::nullopt, c.kept)
            << c.cue.start << "+" << c.cue.duration;
    }
}

}  // namespace
