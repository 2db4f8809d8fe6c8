#pragma once
// Cut and split in the source's own format: the file is rewritten packet by packet. Groups
// of pictures that lie wholly inside the range are copied unchanged; only the frames between
// a marker and the nearest keyframe inside the range are decoded and encoded again. The job
// reads the opened source with demuxers of its own, beside the window's reader.
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "engine/reader/OpenedSource.h"
#include "engine/remux/LosslessCut.h"
#include "jobs/Job.h"

class OriginalJob : public Job {
public:
    // The path file `part` (1, or 2 for a split's second file) is written to; called once per
    // file, just before it is created. Throws MediaError when there is none.
    using OutputPath = std::function<QString(int part)>;

    // Frames startMarker..endMarker (either order) of the source into one file.
    static std::unique_ptr<OriginalJob> cut(std::shared_ptr<const OpenedSource> source, int32_t startMarker,
                                            int32_t endMarker, OutputPath outputPath);
    // Several ranges of frames, each first <= last, one after the other into one file with
    // continuous time stamps; each range's sound is placed by its own pictures.
    static std::unique_ptr<OriginalJob> pieces(std::shared_ptr<const OpenedSource> source, std::vector<Piece> ranges,
                                               OutputPath outputPath);
    // Frames 1..splitFrame-1 into file 1 and splitFrame..last into file 2.
    static std::unique_ptr<OriginalJob> split(std::shared_ptr<const OpenedSource> source, int32_t splitFrame,
                                              OutputPath outputPath);
    ~OriginalJob() override;

    bool start() override;
    bool step() override;

    const CutStats& stats() const { return stats_; }
    // Writes the files in the container this extension names ("mkv", "ts"); empty, as by
    // default: the one each output name's extension names, else the source's own.
    void setContainer(const QString& extension) { container_ = extension; }
    // The extensions of the containers that can carry the source's streams as they are.
    static QStringList containersFor(const OpenedSource& source);
    // Why the container this extension names cannot carry them, naming the first stream that
    // does not fit; empty when every one fits.
    static QString containerMisfit(const OpenedSource& source, const QString& extension);
    // Files created from now on fail every write beyond this many bytes (for the fault tests).
    void setWriteLimitForTesting(int64_t bytes) { writeLimit_ = bytes; }

private:
    enum class Kind { Cut, Split, Pieces };
    OriginalJob(Kind kind, std::shared_ptr<const OpenedSource> source, OutputPath outputPath);

    std::vector<FrameRange> rangesOf(int part) const;
    void beginPart(int part);
    JobProgress progress() const;
    void addStats();
    void finish(JobOutcome::Kind kind, const QString& failure = {});

    Kind kind_;
    std::shared_ptr<const OpenedSource> source_;
    OutputPath outputPath_;
    std::unique_ptr<LosslessCut> remux_;
    int part_ = 1;
    int32_t frameCount_ = 0;
    int64_t writeLimit_ = -1;
    QString container_;
    CutStats stats_;
    std::vector<Piece> pieces_;  // Pieces: the ranges, in the order written
    int64_t framesTotal_ = 0;
};
