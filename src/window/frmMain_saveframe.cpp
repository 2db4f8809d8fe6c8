// Saving the frame on show as a picture.
#include "rules/OutputNames.h"
#include "window/ErrorPolicy.h"
#include "window/frmMain.h"

namespace {
const QString kPictureFilter = QStringLiteral(
    "BMP Files (*.bmp)|*.bmp|JPEG Files (*.jpg)|*.jpg|GIF Files (*.gif)|*.gif|"
    "TIFF Files (*.tif)|*.tif;*.tif;*.cpt|PCX Files (*.pcx)|*.pcx|"
    "WMF Files (*.wmf)|*.wmf|EMF Files (*.emf)|*.emf|TGA Files (*.tga)|*.tga|"
    "PNG Files (*.png)|*.png|RAS Files (*.ras)|*.ras|JPEG2000 Files (*.j2k)|*.j2k|");

using SaveOperation = int32_t (ImageFile::*)(const FrameData&, const QString&);
// The picture writer of each entry of the filter, by filter index 1..11.
const SaveOperation kSaveByFilterIndex[] = {&ImageFile::SaveBMP,  &ImageFile::SaveJPEG,    &ImageFile::SaveGIF,
                                            &ImageFile::SaveTIFF, &ImageFile::SavePCX,     &ImageFile::SaveWMF,
                                            &ImageFile::SaveEMF,  &ImageFile::SaveTGA,     &ImageFile::SavePNG,
                                            &ImageFile::SaveRAS,  &ImageFile::SaveJPEG2000};
}  // namespace

void frmMain::cmdSavePictureAs_Click() {
    if (!FileLoaded) return;
    endQuietly("cmdSavePictureAs_Click: save dialog", [&] {
        FileDialogState& d = dialogs().state;
        d.FileName = framePictureProposal(txtFile->text(), VideoFileIn1->CurrentFrame());
        d.DialogTitle = "Save Picture To File";
        d.CancelError = true;
        d.Filter = kPictureFilter;
        d.FilterIndex = lastPictureFormat_;  // not the index another dialog left behind
        dialogs().ShowSave();
        if (unloaded_ || d.FileName.isEmpty()) return;
        // A name ending in one of the formats' extensions is written in that format; any
        // other name in the format of the chosen filter, with that format's extension added.
        const int byName = pictureFormatOfName(d.FileName);
        const int index = byName != 0 ? byName : d.FilterIndex;
        if (index < 1 || index > 11) return;
        lastPictureFormat_ = index;
        (ImageFile1.get()->*kSaveByFilterIndex[index - 1])(FrameBits, framePictureFile(d.FileName, index));
    });
}
