// FlyCapCamera: trigger capabilities and state, the rising-edge reset of
// init, and the strobe outputs' starting state.
#include "flycap/FlyCapCameraPrivate.h"

#include "flycap/FlyCapDefs.h"
#include "flycap/FlyCapTexts.h"
#include "flycap/FlyCapTrace.h"

#include <orvex/OrvexError.h>
#include <orvex/iidc/Registers.h>

using namespace orvex::flycap;
namespace iidc = orvex::iidc;

namespace {
// The strobe output pins the camera offers.
constexpr uint32_t kStrobeOutputPins[] = {1, 2};
// _pState->_strobeSupportState: not probed yet.
constexpr uint32_t kStrobeNotProbed = 2;
} // namespace

void FlyCapCamera::updateTriggerInfo()
{
    FLYCAP_TRACE("FlyCapCamera::updateTriggerInfo(); (portId=", _pState->_nPortIdx, ")");
    unsigned long inquiry = 0;
    readRegister(iidc::kTriggerInquiry, inquiry);
    _pState->_bTriggerPresent = (inquiry & iidc::kTriggerInqPresence) != 0;
    _pState->_bTriggerReadable = (inquiry & iidc::kTriggerInqReadable) != 0;
    _pState->_bTriggerOnOffSupported = (inquiry & iidc::kTriggerInqOnOff) != 0;
    _pState->_bTriggerPolarityChangeable = (inquiry & iidc::kTriggerInqPolarity) != 0;
    _pState->_bTriggerModeSupported[camtm_exposureTimed] =
        (inquiry & iidc::triggerInqMode(camtm_exposureTimed)) != 0;
    _pState->_bTriggerModeSupported[camtm_triggerWidth] =
        (inquiry & iidc::triggerInqMode(camtm_triggerWidth)) != 0;
    if (!_pState->_bTriggerPresent || !_pState->_bTriggerReadable) {
        _pState->_bTriggerOn = false;
        return;
    }
    unsigned long mode = 0;
    readRegister(iidc::kTriggerMode, mode);
    _pState->_nTriggerSource = (mode >> iidc::kTriggerSourceShift) & iidc::kTriggerSourceMask;
    _pState->_bTriggerOn = (mode & iidc::kTriggerOn) != 0;
    _pState->_nTriggerPolarity = (mode & iidc::kTriggerPolarity) != 0 ? 1 : 0;
    switch ((mode >> iidc::kTriggerModeShift) & iidc::kTriggerModeMask) {
    case 0:
        _pState->_triggerMode = camtm_exposureTimed;
        break;
    case 1:
        _pState->_triggerMode = camtm_triggerWidth;
        break;
    default:
        ORVEX_THROW(kCameraUnit, kErrTriggerModeNotImplemented);
    }
}

void FlyCapCamera::forceTriggerPolarityOnRisingEdge()
{
    if (!_pState->_bTriggerPresent) {
        ORVEX_THROW(kCameraUnit, kErrTriggerAbsentHere);
    }
    if (!_pState->_bTriggerReadable) {
        ORVEX_THROW(kCameraUnit, kErrTriggerUnreadableHere);
    }
    if (!_pState->_bTriggerOnOffSupported) {
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
    _pState->_bTriggerOn = false;
    _pState->_nTriggerPolarity = 1;
}

void FlyCapCamera::checkTriggerReadable() const
{
    checkInitializedAnd(_pState->_bTriggerPresent, kErrTriggerAbsent);
    if (!_pState->_bTriggerReadable) {
        ORVEX_THROW(kCameraUnit, kErrTriggerUnreadable);
    }
}

bool FlyCapCamera::isTriggerTurnedOn() const
{
    FLYCAP_TRACE("FlyCapCamera::isTriggerTurnedOn(); (portId=", _pState->_nPortIdx, ")");
    return _pState->_bTriggerOn;
}

bool FlyCapCamera::isTriggerModeSupported(CameraTriggerMode mode)
{
    FLYCAP_TRACE("FlyCapCamera::isTriggerModeSupported(...); (portId=", _pState->_nPortIdx, ")");
    checkInitialized();
    if (mode != camtm_exposureTimed && mode != camtm_triggerWidth) {
        return false;
    }
    return _pState->_bTriggerModeSupported[mode];
}

CameraTriggerMode FlyCapCamera::getTriggerMode()
{
    FLYCAP_TRACE("FlyCapCamera::getTriggerMode(); (portId=", _pState->_nPortIdx, ")");
    checkTriggerReadable();
    return _pState->_triggerMode;
}

bool FlyCapCamera::getPolarity() const
{
    FLYCAP_TRACE("FlyCapCamera::getPolarity(...); (portId=", _pState->_nPortIdx, ")");
    checkTriggerReadable();
    return _pState->_nTriggerPolarity != 0;
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
    _pState->_strobeOutputPortIds.assign(std::begin(kStrobeOutputPins), std::end(kStrobeOutputPins));
    _pState->_strobeDurationCache.clear();
    _pState->_strobeDelayCache.clear();
    _pState->_strobeSupportState.clear();
    for (const uint32_t pin : _pState->_strobeOutputPortIds) {
        _pState->_strobeDurationCache[pin] = std::nullopt;
        _pState->_strobeDelayCache[pin] = std::nullopt;
        _pState->_strobeSupportState[pin] = kStrobeNotProbed;
    }
    unsigned long quadletOffset = 0;
    readRegister(iidc::kStrobeOutputInquiry, quadletOffset);
    // Unlike the Format_7 block, the strobe block is addressed from the
    // camera's register base.
    _pState->_nStrobeCsrBase = (static_cast<uint32_t>(quadletOffset) * 4u) | iidc::kRegisterBase;
}
