#pragma once
// Which codecs a container can carry. FFmpeg answers for most muxers (avformat_query_codec);
// for the MPEG program and transport streams it cannot tell, and the muxers take codecs that
// no player finds again in the file, so those are decided here from what the formats define.
#include <QString>

extern "C" {
#include <libavcodec/codec_id.h>
#include <libavformat/avformat.h>
}

bool containerCarries(const AVOutputFormat* format, AVCodecID codec);

// True for containers that hold attachments (the fonts of styled subtitles): Matroska.
bool containerCarriesAttachments(const AVOutputFormat* format);

// True for containers that hold chapters: Matroska and WebM, the MP4 and QuickTime family,
// ASF, Ogg.
bool containerCarriesChapters(const AVOutputFormat* format);

// The refusal for a stream the container cannot carry, naming both.
QString cannotCarryMessage(const AVOutputFormat* format, AVCodecID codec);
