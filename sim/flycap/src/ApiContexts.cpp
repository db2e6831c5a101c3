// SDK functions: contexts, buses, bus callbacks, error texts.
#include "Call.h"

#include "FlyCaptureErrorTexts.h"
#include "FlyCaptureSdkCommon.h"
#include "PGRFlyCapture.h"
#include "SdkCameras.h"

#include <orvex/sim/World.h>

#include <cstring>

using namespace orvex::sim;
using namespace orvex::sim::flycap;

extern "C" {

FlyCaptureError flycaptureCreateContext(FlyCaptureContext* pContext)
{
    if (const FlyCaptureError fault = injectedFault("flycaptureCreateContext"))
        return fault;
    if (!pContext)
        return FLYCAPTURE_INVALID_ARGUMENT;
    *pContext = Registry::instance().create();
    return FLYCAPTURE_OK;
}

FlyCaptureError flycaptureDestroyContext(FlyCaptureContext context)
{
    std::shared_ptr<Context> c;
    if (const FlyCaptureError error = enterContext("flycaptureDestroyContext", context, c))
        return error;
    CallbackDispatcher::instance().removeAll(context);
    return Registry::instance().destroy(context) ? FLYCAPTURE_OK : FLYCAPTURE_INVALID_CONTEXT;
}

FlyCaptureError flycaptureInitializePlus(FlyCaptureContext context, unsigned int uiBusIndex,
                                         unsigned int uiNumBuffers, unsigned char** arpBuffers)
{
    std::shared_ptr<Context> c;
    if (const FlyCaptureError error = enterContext("flycaptureInitializePlus", context, c))
        return error;
    if (arpBuffers)
        return FLYCAPTURE_NOT_IMPLEMENTED; // the SDK owns the image buffers
    if (uiNumBuffers == 0)
        return FLYCAPTURE_INVALID_ARGUMENT;
    const auto cameras = sdkCameras();
    if (uiBusIndex >= cameras.size())
        return FLYCAPTURE_INVALID_BUS_INDEX;
    const FlyCaptureError error = c->initialize(cameras[uiBusIndex], uiNumBuffers);
    if (error == FLYCAPTURE_OK)
        Registry::instance().recordInitialization(cameras[uiBusIndex]->serialNumber(), uiNumBuffers);
    return error;
}

FlyCaptureError flycaptureModifyCallback(FlyCaptureContext context, FlyCaptureCallback pCallback,
                                         void* pParam, bool bAdd)
{
    std::shared_ptr<Context> c;
    if (const FlyCaptureError error = enterContext("flycaptureModifyCallback", context, c))
        return error;
    if (!pCallback)
        return FLYCAPTURE_INVALID_ARGUMENT;
    if (bAdd) {
        CallbackDispatcher::instance().add(context, pCallback, pParam);
        return FLYCAPTURE_OK;
    }
    return CallbackDispatcher::instance().remove(context, pCallback, pParam) ? FLYCAPTURE_OK
                                                                             : FLYCAPTURE_INVALID_ARGUMENT;
}

FlyCaptureError flycaptureBusCameraCount(unsigned int* puiCount)
{
    if (const FlyCaptureError fault = injectedFault("flycaptureBusCameraCount"))
        return fault;
    if (!puiCount)
        return FLYCAPTURE_INVALID_ARGUMENT;
    *puiCount = static_cast<unsigned int>(sdkCameras().size());
    return FLYCAPTURE_OK;
}

FlyCaptureError flycaptureBusEnumerateCamerasEx(FlyCaptureInfoEx* arInfo, unsigned int* puiSize)
{
    if (const FlyCaptureError fault = injectedFault("flycaptureBusEnumerateCamerasEx"))
        return fault;
    if (!puiSize || (!arInfo && *puiSize != 0))
        return FLYCAPTURE_INVALID_ARGUMENT;
    World& world = World::instance();
    const auto cameras = sdkCameras();
    unsigned int filled = 0;
    for (const auto& camera : cameras) {
        if (filled == *puiSize)
            break;
        const std::shared_ptr<Bus> bus = camera->bus();
        if (!bus)
            continue; // unplugged since the list was taken
        FlyCaptureInfoEx& info = arInfo[filled++];
        std::memset(&info, 0, sizeof info);
        info.uiSerialNumber = camera->serialNumber();
        flycaptureCopyName(info.szModelName, camera->config().modelName);
        flycaptureCopyName(info.szVendorName, camera->config().vendorName);
        info.iBusNumber = bus->number();
        info.iNodeNumber = world.nodeNumber(camera->serialNumber());
        info.iMaxBusSpeed = static_cast<int>(std::min(bus->speed(), camera->config().maxBusSpeed));
    }
    const bool tooSmall = filled < cameras.size() && filled == *puiSize;
    *puiSize = filled;
    return tooSmall ? FLYCAPTURE_BUFFER_SIZE_TOO_SMALL : FLYCAPTURE_OK;
}

const char* flycaptureErrorToString(FlyCaptureError error)
{
    return flycaptureErrorText(error);
}

} // extern "C"
