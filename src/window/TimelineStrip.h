#pragma once
// The timeline strip under the marker sliders: thumbnails of key frames along the source, the
// sound's waveform, ticks where a cut in the source's own format needs no encoding, marks where
// the picture is black or the sound silent, the marked range and further bands, and the frame
// on show as a playhead. Click and drag choose a frame; Ctrl+wheel zooms around the pointer, the
// wheel scrolls.
//
// Thumbnails, waveform (with the silences) and black pictures are made on worker threads, each
// with its own demuxer on the opened source (never the window's reader), and appear as they are
// ready; the black pictures, which need the whole video decoded, only once the rest is done. They
// are kept for the open source (a fixed number of small pictures and peaks, and the marks) and
// stop promptly when the source closes (TimelineStrip_work.cpp).
#include <QImage>
#include <QThread>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "engine/timeline/QuietScans.h"
#include "rules/TimelineLayout.h"

class OpenedSource;
class QPainter;

class TimelineStrip : public QWidget {
    Q_OBJECT
public:
    enum class BandKind { Kept, Removed };
    struct Band {
        int32_t first = 1, last = 1;
        BandKind kind = BandKind::Kept;
    };
    static constexpr int kThumbnails = 100;  // along the whole source
    static constexpr int kStripHeight = 66;  // pixels
    static constexpr int kThumbnailHeight = 38;

    explicit TimelineStrip(QWidget* parent = nullptr);
    ~TimelineStrip() override;

    // A source opened: the strip shows its whole length and starts its background work.
    void setSource(std::shared_ptr<const OpenedSource> source);
    // No source: the background work stops (before this returns) and the strip is empty.
    void clearSource();
    // While a job runs, the strip reads nothing: its unfinished work stops (its decoders and
    // their memory go) and starts again, where it can, when the last hold ends.
    void holdWork();
    void resumeWork();

    void setMarkers(int32_t marker1, int32_t marker2);
    void setPlayhead(int32_t frame);  // the frame on show; scrolled into view
    // Further bands (pieces kept or removed), drawn under the marked range.
    void setBands(std::vector<Band> bands);
    const std::vector<Band>& bands() const { return bands_; }

    // The frames where a cut needs no encoding (the ticks), ascending; empty without a source.
    const std::vector<int32_t>& cleanStarts() const { return cleanStarts_; }
    // Whether marker frame `frame` needs no encoding as a cut's start (or, for the later marker,
    // as its end).
    bool startsClean(int32_t frame) const;
    bool endsClean(int32_t frame) const;

    const TimelineView& view() const { return view_; }
    int thumbnailsWanted() const { return static_cast<int>(thumbnailFrames_.size()); }
    int thumbnailsReady() const { return static_cast<int>(thumbnails_.size()); }
    bool waveformReady() const { return waveformDone_; }
    // Where the picture is black, and the sound silent, for at least half a second.
    const std::vector<FrameSpan>& blackMarks() const { return blacks_; }
    const std::vector<FrameSpan>& silenceMarks() const { return silences_; }
    bool blackMarksReady() const { return blackDone_; }
    // Bytes the strip's caches hold (thumbnails and peaks).
    int64_t cacheBytes() const;
    // The x of frame's place in the strip's own pixels.
    int xOf(int32_t frame) const;

signals:
    // A click or drag on the strip chose this frame.
    void frameChosen(int32_t frame);
    // Thumbnails and waveform are complete for the open source.
    void backgroundDone();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void stopWork();
    void startThumbnails(std::shared_ptr<const OpenedSource> source);
    void startSound(std::shared_ptr<const OpenedSource> source);
    void startBlack(std::shared_ptr<const OpenedSource> source);
    void checkDone();
    void paintMarks(QPainter& p, const std::vector<FrameSpan>& marks, int top, int height, const QColor& colour);
    void choose(double x);
    const QImage* thumbnailFor(int32_t frame) const;

    TimelineView view_;
    std::vector<int32_t> cleanStarts_;
    std::vector<int32_t> thumbnailFrames_;
    std::map<int32_t, QImage> thumbnails_;  // by key frame
    std::vector<uint8_t> peaks_;
    std::vector<FrameSpan> silences_, blacks_;
    bool hasSound_ = false;
    bool waveformDone_ = false;
    bool blackDone_ = false;
    std::shared_ptr<const OpenedSource> source_;  // for the black pictures' pass, until it starts
    std::shared_ptr<const OpenedSource> opened_;  // the open source, for work started again after a hold
    int holds_ = 0;
    bool interrupted_ = false;  // a hold stopped unfinished work
    int32_t marker1_ = 1, marker2_ = 1, playhead_ = 1;
    std::vector<Band> bands_;
    bool hasSource_ = false;

    // The background work of the open source; results posted back carry its generation.
    std::shared_ptr<std::atomic<bool>> stop_;
    std::vector<QThread*> workers_;
    int generation_ = 0;
};
