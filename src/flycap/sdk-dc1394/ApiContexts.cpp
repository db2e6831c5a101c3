// SDK functions over libdc1394: contexts, buses, bus callbacks, error texts.
#include "Transactions.h"

#include "FlyCaptureErrorTexts.h"
#include "FlyCaptureSdkCommon.h"
#include "PGRFlyCapture.h"

#include <cstring>

using namespace orvex::flycap::dc1394sdk;

extern "C" {

FlyCaptureError flycaptureCreateContext(FlyCaptureContext* pContext)
{
    if (!pContext)
        return FLYCAPTURE_INVALID_ARGUMENT;
    if (!Buses::instance().available())
        return FLYCAPTURE_FAILED; // libdc1394 could not start
    *pContext = registerContext();
    return FLYCAPTURE_OK;
}

FlyCaptureError flycaptureDestroyContext(FlyCaptureContext context)
{
    if (!findContext(context))
        return FLYCAPTURE_INVALID_CONTEXT;
    Buses::instance().removeCallbacks(context);
    return unregisterContext(context) ? FLYCAPTURE_OK : FLYCAPTURE_INVALID_CONTEXT;
}

FlyCaptureError flycaptureInitializePlus(FlyCaptureContext context, unsigned int uiBusIndex,
                                         unsigned int uiNumBuffers, unsigned char** arpBuffers)
{
    const auto c = findContext(context);
    if (!c)
        return FLYCAPTURE_INVALID_CONTEXT;
    if (arpBuffers)
        return FLYCAPTURE_NOT_IMPLEMENTED; // libdc1394 maps the kernel's buffers itself
    if (uiNumBuffers == 0)
        return FLYCAPTURE_INVALID_ARGUMENT;
    return c->initialize(uiBusIndex, uiNumBuffers);
}

FlyCaptureError flycaptureModifyCallback(FlyCaptureContext context, FlyCaptureCallback pCallback,
                                         void* pParam, bool bAdd)
{
    if (!findContext(context))
        return FLYCAPTURE_INVALID_CONTEXT;
    if (!pCallback)
        return FLYCAPTURE_INVALID_ARGUMENT;
    if (bAdd) {
        Buses::instance().refresh(); // changes are told from this list on
        Buses::instance().addCallback(context, pCallback, pParam);
        return FLYCAPTURE_OK;
    }
    return Buses::instance().removeCallback(context, pCallback, pParam) ? FLYCAPTURE_OK
                                                                        : FLYCAPTURE_INVALID_ARGUMENT;
}

FlyCaptureError flycaptureBusCameraCount(unsigned int* puiCount)
{
    if (!puiCount)
        return FLYCAPTURE_INVALID_ARGUMENT;
    if (!Buses::instance().available())
        return FLYCAPTURE_FAILED;
    *puiCount = static_cast<unsigned int>(Buses::instance().refresh().size());
    return FLYCAPTURE_OK;
}

FlyCaptureError flycaptureBusEnumerateCamerasEx(FlyCaptureInfoEx* arInfo, unsigned int* puiSize)
{
    if (!puiSize || (!arInfo && *puiSize != 0))
        return FLYCAPTURE_INVALID_ARGUMENT;
    if (!Buses::instance().available())
        return FLYCAPTURE_FAILED;
    const std::vector<CameraEntry> cameras = Buses::instance().refresh();
    unsigned int filled = 0;
    for (const CameraEntry& camera : cameras) {
        if (filled == *puiSize)
            break;
        FlyCaptureInfoEx& info = arInfo[filled++];
        std::memset(&info, 0, sizeof info);
        info.uiSerialNumber = camera.serialNumber;
        flycaptureCopyName(info.szModelName, camera.model);
        flycaptureCopyName(info.szVendorName, camera.vendor);
        info.iBusNumber = camera.bus;
        info.iNodeNumber = camera.node;
        info.iMaxBusSpeed = camera.maxSpeed;
    }
    const bool tooSmall = filled < cameras.size();
    *puiSize = filled;
    return tooSmall ? FLYCAPTURE_BUFFER_SIZE_TOO_SMALL : FLYCAPTURE_OK;
}

const char* flycaptureErrorToString(FlyCaptureError error)
{
    return flycaptureErrorText(error);
}

} // extern "C"
