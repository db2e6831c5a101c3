// One-push adjustments: bit 26 of a feature's control register starts one
// automatic adjustment, reads 1 while it runs and clears when it is done.
// The adjustment takes a few frame periods, as a camera measuring its own
// images does; the feature is then left at what the automatic control
// would choose (auto exposure adjusts gain and shutter once).
#include <orvex/sim/Camera.h>

#include <orvex/iidc/Registers.h>

#include <algorithm>
#include <array>
#include <cmath>

namespace orvex::sim {

using namespace orvex::iidc;

namespace {
constexpr double kOnePushFrames = 3.0;
constexpr uint32_t kFeatureSlots = 16;
} // namespace

void Camera::writeOnePushLocked(uint32_t feature, uint32_t value, int64_t now)
{
    const auto it = _regs.find(featureControl(feature));
    if (feature >= kFeatureSlots || it == _regs.end())
        return;
    int64_t& doneNs = _onePushDoneNs[feature];
    // A camera ignores one-push in automatic mode; it cannot be cancelled
    // by writing 0, only by switching automatic mode on.
    const bool capable = effectiveFeatureInquiryLocked(feature) & kInquiryOnePush;
    if (it->second & kControlAuto)
        doneNs = 0;
    else if (doneNs == 0 && capable && (value & kControlOnePush))
        doneNs = now + std::max<int64_t>(1, static_cast<int64_t>(kOnePushFrames * periodLocked() * 1e9));
    if (doneNs != 0)
        _regs.set(it->first, it->second | kControlOnePush);
    else
        _regs.set(it->first, it->second & ~kControlOnePush);
}

bool Camera::onePushAskedLocked() const
{
    const uint32_t first = featureControl(0);
    for (auto it = _regs.lower_bound(first); it != _regs.end() && it->first < featureControl(kFeatureSlots);
         ++it) {
        if ((it->first - first) % 4 == 0 && (it->second & kControlOnePush))
            return true;
    }
    return false;
}

void Camera::trackOnePushLocked(int64_t now)
{
    // Runs for every image. With no one-push running and none asked for
    // since the registers last changed, there is nothing to walk.
    if (_onePushIdle && !_onePushAskedMemo.get(_regs, [this] { return onePushAskedLocked(); }))
        return;
    // One walk over the feature control registers the camera has, in
    // feature order, rather than a lookup per feature slot.
    std::array<bool, kFeatureSlots> present{};
    bool running = false;
    const uint32_t first = featureControl(0);
    for (auto it = _regs.lower_bound(first); it != _regs.end() && it->first < featureControl(kFeatureSlots);
         ++it) {
        if ((it->first - first) % 4 != 0)
            continue;
        const uint32_t feature = (it->first - first) / 4;
        present[feature] = true;
        int64_t& doneNs = _onePushDoneNs[feature];
        if (!(it->second & kControlOnePush)) {
            doneNs = 0; // INITIALIZE or a host write ended it
            continue;
        }
        if (doneNs == 0) {
            // Set through the SDK's property calls rather than a register write.
            writeOnePushLocked(feature, it->second, now);
            running = running || _onePushDoneNs[feature] != 0;
            continue;
        }
        if (now >= doneNs) {
            finishOnePushLocked(feature);
            _regs.set(it->first, it->second & ~kControlOnePush);
            doneNs = 0;
            continue;
        }
        running = true;
    }
    for (uint32_t feature = 0; feature < kFeatureSlots; ++feature) {
        if (!present[feature])
            _onePushDoneNs[feature] = 0;
    }
    // Every one-push ended: each slot is 0 now, as a walk would leave it.
    _onePushIdle = !running;
}

void Camera::finishOnePushLocked(uint32_t feature)
{
    auto settle = [&](uint32_t f) {
        const PropertyCaps* p = caps(f);
        const auto it = _regs.find(featureControl(f));
        if (!p || !p->present || it == _regs.end())
            return;
        const int64_t raw =
            std::clamp<int64_t>(rawOfLocked(f, autoTargetLocked(f)), p->rawMin, rawMaxLocked(f));
        _regs.set(it->first, (it->second & ~kControlValueMask) | static_cast<uint32_t>(raw));
    };
    if (feature == kFeatureAutoExposure) {
        settle(kFeatureGain);
        settle(kFeatureShutter);
    } else if (feature == kFeatureGain || feature == kFeatureShutter) {
        settle(feature);
    }
    // Other features have nothing to measure: the adjustment ends unchanged.
}

} // namespace orvex::sim
