#pragma once
// Writes ranges of a source's frames in the source's own format, as one file: the packets of
// every group of pictures wholly inside a range are copied unchanged, the frames between a
// range's edge and the nearest usable keyframe are decoded and encoded again with the source's
// codec, and the range's sound is copied. Each range is placed on the output timeline where
// the one before it ends.
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "engine/reader/OpenedSource.h"
#include "engine/remux/CutPlan.h"

// What was written, for reports and the benchmark.
struct CutStats {
    int64_t videoPacketsCopied = 0;   // taken unchanged from the source
    int64_t videoPacketsEncoded = 0;  // frames decoded and encoded again
    int64_t audioPacketsCopied = 0;
    // The frames the copied packets of the last range show; 0 when none.
    int32_t firstCopiedFrame = 0, lastCopiedFrame = 0;
    // What the file does not keep of the source as it is (a stream its container cannot
    // carry, sound encoded again), one sentence each.
    QStringList notes;
};

// Frames first..last of a source, 1-based, first <= last.
struct FrameRange {
    int32_t first = 0, last = 0;
};

class LosslessCut {
public:
    // Throws MediaError when the source holds no video.
    explicit LosslessCut(std::shared_ptr<const OpenedSource> source);
    ~LosslessCut();
    LosslessCut(const LosslessCut&) = delete;
    LosslessCut& operator=(const LosslessCut&) = delete;

    int32_t frameCount() const;
    // The source's video codec, as messages name it.
    QString codecName() const;
    // True when frames first..last can be written: both edges fall where no encoding is
    // needed, or the codec can be encoded again compatibly.
    bool canWrite(int32_t first, int32_t last) const;
    // Where cuts near first..last would need no encoding.
    CopyableEdges copyableEdges(int32_t first, int32_t last) const;
    // Where a split near `frame` would need no encoding.
    CopyableEdges splitEdges(int32_t frame) const;
    // Files created from now on fail every write beyond this many bytes, as on a full disk
    // (negative: no limit). For the fault tests.
    void setWriteLimitForTesting(int64_t bytes);
    // Files created from now on are written in the container this extension names ("mkv",
    // "ts"); empty: the one the output name's extension names, else the source's own.
    void setContainer(const QString& extension) { container_ = extension; }

    // Creates outputPath (never replacing a file) and starts writing the ranges to it, in the
    // order given. Throws MediaError; no file is left then.
    void begin(const QString& outputPath, const std::vector<FrameRange>& ranges);
    // Writes the next piece: a bounded number of packets or encoded frames. False once the
    // file is complete and closed. Throws MediaError; the file is then removed.
    bool step();
    // Closes the file now, keeping what was written readable. Throws MediaError when the
    // file cannot be completed; it is then removed.
    void close();

    // The source frame written last (0 before the first).
    int32_t currentFrame() const;
    // Frames written to the file so far, over all its ranges.
    int64_t framesWritten() const;
    const CutStats& stats() const;

private:
    struct Run;
    std::shared_ptr<const OpenedSource> source_;
    // Whether the edges can be encoded (the encoder is tried on first need).
    bool encodable() const;
    mutable std::optional<bool> encodable_;
    int64_t writeLimit_ = -1;
    QString container_;
    std::unique_ptr<Run> run_;  // the file being written
    CutStats stats_;
    int32_t current_ = 0;
};
