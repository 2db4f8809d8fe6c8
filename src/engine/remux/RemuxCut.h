#pragma once
// Writes a range of a source's frames in the source's own format: the packets of every group
// of pictures wholly inside the range are copied unchanged, the frames between a marker and
// the nearest usable keyframe are decoded and encoded again with the source's codec, and the
// sound packets of the range are copied.
#include <QString>
#include <cstdint>
#include <memory>

// What was written, for reports and the benchmark.
struct RemuxStats {
    int64_t videoPacketsCopied = 0;   // taken unchanged from the source
    int64_t videoPacketsEncoded = 0;  // frames decoded and encoded again
    int64_t audioPacketsCopied = 0;
    // The frames the copied packets show (the last file's, for a split); 0 when none.
    int32_t firstCopiedFrame = 0, lastCopiedFrame = 0;
};

// Frames nearest to a range where a cut needs no encoding: it may start at startBefore or
// startAfter and end at endBefore or endAfter (0 where there is no such frame).
struct CopyableEdges {
    int32_t startBefore = 0, startAfter = 0;
    int32_t endBefore = 0, endAfter = 0;
};

class RemuxCut {
public:
    // Opens and indexes the source. Throws MediaError when it cannot be read.
    explicit RemuxCut(const QString& sourcePath);
    ~RemuxCut();
    RemuxCut(const RemuxCut&) = delete;
    RemuxCut& operator=(const RemuxCut&) = delete;

    int32_t frameCount() const;
    // The source's video codec, as messages name it.
    QString codecName() const;
    // True when frames first..last can be written: both edges fall where no encoding is
    // needed, or the codec can be encoded again compatibly.
    bool canWrite(int32_t first, int32_t last) const;
    // Where cuts near first..last would need no encoding.
    CopyableEdges copyableEdges(int32_t first, int32_t last) const;

    // Creates outputPath and starts writing frames first..last (1-based, ascending) to it.
    // Throws MediaError.
    void begin(const QString& outputPath, int32_t first, int32_t last);
    // Writes the next piece: a bounded number of packets or encoded frames. False once the
    // file is complete and closed. Throws MediaError; the file is then closed readable.
    bool step();
    // Closes the file now, keeping what was written readable. Throws MediaError when the
    // file cannot be completed.
    void close();

    // The source frame written last (0 before the first) and the range being written.
    int32_t currentFrame() const;
    const RemuxStats& stats() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
