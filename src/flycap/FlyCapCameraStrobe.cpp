// FlyCapCamera: the strobe outputs on GPIO pins 1 and 2: their list, the
// once-per-pin support probe, enable, polarity, delay and duration, and the
// camera's 12-bit encoding of strobe times.
#include "flycap/FlyCapCameraPrivate.h"

#include "flycap/FlyCapTexts.h"
#include "flycap/FlyCapTrace.h"

#include <orvex/OrvexError.h>
#include <orvex/iidc/Registers.h>

#include <iterator>
#include <string>

using namespace orvex::flycap;
namespace iidc = orvex::iidc;

namespace {

// The strobe output pins the camera offers.
constexpr uint32_t kStrobeOutputPins[] = {1, 2};
// _strobeSupportState values.
constexpr uint32_t kStrobeUnsupported = 0;
constexpr uint32_t kStrobeSupported = 1;
constexpr uint32_t kStrobeNotProbed = 2;
// Strobe control with only its presence bit: off, low active, no delay, no
// duration.
constexpr uint32_t kStrobeControlOff = iidc::kPresence;
// A probed strobe inquiry must show presence, readability and on/off.
constexpr uint32_t kStrobeInquiryNeeded = iidc::kPresence | iidc::kStrobeInqReadable | iidc::kStrobeInqOnOff;
constexpr uint32_t kStrobeDelayField = iidc::kStrobeFieldMask << iidc::kStrobeDelayShift;
// The longest time the encoding takes, in microseconds.
constexpr uint32_t kLongestStrobeTime = 63930;

// Microseconds to raw, unmasked: beyond the first millisecond of a segment
// the value runs on at the segment's slope (7902 at the longest time).
uint32_t strobeTimeToRaw(unsigned long time)
{
    if (time > kLongestStrobeTime) {
        ORVEX_THROW(kCameraUnit, kErrStrobeTimeTooLong);
    }
    const auto t = static_cast<uint32_t>(time);
    const iidc::StrobeTimeSegment& segment = iidc::strobeSegmentOfTime(t);
    return (t - segment.timeOriginUs) * segment.rawPerMs / 1000u + segment.rawOrigin;
}

// Raw (12-bit) to microseconds; the smallest non-zero raw still means some
// time, so it never reads back as 0.
uint32_t strobeRawToTime(uint32_t raw)
{
    if (raw > iidc::kStrobeFieldMask) {
        ORVEX_THROW(kCameraUnit, kErrStrobeRawTooLarge);
    }
    const iidc::StrobeTimeSegment& segment = iidc::strobeSegmentOfRaw(raw);
    const uint32_t time = (raw - segment.rawOrigin) * 1000u / segment.rawPerMs + segment.timeOriginUs;
    return (time == 0 && raw != 0) ? 1 : time;
}

// The raw value as the control register's 12-bit field takes it.
uint32_t strobeField(unsigned long time)
{
    return strobeTimeToRaw(time) & iidc::kStrobeFieldMask;
}

} // namespace

// --- init's starting state -------------------------------------------------------------

void FlyCapCamera::resetStrobeOutputs()
{
    _pState->_triggerStrobe._strobeOutputPortIds.assign(std::begin(kStrobeOutputPins),
                                                        std::end(kStrobeOutputPins));
    _pState->_triggerStrobe._strobeDurationCache.clear();
    _pState->_triggerStrobe._strobeDelayCache.clear();
    _pState->_triggerStrobe._strobeSupportState.clear();
    for (const uint32_t pin : _pState->_triggerStrobe._strobeOutputPortIds) {
        _pState->_triggerStrobe._strobeDurationCache[pin] = std::nullopt;
        _pState->_triggerStrobe._strobeDelayCache[pin] = std::nullopt;
        _pState->_triggerStrobe._strobeSupportState[pin] = kStrobeNotProbed;
    }
    unsigned long quadletOffset = 0;
    readRegister(iidc::kStrobeOutputInquiry, quadletOffset);
    // Unlike the Format_7 block, the strobe block is addressed from the
    // camera's register base.
    _pState->_triggerStrobe._nStrobeCsrBase =
        (static_cast<uint32_t>(quadletOffset) * 4u) | iidc::kRegisterBase;
}

// --- steps ---------------------------------------------------------------------------------

uint32_t FlyCapCamera::strobeControlAddress(uint32_t pin) const
{
    return _pState->_triggerStrobe._nStrobeCsrBase + iidc::kStrobeControlOffset + 4u * pin;
}

void FlyCapCamera::setStrobePinToOutput(uint32_t pin) const
{
    unsigned long control = 0;
    readRegister(iidc::kGpioControl, control);
    // The const queries of the interface need this write too.
    const_cast<FlyCapCamera*>(this)->writeRegister(iidc::kGpioControl, control | iidc::gpioOutputBit(pin));
}

void FlyCapCamera::checkStrobeSupported(unsigned long pin) const
{
    if (!isStrobeOutputFeatureSupported(pin)) {
        ORVEX_THROW(kCameraUnit, kErrStrobeUnsupportedOnPin + std::to_string(pin));
    }
}

// --- pins -------------------------------------------------------------------------------------

