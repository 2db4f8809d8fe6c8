#pragma once
#include <memory>

#include "engine/common/VideoSink.h"
#include "engine/common/VideoSource.h"

class OpenedSource;

// The media engine's video file objects on FFmpeg: the source reader and the output writer.
std::unique_ptr<VideoSource> createVideoFileReader();
// A second reader of a source a reader opened, with positions of its own (for work on another thread).
std::unique_ptr<VideoSource> createVideoFileReaderOn(std::shared_ptr<const OpenedSource> source);
std::unique_ptr<VideoSink> createVideoFileWriter();
