// FlyCapCamera: shutter, gain, brightness, frame rate, auto exposure,
// shutter time base and temperature, and the raw-to-real maps that the
// acquisition thread reads.
#include "flycap/FlyCapCameraPrivate.h"

#include "base/CriticalSection.h"
#include "flycap/FlyCapCall.h"
#include "flycap/FlyCapDefs.h"
#include "flycap/FlyCapTexts.h"
#include "flycap/FlyCapTrace.h"

#include <orvex/OrvexError.h>
#include <orvex/iidc/Registers.h>

#include <cmath>
#include <limits>

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
    _pState->_nShutter = truncateToUnsigned(shutter * 1000);

    float gain = 0.0f;
    checkSingle(FLYCAP_SITE(kCameraUnit),
                flycaptureGetCameraAbsProperty(_pState->_fcContext.get(), FLYCAPTURE_GAIN, &gain));
    checkSingle(FLYCAP_SITE(kCameraUnit),
                flycaptureSetCameraAbsPropertyEx(_pState->_fcContext.get(), FLYCAPTURE_GAIN, false, true,
                                                 false, 0.0f));
    _pState->_gain = 0;
    _pState->_bAutoExposureEnabled = false;
}

void FlyCapCamera::readShutterRange()
{
    bool bPresent = false;
    float fMinShutter = 0.0f;
    float fMaxShutter = 0.0f;
    callRetried(FLYCAP_SITE(kCameraUnit), _pState->_nSerialNumber, kCallShutterRange, [&] {
        return flycaptureGetCameraAbsPropertyRange(_pState->_fcContext.get(), FLYCAPTURE_SHUTTER, &bPresent,
                                                   &fMinShutter, &fMaxShutter, nullptr, nullptr);
    });
    _pState->_bShutterPresent = bPresent;
    _pState->_nShutterMin = shutterMinimum(fMinShutter);
    _pState->_nShutterMax = shutterMaximum(fMaxShutter);
}

void FlyCapCamera::updateShutter()
{
    FLYCAP_TRACE("FlyCapCamera::updateShutter(); (portId=", _pState->_nPortIdx, ")");
    readShutterRange();
    if (_pState->_nShutter < _pState->_nShutterMin) {
        ORVEX_THROW(kCameraUnit, "shutter value lower than min shutter allowed (" +
                                     std::to_string(_pState->_nShutter) + " < " +
                                     std::to_string(_pState->_nShutterMin) + ")");
    }
    if (_pState->_nShutter > _pState->_nShutterMax) {
        ORVEX_THROW(kCameraUnit, "shutter value greater than max shutter allowed (" +
                                     std::to_string(_pState->_nShutter) + " > " +
                                     std::to_string(_pState->_nShutterMax) + ")");
    }
    updateMapShutterRawToReal();
}

void FlyCapCamera::updateMapShutterRawToReal()
{
    FLYCAP_TRACE("FlyCapCamera::updateMapShutterRawToReal(); (portId=", _pState->_nPortIdx, ")");
    callRetried(FLYCAP_SITE(kCameraUnit), _pState->_nSerialNumber, kCallSetAbsShutter, [&] {
        return flycaptureSetCameraAbsPropertyEx(_pState->_fcContext.get(), FLYCAPTURE_SHUTTER, false, true,
                                                false, static_cast<float>(_pState->_nShutter * .001));
    });
    int32_t rawShutter = 0;
    int32_t dummy = 0;
    bool bAuto = false;
    callRetried(FLYCAP_SITE(kCameraUnit), _pState->_nSerialNumber, kCallGetRawShutter, [&] {
        return flycaptureGetCameraProperty(_pState->_fcContext.get(), FLYCAPTURE_SHUTTER, &rawShutter, &dummy,
                                           &bAuto);
    });
    // Written back raw, the shutter stays where it is but leaves absolute mode.
    callRetried(FLYCAP_SITE(kCameraUnit), _pState->_nSerialNumber, kCallSetRawShutter, [&] {
        return flycaptureSetCameraProperty(_pState->_fcContext.get(), FLYCAPTURE_SHUTTER, rawShutter, dummy,
                                           bAuto);
    });
    ScopedLock lock(_pState->_csMapShutter);
    _pState->_mapShutterRawToReal[rawShutter] = _pState->_nShutter;
}

