#pragma once
// Hostile media made at test time from the standard clips: cut short, bits flipped, AVI
// header fields and index entries rewritten, the first keyframe dropped, streams of two
// picture sizes joined. Every recipe fails loudly when the thing it damages is not where it
// expects it, so a recipe can never quietly hand back an undamaged file.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QString>
#include <QtEndian>
#include <functional>
#include <stdexcept>
#include <vector>

#include "support/Clips.h"

namespace hostile {

inline QByteArray readBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) throw std::runtime_error("cannot read " + path.toStdString());
    return f.readAll();
}

inline QString writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
    return path;
}

// ------------------------------------------------------------------ byte-level damage

inline QByteArray truncated(const QByteArray& bytes, double fraction) {
    return bytes.left(qsizetype(bytes.size() * fraction));
}

// Flips `count` single bits at random places in [from, to) of the file, the same ones for the
// same seed.
inline QByteArray flipBits(QByteArray bytes, qsizetype from, qsizetype to, int count, quint32 seed) {
    QRandomGenerator random(seed);
    to = std::min(to, bytes.size());
    if (to <= from) throw std::runtime_error("no bytes to flip");
    for (int i = 0; i < count; ++i) {
        const qsizetype at = from + qsizetype(random.bounded(quint64(to - from)));
        bytes[at] = char(uchar(bytes[at]) ^ (1u << random.bounded(8)));
    }
    return bytes;
}

// ------------------------------------------------------------------ AVI (RIFF) fields

struct RiffChunk {
    QByteArray id;     // four characters
    qsizetype offset;  // of the chunk's id
    quint32 size;      // of its data
    qsizetype data() const { return offset + 8; }
};

// Every chunk of a RIFF file in file order, the children of LIST chunks included (the movi
// list's packets are left out: only its own entry is listed).
inline std::vector<RiffChunk> riffChunks(const QByteArray& file) {
    std::vector<RiffChunk> chunks;
    std::function<void(qsizetype, qsizetype)> walk = [&](qsizetype at, qsizetype end) {
        while (at + 8 <= end) {
            const QByteArray id = file.mid(at, 4);
            const quint32 size = qFromLittleEndian<quint32>(file.constData() + at + 4);
            chunks.push_back({id, at, size});
            if ((id == "RIFF" || id == "LIST") && file.mid(at + 8, 4) != "movi")
                walk(at + 12, std::min<qsizetype>(end, at + 8 + qsizetype(size)));
            at += 8 + qsizetype(size) + (size & 1);
        }
    };
    walk(0, file.size());
    return chunks;
}

// Where the fields of an AVI's main header, its video stream header and format, and its
// index sit in the file.
struct AviLayout {
    qsizetype avih = -1;       // data of "avih"
    qsizetype videoStrh = -1;  // data of the video stream's "strh"
    qsizetype videoStrf = -1;  // data of its "strf" (a BITMAPINFOHEADER)
    qsizetype audioStrf = -1;  // data of the audio stream's "strf" (a WAVEFORMATEX), if any
    qsizetype idx1 = -1;       // id of "idx1"
    quint32 idx1Size = 0;
};

inline AviLayout aviLayout(const QByteArray& file) {
    if (!file.startsWith("RIFF") || file.mid(8, 4) != "AVI ") throw std::runtime_error("not an AVI file");
    AviLayout layout;
    bool inVideoStream = false, inAudioStream = false;
    for (const RiffChunk& c : riffChunks(file)) {
        if (c.id == "avih") layout.avih = c.data();
        if (c.id == "strh") inVideoStream = file.mid(c.data(), 4) == "vids";
        if (c.id == "strh") inAudioStream = file.mid(c.data(), 4) == "auds";
        if (c.id == "strf" && inAudioStream && layout.audioStrf < 0) layout.audioStrf = c.data();
        if (c.id == "strh" && inVideoStream && layout.videoStrh < 0) layout.videoStrh = c.data();
        if (c.id == "strf" && inVideoStream && layout.videoStrf < 0) layout.videoStrf = c.data();
        if (c.id == "idx1") {
            layout.idx1 = c.offset;
            layout.idx1Size = c.size;
        }
    }
    if (layout.avih < 0 || layout.videoStrh < 0 || layout.videoStrf < 0 || layout.idx1 < 0)
        throw std::runtime_error("AVI without the expected header or index chunks");
    return layout;
}

