#pragma once
#include <QString>
#include <cstdint>
#include <memory>

#include "engine/common/FrameData.h"
#include "engine/output/OutputContainer.h"
#include "engine/writer/OutputPlan.h"
#include "engine/writer/StreamEncoders.h"

// One output file of the writer: the plan's encoders on the engine's output layer, completed
// by finish().
class OutputFile {
public:
    // Opens the encoders of the plan and creates the file; throws MediaError and leaves no file
    // behind when that fails. writeLimit >= 0 makes every write beyond that many bytes fail as
    // on a full disk (for tests).
    OutputFile(const QString& path, const OutputPlan& plan, int64_t writeLimit = -1);
    ~OutputFile();  // closes without throwing
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void writeVideo(const FrameView& frame);
    void writeAudio(const int16_t* samples, int64_t count);
    // Flushes the encoders, writes the trailer and closes the file. Throws when that fails; the
    // file is removed then. After a failed write it removes the file.
    void finish();

    bool hasVideo() const { return video_ != nullptr; }
    bool hasAudio() const { return audio_ != nullptr; }
    const QString& path() const { return path_; }

private:
    template <typename F>
    void guarded(F&& step);
    void release() noexcept;

    QString path_;
    std::unique_ptr<OutputContainer> container_;
    std::unique_ptr<VideoEncoder> video_;
    std::unique_ptr<AudioEncoder> audio_;
    QString failure_;  // description of the first failure; empty while all is well
};
