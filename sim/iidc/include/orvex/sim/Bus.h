// A simulated IEEE 1394 bus: its number, speed, cycle clock, the timing of
// register transactions over it, its isochronous bandwidth and channels. The
// world keeps the list of cameras plugged into it.
#pragma once

#include <orvex/sim/CycleClock.h>
#include <orvex/sim/Frame.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

namespace orvex::sim {

struct BusConfig {
    int number = -1;           // bus number; -1 takes the next free one
    uint32_t speed = 800;      // Mb/s: 400 or 800
    double clockSeconds = 0.0; // cycle clock reading (unwrapped seconds) when the bus is created
    double driftPpm = 0.0;     // rate error of the cycle clock against the host
    // How the clock misbehaves (CycleClock): a rate that wanders as a
    // random walk, a slow temperature-like swing, a jump at every bus reset,
    // and jumps at given times after the bus is created.
    double wanderPpmPerSqrtMinute = 0.0;
    uint32_t wanderSeed = 1;
    double temperatureSwingPpm = 0.0;
    double temperaturePeriodSeconds = 0.0;
    int64_t stepOnResetTicks = 0;
    struct ScheduledStep {
        double atSeconds = 0.0; // after the bus is created
        int64_t ticks = 0;
    };
    std::vector<ScheduledStep> steps;
    TransactionTiming timing;  // register transactions
    uint32_t isoBandwidth = 0; // isochronous bytes per 125 µs cycle; 0: IEEE 1394's at the speed
};

class Bus {
public:
    Bus(int number, const BusConfig& config);

    int number() const { return _number; }
    uint32_t speed() const { return _speed; }
    CycleClock& clock() { return _clock; }
    const CycleClock& clock() const { return _clock; }
    TransactionDelays& delays() { return _delays; }

    // Isochronous bandwidth, in bytes per cycle (one packet per camera per
    // cycle). Thread-safe.
    uint32_t isoBandwidth() const { return _isoBandwidth; }
    bool reserveBandwidth(uint32_t bytesPerPacket);
    void releaseBandwidth(uint32_t bytesPerPacket);
    uint32_t bandwidthInUse() const;

    // Largest isochronous packet payload at a speed (IEEE 1394).
    static uint32_t maxPacketBytes(uint32_t speedMbps);
    // IEEE 1394's isochronous budget per cycle at a speed: 4915 bytes at
    // S400, 9830 at S800 (the bus manager's allocation).
    static uint32_t isoBudgetBytes(uint32_t speedMbps);

    // Isochronous channels 0 to 63. A host listening on a channel receives
    // the images a camera sends there when its registers start transmission
    // (ISO_EN, one-shot, multi-shot); one receiver per channel, a new one
    // replaces the old. The receiver is called on the camera's stream
    // thread, with no lock of the bus or the camera held. Thread-safe.
    static constexpr uint32_t kIsoChannels = 64;
    // Channel allocation, as the bus's isochronous resource manager keeps
    // it: the lowest free channel below `limit` (a camera that can only be
    // told channels 0 to 15 asks below 16), none when all are taken.
    std::optional<uint32_t> allocateChannel(uint32_t limit = kIsoChannels);
    void releaseChannel(uint32_t channel);
    bool isChannelAllocated(uint32_t channel) const;
    void listen(uint32_t channel, std::shared_ptr<FrameSink> receiver);
    void stopListening(uint32_t channel);
    // Hands an image sent on `channel` to its receiver; nobody listening:
    // the packets go by unheard.
    void transmit(uint32_t channel, const Frame& frame);

private:
    const int _number;
    const uint32_t _speed;
    const uint32_t _isoBandwidth;
    CycleClock _clock;
    TransactionDelays _delays;
    mutable std::mutex _m;
    uint32_t _inUse = 0;
    std::set<uint32_t> _channels; // allocated
    std::map<uint32_t, std::shared_ptr<FrameSink>> _receivers;
};

} // namespace orvex::sim
