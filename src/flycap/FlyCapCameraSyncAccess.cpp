// The SDK register calls the synchronisation controller makes on a camera's
// context: the bare calls, unchecked, because the controller reports their
// failures itself (through its event callback, not by throwing).
#include "flycap/FlyCapCall.h"

#include <orvex/FlyCapCamera.h>

int FlyCapCamera::getCameraRegister(void* context, uint32_t offset, uint32_t& value) noexcept
{
    std::uint32_t read = 0;
    const FlyCaptureError error =
        flycaptureGetCameraRegister(static_cast<FlyCaptureContext>(context), offset, &read);
    if (error == FLYCAPTURE_OK) {
        value = read;
    }
    return static_cast<int>(error);
}

int FlyCapCamera::writeRegisterBlock(void* context, uint16_t addressHigh, uint32_t addressLow,
                                     const uint32_t* values, uint32_t count) noexcept
{
    return static_cast<int>(flycaptureWriteRegisterBlock(static_cast<FlyCaptureContext>(context), addressHigh,
                                                         addressLow, values, count));
}

std::string FlyCapCamera::sdkErrorText(int error)
{
    return orvex::flycap::sdkErrorText(static_cast<FlyCaptureError>(error));
}
