#pragma once
#include <QImage>
#include <QWidget>
#include <cstdint>

#include "engine/common/FrameData.h"

// The preview: draws the latest frame. ShowFrame only keeps the frame and schedules a
// repaint; the conversion to RGB happens at paint time, so a burst of ShowFrame calls costs
// at most one conversion per repaint.
//
// ViewSize: 0 shrinks the frame to fit the view keeping its aspect ratio (never enlarging);
// 1..7 are documented in VideoView.cpp.
class VideoView : public QWidget {
    Q_OBJECT
public:
    explicit VideoView(QWidget* parent = nullptr);
    ~VideoView() override;

    virtual void ShowFrame(const FrameData& frame);
    virtual void Clear();
    virtual void BeginPlayback(int32_t width, int32_t height);
    virtual void EndPlayback();
    virtual void SetViewSize(int32_t size);
    int32_t ViewSize() const { return viewSize_; }
    bool isPlaying() const { return playing_; }

    // For tests: the frame data on show, the picture last painted, and how many RGB
    // conversions painting has cost so far.
    const FrameData& currentFrame() const { return frame_; }
    // Paints the view now and returns the result (what the screen shows).
    QImage renderedImage();
    int conversionCount() const { return conversions_; }
    // The rectangle the frame is drawn into for the current size and ViewSize.
    QRect targetRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    FrameData frame_;
    QImage cache_;
    QSize cacheSize_;  // the size cache_ was converted at
    bool cacheValid_ = false;
    int32_t viewSize_ = 0;
    bool playing_ = false;
    int conversions_ = 0;
    FrameConverter converter_;
};

// Where a picture of displaySize is drawn inside a view of viewSize for a ViewSize mode
// (the modes are listed in VideoView.cpp). The result may reach outside the view; the
// view crops it. Empty when either size is empty.
QRect videoTargetRect(int32_t mode, QSize displaySize, QSize viewSize);
