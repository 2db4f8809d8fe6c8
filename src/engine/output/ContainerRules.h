#pragma once
// Which codecs a container can carry. FFmpeg answers for most muxers (avformat_query_codec);
// for the MPEG program and transport streams it cannot tell, and the muxers take codecs that
// no player finds again in the file, so those are decided here from what the formats define.
// For a stream itself, the muxer is asked too, as strict as it is when it writes: the codec
// tags let through what the muxer then refuses (FLAC in MP4 is experimental, Opus and FLAC in
// QuickTime go only in MP4).
#include <QString>
#include <QStringList>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

// How strictly every output's muxer keeps to its format: FFmpeg's default, which refuses
// what it calls experimental. The checks here ask at the same strictness.
inline constexpr int kOutputCompliance = FF_COMPLIANCE_NORMAL;

// Whether the container can carry the codec, by what the format defines. `bluray`: a transport
// stream written in Blu-ray's form (the muxer's mpegts_m2ts_mode), which also carries what
// Blu-ray defines beyond a transport stream (its PCM, its subtitles).
bool containerCarries(const AVOutputFormat* format, AVCodecID codec, bool bluray = false);
// Whether the container takes this stream: it can carry the codec, and the muxer sets a file
// with the stream up (avformat_init_output at kOutputCompliance, writing nowhere).
bool containerCarries(const AVOutputFormat* format, const AVCodecParameters* par, bool bluray = false);

// True for containers that hold attachments (the fonts of styled subtitles): Matroska.
bool containerCarriesAttachments(const AVOutputFormat* format);

// True for containers that hold chapters: Matroska and WebM, the MP4 and QuickTime family,
// ASF, Ogg.
bool containerCarriesChapters(const AVOutputFormat* format);

// Whether the container that files with this extension (without the dot) are written in
// carries the codec: containerCarries, but for .m2ts only what a Blu-ray stream defines.
bool extensionCarries(const QString& extension, AVCodecID codec);
bool extensionCarries(const QString& extension, const AVCodecParameters* par);

// The refusal for a stream the container cannot carry, naming both and the containers of
// kCopyContainers that take the stream.
QString cannotCarryMessage(const AVOutputFormat* format, const AVCodecParameters* par);

// The containers a copy of a source's streams may be written in, each by the extension that
// names it, in the order they are offered.
inline constexpr const char* kCopyContainers[] = {"mkv", "mp4", "mov", "ts", "m2ts", "webm", "avi", "mpg", "flv"};

// The muxer that writes files with this extension (without the dot); null when none does.
const AVOutputFormat* containerOfExtension(const QString& extension);

// The extensions of kCopyContainers whose container carries every one of these codecs.
QStringList containersCarrying(const std::vector<AVCodecID>& codecs);
// The extensions of kCopyContainers whose container takes every one of these streams.
QStringList containersCarrying(const std::vector<const AVCodecParameters*>& streams);

// The bitstream filter that puts a stream's packets into the form the container stores, or
// null when they go as they are. H.264 and HEVC with a config record for a header (avcC,
// hvcC: units behind length fields) go into a container without a global header (AVI, TS)
// with start codes and their parameter sets in band. What FFmpeg's muxers convert by
// themselves (ADTS AAC for MP4, MOV, Matroska and FLV) is left to them.
const char* packetFormFilter(const AVOutputFormat* format, const AVCodecParameters* par);
