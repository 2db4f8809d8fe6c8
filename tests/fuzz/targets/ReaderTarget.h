#pragma once
// The source reader on arbitrary bytes: the first byte picks the file's extension (FFmpeg
// weighs it when guessing the format), the rest is the file. Opening either succeeds or
// throws MediaError; an opened file answers a bounded round of reads and seeks, each of
// which may only fail with MediaError.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/common/FrameData.h"
#include "engine/common/VideoSource.h"
#include "engine/reader/FfmpegReader.h"
#include "fuzz/targets/FuzzCheck.h"

namespace fuzztargets {

inline const char* const kReaderExtensions[] = {"avi", "mpg", "wmv", "mp4", "mkv", "ts", "webm", "wav", "mov", "bin"};

// Reads one frame expecting frame `n`; false when the file has no more or it is damaged.
inline bool readExpectedFrame(VideoSource& reader, int n) {
    FrameData frame;
    try {
        frame = reader.ReadVideoFrame();
    } catch (const MediaError&) {
        return false;
    }
    if (frame.isEmpty()) {
        FUZZ_CHECK(n > reader.FrameCount(),
                   "no frame " + std::to_string(n) + " of " + std::to_string(reader.FrameCount()));
        return false;
    }
    const std::optional<FrameView> view = viewFrame(frame);
    FUZZ_CHECK(view.has_value(), "frame " + std::to_string(n) + " does not unpack");
    if (!view) return false;
    FUZZ_CHECK(view->header.frameNumber == n,
               "asked for frame " + std::to_string(n) + ", got " + std::to_string(view->header.frameNumber));
    FUZZ_CHECK(view->width() > 0 && view->height() > 0, "empty picture in frame " + std::to_string(n));
    FUZZ_CHECK(reader.CurrentFrame() == n, "current frame " + std::to_string(reader.CurrentFrame()));
    return true;
}

inline void readAudio(VideoSource& reader, int32_t bytes) {
    try {
        const AudioChunk chunk = reader.ReadAudio(bytes);
        if (reader.HasAudio()) FUZZ_CHECK(chunk.size() % reader.AudioChannels() == 0, "a partial sample frame");
    } catch (const MediaError&) {
    }
}

inline void exerciseReader(VideoSource& reader) {
    FUZZ_CHECK(reader.HasVideo() || reader.HasAudio(), "opened with neither video nor audio");
    const int count = reader.FrameCount();
    if (reader.HasVideo()) {
        FUZZ_CHECK(count >= 1, "video without frames");
        FUZZ_CHECK(reader.FrameWidth() > 0 && reader.FrameHeight() > 0, "no picture size");
        FUZZ_CHECK(reader.FrameRate() > 0, "no frame rate");
        FUZZ_CHECK(reader.VideoDuration() >= 0, "negative duration");
    } else {
        FUZZ_CHECK(count == 0, "frames without video");
    }
    if (reader.HasAudio()) {
        FUZZ_CHECK(reader.AudioChannels() > 0 && reader.AudioSampleRate() > 0, "audio without a format");
    }
    for (int n = 1; n <= 3 && readExpectedFrame(reader, n); ++n) {
    }
    readAudio(reader, 0);
    readAudio(reader, 4096);
    if (reader.HasVideo()) {
        for (int n : {count, count / 2 + 1, 1}) {
            try {
                reader.SeekFrame(n);
            } catch (const MediaError&) {
                continue;
            }
            FUZZ_CHECK(reader.CurrentFrame() == n - 1, "after a seek to " + std::to_string(n));
            readExpectedFrame(reader, n);
            readAudio(reader, 0);
        }
    }
    try {
        reader.SeekTime(reader.HasVideo() ? reader.VideoDuration() / 2 : 500);
    } catch (const MediaError&) {
    }
    readExpectedFrame(reader, reader.CurrentFrame() + 1);
    readAudio(reader, 8192);
    (void)reader.VideoTime();
    (void)reader.AudioTime();
}

inline void fuzzReader(const uint8_t* data, size_t size) {
    if (size == 0) return;
    const char* extension = kReaderExtensions[data[0] % std::size(kReaderExtensions)];
    const QString path = QDir::temp().filePath(
        QStringLiteral("korvelin-fuzz-reader-%1.%2").arg(QCoreApplication::applicationPid()).arg(extension));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
        file.write(reinterpret_cast<const char*>(data + 1), static_cast<qint64>(size - 1));
    }
    std::unique_ptr<VideoSource> reader = createVideoFileReader();
    try {
        reader->OpenFile(path);
    } catch (const MediaError& error) {
        FUZZ_CHECK(!error.description().isEmpty(), "an error without a description");
        QFile::remove(path);
        return;
    }
    exerciseReader(*reader);
    reader->CloseFile();
    QFile::remove(path);
}

}  // namespace fuzztargets
