// BCAMCamera: construction, init, identity, registers, smart features and
// the shutter time base, hidden window, destruction.
#include "bcam/BCAMCameraPrivate.h"
#include "bcam/DeviceIdentity.h"

#include "core/SmartFeaturesManager.h"

#include <orvex/iidc/Registers.h>

#include <log4cplus/loggingmacros.h>

#include <exception>

using namespace orvex::bcam;
namespace iidc = orvex::iidc;

namespace {

constexpr const char* kModelA102f = "A102f";
constexpr const char* kModelA312f = "A312f";

} // namespace

// --- construction and destruction --------------------------------------------

BCAMCamera::BCAMCamera(Bcam::CBcamExtension* device) : _pState(std::make_unique<State>(device))
{
    createWindow();
}

BCAMCamera::~BCAMCamera()
{
    destroyWindow();
    try {
        // An unplugged camera fails its last requests; the rest still goes.
        if (isAcquiring()) {
            const std::string failure = _pState->stopSteps();
            if (!failure.empty()) {
                LOG4CPLUS_ERROR(g_OrvexLogger, kLogDestructor << failure);
            }
        }
        _pState->device().Close();
    } catch (const std::exception& error) {
        LOG4CPLUS_ERROR(g_OrvexLogger, kLogDestructor << error.what());
    }
    // The state's owners free any buffer left and delete the device, whose
    // destructor closes its completion port.
}

void BCAMCamera::createWindow()
{
    createNotificationWindow(kCameraWndClass, kLogNotificationRemoved);
}

void BCAMCamera::destroyWindow() noexcept
{
    destroyNotificationWindow();
}

// --- init ------------------------------------------------------------------------

void BCAMCamera::init()
{
    writeRegister(iidc::kInitialize, iidc::kInitializeBit);
    _pState->_bInitialized = true;
    _pState->_nDefaultGain = getGain(gainsel_main);
    setVideoFormat(kFormat7);
    turnOnTrigger(true);
    setTriggerMode(camtm_exposureTimed);
    turnOnTrigger(false);
    computeShutterOffset();
}

bool BCAMCamera::isInitialized() const
{
    return _pState->_bInitialized;
}

void BCAMCamera::checkInitialized() const
{
    if (!_pState->_bInitialized) {
        ORVEX_THROW(kCameraUnit, kErrInitFirst);
    }
}

void BCAMCamera::computeShutterOffset()
{
    if (getModel() != camm_A102f) {
        return;
    }
    const std::optional<double> offset = a102fShutterOffset(getFirmwareVersion());
    if (!offset) {
        ORVEX_THROW(kCameraUnit, kErrFirmware);
    }
    _pState->_fShutterOffset = *offset;
}

double BCAMCamera::getShutterOffset() const
{
    if (!_pState->_bInitialized) {
        ORVEX_THROW(kCameraUnit, kErrNotInitialized);
    }
    return _pState->_fShutterOffset;
}

// --- identity ------------------------------------------------------------------------

void BCAMCamera::setPortIdx(unsigned short portIdx)
{
    _pState->_nPortIdx = portIdx;
}

unsigned short BCAMCamera::getPortIdx() const
{
    return _pState->_nPortIdx;
}

bool BCAMCamera::testCommunication() const
{
    try {
        _pState->device().ReadQuadlet(iidc::kInitialize, iidc::kAddressHigh);
        return true;
    } catch (const Bcam::BcamException& error) {
        LOG4CPLUS_ERROR(g_OrvexLogger, kLogTestCommunication << error.what());
        return false;
    }
}

bool BCAMCamera::getCameraExtendedVersionInfo(std::string& info) const
{
    info = callDevice("getCameraExtendedVersionInfo",
                      [this] { return _pState->device().Info.CameraFirmwareVersion(); });
    return true;
}

CamGUID BCAMCamera::getUniqueId()
{
    const IdentifierWords words = identifierFromDeviceName(_pState->device().DeviceName());
    return CamGUID(words.low, words.high);
}

std::string BCAMCamera::getOwningBusId()
{
    return "unknown";
}

std::string BCAMCamera::getVendorName()
{
    return callDevice("getVendorName", [this] { return _pState->device().Info.VendorName(); });
}

std::string BCAMCamera::getModelName()
{
    return callDevice("getModelName", [this] { return _pState->device().Info.ModelName(); });
}

CameraModel BCAMCamera::getModel()
{
    const std::string model = callDevice("getModel", [this] { return _pState->device().Info.ModelName(); });
    if (model == kModelA102f) {
        return camm_A102f;
    }
    if (model == kModelA312f) {
        return camm_A312f;
    }
    return camm_other;
}

// --- registers ---------------------------------------------------------------------------

void BCAMCamera::readRegister(unsigned long address, unsigned long& value) const
{
    value = callDevice("readRegister", [&] {
        return _pState->device().ReadQuadlet(static_cast<DWORD>(address), iidc::kAddressHigh);
    });
}

void BCAMCamera::writeRegister(unsigned long address, unsigned long value)
{
    callDevice("writeRegister", [&] {
        _pState->device().WriteQuadlet(static_cast<DWORD>(address), iidc::kAddressHigh,
                                       static_cast<DWORD>(value));
    });
}

// --- smart features and the shutter time base ---------------------------------------------

bool BCAMCamera::enableSmartFeature(SmartFeatureEnum feature, bool enable)
{
    checkInitialized();
    // The A102f's exposure steps are fixed at 20 us: when its camera refuses
    // the time base feature, the feature is emulated rather than refused.
    const bool emulable = enable && feature == sf_shutterTimeBase && getModel() == camm_A102f;
    bool enabled = false;
    try {
        enabled = IEEE1394Camera::enableSmartFeature(feature, enable);
    } catch (const Error&) {
        if (!emulable) {
            throw;
        }
    }
    if (!enabled && emulable) {
        _pState->_bShutterTimeBaseEmulated = true;
        return true;
    }
    return enabled;
}

bool BCAMCamera::isSmartFeatureEnabled(SmartFeatureEnum feature)
{
    if (feature == sf_shutterTimeBase && _pState->_bShutterTimeBaseEmulated) {
        return true;
    }
    return IEEE1394Camera::isSmartFeatureEnabled(feature);
}

bool BCAMCamera::isShutterTimeBaseAvailable() const
{
    return _pState->_bShutterTimeBaseEmulated || IEEE1394Camera::isShutterTimeBaseAvailable();
}

bool BCAMCamera::setShutterTimeBase(float timeBase)
{
    if (!_pState->_bShutterTimeBaseEmulated) {
        return IEEE1394Camera::setShutterTimeBase(timeBase);
    }
    if (timeBase != getShutterTimeBase()) {
        ORVEX_THROW(kCameraUnit, kErrTimeBase);
    }
    return true;
}

float BCAMCamera::getShutterTimeBase() const
{
    return _pState->_bShutterTimeBaseEmulated ? kEmulatedTimeBase : IEEE1394Camera::getShutterTimeBase();
}

float BCAMCamera::getShutterTimeBaseMin() const
{
    return _pState->_bShutterTimeBaseEmulated ? getShutterTimeBase()
                                              : IEEE1394Camera::getShutterTimeBaseMin();
}

float BCAMCamera::getShutterTimeBaseMax() const
{
    return _pState->_bShutterTimeBaseEmulated ? getShutterTimeBase()
                                              : IEEE1394Camera::getShutterTimeBaseMax();
}
