// FlyCapCamera: shutter, gain, brightness, frame rate, auto exposure,
// shutter time base and temperature, and the raw-to-real maps that the
// acquisition thread reads.
#include <orvex/FlyCapCamera.h>

#include "base/CriticalSection.h"
#include "flycap/FlyCapCall.h"
#include "flycap/FlyCapDefs.h"
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
    checkSingle(flycaptureGetCameraAbsProperty(_fcContext, FLYCAPTURE_AUTO_EXPOSURE, &exposure));
    checkSingle(
        flycaptureSetCameraAbsPropertyEx(_fcContext, FLYCAPTURE_AUTO_EXPOSURE, false, true, false, exposure));

    float shutter = 0.0f;
    checkSingle(flycaptureGetCameraAbsProperty(_fcContext, FLYCAPTURE_SHUTTER, &shutter));
    checkSingle(
        flycaptureSetCameraAbsPropertyEx(_fcContext, FLYCAPTURE_SHUTTER, false, true, false, shutter));
    _nShutter = truncateToUnsigned(shutter * 1000);

    float gain = 0.0f;
    checkSingle(flycaptureGetCameraAbsProperty(_fcContext, FLYCAPTURE_GAIN, &gain));
    checkSingle(flycaptureSetCameraAbsPropertyEx(_fcContext, FLYCAPTURE_GAIN, false, true, false, 0.0f));
    _gain = 0;
    _bAutoExposureEnabled = false;
}

void FlyCapCamera::readShutterRange(bool& present, uint32_t& minimum, uint32_t& maximum)
{
    bool bPresent = false;
    float fMinShutter = 0.0f;
    float fMaxShutter = 0.0f;
    callRetried(_nSerialNumber, kCallShutterRange, [&] {
        return flycaptureGetCameraAbsPropertyRange(_fcContext, FLYCAPTURE_SHUTTER, &bPresent, &fMinShutter,
                                                   &fMaxShutter, nullptr, nullptr);
    });
    present = bPresent;
    minimum = shutterMinimum(fMinShutter);
    maximum = shutterMaximum(fMaxShutter);
}

void FlyCapCamera::updateShutter()
{
    FLYCAP_TRACE("FlyCapCamera::updateShutter(); (portId=", _nPortIdx, ")");
    readShutterRange(_bShutterPresent, _nShutterMin, _nShutterMax);
    if (_nShutter < _nShutterMin) {
        ORVEX_THROW(kCameraUnit, "shutter value lower than min shutter allowed (" +
                                     std::to_string(_nShutter) + " < " + std::to_string(_nShutterMin) + ")");
    }
    if (_nShutter > _nShutterMax) {
        ORVEX_THROW(kCameraUnit, "shutter value greater than max shutter allowed (" +
                                     std::to_string(_nShutter) + " > " + std::to_string(_nShutterMax) + ")");
    }
    updateMapShutterRawToReal();
}

void FlyCapCamera::updateMapShutterRawToReal()
{
    FLYCAP_TRACE("FlyCapCamera::updateMapShutterRawToReal(); (portId=", _nPortIdx, ")");
    callRetried(_nSerialNumber,
                "flycaptureSetCameraAbsPropertyEx(_fcContext, FLYCAPTURE_SHUTTER, false, true, false, "
                "static_cast<float>(_nShutter*.001))",
                [&] {
                    return flycaptureSetCameraAbsPropertyEx(_fcContext, FLYCAPTURE_SHUTTER, false, true,
                                                            false, static_cast<float>(_nShutter * .001));
                });
    int32_t rawShutter = 0;
    int32_t dummy = 0;
    bool bAuto = false;
    callRetried(_nSerialNumber, kCallGetRawShutter, [&] {
        return flycaptureGetCameraProperty(_fcContext, FLYCAPTURE_SHUTTER, &rawShutter, &dummy, &bAuto);
    });
    // Written back raw, the shutter stays where it is but leaves absolute mode.
    callRetried(_nSerialNumber,
                "flycaptureSetCameraProperty(_fcContext, FLYCAPTURE_SHUTTER, rawShutter, dummy, bAuto)", [&] {
                    return flycaptureSetCameraProperty(_fcContext, FLYCAPTURE_SHUTTER, rawShutter, dummy,
                                                       bAuto);
                });
    ScopedLock lock(_csMapShutter);
    _mapShutterRawToReal[rawShutter] = _nShutter;
}

