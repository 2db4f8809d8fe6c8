#include "engine/remux/KeptMetadata.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <algorithm>
#include <cmath>

#include "engine/common/MediaError.h"
#include "engine/reader/Demux.h"

extern "C" {
#include <libavutil/timecode.h>
}

void copyKeptTags(AVDictionary** to, const AVDictionary* from, const CutStart& start) {
    const AVDictionaryEntry* listed = av_dict_get(from, "_STATISTICS_TAGS", nullptr, 0);
    const QList<QByteArray> statistics = listed ? QByteArray(listed->value).split(' ') : QList<QByteArray>{};
    const AVDictionaryEntry* tag = nullptr;
    while ((tag = av_dict_get(from, "", tag, AV_DICT_IGNORE_SUFFIX))) {
        const QByteArray key(tag->key);
        const QByteArray base = key.split('-').first();  // "BPS-eng" is BPS in English
        if (key.startsWith("_STATISTICS_") || statistics.contains(base) || key == "encoder") continue;
        QString value = QString::fromUtf8(tag->value);
        if (key == "creation_time") value = movedCreationTime(value, start.seconds);
        if (key == "timecode") value = movedTimecode(value, start.rate, start.frames);
        av_dict_set(to, tag->key, value.toUtf8().constData(), 0);
    }
}

AVRational timecodeRate(const AVFormatContext* source, const AVStream* video) {
    for (unsigned i = 0; i < source->nb_streams; ++i) {
        const AVStream* st = source->streams[i];
        if (st->codecpar->codec_tag == MKTAG('t', 'm', 'c', 'd') &&
            av_timecode_check_frame_rate(st->avg_frame_rate) == 0)
            return st->avg_frame_rate;
    }
    return av_timecode_check_frame_rate(video->avg_frame_rate) == 0 ? video->avg_frame_rate : video->r_frame_rate;
}

QString movedCreationTime(const QString& value, double seconds) {
    const QDateTime at = QDateTime::fromString(value.trimmed(), Qt::ISODateWithMs);
    if (!at.isValid()) return value;
    const QDateTime moved = at.addMSecs(std::llround(seconds * 1000));
    // FFmpeg's own form, as its muxers write and read it: UTC, microseconds, a "Z".
    if (at.timeSpec() == Qt::UTC) return moved.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz000Z"));
    return moved.toString(Qt::ISODateWithMs);
}

QString movedTimecode(const QString& value, AVRational rate, int64_t frames) {
    AVTimecode tc{};
    if (rate.num <= 0 || rate.den <= 0 || frames < 0 || frames > INT32_MAX ||
        av_timecode_init_from_string(&tc, rate, value.toUtf8().constData(), nullptr) < 0)
        return value;
    char text[AV_TIMECODE_STR_SIZE];
    return QString::fromLatin1(av_timecode_make_string(&tc, text, int(frames)));
}

std::vector<KeptChapter> keptChapters(const std::vector<std::pair<int64_t, int64_t>>& chapters,
                                      const std::vector<WrittenSpan>& spans) {
    std::vector<KeptChapter> kept;
    for (const WrittenSpan& span : spans)
        for (size_t i = 0; i < chapters.size(); ++i) {
            const auto [start, end] = chapters[i];
            if (end <= span.from || start >= span.to || end <= start) continue;
            const KeptChapter c{int(i), std::max(start, span.from) - span.from + span.at,
                                std::min(end, span.to) - span.from + span.at};
            if (!kept.empty() && kept.back().source == c.source && kept.back().end == c.start)
                kept.back().end = c.end;
            else
                kept.push_back(c);
        }
    std::stable_sort(kept.begin(), kept.end(),
                     [](const KeptChapter& a, const KeptChapter& b) { return a.start < b.start; });
    return kept;
}

int addKeptChapters(AVFormatContext* out, const AVFormatContext* source, const std::vector<WrittenSpan>& spans,
                    AVRational base) {
    std::vector<std::pair<int64_t, int64_t>> times;
    for (unsigned i = 0; i < source->nb_chapters; ++i) {
        const AVChapter* c = source->chapters[i];
        times.emplace_back(av_rescale_q(c->start, c->time_base, base), av_rescale_q(c->end, c->time_base, base));
    }
    for (const KeptChapter& k : keptChapters(times, spans)) {
        auto* chapter = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
        if (!chapter) throw MediaError(QStringLiteral("Out of memory"));
        chapter->id = int64_t(out->nb_chapters) + 1;
        chapter->time_base = base;
        chapter->start = k.start;
        chapter->end = k.end;
        av_dict_copy(&chapter->metadata, source->chapters[k.source]->metadata, 0);
        auto* grown =
            static_cast<AVChapter**>(av_realloc_array(out->chapters, out->nb_chapters + 1, sizeof(AVChapter*)));
        if (!grown) {
            av_dict_free(&chapter->metadata);
            av_free(chapter);
            throw MediaError(QStringLiteral("Out of memory"));
        }
        out->chapters = grown;
        out->chapters[out->nb_chapters++] = chapter;
    }
    return int(out->nb_chapters);
}

QString trackLabel(const AVStream* st, int number) {
    QString kind;
    switch (st->codecpar->codec_type) {
        case AVMEDIA_TYPE_AUDIO: kind = QStringLiteral("Sound track"); break;
        case AVMEDIA_TYPE_SUBTITLE: kind = QStringLiteral("Subtitle track"); break;
        case AVMEDIA_TYPE_ATTACHMENT: kind = QStringLiteral("Attachment"); break;
        case AVMEDIA_TYPE_VIDEO: kind = QStringLiteral("Video stream"); break;
        case AVMEDIA_TYPE_DATA:
        case AVMEDIA_TYPE_UNKNOWN:
        case AVMEDIA_TYPE_NB: kind = QStringLiteral("Data stream"); break;
    }
    QStringList about;
    if (st->codecpar->codec_id != AV_CODEC_ID_NONE) about << demux::codecName(st->codecpar->codec_id);
    for (const char* tag : {"language", "title", "filename"})
        if (const AVDictionaryEntry* e = av_dict_get(st->metadata, tag, nullptr, 0))
            about << QString::fromUtf8(e->value);
    return QStringLiteral("%1 %2 (%3)").arg(kind).arg(number).arg(about.join(QStringLiteral(", ")));
}

bool keptOtherwise(const AVFormatContext* source, const AVStream* st) {
    const uint32_t tag = st->codecpar->codec_tag;
    return st->codecpar->codec_type == AVMEDIA_TYPE_DATA &&
           (tag == MKTAG('t', 'm', 'c', 'd') || (tag == MKTAG('t', 'e', 'x', 't') && source->nb_chapters > 0));
}
