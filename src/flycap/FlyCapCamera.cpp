// FlyCapCamera: construction, init, hidden window, port and bus identity,
// destruction.
#include <orvex/FlyCapCamera.h>

#include "base/HiddenWindow.h"
#include "flycap/FlyCapCall.h"
#include "flycap/FlyCapDefs.h"
#include "flycap/FlyCapTrace.h"

#include <orvex/ImagesBuffer.h>
#include <orvex/OrvexError.h>
#include <orvex/iidc/Registers.h>

#include <log4cplus/loggingmacros.h>

#include <exception>

using namespace orvex::flycap;
namespace iidc = orvex::iidc;

static_assert(sizeof(FlyCaptureContext) == sizeof(void*), "the camera keeps its context as void*");

namespace {

// Whether this is a 32-bit process on 64-bit Windows. The function is looked
// up, not linked: old systems do not have it.
bool isWow64Process()
{
    using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
    const HMODULE kernel = GetModuleHandleA("kernel32");
    if (kernel == nullptr) {
        return false;
    }
    const FARPROC address = GetProcAddress(kernel, "IsWow64Process");
    if (address == nullptr) {
        return false;
    }
    const auto isWow64 = reinterpret_cast<IsWow64ProcessFunction>(reinterpret_cast<void (*)()>(address));
    BOOL wow64 = FALSE;
    return isWow64(GetCurrentProcess(), &wow64) && wow64;
}

void destroyContext(void* context) noexcept
{
    const FlyCaptureError error = flycaptureDestroyContext(context);
    if (error != FLYCAPTURE_OK) {
        LOG4CPLUS_ERROR(g_OrvexLogger, "flycaptureDestroyContext(_fcContext): " << sdkErrorText(error));
    }
}

} // namespace

// --- construction and destruction --------------------------------------------

FlyCapCamera::FlyCapCamera(unsigned short portIdx, uint32_t serialNumber, const std::string& modelName,
                           const std::string& vendorName, int busId)
    : _nPortIdx(portIdx), _nSerialNumber(serialNumber), _nBusId(busId), _modelName(modelName),
      _vendorName(vendorName)
{
    FLYCAP_TRACE("FlyCapCamera::FlyCapCamera(nPortIdx=", portIdx, ", serialNumber=", serialNumber, ")");
    FlyCaptureContext context = nullptr;
    checkSingle(flycaptureCreateContext(&context));
    _fcContext = context;
    try {
        // Recycled SDK buffers come back through the images buffer.
        imagesBuffer().keepObsoleteParams(true);
        _nNbImgBuffers = static_cast<uint32_t>(imagesBuffer().getBufferMaxSize()) +
                         imagesBuffer().getTransitQueueMaxSize() + kExtraNbImgBuffers;
        _bWow64 = isWow64Process();
        LOG4CPLUS_TRACE(g_OrvexLogger, "FlyCapCamera::FlyCapCamera(...); "
                                           << (_bWow64 ? "wow64 environment" : "non-wow64 environment"));
        checkSingle(flycaptureInitializePlus(_fcContext, _nPortIdx,
                                             _bWow64 ? kWow64NbImgBuffers : _nNbImgBuffers, nullptr));
        createWindow();
        _hAcquiThreadStarted = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (_hAcquiThreadStarted == nullptr) {
            ORVEX_THROW(kCameraUnit, orvex::systemErrorText(GetLastError()));
        }
    } catch (...) {
        destroyWindow();
        destroyContext(_fcContext);
        throw;
    }
    InitializeCriticalSection(&_csMapShutter);
    InitializeCriticalSection(&_csMapGain);
}

FlyCapCamera::~FlyCapCamera()
{
    FLYCAP_TRACE("FlyCapCamera::~FlyCapCamera(); (_nPortIdx=", _nPortIdx, ")");
    try {
        if (FlyCapCamera::isAcquisitionStarted()) {
            FlyCapCamera::stopAcquisition();
        }
    } catch (const std::exception& error) {
        LOG4CPLUS_ERROR(g_OrvexLogger, "FlyCapCamera::~FlyCapCamera: " << error.what());
    }
    DeleteCriticalSection(&_csMapShutter);
    DeleteCriticalSection(&_csMapGain);
    CloseHandle(_hAcquiThreadStarted);
    destroyWindow();
    destroyContext(_fcContext);
}

void FlyCapCamera::createWindow()
{
    FLYCAP_TRACE("FlyCapCamera::createWindow(); (_nPortIdx=", _nPortIdx, ")");
    createNotificationWindow(kCameraWndClass);
}

void FlyCapCamera::destroyWindow() noexcept
{
    try {
        FLYCAP_TRACE("FlyCapCamera::destroyWindow(); (_nPortIdx=", _nPortIdx, ")");
        destroyNotificationWindow();
    } catch (...) {
        destroyNotificationWindow(); // only the trace can have failed
    }
}

// --- init ------------------------------------------------------------------------

