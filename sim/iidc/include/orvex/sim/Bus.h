// A simulated IEEE 1394 bus: its number, speed, cycle clock, the timing of
// register transactions over it and its isochronous bandwidth. The world
// keeps the list of cameras plugged into it.
#pragma once

#include <orvex/sim/CycleClock.h>

#include <cstdint>
#include <mutex>

namespace orvex::sim {

struct BusConfig {
    int number = -1;           // bus number; -1 takes the next free one
    uint32_t speed = 800;      // Mb/s: 400 or 800
    double clockSeconds = 0.0; // cycle clock reading (unwrapped seconds) when the bus is created
    double driftPpm = 0.0;     // rate error of the cycle clock against the host
    TransactionTiming timing;  // register transactions
    uint32_t isoBandwidth = 0; // isochronous bytes per 125 µs cycle; 0: 80 % of the speed's cycle
};

class Bus {
public:
    Bus(int number, const BusConfig& config);

    int number() const { return number_; }
    uint32_t speed() const { return speed_; }
    CycleClock& clock() { return clock_; }
    const CycleClock& clock() const { return clock_; }
    TransactionDelays& delays() { return delays_; }

    // Isochronous bandwidth, in bytes per cycle (one packet per camera per
    // cycle). Thread-safe.
    uint32_t isoBandwidth() const { return isoBandwidth_; }
    bool reserveBandwidth(uint32_t bytesPerPacket);
    void releaseBandwidth(uint32_t bytesPerPacket);
    uint32_t bandwidthInUse() const;

    // Largest isochronous packet payload at a speed (IEEE 1394).
    static uint32_t maxPacketBytes(uint32_t speedMbps);

private:
    const int number_;
    const uint32_t speed_;
    const uint32_t isoBandwidth_;
    CycleClock clock_;
    TransactionDelays delays_;
    mutable std::mutex m_;
    uint32_t inUse_ = 0;
};

} // namespace orvex::sim
