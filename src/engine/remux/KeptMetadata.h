#pragma once
// What a lossless cut keeps of the source besides its packets: the file's and the streams'
// tags (those that tell of a moment or a frame moved by where the cut starts, the statistics
// of the whole stream left out) and the chapters that meet the ranges written.
#include <QString>
#include <cstdint>
#include <vector>

#include "engine/common/MediaTime.h"

extern "C" {
#include <libavformat/avformat.h>
}

// "Sound track 2 (AC-3 ATSC A/52A, ger)": a stream as the user knows it, by its kind, its
// number among the source's streams of that kind, its codec, language, title and file name.
QString trackLabel(const AVStream* st, int number);
// True for a stream the output keeps in another form: a QuickTime timecode track (the video's
// "timecode" tag) or chapter track (the file's chapters).
bool keptOtherwise(const AVFormatContext* source, const AVStream* st);

// Where the output starts in the source: its first picture is `seconds` after the source's
// first, which is `frames` frames of the timecode's rate `rate` (the time at that rate, as a
// timecode counts on a source whose frames come at a varying rate).
struct CutStart {
    double seconds = 0;
    int64_t frames = 0;
    AVRational rate{0, 1};
};

// The rate a source's timecode counts at: its QuickTime timecode track's, else the video's
// average rate where a timecode can count at it, else the video's base rate.
AVRational timecodeRate(const AVFormatContext* source, const AVStream* video);

// Copies the tags that stay true of a cut starting at `start`. A capture date (creation_time)
// and a timecode move with the start; statistics of the whole stream (mkvmerge lists its frame
// count, bytes, duration and rate in _STATISTICS_TAGS) would be wrong, and the muxer names
// itself as the file's encoder: those are left out.
void copyKeptTags(AVDictionary** to, const AVDictionary* from, const CutStart& start);

// An ISO 8601 date and time `seconds` later, in the same form as FFmpeg's muxers read it; the
// value unchanged when it is no such date.
QString movedCreationTime(const QString& value, double seconds);
// A timecode ("10:00:00:00", drop-frame "01:00:00;02") `frames` later at `rate`; the value
// unchanged when it is no timecode at that rate.
QString movedTimecode(const QString& value, AVRational rate, int64_t frames);

// A piece of the source written to the output: source times [from, to) show from output time
// `at`, all in one time base.
struct WrittenSpan {
    int64_t from = 0, to = 0, at = 0;
};
// A chapter as the output holds it: the source chapter `source` (its index) from start to end,
// output time in the spans' time base.
struct KeptChapter {
    int source = 0;
    int64_t start = 0, end = 0;
};
// The chapters [start, end) (spans' time base) that meet the spans, each clipped to them and
// moved with them: one that starts before a span starts where the span does. A chapter that
// runs on across spans written back to back stays one.
std::vector<KeptChapter> keptChapters(const std::vector<std::pair<int64_t, int64_t>>& chapters,
                                      const std::vector<WrittenSpan>& spans);

// Gives `out` the source's chapters that meet the spans (video time base `base`), with their
// titles; how many. Throws MediaError when memory runs out.
int addKeptChapters(AVFormatContext* out, const AVFormatContext* source, const std::vector<WrittenSpan>& spans,
                    AVRational base);