void FlyCapCamera::updateGain()
{
    FLYCAP_TRACE("FlyCapCamera::updateGain(); (portId=", _pState->_nPortIdx, ")");
    bool bPresent = false;
    float fMinGain = 0.0f;
    float fMaxGain = 0.0f;
    callRetried(FLYCAP_SITE(kCameraUnit), _pState->_nSerialNumber, kCallGainRange, [&] {
        return flycaptureGetCameraAbsPropertyRange(_pState->_fcContext.get(), FLYCAPTURE_GAIN, &bPresent,
                                                   &fMinGain, &fMaxGain, nullptr, nullptr);
    });
    _pState->_bGainPresent = bPresent;
    _pState->_nGainMin = gainMinimum(fMinGain);
    _pState->_nGainMax = gainMaximum(fMaxGain);
    if (_pState->_gain) {
        if (*_pState->_gain < _pState->_nGainMin) {
            ORVEX_THROW(kCameraUnit, "gain value lower than min gain allowed (" +
                                         std::to_string(*_pState->_gain) + " < " +
                                         std::to_string(_pState->_nGainMin) + ")");
        }
        if (*_pState->_gain > _pState->_nGainMax) {
            ORVEX_THROW(kCameraUnit, "gain value greater than max gain allowed (" +
                                         std::to_string(*_pState->_gain) + " > " +
                                         std::to_string(_pState->_nGainMax) + ")");
        }
    }
    updateMapGainRawToReal();
}

void FlyCapCamera::updateMapGainRawToReal()
{
    FLYCAP_TRACE("FlyCapCamera::updateMapGainRawToReal(); (portId=", _pState->_nPortIdx, ")");
    int32_t rawGain = 0;
    int32_t dummy = 0;
    bool bAuto = false;
    callRetried(FLYCAP_SITE(kCameraUnit), _pState->_nSerialNumber, kCallGetRawGain, [&] {
        return flycaptureGetCameraProperty(_pState->_fcContext.get(), FLYCAPTURE_GAIN, &rawGain, &dummy,
                                           &bAuto);
    });
    ScopedLock lock(_pState->_csMapGain);
    if (_pState->_gain) {
        _pState->_mapGainRawToReal[rawGain] = *_pState->_gain;
    }
}

void FlyCapCamera::updateBrightness()
{
    FLYCAP_TRACE("FlyCapCamera::updateBrightness(); (portId=", _pState->_nPortIdx, ")");
    bool bPresent = false;
    float fMinBrightness = 0.0f;
    float fMaxBrightness = 0.0f;
    callRetried(FLYCAP_SITE(kCameraUnit), _pState->_nSerialNumber, kCallBrightnessRange, [&] {
        return flycaptureGetCameraAbsPropertyRange(_pState->_fcContext.get(), FLYCAPTURE_BRIGHTNESS,
                                                   &bPresent, &fMinBrightness, &fMaxBrightness, nullptr,
                                                   nullptr);
    });
    _pState->_bBrightnessPresent = bPresent;
    _pState->_fBrightnessMin = fMinBrightness;
    _pState->_fBrightnessMax = fMaxBrightness;
    float fBrightness = 0.0f;
    callRetried(FLYCAP_SITE(kCameraUnit), _pState->_nSerialNumber, kCallGetBrightness, [&] {
        return flycaptureGetCameraAbsProperty(_pState->_fcContext.get(), FLYCAPTURE_BRIGHTNESS, &fBrightness);
    });
    _pState->_fBrightness = fBrightness;
}

