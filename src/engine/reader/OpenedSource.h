#pragma once
// A source as the engine holds it from its open on: the file itself (renamed or deleted since,
// it stays readable), the facts of its streams and the packet index of its video. The reader,
// the jobs and the timeline share one; nobody opens the source again by its name.
#include <QString>
#include <memory>

#include "engine/common/MediaTime.h"
#include "engine/reader/Demux.h"
#include "engine/reader/PacketIndex.h"
#include "engine/reader/SourceScan.h"

class OpenedSource {
public:
    // Opens, checks and indexes the file by the rules every user of a source shares: a regular,
    // readable, non-empty local file; no playlist or script that refers to other files; video
    // and sound whose decoders exist; a picture size the engine takes; a video not cut short
    // (fewer frames than its header counts) and holding pictures. Throws MediaError.
    static std::shared_ptr<const OpenedSource> open(const QString& path, const ScanProgress& progress = {});
    OpenedSource(const OpenedSource&) = delete;
    OpenedSource& operator=(const OpenedSource&) = delete;

    const QString& path() const { return file_->path(); }
    // The demuxer that read the streams' facts (codec parameters, time bases, tags). It is never
    // read from again, so every user may look at it.
    const AVFormatContext* facts() const { return facts_.get(); }
    int videoStream() const { return videoStream_; }  // -1 for none
    int audioStream() const { return audioStream_; }  // -1 for none
    const AVStream* video() const { return videoStream_ >= 0 ? facts_->streams[videoStream_] : nullptr; }
    const AVStream* audio() const { return audioStream_ >= 0 ? facts_->streams[audioStream_] : nullptr; }
    // The video's packet index; empty without video.
    const PacketIndex& index() const { return *index_; }
    // Moves a packet of any stream read from the file (times in `base`) as the index moved the
    // part of the file it lies in to continue the video's time line (see PacketIndex::joinOffsetAt).
    // A packet without a position (the second sound frame of a transport stream's packet on)
    // moves by `last`, the offset of the reader's packet before it. Returns the offset it moved by.
    int64_t continueTimeLine(AVPacket* packet, AVRational base, int64_t last) const;
    std::shared_ptr<const PacketIndex> sharedIndex() const { return index_; }
    // The frame rate the video's header states, 0 when it states none believable.
    double headerFrameRate() const { return headerRate_; }
    // The header's rate, else 25 fps: what frames are counted at where their own times do not
    // serve (files timed by packet order, progress, encoders' time bases).
    double nominalFrameRate() const { return headerRate_ > 0 ? headerRate_ : 25; }
    // One frame at the nominal rate in the video's time base, at least one tick.
    StreamTicks frameTicks() const;

    // True when the container's header comes before the media it describes (an MP4 or
    // QuickTime file whose moov precedes its mdat, made to play while it downloads).
    bool headerBeforeMedia() const;

    // What the scan at the open measured.
    struct Measured {
        int64_t videoBytes = 0;
        bool audioSeen = false;
        Seconds audioStart, audioEnd;  // where the first sample plays, where the last ends
        int64_t audioBytes = 0;
    };
    const Measured& measured() const { return measured_; }
    // Why a copy cannot start at the video's first keyframe that is no clean start (an H.264
    // open group whose pictures cannot be rewritten); empty when every keyframe is one.
    const QString& openGroupRefusal() const { return openGroupRefusal_; }
    // True when the video is MPEG-4 with packed B-frames, read unpacked (see PackedPictures).
    bool packedPictures() const { return packedPictures_; }

    // A demuxer of its own on the held file, for reading the packets of `stream`. With
    // fullInfo it reads the streams' facts as the open did (the times it gives packets then
    // match the index's); otherwise only where the container's header leaves the stream
    // undescribed. Throws MediaError.
    demux::Input openDemuxer(int stream, bool fullInfo) const;
    // Has the system read the file's bytes [from, from + length) ahead (see SourceFile).
    void prefetch(int64_t from, int64_t length) const { file_->prefetch(from, length); }

private:
    OpenedSource() = default;

    std::shared_ptr<const demux::SourceFile> file_;
    demux::Input facts_;
    int videoStream_ = -1, audioStream_ = -1;
    std::shared_ptr<const PacketIndex> index_;
    double headerRate_ = 0;
    Measured measured_;
    QString openGroupRefusal_;
    bool packedPictures_ = false;
};
