// Hostile media, byte level: the standard clips cut short at several points, with bits
// flipped in their headers and in their middle, an empty file and a file of noise. Each goes
// through the window: refused with a readable message and an idle window, or usable for
// markers, preview, a cut and a saved frame. Bounded time per file, no crash, no leak.
#include <QFileInfo>

#include "hardening/HostileMedia.h"
#include "hardening/HostileRun.h"

namespace {

struct Case {
    std::string name;
    QString base;  // the clip it was made from; empty for a file made from nothing
    std::function<QByteArray()> bytes;
};

// The clips every byte-level recipe starts from: each container the reader meets most.
QStringList baseClips() {
    return {"avi_mjpeg_pcm", "mpeg2_ps", "wmv_wma", "mp4_h264_aac", "mkv_mpeg4_vorbis", "ts_h264_mp2", "webm_vp8_opus"};
}

QByteArray clipBytes(const QString& name) { return hostile::readBytes(clips::get(name).path); }

std::vector<Case> cases() {
    std::vector<Case> all;
    for (const QString& clip : baseClips()) {
        const std::string base = clip.toStdString();
        // Inside the header, in the middle, just before the end.
        for (const auto& [label, fraction] : {std::pair{"head", 0.004}, {"half", 0.5}, {"tail", 0.97}})
            all.push_back({base + "_truncated_" + label, clip,
                           [clip, f = fraction] { return hostile::truncated(clipBytes(clip), f); }});
        for (quint32 seed : {11u, 12u})
            all.push_back({base + "_flips_header_" + std::to_string(seed), clip, [clip, seed] {
                               const QByteArray b = clipBytes(clip);
                               return hostile::flipBits(b, 0, std::min<qsizetype>(4096, b.size() / 20), 6, seed);
                           }});
        all.push_back({base + "_flips_middle", clip, [clip] {
                           const QByteArray b = clipBytes(clip);
                           return hostile::flipBits(b, b.size() * 2 / 5, b.size() * 3 / 5, 40, 13);
                       }});
    }
    all.push_back({"zero_length", {}, [] { return QByteArray(); }});
    all.push_back({"riff_header_only", {}, [] { return clipBytes("avi_mjpeg_pcm").left(12); }});
    all.push_back({"noise", {}, [] {
                       QByteArray b(64 * 1024, '\0');
                       QRandomGenerator random(21);
                       for (char& c : b) c = char(random.bounded(256));
                       return b;
                   }});
    return all;
}

class HostileBytes : public testing::TestWithParam<Case> {};

TEST_P(HostileBytes, RefusedReadablyOrUsable) {
    const Case& c = GetParam();
    QTemporaryDir dir;
    // The file keeps its clip's extension, as a user's file would.
    const QString name = QString::fromStdString(c.name);
    const QString extension = c.base.isEmpty() ? "avi" : QFileInfo(clips::get(c.base).path).suffix();
    const QByteArray bytes = c.bytes();
    if (!c.base.isEmpty()) {
        ASSERT_NE(bytes, clipBytes(c.base)) << "the recipe changed nothing";
    }
    const QString path = hostile::writeBytes(dir.path() + "/" + name + "." + extension, bytes);
    hostile::runHostileFile(name, path);
}

INSTANTIATE_TEST_SUITE_P(Corpus, HostileBytes, testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

}  // namespace