void FlyCapCamera::updateFrameRate()
{
    FLYCAP_TRACE("FlyCapCamera::updateFrameRate(); (portId=", _pState->_nPortIdx, ")");
    float fMinFrameRate = 0.0f;
    float fMaxFrameRate = 0.0f;
    callRetried(FLYCAP_SITE(kCameraUnit), _pState->_nSerialNumber, kCallFrameRateRange, [&] {
        return flycaptureGetCameraAbsPropertyRange(_pState->_fcContext.get(), FLYCAPTURE_FRAME_RATE,
                                                   &_pState->_bFrameRateRegisterImplemented, &fMinFrameRate,
                                                   &fMaxFrameRate, nullptr, nullptr);
    });
    if (!_pState->_bFrameRateRegisterImplemented) {
        return;
    }
    _pState->_fFrameRateMin = fMinFrameRate;
    _pState->_fFrameRateMax = fMaxFrameRate;
    callRetried(FLYCAP_SITE(kCameraUnit), _pState->_nSerialNumber, kCallFrameRateEnabled, [&] {
        return flycaptureGetCameraPropertyRangeEx(_pState->_fcContext.get(), FLYCAPTURE_FRAME_RATE, nullptr,
                                                  nullptr, nullptr, &_pState->_bFrameRateEnabled, nullptr,
                                                  nullptr, nullptr, nullptr);
    });
    if (!_pState->_bFrameRateEnabled) {
        return;
    }
    float fFrameRate = 0.0f;
    callRetried(FLYCAP_SITE(kCameraUnit), _pState->_nSerialNumber, kCallGetFrameRate, [&] {
        return flycaptureGetCameraAbsProperty(_pState->_fcContext.get(), FLYCAPTURE_FRAME_RATE, &fFrameRate);
    });
    _pState->_fFrameRate = fFrameRate;
}

// --- shutter ---------------------------------------------------------------------

unsigned long FlyCapCamera::getShutter() const
{
    FLYCAP_TRACE("FlyCapCamera::getShutter(); (portId=", _pState->_nPortIdx, ")");
    checkInitializedAnd(_pState->_bShutterPresent, kErrShutterAbsent);
    return _pState->_nShutter;
}

unsigned long FlyCapCamera::getShutterMin() const
{
    FLYCAP_TRACE("FlyCapCamera::getShutterMin(); (portId=", _pState->_nPortIdx, ")");
    checkInitializedAnd(_pState->_bShutterPresent, kErrShutterAbsent);
    return _pState->_nShutterMin;
}

unsigned long FlyCapCamera::getShutterMax() const
{
    FLYCAP_TRACE("FlyCapCamera::getShutterMax(); (portId=", _pState->_nPortIdx, ")");
    checkInitializedAnd(_pState->_bShutterPresent, kErrShutterAbsent);
    return _pState->_nShutterMax;
}

void FlyCapCamera::setShutter(unsigned long)
{
    refuseNotAvailableYet("setShutter");
}

bool FlyCapCamera::isShutterTimeBaseAvailable() const
{
    FLYCAP_TRACE("FlyCapCamera::isShutterTimeBaseAvailable(...); (portId=", _pState->_nPortIdx, ")");
    return true;
}

bool FlyCapCamera::setShutterTimeBase(float timeBase)
{
    FLYCAP_TRACE("FlyCapCamera::setShutterTimeBase(value=", timeBase, "); (portId=", _pState->_nPortIdx, ")");
    return timeBase == kShutterTimeBase;
}

float FlyCapCamera::getShutterTimeBase() const
{
    FLYCAP_TRACE("FlyCapCamera::getShutterTimeBase(); (portId=", _pState->_nPortIdx, ")");
    return kShutterTimeBase;
}

float FlyCapCamera::getShutterTimeBaseMin() const
{
    FLYCAP_TRACE("FlyCapCamera::getShutterTimeBaseMin(); (portId=", _pState->_nPortIdx, ")");
    return kShutterTimeBase;
}

float FlyCapCamera::getShutterTimeBaseMax() const
{
    FLYCAP_TRACE("FlyCapCamera::getShutterTimeBaseMax(); (portId=", _pState->_nPortIdx, ")");
    return kShutterTimeBase;
}

// --- gain ---------------------------------------------------------------------------