void FlyCapCamera::updateGain()
{
    FLYCAP_TRACE("FlyCapCamera::updateGain(); (portId=", _nPortIdx, ")");
    bool bPresent = false;
    float fMinGain = 0.0f;
    float fMaxGain = 0.0f;
    callRetried(
        _nSerialNumber,
        "flycaptureGetCameraAbsPropertyRange(_fcContext, FLYCAPTURE_GAIN, &bPresent, &fMinGain, &fMaxGain, "
        "0, 0)",
        [&] {
            return flycaptureGetCameraAbsPropertyRange(_fcContext, FLYCAPTURE_GAIN, &bPresent, &fMinGain,
                                                       &fMaxGain, nullptr, nullptr);
        });
    _bGainPresent = bPresent;
    _nGainMin = gainMinimum(fMinGain);
    _nGainMax = gainMaximum(fMaxGain);
    if (_gain) {
        if (*_gain < _nGainMin) {
            ORVEX_THROW(kCameraUnit, "gain value lower than min gain allowed (" + std::to_string(*_gain) +
                                         " < " + std::to_string(_nGainMin) + ")");
        }
        if (*_gain > _nGainMax) {
            ORVEX_THROW(kCameraUnit, "gain value greater than max gain allowed (" + std::to_string(*_gain) +
                                         " > " + std::to_string(_nGainMax) + ")");
        }
    }
    updateMapGainRawToReal();
}

void FlyCapCamera::updateMapGainRawToReal()
{
    FLYCAP_TRACE("FlyCapCamera::updateMapGainRawToReal(); (portId=", _nPortIdx, ")");
    int32_t rawGain = 0;
    int32_t dummy = 0;
    bool bAuto = false;
    callRetried(
        _nSerialNumber, "flycaptureGetCameraProperty(_fcContext, FLYCAPTURE_GAIN, &rawGain, &dummy, &bAuto)",
        [&] { return flycaptureGetCameraProperty(_fcContext, FLYCAPTURE_GAIN, &rawGain, &dummy, &bAuto); });
    ScopedLock lock(_csMapGain);
    if (_gain) {
        _mapGainRawToReal[rawGain] = *_gain;
    }
}

void FlyCapCamera::updateBrightness()
{
    FLYCAP_TRACE("FlyCapCamera::updateBrightness(); (portId=", _nPortIdx, ")");
    bool bPresent = false;
    float fMinBrightness = 0.0f;
    float fMaxBrightness = 0.0f;
    callRetried(
        _nSerialNumber,
        "flycaptureGetCameraAbsPropertyRange(_fcContext, FLYCAPTURE_BRIGHTNESS, &bPresent, &fMinBrightness, "
        "&fMaxBrightness, 0, 0)",
        [&] {
            return flycaptureGetCameraAbsPropertyRange(_fcContext, FLYCAPTURE_BRIGHTNESS, &bPresent,
                                                       &fMinBrightness, &fMaxBrightness, nullptr, nullptr);
        });
    _bBrightnessPresent = bPresent;
    _fBrightnessMin = fMinBrightness;
    _fBrightnessMax = fMaxBrightness;
    float fBrightness = 0.0f;
    callRetried(
        _nSerialNumber, "flycaptureGetCameraAbsProperty(_fcContext, FLYCAPTURE_BRIGHTNESS, &fBrightness)",
        [&] { return flycaptureGetCameraAbsProperty(_fcContext, FLYCAPTURE_BRIGHTNESS, &fBrightness); });
    _fBrightness = fBrightness;
}

