// FlyCapCamera: Format_7 image geometry, pixel format and packet limits.
#include "flycap/FlyCapCameraPrivate.h"

#include "flycap/FlyCapCall.h"
#include "flycap/FlyCapDefs.h"
#include "flycap/FlyCapTexts.h"
#include "flycap/FlyCapTrace.h"

#include <orvex/OrvexError.h>

using namespace orvex::flycap;

namespace {

// The SDK's one-bit code of the two pixel formats this back end handles.
FlyCapturePixelFormat sdkPixelFormat(IEEECameraPixelFormat pixelFormat)
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

IEEECameraPixelFormat hostPixelFormat(FlyCapturePixelFormat sdkCode)
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
    FLYCAP_TRACE("FlyCapCamera::isPixelFormatSupported(...); (portId=", _pState->_nPortIdx, ")");
    checkInitialized();
    return (_pState->_nPixFormats & sdkPixelFormat(pixelFormat)) != 0;
}

void FlyCapCamera::setPixelFormat(IEEECameraPixelFormat pixelFormat)
{
    FLYCAP_TRACE("FlyCapCamera::setPixelFormat(...); (portId=", _pState->_nPortIdx, ")");
    checkInitialized();
    if (!isPixelFormatSupported(pixelFormat)) {
        ORVEX_THROW(kCameraUnit, kErrPixelFormatUnsupported);
    }
    // Applies from the next start of acquisition; the camera is not told now.
    _pState->_fcPixFormat = sdkPixelFormat(pixelFormat);
    updatePacketInfo();
}

IEEECameraPixelFormat FlyCapCamera::getPixelFormat()
{
    FLYCAP_TRACE("FlyCapCamera::getPixelFormat(); (portId=", _pState->_nPortIdx, ")");
    checkInitialized();
    return hostPixelFormat(_pState->_fcPixFormat);
}

// --- image area ------------------------------------------------------------------------

void FlyCapCamera::getSize(int& width, int& height) const
{
    FLYCAP_TRACE("FlyCapCamera::getSize(...); (portId=", _pState->_nPortIdx, ")");
    checkInitialized();
    width = static_cast<int>(_pState->_xImgSz);
    height = static_cast<int>(_pState->_yImgSz);
}

void FlyCapCamera::getUnitSize(int& width, int& height) const
{
    FLYCAP_TRACE("FlyCapCamera::getUnitSize(...); (portId=", _pState->_nPortIdx, ")");
    checkInitialized();
    width = static_cast<int>(_pState->_xUnitImgSz);
    height = static_cast<int>(_pState->_yUnitImgSz);
}

void FlyCapCamera::getMaxSize(int& width, int& height) const
{
    FLYCAP_TRACE("FlyCapCamera::getMaxSize(...); (portId=", _pState->_nPortIdx, ")");
    checkInitialized();
    width = static_cast<int>(_pState->_xMaxImgSz);
    height = static_cast<int>(_pState->_yMaxImgSz);
}

void FlyCapCamera::getPos(int& x, int& y) const
{
    FLYCAP_TRACE("FlyCapCamera::getPos(...); (portId=", _pState->_nPortIdx, ")");
    checkInitialized();
    x = static_cast<int>(_pState->_xImgOffset);
    y = static_cast<int>(_pState->_yImgOffset);
}

void FlyCapCamera::getUnitPos(int& x, int& y)
{
    FLYCAP_TRACE("FlyCapCamera::getUnitPos(...); (portId=", _pState->_nPortIdx, ")");
    checkInitialized();
    x = static_cast<int>(_pState->_xUnitImgOffset);
    y = static_cast<int>(_pState->_yUnitImgOffset);
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
    FLYCAP_TRACE("FlyCapCamera::getNbBytesPerFrame(...); (portId=", _pState->_nPortIdx, ")");
    checkInitialized();
    second = 0;
    unsigned long pixelBytes = static_cast<unsigned long>(_pState->_xImgSz) * _pState->_yImgSz;
    if (_pState->_fcPixFormat == FLYCAPTURE_MONO16) {
        pixelBytes *= 2;
    }
    nbBytes = pixelBytes + kFrameAllowance;
}

