// Markers: the change handlers, frame stepping, the thumbs' drag and the band.
#include <QCoreApplication>

#include "rules/Conversions.h"
#include "rules/MarkerRules.h"
#include "window/ErrorPolicy.h"
#include "window/frmMain.h"

QString frmMain::positionLabel(const QString& ending) const {
    auto marker = [&](int k) {
        return Messages[Msg::Marker] + QString::number(k) + "#: " + QString::number(selection_.marker(k)) + "\r";
    };
    return marker(1) + marker(2) + Messages[Msg::Preview] + ending;
}

void frmMain::showPosition(const QString& ending) {
    positionEnding_ = ending;
    LabelS->setCaption(positionLabel(ending));
}

void frmMain::setMarker(int k, int32_t frame) {
    selection_.setMarker(k, frame);
    sliderOf(k)->setValue(selection_.marker(k));
}

void frmMain::setMarkerLastFrame(int32_t lastFrame) {
    selection_.setLastFrame(lastFrame);
    SliderTimePosition1->setMaximum(lastFrame);
    SliderTimePosition2->setMaximum(lastFrame);
}

void frmMain::SliderTimePosition1_Change() { markerChanged(1); }
void frmMain::SliderTimePosition2_Change() { markerChanged(2); }

void frmMain::markerChanged(int k) {
    if (!FileLoaded) return;
    PictureBox* thumb = k == 1 ? sldThum : sldThum2;
    PictureBox* strip = k == 1 ? sldBack : sldBack2;
    if (!InternalMarkerChange) {
        resumeNext("markerChanged: SeekFrame", [&] { VideoFileIn1->SeekFrame(selection_.marker(k)); });
        resumeNext("markerChanged: ShowPreviewFrame", [&] { ShowPreviewFrame(); });
        if (k == 2) CutEndValue = selection_.marker(k);
    }
    resumeNext("markerChanged: setLeft", [&] {
        thumb->setLeft(
            thumbLeft(selection_.marker(k), selection_.lastFrame(), strip->Left(), strip->Width(), thumb->Width()));
    });
    showPosition(k == 1 ? " ~1" : " ~2");
    update();
    thumb->setToolTip(Messages[Msg::Marker] + ":" + QString::number(selection_.marker(k)));
    Timeline1->setMarkers(selection_.marker(1), selection_.marker(2));
    Timeline1->setPlayhead(selection_.marker(k));
    resumeNext("markerChanged: Calc_Reg", [&] { Calc_Reg(); });
}

void frmMain::stepMarker(int k, int direction) {
    if (!FileLoaded) return;
    setMarker(k, steppedValue(selection_.marker(k), selection_.lastFrame(), direction));
}

void frmMain::cmdPrevFrame_Click() { stepMarker(1, -1); }
void frmMain::cmdNextFrame_Click() { stepMarker(1, +1); }
void frmMain::cmdPrevFrame2_Click() { stepMarker(2, -1); }
void frmMain::cmdNextFrame2_Click() { stepMarker(2, +1); }

void frmMain::sldThum_MouseDown(int, int, float x, float) { thumbMouseDown(1, x); }
void frmMain::sldThum_MouseMove(int button, int shift, float x, float) { thumbMouseMove(1, button, shift, x); }
void frmMain::sldThum_MouseUp(int, int, float, float) { thumbMouseUp(1); }
void frmMain::sldThum2_MouseDown(int, int, float x, float) { thumbMouseDown(2, x); }
void frmMain::sldThum2_MouseMove(int button, int shift, float x, float) { thumbMouseMove(2, button, shift, x); }
void frmMain::sldThum2_MouseUp(int, int, float, float) { thumbMouseUp(2); }

void frmMain::thumbMouseDown(int k, float x) {
    // Any button starts a drag; the grab offset stays for the whole drag.
    (k == 1 ? MoveShapeXOld : MoveShapeXOld2) = toInt16(x);
    (k == 1 ? MoveShape : MoveShape2) = true;
}

void frmMain::thumbMouseMove(int k, int button, int shift, float x) {
    if (!(k == 1 ? MoveShape : MoveShape2)) return;
    PictureBox* thumb = k == 1 ? sldThum : sldThum2;
    PictureBox* strip = k == 1 ? sldBack : sldBack2;
    const float delta = x - (k == 1 ? MoveShapeXOld : MoveShapeXOld2);
    QCoreApplication::processEvents();
    // The window may have been closed during that turn; its reader is gone then.
    if (unloaded_) return;
    thumb->setLeft(thumb->Left() + delta);
    update();
    if (thumb->Left() < strip->Left()) {
        thumb->setLeft(strip->Left());
        thumb->setEnabled(false);
        thumbMouseUp(k);
    }
    const float rightEnd = static_cast<float>(double(strip->Width()) + strip->Left() - thumb->Width());
    if (thumb->Left() > rightEnd) {
        thumb->setLeft(strip->Left() + strip->Width() - thumb->Width());
        thumb->setEnabled(false);
        thumbMouseUp(k);
    }
    setMarker(k, dragValue(thumb->Left(), strip->Left(), strip->Width(), thumb->Width(), selection_.lastFrame()));
    PlayPosition[k] = VideoFileIn1->VideoTime();
}

void frmMain::thumbMouseUp(int k) {
    PictureBox* thumb = k == 1 ? sldThum : sldThum2;
    PictureBox* strip = k == 1 ? sldBack : sldBack2;
    (k == 1 ? MoveShape : MoveShape2) = false;
    setMarker(k, dragValue(thumb->Left(), strip->Left(), strip->Width(), thumb->Width(), selection_.lastFrame()));
    thumb->setEnabled(true);
}

void frmMain::Calc_Reg() {
    const int32_t last = selection_.lastFrame();
    const Band band = bandBetween(selection_.marker(1), last, sldBack->Left(), sldBack->Width(), sldThum->Width(),
                                  selection_.marker(2), last, sldBack2->Left(), sldBack2->Width(), sldThum2->Width());
    lblreg->setWidth(static_cast<float>(band.width));
    lblreg->setLeft(static_cast<float>(band.left));
}

int frmMain::drivenMarker() const { return cmbPlaySld->currentIndex() == 1 ? 2 : 1; }

void frmMain::moveDrivenMarker(int32_t frame) {
    const int k = drivenMarker();
    // Only while the marker could be stepped: a source is open and no job runs.
    if (!FileLoaded || !(k == 1 ? cmdPrevFrame : cmdPrevFrame2)->isEnabled()) return;
    setMarker(k, frame);
    // Playback starts from here, as after a drag of the marker's thumb.
    PlayPosition[k] = VideoFileIn1->VideoTime();
}

void frmMain::timelineSourceChanged() {
    std::shared_ptr<const OpenedSource> opened = FileLoaded ? VideoFileIn1->openedSource() : nullptr;
    if (!opened || !services_.fillTimeline) return Timeline1->clearSource();
    Timeline1->setSource(opened);
    Timeline1->setMarkers(selection_.marker(1), selection_.marker(2));
    Timeline1->setPlayhead(selection_.marker(drivenMarker()));
}
