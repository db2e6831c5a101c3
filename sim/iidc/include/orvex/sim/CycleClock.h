// Host time and the 1394 bus cycle clocks of the simulated world.
#pragma once

#include <cstdint>
#include <mutex>
#include <random>

namespace orvex::sim {

// Host monotonic time in nanoseconds (steady clock). Every simulated instant
// (frame exposure, register read, trigger) is a host instant; bus clocks are
// functions of it. Any thread.
int64_t hostNowNs();

// Waits `ns` nanoseconds: sleeps for long waits, spins for short ones so that
// microsecond latencies are kept. Any thread, no lock.
void waitNs(int64_t ns);

// One bus's 24.576 MHz cycle timer: its own offset and rate (drift in parts
// per million against the host clock). Unwrapped tick counts are 64-bit; the
// register value wraps every 128 s. Thread-safe: every member locks the
// clock's own mutex (never held while calling out).
class CycleClock {
public:
    CycleClock();

    // Unwrapped ticks at a host instant (may be negative before the anchor).
    int64_t ticksAt(int64_t hostNs) const;
    // The CYCLE_TIME quadlet at a host instant.
    uint32_t cycleTimeAt(int64_t hostNs) const;
    int64_t ticksNow() const { return ticksAt(hostNowNs()); }
    uint32_t cycleTimeNow() const { return cycleTimeAt(hostNowNs()); }

    // Sets the clock so that it reads `ticks` (unwrapped) now.
    void setTicksNow(int64_t ticks);
    // Changes the rate from now on, keeping the clock continuous.
    void setDriftPpm(double ppm);
    double driftPpm() const;

private:
    struct Anchor {
        int64_t hostNs;
        double ticks;
        double ticksPerNs;
        double ppm;
    };
    Anchor anchor() const;
    static double ticksAt(const Anchor& a, int64_t hostNs);

    mutable std::mutex m_;
    Anchor anchor_;
};

// Timing of one asynchronous register transaction on a bus: the request
// reaches the camera after half the latency plus up to `jitterNs`, the answer
// comes back after the other half plus up to `jitterNs`. With probability
// `spikeProbability` one half takes `spikeNs` more (a transaction stuck
// behind bus traffic).
struct TransactionTiming {
    int64_t latencyNs = 0;
    int64_t jitterNs = 0;
    double spikeProbability = 0.0;
    int64_t spikeNs = 0;
};

// Draws the two halves of a transaction. Thread-safe (own mutex).
class TransactionDelays {
public:
    explicit TransactionDelays(uint32_t seed = 1394);
    void setTiming(const TransactionTiming& timing);
    TransactionTiming timing() const;
    // {request half, response half} in nanoseconds.
    std::pair<int64_t, int64_t> draw();

private:
    mutable std::mutex m_;
    TransactionTiming timing_;
    std::mt19937 rng_;
};

} // namespace orvex::sim
