// FlyCapCamera: Format_7 image geometry, pixel format and packet limits.
#include <orvex/FlyCapCamera.h>

#include "flycap/FlyCapCall.h"
#include "flycap/FlyCapDefs.h"
#include "flycap/FlyCapTrace.h"

#include <orvex/OrvexError.h>

using namespace orvex::flycap;

namespace {

// The SDK's one-bit code of the two pixel formats this back end handles.
uint32_t sdkPixelFormat(IEEECameraPixelFormat pixelFormat)
{
    switch (pixelFormat) {
    case pf_yMono:
        return FLYCAPTURE_MONO8;
    case pf_yMono16:
        return FLYCAPTURE_MONO16;
    default:
        ORVEX_THROW(kCameraUnit, kErrPixelFormatNotImplemented);
    }
}

IEEECameraPixelFormat hostPixelFormat(uint32_t sdkCode)
{
    switch (sdkCode) {
    case FLYCAPTURE_MONO8:
        return pf_yMono;
    case FLYCAPTURE_MONO16:
        return pf_yMono16;
    default:
        ORVEX_THROW(kCameraUnit, kErrPixelFormatNotImplemented);
    }
}

// Bytes added to the pixel data of every frame.
constexpr unsigned long kFrameAllowance = 8192;

} // namespace

// --- pixel format ----------------------------------------------------------------

bool FlyCapCamera::isPixelFormatSupported(IEEECameraPixelFormat pixelFormat) const
{
    FLYCAP_TRACE("FlyCapCamera::isPixelFormatSupported(...); (portId=", _nPortIdx, ")");
    checkInitialized();
    return (_nPixFormats & sdkPixelFormat(pixelFormat)) != 0;
}

void FlyCapCamera::setPixelFormat(IEEECameraPixelFormat pixelFormat)
{
    FLYCAP_TRACE("FlyCapCamera::setPixelFormat(...); (portId=", _nPortIdx, ")");
    checkInitialized();
    if (!isPixelFormatSupported(pixelFormat)) {
        ORVEX_THROW(kCameraUnit, "requested pixel format is not supported by the camera");
    }
    // Applies from the next start of acquisition; the camera is not told now.
    _fcPixFormat = sdkPixelFormat(pixelFormat);
    updatePacketInfo();
}

IEEECameraPixelFormat FlyCapCamera::getPixelFormat()
{
    FLYCAP_TRACE("FlyCapCamera::getPixelFormat(); (portId=", _nPortIdx, ")");
    checkInitialized();
    return hostPixelFormat(_fcPixFormat);
}

// --- image area ------------------------------------------------------------------------

void FlyCapCamera::getSize(int& width, int& height) const
{
    FLYCAP_TRACE("FlyCapCamera::getSize(...); (portId=", _nPortIdx, ")");
    checkInitialized();
    width = static_cast<int>(_xImgSz);
    height = static_cast<int>(_yImgSz);
}

void FlyCapCamera::getUnitSize(int& width, int& height) const
{
    FLYCAP_TRACE("FlyCapCamera::getUnitSize(...); (portId=", _nPortIdx, ")");
    checkInitialized();
    width = static_cast<int>(_xUnitImgSz);
    height = static_cast<int>(_yUnitImgSz);
}

void FlyCapCamera::getMaxSize(int& width, int& height) const
{
    FLYCAP_TRACE("FlyCapCamera::getMaxSize(...); (portId=", _nPortIdx, ")");
    checkInitialized();
    width = static_cast<int>(_xMaxImgSz);
    height = static_cast<int>(_yMaxImgSz);
}

void FlyCapCamera::getPos(int& x, int& y) const
{
    FLYCAP_TRACE("FlyCapCamera::getPos(...); (portId=", _nPortIdx, ")");
    checkInitialized();
    x = static_cast<int>(_xImgOffset);
    y = static_cast<int>(_yImgOffset);
}

void FlyCapCamera::getUnitPos(int& x, int& y)
{
    FLYCAP_TRACE("FlyCapCamera::getUnitPos(...); (portId=", _nPortIdx, ")");
    checkInitialized();
    x = static_cast<int>(_xUnitImgOffset);
    y = static_cast<int>(_yUnitImgOffset);
}

void FlyCapCamera::setSize(int, int)
{
    refuseNotAvailableYet("setSize");
}

void FlyCapCamera::setPos(int, int)
{
    refuseNotAvailableYet("setPos");
}

void FlyCapCamera::setRoi(int, int, int, int)
{
    refuseNotAvailableYet("setRoi");
}

