// FlyCapCamera: shutter, gain, brightness, frame rate, auto exposure,
// shutter time base and temperature, and the raw-to-real maps that the
// acquisition thread reads.
#include "flycap/FlyCapCameraPrivate.h"

#include "base/CriticalSection.h"
#include "flycap/FlyCapCall.h"
#include "flycap/FlyCapDefs.h"
#include "flycap/FlyCapTexts.h"
#include "flycap/FlyCapTrace.h"
#include "flycap/JoinedText.h"

#include <orvex/OrvexError.h>
#include <orvex/iidc/Registers.h>

#include <cmath>
#include <limits>
#include <string>

using namespace orvex::flycap;
using orvex::ScopedLock;
namespace iidc = orvex::iidc;

namespace {

// Truncation toward zero, as the camera's float ranges are cut to host
// units; values a malformed camera could report beyond the type saturate.
uint32_t truncateToUnsigned(float value)
{
    if (!(value > 0.0f)) {
        return 0; // also NaN
    }
    if (value >= 4294967296.0f) {
        return std::numeric_limits<uint32_t>::max();
    }
    return static_cast<uint32_t>(value);
}

int32_t truncateToSigned(float value)
{
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= 2147483648.0f) {
        return std::numeric_limits<int32_t>::max();
    }
    if (value <= -2147483648.0f) {
        return std::numeric_limits<int32_t>::min();
    }
    return static_cast<int32_t>(value);
}

// Host units from the SDK's absolute ranges: one microsecond (one tenth of a
// decibel) above the truncated minimum, the truncated maximum.
uint32_t shutterMinimum(float milliseconds)
{
    return truncateToUnsigned(milliseconds * 1000 + 1);
}
uint32_t shutterMaximum(float milliseconds)
{
    return truncateToUnsigned(milliseconds * 1000);
}
int32_t gainMinimum(float decibels)
{
    return truncateToSigned(decibels * 10 + 1);
}
int32_t gainMaximum(float decibels)
{
    return truncateToSigned(decibels * 10);
}

// Refuses `value` outside [minimum, maximum] from the caller's place, naming
// the value and the bound it crosses.
template <class Value>
void checkWithinRange(const CallSite& site, Value value, Value minimum, Value maximum, const char* belowText,
                      const char* aboveText)
{
    if (value < minimum) {
        failCall(site, joined(belowText, value, " < ", minimum, ")"));
    }
    if (value > maximum) {
        failCall(site, joined(aboveText, value, " > ", maximum, ")"));
    }
}

// Absolute sets of the exposure controls: never one-push, always on.
FlyCaptureError setAbsolute(FlyCaptureContext context, FlyCaptureProperty property, bool bAuto, float value)
{
    return flycaptureSetCameraAbsPropertyEx(context, property, false, true, bAuto, value);
}

} // namespace

// --- init's exposure reset and the refreshers ----------------------------------------

void FlyCapCamera::resetExposure()
{
    float exposure = 0.0f;
    checkSingle(
        FLYCAP_SITE(kCameraUnit),
        flycaptureGetCameraAbsProperty(_pState->_fcContext.get(), FLYCAPTURE_AUTO_EXPOSURE, &exposure));
    checkSingle(FLYCAP_SITE(kCameraUnit),
                flycaptureSetCameraAbsPropertyEx(_pState->_fcContext.get(), FLYCAPTURE_AUTO_EXPOSURE, false,
                                                 true, false, exposure));

    float shutter = 0.0f;
    checkSingle(FLYCAP_SITE(kCameraUnit),
                flycaptureGetCameraAbsProperty(_pState->_fcContext.get(), FLYCAPTURE_SHUTTER, &shutter));
    checkSingle(FLYCAP_SITE(kCameraUnit),
                flycaptureSetCameraAbsPropertyEx(_pState->_fcContext.get(), FLYCAPTURE_SHUTTER, false, true,
                                                 false, shutter));
    _pState->_exposure._nShutter = truncateToUnsigned(shutter * 1000);

    float gain = 0.0f;
    checkSingle(FLYCAP_SITE(kCameraUnit),
                flycaptureGetCameraAbsProperty(_pState->_fcContext.get(), FLYCAPTURE_GAIN, &gain));
    checkSingle(FLYCAP_SITE(kCameraUnit),
                flycaptureSetCameraAbsPropertyEx(_pState->_fcContext.get(), FLYCAPTURE_GAIN, false, true,
                                                 false, 0.0f));
    _pState->_exposure._gain = 0;
    _pState->_exposure._bAutoExposureEnabled = false;
}

