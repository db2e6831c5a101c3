// SDK functions: Format_7 queries, packet sizes, image transfer and locks.
#include "Call.h"
#include "Status.h"

#include "FlyCaptureSdkCommon.h"
#include "PGRFlyCapture.h"

#include <orvex/iidc/FrameInfo.h>
#include <orvex/iidc/Registers.h>

using namespace orvex::iidc;
using namespace orvex::sim;
using namespace orvex::sim::flycap;

namespace {

// The Format_7 mode 0 inquiry, read from the camera's registers as the SDK
// does (so that forced register values are seen).
struct Format7Inquiry {
    bool available = false;
    uint32_t maxWidth = 0, maxHeight = 0, unitWidth = 0, unitHeight = 0, unitLeft = 0, unitTop = 0;
    unsigned int pixelFormats = 0;
};

FlyCaptureError queryFormat7(Camera& camera, Format7Inquiry& q)
{
    uint32_t formats = 0, modes = 0, csr = 0;
    Status s = camera.readRegister(kVideoFormatInquiry, formats);
    if (s == Status::ok)
        s = camera.readRegister(videoModeInquiry(kFormat7), modes);
    if (s == Status::ok)
        s = camera.readRegister(format7CsrInquiry(0), csr);
    if (s != Status::ok)
        return toError(s);
    if (!(formats & formatBit(kFormat7)) || !(modes & formatBit(0)) || csr == 0)
        return FLYCAPTURE_OK;
    const uint32_t base = quadletOffsetToAddress(csr);
    uint32_t regs[kF7UnitPositionInquiry / 4 + 1];
    s = camera.readBlock(base, regs, sizeof regs / sizeof regs[0]);
    if (s != Status::ok)
        return toError(s);
    q.available = true;
    q.maxWidth = highField(regs[kF7MaxImageSizeInquiry / 4]);
    q.maxHeight = lowField(regs[kF7MaxImageSizeInquiry / 4]);
    q.unitWidth = highField(regs[kF7UnitSizeInquiry / 4]);
    q.unitHeight = lowField(regs[kF7UnitSizeInquiry / 4]);
    q.unitLeft = highField(regs[kF7UnitPositionInquiry / 4]);
    q.unitTop = lowField(regs[kF7UnitPositionInquiry / 4]);
    const uint32_t codings = regs[kF7ColorCodingInquiry / 4];
    if (codings & formatBit(kColorCodeMono8))
        q.pixelFormats |= FLYCAPTURE_MONO8;
    if (codings & formatBit(kColorCodeMono16))
        q.pixelFormats |= FLYCAPTURE_MONO16;
    return FLYCAPTURE_OK;
}

template <typename T> void put(T* target, T value)
{
    if (target)
        *target = value;
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
    std::shared_ptr<Context> c;
    std::shared_ptr<Camera> camera;
    if (const FlyCaptureError error = enterCamera("flycaptureQueryCustomImageEx", context, c, camera))
        return error;
    if (uiMode > 7)
        return FLYCAPTURE_INVALID_ARGUMENT;
    Format7Inquiry q;
    if (uiMode == 0) {
        if (const FlyCaptureError error = queryFormat7(*camera, q))
            return error;
    }
    put(pbAvailable, q.available);
    put(puiMaxImagePixelsWidth, static_cast<unsigned int>(q.maxWidth));
    put(puiMaxImagePixelsHeight, static_cast<unsigned int>(q.maxHeight));
    put(puiPixelUnitHorz, static_cast<unsigned int>(q.unitWidth));
    put(puiPixelUnitVert, static_cast<unsigned int>(q.unitHeight));
    put(puiOffsetUnitHorz, static_cast<unsigned int>(q.unitLeft));
    put(puiOffsetUnitVert, static_cast<unsigned int>(q.unitTop));
    put(puiPixelFormats, q.pixelFormats);
    return FLYCAPTURE_OK;
}

FlyCaptureError flycaptureGetCustomImagePacketInfo(FlyCaptureContext context, unsigned int uiMode,
                                                   unsigned long ulImageWidth, unsigned long ulImageHeight,
                                                   FlyCapturePixelFormat format,
                                                   FlyCapturePacketInfo* pPacketInfo)
{
    std::shared_ptr<Context> c;
    std::shared_ptr<Camera> camera;
    if (const FlyCaptureError error = enterCamera("flycaptureGetCustomImagePacketInfo", context, c, camera))
        return error;
    if (!pPacketInfo)
        return FLYCAPTURE_INVALID_ARGUMENT;
    const uint32_t bpp = flycaptureBytesPerPixel(format);
    if (uiMode != 0 || bpp == 0 || (bpp == 2 && !camera->config().mono16))
        return FLYCAPTURE_INVALID_MODE;
    const CameraConfig& config = camera->config();
    if (ulImageWidth == 0 || ulImageHeight == 0 || ulImageWidth > config.sensorWidth ||
        ulImageHeight > config.sensorHeight)
        return FLYCAPTURE_INVALID_CUSTOM_SIZE;
    const PacketLimits limits =
        camera->packetLimits(static_cast<uint32_t>(ulImageWidth), static_cast<uint32_t>(ulImageHeight), bpp);
    pPacketInfo->uiMinSizeBytes = limits.unitBytes;
    pPacketInfo->uiMaxSizeBytes = limits.maxBytes;
    pPacketInfo->uiImageSizeBytes = static_cast<uint32_t>(limits.imageBytes);
    return FLYCAPTURE_OK;
}

FlyCaptureError flycaptureStartCustomImagePacket(FlyCaptureContext context, unsigned int uiMode,
                                                 unsigned int uiImagePosLeft, unsigned int uiImagePosTop,
                                                 unsigned int uiWidth, unsigned int uiHeight,
                                                 unsigned int uiBytesPerPacket, FlyCapturePixelFormat format)
{
    std::shared_ptr<Context> c;
    std::shared_ptr<Camera> camera;
    if (const FlyCaptureError error = enterCamera("flycaptureStartCustomImagePacket", context, c, camera))
        return error;
    const uint32_t bpp = flycaptureBytesPerPixel(format);
    if (uiMode != 0 || bpp == 0)
        return FLYCAPTURE_INVALID_MODE;
    FrameGeometry g;
    g.left = uiImagePosLeft;
    g.top = uiImagePosTop;
    g.width = uiWidth;
    g.height = uiHeight;
    g.bytesPerPixel = bpp;
    g.bytesPerPacket = uiBytesPerPacket;
    return c->start(g, format);
}

FlyCaptureError flycaptureSetGrabTimeoutEx(FlyCaptureContext context, unsigned long ulTimeout)
{
    std::shared_ptr<Context> c;
    if (const FlyCaptureError error = enterContext("flycaptureSetGrabTimeoutEx", context, c))
        return error;
    c->setGrabTimeout(ulTimeout);
    return FLYCAPTURE_OK;
}

FlyCaptureError flycaptureLockLatest(FlyCaptureContext context, FlyCaptureImage* pImage)
{
    std::shared_ptr<Context> c;
    if (const FlyCaptureError error = enterContext("flycaptureLockLatest", context, c))
        return error;
    if (!pImage)
        return FLYCAPTURE_INVALID_ARGUMENT;
    return c->lockLatest(*pImage);
}

FlyCaptureError flycaptureUnlock(FlyCaptureContext context, unsigned int uiBufferIndex)
{
    std::shared_ptr<Context> c;
    if (const FlyCaptureError error = enterContext("flycaptureUnlock", context, c))
        return error;
    return c->unlock(uiBufferIndex);
}

FlyCaptureError flycaptureUnlockAll(FlyCaptureContext context)
{
    std::shared_ptr<Context> c;
    if (const FlyCaptureError error = enterContext("flycaptureUnlockAll", context, c))
        return error;
    return c->unlockAll();
}

FlyCaptureError flycaptureStop(FlyCaptureContext context)
{
    std::shared_ptr<Context> c;
    if (const FlyCaptureError error = enterContext("flycaptureStop", context, c))
        return error;
    return c->stop();
}

FlyCaptureError flycaptureParseImageTimestamp(FlyCaptureContext context, const unsigned char* pData,
                                              unsigned int* puiSeconds, unsigned int* puiCycleCount,
                                              unsigned int* puiCycleOffset)
{
    std::shared_ptr<Context> c;
    if (const FlyCaptureError error = enterContext("flycaptureParseImageTimestamp", context, c))
        return error;
    if (!pData)
        return FLYCAPTURE_INVALID_ARGUMENT;
    const uint32_t cycleTime = frameinfo::readQuadlet(pData);
    put(puiSeconds, static_cast<unsigned int>(cycleSeconds(cycleTime)));
    put(puiCycleCount, static_cast<unsigned int>(cycleCount(cycleTime)));
    put(puiCycleOffset, static_cast<unsigned int>(cycleOffset(cycleTime)));
    return FLYCAPTURE_OK;
}

} // extern "C"
