#pragma once
// What every cut or split job has in common, whatever writes its output: the window and
// batch mode run a job pass by pass through this interface and map its outcome to a message.
#include <sys/types.h>
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "rules/JobRules.h"
#include "rules/PieceList.h"

// Why a job did not start.
enum class JobRefusal {
    None,
    SameFrame,             // a cut whose two markers are on the same frame
    SplitPointOutOfRange,  // a split point closer than four frames to either end
    EdgesNeedEncoder,      // a cut in the source's own format whose edges need encoding the codec lacks
};

// Frames nearest to a refused cut's range where a cut needs no encoding: it may start at
// startBefore or startAfter and end at endBefore or endAfter (0 where there is no such frame).
// For a split, startBefore and startAfter are where the second file may begin.
struct NearestCopyPoints {
    int32_t startBefore = 0, startAfter = 0;
    int32_t endBefore = 0, endAfter = 0;
    bool split = false;
};

// How a job ended.
struct JobOutcome {
    enum class Kind { Running, Finished, Cancelled, Failed, Refused };
    Kind kind = Kind::Running;
    QString failure;                        // Failed: the description of what failed
    JobRefusal refusal = JobRefusal::None;  // Refused: why
    QString codecName;                      // EdgesNeedEncoder: the codec that cannot be encoded
    NearestCopyPoints edges;                // EdgesNeedEncoder: where a cut (or split) needs no encoding
    QStringList notes;  // Finished: what the output does not keep of the source as it is, one sentence each
};

// The figures a caller shows while the job runs.
struct JobProgress {
    int16_t percent = 0;  // the progress bar, 0..100 (a split counts each file on its own)
    int part = 1;         // the output file being written (a split's second file is 2)
    int32_t currentFrame = 0;
    // Positions and lengths in the source, milliseconds from its start.
    int32_t videoTime = 0;
    int32_t audioTime = 0;
    int32_t videoDuration = 0;
    int32_t audioDuration = 0;
};

class Job {
public:
    virtual ~Job() = default;

    // Each frame the job decoded, as it goes to the output (in the engine's frame data form).
    std::function<void(const QByteArray&)> onFrame;
    // After every pass.
    std::function<void(const JobProgress&)> onProgress;

    // Checks the request and opens the first file. False when the job ended at once (refused,
    // or failed to start).
    virtual bool start() = 0;
    // One pass of the job. False once the job has ended; the output is then complete.
    virtual bool step() = 0;
    // Ends the job at its next pass; what was written so far is kept and closed readable.
    // A job that fails leaves none of its files.
    void cancel() { cancelRequested_ = true; }

    bool running() const { return outcome_.kind == JobOutcome::Kind::Running; }
    const JobOutcome& outcome() const { return outcome_; }
    // The range of a cut in ascending order (its first and last frame).
    int32_t firstFrame() const { return first_; }
    int32_t lastFrame() const { return last_; }

protected:
    Job() = default;
    Job(const Job&) = default;
    Job& operator=(const Job&) = default;

    void refuse(JobRefusal why) {
        outcome_.kind = JobOutcome::Kind::Refused;
        outcome_.refusal = why;
    }
    // A cut's markers: refused on the same frame, else put in ascending order. False when refused.
    bool takeCutRange() {
        if (first_ == last_) {
            refuse(JobRefusal::SameFrame);
            return false;
        }
        if (first_ > last_) std::swap(first_, last_);
        return true;
    }
    // A split point: refused closer than four frames to either end. False when refused.
    bool takeSplitPoint(int32_t frameCount) {
        if (splitPointAllowed(first_, frameCount)) return true;
        refuse(JobRefusal::SplitPointOutOfRange);
        return false;
    }

    // The file the job has just created at `path`: removed again should the job fail.
    void ownOutput(const QString& path);
    // Ends a failed job: removes every file it created (a split's completed first file too),
    // each only while it is the same file (one put at its name since stays), and adds to the
    // failure the files that could not be removed.
    void removeOwnOutputs();

    int32_t first_ = 0;  // cut: first frame; split: the split frame
    int32_t last_ = 0;   // cut: last frame
    bool cancelRequested_ = false;
    JobOutcome outcome_;

private:
    struct OwnFile {
        QByteArray path;
        dev_t device = 0;
        ino_t inode = 0;
    };
    std::vector<OwnFile> ownFiles_;
};
