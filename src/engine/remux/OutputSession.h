#pragma once
// One output file of a lossless cut: the container on the engine's output layer, the source's
// video stream and its sound (copied, or encoded again by the writer's sound encoder where the
// container cannot carry the source's codec), and the output timeline on which each range of
// the source is placed.
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/common/MediaTime.h"
#include "engine/output/OutputContainer.h"
#include "engine/reader/OpenedSource.h"
#include "engine/writer/StreamEncoders.h"

class OutputSession {
public:
    // Sets the file's streams up from the source, in the container named by the extension
    // `container` (see losslessOutputFormat); videoHeader, when not empty, replaces the video
    // stream's container header. Nothing is created yet. Throws MediaError.
    OutputSession(const OpenedSource& source, const QString& path, const QString& container,
                  const std::vector<uint8_t>& videoHeader, int64_t writeLimit = -1);
    // Creates the file and writes its header; refuses streams the container cannot carry
    // before any file exists. Throws MediaError.
    void create();
    // Completes the file (the sound encoder's last frames, the trailer). Throws MediaError.
    void finish();
    // Ends without completing: content written stays readable, a file without a picture goes.
    void abandon() noexcept { videoWritten_ > 0 ? container_.abandon() : container_.discard(); }

    // Places the next range: source video time `sourceStart` shows at output time `outputStart`.
    void placeRange(StreamTicks sourceStart, StreamTicks outputStart);
    // Writes a video packet shown at source time pts and decoded at dts (video time base);
    // decode times that would not rise are raised, never past the presentation time.
    void writeVideo(AVPacket* packet, StreamTicks pts, StreamTicks dts);
    // The latest picture written, output time (video time base).
    StreamTicks writtenTime() const { return writtenTime_; }

    bool hasSound() const { return soundStream_ >= 0; }
    // Where the sound goes: copied packets to soundStream(), decoded sound to soundEncoder()
    // (null when the source's own packets are copied).
    int soundStream() const { return soundStream_; }
    AudioEncoder* soundEncoder() const { return soundEncoder_.get(); }
    // The codec the sound is encoded in again because the container cannot carry the source's;
    // none when it is copied.
    AVCodecID soundEncodedAs() const { return soundEncodedAs_; }
    // Writes a copied sound packet, its times already on the output timeline in timeBase.
    void writeSound(AVPacket* packet, AVRational timeBase);

private:
    OutputContainer container_;
    AVRational videoBase_;
    int64_t frameTicks_;    // one frame, video time base
    int videoDelay_;        // frames by which the codec shows pictures after decoding them
    int videoStream_ = -1;  // in the output
    int soundStream_ = -1;  // in the output
    std::unique_ptr<AudioEncoder> soundEncoder_;
    AVCodecID soundEncodedAs_ = AV_CODEC_ID_NONE;
    StreamTicks origin_;  // video time base: source time minus output time of the range
    int64_t lastDts_;     // output, video time base
    StreamTicks writtenTime_;
    int64_t videoWritten_ = 0;
    // AVI stores no timestamps, only the order of its packets, one frame each: the output is
    // timed by that order.
    bool byOrder_ = false;
};

// The muxer for a lossless cut of this source to `path`: the one the extension `container`
// names when it is given, else the one the name's extension names, else the source's own. A
// program stream is written DVD-style when its video is MPEG-2.
const AVOutputFormat* losslessOutputFormat(const OpenedSource& source, const QString& path,
                                           const QString& container = {});

// The extensions of the containers (ContainerRules' kCopyContainers) that carry every stream
// a lossless cut of this source copies, as it is.
QStringList losslessContainers(const OpenedSource& source);
