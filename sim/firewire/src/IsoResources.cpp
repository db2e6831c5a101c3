// Channels and bandwidth of one simulated bus, allocated and given back as
// the kernel's resource manager does.
#include "IsoResources.h"

#include <cerrno>

namespace orvex::sim::firewire {

IsoResources::Allocation IsoResources::allocate(uint64_t channels, uint32_t bandwidth)
{
    std::lock_guard<std::mutex> lock(_m);
    Allocation a{-ENOENT, bandwidth};
    if (channels != 0) {
        a.channel = -EBUSY;
        for (int c = 0; c < 64; ++c) {
            const uint64_t bit = uint64_t(1) << c;
            if ((channels & bit) && !(_channelsInUse & bit)) {
                a.channel = c;
                break;
            }
        }
        if (a.channel < 0) {
            a.bandwidth = 0; // no channel: the bandwidth is not even tried
            return a;
        }
    }
    if (bandwidth > _unitsLeft) {
        a.bandwidth = 0;
        if (channels != 0)
            a.channel = -EBUSY; // both or nothing
        return a;
    }
    _unitsLeft -= bandwidth;
    if (a.channel >= 0)
        _channelsInUse |= uint64_t(1) << a.channel;
    return a;
}

void IsoResources::release(int channel, uint32_t bandwidth)
{
    std::lock_guard<std::mutex> lock(_m);
    if (channel >= 0 && channel < 64)
        _channelsInUse &= ~(uint64_t(1) << channel);
    _unitsLeft += bandwidth;
}

} // namespace orvex::sim::firewire