void FlyCapCamera::init()
{
    FLYCAP_TRACE("FlyCapCamera::init(); (portId =", _nPortIdx, ")");
    if (isAcquiring()) {
        ORVEX_THROW(kCameraUnit, kErrAcquiring);
    }
    writeRegister(iidc::kInitialize, iidc::kInitializeBit);
    writeRegister(iidc::kCameraPower, iidc::kCameraPowerOn);

    bool format7Available = false;
    unsigned int maxWidth = 0, maxHeight = 0, unitWidth = 0, unitHeight = 0, unitLeft = 0, unitTop = 0;
    unsigned int pixelFormats = 0;
    checkSingle(flycaptureQueryCustomImageEx(_fcContext, 0, &format7Available, &maxWidth, &maxHeight,
                                             &unitWidth, &unitHeight, &unitLeft, &unitTop, &pixelFormats));
    if (!format7Available) {
        ORVEX_THROW(kCameraUnit, "format 7 not supported by this camera");
    }
    _xMaxImgSz = maxWidth;
    _yMaxImgSz = maxHeight;
    _xUnitImgSz = unitWidth;
    _yUnitImgSz = unitHeight;
    _xUnitImgOffset = unitLeft;
    _yUnitImgOffset = unitTop;
    _nPixFormats = pixelFormats;

    resetAndSelectFormat7();
    resetImageArea();
    setPixelFormat(pf_yMono);
    updatePacketInfo();
    setLargestPacket();

    updateTriggerInfo();
    forceTriggerPolarityOnRisingEdge();

    resetExposure();
    updateShutter();
    updateGain();
    updateBrightness();
    updateFrameRate();
    _nDefaultGain = _gain.value_or(0);

    updateFrameInfoFeatures();
    resetStrobeOutputs();
}

void FlyCapCamera::resetAndSelectFormat7()
{
    unsigned long value = 0;
    readRegister(iidc::format7CsrInquiry(0), value);
    _nFormat7ModeCsr = iidc::quadletOffsetToAddress(static_cast<uint32_t>(value));

    // Format 7 is index 7 (all three index bits set), mode 0 all clear.
    readRegister(iidc::kCurrentVideoFormat, value);
    writeRegister(iidc::kCurrentVideoFormat, value | iidc::kCurrentIndexMask);
    readRegister(iidc::kCurrentVideoMode, value);
    writeRegister(iidc::kCurrentVideoMode, value & ~iidc::kCurrentIndexMask);
}

void FlyCapCamera::resetImageArea()
{
    writeRegister(_nFormat7ModeCsr + iidc::kF7ImagePosition, 0);
    _xImgOffset = 0;
    _yImgOffset = 0;
    writeRegister(_nFormat7ModeCsr + iidc::kF7ImageSize, iidc::packHigh(_xMaxImgSz, _yMaxImgSz));
    _xImgSz = _xMaxImgSz;
    _yImgSz = _yMaxImgSz;
    _bInitialized = true;
}

void FlyCapCamera::setLargestPacket()
{
    unsigned long current = 0;
    readRegister(_nFormat7ModeCsr + iidc::kF7BytePerPacket, current);
    // Bytes per packet in the upper half; the recommended value is the camera's.
    writeRegister(_nFormat7ModeCsr + iidc::kF7BytePerPacket, _fcPacketInfo.maxBytes << 16);
    _nPacketSz = _fcPacketInfo.maxBytes;
}

// --- identity and state ------------------------------------------------------------

bool FlyCapCamera::isInitialized() const
{
    FLYCAP_TRACE("FlyCapCamera::isInitialized(); (portId=", _nPortIdx, ")");
    return _bInitialized;
}

unsigned short FlyCapCamera::getPortIdx() const
{
    FLYCAP_TRACE("FlyCapCamera::getPortIdx(); (portId=", _nPortIdx, ")");
    return _nPortIdx;
}

void FlyCapCamera::setPortIdx(unsigned short portIdx)
{
    FLYCAP_TRACE("FlyCapCamera::setPortIdx(nPortIdx=", portIdx, "); (portId=", _nPortIdx, ")");
    _nPortIdx = portIdx;
}

std::string FlyCapCamera::getOwningBusId()
{
    FLYCAP_TRACE("FlyCapCamera::getOwningBusId(); (portId=", _nPortIdx, ")");
    return std::to_string(_nBusId);
}

bool FlyCapCamera::isAcquiring() const
{
    return InterlockedCompareExchange(const_cast<volatile LONG*>(&_bAcquiring), 0, 0) != 0;
}

void FlyCapCamera::checkInitialized() const
{
    if (!_bInitialized) {
        ORVEX_THROW(kCameraUnit, kErrInitFirst);
    }
}

void FlyCapCamera::checkNotAcquiring() const
{
    if (isAcquiring()) {
        ORVEX_THROW(kCameraUnit, kErrAcquiring);
    }
}

void FlyCapCamera::refuseNotAvailableYet(const char* operation) const
{
    ORVEX_THROW(kCameraUnit, std::string("FlyCapCamera::") + operation + " is not available yet");
}

// --- acquisition -----------------------------------------------------------------

void FlyCapCamera::startAcquisition()
{
    FLYCAP_TRACE("FlyCapCamera::startAcquisition(); (portId =", _nPortIdx, ")");
    checkInitialized();
    if (isAcquiring()) {
        ORVEX_THROW(kCameraUnit, "camera acquisition already started");
    }
    refuseNotAvailableYet("startAcquisition");
}

void FlyCapCamera::stopAcquisition()
{
    FLYCAP_TRACE("stopAcquisition(); (_nPortIdx = ", _nPortIdx, ")");
    if (!isAcquiring()) {
        ORVEX_THROW(kCameraUnit, "camera not acquiring");
    }
    InterlockedExchange(&_bAcquiring, 0);
    if (_hAcquiThread != nullptr) {
        WaitForSingleObject(_hAcquiThread, INFINITE);
        CloseHandle(_hAcquiThread);
        _hAcquiThread = nullptr;
    }
    imagesBuffer().reset();
    if (imagesBuffer().isImageCaptured()) {
        imagesBuffer().releaseImage();
    }
}

bool FlyCapCamera::isAcquisitionStarted() const
{
    FLYCAP_TRACE("FlyCapCamera::isAcquisitionStarted(); (portId=", _nPortIdx, ")");
    return isAcquiring();
}
