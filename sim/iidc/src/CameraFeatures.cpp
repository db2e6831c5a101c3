// IIDC features of the camera: brightness, auto exposure, shutter, gain and
// frame rate (raw 12-bit values and their absolute meaning, with ranges that
// depend on the camera's state), the trigger and the temperature.
#include <orvex/sim/Camera.h>

#include <orvex/iidc/Registers.h>

#include <algorithm>
#include <cmath>

namespace orvex::sim {

using namespace orvex::iidc;

namespace {
// Auto exposure aims at a gain and a shutter that grow with the target EV.
constexpr double kAutoGainDbAtZeroEv = 6.0;
constexpr double kAutoGainDbPerEv = 2.0;
constexpr double kAutoShutterMsAtZeroEv = 5.0;
} // namespace

const PropertyCaps* Camera::caps(uint32_t feature) const
{
    switch (feature) {
    case kFeatureBrightness:
        return &_config.brightness;
    case kFeatureAutoExposure:
        return &_config.autoExposure;
    case kFeatureShutter:
        return &_config.shutter;
    case kFeatureGain:
        return &_config.gain;
    case kFeatureFrameRate:
        return &_config.frameRate;
    default:
        return nullptr;
    }
}

double Camera::absOfLocked(uint32_t feature, uint32_t raw) const
{
    if (feature == kFeatureShutter)
        return raw * _timeBase * 1000.0; // milliseconds
    const PropertyCaps& p = *caps(feature);
    return p.absAtRawMin + (static_cast<double>(raw) - p.rawMin) * p.absStep;
}

int64_t Camera::rawOfLocked(uint32_t feature, double abs) const
{
    if (feature == kFeatureShutter)
        return std::llround(abs / (_timeBase * 1000.0));
    const PropertyCaps& p = *caps(feature);
    return int64_t(p.rawMin) + std::llround((abs - p.absAtRawMin) / p.absStep);
}

uint32_t Camera::rawMaxLocked(uint32_t feature) const
{
    const PropertyCaps& p = *caps(feature);
    double limit = p.rawMax;
    if (feature == kFeatureShutter) {
        limit = std::floor(maxExposureLocked() / _timeBase + 1e-6);
    } else if (feature == kFeatureFrameRate) {
        limit = p.rawMin + std::floor((maxFrameRateLocked() - p.absAtRawMin) / p.absStep + 1e-6);
    }
    limit = std::min<double>(limit, p.rawMax);
    return static_cast<uint32_t>(std::max<double>(limit, p.rawMin));
}

uint32_t Camera::featureInquiryLocked(uint32_t feature) const
{
    if (feature == kFeatureTrigger)
        return triggerInquiryLocked();
    if (feature == kFeatureTemperature)
        return kPresence | kInquiryReadOut;
    const PropertyCaps* p = caps(feature);
    if (!p || !p->present)
        return 0;
    uint32_t v = kPresence;
    v |= p->absolute ? kInquiryAbsolute : 0;
    v |= p->onePush ? kInquiryOnePush : 0;
    v |= p->readOut ? kInquiryReadOut : 0;
    v |= p->onOff ? kInquiryOnOff : 0;
    v |= p->autoMode ? kInquiryAuto : 0;
    v |= p->manual ? kInquiryManual : 0;
    v |= (p->rawMin & kInquiryValueMask) << kInquiryMinShift;
    v |= rawMaxLocked(feature) & kInquiryValueMask;
    return v;
}

uint32_t Camera::triggerInquiryLocked() const
{
    // A forced inquiry is what the camera can do: modes, sources, switches.
    const auto forced = _config.registerOverrides.find(kTriggerInquiry);
    if (forced != _config.registerOverrides.end())
        return forced->second;
    if (!_config.trigger)
        return 0;
    uint32_t v = kTriggerInqPresence | kTriggerInqReadable | kTriggerInqOnOff | kTriggerInqPolarity |
                 kTriggerInqValueRead | triggerInqSource(0);
    if (_config.softwareTrigger)
        v |= kTriggerInqSoftware;
    for (uint32_t m = 0; m < 16; ++m) {
        if ((_config.triggerModes >> m) & 1u)
            v |= triggerInqMode(m);
    }
    return v;
}

bool Camera::triggerOnLocked() const
{
    return _triggerOnMemo.get(_regs, [this] { return workOutTriggerOnLocked(); });
}

bool Camera::workOutTriggerOnLocked() const
{
    return (triggerInquiryLocked() & kTriggerInqPresence) && (reg(kTriggerMode) & kTriggerOn);
}

Status Camera::propertyLocked(uint32_t feature, PropertyValue& value) const
{
    const PropertyCaps* p = caps(feature);
    if (!p || !p->present) {
        value = PropertyValue{};
        return Status::notPresent;
    }
    const uint32_t csr = reg(featureControl(feature));
    value.present = true;
    value.absoluteCapable = p->absolute;
    value.onePushCapable = p->onePush;
    value.readOutCapable = p->readOut;
    value.onOffCapable = p->onOff;
    value.autoCapable = p->autoMode;
    value.manualCapable = p->manual;
    value.rawMin = p->rawMin;
    value.rawMax = rawMaxLocked(feature);
    value.onePush = csr & kControlOnePush;
    value.on = csr & kControlOn;
    value.autoMode = csr & kControlAuto;
    value.absoluteMode = csr & kControlAbsolute;
    value.raw = csr & kControlValueMask;
    value.rawHigh = (csr >> kControlHighValueShift) & kControlValueMask;
    value.absValue = absOfLocked(feature, value.raw);
    value.absMin = absOfLocked(feature, value.rawMin);
    value.absMax = absOfLocked(feature, value.rawMax);
    value.units = p->units.c_str();
    value.unitAbbreviation = p->unitAbbreviation.c_str();
    return Status::ok;
}

Status Camera::property(uint32_t feature, PropertyValue& value)
{
    return transact([&](int64_t, After&) { return propertyLocked(feature, value); });
}

namespace {
uint32_t controlFlags(const PropertyCaps& p, bool onePush, bool on, bool autoMode)
{
    uint32_t v = kPresence;
    if (onePush && p.onePush)
        v |= kControlOnePush;
    if (on || !p.onOff)
        v |= kControlOn;
    if (autoMode && p.autoMode)
        v |= kControlAuto;
    return v;
}
} // namespace

Status Camera::setPropertyRaw(uint32_t feature, bool onePush, bool on, bool autoMode, uint32_t raw,
                              uint32_t rawHigh)
{
    return transact([&](int64_t, After&) {
        const PropertyCaps* p = caps(feature);
        if (!p || !p->present)
            return Status::notPresent;
        if (raw < p->rawMin || raw > rawMaxLocked(feature))
            return Status::outOfRange;
        (void)rawHigh; // none of these features has a second value
        _regs[featureControl(feature)] = controlFlags(*p, onePush, on, autoMode) | raw;
        enforceRangesLocked();
        return Status::ok;
    });
}

Status Camera::setPropertyAbsolute(uint32_t feature, bool onePush, bool on, bool autoMode, double value)
{
    return transact([&](int64_t, After&) {
        const PropertyCaps* p = caps(feature);
        if (!p || !p->present)
            return Status::notPresent;
        if (!p->absolute || !std::isfinite(value))
            return Status::invalidArgument;
        const int64_t raw = rawOfLocked(feature, value);
        if (raw < int64_t(p->rawMin) || raw > int64_t(rawMaxLocked(feature)))
            return Status::outOfRange;
        _regs[featureControl(feature)] =
            controlFlags(*p, onePush, on, autoMode) | kControlAbsolute | static_cast<uint32_t>(raw);
        enforceRangesLocked();
        return Status::ok;
    });
}

void Camera::writeFeatureLocked(uint32_t feature, uint32_t value)
{
    const PropertyCaps* p = caps(feature);
    if (!p || !p->present)
        return; // read-only (temperature) or absent feature
    const uint32_t address = featureControl(feature);
    uint32_t raw = value & kControlValueMask;
    if (raw < p->rawMin || raw > rawMaxLocked(feature))
        raw = reg(address) & kControlValueMask; // a camera keeps its value on an out-of-range write
    uint32_t v = controlFlags(*p, false, value & kControlOn, value & kControlAuto) | raw;
    if (p->absolute && (value & kControlAbsolute))
        v |= kControlAbsolute;
    _regs[address] = v;
}

void Camera::writeTriggerModeLocked(uint32_t value)
{
    const uint32_t inquiry = triggerInquiryLocked();
    if (!(inquiry & kTriggerInqPresence))
        return;
    const uint32_t current = reg(kTriggerMode);
    // What the inquiry does not offer keeps its current setting; the input
    // level (bit 20) is the input's, not the host's.
    auto field = [&](uint32_t mask, bool writable) { return (writable ? value : current) & mask; };
    uint32_t next = kPresence | (value & kTriggerParameterMask);
    next |= field(kTriggerOn, inquiry & kTriggerInqOnOff);
    next |= field(kTriggerPolarity, inquiry & kTriggerInqPolarity);
    if (triggerInputLevelLocked(next))
        next |= kTriggerValue;

    const uint32_t source = (value >> kTriggerSourceShift) & kTriggerSourceMask;
    const bool sourceOk = source == kTriggerSourceSoftware ? (inquiry & kTriggerInqSoftware) != 0
                          : source < 4                     ? (inquiry & triggerInqSource(source)) != 0
                                                           : false;
    next |= (sourceOk ? source : (current >> kTriggerSourceShift) & kTriggerSourceMask)
            << kTriggerSourceShift;

    const uint32_t mode = (value >> kTriggerModeShift) & kTriggerModeMask;
    const bool modeOk = inquiry & triggerInqMode(mode);
    next |= (modeOk ? mode : (current >> kTriggerModeShift) & kTriggerModeMask) << kTriggerModeShift;

    _regs[kTriggerMode] = next;
    if ((current ^ next) & kTriggerOn) {
        // Free run and triggered acquisition start afresh.
        _triggers.clear();
        _freeRun = FreeRunPlan{};
        _busyUntilNs = 0;
        rescheduleLocked();
    }
}

void Camera::enforceRangesLocked()
{
    // Frame rate first: the shutter's limit follows from it.
    for (uint32_t feature : {kFeatureFrameRate, kFeatureShutter}) {
        const PropertyCaps* p = caps(feature);
        const auto it = _regs.find(featureControl(feature));
        if (!p->present || it == _regs.end())
            continue;
        const uint32_t raw = it->second & kControlValueMask;
        const uint32_t clamped = std::clamp(raw, p->rawMin, rawMaxLocked(feature));
        if (clamped != raw)
            _regs.set(it->first, (it->second & ~kControlValueMask) | clamped);
    }
}

double Camera::autoTargetLocked(uint32_t feature) const
{
    const double ev = absOfLocked(kFeatureAutoExposure, reg(kAutoExposure) & kControlValueMask);
    if (feature == kFeatureShutter)
        return kAutoShutterMsAtZeroEv * std::pow(2.0, ev);
    const PropertyCaps& g = _config.gain;
    return std::clamp(kAutoGainDbAtZeroEv + kAutoGainDbPerEv * ev, g.absAtRawMin,
                      absOfLocked(kFeatureGain, g.rawMax));
}

void Camera::applyAutoExposureLocked()
{
    if (!_config.autoExposure.present || !(reg(kAutoExposure) & kControlOn))
        return;
    // A small wobble from image to image, as a real regulation loop shows.
    const int64_t wobble = int64_t(_frameCounter % 3) - 1;
    // The target only for a feature under automatic control: it costs a pow.
    auto regulate = [&](uint32_t feature) {
        const auto it = _regs.find(featureControl(feature));
        if (it == _regs.end() || !(it->second & kControlAuto))
            return;
        const int64_t raw = std::clamp<int64_t>(rawOfLocked(feature, autoTargetLocked(feature)) + wobble,
                                                caps(feature)->rawMin, rawMaxLocked(feature));
        _regs.set(it->first, (it->second & ~kControlValueMask) | static_cast<uint32_t>(raw));
    };
    regulate(kFeatureGain);
    regulate(kFeatureShutter);
}

} // namespace orvex::sim
