// The isochronous resource manager of one simulated bus: the 64 channels and
// the bandwidth allocation units (the time of one quadlet at S1600) that
// hosts allocate before they receive, as the IRM's CHANNELS_AVAILABLE and
// BANDWIDTH_AVAILABLE registers keep them.
//
// The pool is the bus's isochronous budget in units: IEEE 1394's 4915, or
// fewer when the world gives the bus less bandwidth. The cameras' own
// transmission keeps its separate account on the bus (Bus::reserveBandwidth):
// a host that allocates nothing still sees the camera refuse ISO_EN when the
// bus is full.
//
// Threads: any; one mutex.
#pragma once

#include <cstdint>
#include <mutex>

namespace orvex::sim::firewire {

// BANDWIDTH_AVAILABLE after a bus reset (IEEE 1394).
constexpr uint32_t kBandwidthUnitsInitial = 4915;

class IsoResources {
public:
    explicit IsoResources(uint32_t bandwidthUnits) : _unitsLeft(bandwidthUnits) {}

    struct Allocation {
        int channel;        // the channel taken, or a negative errno
        uint32_t bandwidth; // units taken; 0 when refused
    };
    // One channel of `channels` (bit c: channel c), the lowest free one, and
    // `bandwidth` units, both or nothing.
    Allocation allocate(uint64_t channels, uint32_t bandwidth);
    void release(int channel, uint32_t bandwidth);

private:
    std::mutex _m;
    uint64_t _channelsInUse = 0;
    uint32_t _unitsLeft;
};

} // namespace orvex::sim::firewire
