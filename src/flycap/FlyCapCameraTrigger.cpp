// FlyCapCamera: trigger capabilities and state, the rising-edge reset of
// init, and the strobe outputs' starting state.
#include <orvex/FlyCapCamera.h>

#include "flycap/FlyCapDefs.h"
#include "flycap/FlyCapTrace.h"

#include <orvex/OrvexError.h>
#include <orvex/iidc/Registers.h>

using namespace orvex::flycap;
namespace iidc = orvex::iidc;

namespace {
// The strobe output pins the camera offers.
constexpr uint32_t kStrobeOutputPins[] = {1, 2};
// _strobeSupportState: not probed yet.
constexpr uint32_t kStrobeNotProbed = 2;
} // namespace

void FlyCapCamera::updateTriggerInfo()
{
    FLYCAP_TRACE("FlyCapCamera::updateTriggerInfo(); (portId=", _nPortIdx, ")");
    unsigned long inquiry = 0;
    readRegister(iidc::kTriggerInquiry, inquiry);
    _bTriggerPresent = (inquiry & iidc::kTriggerInqPresence) != 0;
    _bTriggerReadable = (inquiry & iidc::kTriggerInqReadable) != 0;
    _bTriggerOnOffSupported = (inquiry & iidc::kTriggerInqOnOff) != 0;
    _bTriggerPolarityChangeable = (inquiry & iidc::kTriggerInqPolarity) != 0;
    _bTriggerModeSupported[camtm_exposureTimed] = (inquiry & iidc::triggerInqMode(camtm_exposureTimed)) != 0;
    _bTriggerModeSupported[camtm_triggerWidth] = (inquiry & iidc::triggerInqMode(camtm_triggerWidth)) != 0;
    if (!_bTriggerPresent || !_bTriggerReadable) {
        _bTriggerOn = false;
        return;
    }
    unsigned long mode = 0;
    readRegister(iidc::kTriggerMode, mode);
    _nTriggerSource = (mode >> iidc::kTriggerSourceShift) & iidc::kTriggerSourceMask;
    _bTriggerOn = (mode & iidc::kTriggerOn) != 0;
    _nTriggerPolarity = (mode & iidc::kTriggerPolarity) != 0 ? 1 : 0;
    switch ((mode >> iidc::kTriggerModeShift) & iidc::kTriggerModeMask) {
    case 0:
        _triggerMode = camtm_exposureTimed;
        break;
    case 1:
        _triggerMode = camtm_triggerWidth;
        break;
    default:
        ORVEX_THROW(kCameraUnit, "support for default trigger mode of this camera is not implemented yet");
    }
}

void FlyCapCamera::forceTriggerPolarityOnRisingEdge()
{
    if (!_bTriggerPresent) {
        ORVEX_THROW(kCameraUnit, kErrTriggerAbsentHere);
    }
    if (!_bTriggerReadable) {
        ORVEX_THROW(kCameraUnit, kErrTriggerUnreadableHere);
    }
    if (!_bTriggerOnOffSupported) {
        ORVEX_THROW(kCameraUnit, kErrTriggerNotSwitchable);
    }
    unsigned long mode = 0;
    readRegister(iidc::kTriggerMode, mode);
    // The polarity changes only while the trigger is on.
    mode = (mode & ~static_cast<unsigned long>(iidc::kTriggerPolarity)) | iidc::kTriggerOn;
    writeRegister(iidc::kTriggerMode, mode);
    mode |= iidc::kTriggerPolarity;
    writeRegister(iidc::kTriggerMode, mode);
    mode &= ~static_cast<unsigned long>(iidc::kTriggerOn);
    writeRegister(iidc::kTriggerMode, mode);
    _bTriggerOn = false;
    _nTriggerPolarity = 1;
}

bool FlyCapCamera::isTriggerTurnedOn() const
{
    FLYCAP_TRACE("FlyCapCamera::isTriggerTurnedOn(); (portId=", _nPortIdx, ")");
    return _bTriggerOn;
}

bool FlyCapCamera::isTriggerModeSupported(CameraTriggerMode mode)
{
    FLYCAP_TRACE("FlyCapCamera::isTriggerModeSupported(...); (portId=", _nPortIdx, ")");
    checkInitialized();
    if (mode != camtm_exposureTimed && mode != camtm_triggerWidth) {
        return false;
    }
    return _bTriggerModeSupported[mode];
}

CameraTriggerMode FlyCapCamera::getTriggerMode()
{
    FLYCAP_TRACE("FlyCapCamera::getTriggerMode(); (portId=", _nPortIdx, ")");
    checkInitialized();
    if (!_bTriggerPresent) {
        ORVEX_THROW(kCameraUnit, kErrTriggerAbsent);
    }
    if (!_bTriggerReadable) {
        ORVEX_THROW(kCameraUnit, kErrTriggerUnreadable);
    }
    return _triggerMode;
}

bool FlyCapCamera::getPolarity() const
{
    FLYCAP_TRACE("FlyCapCamera::getPolarity(...); (portId=", _nPortIdx, ")");
    checkInitialized();
    if (!_bTriggerPresent) {
        ORVEX_THROW(kCameraUnit, kErrTriggerAbsent);
    }
    if (!_bTriggerReadable) {
        ORVEX_THROW(kCameraUnit, kErrTriggerUnreadable);
    }
    return _nTriggerPolarity != 0;
}

void FlyCapCamera::turnOnTrigger(bool)
{
    refuseNotAvailableYet("turnOnTrigger");
}

void FlyCapCamera::setTriggerMode(CameraTriggerMode)
{
    refuseNotAvailableYet("setTriggerMode");
}

void FlyCapCamera::setPolarity(bool)
{
    refuseNotAvailableYet("setPolarity");
}

void FlyCapCamera::resetStrobeOutputs()
{
    _strobeOutputPortIds.assign(std::begin(kStrobeOutputPins), std::end(kStrobeOutputPins));
    _strobeDurationCache.clear();
    _strobeDelayCache.clear();
    _strobeSupportState.clear();
    for (const uint32_t pin : _strobeOutputPortIds) {
        _strobeDurationCache[pin] = std::nullopt;
        _strobeDelayCache[pin] = std::nullopt;
        _strobeSupportState[pin] = kStrobeNotProbed;
    }
    unsigned long quadletOffset = 0;
    readRegister(iidc::kStrobeOutputInquiry, quadletOffset);
    // Unlike the Format_7 block, the strobe block is addressed from the
    // camera's register base.
    _nStrobeCsrBase = (static_cast<uint32_t>(quadletOffset) * 4u) | iidc::kRegisterBase;
}
