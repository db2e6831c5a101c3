// FlyCapCamera: construction, init, hidden window, port and bus identity,
// destruction.
#include "flycap/FlyCapCameraPrivate.h"

#include "base/HiddenWindow.h"
#include "flycap/FlyCapCall.h"
#include "flycap/FlyCapDefs.h"
#include "flycap/FlyCapTexts.h"
#include "flycap/FlyCapTrace.h"
#include "flycap/SdkContext.h"
#include <orvex/win32_owned.h>

#include <orvex/ImagesBuffer.h>
#include <orvex/OrvexError.h>
#include <orvex/iidc/Registers.h>

#include <log4cplus/loggingmacros.h>

#include <exception>

using namespace orvex::flycap;
namespace iidc = orvex::iidc;

static_assert(sizeof(FlyCaptureContext) == sizeof(void*), "the camera hands its context out as void*");

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

} // namespace

// --- construction and destruction --------------------------------------------

FlyCapCamera::FlyCapCamera(unsigned short portIdx, uint32_t serialNumber, const std::string& modelName,
                           const std::string& vendorName, int busId)
    : _pState(std::make_unique<State>(portIdx, serialNumber, modelName, vendorName, busId))
{
    FLYCAP_TRACE("FlyCapCamera::FlyCapCamera(nPortIdx=", portIdx, ", serialNumber=", serialNumber, ")");
    // On a failure below, the state's owners close what was opened.
    _pState->_fcContext = SdkContext::create(FLYCAP_SITE(kCameraUnit));
    // Recycled SDK buffers come back through the images buffer.
    imagesBuffer().keepObsoleteParams(true);
    _pState->_acquisition._nNbImgBuffers = static_cast<uint32_t>(imagesBuffer().getBufferMaxSize()) +
                                           imagesBuffer().getTransitQueueMaxSize() + kExtraNbImgBuffers;
    _pState->_acquisition._bWow64 = isWow64Process();
    LOG4CPLUS_TRACE(g_OrvexLogger,
                    "FlyCapCamera::FlyCapCamera(...); "
                        << (_pState->_acquisition._bWow64 ? "wow64 environment" : "non-wow64 environment"));
    checkSingle(FLYCAP_SITE(kCameraUnit),
                flycaptureInitializePlus(_pState->_fcContext.get(), _pState->_identity._nPortIdx,
                                         _pState->_acquisition._bWow64 ? kWow64NbImgBuffers
                                                                       : _pState->_acquisition._nNbImgBuffers,
                                         nullptr));
    createWindow();
    _pState->_acquisition._hAcquiThreadStarted =
        orvex::win32::OwnedHandle(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!_pState->_acquisition._hAcquiThreadStarted) {
        ORVEX_THROW(kCameraUnit, orvex::systemErrorText(GetLastError()));
    }
}

FlyCapCamera::~FlyCapCamera()
{
    FLYCAP_TRACE("FlyCapCamera::~FlyCapCamera(); (_nPortIdx=", _pState->_identity._nPortIdx, ")");
    try {
        if (FlyCapCamera::isAcquisitionStarted()) {
            FlyCapCamera::stopAcquisition();
        }
    } catch (const std::exception& error) {
        LOG4CPLUS_ERROR(g_OrvexLogger, "FlyCapCamera::~FlyCapCamera: " << error.what());
    }
    destroyWindow();
    // The state's owners close the event and then the context.
}

void* FlyCapCamera::getFlyCaptureContext() const
{
    return _pState->_fcContext.get();
}

void FlyCapCamera::createWindow()
{
    FLYCAP_TRACE("FlyCapCamera::createWindow(); (_nPortIdx=", _pState->_identity._nPortIdx, ")");
    createNotificationWindow(kCameraWndClass);
}

void FlyCapCamera::destroyWindow() noexcept
{
    try {
        FLYCAP_TRACE("FlyCapCamera::destroyWindow(); (_nPortIdx=", _pState->_identity._nPortIdx, ")");
        destroyNotificationWindow();
    } catch (...) {
        destroyNotificationWindow(); // only the trace can have failed
    }
}

// --- init ------------------------------------------------------------------------

