#pragma once
// Checks of a written file by tools that did not write it: GStreamer's own demuxers and
// decoders beside the ffmpeg tool, the packets as ffprobe reads them, and how far sound and
// picture reach in time.
#include <QByteArray>
#include <QList>
#include <QString>

namespace checks {

// The frame numbers shown by every frame of the file's video as GStreamer decodes it
// (decodebin); *problems receives what gst-launch reported on failure, warnings included.
QList<int> gstreamerFrameNumbers(const QString& path, QString* problems);
// What `ffmpeg -v error` prints while decoding every stream of the file: empty when clean.
QString ffmpegDecodeErrors(const QString& path);

// A video packet as ffprobe reads it, in decode order.
struct Packet {
    QByteArray data;
    bool key = false;  // a keyframe as the container marks it
    int frame = 0;     // 1-based display position of the picture it carries (0 when not asked for)
};
QList<Packet> videoPackets(const QString& path, bool withFrameNumbers = false);
// The packets a cut of frames first..last must copy unchanged, in decode order: those of the
// groups of pictures (keyframe to keyframe, the end of the file closing the last) that lie
// wholly inside the range, without the leading pictures of the first such group, which refer
// to frames before it, and without the leading pictures of the keyframe that follows them.
QList<Packet> innerGroupPackets(const QList<Packet>& source, int first, int last);
// -1 when every packet of `part` occurs in `whole` unchanged and in the same order (other
// packets may come between), otherwise the index of the first packet of `part` that does not.
// A keyframe may follow the stream's headers in its packet (sequence header, parameter sets),
// as a writer repeats them where a copied stretch begins; an H.264 packet may differ in its
// slice headers' first bytes (a copy that starts in an open group renumbers them).
int firstMissing(const QList<Packet>& part, const QList<Packet>& whole);
// The MD5 of every decoded picture of the file's video in display order (ffmpeg's framemd5).
QList<QByteArray> pictureHashes(const QString& path);

// Where the sound's packets begin and end in seconds, and the longest of them (one audio
// frame).
struct Span {
    double start = 0, end = 0, longest = 0;
};
Span soundSpan(const QString& path);
// When the first picture is shown, in seconds.
double pictureStart(const QString& path);

// Container, codecs and picture format in one line, to compare a file with its source.
QString formatSummary(const QString& path);

// Whether this process still has the file open.
bool openInThisProcess(const QString& path);

}  // namespace checks
