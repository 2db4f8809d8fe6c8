#include "window/CodecConfigDialog.h"

#include "engine/common/VideoSink.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

CodecConfigDialog::CodecConfigDialog(const QString& codecName, const CodecCapabilities& caps,
                                     const CodecSettings& settings, QWidget* parent)
    : QDialog(parent), caps_(caps), initial_(clampedSettings(settings, caps)) {
    setWindowTitle(tr("%1 settings").arg(codecName));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);

    const bool choice = caps.hasQuality() && caps.bitrate;
    if (choice) {
        byQuality_ = new QRadioButton(tr("Constant quality"), this);
        byQuality_->setObjectName("byQuality");
        byBitrate_ = new QRadioButton(tr("Target bitrate"), this);
        byBitrate_->setObjectName("byBitrate");
        (initial_.rateControl == CodecSettings::RateControl::Bitrate ? byBitrate_ : byQuality_)->setChecked(true);
        form->addRow(tr("Rate control:"), byQuality_);
        form->addRow(QString(), byBitrate_);
        connect(byQuality_, &QRadioButton::toggled, this, &CodecConfigDialog::updateEnabled);
    }
    if (caps.hasQuality()) {
        quality_ = new QSpinBox(this);
        quality_->setObjectName("quality");
        quality_->setRange(caps.qualityMin, caps.qualityMax);
        quality_->setValue(initial_.quality);
        quality_->setToolTip(caps.qualityHint);
        form->addRow(caps.qualityName + ":", quality_);
        form->addRow(QString(), new QLabel(caps.qualityHint, this));
    }
    if (caps.bitrate) {
        bitrate_ = new QSpinBox(this);
        bitrate_->setObjectName("bitrate");
        bitrate_->setRange(kMinCodecBitrateKbps, kMaxCodecBitrateKbps);
        bitrate_->setSingleStep(100);
        bitrate_->setSuffix(tr(" kbit/s"));
        bitrate_->setValue(initial_.bitrateKbps);
        form->addRow(tr("Bitrate:"), bitrate_);
    }
    if (caps.keyframes) {
        keyframes_ = new QSpinBox(this);
        keyframes_->setObjectName("keyframes");
        keyframes_->setRange(1, kMaxKeyframeInterval);
        keyframes_->setValue(initial_.keyframeInterval);
        keyframes_->setSuffix(tr(" frames"));
        form->addRow(tr("Keyframe every:"), keyframes_);
    } else if (caps.configurable()) {
        form->addRow(new QLabel(tr("Every frame is a keyframe."), this));
    }
    if (!caps.configurable()) layout->addWidget(new QLabel(tr("This codec has no settings to choose."), this));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName("buttons");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    updateEnabled();
}

void CodecConfigDialog::updateEnabled() {
    if (!byQuality_) return;
    quality_->setEnabled(byQuality_->isChecked());
    bitrate_->setEnabled(!byQuality_->isChecked());
}

CodecSettings CodecConfigDialog::settings() const {
    CodecSettings s = initial_;
    if (byBitrate_)
        s.rateControl =
            byBitrate_->isChecked() ? CodecSettings::RateControl::Bitrate : CodecSettings::RateControl::Quality;
    if (quality_) s.quality = quality_->value();
    if (bitrate_) s.bitrateKbps = bitrate_->value();
    if (keyframes_) s.keyframeInterval = keyframes_->value();
    return clampedSettings(s, caps_);
}

bool configureVideoCodec(VideoSink& writer, QWidget* parent) {
    CodecConfigDialog dialog(writer.VideoCodecName(), writer.VideoCodecCapabilities(), writer.VideoCodecSettings(),
                             parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    writer.SetVideoCodecSettings(dialog.settings());
    return true;
}
