#include "IsoResources.h"

#include <cerrno>

namespace orvex::sim::firewire {

IsoResources::Allocation IsoResources::allocate(uint64_t channels, uint32_t bandwidth)
{
    std::lock_guard<std::mutex> lock(m_);
    Allocation a{-ENOENT, bandwidth};
    if (channels != 0) {
        a.channel = -EBUSY;
        for (int c = 0; c < 64; ++c) {
            const uint64_t bit = uint64_t(1) << c;
            if ((channels & bit) && !(channelsInUse_ & bit)) {
                a.channel = c;
                break;
            }
        }
        if (a.channel < 0) {
            a.bandwidth = 0; // no channel: the bandwidth is not even tried
            return a;
        }
    }
    if (bandwidth > unitsLeft_) {
        a.bandwidth = 0;
        if (channels != 0)
            a.channel = -EBUSY; // both or nothing
        return a;
    }
    unitsLeft_ -= bandwidth;
    if (a.channel >= 0)
        channelsInUse_ |= uint64_t(1) << a.channel;
    return a;
}

void IsoResources::release(int channel, uint32_t bandwidth)
{
    std::lock_guard<std::mutex> lock(m_);
    if (channel >= 0 && channel < 64)
        channelsInUse_ &= ~(uint64_t(1) << channel);
    unitsLeft_ += bandwidth;
}

} // namespace orvex::sim::firewire