void FlyCapCamera::readShutterRange()
{
    bool bPresent = false;
    float fMinShutter = 0.0f;
    float fMaxShutter = 0.0f;
    callRetried(FLYCAP_SITE(kCameraUnit), _pState->_identity._nSerialNumber, kCallShutterRange, [&] {
        return flycaptureGetCameraAbsPropertyRange(_pState->_fcContext.get(), FLYCAPTURE_SHUTTER, &bPresent,
                                                   &fMinShutter, &fMaxShutter, nullptr, nullptr);
    });
    _pState->_exposure._bShutterPresent = bPresent;
    _pState->_exposure._nShutterMin = shutterMinimum(fMinShutter);
    _pState->_exposure._nShutterMax = shutterMaximum(fMaxShutter);
}

void FlyCapCamera::updateShutter()
{
    FLYCAP_TRACE("FlyCapCamera::updateShutter(); (portId=", _pState->_identity._nPortIdx, ")");
    readShutterRange();
    // Unlike enableFrameRateFeature, a cached shutter outside the new range
    // is refused, not clamped.
    checkWithinRange(FLYCAP_SITE(kCameraUnit), _pState->_exposure._nShutter, _pState->_exposure._nShutterMin,
                     _pState->_exposure._nShutterMax, kErrCachedShutterBelowMin, kErrCachedShutterAboveMax);
    updateMapShutterRawToReal();
}

void FlyCapCamera::updateMapShutterRawToReal()
{
    FLYCAP_TRACE("FlyCapCamera::updateMapShutterRawToReal(); (portId=", _pState->_identity._nPortIdx, ")");
    callRetried(FLYCAP_SITE(kCameraUnit), _pState->_identity._nSerialNumber, kCallSetAbsShutter, [&] {
        return flycaptureSetCameraAbsPropertyEx(_pState->_fcContext.get(), FLYCAPTURE_SHUTTER, false, true,
                                                false,
                                                static_cast<float>(_pState->_exposure._nShutter * .001));
    });
    int32_t rawShutter = 0;
    int32_t dummy = 0;
    bool bAuto = false;
    callRetried(FLYCAP_SITE(kCameraUnit), _pState->_identity._nSerialNumber, kCallGetRawShutter, [&] {
        return flycaptureGetCameraProperty(_pState->_fcContext.get(), FLYCAPTURE_SHUTTER, &rawShutter, &dummy,
                                           &bAuto);
    });
    // Written back raw, the shutter stays where it is but leaves absolute mode.
    callRetried(FLYCAP_SITE(kCameraUnit), _pState->_identity._nSerialNumber, kCallSetRawShutter, [&] {
        return flycaptureSetCameraProperty(_pState->_fcContext.get(), FLYCAPTURE_SHUTTER, rawShutter, dummy,
                                           bAuto);
    });
    ScopedLock lock(_pState->_exposure._csMapShutter);
    _pState->_exposure._mapShutterRawToReal[rawShutter] = _pState->_exposure._nShutter;
}

void FlyCapCamera::updateGain()
{
    FLYCAP_TRACE("FlyCapCamera::updateGain(); (portId=", _pState->_identity._nPortIdx, ")");
    bool bPresent = false;
    float fMinGain = 0.0f;
    float fMaxGain = 0.0f;
    callRetried(FLYCAP_SITE(kCameraUnit), _pState->_identity._nSerialNumber, kCallGainRange, [&] {
        return flycaptureGetCameraAbsPropertyRange(_pState->_fcContext.get(), FLYCAPTURE_GAIN, &bPresent,
                                                   &fMinGain, &fMaxGain, nullptr, nullptr);
    });
    _pState->_exposure._bGainPresent = bPresent;
    _pState->_exposure._nGainMin = gainMinimum(fMinGain);
    _pState->_exposure._nGainMax = gainMaximum(fMaxGain);
    // With a 0.0 dB minimum the range starts at 1, so the 0 that init leaves
    // cached is refused: kept as hosts of this camera family have it.
    if (_pState->_exposure._gain) {
        checkWithinRange(FLYCAP_SITE(kCameraUnit), *_pState->_exposure._gain, _pState->_exposure._nGainMin,
                         _pState->_exposure._nGainMax, kErrGainBelowMin, kErrGainAboveMax);
    }
    updateMapGainRawToReal();
}

