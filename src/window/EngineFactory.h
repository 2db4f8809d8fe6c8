#pragma once
#include <memory>

#include "engine/common/VideoSink.h"
#include "engine/common/VideoSource.h"

// The media engine's video file objects on FFmpeg: the source reader and the output writer.
std::unique_ptr<VideoSource> createVideoFileReader();
std::unique_ptr<VideoSink> createVideoFileWriter();
