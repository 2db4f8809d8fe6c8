#pragma once
#include <initializer_list>

extern "C" {
struct AVFormatContext;
}

// Makes the demuxer skip every stream but the wanted ones (negative numbers stand for no
// stream), so reading delivers only their packets.
void keepOnlyStreams(AVFormatContext* input, std::initializer_list<int> wanted);
