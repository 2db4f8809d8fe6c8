// Writer configuration: the engine's codec and profile lists and the settings of a job's file.
#include <QFileInfo>

#include "rules/Conversions.h"
#include "rules/OutputNames.h"
#include "window/CodecConfigDialog.h"
#include "window/ErrorPolicy.h"
#include "window/frmMain.h"

std::optional<QString> frmMain::ConfigureOutputWriter(QString& path, ::OutputFormat format) {
    try {
        VideoSource& in = *VideoFileIn1;
        VideoSink& out = *VideoFileOut;
        const bool writerFormat = formatInfo(format).container != 0;
        if (writerFormat) {
            if (in.HasVideo()) out.SetVideoFormat(in.FrameWidth(), in.FrameHeight(), in.FrameRate());
            if (in.HasAudio()) out.SetAudioFormat(in.AudioSampleRate(), in.AudioChannels());
            out.SetHasVideo(in.HasVideo());
            out.SetHasAudio(in.HasAudio());
        }
        switch (format) {
            case ::OutputFormat::Avi: {
                const int32_t channels = cmbCnannelsAVI->currentIndex() + 1;
                const int32_t rate = in.AudioSampleRate();
                if (optPCM->isChecked()) {
                    out.SetAudioPCM(rate, channels, 16);
                } else if (optALAW->isChecked()) {
                    out.SetAudioALaw(rate, channels);
                } else if (optULAW->isChecked()) {
                    out.SetAudioMuLaw(rate, channels);
                } else if (optMP3->isChecked()) {
                    out.SetAudioMP3(128, rate, channels);
                } else if (optGSM->isChecked()) {
                    out.SetAudioGSM(rate);
                } else if (optADPCM->isChecked()) {
                    out.SetAudioADPCM(rate, channels);
                }
                out.SetAviVideo(in.FrameWidth(), in.FrameHeight(), leadingNumber(cmbFramerateAVI->currentText()));
                break;
            }
            case ::OutputFormat::Mpeg: {
                const int32_t version = rbMPEG1->isChecked() ? 1 : rbMPEG2->isChecked() ? 2 : 0;
                out.SetMpegVideo(version, toInt32(leadingNumber(cmbVideoBitrateMPEG->currentText())), in.FrameWidth(),
                                 in.FrameHeight(), leadingNumber(cmbFramerateMPEG->currentText()));
                out.SetMpegAudio(toInt32(leadingNumber(cmbAudioBitrateMPEG->currentText())), in.AudioSampleRate(),
                                 cmbCnannelsMPEG->currentIndex() + 1);
                break;
            }
            case ::OutputFormat::Wmv: out.SetWmvProfile(cmbWMVCodecs->count() - cmbWMVCodecs->currentIndex()); break;
            // The source's own format is written by OriginalJob from the source's packets:
            // the writer keeps its settings and only the name is chosen here.
            case ::OutputFormat::Original: break;
        }
        // A name is taken by any directory entry, a dangling link included: writing through
        // the link would create a file somewhere else.
        path = freeName(path, [](const QString& p) {
            const QFileInfo entry(p);
            return entry.exists() || entry.isSymLink();
        });
        if (writerFormat) out.CreateFile(path, formatInfo(format).container);
    } catch (...) {
        return describeError(std::current_exception());
    }
    return std::nullopt;
}

void frmMain::FillEngineLists() {
    // Each list is filled on its own: a failure in one leaves the other intact.
    resumeNext("FillEngineLists: fillAviCodecList", [&] { fillAviCodecList(); });
    resumeNext("FillEngineLists: fillWmvProfileList", [&] { fillWmvProfileList(); });
}

void frmMain::fillAviCodecList() {
    const int32_t codecs = VideoFileOut->VideoCodecCount();
    for (int32_t i = codecs; i >= 1; --i) {
        VideoFileOut->SetVideoCodec(i);
        cmbAVICodecs->addItem(VideoFileOut->VideoCodecName());
    }
    cmbAVICodecs->setCurrentIndex(-1);
    if (cmbAVICodecs->count() > 0) setListIndex(cmbAVICodecs, 0);
}

void frmMain::fillWmvProfileList() {
    const int32_t profiles = VideoFileOut->WmvProfileCount();
    for (int32_t i = profiles; i >= 1; --i) {
        VideoFileOut->SetWmvProfile(i);
        cmbWMVCodecs->addItem(VideoFileOut->WmvProfileName());
    }
    cmbWMVCodecs->setCurrentIndex(-1);
    if (cmbWMVCodecs->count() > 0) setListIndex(cmbWMVCodecs, 0);
}

void frmMain::cmbAVICodecs_Click() {
    try {
        VideoFileOut->SetVideoCodec(cmbAVICodecs->count() - cmbAVICodecs->currentIndex());
    } catch (...) {
        dialogs().MsgBox(describeError(std::current_exception()), MsgButtons::Ok, MsgIcon::Exclamation);
    }
    Skin1->SkinWindowAs(cmbAVICodecs, "Button");
}

void frmMain::btnConfigureVideoCodec_Click() {
    try {
        configureVideoCodec(*VideoFileOut, this);
    } catch (...) {
        dialogs().MsgBox(describeError(std::current_exception()), MsgButtons::Ok, MsgIcon::Exclamation);
    }
}
