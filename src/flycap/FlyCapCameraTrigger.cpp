// FlyCapCamera: trigger capabilities and state, the rising-edge reset of
// init, trigger switching, mode and polarity, and the software trigger.
#include "flycap/FlyCapCameraPrivate.h"

#include "flycap/FlyCapCall.h"
#include "flycap/FlyCapDefs.h"
#include "flycap/FlyCapTexts.h"
#include "flycap/FlyCapTrace.h"

#include <orvex/OrvexError.h>
#include <orvex/iidc/Registers.h>

#include <string>

using namespace orvex::flycap;
namespace iidc = orvex::iidc;

void FlyCapCamera::updateTriggerInfo()
{
    FLYCAP_TRACE("FlyCapCamera::updateTriggerInfo(); (portId=", _pState->_identity._nPortIdx, ")");
    unsigned long inquiry = 0;
    readRegister(iidc::kTriggerInquiry, inquiry);
    _pState->_triggerStrobe._bTriggerPresent = (inquiry & iidc::kTriggerInqPresence) != 0;
    _pState->_triggerStrobe._bTriggerReadable = (inquiry & iidc::kTriggerInqReadable) != 0;
    _pState->_triggerStrobe._bTriggerOnOffSupported = (inquiry & iidc::kTriggerInqOnOff) != 0;
    _pState->_triggerStrobe._bTriggerPolarityChangeable = (inquiry & iidc::kTriggerInqPolarity) != 0;
    _pState->_triggerStrobe._bTriggerModeSupported[camtm_exposureTimed] =
        (inquiry & iidc::triggerInqMode(camtm_exposureTimed)) != 0;
    _pState->_triggerStrobe._bTriggerModeSupported[camtm_triggerWidth] =
        (inquiry & iidc::triggerInqMode(camtm_triggerWidth)) != 0;
    if (!_pState->_triggerStrobe._bTriggerPresent || !_pState->_triggerStrobe._bTriggerReadable) {
        _pState->_triggerStrobe._bTriggerOn = false;
        return;
    }
    unsigned long mode = 0;
    readRegister(iidc::kTriggerMode, mode);
    _pState->_triggerStrobe._nTriggerSource = (mode >> iidc::kTriggerSourceShift) & iidc::kTriggerSourceMask;
    _pState->_triggerStrobe._bTriggerOn = (mode & iidc::kTriggerOn) != 0;
    _pState->_triggerStrobe._nTriggerPolarity = (mode & iidc::kTriggerPolarity) != 0 ? 1 : 0;
    switch ((mode >> iidc::kTriggerModeShift) & iidc::kTriggerModeMask) {
    case 0:
        _pState->_triggerStrobe._triggerMode = camtm_exposureTimed;
        break;
    case 1:
        _pState->_triggerStrobe._triggerMode = camtm_triggerWidth;
        break;
    default:
        ORVEX_THROW(kCameraUnit, kErrTriggerModeNotImplemented);
    }
}

