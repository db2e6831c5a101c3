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
constexpr uint32_t kFirstControl = featureControl(0);
constexpr uint32_t kPastLastControl = featureControl(kFeatureSlots);

// Whether a register between the two is a feature's control register.
bool isFeatureControl(uint32_t address)
{
    return (address - kFirstControl) % 4 == 0;
}
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
    return std::any_of(
        _regs.lower_bound(kFirstControl), _regs.lower_bound(kPastLastControl),
        [](const auto& r) { return isFeatureControl(r.first) && (r.second & kControlOnePush); });
}

bool Camera::onePushRunningLocked() const
{
    return std::any_of(_onePushDoneNs.begin(), _onePushDoneNs.end(),
                       [](int64_t doneNs) { return doneNs != 0; });
}

void Camera::trackOnePushLocked(int64_t now)
{
    // Runs for every image. With no one-push running and none asked for
    // since the registers last changed, there is nothing to walk.
    if (!onePushRunningLocked() && !_onePushAskedMemo.get(_regs, [this] { return onePushAskedLocked(); }))
        return;
    // One walk over the feature control registers the camera has, in
    // feature order, rather than a lookup per feature slot.
    std::array<bool, kFeatureSlots> present{};
    for (auto it = _regs.lower_bound(kFirstControl); it != _regs.end() && it->first < kPastLastControl;
         ++it) {
        if (!isFeatureControl(it->first))
            continue;
        const uint32_t feature = (it->first - kFirstControl) / 4;
        present[feature] = true;
        int64_t& doneNs = _onePushDoneNs[feature];
        if (!(it->second & kControlOnePush)) {
            doneNs = 0; // INITIALIZE or a host write ended it
            continue;
        }
        if (doneNs == 0) {
            // Set through the SDK's property calls rather than a register write.
            writeOnePushLocked(feature, it->second, now);
            continue;
        }
        if (now >= doneNs) {
            finishOnePushLocked(feature);
            _regs.set(it->first, it->second & ~kControlOnePush);
            doneNs = 0;
        }
    }
    for (uint32_t feature = 0; feature < kFeatureSlots; ++feature) {
        if (!present[feature])
            _onePushDoneNs[feature] = 0;
    }
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
