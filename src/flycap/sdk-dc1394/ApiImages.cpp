// SDK functions over libdc1394: Format_7 queries, packet sizes, image
// transfer and locks.
#include "Transactions.h"

#include "FlyCaptureSdkCommon.h"
#include "PGRFlyCapture.h"

#include <orvex/iidc/FrameInfo.h>
#include <orvex/iidc/Registers.h>

using namespace orvex::iidc;
using namespace orvex::flycap::dc1394sdk;

namespace {

uint64_t roundUp(uint64_t value, uint32_t unit)
{
    return (value + unit - 1) / unit * unit;
}

bool onStep(uint32_t value, uint32_t unit)
{
    return unit == 0 || value % unit == 0;
}

// What the camera's Format_7 mode 0 accepts of a region and packet size.
FlyCaptureError checkGeometry(const Format7& f7, const CaptureGeometry& g)
{
    const uint32_t packetUnit = f7.packetUnit ? f7.packetUnit : 1;
    const uint64_t imageBytes = uint64_t(g.width) * g.height * g.bytesPerPixel;
    const uint64_t largest = std::min<uint64_t>(f7.maxPacketAtSpeed, roundUp(imageBytes, packetUnit));
    const bool fits = g.width > 0 && g.height > 0 && uint64_t(g.left) + g.width <= f7.maxWidth &&
                      uint64_t(g.top) + g.height <= f7.maxHeight;
    const bool onUnits = onStep(g.width, f7.unitWidth) && onStep(g.height, f7.unitHeight) &&
                         onStep(g.left, f7.unitLeft) && onStep(g.top, f7.unitTop);
    const bool packetOk = g.bytesPerPacket >= packetUnit && g.bytesPerPacket % packetUnit == 0 &&
                          g.bytesPerPacket <= std::max<uint64_t>(largest, packetUnit);
    return fits && onUnits && packetOk ? FLYCAPTURE_OK : FLYCAPTURE_INVALID_CUSTOM_SIZE;
}

} // namespace

