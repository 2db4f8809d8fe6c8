#pragma once
#include <QString>
#include <cstdint>

#include "engine/common/FrameData.h"

// Writes the picture of frame data as a still picture file. Every Save... returns 0 on
// success and throws MediaError with a readable description on failure.
class ImageFile {
public:
    virtual ~ImageFile() = default;
    virtual int32_t SaveBMP(const FrameData& frame, const QString& path);
    virtual int32_t SaveGIF(const FrameData& frame, const QString& path);
    virtual int32_t SaveJPEG(const FrameData& frame, const QString& path);
    virtual int32_t SavePNG(const FrameData& frame, const QString& path);
    virtual int32_t SaveTIFF(const FrameData& frame, const QString& path);
    virtual int32_t SaveWMF(const FrameData& frame, const QString& path);
    virtual int32_t SaveEMF(const FrameData& frame, const QString& path);
    virtual int32_t SavePCX(const FrameData& frame, const QString& path);
    virtual int32_t SaveTGA(const FrameData& frame, const QString& path);
    virtual int32_t SaveRAS(const FrameData& frame, const QString& path);
    virtual int32_t SaveJPEG2000(const FrameData& frame, const QString& path);
};
