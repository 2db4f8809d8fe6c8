#pragma once
#include <memory>

#include "engine/common/VideoFile.h"

// The media engine's video file objects on FFmpeg: the source reader and the output writer.
std::unique_ptr<VideoFile> createVideoFileReader();
std::unique_ptr<VideoFile> createVideoFileWriter();