bool FlyCapCamera::isGainSelectorAvailable(GainSelector selector) const
{
    FLYCAP_TRACE("FlyCapCamera::isGainSelectorAvailable(...); (portId=", _pState->_nPortIdx, ")");
    return selector == gainsel_main;
}

bool FlyCapCamera::isGainValueIgnored(GainSelector selector) const
{
    FLYCAP_TRACE("FlyCapCamera::isGainValueIgnored(...); (portId=", _pState->_nPortIdx, ")");
    checkInitializedAnd(isGainSelectorAvailable(selector), kErrInvalidGainSelector);
    return !_pState->_gain.has_value();
}

long FlyCapCamera::getGain(GainSelector selector) const
{
    FLYCAP_TRACE("FlyCapCamera::getGain(...); (portId=", _pState->_nPortIdx, ")");
    checkInitialized();
    if (isGainValueIgnored(selector)) {
        ORVEX_THROW(kCameraUnit, kErrGainIgnored);
    }
    if (!_pState->_bGainPresent) {
        ORVEX_THROW(kCameraUnit, kErrGainAbsent);
    }
    if (!isGainSelectorAvailable(selector)) {
        ORVEX_THROW(kCameraUnit, kErrInvalidGainSelector);
    }
    return _pState->_gain.value_or(0);
}

long FlyCapCamera::getGainMin(GainSelector selector) const
{
    FLYCAP_TRACE("FlyCapCamera::getGainMin(...); (portId=", _pState->_nPortIdx, ")");
    checkInitializedAnd(_pState->_bGainPresent, kErrGainAbsent);
    if (!isGainSelectorAvailable(selector)) {
        ORVEX_THROW(kCameraUnit, kErrInvalidGainSelector);
    }
    return _pState->_nGainMin;
}

long FlyCapCamera::getGainMax(GainSelector selector) const
{
    FLYCAP_TRACE("FlyCapCamera::getGainMax(...); (portId=", _pState->_nPortIdx, ")");
    checkInitializedAnd(_pState->_bGainPresent, kErrGainAbsent);
    if (!isGainSelectorAvailable(selector)) {
        ORVEX_THROW(kCameraUnit, kErrInvalidGainSelector);
    }
    return _pState->_nGainMax;
}

long FlyCapCamera::getDefaultGain() const
{
    FLYCAP_TRACE("FlyCapCamera::getDefaultGain(...); (portId=", _pState->_nPortIdx, ")");
    checkInitializedAnd(_pState->_bGainPresent, kErrGainAbsent);
    return _pState->_nDefaultGain;
}

void FlyCapCamera::setGain(long, GainSelector)
{
    refuseNotAvailableYet("setGain");
}

// --- brightness ------------------------------------------------------------------------

bool FlyCapCamera::isBrightnessFeatureSupported() const
{
    FLYCAP_TRACE("FlyCapCamera::isBrightnessFeatureSupported(); (portId=", _pState->_nPortIdx, ")");
    return _pState->_bBrightnessPresent;
}

double FlyCapCamera::getBrightness() const
{
    FLYCAP_TRACE("FlyCapCamera::getBrightness(); (portId=", _pState->_nPortIdx, ")");
    checkInitializedAnd(_pState->_bBrightnessPresent, kErrBrightnessAbsent);
    return _pState->_fBrightness;
}

double FlyCapCamera::getBrightnessMin() const
{
    FLYCAP_TRACE("FlyCapCamera::getBrightnessMin(); (portId=", _pState->_nPortIdx, ")");
    checkInitializedAnd(_pState->_bBrightnessPresent, kErrBrightnessMinAbsent);
    return _pState->_fBrightnessMin;
}

double FlyCapCamera::getBrightnessMax() const
{
    FLYCAP_TRACE("FlyCapCamera::getBrightnessMax(); (portId=", _pState->_nPortIdx, ")");
    checkInitializedAnd(_pState->_bBrightnessPresent, kErrBrightnessAbsent);
    return _pState->_fBrightnessMax;
}

void FlyCapCamera::setBrightness(double)
{
    refuseNotAvailableYet("setBrightness");
}