void FlyCapCamera::init()
{
    FLYCAP_TRACE("FlyCapCamera::init(); (portId =", _pState->_identity._nPortIdx, ")");
    checkNotAcquiring();
    writeRegister(iidc::kInitialize, iidc::kInitializeBit);
    writeRegister(iidc::kCameraPower, iidc::kCameraPowerOn);

    bool format7Available = false;
    unsigned int maxWidth = 0, maxHeight = 0, unitWidth = 0, unitHeight = 0, unitLeft = 0, unitTop = 0;
    unsigned int pixelFormats = 0;
    checkSingle(FLYCAP_SITE(kCameraUnit),
                flycaptureQueryCustomImageEx(_pState->_fcContext.get(), 0, &format7Available, &maxWidth,
                                             &maxHeight, &unitWidth, &unitHeight, &unitLeft, &unitTop,
                                             &pixelFormats));
    if (!format7Available) {
        ORVEX_THROW(kCameraUnit, kErrNoFormat7);
    }
    _pState->_geometry._xMaxImgSz = maxWidth;
    _pState->_geometry._yMaxImgSz = maxHeight;
    _pState->_geometry._xUnitImgSz = unitWidth;
    _pState->_geometry._yUnitImgSz = unitHeight;
    _pState->_geometry._xUnitImgOffset = unitLeft;
    _pState->_geometry._yUnitImgOffset = unitTop;
    _pState->_geometry._nPixFormats = pixelFormats;

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
    _pState->_exposure._nDefaultGain = _pState->_exposure._gain.value_or(0);

    updateFrameInfoFeatures();
    resetStrobeOutputs();
}

void FlyCapCamera::resetAndSelectFormat7()
{
    unsigned long value = 0;
    readRegister(iidc::format7CsrInquiry(0), value);
    _pState->_geometry._nFormat7ModeCsr = iidc::quadletOffsetToAddress(static_cast<uint32_t>(value));

    // Format 7 is index 7 (all three index bits set), mode 0 all clear.
    readRegister(iidc::kCurrentVideoFormat, value);
    writeRegister(iidc::kCurrentVideoFormat, value | iidc::kCurrentIndexMask);
    readRegister(iidc::kCurrentVideoMode, value);
    writeRegister(iidc::kCurrentVideoMode, value & ~iidc::kCurrentIndexMask);
}

void FlyCapCamera::resetImageArea()
{
    writeRegister(_pState->_geometry._nFormat7ModeCsr + iidc::kF7ImagePosition, 0);
    _pState->_geometry._xImgOffset = 0;
    _pState->_geometry._yImgOffset = 0;
    writeRegister(_pState->_geometry._nFormat7ModeCsr + iidc::kF7ImageSize,
                  iidc::packHigh(_pState->_geometry._xMaxImgSz, _pState->_geometry._yMaxImgSz));
    _pState->_geometry._xImgSz = _pState->_geometry._xMaxImgSz;
    _pState->_geometry._yImgSz = _pState->_geometry._yMaxImgSz;
    _pState->_bInitialized = true;
}

void FlyCapCamera::setLargestPacket()
{
    unsigned long current = 0;
    readRegister(_pState->_geometry._nFormat7ModeCsr + iidc::kF7BytePerPacket, current);
    // Bytes per packet in the upper half; the recommended value is the camera's.
    writeRegister(_pState->_geometry._nFormat7ModeCsr + iidc::kF7BytePerPacket,
                  _pState->_geometry._fcPacketInfo.maxBytes << 16);
    _pState->_geometry._nPacketSz = _pState->_geometry._fcPacketInfo.maxBytes;
}

// --- identity and state ------------------------------------------------------------

bool FlyCapCamera::isInitialized() const
{
    FLYCAP_TRACE("FlyCapCamera::isInitialized(); (portId=", _pState->_identity._nPortIdx, ")");
    return _pState->_bInitialized;
}

unsigned short FlyCapCamera::getPortIdx() const
{
    FLYCAP_TRACE("FlyCapCamera::getPortIdx(); (portId=", _pState->_identity._nPortIdx, ")");
    return _pState->_identity._nPortIdx;
}

void FlyCapCamera::setPortIdx(unsigned short portIdx)
{
    FLYCAP_TRACE("FlyCapCamera::setPortIdx(nPortIdx=", portIdx, "); (portId=", _pState->_identity._nPortIdx,
                 ")");
    _pState->_identity._nPortIdx = portIdx;
}

std::string FlyCapCamera::getOwningBusId()
{
    FLYCAP_TRACE("FlyCapCamera::getOwningBusId(); (portId=", _pState->_identity._nPortIdx, ")");
    return std::to_string(_pState->_identity._nBusId);
}

bool FlyCapCamera::isAcquiring() const
{
    return InterlockedCompareExchange(&_pState->_acquisition._bAcquiring, 0, 0) != 0;
}

void FlyCapCamera::checkInitialized() const
{
    if (!_pState->_bInitialized) {
        ORVEX_THROW(kCameraUnit, kErrInitFirst);
    }
}

void FlyCapCamera::checkInitializedAnd(bool capability, const char* refusal) const
{
    checkInitialized();
    if (!capability) {
        ORVEX_THROW(kCameraUnit, refusal);
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
    ORVEX_THROW(kCameraUnit, std::string("FlyCapCamera::") + operation + kErrNotAvailableYet);
}
