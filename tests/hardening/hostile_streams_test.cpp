// Hostile media, stream level: AVI headers declaring huge or empty pictures and zero or
// absurd frame rates, AVI indexes that disagree with the packets, MPEG frame rate codes
// that mean nothing, videos whose first keyframe (or every keyframe) is missing, and
// streams whose picture size changes in the middle. Each goes through the window like the
// byte-level corpus.
#include <QFileInfo>

#include "hardening/HostileMedia.h"
#include "hardening/HostileRun.h"

namespace {

// An AVI with B-frames and a keyframe every 12 frames, beside the all-keyframe MJPEG clip.
clips::Clip aviMpeg4() {
    return clips::make("hardening_avi_mpeg4", "avi", 320, 240, 25, 100, true,
                       {"-c:v", "mpeg4", "-q:v", "4", "-bf", "2", "-g", "12", "-c:a", "pcm_s16le"});
}

// H.264 transport streams for joining: the second part's clock continues where the first
// one's (100 frames at 25 fps) ends, unless it is the one that starts again at zero.
clips::Clip tsPart(const QString& name, int width, int height, bool continued) {
    QStringList options{"-c:v", "libx264", "-preset",  "veryfast", "-crf", "18",  "-bf", "2",
                        "-g",   "25",      "-pix_fmt", "yuv420p",  "-c:a", "mp2", "-f",  "mpegts"};
    if (continued)
        options << "-output_ts_offset"
                << "4";
    return clips::make(name, "ts", width, height, 25, 50, true, options, 48000);
}

clips::Clip mpeg2Part() {
    return clips::make("hardening_ps_176", "mpg", 176, 144, 25, 50, true,
                       {"-c:v", "mpeg2video", "-q:v", "3", "-bf", "2", "-g", "12", "-c:a", "mp2", "-b:a", "192k",
                        "-output_ts_offset", "4", "-f", "vob"},
                       48000);
}

clips::Clip tsMpeg2() {
    return clips::make("hardening_ts_mpeg2", "ts", 320, 240, 25, 100, true,
                       {"-c:v", "mpeg2video", "-q:v", "3", "-bf", "2", "-g", "12", "-c:a", "mp2", "-f", "mpegts"},
                       48000);
}

QByteArray bytesOf(const clips::Clip& clip) { return hostile::readBytes(clip.path); }

struct Case {
    std::string name;
    // Writes the hostile file at the path given (without extension) and returns its path.
    std::function<QString(const QString&)> make;
};

Case bytesCase(std::string name, std::function<clips::Clip()> base, std::function<QByteArray(QByteArray)> damage) {
    return {std::move(name), [base, damage](const QString& stem) {
                const clips::Clip clip = base();
                const QByteArray original = bytesOf(clip);
                const QByteArray damaged = damage(original);
                if (damaged == original) throw std::runtime_error("the recipe changed nothing");
                return hostile::writeBytes(stem + "." + QFileInfo(clip.path).suffix(), damaged);
            }};
}

std::vector<Case> cases() {
    using namespace hostile;
    std::vector<Case> all;
    const std::vector<std::pair<std::string, std::function<clips::Clip()>>> avis{
        {"mjpeg", [] { return clips::get("avi_mjpeg_pcm"); }}, {"mpeg4", aviMpeg4}};

    for (const auto& [codec, base] : avis) {
        const std::string p = "avi_" + codec + "_";
        // Declared picture sizes: huge, beyond what any frame may be, the largest allowed,
        // nothing at all, upside down.
        for (const auto& [label, w, h] : {std::tuple{"size_2g", 0x7FFFFFFFu, 0x7FFFFFFFu},
                                          {"size_20000", 20000u, 20000u},
                                          {"size_16384", 16384u, 16384u},
                                          {"size_0", 0u, 0u},
                                          {"size_negative_height", 320u, quint32(-240)}})
            all.push_back(
                bytesCase(p + label, base, [w = w, h = h](QByteArray b) { return withPictureSize(b, w, h); }));
        // Frame rates: rate 0, scale 0, one frame in eleven days, four billion a second.
        for (const auto& [label, rate, scale, period] : {std::tuple{"rate_0", 0u, 1u, 40000u},
                                                         {"scale_0", 25u, 0u, 40000u},
                                                         {"rate_0_scale_0_period_0", 0u, 0u, 0u},
                                                         {"rate_tiny", 1u, 1000000u, 0xFFFFFFFFu},
                                                         {"rate_huge", 0xFFFFFFFFu, 1u, 0u}})
            all.push_back(bytesCase(p + label, base, [rate = rate, scale = scale, period = period](QByteArray b) {
                return withFrameRate(b, rate, scale, period);
            }));
        all.push_back(
            bytesCase(p + "frame_count_4g", base, [](QByteArray b) { return withFrameCount(b, 0xFFFFFFFFu); }));
        all.push_back(bytesCase(p + "unknown_codec", base, [](QByteArray b) { return withUnknownVideoCodec(b); }));
        // Sound formats: no channels, 64 channels, no samples, two billion samples a second.
        for (const auto& [label, channels, rate] : {std::tuple{"audio_channels_0", 0, 44100u},
                                                    {"audio_channels_64", 64, 44100u},
                                                    {"audio_rate_0", 2, 0u},
                                                    {"audio_rate_2g", 2, 0x7FFFFFFFu}})
            all.push_back(bytesCase(p + label, base, [channels = channels, rate = rate](QByteArray b) {
                return withAudioFormat(b, quint16(channels), rate);
            }));
        // Indexes that disagree with the packets.
        all.push_back(bytesCase(p + "index_offsets_shifted", base, [](QByteArray b) {
            return withIndexEntries(b,
                                    [](QByteArray& f, qsizetype e, int) { putLE32(f, e + 8, getLE32(f, e + 8) + 3); });
        }));
        all.push_back(bytesCase(p + "index_offsets_past_end", base, [](QByteArray b) {
            return withIndexEntries(b, [](QByteArray& f, qsizetype e, int i) {
                if (i % 3 == 1) putLE32(f, e + 8, 0x7FFFFFF0u);
            });
        }));
        all.push_back(bytesCase(p + "index_sizes_doubled", base, [](QByteArray b) {
            return withIndexEntries(
                b, [](QByteArray& f, qsizetype e, int) { putLE32(f, e + 12, getLE32(f, e + 12) * 2); });
        }));
        all.push_back(bytesCase(p + "index_entries_reversed", base, [](QByteArray b) {
            // The video entries point at each other's packets in reverse order.
            const QByteArray original = b;
            QList<qsizetype> video;
            withIndexEntries(original, [&](QByteArray& f, qsizetype e, int) {
                if (f.mid(e + 2, 2) == "dc" || f.mid(e + 2, 2) == "db") video << e;
            });
            for (int i = 0; i < video.size(); ++i) {
                const qsizetype from = video[video.size() - 1 - i];
                b.replace(video[i] + 8, 8, original.mid(from + 8, 8));
            }
            return b;
        }));
        all.push_back(bytesCase(p + "index_no_keyframes", base, [](QByteArray b) {
            return withIndexEntries(
                b, [](QByteArray& f, qsizetype e, int) { putLE32(f, e + 4, getLE32(f, e + 4) & ~avi::kKeyframeFlag); });
        }));
        if (codec == "mpeg4")  // every MJPEG frame is a keyframe already
            all.push_back(bytesCase(p + "index_all_keyframes", base, [](QByteArray b) {
                return withIndexEntries(b, [](QByteArray& f, qsizetype e, int) {
                    putLE32(f, e + 4, getLE32(f, e + 4) | avi::kKeyframeFlag);
                });
            }));
        all.push_back(
            bytesCase(p + "index_cut_to_a_third", base, [](QByteArray b) { return withIndexCut(b, 1.0 / 3); }));
    }

    // MPEG-2 frame rate codes 0 (forbidden) and 15 (reserved).
    for (int code : {0, 15}) {
        all.push_back(bytesCase(
            "mpeg2_ps_frame_rate_code_" + std::to_string(code), [] { return clips::get("mpeg2_ps"); },
            [code](QByteArray b) { return withMpegFrameRateCode(b, code); }));
        all.push_back(bytesCase("ts_mpeg2_frame_rate_code_" + std::to_string(code), tsMpeg2,
                                [code](QByteArray b) { return withMpegFrameRateCode(b, code); }));
    }

    // The first keyframe missing; every keyframe missing.
    const std::vector<std::pair<std::string, std::function<clips::Clip()>>> gopClips{
        {"ts_h264", [] { return clips::get("ts_h264_mp2"); }},
        {"mp4_h264", [] { return clips::get("mp4_h264_aac"); }},
        {"mpeg2_ps", [] { return clips::get("mpeg2_ps"); }},
        {"mkv_mpeg4", [] { return clips::get("mkv_mpeg4_vorbis"); }},
        {"avi_mpeg4", aviMpeg4},
        {"ts_mpeg2", tsMpeg2}};
    for (const auto& [label, base] : gopClips) {
        all.push_back({label + "_first_keyframe_dropped", [base = base](const QString& stem) {
                           const clips::Clip clip = base();
                           return withVideoPacketsDropped(clip.path, stem + "." + QFileInfo(clip.path).suffix(),
                                                          "eq(n\\,0)");
                       }});
    }
    for (const auto& [label, base] : {gopClips[1], gopClips[4]}) {
        all.push_back({label + "_every_keyframe_dropped", [base = base](const QString& stem) {
                           const clips::Clip clip = base();
                           return withVideoPacketsDropped(clip.path, stem + "." + QFileInfo(clip.path).suffix(), "key");
                       }});
    }

    // The picture size changes in the middle: streams joined byte by byte.
    auto joined = [](std::function<clips::Clip()> first, std::function<clips::Clip()> second) {
        return [first, second](const QString& stem) {
            const clips::Clip a = first(), b = second();
            return writeBytes(stem + "." + QFileInfo(a.path).suffix(), bytesOf(a) + bytesOf(b));
        };
    };
    auto ts320 = [] { return clips::get("ts_h264_mp2"); };
    all.push_back(
        {"ts_h264_320_then_176", joined(ts320, [] { return tsPart("hardening_ts_176_cont", 176, 144, true); })});
    all.push_back(
        {"ts_h264_320_then_640", joined(ts320, [] { return tsPart("hardening_ts_640_cont", 640, 480, true); })});
    all.push_back({"ts_h264_320_then_176_clock_restarts",
                   joined(ts320, [] { return tsPart("hardening_ts_176_zero", 176, 144, false); })});
    all.push_back({"mpeg2_ps_352_then_176", joined([] { return clips::get("mpeg2_ps"); }, mpeg2Part)});
    return all;
}

class HostileStreams : public testing::TestWithParam<Case> {};

TEST_P(HostileStreams, RefusedReadablyOrUsable) {
    const Case& c = GetParam();
    QTemporaryDir dir;
    const QString name = QString::fromStdString(c.name);
    const QString path = c.make(dir.path() + "/" + name);
    ASSERT_TRUE(QFileInfo(path).size() > 0);
    // Damage that takes away what reading needs: an index that points the demuxer at the wrong
    // bytes, no keyframe at all, an unknown codec, a sound format the libraries reject.
    const bool mayBeRefused = name.contains("index_offsets_past_end") || name.contains("index_entries_reversed") ||
                              name.contains("every_keyframe") || name.contains("unknown_codec") ||
                              name.contains("audio_rate");
    hostile::runHostileFile(name, path, mayBeRefused ? hostile::Expect::OpensOrIsRefused : hostile::Expect::Opens);
}

INSTANTIATE_TEST_SUITE_P(Corpus, HostileStreams, testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

}  // namespace
