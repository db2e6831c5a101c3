// The camera's GPIO levels as each image records them: the trigger input,
// and the strobe outputs, whose pulses start their delay after an image's
// exposure start and last their duration (0: the exposure time).
#include <orvex/sim/Camera.h>

#include "CameraLayout.h"

#include <orvex/iidc/FrameInfo.h>
#include <orvex/iidc/Registers.h>

namespace orvex::sim {

using namespace orvex::iidc;

namespace {

// Pulses remembered per pin: enough for any image to see the pulses of the
// images just before it.
constexpr std::size_t kRememberedPulses = 8;

// A strobe field (delay or duration) in nanoseconds, as the camera times it.
int64_t strobeFieldNs(uint32_t raw)
{
    const StrobeTimeSegment& segment = strobeSegmentOfRaw(raw);
    return int64_t(segment.timeOriginUs) * 1000 +
           (int64_t(raw) - int64_t(segment.rawOrigin)) * 1000000 / int64_t(segment.rawPerMs);
}

} // namespace

bool Camera::strobePresentLocked(uint32_t pin) const
{
    // A forced strobe inquiry decides whether the output exists.
    const auto forced = _config.registerOverrides.find(layout::strobeInquiry(pin));
    if (forced != _config.registerOverrides.end())
        return forced->second & kPresence;
    return (_config.strobePins >> pin) & 1u;
}

uint8_t Camera::gpioLevelsLocked(int64_t exposureStartNs, int64_t exposureNs, bool externalTrigger)
{
    uint8_t levels = 0;
    // An image fired from the input saw it at its active level; any other
    // image sees the level the input has.
    const uint32_t triggerMode = reg(kTriggerMode);
    const bool highActive = triggerMode & kTriggerPolarity;
    if (externalTrigger ? highActive : triggerInputLevelLocked(triggerMode))
        levels |= frameinfo::gpioPinBit(0);

    const uint32_t outputs = reg(kGpioControl);
    for (uint32_t pin = 1; pin < kGpioPinCount; ++pin) {
        std::deque<StrobePulse>& pulses = _strobePulses[pin];
        if (!strobePresentLocked(pin) || !(outputs & gpioOutputBit(pin))) {
            pulses.clear();
            continue;
        }
        const uint32_t strobe = reg(layout::strobeControl(pin));
        const bool on = strobe & kStrobeOn;
        if (on) {
            const uint32_t durationRaw = strobe & kStrobeFieldMask;
            const int64_t begin =
                exposureStartNs + strobeFieldNs((strobe >> kStrobeDelayShift) & kStrobeFieldMask);
            pulses.push_back({begin, begin + (durationRaw ? strobeFieldNs(durationRaw) : exposureNs)});
            if (pulses.size() > kRememberedPulses)
                pulses.pop_front();
        } else {
            pulses.clear();
        }
        bool active = false;
        for (const StrobePulse& p : pulses)
            active = active || (p.beginNs <= exposureStartNs && exposureStartNs < p.endNs);
        if (active == bool(strobe & kStrobePolarity))
            levels |= frameinfo::gpioPinBit(pin);
    }
    return levels;
}

} // namespace orvex::sim
