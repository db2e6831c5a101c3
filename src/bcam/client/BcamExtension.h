// The device object the camera uses: the device with raw quadlet access to
// the camera's register space.
//
// Threads: as CBcam's synchronous requests (any thread).
#pragma once

#include "bcam/client/Bcam.h"

namespace Bcam {

class CBcamExtension : public CBcam {
public:
    // The quadlet at (offset, high part), e.g. (0xF0F00000, 0xFFFF).
    DWORD ReadQuadlet(DWORD offset, DWORD high);
    void WriteQuadlet(DWORD offset, DWORD high, DWORD value);
};

} // namespace Bcam
