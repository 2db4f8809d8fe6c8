#pragma once
#include <QDialog>

#include "engine/common/CodecSettings.h"

class QDialogButtonBox;
class QRadioButton;
class QSpinBox;

// The small modal dialog of one AVI video codec: quality or bitrate, and keyframe interval.
// Controls the codec does not offer are left out. Child widgets carry object names so a test
// can drive the dialog: "quality", "bitrate", "byQuality", "byBitrate", "keyframes", "buttons".
class CodecConfigDialog : public QDialog {
    Q_OBJECT
public:
    CodecConfigDialog(const QString& codecName, const CodecCapabilities& caps, const CodecSettings& settings,
                      QWidget* parent = nullptr);

    // The settings as the controls show them.
    CodecSettings settings() const;

private:
    void updateEnabled();

    CodecCapabilities caps_;
    CodecSettings initial_;
    QRadioButton* byQuality_ = nullptr;
    QRadioButton* byBitrate_ = nullptr;
    QSpinBox* quality_ = nullptr;
    QSpinBox* bitrate_ = nullptr;
    QSpinBox* keyframes_ = nullptr;
};

class QWidget;
class VideoSink;

// Shows the dialog of the writer's selected AVI codec; the settings are kept when it is
// accepted. Returns whether it was accepted.
bool configureVideoCodec(VideoSink& writer, QWidget* parent);