void FlyCapCamera::updateFrameRate()
{
    FLYCAP_TRACE("FlyCapCamera::updateFrameRate(); (portId=", _nPortIdx, ")");
    float fMinFrameRate = 0.0f;
    float fMaxFrameRate = 0.0f;
    callRetried(_nSerialNumber,
                "flycaptureGetCameraAbsPropertyRange(_fcContext, FLYCAPTURE_FRAME_RATE, "
                "&_bFrameRateRegisterImplemented, &fMinFrameRate, &fMaxFrameRate, 0, 0)",
                [&] {
                    return flycaptureGetCameraAbsPropertyRange(
                        _fcContext, FLYCAPTURE_FRAME_RATE, &_bFrameRateRegisterImplemented, &fMinFrameRate,
                        &fMaxFrameRate, nullptr, nullptr);
                });
    if (!_bFrameRateRegisterImplemented) {
        return;
    }
    _fFrameRateMin = fMinFrameRate;
    _fFrameRateMax = fMaxFrameRate;
    callRetried(
        _nSerialNumber,
        "flycaptureGetCameraPropertyRangeEx(_fcContext, FLYCAPTURE_FRAME_RATE, 0, 0, 0, &_bFrameRateEnabled, "
        "0, 0, 0, 0)",
        [&] {
            return flycaptureGetCameraPropertyRangeEx(_fcContext, FLYCAPTURE_FRAME_RATE, nullptr, nullptr,
                                                      nullptr, &_bFrameRateEnabled, nullptr, nullptr, nullptr,
                                                      nullptr);
        });
    if (!_bFrameRateEnabled) {
        return;
    }
    float fFrameRate = 0.0f;
    callRetried(
        _nSerialNumber, "flycaptureGetCameraAbsProperty(_fcContext, FLYCAPTURE_FRAME_RATE, &fFrameRate)",
        [&] { return flycaptureGetCameraAbsProperty(_fcContext, FLYCAPTURE_FRAME_RATE, &fFrameRate); });
    _fFrameRate = fFrameRate;
}

// --- shutter ---------------------------------------------------------------------

unsigned long FlyCapCamera::getShutter() const
{
    FLYCAP_TRACE("FlyCapCamera::getShutter(); (portId=", _nPortIdx, ")");
    checkInitialized();
    if (!_bShutterPresent) {
        ORVEX_THROW(kCameraUnit, kErrShutterAbsent);
    }
    return _nShutter;
}

unsigned long FlyCapCamera::getShutterMin() const
{
    FLYCAP_TRACE("FlyCapCamera::getShutterMin(); (portId=", _nPortIdx, ")");
    checkInitialized();
    if (!_bShutterPresent) {
        ORVEX_THROW(kCameraUnit, kErrShutterAbsent);
    }
    return _nShutterMin;
}

unsigned long FlyCapCamera::getShutterMax() const
{
    FLYCAP_TRACE("FlyCapCamera::getShutterMax(); (portId=", _nPortIdx, ")");
    checkInitialized();
    if (!_bShutterPresent) {
        ORVEX_THROW(kCameraUnit, kErrShutterAbsent);
    }
    return _nShutterMax;
}

void FlyCapCamera::setShutter(unsigned long)
{
    refuseNotAvailableYet("setShutter");
}

bool FlyCapCamera::isShutterTimeBaseAvailable() const
{
    FLYCAP_TRACE("FlyCapCamera::isShutterTimeBaseAvailable(...); (portId=", _nPortIdx, ")");
    return true;
}

bool FlyCapCamera::setShutterTimeBase(float timeBase)
{
    FLYCAP_TRACE("FlyCapCamera::setShutterTimeBase(value=", timeBase, "); (portId=", _nPortIdx, ")");
    return timeBase == kShutterTimeBase;
}

float FlyCapCamera::getShutterTimeBase() const
{
    FLYCAP_TRACE("FlyCapCamera::getShutterTimeBase(); (portId=", _nPortIdx, ")");
    return kShutterTimeBase;
}

float FlyCapCamera::getShutterTimeBaseMin() const
{
    FLYCAP_TRACE("FlyCapCamera::getShutterTimeBaseMin(); (portId=", _nPortIdx, ")");
    return kShutterTimeBase;
}

