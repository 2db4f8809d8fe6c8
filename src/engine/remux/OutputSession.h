#pragma once
// One output file of a lossless cut: the container on the engine's output layer, the source's
// video stream and every other stream the container can carry (each sound track copied, or
// encoded again by the writer's sound encoder where the container cannot carry its codec;
// subtitles; attachments), the tags and chapters, and the output timeline on which each range
// of the source is placed. What it cannot keep it names in its notes.
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/common/MediaTime.h"
#include "engine/output/OutputContainer.h"
#include "engine/reader/OpenedSource.h"
#include "engine/remux/KeptMetadata.h"
#include "engine/writer/StreamEncoders.h"

class OutputSession {
public:
    // A source stream written beside the video.
    struct Track {
        int source = -1;  // its index in the source
        int output = -1;  // and in the output
        AVMediaType type = AVMEDIA_TYPE_UNKNOWN;
        AudioEncoder* encoder = nullptr;  // sound the container cannot carry as it is: encoded again
    };

    // Sets the file's streams, tags and chapters up from the source for the source's spans
    // (video time base) written one after the other, in the container named by the extension
    // `container` (see losslessOutputFormat); videoHeader, when not empty, replaces the video
    // stream's container header. Nothing is created yet. Throws MediaError.
    OutputSession(const OpenedSource& source, const QString& path, const QString& container,
                  const std::vector<uint8_t>& videoHeader, const std::vector<WrittenSpan>& spans,
                  int64_t writeLimit = -1);
    // Creates the file and writes its header; refuses streams the container cannot carry
    // before any file exists. Throws MediaError.
    void create();
    // Completes the file (the sound encoder's last frames, the trailer). Throws MediaError.
    void finish();
    // Ends without completing: the file goes.
    void abandon() noexcept { container_.abandon(); }

    // Places the next range: source video time `sourceStart` shows at output time `outputStart`.
    void placeRange(StreamTicks sourceStart, StreamTicks outputStart);
    // Writes a video packet shown at source time pts and decoded at dts (video time base);
    // decode times that would not rise are raised, never past the presentation time.
    void writeVideo(AVPacket* packet, StreamTicks pts, StreamTicks dts);
    // True when the container times its streams by the order of their packets (AVI): its sound
    // plays from its first packet on, and its first picture shows pictureDelay() after that.
    bool timedByOrder() const { return byOrder_; }
    StreamTicks pictureDelay() const { return StreamTicks{byOrder_ ? videoDelay_ * frameTicks_ : 0}; }
    // The latest picture written, output time (video time base).
    StreamTicks writtenTime() const { return writtenTime_; }

    // The sound, subtitle and data streams written beside the video, in the source's order.
    const std::vector<Track>& tracks() const { return tracks_; }
    // What the file does not keep of the source as it is (a stream the container cannot
    // carry, sound encoded again), one sentence each, for the closing message.
    const QStringList& notes() const { return notes_; }
    void addNote(const QString& note) {
        if (!notes_.contains(note)) notes_ << note;
    }
    // Writes a copied packet of `track`, its times already on the output timeline in timeBase.
    void writeCopied(AVPacket* packet, const Track& track, AVRational timeBase);

private:
    OutputContainer container_;
    ffmpeg::Dictionary options_;  // the muxer's, at create()
    AVRational videoBase_;
    int64_t frameTicks_;  // one frame, video time base
    int videoDelay_;      // frames by which the codec shows pictures after decoding them
    void addTrack(const OpenedSource& source, int index, int number, const CutStart& start);
    void keepLayout(const OpenedSource& source);

    int videoStream_ = -1;  // in the output
    std::vector<Track> tracks_;
    std::vector<std::unique_ptr<AudioEncoder>> soundEncoders_;
    QStringList notes_;
    StreamTicks origin_;  // video time base: source time minus output time of the range
    int64_t lastDts_;     // output, video time base
    StreamTicks writtenTime_;
    int64_t videoWritten_ = 0;
    // AVI stores no timestamps, only the order of its packets, one frame each: the output is
    // timed by that order.
    bool byOrder_ = false;
    bool m2ts_ = false;  // a Blu-ray transport stream (.m2ts)
};

// The muxer for a lossless cut of this source to `path`: the one the extension `container`
// names when it is given, else the one the name's extension names, else the source's own. A
// program stream is written DVD-style when its video is MPEG-2.
const AVOutputFormat* losslessOutputFormat(const OpenedSource& source, const QString& path,
                                           const QString& container = {});

// The extensions of the containers (ContainerRules' kCopyContainers) that carry every stream
// a lossless cut of this source copies, as it is.
QStringList losslessContainers(const OpenedSource& source);

// Why the container the extension names cannot carry a lossless cut of this source as it is:
// the first stream it cannot take, named with the containers that can ("Sound track 1
// (FLAC): An MP4 ... file cannot hold FLAC ...; it can go in: mkv"). Empty when all fit.
QString losslessMisfit(const OpenedSource& source, const QString& extension);
