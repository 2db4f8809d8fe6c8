#include "support/DecodeChecks.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <algorithm>

#include "support/Clips.h"

namespace checks {
namespace {

struct Ran {
    int code = -1;
    QByteArray out, err;
};

Ran runTool(const QString& program, const QStringList& args, const QStringList& environment = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& pair : environment) env.insert(pair.section('=', 0, 0), pair.section('=', 1));
    p.setProcessEnvironment(env);
    p.start(program, args);
    Ran r;
    if (!p.waitForStarted() || !p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        r.err = program.toUtf8() + " did not finish";
        return r;
    }
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -3;
    return r;
}

QJsonArray probeList(const QString& path, const QStringList& show, const QString& key) {
    const Ran r = runTool("ffprobe", QStringList{"-v", "error", "-of", "json"} + show + QStringList{path});
    return r.code == 0 ? QJsonDocument::fromJson(r.out).object()[key].toArray() : QJsonArray();
}

}  // namespace

QList<int> gstreamerFrameNumbers(const QString& path, QString* problems) {
    // Without a video stream the picture branch would wait for a pad that never comes.
    const QJsonArray streams = clips::probe(path)["streams"].toArray();
    if (std::none_of(streams.begin(), streams.end(),
                     [](const auto& s) { return s.toObject()["codec_type"] == "video"; })) {
        if (problems) *problems = QStringLiteral("no video stream");
        return {};
    }
    // Small grey pictures on standard output; the sound is decoded too, so that its errors
    // show. At debug level 1 GStreamer prints exactly its errors, those of the FFmpeg
    // decoders inside it included.
    const int w = 256, h = 64;
    const QString launch = QStringLiteral(
                               "filesrc location=%1 ! decodebin name=d ! videoconvert ! videoscale "
                               "! video/x-raw,format=GRAY8,width=%2,height=%3 ! fdsink fd=1 "
                               "d. ! audio/x-raw ! queue ! audioconvert ! fakesink")
                               .arg(path)
                               .arg(w)
                               .arg(h);
    const Ran r = runTool("gst-launch-1.0", QStringList{"-q"} + launch.split(' ', Qt::SkipEmptyParts),
                          {"GST_DEBUG=1", "GST_DEBUG_NO_COLOR=1"});
    if (problems) *problems = QString::fromUtf8(r.err).trimmed();
    if (r.code != 0 && problems && problems->isEmpty())
        *problems = QStringLiteral("gst-launch-1.0 exited %1").arg(r.code);
    QList<int> numbers;
    for (qsizetype off = 0; off + w * h <= r.out.size(); off += w * h) {
        const QImage image(reinterpret_cast<const uchar*>(r.out.constData() + off), w, h, w, QImage::Format_Grayscale8);
        numbers << clips::frameNumberOf(image);
    }
    return numbers;
}

QString ffmpegDecodeErrors(const QString& path) {
    const Ran r = runTool("ffmpeg", {"-nostdin", "-v", "error", "-i", path, "-f", "null", "-"});
    QString errors = QString::fromUtf8(r.err).trimmed();
    if (r.code != 0 && errors.isEmpty()) errors = QStringLiteral("ffmpeg exited %1").arg(r.code);
    return errors;
}

QList<Packet> videoPackets(const QString& path, bool withFrameNumbers) {
    const QJsonArray packets = probeList(
        path, {"-select_streams", "v:0", "-show_packets", "-show_data", "-show_entries", "packet=pos,flags,data"},
        "packets");
    // A decoded picture names the position of the packet that carried it; the pictures come
    // in display order.
    QHash<QString, int> frameAt;
    if (withFrameNumbers) {
        const QJsonArray frames =
            probeList(path, {"-select_streams", "v:0", "-show_frames", "-show_entries", "frame=pkt_pos"}, "frames");
        for (int i = 0; i < frames.size(); ++i) {
            const QString pos = frames[i].toObject()["pkt_pos"].toString();
            if (!pos.isEmpty()) frameAt.insert(pos, i + 1);
        }
    }
    QList<Packet> list;
    for (const auto& p : packets) {
        const QJsonObject o = p.toObject();
        // The data comes as a hex dump: "00000010: 0000 01b3 1400 ...  ....", 16 bytes a line.
        QByteArray data;
        for (const QString& line : o["data"].toString().split('\n', Qt::SkipEmptyParts))
            data += QByteArray::fromHex(line.section(": ", 1).section("  ", 0, 0).toLatin1());
        // A keyframe as the container marks it: for H.264 an IDR picture or the I picture of
        // an open group (a recovery point), which a copy may start at as well.
        const bool key = o["flags"].toString().startsWith('K');
        list.append({data, key, frameAt.value(o["pos"].toString(), 0)});
    }
    return list;
}

QList<Packet> innerGroupPackets(const QList<Packet>& source, int first, int last) {
    // Keyframes by decode index and frame; the end of the file closes the last group.
    QList<std::pair<int, int>> keys;
    for (int i = 0; i < source.size(); ++i)
        if (source[i].key) keys.append({i, source[i].frame});
    keys.append({int(source.size()), int(source.size()) + 1});
    const auto begin = std::find_if(keys.begin(), keys.end(), [&](const auto& k) { return k.second >= first; });
    const auto end = std::find_if(keys.rbegin(), keys.rend(), [&](const auto& k) { return k.second <= last + 1; });
    QList<Packet> inner;
    if (begin == keys.end() || end == keys.rend() || end->second <= begin->second) return inner;
    for (int i = begin->first; i < end->first; ++i)
        if (source[i].frame >= begin->second && source[i].frame < end->second) inner << source[i];
    return inner;
}