float FlyCapCamera::getShutterTimeBaseMax() const
{
    FLYCAP_TRACE("FlyCapCamera::getShutterTimeBaseMax(); (portId=", _nPortIdx, ")");
    return kShutterTimeBase;
}

// --- gain ---------------------------------------------------------------------------

bool FlyCapCamera::isGainSelectorAvailable(GainSelector selector) const
{
    FLYCAP_TRACE("FlyCapCamera::isGainSelectorAvailable(...); (portId=", _nPortIdx, ")");
    return selector == gainsel_main;
}

bool FlyCapCamera::isGainValueIgnored(GainSelector selector) const
{
    FLYCAP_TRACE("FlyCapCamera::isGainValueIgnored(...); (portId=", _nPortIdx, ")");
    checkInitialized();
    if (!isGainSelectorAvailable(selector)) {
        ORVEX_THROW(kCameraUnit, kErrInvalidGainSelector);
    }
    return !_gain.has_value();
}

long FlyCapCamera::getGain(GainSelector selector) const
{
    FLYCAP_TRACE("FlyCapCamera::getGain(...); (portId=", _nPortIdx, ")");
    checkInitialized();
    if (isGainValueIgnored(selector)) {
        ORVEX_THROW(kCameraUnit, "gain value is ignored!");
    }
    if (!_bGainPresent) {
        ORVEX_THROW(kCameraUnit, kErrGainAbsent);
    }
    if (!isGainSelectorAvailable(selector)) {
        ORVEX_THROW(kCameraUnit, kErrInvalidGainSelector);
    }
    return _gain.value_or(0);
}

long FlyCapCamera::getGainMin(GainSelector selector) const
{
    FLYCAP_TRACE("FlyCapCamera::getGainMin(...); (portId=", _nPortIdx, ")");
    checkInitialized();
    if (!_bGainPresent) {
        ORVEX_THROW(kCameraUnit, kErrGainAbsent);
    }
    if (!isGainSelectorAvailable(selector)) {
        ORVEX_THROW(kCameraUnit, kErrInvalidGainSelector);
    }
    return _nGainMin;
}

long FlyCapCamera::getGainMax(GainSelector selector) const
{
    FLYCAP_TRACE("FlyCapCamera::getGainMax(...); (portId=", _nPortIdx, ")");
    checkInitialized();
    if (!_bGainPresent) {
        ORVEX_THROW(kCameraUnit, kErrGainAbsent);
    }
    if (!isGainSelectorAvailable(selector)) {
        ORVEX_THROW(kCameraUnit, kErrInvalidGainSelector);
    }
    return _nGainMax;
}

long FlyCapCamera::getDefaultGain() const
{
    FLYCAP_TRACE("FlyCapCamera::getDefaultGain(...); (portId=", _nPortIdx, ")");
    checkInitialized();
    if (!_bGainPresent) {
        ORVEX_THROW(kCameraUnit, kErrGainAbsent);
    }
    return _nDefaultGain;
}

void FlyCapCamera::setGain(long, GainSelector)
{
    refuseNotAvailableYet("setGain");
}

// --- brightness ------------------------------------------------------------------------

bool FlyCapCamera::isBrightnessFeatureSupported() const
{
    FLYCAP_TRACE("FlyCapCamera::isBrightnessFeatureSupported(); (portId=", _nPortIdx, ")");
    return _bBrightnessPresent;
}

double FlyCapCamera::getBrightness() const
{
    FLYCAP_TRACE("FlyCapCamera::getBrightness(); (portId=", _nPortIdx, ")");
    checkInitialized();
    if (!_bBrightnessPresent) {
        ORVEX_THROW(kCameraUnit, kErrBrightnessAbsent);
    }
    return _fBrightness;
}

double FlyCapCamera::getBrightnessMin() const
{
    FLYCAP_TRACE("FlyCapCamera::getBrightnessMin(); (portId=", _nPortIdx, ")");
    checkInitialized();
    if (!_bBrightnessPresent) {
        ORVEX_THROW(kCameraUnit, "frightness property not available for this camera");
    }
    return _fBrightnessMin;
}

