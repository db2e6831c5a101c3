// Small pieces every implementation of the FlyCapture SDK shares: the width
// of a pixel format and the copy of a name into the SDK's fixed-size fields.
#pragma once

#include "PGRFlyCapture.h"

#include <cstdint>
#include <cstring>
#include <string>

// Bytes per pixel of a pixel format, 0 for one the SDK does not know.
inline std::uint32_t flycaptureBytesPerPixel(FlyCapturePixelFormat format)
{
    switch (format) {
    case FLYCAPTURE_MONO8:
        return 1;
    case FLYCAPTURE_MONO16:
        return 2;
    }
    return 0;
}

// Copies `name` into a FLYCAPTURE_NAME_LENGTH field, cut and terminated.
inline void flycaptureCopyName(char* target, const std::string& name)
{
    std::strncpy(target, name.c_str(), FLYCAPTURE_NAME_LENGTH - 1);
    target[FLYCAPTURE_NAME_LENGTH - 1] = '\0';
}
