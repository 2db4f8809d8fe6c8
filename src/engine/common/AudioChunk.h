#pragma once
#include <cstdint>
#include <vector>

// Interleaved signed 16-bit samples at the source's rate and channel count. An empty chunk
// means "no more audio".
using AudioChunk = std::vector<int16_t>;
