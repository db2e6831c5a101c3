// SDK functions over libdc1394: single registers (offsets from the camera
// register base), broadcast writes and register blocks.
#include "Transactions.h"

#include "PGRFlyCapture.h"

#include <orvex/iidc/Registers.h>

using namespace orvex::iidc;
using namespace orvex::flycap::dc1394sdk;

namespace {

// The checks both block transfers make before `transfer` touches the bus.
template <class Transfer>
FlyCaptureError blockTransfer(FlyCaptureContext context, unsigned short addressHigh,
                              const std::uint32_t* buffer, std::uint32_t quadlets, const Transfer& transfer)
{
    const auto c = findContext(context);
    if (!c)
        return FLYCAPTURE_INVALID_CONTEXT;
    if (!buffer && quadlets != 0)
        return FLYCAPTURE_INVALID_ARGUMENT;
    if (addressHigh != kAddressHigh)
        return FLYCAPTURE_ADDRESS_ERROR;
    return c->withCamera(transfer);
}

} // namespace

extern "C" {

FlyCaptureError flycaptureGetCameraRegister(FlyCaptureContext context, std::uint32_t ulRegister,
                                            std::uint32_t* pulValue)
{
    const auto c = findContext(context);
    if (!c)
        return FLYCAPTURE_INVALID_CONTEXT;
    if (!pulValue)
        return FLYCAPTURE_INVALID_ARGUMENT;
    return c->withCamera([&](dc1394camera_t* camera) {
        return readQuadlets(camera, registerAddress(ulRegister), pulValue, 1);
    });
}

FlyCaptureError flycaptureSetCameraRegister(FlyCaptureContext context, std::uint32_t ulRegister,
                                            std::uint32_t ulValue)
{
    const auto c = findContext(context);
    if (!c)
        return FLYCAPTURE_INVALID_CONTEXT;
    return c->withCamera([&](dc1394camera_t* camera) {
        return writeQuadlets(camera, registerAddress(ulRegister), &ulValue, 1);
    });
}

FlyCaptureError flycaptureSetCameraRegisterBroadcast(FlyCaptureContext context, std::uint32_t ulRegister,
                                                     std::uint32_t ulValue)
{
    const auto c = findContext(context);
    if (!c)
        return FLYCAPTURE_INVALID_CONTEXT;
    // A broadcast write reaches every camera of the bus at once and is not
    // acknowledged; where the bus cannot broadcast, each FlyCapture camera
    // listed on it gets the write in turn.
    bool broadcast = false;
    const FlyCaptureError error = c->withCamera([&](dc1394camera_t* camera) {
        if (dc1394_camera_set_broadcast(camera, DC1394_TRUE) != DC1394_SUCCESS)
            return FLYCAPTURE_OK;
        broadcast = true;
        writeQuadlets(camera, registerAddress(ulRegister), &ulValue, 1);
        dc1394_camera_set_broadcast(camera, DC1394_FALSE);
        return FLYCAPTURE_OK;
    });
    if (error != FLYCAPTURE_OK || broadcast)
        return error;
    const int bus = c->bus();
    for (const CameraEntry& entry : Buses::instance().cameras()) {
        if (entry.bus != bus)
            continue;
        if (const CameraHandle camera = Buses::instance().open(entry))
            writeQuadlets(camera.get(), registerAddress(ulRegister), &ulValue, 1);
    }
    return FLYCAPTURE_OK;
}

FlyCaptureError flycaptureReadRegisterBlock(FlyCaptureContext context, unsigned short usAddrHigh,
                                            std::uint32_t ulAddrLow, std::uint32_t* pulBuffer,
                                            std::uint32_t ulLength)
{
    return blockTransfer(context, usAddrHigh, pulBuffer, ulLength, [&](dc1394camera_t* camera) {
        return readQuadlets(camera, ulAddrLow, pulBuffer, ulLength);
    });
}

FlyCaptureError flycaptureWriteRegisterBlock(FlyCaptureContext context, unsigned short usAddrHigh,
                                             std::uint32_t ulAddrLow, const std::uint32_t* pulBuffer,
                                             std::uint32_t ulLength)
{
    return blockTransfer(context, usAddrHigh, pulBuffer, ulLength, [&](dc1394camera_t* camera) {
        return writeQuadlets(camera, ulAddrLow, pulBuffer, ulLength);
    });
}

} // extern "C"
