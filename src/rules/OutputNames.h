#pragma once
#include <QString>
#include <cstdint>
#include <utility>

// Output file names. A name's extension begins at the first "." of its file name (the last
// path component), so dots in folder names ("/home/anna.berg/") never move an output.

// Index of the first "." in the file-name part of `path`, or -1.
qsizetype extensionDot(const QString& path);

// The two names proposed for a source: "<stem>_1.<ext>" and "<stem>_2.<ext>", the stem
// being the path up to the first dot of its file name (the whole path when there is none).
std::pair<QString, QString> proposeOutputNames(const QString& sourcePath, const QString& extension);

// The extension that names a source's own container: the text after the last "." of its
// file name ("clip.part.mp4" -> "mp4"); empty when it has none (a name that only begins
// with a dot has none).
QString sourceExtension(const QString& sourcePath);

// The extension piece of a name: the text between the first and the second dot of its
// file name (to the end when there is one dot); nullopt-like empty + false when no dot.
bool extensionPiece(const QString& path, QString* piece);

// Rewrites `oldPiece` to `newExtension` in the extension piece of `path`: only when the
// file name's piece equals oldPiece; folders are never changed.
QString rewriteExtension(const QString& path, const QString& oldPiece, const QString& newExtension);

// One step of the free-name search at the first dot of the file name: the character just
// before the dot is read as a digit (0 when it is not one) and replaced by that number + 1:
// clip_1.avi -> clip_2.avi, clip_9.avi -> clip_10.avi, clip.avi -> cli1.avi. A character
// outside the basic plane (a surrogate pair) is replaced whole.
// Throws std::invalid_argument when the file name has no dot or begins with it.
QString nextNameStep(const QString& path);

// The first name from `path` on (path itself included) for which `exists` is false.
template <typename Exists>
QString freeName(QString path, Exists exists) {
    while (exists(path)) path = nextNameStep(path);
    return path;
}

// The proposal for saving a frame: the source path without its extension (from the last "."
// of its file name on, as sourceExtension reads it), " Frame" and the frame number:
// "/v/clip.webm" -> "/v/clip Frame22".
QString framePictureProposal(const QString& sourcePath, int32_t frameNumber);

// The file a frame is written to, for the name accepted in the save dialog and the picture
// format (1..11, as pictureFormatOfName) it is written in: a name that ends in a picture
// format's extension stays as it is; any other gets the format's extension
// ("clip Frame22" -> "clip Frame22.png"). Unchanged for a format outside 1..11.
QString framePictureFile(const QString& name, int format);

// The picture format a file name asks for by its extension (case ignored), as the index of
// the frame dialog's filter: 1 BMP, 2 JPEG (jpg, jpeg), 3 GIF, 4 TIFF (tif, tiff), 5 PCX,
// 6 WMF, 7 EMF, 8 TGA, 9 PNG, 10 RAS, 11 JPEG 2000 (jp2, j2k). 0 for any other name.
int pictureFormatOfName(const QString& path);