unsigned long FlyCapCamera::getNbStrobeOutputPorts() const
{
    FLYCAP_TRACE("FlyCapCamera::getNbStrobeOutputPorts(); (portId = ", _pState->_identity._nPortIdx, ")");
    return _pState->_triggerStrobe._strobeOutputPortIds.size();
}

unsigned long FlyCapCamera::getStrobeOutputPortId(unsigned long nIdx) const
{
    FLYCAP_TRACE("FlyCapCamera::getStrobeOutputPortId(nIdx=", nIdx,
                 "); (portId = ", _pState->_identity._nPortIdx, ")");
    if (nIdx >= getNbStrobeOutputPorts()) {
        ORVEX_THROW(kCameraUnit, kErrStrobePortIdxPrefix + std::to_string(nIdx) + kErrStrobePortIdxEnd);
    }
    return _pState->_triggerStrobe._strobeOutputPortIds[nIdx];
}

bool FlyCapCamera::isStrobeOutputPortIdValid(unsigned long nPortId) const
{
    FLYCAP_TRACE("FlyCapCamera::isStrobeOutputPortIdValid(nPortId=", nPortId,
                 "); (portId = ", _pState->_identity._nPortIdx, ")");
    for (const uint32_t pin : _pState->_triggerStrobe._strobeOutputPortIds) {
        if (pin == nPortId) {
            return true;
        }
    }
    return false;
}

bool FlyCapCamera::isStrobeOutputFeatureSupported(unsigned long g) const
{
    FLYCAP_TRACE("FlyCapCamera::isStrobeOutputFeatureSupported(gpioId=", g,
                 "); (portId = ", _pState->_identity._nPortIdx, ")");
    if (!isStrobeOutputPortIdValid(g)) {
        ORVEX_THROW(kCameraUnit, std::to_string(g) + kErrInvalidGpioId);
    }
    // A listed pin: one of the 32-bit pin numbers.
    const auto pin = static_cast<uint32_t>(g);
    uint32_t& state = _pState->_triggerStrobe._strobeSupportState[pin];
    if (state == kStrobeNotProbed) {
        // The strobe inquiry answers only for an output pin; the pin's
        // direction is given back afterwards.
        unsigned long control = 0;
        readRegister(iidc::kGpioControl, control);
        auto* self = const_cast<FlyCapCamera*>(this);
        self->writeRegister(iidc::kGpioControl, control | iidc::gpioOutputBit(pin));
        unsigned long inquiry = 0;
        readRegister(_pState->_triggerStrobe._nStrobeCsrBase + iidc::kStrobeInquiryOffset + 4u * pin,
                     inquiry);
        self->writeRegister(iidc::kGpioControl, control);
        state =
            (inquiry & kStrobeInquiryNeeded) == kStrobeInquiryNeeded ? kStrobeSupported : kStrobeUnsupported;
    }
    return state == kStrobeSupported;
}

// --- enable and polarity ------------------------------------------------------------------

bool FlyCapCamera::isStrobeOutputEnabled(unsigned long g) const
{
    FLYCAP_TRACE("FlyCapCamera::isStrobeOutputEnabled(gpioId=", g,
                 "); (portId = ", _pState->_identity._nPortIdx, ")");
    checkStrobeSupported(g);
    const auto pin = static_cast<uint32_t>(g);
    unsigned long gpio = 0;
    readRegister(iidc::kGpioControl, gpio);
    if ((gpio & iidc::gpioOutputBit(pin)) == 0) {
        return false;
    }
    unsigned long control = 0;
    readRegister(strobeControlAddress(pin), control);
    return (control & iidc::kStrobeOn) != 0;
}

void FlyCapCamera::enableStrobeOutput(unsigned long g, bool bEnable)
{
    FLYCAP_TRACE("FlyCapCamera::enableStrobeOutput(gpioId=", g, ", bEnable=", boolText(bEnable), ")");
    checkStrobeSupported(g);
    const auto pin = static_cast<uint32_t>(g);
    setStrobePinToOutput(pin);
    unsigned long control = 0;
    readRegister(strobeControlAddress(pin), control);
    control =
        bEnable ? (control | iidc::kStrobeOn) : (control & ~static_cast<unsigned long>(iidc::kStrobeOn));
    writeRegister(strobeControlAddress(pin), control);
}

void FlyCapCamera::enableStrobeOutput(unsigned long g, bool bEnable, bool bHighActive, unsigned long nDelay,
                                      unsigned long nDuration)
{
    FLYCAP_TRACE("FlyCapCamera::enableStrobeOutput(gpioId=", g, ", bEnable=", boolText(bEnable),
                 ", bHighActive=", boolText(bHighActive), ", nDelay=", nDelay, ", nDuration=", nDuration,
                 "); (portId = ", _pState->_identity._nPortIdx, ")");
    checkStrobeSupported(g);
    const auto pin = static_cast<uint32_t>(g);
    setStrobePinToOutput(pin);
    if (!bEnable) {
        // Switched off, the output also forgets its timing; the caches keep
        // what the host set last.
        writeRegister(strobeControlAddress(pin), kStrobeControlOff);
        return;
    }
    const uint32_t delayRaw = strobeField(nDelay);
    const uint32_t durationRaw = strobeField(nDuration);
    writeRegister(strobeControlAddress(pin), kStrobeControlOff | iidc::kStrobeOn |
                                                 (bHighActive ? iidc::kStrobePolarity : 0u) |
                                                 (delayRaw << iidc::kStrobeDelayShift) | durationRaw);
    _pState->_triggerStrobe._strobeDurationCache[pin] = static_cast<uint32_t>(nDuration);
    _pState->_triggerStrobe._strobeDelayCache[pin] = static_cast<uint32_t>(nDelay);
}