double FlyCapCamera::getBrightnessMax() const
{
    FLYCAP_TRACE("FlyCapCamera::getBrightnessMax(); (portId=", _nPortIdx, ")");
    checkInitialized();
    if (!_bBrightnessPresent) {
        ORVEX_THROW(kCameraUnit, kErrBrightnessAbsent);
    }
    return _fBrightnessMax;
}

void FlyCapCamera::setBrightness(double)
{
    refuseNotAvailableYet("setBrightness");
}

// --- frame rate ------------------------------------------------------------------------

bool FlyCapCamera::isFrameRateFeatureAvailable() const
{
    FLYCAP_TRACE("FlyCapCamera::isFrameRateFeatureAvailable(); (portId=", _nPortIdx, ")");
    return _bFrameRateRegisterImplemented;
}

bool FlyCapCamera::isFrameRateFeatureEnabled() const
{
    FLYCAP_TRACE("FlyCapCamera::isFrameRateFeatureEnabled(); (portId=", _nPortIdx, ")");
    if (!_bFrameRateRegisterImplemented) {
        ORVEX_THROW(kCameraUnit, kErrFrameRateUnsupported);
    }
    return _bFrameRateEnabled;
}

double FlyCapCamera::getFrameRate() const
{
    FLYCAP_TRACE("FlyCapCamera::getFrameRate(); (portId=", _nPortIdx, ")");
    checkInitialized();
    if (!_bFrameRateRegisterImplemented) {
        ORVEX_THROW(kCameraUnit, kErrFrameRateUnsupported);
    }
    if (!_bFrameRateEnabled) {
        ORVEX_THROW(kCameraUnit, "frame rate feature not enabled");
    }
    return _fFrameRate;
}

double FlyCapCamera::getFrameRateMin() const
{
    FLYCAP_TRACE("FlyCapCamera::getFrameRateMin(); (portId=", _nPortIdx, ")");
    checkInitialized();
    if (!_bFrameRateRegisterImplemented) {
        ORVEX_THROW(kCameraUnit, kErrFrameRateUnsupported);
    }
    return _fFrameRateMin;
}

double FlyCapCamera::getFrameRateMax() const
{
    FLYCAP_TRACE("FlyCapCamera::getFrameRateMax(); (portId=", _nPortIdx, ")");
    checkInitialized();
    if (!_bFrameRateRegisterImplemented) {
        ORVEX_THROW(kCameraUnit, kErrFrameRateUnsupported);
    }
    return _fFrameRateMax;
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
    FLYCAP_TRACE("FlyCapCamera::isAutoExposureFeatureSupported(); (portId=", _nPortIdx, ")");
    return true;
}

bool FlyCapCamera::isAutoExposureFeatureEnabled() const
{
    FLYCAP_TRACE("FlyCapCamera::isAutoExposureFeatureEnabled(); (portId=", _nPortIdx, ")");
    checkInitialized();
    if (!isAutoExposureFeatureSupported()) {
        ORVEX_THROW(kCameraUnit, "auto exposure is not supported");
    }
    return _bAutoExposureEnabled;
}

void FlyCapCamera::enableAutoExposureFeature(bool)
{
    refuseNotAvailableYet("enableAutoExposureFeature");
}

// --- temperature -----------------------------------------------------------------------

bool FlyCapCamera::isTemperatureAvailable() const
{
    FLYCAP_TRACE("FlyCapCamera::isTemperatureAvailable(); (portId=", _nPortIdx, ")");
    unsigned long value = 0;
    readRegister(iidc::kTemperature, value);
    return (value & iidc::kPresence) != 0;
}

double FlyCapCamera::getTemperature() const
{
    FLYCAP_TRACE("FlyCapCamera::getTemperature(); (portId=", _nPortIdx, ")");
    unsigned long value = 0;
    readRegister(iidc::kTemperature, value);
    if ((value & iidc::kPresence) == 0) {
        ORVEX_THROW(kCameraUnit, "temperature feature is not available");
    }
    // Tenths of a kelvin to degrees Celsius.
    return (static_cast<double>(value & iidc::kTemperatureValueMask) - iidc::kTemperatureZeroCelsiusTenthsK) *
           0.1;
}
