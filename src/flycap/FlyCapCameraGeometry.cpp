// FlyCapCamera: Format_7 image geometry, pixel format and packet limits.
#include "flycap/FlyCapCameraPrivate.h"

#include "flycap/FlyCapCall.h"
#include "flycap/FlyCapDefs.h"
#include "flycap/FlyCapTexts.h"
#include "flycap/FlyCapTrace.h"
#include "flycap/JoinedText.h"

#include <orvex/OrvexError.h>
#include <orvex/iidc/Registers.h>

#include <cstdint>
#include <string>

using namespace orvex::flycap;
namespace iidc = orvex::iidc;

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

// This back end's colour codes: 8-bit and 16-bit mono.
constexpr unsigned long kColorCodeMono8 = 0;
constexpr unsigned long kColorCodeMono16 = 1;

// Host arguments as the camera's 32-bit registers take them: a negative
// value wraps, so that it fails the range tests as a huge one.
uint32_t asRegisterValue(int value)
{
    return static_cast<uint32_t>(value);
}

} // namespace

// --- pixel format ----------------------------------------------------------------

bool FlyCapCamera::isPixelFormatSupported(IEEECameraPixelFormat pixelFormat) const
{
    FLYCAP_TRACE("FlyCapCamera::isPixelFormatSupported(...); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    return (_pState->_geometry._nPixFormats & sdkPixelFormat(pixelFormat)) != 0;
}

void FlyCapCamera::setPixelFormat(IEEECameraPixelFormat pixelFormat)
{
    FLYCAP_TRACE("FlyCapCamera::setPixelFormat(...); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    if (!isPixelFormatSupported(pixelFormat)) {
        ORVEX_THROW(kCameraUnit, kErrPixelFormatUnsupported);
    }
    // Applies from the next start of acquisition; the camera is not told now.
    _pState->_geometry._fcPixFormat = sdkPixelFormat(pixelFormat);
    updatePacketInfo();
}

IEEECameraPixelFormat FlyCapCamera::getPixelFormat()
{
    FLYCAP_TRACE("FlyCapCamera::getPixelFormat(); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    return hostPixelFormat(_pState->_geometry._fcPixFormat);
}

// --- colour codes: the host's shorthand for the two mono formats ---------------------

bool FlyCapCamera::isColorCodeSupported(unsigned long nCode)
{
    FLYCAP_TRACE("FlyCapCamera::isColorCodeSupported(nCode=", nCode,
                 "); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    if (nCode == kColorCodeMono8) {
        return isPixelFormatSupported(pf_yMono);
    }
    if (nCode == kColorCodeMono16) {
        return isPixelFormatSupported(pf_yMono16);
    }
    return false;
}

void FlyCapCamera::setColorCode(unsigned long nCode)
{
    FLYCAP_TRACE("FlyCapCamera::setColorCode(nCode=", nCode, "); (portId=", _pState->_identity._nPortIdx,
                 ")");
    checkInitialized();
    if (!isColorCodeSupported(nCode)) {
        ORVEX_THROW(kCameraUnit, kErrColorCodeUnsupported);
    }
    setPixelFormat(nCode == kColorCodeMono16 ? pf_yMono16 : pf_yMono);
}

unsigned long FlyCapCamera::getColorCode()
{
    FLYCAP_TRACE("FlyCapCamera::getColorCode(); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    switch (getPixelFormat()) {
    case pf_yMono:
        return kColorCodeMono8;
    case pf_yMono16:
        return kColorCodeMono16;
    default:
        ORVEX_THROW(kCameraUnit, kErrColorCodePixelFormatNotImplemented);
    }
}

// --- image area ------------------------------------------------------------------------

void FlyCapCamera::getSize(int& width, int& height) const
{
    FLYCAP_TRACE("FlyCapCamera::getSize(...); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    width = static_cast<int>(_pState->_geometry._xImgSz);
    height = static_cast<int>(_pState->_geometry._yImgSz);
}

void FlyCapCamera::getUnitSize(int& width, int& height) const
{
    FLYCAP_TRACE("FlyCapCamera::getUnitSize(...); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    width = static_cast<int>(_pState->_geometry._xUnitImgSz);
    height = static_cast<int>(_pState->_geometry._yUnitImgSz);
}

void FlyCapCamera::getMaxSize(int& width, int& height) const
{
    FLYCAP_TRACE("FlyCapCamera::getMaxSize(...); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    width = static_cast<int>(_pState->_geometry._xMaxImgSz);
    height = static_cast<int>(_pState->_geometry._yMaxImgSz);
}

void FlyCapCamera::getPos(int& x, int& y) const
{
    FLYCAP_TRACE("FlyCapCamera::getPos(...); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    x = static_cast<int>(_pState->_geometry._xImgOffset);
    y = static_cast<int>(_pState->_geometry._yImgOffset);
}

void FlyCapCamera::getUnitPos(int& x, int& y)
{
    FLYCAP_TRACE("FlyCapCamera::getUnitPos(...); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    x = static_cast<int>(_pState->_geometry._xUnitImgOffset);
    y = static_cast<int>(_pState->_geometry._yUnitImgOffset);
}

void FlyCapCamera::setSize(int nWidth, int nHeight)
{
    FLYCAP_TRACE("FlyCapCamera::setSize(nWidth=", nWidth, ", nHeight=", nHeight,
                 "); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    State& st = *_pState;
    const uint32_t width = asRegisterValue(nWidth);
    const uint32_t height = asRegisterValue(nHeight);
    // Sums in 32 bits, as the registers hold them.
    if (static_cast<uint32_t>(st._geometry._xImgOffset + width) > st._geometry._xMaxImgSz) {
        ORVEX_THROW(kCameraUnit, joined(kErrWidthBeyondMax, st._geometry._xImgOffset, "+", width, " > ",
                                        st._geometry._xMaxImgSz, ")"));
    }
    if (static_cast<uint32_t>(st._geometry._yImgOffset + height) > st._geometry._yMaxImgSz) {
        ORVEX_THROW(kCameraUnit, joined(kErrHeightBeyondMax, st._geometry._yImgOffset, "+", height, " > ",
                                        st._geometry._yMaxImgSz, ")"));
    }
    // A unit of 0 (a malformed camera) leaves every size acceptable rather than dividing by it.
    if (st._geometry._xUnitImgSz != 0 && width % st._geometry._xUnitImgSz != 0) {
        ORVEX_THROW(kCameraUnit,
                    joined(kErrWidthNotUnit, width, kNotAMultipleOf, st._geometry._xUnitImgSz, ")"));
    }
    if (st._geometry._yUnitImgSz != 0 && height % st._geometry._yUnitImgSz != 0) {
        ORVEX_THROW(kCameraUnit,
                    joined(kErrHeightNotUnit, height, kNotAMultipleOf, st._geometry._yUnitImgSz, ")"));
    }
    writeRegister(st._geometry._nFormat7ModeCsr + iidc::kF7ImageSize, iidc::packHigh(width, height));
    st._geometry._xImgSz = width;
    st._geometry._yImgSz = height;
    updatePacketInfo();
    // The shutter range follows the frame size; a cached shutter it no longer
    // holds is refused here, with the new size already set.
    updateShutter();
}

void FlyCapCamera::setPos(int nLeft, int nTop)
{
    FLYCAP_TRACE("FlyCapCamera::setPos(nLeft=", nLeft, ", nTop=", nTop,
                 "); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    State& st = *_pState;
    const uint32_t left = asRegisterValue(nLeft);
    const uint32_t top = asRegisterValue(nTop);
    if (static_cast<uint32_t>(left + st._geometry._xImgSz) > st._geometry._xMaxImgSz) {
        ORVEX_THROW(kCameraUnit, joined(kErrLeftBeyondMax, left, "+", st._geometry._xImgSz, " > ",
                                        st._geometry._xMaxImgSz, ")"));
    }
    if (static_cast<uint32_t>(top + st._geometry._yImgSz) > st._geometry._yMaxImgSz) {
        ORVEX_THROW(kCameraUnit, joined(kErrTopBeyondMax, top, "+", st._geometry._yImgSz, " > ",
                                        st._geometry._yMaxImgSz, ")"));
    }
    // Offsets are not held to the offset steps, and the packet limits do not
    // depend on the position.
    writeRegister(st._geometry._nFormat7ModeCsr + iidc::kF7ImagePosition, iidc::packHigh(left, top));
    st._geometry._xImgOffset = left;
    st._geometry._yImgOffset = top;
}

void FlyCapCamera::setRoi(int nLeft, int nTop, int nWidth, int nHeight)
{
    FLYCAP_TRACE("FlyCapCamera::setRoi(nLeft=", nLeft, ", nTop=", nTop, ", nWidth=", nWidth,
                 ", nHeight=", nHeight, "); (portId=", _pState->_identity._nPortIdx, ")");
    // From the origin any size up to the maximum fits. A later step that
    // fails leaves the earlier ones applied.
    setPos(0, 0);
    setSize(nWidth, nHeight);
    setPos(nLeft, nTop);
}

void FlyCapCamera::getNbBytesPerFrame(unsigned long& nbBytes, unsigned long& second) const
{
    FLYCAP_TRACE("FlyCapCamera::getNbBytesPerFrame(...); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    second = 0;
    unsigned long pixelBytes =
        static_cast<unsigned long>(_pState->_geometry._xImgSz) * _pState->_geometry._yImgSz;
    if (_pState->_geometry._fcPixFormat == FLYCAPTURE_MONO16) {
        pixelBytes *= 2;
    }
    nbBytes = pixelBytes + kFrameAllowance;
}

// --- packets -----------------------------------------------------------------------

void FlyCapCamera::updatePacketInfo()
{
    FLYCAP_TRACE("FlyCapCamera::updatePacketInfo(); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    FlyCapturePacketInfo packetInfo = {};
    callRetried(FLYCAP_SITE(kCameraUnit), _pState->_identity._nSerialNumber, kCallPacketInfo, [&] {
        return flycaptureGetCustomImagePacketInfo(_pState->_fcContext.get(), 0,
                                                  static_cast<unsigned long>(_pState->_geometry._xImgSz),
                                                  static_cast<unsigned long>(_pState->_geometry._yImgSz),
                                                  _pState->_geometry._fcPixFormat, &packetInfo);
    });
    _pState->_geometry._fcPacketInfo.minBytes = packetInfo.uiMinSizeBytes;
    _pState->_geometry._fcPacketInfo.maxBytes = packetInfo.uiMaxSizeBytes;
}

int FlyCapCamera::getNbBytesPerPacket() const
{
    FLYCAP_TRACE("FlyCapCamera::getNbBytesPerPacket(); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    return static_cast<int>(_pState->_geometry._nPacketSz);
}

int FlyCapCamera::getUnitNbBytesPerPacket() const
{
    FLYCAP_TRACE("FlyCapCamera::getUnitNbBytesPerPacket(); (portId=", _pState->_identity._nPortIdx, ")");
    return static_cast<int>(_pState->_geometry._fcPacketInfo.minBytes);
}

int FlyCapCamera::getMinNbBytesPerPacket() const
{
    FLYCAP_TRACE("FlyCapCamera::getMinNbBytesPerPacket(); (portId=", _pState->_identity._nPortIdx, ")");
    return static_cast<int>(_pState->_geometry._fcPacketInfo.minBytes);
}

int FlyCapCamera::getMaxNbBytesPerPacket() const
{
    FLYCAP_TRACE("FlyCapCamera::getMaxNbBytesPerPacket(); (portId=", _pState->_identity._nPortIdx, ")");
    return static_cast<int>(_pState->_geometry._fcPacketInfo.maxBytes);
}

void FlyCapCamera::checkPacketSzValidity(int nPacketSz) const
{
    FLYCAP_TRACE("FlyCapCamera::checkPacketSzValidity(nPacketSz=", nPacketSz, ")");
    // Signed, so that a negative size is below the minimum; 64 bits hold any
    // limit the SDK reports.
    const int64_t size = nPacketSz;
    const int64_t minimum = _pState->_geometry._fcPacketInfo.minBytes;
    const int64_t maximum = _pState->_geometry._fcPacketInfo.maxBytes;
    if (size > maximum) {
        ORVEX_THROW(kCameraUnit, joined(kErrPacketAboveMax, nPacketSz, " > ", maximum, ")"));
    }
    if (size < minimum) {
        ORVEX_THROW(kCameraUnit, joined(kErrPacketBelowMin, nPacketSz, " < ", minimum, ")"));
    }
    // The minimum is also the step; the SDK should never report 0, but a
    // division by it must not follow if it does.
    if (minimum != 0 && size % minimum != 0) {
        ORVEX_THROW(kCameraUnit, joined(kErrPacketNotUnit, nPacketSz, kNotAMultipleOf, minimum, ")"));
    }
}

void FlyCapCamera::setNbBytesPerPacket(int nbBytes)
{
    FLYCAP_TRACE("FlyCapCamera::setNbBytesPerPacket(nbBytes=", nbBytes,
                 "); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    // The SDK was handed the packet size when the transfer started.
    checkNotAcquiring();
    checkPacketSzValidity(nbBytes);
    // Valid now, hence positive. The recommended value (low half) is left 0.
    const uint32_t bytes = asRegisterValue(nbBytes);
    writeRegister(_pState->_geometry._nFormat7ModeCsr + iidc::kF7BytePerPacket, bytes << 16);
    _pState->_geometry._nPacketSz = bytes;
    // The frame-rate range follows the packet size.
    updateFrameRate();
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
    FLYCAP_TRACE("FlyCapCamera::isInterPacketDelaySupported(); (portId=", _pState->_identity._nPortIdx, ")");
    return false;
}

void FlyCapCamera::setInterPacketDelay(int delay)
{
    FLYCAP_TRACE("FlyCapCamera::setInterPacketDelay(nDelay=", delay,
                 "); (portId=", _pState->_identity._nPortIdx, ")");
    checkInterPacketDelaySupported();
}

int FlyCapCamera::getInterPacketDelay() const
{
    FLYCAP_TRACE("FlyCapCamera::getInterPacketDelay(); (portId=", _pState->_identity._nPortIdx, ")");
    checkInterPacketDelaySupported();
    return 0;
}

int FlyCapCamera::getUnitInterPacketDelay() const
{
    FLYCAP_TRACE("FlyCapCamera::getUnitInterPacketDelay(); (portId=", _pState->_identity._nPortIdx, ")");
    checkInterPacketDelaySupported();
    return 0;
}

int FlyCapCamera::getMinInterPacketDelay() const
{
    FLYCAP_TRACE("FlyCapCamera::getMinInterPacketDelay(); (portId=", _pState->_identity._nPortIdx, ")");
    checkInterPacketDelaySupported();
    return 0;
}

int FlyCapCamera::getMaxInterPacketDelay() const
{
    FLYCAP_TRACE("FlyCapCamera::getMaxInterPacketDelay(); (portId=", _pState->_identity._nPortIdx, ")");
    checkInterPacketDelaySupported();
    return 0;
}