void FlyCapCamera::updateMapGainRawToReal()
{
    FLYCAP_TRACE("FlyCapCamera::updateMapGainRawToReal(); (portId=", _pState->_identity._nPortIdx, ")");
    int32_t rawGain = 0;
    int32_t dummy = 0;
    bool bAuto = false;
    callRetried(FLYCAP_SITE(kCameraUnit), _pState->_identity._nSerialNumber, kCallGetRawGain, [&] {
        return flycaptureGetCameraProperty(_pState->_fcContext.get(), FLYCAPTURE_GAIN, &rawGain, &dummy,
                                           &bAuto);
    });
    ScopedLock lock(_pState->_exposure._csMapGain);
    if (_pState->_exposure._gain) {
        _pState->_exposure._mapGainRawToReal[rawGain] = *_pState->_exposure._gain;
    }
}

void FlyCapCamera::updateBrightness()
{
    FLYCAP_TRACE("FlyCapCamera::updateBrightness(); (portId=", _pState->_identity._nPortIdx, ")");
    bool bPresent = false;
    float fMinBrightness = 0.0f;
    float fMaxBrightness = 0.0f;
    callRetried(FLYCAP_SITE(kCameraUnit), _pState->_identity._nSerialNumber, kCallBrightnessRange, [&] {
        return flycaptureGetCameraAbsPropertyRange(_pState->_fcContext.get(), FLYCAPTURE_BRIGHTNESS,
                                                   &bPresent, &fMinBrightness, &fMaxBrightness, nullptr,
                                                   nullptr);
    });
    _pState->_exposure._bBrightnessPresent = bPresent;
    _pState->_exposure._fBrightnessMin = fMinBrightness;
    _pState->_exposure._fBrightnessMax = fMaxBrightness;
    float fBrightness = 0.0f;
    callRetried(FLYCAP_SITE(kCameraUnit), _pState->_identity._nSerialNumber, kCallGetBrightness, [&] {
        return flycaptureGetCameraAbsProperty(_pState->_fcContext.get(), FLYCAPTURE_BRIGHTNESS, &fBrightness);
    });
    _pState->_exposure._fBrightness = fBrightness;
}

void FlyCapCamera::updateFrameRate()
{
    FLYCAP_TRACE("FlyCapCamera::updateFrameRate(); (portId=", _pState->_identity._nPortIdx, ")");
    float fMinFrameRate = 0.0f;
    float fMaxFrameRate = 0.0f;
    callRetried(FLYCAP_SITE(kCameraUnit), _pState->_identity._nSerialNumber, kCallFrameRateRange, [&] {
        return flycaptureGetCameraAbsPropertyRange(_pState->_fcContext.get(), FLYCAPTURE_FRAME_RATE,
                                                   &_pState->_geometry._bFrameRateRegisterImplemented,
                                                   &fMinFrameRate, &fMaxFrameRate, nullptr, nullptr);
    });
    if (!_pState->_geometry._bFrameRateRegisterImplemented) {
        return;
    }
    _pState->_geometry._fFrameRateMin = fMinFrameRate;
    _pState->_geometry._fFrameRateMax = fMaxFrameRate;
    callRetried(FLYCAP_SITE(kCameraUnit), _pState->_identity._nSerialNumber, kCallFrameRateEnabled, [&] {
        return flycaptureGetCameraPropertyRangeEx(_pState->_fcContext.get(), FLYCAPTURE_FRAME_RATE, nullptr,
                                                  nullptr, nullptr, &_pState->_geometry._bFrameRateEnabled,
                                                  nullptr, nullptr, nullptr, nullptr);
    });
    if (!_pState->_geometry._bFrameRateEnabled) {
        return;
    }
    float fFrameRate = 0.0f;
    callRetried(FLYCAP_SITE(kCameraUnit), _pState->_identity._nSerialNumber, kCallGetFrameRate, [&] {
        return flycaptureGetCameraAbsProperty(_pState->_fcContext.get(), FLYCAPTURE_FRAME_RATE, &fFrameRate);
    });
    _pState->_geometry._fFrameRate = fFrameRate;
}

// --- shutter ---------------------------------------------------------------------