inline void putLE32(QByteArray& bytes, qsizetype at, quint32 value) {
    qToLittleEndian<quint32>(value, bytes.data() + at);
}
inline quint32 getLE32(const QByteArray& bytes, qsizetype at) {
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

// Offsets of the fields inside their chunks.
namespace avi {
constexpr int kMicroSecPerFrame = 0, kTotalFrames = 16, kWidth = 32, kHeight = 36;  // avih
constexpr int kHandler = 4, kScale = 20, kRate = 24, kLength = 32;                  // strh
constexpr int kBiWidth = 4, kBiHeight = 8, kBiCompression = 16;                     // video strf
constexpr int kChannels = 2, kSamplesPerSec = 4;                                    // audio strf
constexpr int kIndexEntryBytes = 16;                                                // idx1: id, flags, offset, size
constexpr quint32 kKeyframeFlag = 0x10;
}  // namespace avi

// The declared picture size, in the main header and in the video format.
inline QByteArray withPictureSize(QByteArray file, quint32 width, quint32 height) {
    const AviLayout l = aviLayout(file);
    putLE32(file, l.avih + avi::kWidth, width);
    putLE32(file, l.avih + avi::kHeight, height);
    putLE32(file, l.videoStrf + avi::kBiWidth, width);
    putLE32(file, l.videoStrf + avi::kBiHeight, height);
    return file;
}

// The video stream's rate as dwRate / dwScale, and the main header's frame period.
inline QByteArray withFrameRate(QByteArray file, quint32 rate, quint32 scale, quint32 microSecPerFrame) {
    const AviLayout l = aviLayout(file);
    putLE32(file, l.videoStrh + avi::kRate, rate);
    putLE32(file, l.videoStrh + avi::kScale, scale);
    putLE32(file, l.avih + avi::kMicroSecPerFrame, microSecPerFrame);
    return file;
}

// The frame count of the main header and of the video stream header.
inline QByteArray withFrameCount(QByteArray file, quint32 frames) {
    const AviLayout l = aviLayout(file);
    putLE32(file, l.avih + avi::kTotalFrames, frames);
    putLE32(file, l.videoStrh + avi::kLength, frames);
    return file;
}

// A video codec nobody knows, in the stream header and in the format.
inline QByteArray withUnknownVideoCodec(QByteArray file) {
    const AviLayout l = aviLayout(file);
    file.replace(l.videoStrh + avi::kHandler, 4, "QQQQ");
    file.replace(l.videoStrf + avi::kBiCompression, 4, "QQQQ");
    return file;
}

// The sound format's channel count and sample rate.
inline QByteArray withAudioFormat(QByteArray file, quint16 channels, quint32 rate) {
    const AviLayout l = aviLayout(file);
    if (l.audioStrf < 0) throw std::runtime_error("AVI without an audio stream");
    qToLittleEndian<quint16>(channels, file.data() + l.audioStrf + avi::kChannels);
    putLE32(file, l.audioStrf + avi::kSamplesPerSec, rate);
    return file;
}

// Rewrites each idx1 entry (its 16 bytes) with `change`, given the entry's number.
inline QByteArray withIndexEntries(QByteArray file, const std::function<void(QByteArray&, qsizetype, int)>& change) {
    const AviLayout l = aviLayout(file);
    const int entries = int(l.idx1Size / avi::kIndexEntryBytes);
    if (entries < 4) throw std::runtime_error("AVI index too short to damage");
    for (int i = 0; i < entries; ++i) change(file, l.idx1 + 8 + qsizetype(i) * avi::kIndexEntryBytes, i);
    return file;
}

// Declares the index shorter than it is: only the first `keep` of its entries count.
inline QByteArray withIndexCut(QByteArray file, double keep) {
    const AviLayout l = aviLayout(file);
    putLE32(file, l.idx1 + 4, quint32(l.idx1Size * keep) / avi::kIndexEntryBytes * avi::kIndexEntryBytes);
    return file;
}

// ------------------------------------------------------------------ MPEG video fields

// Sets frame_rate_code (the low half of the eighth byte) of every MPEG-1/2 sequence header.
inline QByteArray withMpegFrameRateCode(QByteArray file, int code) {
    static const QByteArray kSequenceHeader("\x00\x00\x01\xB3", 4);
    int patched = 0;
    for (qsizetype at = file.indexOf(kSequenceHeader); at >= 0 && at + 8 <= file.size();
         at = file.indexOf(kSequenceHeader, at + 4)) {
        file[at + 7] = char((uchar(file[at + 7]) & 0xF0) | (code & 0x0F));
        ++patched;
    }
    if (patched == 0) throw std::runtime_error("no MPEG sequence header found");
    return file;
}

// ------------------------------------------------------------------ with the ffmpeg tool

// Remuxes without re-encoding, dropping the video packets the expression picks (packet n
// counts from 0): "eq(n\\,0)" drops the first keyframe.
inline QString withVideoPacketsDropped(const QString& source, const QString& target, const QString& dropExpression) {
    if (clips::run("ffmpeg", {"-nostdin", "-loglevel", "error", "-y", "-i", source, "-map", "0", "-c", "copy", "-bsf:v",
                              "noise=drop=" + dropExpression, target}) != 0)
        throw std::runtime_error("ffmpeg could not drop packets of " + source.toStdString());
    return target;
}

}  // namespace hostile
