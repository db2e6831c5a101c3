// The camera's trigger input and software triggers: the level of the
// external input and the edge that fires the camera (polarity), trigger
// mode 1 (exposure as long as the pulse), the vendor and the standard
// software trigger registers, and broadcast writes acting at one instant.
#include <orvex/sim/Camera.h>

#include <orvex/iidc/Registers.h>

#include <limits>

namespace orvex::sim {

using namespace orvex::iidc;

namespace {
// Trigger mode 1: the exposure lasts as long as the input is active.
constexpr uint32_t kTriggerModeWidth = 1;
// While a mode 1 pulse is open the camera is exposing: nothing else fires it.
constexpr int64_t kBusyUntilPulseEnds = std::numeric_limits<int64_t>::max();
} // namespace

uint32_t Camera::triggerSourceLocked() const
{
    return (reg(kTriggerMode) >> kTriggerSourceShift) & kTriggerSourceMask;
}

int64_t Camera::triggerDeliveryDelayNsLocked(const Trigger& trigger) const
{
    if (trigger.exposureNs < 0)
        return deliveryDelayNsLocked();
    // The transfer follows an exposure of the trigger's own length.
    return deliveryDelayNsLocked() - static_cast<int64_t>(exposureLocked() * 1e9) + trigger.exposureNs;
}

bool Camera::externalTrigger(int64_t hostNs)
{
    bool accepted = false;
    bool deliverNow = false;
    {
        std::lock_guard<std::mutex> lock(_m);
        catchUpLocked(hostNowNs());
        if (triggerSourceLocked() == 0)
            accepted = acceptTriggerLocked(hostNs, true);
        deliverNow = accepted && _pacing == Pacing::unpaced;
    }
    if (deliverNow)
        deliverTriggersUnpaced();
    wakeReceiver();
    return accepted;
}

bool Camera::setTriggerInput(bool high, int64_t hostNs)
{
    bool taken = false;
    bool deliverNow = false;
    {
        std::lock_guard<std::mutex> lock(_m);
        catchUpLocked(hostNowNs());
        taken = triggerEdgeLocked(high, hostNs);
        deliverNow = _pacing == Pacing::unpaced && !_triggers.empty();
    }
    if (deliverNow)
        deliverTriggersUnpaced();
    wakeReceiver();
    return taken;
}

bool Camera::triggerInputLevelLocked(uint32_t triggerMode) const
{
    return _triggerInputHigh ? *_triggerInputHigh : !(triggerMode & kTriggerPolarity);
}

bool Camera::triggerEdgeLocked(bool high, int64_t hostNs)
{
    const bool was = triggerInputLevelLocked(reg(kTriggerMode));
    _triggerInputHigh = high;
    if (high == was)
        return false; // no edge
    // TRIGGER_MODE reads the input's level (bit 20).
    const auto it = _regs.find(kTriggerMode);
    if (it != _regs.end())
        _regs.set(it->first, high ? (it->second | kTriggerValue) : (it->second & ~kTriggerValue));

    const uint32_t mode = reg(kTriggerMode);
    const bool highActive = mode & kTriggerPolarity;
    const bool activeEdge = high == highActive;
    const bool widthMode = ((mode >> kTriggerModeShift) & kTriggerModeMask) == kTriggerModeWidth;
    if (!triggerOnLocked() || triggerSourceLocked() != 0) {
        _pulseOpen = false;
        return false;
    }
    if (!widthMode)
        return activeEdge && acceptTriggerLocked(hostNs, true);

    if (activeEdge) {
        // The exposure starts now and lasts until the opposite edge; a
        // camera still busy with the previous image ignores the pulse.
        if (!producingLocked() || hostNs < _busyUntilNs) {
            ++_droppedTriggers;
            return false;
        }
        _pulseOpen = true;
        _pulseStartNs = hostNs;
        _busyUntilNs = kBusyUntilPulseEnds;
        return true;
    }
    if (!_pulseOpen)
        return false;
    _pulseOpen = false;
    _busyUntilNs = 0;
    acceptTriggerLocked(_pulseStartNs, true, hostNs - _pulseStartNs);
    return false;
}

void Camera::writeSoftwareTriggerLocked(uint32_t address, uint32_t value, int64_t now, After& after)
{
    const bool available = triggerInquiryLocked() & kTriggerInqSoftware;
    bool fires = false;
    if (address == kSoftwareTrigger) {
        // The vendor register fires a triggered camera whatever its source.
        fires = available && (value & kSoftwareTriggerFire);
    } else if (address == kSoftwareTriggerStandard) {
        fires = available && (value & kSoftwareTriggerStandardFire) &&
                triggerSourceLocked() == kTriggerSourceSoftware;
    }
    if (fires && acceptTriggerLocked(now, false) && _pacing == Pacing::unpaced)
        after.deliverTriggers = true;
}

uint32_t Camera::readSoftwareTriggerLocked(uint32_t address, int64_t now) const
{
    if (!(triggerInquiryLocked() & kTriggerInqSoftware))
        return 0;
    const bool busy = now < _busyUntilNs;
    if (address == kSoftwareTriggerStandard)
        return busy ? kSoftwareTriggerStandardFire : 0;
    return busy ? kSoftwareTriggerBusy : kSoftwareTriggerReady;
}

void Camera::receiveBroadcast(uint32_t address, uint32_t value, int64_t hostNs)
{
    After after;
    {
        std::lock_guard<std::mutex> lock(_m);
        if (!_bus)
            return;
        catchUpLocked(hostNowNs());
        // Nobody answers a broadcast: whatever the write leads to stays here.
        (void)writeLocked(address, value, hostNs, after);
    }
    finish(after);
}

} // namespace orvex::sim