namespace {

// The NAL units of an H.264 packet: behind start codes (transport streams) or four-byte
// lengths (MP4, Matroska).
QList<QByteArray> nalUnits(const QByteArray& d) {
    QList<QByteArray> units;
    const QByteArray startCode("\0\0\1", 3);
    if (d.startsWith(startCode) || d.startsWith(QByteArray("\0\0\0\1", 4))) {
        for (qsizetype at = d.indexOf(startCode); at >= 0;) {
            const qsizetype next = d.indexOf(startCode, at + 3);
            QByteArray unit = d.mid(at + 3, next < 0 ? -1 : next - at - 3);
            while (unit.endsWith('\0')) unit.chop(1);
            units << unit;
            at = next;
        }
        return units;
    }
    for (qsizetype at = 0; at + 4 < d.size();) {
        const qsizetype length = qsizetype(quint32(uchar(d[at])) << 24 | quint32(uchar(d[at + 1])) << 16 |
                                           quint32(uchar(d[at + 2])) << 8 | uchar(d[at + 3]));
        units << d.mid(at + 4, length);
        at += 4 + length;
    }
    return units;
}

// An H.264 copy that starts in an open group rewrites the slice headers (the first picture
// becomes an IDR picture, the frame numbers after it count from it): the copied packet then
// holds the source's units, perhaps behind the stream's headers, each unchanged or a slice
// ending in the same data.
bool sameAfterSliceHeader(const QByteArray& source, const QByteArray& copied) {
    const QList<QByteArray> from = nalUnits(source), to = nalUnits(copied);
    if (from.isEmpty() || to.size() < from.size()) return false;
    for (qsizetype i = 0; i < from.size(); ++i) {
        const QByteArray &a = from[i], &b = to[to.size() - from.size() + i];
        const bool slice = !a.isEmpty() && ((a[0] & 0x1f) == 1 || (a[0] & 0x1f) == 5);
        if (a != b && !(slice && a.size() > 24 && b.endsWith(a.mid(16)))) return false;
    }
    return true;
}

}  // namespace

int firstMissing(const QList<Packet>& part, const QList<Packet>& whole) {
    auto at = whole.begin();
    for (int i = 0; i < part.size(); ++i) {
        at = std::find_if(at, whole.end(), [&](const Packet& p) {
            return p.data == part[i].data || (part[i].key && p.key && p.data.endsWith(part[i].data)) ||
                   sameAfterSliceHeader(part[i].data, p.data);
        });
        if (at == whole.end()) return i;
        ++at;
    }
    return -1;
}

QList<QByteArray> pictureHashes(const QString& path) {
    const Ran r = runTool("ffmpeg", {"-nostdin", "-v", "error", "-i", path, "-map", "0:v:0", "-vsync", "passthrough",
                                     "-f", "framemd5", "-"});
    QList<QByteArray> hashes;
    for (const QByteArray& line : r.out.split('\n'))
        if (!line.startsWith('#') && line.contains(',')) hashes << line.mid(line.lastIndexOf(',') + 1).trimmed();
    return hashes;
}

Span soundSpan(const QString& path) {
    const QJsonArray packets = probeList(
        path, {"-select_streams", "a:0", "-show_packets", "-show_entries", "packet=pts_time,duration_time"}, "packets");
    Span s;
    bool any = false;
    for (const auto& p : packets) {
        const QJsonObject o = p.toObject();
        bool timed = false;
        const double pts = o["pts_time"].toString().toDouble(&timed), length = o["duration_time"].toString().toDouble();
        if (!timed) continue;
        s.start = any ? std::min(s.start, pts) : pts;
        s.end = any ? std::max(s.end, pts + length) : pts + length;
        s.longest = std::max(s.longest, length);
        any = true;
    }
    return s;
}

double pictureStart(const QString& path) {
    // Decoded, because some containers (AVI) give no presentation time to every packet.
    const QJsonArray frames = probeList(path,
                                        {"-select_streams", "v:0", "-read_intervals", "%+#1", "-show_frames",
                                         "-show_entries", "frame=best_effort_timestamp_time"},
                                        "frames");
    return frames.isEmpty() ? -1 : frames[0].toObject()["best_effort_timestamp_time"].toString().toDouble();
}

QString formatSummary(const QString& path) {
    const QJsonObject info = clips::probe(path);
    QStringList parts{info["format"].toObject()["format_name"].toString()};
    for (const auto& s : info["streams"].toArray()) {
        const QJsonObject o = s.toObject();
        if (o["codec_type"] == "video")
            parts << QStringLiteral("%1 %2 %3 %4x%5")
                         .arg(o["codec_name"].toString(), o["profile"].toString(), o["pix_fmt"].toString())
                         .arg(o["width"].toInt())
                         .arg(o["height"].toInt());
        else if (o["codec_type"] == "audio")
            parts << QStringLiteral("%1 %2 Hz %3 ch")
                         .arg(o["codec_name"].toString(), o["sample_rate"].toString())
                         .arg(o["channels"].toInt());
    }
    return parts.join(" | ");
}

bool openInThisProcess(const QString& path) {
    const QString target = QFileInfo(path).absoluteFilePath();
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::Files | QDir::System))
        if (QFileInfo(fds.filePath(fd)).symLinkTarget() == target) return true;
    return false;
}

}  // namespace checks