unsigned long FlyCapCamera::getShutter() const
{
    FLYCAP_TRACE("FlyCapCamera::getShutter(); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitializedAnd(_pState->_exposure._bShutterPresent, kErrShutterAbsent);
    return _pState->_exposure._nShutter;
}

unsigned long FlyCapCamera::getShutterMin() const
{
    FLYCAP_TRACE("FlyCapCamera::getShutterMin(); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitializedAnd(_pState->_exposure._bShutterPresent, kErrShutterAbsent);
    return _pState->_exposure._nShutterMin;
}

unsigned long FlyCapCamera::getShutterMax() const
{
    FLYCAP_TRACE("FlyCapCamera::getShutterMax(); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitializedAnd(_pState->_exposure._bShutterPresent, kErrShutterAbsent);
    return _pState->_exposure._nShutterMax;
}

void FlyCapCamera::setShutter(unsigned long nValue)
{
    FLYCAP_TRACE("FlyCapCamera::setShutter(nValue=", nValue, "); (portId=", _pState->_identity._nPortIdx,
                 ")");
    checkInitializedAnd(_pState->_exposure._bShutterPresent, kErrShutterAbsent);
    // No shortcut for the current value: setting it again re-applies it.
    checkWithinRange<unsigned long>(FLYCAP_SITE(kCameraUnit), nValue, _pState->_exposure._nShutterMin,
                                    _pState->_exposure._nShutterMax, kErrShutterBelowMin,
                                    kErrShutterAboveMax);
    checkSetter(FLYCAP_SITE(kCameraUnit),
                setAbsolute(_pState->_fcContext.get(), FLYCAPTURE_SHUTTER, false,
                            static_cast<float>(static_cast<double>(nValue) * 0.001)),
                [&] { return joined(kSetterShutter, nValue, kSetterPrefixEnd); });
    // Within a 32-bit range now.
    _pState->_exposure._nShutter = static_cast<uint32_t>(nValue);
    updateMapShutterRawToReal();
}

bool FlyCapCamera::isShutterTimeBaseAvailable() const
{
    FLYCAP_TRACE("FlyCapCamera::isShutterTimeBaseAvailable(...); (portId=", _pState->_identity._nPortIdx,
                 ")");
    return true;
}

bool FlyCapCamera::setShutterTimeBase(float timeBase)
{
    FLYCAP_TRACE("FlyCapCamera::setShutterTimeBase(value=", timeBase,
                 "); (portId=", _pState->_identity._nPortIdx, ")");
    return timeBase == kShutterTimeBase;
}

float FlyCapCamera::getShutterTimeBase() const
{
    FLYCAP_TRACE("FlyCapCamera::getShutterTimeBase(); (portId=", _pState->_identity._nPortIdx, ")");
    return kShutterTimeBase;
}

float FlyCapCamera::getShutterTimeBaseMin() const
{
    FLYCAP_TRACE("FlyCapCamera::getShutterTimeBaseMin(); (portId=", _pState->_identity._nPortIdx, ")");
    return kShutterTimeBase;
}

float FlyCapCamera::getShutterTimeBaseMax() const
{
    FLYCAP_TRACE("FlyCapCamera::getShutterTimeBaseMax(); (portId=", _pState->_identity._nPortIdx, ")");
    return kShutterTimeBase;
}

// --- gain ---------------------------------------------------------------------------

bool FlyCapCamera::isGainSelectorAvailable(GainSelector selector) const
{
    FLYCAP_TRACE("FlyCapCamera::isGainSelectorAvailable(...); (portId=", _pState->_identity._nPortIdx, ")");
    return selector == gainsel_main;
}

bool FlyCapCamera::isGainValueIgnored(GainSelector selector) const
{
    FLYCAP_TRACE("FlyCapCamera::isGainValueIgnored(...); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    if (!isGainSelectorAvailable(selector)) {
        ORVEX_THROW(kCameraUnit, kErrInvalidGainSelector);
    }
    return !_pState->_exposure._gain.has_value();
}

long FlyCapCamera::getGain(GainSelector selector) const
{
    FLYCAP_TRACE("FlyCapCamera::getGain(...); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    if (isGainValueIgnored(selector)) {
        ORVEX_THROW(kCameraUnit, kErrGainIgnored);
    }
    if (!_pState->_exposure._bGainPresent) {
        ORVEX_THROW(kCameraUnit, kErrGainAbsent);
    }
    if (!isGainSelectorAvailable(selector)) {
        ORVEX_THROW(kCameraUnit, kErrInvalidGainSelector);
    }
    return _pState->_exposure._gain.value_or(0);
}

long FlyCapCamera::getGainMin(GainSelector selector) const
{
    FLYCAP_TRACE("FlyCapCamera::getGainMin(...); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitializedAnd(_pState->_exposure._bGainPresent, kErrGainAbsent);
    if (!isGainSelectorAvailable(selector)) {
        ORVEX_THROW(kCameraUnit, kErrInvalidGainSelector);
    }
    return _pState->_exposure._nGainMin;
}

long FlyCapCamera::getGainMax(GainSelector selector) const
{
    FLYCAP_TRACE("FlyCapCamera::getGainMax(...); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitializedAnd(_pState->_exposure._bGainPresent, kErrGainAbsent);
    if (!isGainSelectorAvailable(selector)) {
        ORVEX_THROW(kCameraUnit, kErrInvalidGainSelector);
    }
    return _pState->_exposure._nGainMax;
}

long FlyCapCamera::getDefaultGain() const
{
    FLYCAP_TRACE("FlyCapCamera::getDefaultGain(...); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitializedAnd(_pState->_exposure._bGainPresent, kErrGainAbsent);
    return _pState->_exposure._nDefaultGain;
}

void FlyCapCamera::setGain(long nValue, GainSelector selector)
{
    FLYCAP_TRACE("FlyCapCamera::setGain(nValue=", nValue, ", ...); (portId=", _pState->_identity._nPortIdx,
                 ")");
    checkInitializedAnd(_pState->_exposure._bGainPresent, kErrGainAbsent);
    if (!isGainSelectorAvailable(selector)) {
        ORVEX_THROW(kCameraUnit, kErrInvalidGainSelector);
    }
    // A manual gain ends automatic exposure, which also forgets the cached
    // gain: the value below is then applied even if it was the last one.
    if (isAutoExposureFeatureSupported() && isAutoExposureFeatureEnabled()) {
        enableAutoExposureFeature(false);
    }
    if (_pState->_exposure._gain && *_pState->_exposure._gain == nValue) {
        return;
    }
    checkWithinRange<long>(FLYCAP_SITE(kCameraUnit), nValue, _pState->_exposure._nGainMin,
                           _pState->_exposure._nGainMax, kErrGainBelowMin, kErrGainAboveMax);
    checkSetter(FLYCAP_SITE(kCameraUnit),
                setAbsolute(_pState->_fcContext.get(), FLYCAPTURE_GAIN, false,
                            static_cast<float>(static_cast<double>(nValue) * 0.1)),
                [&] { return joined(kSetterGain, nValue, kSetterPrefixEnd); });
    // Within the 32-bit range now.
    _pState->_exposure._gain = static_cast<int32_t>(nValue);
    updateMapGainRawToReal();
}

// --- brightness ------------------------------------------------------------------------

bool FlyCapCamera::isBrightnessFeatureSupported() const
{
    FLYCAP_TRACE("FlyCapCamera::isBrightnessFeatureSupported(); (portId=", _pState->_identity._nPortIdx, ")");
    return _pState->_exposure._bBrightnessPresent;
}

double FlyCapCamera::getBrightness() const
{
    FLYCAP_TRACE("FlyCapCamera::getBrightness(); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitializedAnd(_pState->_exposure._bBrightnessPresent, kErrBrightnessAbsent);
    return _pState->_exposure._fBrightness;
}

double FlyCapCamera::getBrightnessMin() const
{
    FLYCAP_TRACE("FlyCapCamera::getBrightnessMin(); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitializedAnd(_pState->_exposure._bBrightnessPresent, kErrBrightnessMinAbsent);
    return _pState->_exposure._fBrightnessMin;
}

double FlyCapCamera::getBrightnessMax() const
{
    FLYCAP_TRACE("FlyCapCamera::getBrightnessMax(); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitializedAnd(_pState->_exposure._bBrightnessPresent, kErrBrightnessAbsent);
    return _pState->_exposure._fBrightnessMax;
}

void FlyCapCamera::setBrightness(double fValue)
{
    FLYCAP_TRACE("FlyCapCamera::setBrightness(fValue=", fValue, "); (portId=", _pState->_identity._nPortIdx,
                 ")");
    checkInitializedAnd(_pState->_exposure._bBrightnessPresent, kErrBrightnessAbsent);
    // The current value is not re-checked against a range that may have moved.
    if (fValue == _pState->_exposure._fBrightness) {
        return;
    }
    checkWithinRange(FLYCAP_SITE(kCameraUnit), fValue, _pState->_exposure._fBrightnessMin,
                     _pState->_exposure._fBrightnessMax, kErrBrightnessBelowMin, kErrBrightnessAboveMax);
    callRetried(FLYCAP_SITE(kCameraUnit), _pState->_identity._nSerialNumber, kCallSetAbsBrightness, [&] {
        return setAbsolute(_pState->_fcContext.get(), FLYCAPTURE_BRIGHTNESS, false,
                           static_cast<float>(fValue));
    });
    _pState->_exposure._fBrightness = fValue;
}

// --- frame rate ------------------------------------------------------------------------

bool FlyCapCamera::isFrameRateFeatureAvailable() const
{
    FLYCAP_TRACE("FlyCapCamera::isFrameRateFeatureAvailable(); (portId=", _pState->_identity._nPortIdx, ")");
    return _pState->_geometry._bFrameRateRegisterImplemented;
}

bool FlyCapCamera::isFrameRateFeatureEnabled() const
{
    FLYCAP_TRACE("FlyCapCamera::isFrameRateFeatureEnabled(); (portId=", _pState->_identity._nPortIdx, ")");
    if (!_pState->_geometry._bFrameRateRegisterImplemented) {
        ORVEX_THROW(kCameraUnit, kErrFrameRateUnsupported);
    }
    return _pState->_geometry._bFrameRateEnabled;
}

double FlyCapCamera::getFrameRate() const
{
    FLYCAP_TRACE("FlyCapCamera::getFrameRate(); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitializedAnd(_pState->_geometry._bFrameRateRegisterImplemented, kErrFrameRateUnsupported);
    if (!_pState->_geometry._bFrameRateEnabled) {
        ORVEX_THROW(kCameraUnit, kErrFrameRateDisabled);
    }
    return _pState->_geometry._fFrameRate;
}

double FlyCapCamera::getFrameRateMin() const
{
    FLYCAP_TRACE("FlyCapCamera::getFrameRateMin(); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitializedAnd(_pState->_geometry._bFrameRateRegisterImplemented, kErrFrameRateUnsupported);
    return _pState->_geometry._fFrameRateMin;
}

double FlyCapCamera::getFrameRateMax() const
{
    FLYCAP_TRACE("FlyCapCamera::getFrameRateMax(); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitializedAnd(_pState->_geometry._bFrameRateRegisterImplemented, kErrFrameRateUnsupported);
    return _pState->_geometry._fFrameRateMax;
}

void FlyCapCamera::setFrameRate(double frameRate)
{
    FLYCAP_TRACE("FlyCapCamera::setFrameRate(frameRate=", frameRate,
                 "); (portId=", _pState->_identity._nPortIdx, ")");
    // Whether the control is switched on is deliberately not checked: the
    // value is kept by the camera for when it is.
    checkInitializedAnd(_pState->_geometry._bFrameRateRegisterImplemented, kErrFrameRateUnsupported);
    if (frameRate == _pState->_geometry._fFrameRate) {
        return;
    }
    checkWithinRange(FLYCAP_SITE(kCameraUnit), frameRate, _pState->_geometry._fFrameRateMin,
                     _pState->_geometry._fFrameRateMax, kErrFrameRateBelowMin, kErrFrameRateAboveMax);
    checkSetter(
        FLYCAP_SITE(kCameraUnit),
        setAbsolute(_pState->_fcContext.get(), FLYCAPTURE_FRAME_RATE, false, static_cast<float>(frameRate)),
        [&] { return joined(kSetterFrameRate, frameRate, kSetterPrefixEnd); });
    _pState->_geometry._fFrameRate = frameRate;
}

void FlyCapCamera::enableFrameRateFeature(bool bEnable)
{
    FLYCAP_TRACE("FlyCapCamera::enableFrameRateFeature(bEnable=", boolText(bEnable),
                 "); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitializedAnd(_pState->_geometry._bFrameRateRegisterImplemented, kErrFrameRateUnsupported);
    bool bOnePush = false;
    bool bOnOff = false;
    bool bAuto = false;
    int32_t nValueA = 0;
    int32_t nValueB = 0;
    callRetried(FLYCAP_SITE(kCameraUnit), _pState->_identity._nSerialNumber, kCallGetFrameRateControl, [&] {
        return flycaptureGetCameraPropertyEx(_pState->_fcContext.get(), FLYCAPTURE_FRAME_RATE, &bOnePush,
                                             &bOnOff, &bAuto, &nValueA, &nValueB);
    });
    // Only the on/off flag changes; the rate the camera holds stays.
    callRetried(FLYCAP_SITE(kCameraUnit), _pState->_identity._nSerialNumber, kCallSetFrameRateControl, [&] {
        return flycaptureSetCameraPropertyEx(_pState->_fcContext.get(), FLYCAPTURE_FRAME_RATE, bOnePush,
                                             bEnable, bAuto, nValueA, nValueB);
    });
    _pState->_geometry._bFrameRateEnabled = bEnable;
    // The frame period bounds the exposure.
    reRangeShutter();
}

void FlyCapCamera::reRangeShutter()
{
    // The shutter range moves, and the cached shutter is pulled into it
    // rather than refused.
    readShutterRange();
    if (_pState->_exposure._nShutter < _pState->_exposure._nShutterMin) {
        _pState->_exposure._nShutter = _pState->_exposure._nShutterMin;
    } else if (_pState->_exposure._nShutter > _pState->_exposure._nShutterMax) {
        _pState->_exposure._nShutter = _pState->_exposure._nShutterMax;
    }
    updateMapShutterRawToReal();
}

// --- auto exposure ---------------------------------------------------------------------

bool FlyCapCamera::isAutoExposureFeatureSupported() const
{
    FLYCAP_TRACE("FlyCapCamera::isAutoExposureFeatureSupported(); (portId=", _pState->_identity._nPortIdx,
                 ")");
    return true;
}

bool FlyCapCamera::isAutoExposureFeatureEnabled() const
{
    FLYCAP_TRACE("FlyCapCamera::isAutoExposureFeatureEnabled(); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    if (!isAutoExposureFeatureSupported()) {
        ORVEX_THROW(kCameraUnit, kErrAutoExposureUnsupported);
    }
    return _pState->_exposure._bAutoExposureEnabled;
}

void FlyCapCamera::enableAutoExposureFeature(bool bEnable)
{
    FLYCAP_TRACE("FlyCapCamera::enableAutoExposureFeature(bEnable=", boolText(bEnable),
                 "); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    FlyCaptureContext context = _pState->_fcContext.get();
    // The target and the gain keep their values; only their automatic mode
    // follows bEnable. The shutter is left as it is.
    float fExposure = 0.0f;
    checkSingle(FLYCAP_SITE(kCameraUnit),
                flycaptureGetCameraAbsProperty(context, FLYCAPTURE_AUTO_EXPOSURE, &fExposure));
    checkSingle(FLYCAP_SITE(kCameraUnit), setAbsolute(context, FLYCAPTURE_AUTO_EXPOSURE, bEnable, fExposure));
    float fGain = 0.0f;
    checkSingle(FLYCAP_SITE(kCameraUnit), flycaptureGetCameraAbsProperty(context, FLYCAPTURE_GAIN, &fGain));
    checkSingle(FLYCAP_SITE(kCameraUnit), setAbsolute(context, FLYCAPTURE_GAIN, bEnable, fGain));
    // Either way the camera's gain is no longer one the host chose.
    _pState->_exposure._gain.reset();
    _pState->_exposure._bAutoExposureEnabled = bEnable;
}

// --- temperature -----------------------------------------------------------------------

bool FlyCapCamera::isTemperatureAvailable() const
{
    FLYCAP_TRACE("FlyCapCamera::isTemperatureAvailable(); (portId=", _pState->_identity._nPortIdx, ")");
    unsigned long value = 0;
    readRegister(iidc::kTemperature, value);
    return (value & iidc::kPresence) != 0;
}

double FlyCapCamera::getTemperature() const
{
    FLYCAP_TRACE("FlyCapCamera::getTemperature(); (portId=", _pState->_identity._nPortIdx, ")");
    unsigned long value = 0;
    readRegister(iidc::kTemperature, value);
    if ((value & iidc::kPresence) == 0) {
        ORVEX_THROW(kCameraUnit, kErrTemperatureUnavailable);
    }
    // Tenths of a kelvin to degrees Celsius.
    return (static_cast<double>(value & iidc::kTemperatureValueMask) - iidc::kTemperatureZeroCelsiusTenthsK) *
           0.1;
}