void FlyCapCamera::setStrobeOutputPolarity(unsigned long g, bool bHighActive)
{
    FLYCAP_TRACE("FlyCapCamera::setStrobeOutputPolarity(gpioId=", g, ", bHighActive=", boolText(bHighActive),
                 "); (portId = ", _pState->_identity._nPortIdx, ")");
    checkStrobeSupported(g);
    const uint32_t address = strobeControlAddress(static_cast<uint32_t>(g));
    unsigned long control = 0;
    readRegister(address, control);
    control = bHighActive ? (control | iidc::kStrobePolarity)
                          : (control & ~static_cast<unsigned long>(iidc::kStrobePolarity));
    writeRegister(address, control);
}

bool FlyCapCamera::getStrobeOutputPolarity(unsigned long g)
{
    FLYCAP_TRACE("FlyCapCamera::getStrobeOutputPolarity(gpioId=", g,
                 "); (portId=", _pState->_identity._nPortIdx, ")");
    checkStrobeSupported(g);
    unsigned long control = 0;
    readRegister(strobeControlAddress(static_cast<uint32_t>(g)), control);
    return (control & iidc::kStrobePolarity) != 0;
}

// --- delay and duration ---------------------------------------------------------------------

void FlyCapCamera::setStrobeOutputDelay(unsigned long g, unsigned long nDelay)
{
    // The micro sign is the single Windows-1252 byte the log has always had.
    FLYCAP_TRACE("FlyCapCamera::setStrobeOutputDelay(gpioId=", g, ", nDelay=", nDelay, " \xB5s)");
    checkStrobeSupported(g);
    const auto pin = static_cast<uint32_t>(g);
    setStrobePinToOutput(pin);
    unsigned long control = 0;
    readRegister(strobeControlAddress(pin), control);
    control = (control & ~static_cast<unsigned long>(kStrobeDelayField)) |
              (strobeField(nDelay) << iidc::kStrobeDelayShift);
    writeRegister(strobeControlAddress(pin), control);
    _pState->_triggerStrobe._strobeDelayCache[pin] = static_cast<uint32_t>(nDelay);
}

void FlyCapCamera::setStrobeOutputDuration(unsigned long g, unsigned long nDuration)
{
    FLYCAP_TRACE("FlyCapCamera::setStrobeOutputDuration(gpioId=", g, ", nDuration=", nDuration, " \xB5s)");
    checkStrobeSupported(g);
    const auto pin = static_cast<uint32_t>(g);
    setStrobePinToOutput(pin);
    unsigned long control = 0;
    readRegister(strobeControlAddress(pin), control);
    control = (control & ~static_cast<unsigned long>(iidc::kStrobeFieldMask)) | strobeField(nDuration);
    writeRegister(strobeControlAddress(pin), control);
    _pState->_triggerStrobe._strobeDurationCache[pin] = static_cast<uint32_t>(nDuration);
}

unsigned long FlyCapCamera::getStrobeOutputDelay(unsigned long g) const
{
    FLYCAP_TRACE("FlyCapCamera::getStrobeOutputDelay(gpioId=", g, "); (portId=", _pState->_identity._nPortIdx,
                 ")");
    checkStrobeSupported(g);
    const auto pin = static_cast<uint32_t>(g);
    std::optional<uint32_t>& cached = _pState->_triggerStrobe._strobeDelayCache[pin];
    // What the host set, not its rounding by the encoding.
    if (!cached) {
        setStrobePinToOutput(pin);
        unsigned long control = 0;
        readRegister(strobeControlAddress(pin), control);
        cached = strobeRawToTime((static_cast<uint32_t>(control) >> iidc::kStrobeDelayShift) &
                                 iidc::kStrobeFieldMask);
    }
    return *cached;
}

unsigned long FlyCapCamera::getStrobeOutputDuration(unsigned long g) const
{
    FLYCAP_TRACE("FlyCapCamera::getStrobeOutputDuration(gpioId=", g,
                 "); (portId=", _pState->_identity._nPortIdx, ")");
    checkStrobeSupported(g);
    const auto pin = static_cast<uint32_t>(g);
    std::optional<uint32_t>& cached = _pState->_triggerStrobe._strobeDurationCache[pin];
    if (!cached) {
        setStrobePinToOutput(pin);
        unsigned long control = 0;
        readRegister(strobeControlAddress(pin), control);
        cached = strobeRawToTime(static_cast<uint32_t>(control) & iidc::kStrobeFieldMask);
    }
    return *cached;
}