extern "C" {

FlyCaptureError flycaptureQueryCustomImageEx(FlyCaptureContext context, unsigned int uiMode,
                                             bool* pbAvailable, unsigned int* puiMaxImagePixelsWidth,
                                             unsigned int* puiMaxImagePixelsHeight,
                                             unsigned int* puiPixelUnitHorz, unsigned int* puiPixelUnitVert,
                                             unsigned int* puiOffsetUnitHorz, unsigned int* puiOffsetUnitVert,
                                             unsigned int* puiPixelFormats)
{
    const auto c = findContext(context);
    if (!c)
        return FLYCAPTURE_INVALID_CONTEXT;
    return c->withCamera([&](dc1394camera_t* camera) {
        if (uiMode > 7)
            return FLYCAPTURE_INVALID_ARGUMENT;
        Format7 f7;
        if (uiMode == 0) {
            if (const FlyCaptureError error = readFormat7(camera, f7))
                return error;
        }
        put(pbAvailable, f7.available);
        put(puiMaxImagePixelsWidth, f7.maxWidth);
        put(puiMaxImagePixelsHeight, f7.maxHeight);
        put(puiPixelUnitHorz, f7.unitWidth);
        put(puiPixelUnitVert, f7.unitHeight);
        put(puiOffsetUnitHorz, f7.unitLeft);
        put(puiOffsetUnitVert, f7.unitTop);
        put(puiPixelFormats,
            (f7.mono8 ? unsigned(FLYCAPTURE_MONO8) : 0u) | (f7.mono16 ? unsigned(FLYCAPTURE_MONO16) : 0u));
        return FLYCAPTURE_OK;
    });
}

FlyCaptureError flycaptureGetCustomImagePacketInfo(FlyCaptureContext context, unsigned int uiMode,
                                                   unsigned long ulImageWidth, unsigned long ulImageHeight,
                                                   FlyCapturePixelFormat format,
                                                   FlyCapturePacketInfo* pPacketInfo)
{
    const auto c = findContext(context);
    if (!c)
        return FLYCAPTURE_INVALID_CONTEXT;
    return c->withCamera([&](dc1394camera_t* camera) {
        if (!pPacketInfo)
            return FLYCAPTURE_INVALID_ARGUMENT;
        Format7 f7;
        if (const FlyCaptureError error = readFormat7(camera, f7))
            return error;
        const uint32_t bpp = flycaptureBytesPerPixel(format);
        if (uiMode != 0 || !f7.available || bpp == 0 || (bpp == 1 && !f7.mono8) || (bpp == 2 && !f7.mono16))
            return FLYCAPTURE_INVALID_MODE;
        if (ulImageWidth == 0 || ulImageHeight == 0 || ulImageWidth > f7.maxWidth ||
            ulImageHeight > f7.maxHeight)
            return FLYCAPTURE_INVALID_CUSTOM_SIZE;
        const uint32_t unit = f7.packetUnit ? f7.packetUnit : 1;
        const uint64_t imageBytes = uint64_t(ulImageWidth) * ulImageHeight * bpp;
        pPacketInfo->uiMinSizeBytes = f7.packetUnit;
        pPacketInfo->uiMaxSizeBytes = static_cast<uint32_t>(
            std::max<uint64_t>(unit, std::min<uint64_t>(f7.maxPacketAtSpeed, roundUp(imageBytes, unit))));
        pPacketInfo->uiImageSizeBytes = static_cast<uint32_t>(imageBytes);
        return FLYCAPTURE_OK;
    });
}

FlyCaptureError flycaptureStartCustomImagePacket(FlyCaptureContext context, unsigned int uiMode,
                                                 unsigned int uiImagePosLeft, unsigned int uiImagePosTop,
                                                 unsigned int uiWidth, unsigned int uiHeight,
                                                 unsigned int uiBytesPerPacket, FlyCapturePixelFormat format)
{
    const auto c = findContext(context);
    if (!c)
        return FLYCAPTURE_INVALID_CONTEXT;
    CaptureGeometry g;
    g.left = uiImagePosLeft;
    g.top = uiImagePosTop;
    g.width = uiWidth;
    g.height = uiHeight;
    g.bytesPerPixel = flycaptureBytesPerPixel(format);
    g.bytesPerPacket = uiBytesPerPacket;
    const FlyCaptureError checked = c->withCamera([&](dc1394camera_t* camera) {
        Format7 f7;
        if (const FlyCaptureError error = readFormat7(camera, f7))
            return error;
        if (uiMode != 0 || !f7.available || g.bytesPerPixel == 0 || (g.bytesPerPixel == 1 && !f7.mono8) ||
            (g.bytesPerPixel == 2 && !f7.mono16))
            return FLYCAPTURE_INVALID_MODE;
        return checkGeometry(f7, g);
    });
    if (checked != FLYCAPTURE_OK)
        return checked;
    return c->start(g, format);
}

FlyCaptureError flycaptureSetGrabTimeoutEx(FlyCaptureContext context, unsigned long ulTimeout)
{
    const auto c = findContext(context);
    if (!c)
        return FLYCAPTURE_INVALID_CONTEXT;
    c->setGrabTimeout(ulTimeout);
    return FLYCAPTURE_OK;
}

FlyCaptureError flycaptureLockLatest(FlyCaptureContext context, FlyCaptureImage* pImage)
{
    const auto c = findContext(context);
    if (!c)
        return FLYCAPTURE_INVALID_CONTEXT;
    if (!pImage)
        return FLYCAPTURE_INVALID_ARGUMENT;
    return c->lockLatest(*pImage);
}

FlyCaptureError flycaptureUnlock(FlyCaptureContext context, unsigned int uiBufferIndex)
{
    const auto c = findContext(context);
    return c ? c->unlock(uiBufferIndex) : FLYCAPTURE_INVALID_CONTEXT;
}

FlyCaptureError flycaptureUnlockAll(FlyCaptureContext context)
{
    const auto c = findContext(context);
    return c ? c->unlockAll() : FLYCAPTURE_INVALID_CONTEXT;
}

FlyCaptureError flycaptureStop(FlyCaptureContext context)
{
    const auto c = findContext(context);
    return c ? c->stop() : FLYCAPTURE_INVALID_CONTEXT;
}

FlyCaptureError flycaptureParseImageTimestamp(FlyCaptureContext context, const unsigned char* pData,
                                              unsigned int* puiSeconds, unsigned int* puiCycleCount,
                                              unsigned int* puiCycleOffset)
{
    if (!findContext(context))
        return FLYCAPTURE_INVALID_CONTEXT;
    if (!pData)
        return FLYCAPTURE_INVALID_ARGUMENT;
    const uint32_t cycleTime = frameinfo::readQuadlet(pData);
    put(puiSeconds, static_cast<unsigned int>(cycleSeconds(cycleTime)));
    put(puiCycleCount, static_cast<unsigned int>(cycleCount(cycleTime)));
    put(puiCycleOffset, static_cast<unsigned int>(cycleOffset(cycleTime)));
    return FLYCAPTURE_OK;
}

} // extern "C"
