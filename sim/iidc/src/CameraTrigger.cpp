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
        std::lock_guard<std::mutex> lock(m_);
        catchUpLocked(hostNowNs());
        if (triggerSourceLocked() == 0)
            accepted = acceptTriggerLocked(hostNs, true);
        deliverNow = accepted && pacing_ == Pacing::unpaced;
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
        std::lock_guard<std::mutex> lock(m_);
        catchUpLocked(hostNowNs());
        taken = triggerEdgeLocked(high, hostNs);
        deliverNow = pacing_ == Pacing::unpaced && !triggers_.empty();
    }
    if (deliverNow)
        deliverTriggersUnpaced();
    wakeReceiver();
    return taken;
}

bool Camera::triggerInputLevelLocked(uint32_t triggerMode) const
{
    return triggerInputHigh_ ? *triggerInputHigh_ : !(triggerMode & kTriggerPolarity);
}

bool Camera::triggerEdgeLocked(bool high, int64_t hostNs)
{
    const bool was = triggerInputLevelLocked(reg(kTriggerMode));
    triggerInputHigh_ = high;
    if (high == was)
        return false; // no edge
    // TRIGGER_MODE reads the input's level (bit 20).
    const auto it = regs_.find(kTriggerMode);
    if (it != regs_.end())
        it->second = high ? (it->second | kTriggerValue) : (it->second & ~kTriggerValue);

    const uint32_t mode = reg(kTriggerMode);
    const bool highActive = mode & kTriggerPolarity;
    const bool activeEdge = high == highActive;
    const bool widthMode = ((mode >> kTriggerModeShift) & kTriggerModeMask) == kTriggerModeWidth;
    if (!triggerOnLocked() || triggerSourceLocked() != 0) {
        pulseOpen_ = false;
        return false;
    }
    if (!widthMode)
        return activeEdge && acceptTriggerLocked(hostNs, true);

    if (activeEdge) {
        // The exposure starts now and lasts until the opposite edge; a
        // camera still busy with the previous image ignores the pulse.
        if (!producingLocked() || hostNs < busyUntilNs_) {
            ++droppedTriggers_;
            return false;
        }
        pulseOpen_ = true;
        pulseStartNs_ = hostNs;
        busyUntilNs_ = kBusyUntilPulseEnds;
        return true;
    }
    if (!pulseOpen_)
        return false;
    pulseOpen_ = false;
    busyUntilNs_ = 0;
    acceptTriggerLocked(pulseStartNs_, true, hostNs - pulseStartNs_);
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
    if (fires && acceptTriggerLocked(now, false) && pacing_ == Pacing::unpaced)
        after.deliverTriggers = true;
}

uint32_t Camera::readSoftwareTriggerLocked(uint32_t address, int64_t now) const
{
    if (!(triggerInquiryLocked() & kTriggerInqSoftware))
        return 0;
    const bool busy = now < busyUntilNs_;
    if (address == kSoftwareTriggerStandard)
        return busy ? kSoftwareTriggerStandardFire : 0;
    return busy ? kSoftwareTriggerBusy : kSoftwareTriggerReady;
}

void Camera::receiveBroadcast(uint32_t address, uint32_t value, int64_t hostNs)
{
    After after;
    {
        std::lock_guard<std::mutex> lock(m_);
        if (!bus_)
            return;
        catchUpLocked(hostNowNs());
        // Nobody answers a broadcast: whatever the write leads to stays here.
        (void)writeLocked(address, value, hostNs, after);
    }
    finish(after);
}

} // namespace orvex::sim
