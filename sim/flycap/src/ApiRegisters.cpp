// SDK functions: single registers (offsets from the camera register base),
// broadcast writes and register blocks. Each names the absolute address it
// reaches to the fault table, so that a test can fail or stall one register.
#include "Call.h"
#include "Status.h"

#include "PGRFlyCapture.h"

#include <orvex/iidc/Registers.h>

#include <stdexcept>

using namespace orvex::iidc;
using namespace orvex::sim;
using namespace orvex::sim::flycap;

extern "C" {

FlyCaptureError flycaptureGetCameraRegister(FlyCaptureContext context, std::uint32_t ulRegister,
                                            std::uint32_t* pulValue)
{
    std::shared_ptr<Context> c;
    std::shared_ptr<Camera> camera;
    if (const FlyCaptureError error =
            enterCamera("flycaptureGetCameraRegister", context, c, camera, registerAddress(ulRegister)))
        return error;
    if (!pulValue)
        return FLYCAPTURE_INVALID_ARGUMENT;
    uint32_t value = 0;
    const Status s = camera->readRegister(registerAddress(ulRegister), value);
    if (s == Status::ok)
        *pulValue = value;
    return toError(s);
}

FlyCaptureError flycaptureSetCameraRegister(FlyCaptureContext context, std::uint32_t ulRegister,
                                            std::uint32_t ulValue)
{
    std::shared_ptr<Context> c;
    std::shared_ptr<Camera> camera;
    if (const FlyCaptureError error =
            enterCamera("flycaptureSetCameraRegister", context, c, camera, registerAddress(ulRegister)))
        return error;
    return toError(camera->writeRegister(registerAddress(ulRegister), ulValue));
}

FlyCaptureError flycaptureSetCameraRegisterBroadcast(FlyCaptureContext context, std::uint32_t ulRegister,
                                                     std::uint32_t ulValue)
{
    std::shared_ptr<Context> c;
    std::shared_ptr<Camera> camera;
    if (const FlyCaptureError error = enterCamera("flycaptureSetCameraRegisterBroadcast", context, c, camera,
                                                  registerAddress(ulRegister)))
        return error;
    const std::shared_ptr<Bus> bus = camera->bus();
    if (!bus)
        return FLYCAPTURE_DEVICE_REMOVED;
    // A broadcast write is not acknowledged: every camera on the bus acts on
    // it at the same cycle, and the caller hears nothing of their answers.
    try {
        World::instance().broadcastWrite(bus->number(), registerAddress(ulRegister), ulValue);
    } catch (const std::invalid_argument&) {
        return FLYCAPTURE_DEVICE_REMOVED; // the bus went away meanwhile
    }
    return FLYCAPTURE_OK;
}

FlyCaptureError flycaptureReadRegisterBlock(FlyCaptureContext context, unsigned short usAddrHigh,
                                            std::uint32_t ulAddrLow, std::uint32_t* pulBuffer,
                                            std::uint32_t ulLength)
{
    std::shared_ptr<Context> c;
    std::shared_ptr<Camera> camera;
    if (const FlyCaptureError error =
            enterCamera("flycaptureReadRegisterBlock", context, c, camera, ulAddrLow))
        return error;
    if (!pulBuffer && ulLength != 0)
        return FLYCAPTURE_INVALID_ARGUMENT;
    if (usAddrHigh != kAddressHigh)
        return FLYCAPTURE_ADDRESS_ERROR;
    return toError(camera->readBlock(ulAddrLow, pulBuffer, ulLength));
}

FlyCaptureError flycaptureWriteRegisterBlock(FlyCaptureContext context, unsigned short usAddrHigh,
                                             std::uint32_t ulAddrLow, const std::uint32_t* pulBuffer,
                                             std::uint32_t ulLength)
{
    std::shared_ptr<Context> c;
    std::shared_ptr<Camera> camera;
    if (const FlyCaptureError error =
            enterCamera("flycaptureWriteRegisterBlock", context, c, camera, ulAddrLow))
        return error;
    if (!pulBuffer && ulLength != 0)
        return FLYCAPTURE_INVALID_ARGUMENT;
    if (usAddrHigh != kAddressHigh)
        return FLYCAPTURE_ADDRESS_ERROR;
    return toError(camera->writeBlock(ulAddrLow, pulBuffer, ulLength));
}

} // extern "C"
