// Field mode's estimate of one slave's offset and drift against the master:
// follows a wandering drift, and tells a step of the slave's clock from a
// bad measurement. One per slave, on the controller's thread: no lock.
#pragma once

#include <array>
#include <cstdint>
#include <utility>

namespace orvex::sync {

class FieldTracker {
public:
    enum class Verdict {
        accepted, // the offset went into the estimate
        held,     // far off the estimate: kept aside until the next offset tells step from glitch
        step,     // this offset and the one held agree on a jump: the estimate restarted from them
    };

    // One measured offset (master minus slave, 0 .. wrap period) at a master
    // date (0 .. wrap period, not decreasing but for wraps).
    Verdict add(double masterDate, uint32_t offset);
    // Forgets everything (a history emptied by the controller).
    void reset();

    // Offsets taken in since the last reset or step.
    unsigned count() const { return _count; }
    // (drift, offset) encoded as computeDriftAndOffset does: drift in ticks
    // per second as 24-bit two's complement, offset at the master instant
    // ticksIntoSlaveSecond before the last accepted offset's date, reduced
    // to the wrap period. Needs count() >= 1.
    std::pair<unsigned long, unsigned long> driftAndOffset(double ticksIntoSlaveSecond) const;

    // The filter of the bank that predicts best now (tests and diagnostics).
    double chosenWanderPpmPerSqrtMinute() const;

private:
    // A Kalman filter on (offset in ticks, drift in ticks per second) for a
    // drift that takes a random walk of a given strength. Measurement noise
    // is the unit: only the ratio of the two noises shapes the estimate.
    struct Filter {
        double processNoise = 0.0; // drift variance per second, in measurement variances
        double offset = 0.0;       // reduced to the wrap period
        double drift = 0.0;
        double p00 = 0.0, p01 = 0.0, p11 = 0.0;
        double score = 0.0; // running mean of squared prediction errors, ticks^2

        void start(double measuredOffset, double keptDrift, double driftVariance);
        // The offset this filter expects `dtSeconds` after its last one
        // minus the one measured (wrap-aware).
        double predictionError(double dtSeconds, double measuredOffset) const;
        void update(double dtSeconds, double measuredOffset, double scoreWeight);
    };
    static constexpr std::size_t kFilters = 6;

    const Filter& chosen() const;
    void startFilters(double measuredOffset, bool keepDrift);
    void accept(double masterDate, double measuredOffset, double dtSeconds);

    std::array<Filter, kFilters> _filters{};
    bool _bInitialised = false;
    unsigned _count = 0;
    double _lastDate = 0.0;
    bool _bHolding = false;
    double _heldDate = 0.0;
    double _heldOffset = 0.0;
    double _heldError = 0.0;
};

} // namespace orvex::sync