// --- frame rate ------------------------------------------------------------------------

bool FlyCapCamera::isFrameRateFeatureAvailable() const
{
    FLYCAP_TRACE("FlyCapCamera::isFrameRateFeatureAvailable(); (portId=", _pState->_nPortIdx, ")");
    return _pState->_bFrameRateRegisterImplemented;
}

bool FlyCapCamera::isFrameRateFeatureEnabled() const
{
    FLYCAP_TRACE("FlyCapCamera::isFrameRateFeatureEnabled(); (portId=", _pState->_nPortIdx, ")");
    if (!_pState->_bFrameRateRegisterImplemented) {
        ORVEX_THROW(kCameraUnit, kErrFrameRateUnsupported);
    }
    return _pState->_bFrameRateEnabled;
}

double FlyCapCamera::getFrameRate() const
{
    FLYCAP_TRACE("FlyCapCamera::getFrameRate(); (portId=", _pState->_nPortIdx, ")");
    checkInitializedAnd(_pState->_bFrameRateRegisterImplemented, kErrFrameRateUnsupported);
    if (!_pState->_bFrameRateEnabled) {
        ORVEX_THROW(kCameraUnit, kErrFrameRateDisabled);
    }
    return _pState->_fFrameRate;
}

double FlyCapCamera::getFrameRateMin() const
{
    FLYCAP_TRACE("FlyCapCamera::getFrameRateMin(); (portId=", _pState->_nPortIdx, ")");
    checkInitializedAnd(_pState->_bFrameRateRegisterImplemented, kErrFrameRateUnsupported);
    return _pState->_fFrameRateMin;
}

double FlyCapCamera::getFrameRateMax() const
{
    FLYCAP_TRACE("FlyCapCamera::getFrameRateMax(); (portId=", _pState->_nPortIdx, ")");
    checkInitializedAnd(_pState->_bFrameRateRegisterImplemented, kErrFrameRateUnsupported);
    return _pState->_fFrameRateMax;
}

void FlyCapCamera::setFrameRate(double)
{
    refuseNotAvailableYet("setFrameRate");
}

void FlyCapCamera::enableFrameRateFeature(bool)
{
    refuseNotAvailableYet("enableFrameRateFeature");
}

// --- auto exposure ---------------------------------------------------------------------

bool FlyCapCamera::isAutoExposureFeatureSupported() const
{
    FLYCAP_TRACE("FlyCapCamera::isAutoExposureFeatureSupported(); (portId=", _pState->_nPortIdx, ")");
    return true;
}

bool FlyCapCamera::isAutoExposureFeatureEnabled() const
{
    FLYCAP_TRACE("FlyCapCamera::isAutoExposureFeatureEnabled(); (portId=", _pState->_nPortIdx, ")");
    checkInitializedAnd(isAutoExposureFeatureSupported(), kErrAutoExposureUnsupported);
    return _pState->_bAutoExposureEnabled;
}

void FlyCapCamera::enableAutoExposureFeature(bool)
{
    refuseNotAvailableYet("enableAutoExposureFeature");
}

// --- temperature -----------------------------------------------------------------------

bool FlyCapCamera::isTemperatureAvailable() const
{
    FLYCAP_TRACE("FlyCapCamera::isTemperatureAvailable(); (portId=", _pState->_nPortIdx, ")");
    unsigned long value = 0;
    readRegister(iidc::kTemperature, value);
    return (value & iidc::kPresence) != 0;
}

double FlyCapCamera::getTemperature() const
{
    FLYCAP_TRACE("FlyCapCamera::getTemperature(); (portId=", _pState->_nPortIdx, ")");
    unsigned long value = 0;
    readRegister(iidc::kTemperature, value);
    if ((value & iidc::kPresence) == 0) {
        ORVEX_THROW(kCameraUnit, kErrTemperatureUnavailable);
    }
    // Tenths of a kelvin to degrees Celsius.
    return (static_cast<double>(value & iidc::kTemperatureValueMask) - iidc::kTemperatureZeroCelsiusTenthsK) *
           0.1;
}