void FlyCapCamera::forceTriggerPolarityOnRisingEdge()
{
    if (!_pState->_triggerStrobe._bTriggerPresent) {
        ORVEX_THROW(kCameraUnit, kErrTriggerAbsentHere);
    }
    if (!_pState->_triggerStrobe._bTriggerReadable) {
        ORVEX_THROW(kCameraUnit, kErrTriggerUnreadableHere);
    }
    if (!_pState->_triggerStrobe._bTriggerOnOffSupported) {
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
    _pState->_triggerStrobe._bTriggerOn = false;
    _pState->_triggerStrobe._nTriggerPolarity = 1;
}

void FlyCapCamera::checkTriggerReadable() const
{
    checkInitializedAnd(_pState->_triggerStrobe._bTriggerPresent, kErrTriggerAbsent);
    if (!_pState->_triggerStrobe._bTriggerReadable) {
        ORVEX_THROW(kCameraUnit, kErrTriggerUnreadable);
    }
}

bool FlyCapCamera::isTriggerTurnedOn() const
{
    FLYCAP_TRACE("FlyCapCamera::isTriggerTurnedOn(); (portId=", _pState->_identity._nPortIdx, ")");
    return _pState->_triggerStrobe._bTriggerOn;
}

bool FlyCapCamera::isTriggerModeSupported(CameraTriggerMode mode)
{
    FLYCAP_TRACE("FlyCapCamera::isTriggerModeSupported(...); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    if (mode != camtm_exposureTimed && mode != camtm_triggerWidth) {
        return false;
    }
    return _pState->_triggerStrobe._bTriggerModeSupported[mode];
}

CameraTriggerMode FlyCapCamera::getTriggerMode()
{
    FLYCAP_TRACE("FlyCapCamera::getTriggerMode(); (portId=", _pState->_identity._nPortIdx, ")");
    checkTriggerReadable();
    return _pState->_triggerStrobe._triggerMode;
}

bool FlyCapCamera::getPolarity() const
{
    FLYCAP_TRACE("FlyCapCamera::getPolarity(...); (portId=", _pState->_identity._nPortIdx, ")");
    checkTriggerReadable();
    return _pState->_triggerStrobe._nTriggerPolarity != 0;
}

void FlyCapCamera::turnOnTrigger(bool bOn)
{
    FLYCAP_TRACE("FlyCapCamera::turnOnTrigger(bOn=", boolText(bOn),
                 "); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    checkNotAcquiring();
    if (bOn == _pState->_triggerStrobe._bTriggerOn) {
        return;
    }
    if (!_pState->_triggerStrobe._bTriggerPresent) {
        ORVEX_THROW(kCameraUnit, kErrTriggerAbsentHere);
    }
    if (!_pState->_triggerStrobe._bTriggerReadable) {
        ORVEX_THROW(kCameraUnit, kErrTriggerUnreadableHere);
    }
    if (!_pState->_triggerStrobe._bTriggerOnOffSupported) {
        ORVEX_THROW(kCameraUnit, kErrTriggerNotSwitchable);
    }
    unsigned long mode = 0;
    readRegister(iidc::kTriggerMode, mode);
    mode = bOn ? (mode | iidc::kTriggerOn) : (mode & ~static_cast<unsigned long>(iidc::kTriggerOn));
    writeRegister(iidc::kTriggerMode, mode);
    _pState->_triggerStrobe._bTriggerOn = bOn;
    // A triggered camera is no longer paced by its frame rate: its shutter
    // range moves with the switch.
    reRangeShutter();
}

void FlyCapCamera::setTriggerMode(CameraTriggerMode mode)
{
    FLYCAP_TRACE("FlyCapCamera::setTriggerMode(...); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    // The current mode is accepted as it is, even on a camera without a trigger.
    if (mode == _pState->_triggerStrobe._triggerMode) {
        return;
    }
    checkTriggerReadable();
    if ((mode != camtm_exposureTimed && mode != camtm_triggerWidth) ||
        !_pState->_triggerStrobe._bTriggerModeSupported[mode]) {
        ORVEX_THROW(kCameraUnit, kErrTriggerModeUnsupported + std::to_string(static_cast<int>(mode)) +
                                     kErrTriggerModeUnsupportedEnd);
    }
    unsigned long value = 0;
    readRegister(iidc::kTriggerMode, value);
    value &= ~(static_cast<unsigned long>(iidc::kTriggerModeMask) << iidc::kTriggerModeShift);
    value |= static_cast<unsigned long>(mode) << iidc::kTriggerModeShift;
    writeRegister(iidc::kTriggerMode, value);
    _pState->_triggerStrobe._triggerMode = mode;
}

void FlyCapCamera::setPolarity(bool bHighActive)
{
    FLYCAP_TRACE("FlyCapCamera::setPolarity(bHighActive=", boolText(bHighActive),
                 "); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    if (bHighActive == (_pState->_triggerStrobe._nTriggerPolarity == 1)) {
        return;
    }
    checkTriggerReadable();
    if (!_pState->_triggerStrobe._bTriggerPolarityChangeable) {
        ORVEX_THROW(kCameraUnit, kErrTriggerPolarityFixed);
    }
    unsigned long value = 0;
    readRegister(iidc::kTriggerMode, value);
    value = bHighActive ? (value | iidc::kTriggerPolarity)
                        : (value & ~static_cast<unsigned long>(iidc::kTriggerPolarity));
    writeRegister(iidc::kTriggerMode, value);
    _pState->_triggerStrobe._nTriggerPolarity = bHighActive ? 1 : 0;
}

// --- software trigger --------------------------------------------------------------

bool FlyCapCamera::isSoftwareTriggerSupported()
{
    FLYCAP_TRACE("FlyCapCamera::isSoftwareTriggerSupported(); (portId=", _pState->_identity._nPortIdx, ")");
    unsigned long inquiry = 0;
    readRegister(iidc::kTriggerInquiry, inquiry);
    return (inquiry & iidc::kTriggerInqSoftware) != 0;
}

void FlyCapCamera::softwareTrigger()
{
    FLYCAP_TRACE("FlyCapCamera::softwareTrigger(; (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    if (!isSoftwareTriggerSupported()) {
        ORVEX_THROW(kCameraUnit, kErrSoftwareTriggerUnsupported);
    }
    checkSingle(FLYCAP_SITE(kCameraUnit),
                flycaptureSetCameraRegister(_pState->_fcContext.get(), iidc::kSoftwareTriggerOffset,
                                            iidc::kSoftwareTriggerFire));
}

void FlyCapCamera::softwareTriggerBroadcast()
{
    FLYCAP_TRACE("FlyCapCamera::softwareTriggerBroadcast(; (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    if (!isSoftwareTriggerSupported()) {
        ORVEX_THROW(kCameraUnit, kErrSoftwareTriggerBroadcastUnsupported);
    }
    checkSingle(FLYCAP_SITE(kCameraUnit),
                flycaptureSetCameraRegisterBroadcast(_pState->_fcContext.get(), iidc::kSoftwareTriggerOffset,
                                                     iidc::kSoftwareTriggerFire));
}

bool FlyCapCamera::isTriggerReadyFeatureSupported()
{
    FLYCAP_TRACE("FlyCapCamera::isTriggerReadyFeatureSupported(); (portId=", _pState->_identity._nPortIdx,
                 ")");
    return true;
}

bool FlyCapCamera::isTriggerReady()
{
    FLYCAP_TRACE("FlyCapCamera::isTriggerReady(); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    unsigned long value = 0;
    readRegister(iidc::kSoftwareTrigger, value);
    return value == iidc::kSoftwareTriggerReady;
}

bool FlyCapCamera::isTrigStatusChangeAllowedDuringAcq() const
{
    FLYCAP_TRACE("FlyCapCamera::isTrigStatusChangeAllowedDuringAcq(); (portId=", _pState->_identity._nPortIdx,
                 ")");
    return false;
}