// --- packets -----------------------------------------------------------------------

void FlyCapCamera::updatePacketInfo()
{
    FLYCAP_TRACE("FlyCapCamera::updatePacketInfo(); (portId=", _pState->_nPortIdx, ")");
    checkInitialized();
    FlyCapturePacketInfo packetInfo = {};
    callRetried(FLYCAP_SITE(kCameraUnit), _pState->_nSerialNumber, kCallPacketInfo, [&] {
        return flycaptureGetCustomImagePacketInfo(
            _pState->_fcContext.get(), 0, static_cast<unsigned long>(_pState->_xImgSz),
            static_cast<unsigned long>(_pState->_yImgSz), _pState->_fcPixFormat, &packetInfo);
    });
    _pState->_fcPacketInfo.minBytes = packetInfo.uiMinSizeBytes;
    _pState->_fcPacketInfo.maxBytes = packetInfo.uiMaxSizeBytes;
}

int FlyCapCamera::getNbBytesPerPacket() const
{
    FLYCAP_TRACE("FlyCapCamera::getNbBytesPerPacket(); (portId=", _pState->_nPortIdx, ")");
    checkInitialized();
    return static_cast<int>(_pState->_nPacketSz);
}

int FlyCapCamera::getUnitNbBytesPerPacket() const
{
    FLYCAP_TRACE("FlyCapCamera::getUnitNbBytesPerPacket(); (portId=", _pState->_nPortIdx, ")");
    return static_cast<int>(_pState->_fcPacketInfo.minBytes);
}

int FlyCapCamera::getMinNbBytesPerPacket() const
{
    FLYCAP_TRACE("FlyCapCamera::getMinNbBytesPerPacket(); (portId=", _pState->_nPortIdx, ")");
    return static_cast<int>(_pState->_fcPacketInfo.minBytes);
}

int FlyCapCamera::getMaxNbBytesPerPacket() const
{
    FLYCAP_TRACE("FlyCapCamera::getMaxNbBytesPerPacket(); (portId=", _pState->_nPortIdx, ")");
    return static_cast<int>(_pState->_fcPacketInfo.maxBytes);
}

void FlyCapCamera::setNbBytesPerPacket(int)
{
    refuseNotAvailableYet("setNbBytesPerPacket");
}

// --- inter-packet delay: not offered by this back end -------------------------------

void FlyCapCamera::checkInterPacketDelaySupported() const
{
    if (!isInterPacketDelaySupported()) {
        ORVEX_THROW(kCameraUnit, kErrInterPacketDelay);
    }
}

bool FlyCapCamera::isInterPacketDelaySupported() const
{
    FLYCAP_TRACE("FlyCapCamera::isInterPacketDelaySupported(); (portId=", _pState->_nPortIdx, ")");
    return false;
}

void FlyCapCamera::setInterPacketDelay(int delay)
{
    FLYCAP_TRACE("FlyCapCamera::setInterPacketDelay(nDelay=", delay, "); (portId=", _pState->_nPortIdx, ")");
    checkInterPacketDelaySupported();
}

int FlyCapCamera::getInterPacketDelay() const
{
    FLYCAP_TRACE("FlyCapCamera::getInterPacketDelay(); (portId=", _pState->_nPortIdx, ")");
    checkInterPacketDelaySupported();
    return 0;
}

int FlyCapCamera::getUnitInterPacketDelay() const
{
    FLYCAP_TRACE("FlyCapCamera::getUnitInterPacketDelay(); (portId=", _pState->_nPortIdx, ")");
    checkInterPacketDelaySupported();
    return 0;
}

int FlyCapCamera::getMinInterPacketDelay() const
{
    FLYCAP_TRACE("FlyCapCamera::getMinInterPacketDelay(); (portId=", _pState->_nPortIdx, ")");
    checkInterPacketDelaySupported();
    return 0;
}

int FlyCapCamera::getMaxInterPacketDelay() const
{
    FLYCAP_TRACE("FlyCapCamera::getMaxInterPacketDelay(); (portId=", _pState->_nPortIdx, ")");
    checkInterPacketDelaySupported();
    return 0;
}