void FlyCapCamera::getNbBytesPerFrame(unsigned long& nbBytes, unsigned long& second) const
{
    FLYCAP_TRACE("FlyCapCamera::getNbBytesPerFrame(...); (portId=", _nPortIdx, ")");
    checkInitialized();
    second = 0;
    unsigned long pixelBytes = static_cast<unsigned long>(_xImgSz) * _yImgSz;
    if (_fcPixFormat == FLYCAPTURE_MONO16) {
        pixelBytes *= 2;
    }
    nbBytes = pixelBytes + kFrameAllowance;
}

// --- packets -----------------------------------------------------------------------

void FlyCapCamera::updatePacketInfo()
{
    FLYCAP_TRACE("FlyCapCamera::updatePacketInfo(); (portId=", _nPortIdx, ")");
    checkInitialized();
    FlyCapturePacketInfo packetInfo = {};
    callRetried(_nSerialNumber,
                "flycaptureGetCustomImagePacketInfo(_fcContext, 0, static_cast<unsigned long>(_xImgSz), "
                "static_cast<unsigned long>(_yImgSz), _fcPixFormat, &_fcPacketInfo)",
                [&] {
                    return flycaptureGetCustomImagePacketInfo(
                        _fcContext, 0, static_cast<unsigned long>(_xImgSz),
                        static_cast<unsigned long>(_yImgSz), static_cast<FlyCapturePixelFormat>(_fcPixFormat),
                        &packetInfo);
                });
    _fcPacketInfo.minBytes = packetInfo.uiMinSizeBytes;
    _fcPacketInfo.maxBytes = packetInfo.uiMaxSizeBytes;
}

int FlyCapCamera::getNbBytesPerPacket() const
{
    FLYCAP_TRACE("FlyCapCamera::getNbBytesPerPacket(); (portId=", _nPortIdx, ")");
    checkInitialized();
    return static_cast<int>(_nPacketSz);
}

int FlyCapCamera::getUnitNbBytesPerPacket() const
{
    FLYCAP_TRACE("FlyCapCamera::getUnitNbBytesPerPacket(); (portId=", _nPortIdx, ")");
    return static_cast<int>(_fcPacketInfo.minBytes);
}

int FlyCapCamera::getMinNbBytesPerPacket() const
{
    FLYCAP_TRACE("FlyCapCamera::getMinNbBytesPerPacket(); (portId=", _nPortIdx, ")");
    return static_cast<int>(_fcPacketInfo.minBytes);
}

int FlyCapCamera::getMaxNbBytesPerPacket() const
{
    FLYCAP_TRACE("FlyCapCamera::getMaxNbBytesPerPacket(); (portId=", _nPortIdx, ")");
    return static_cast<int>(_fcPacketInfo.maxBytes);
}

void FlyCapCamera::setNbBytesPerPacket(int)
{
    refuseNotAvailableYet("setNbBytesPerPacket");
}

// --- inter-packet delay: not offered by this back end -------------------------------

bool FlyCapCamera::isInterPacketDelaySupported() const
{
    FLYCAP_TRACE("FlyCapCamera::isInterPacketDelaySupported(); (portId=", _nPortIdx, ")");
    return false;
}

void FlyCapCamera::setInterPacketDelay(int delay)
{
    FLYCAP_TRACE("FlyCapCamera::setInterPacketDelay(nDelay=", delay, "); (portId=", _nPortIdx, ")");
    if (!isInterPacketDelaySupported()) {
        ORVEX_THROW(kCameraUnit, kErrInterPacketDelay);
    }
}

int FlyCapCamera::getInterPacketDelay() const
{
    FLYCAP_TRACE("FlyCapCamera::getInterPacketDelay(); (portId=", _nPortIdx, ")");
    if (!isInterPacketDelaySupported()) {
        ORVEX_THROW(kCameraUnit, kErrInterPacketDelay);
    }
    return 0;
}

int FlyCapCamera::getUnitInterPacketDelay() const
{
    FLYCAP_TRACE("FlyCapCamera::getUnitInterPacketDelay(); (portId=", _nPortIdx, ")");
    if (!isInterPacketDelaySupported()) {
        ORVEX_THROW(kCameraUnit, kErrInterPacketDelay);
    }
    return 0;
}

int FlyCapCamera::getMinInterPacketDelay() const
{
    FLYCAP_TRACE("FlyCapCamera::getMinInterPacketDelay(); (portId=", _nPortIdx, ")");
    if (!isInterPacketDelaySupported()) {
        ORVEX_THROW(kCameraUnit, kErrInterPacketDelay);
    }
    return 0;
}

int FlyCapCamera::getMaxInterPacketDelay() const
{
    FLYCAP_TRACE("FlyCapCamera::getMaxInterPacketDelay(); (portId=", _nPortIdx, ")");
    if (!isInterPacketDelaySupported()) {
        ORVEX_THROW(kCameraUnit, kErrInterPacketDelay);
    }
    return 0;
}
