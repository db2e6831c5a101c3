// Host time and the 1394 bus cycle clocks of the simulated world.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <utility>

namespace orvex::sim {

// Host monotonic time in nanoseconds (steady clock). Every simulated instant
// (frame exposure, register read, trigger) is a host instant; bus clocks are
// functions of it. Any thread.
int64_t hostNowNs();

// Waits `ns` nanoseconds: sleeps for long waits, spins for short ones so that
// microsecond latencies are kept. Any thread, no lock.
void waitNs(int64_t ns);

// Where host time comes from instead of the steady clock: a test's clock,
// moved by hand, so that minutes of simulated time pass in milliseconds.
// `waitNs` lets `ns` pass for the calling thread (on a manual clock it moves
// the clock itself: the simulated wait takes its time at once).
struct HostClock {
    int64_t (*nowNs)();
    void (*waitNs)(int64_t ns);
};
// Puts `clock` in place of the steady clock (nullptr: the steady clock
// again). The world reads it from every thread: install it before the world
// runs, remove it once the world stands still. `clock` must outlive its use.
void setHostClock(const HostClock* clock);
// Whether host time is the steady clock (CLOCK_MONOTONIC where there is
// one), so that a host instant may serve as that clock's deadline as it is.
bool hostClockIsSteady();

// One bus's 24.576 MHz cycle timer: its own offset and rate (drift in parts
// per million against the host clock). Unwrapped tick counts are 64-bit; the
// register value wraps every 128 s. Real bus clocks also wander (the rate
// takes a slow random walk: oscillators follow temperature) and jump at a
// bus reset when another node becomes cycle master; both can be switched on.
// Thread-safe: every member locks the clock's own mutex (never held while
// calling out).
class CycleClock {
public:
    CycleClock();

    // Unwrapped ticks at a host instant (may be negative before the anchor).
    int64_t ticksAt(int64_t hostNs) const;
    // The CYCLE_TIME quadlet at a host instant.
    uint32_t cycleTimeAt(int64_t hostNs) const;
    int64_t ticksNow() const { return ticksAt(hostNowNs()); }
    uint32_t cycleTimeNow() const { return cycleTimeAt(hostNowNs()); }
    // The inverse of ticksAt: the first host instant at which the clock reads
    // `ticks`. Exact up to now; a later instant is foretold at the rate the
    // clock has now (the wander may still move it a little).
    int64_t hostNsAt(int64_t ticks) const;

    // What a node on the bus counts with its own cycles: the clock less its
    // jumps (step, bus reset, setTicksNow), each taken to the nearest whole
    // cycle. It runs on through a jump, within half a cycle, and keeps the
    // bus clock's cycle boundaries: own ticks and bus ticks differ by whole
    // cycles. Read at once, so that a jump cannot fall between the two.
    int64_t ownTicksAt(int64_t hostNs) const;
    // The first host instant at which the own count reads `ownTicks`; as
    // hostNsAt for instants after now.
    int64_t hostNsAtOwn(int64_t ownTicks) const;
    // The same, with the wander taken up to `nowNs` (the caller's own reading
    // of the host clock), and with the bus clock's reading at the instant
    // found in `busTicks` if given: one lock where a stream needs both.
    int64_t hostNsAtOwn(int64_t ownTicks, int64_t nowNs, int64_t* busTicks) const;

    // Sets the clock so that it reads `ticks` (unwrapped) now.
    void setTicksNow(int64_t ticks);
    // Changes the rate from now on, keeping the clock continuous; the
    // wander, if any, goes on around the new rate.
    void setDriftPpm(double ppm);
    // The rate now: the set drift plus the wander so far.
    double driftPpm() const;

    // Lets the rate wander from now on: every second of host time it moves
    // by a normal step, so that after t minutes it has moved by
    // `ppmPerSqrtMinute` * sqrt(t) (one standard deviation). The walk is
    // drawn from `seed`: the same seed gives the same walk. 0 stops it.
    void setWander(double ppmPerSqrtMinute, uint32_t seed);
    // Slow, temperature-like changes: from now on the rate swings around its
    // set drift by up to `amplitudePpm`, a sine of period `periodSeconds`
    // starting at zero, moved once per second of host time (with the
    // wander, if any). An amplitude of 0 stops it.
    void setTemperatureSwing(double amplitudePpm, double periodSeconds);
    // Jumps the clock by `ticks` (either sign) now.
    void step(int64_t ticks);
    // Jumps the clock by `ticks` at the host instant `atHostNs`, as a bus
    // reset that hands the cycle master role to another node would; a step
    // whose instant has passed is made at once. Several may wait.
    void scheduleStep(int64_t atHostNs, int64_t ticks);
    // The jump a bus reset makes (0, the default: none), and the reset.
    void setStepOnReset(int64_t ticks);
    void busReset();

    // The host time between two moves of a wandering rate.
    static constexpr int64_t kWanderStepNs = 1'000'000'000;

private:
    // From `hostNs` on, the clock reads `ticks` plus the elapsed host time
    // at `ticksPerNs`.
    struct Anchor {
        int64_t hostNs;
        double ticks;
        double ticksPerNs;
        double ppm;
    };
    static double ticksAt(const Anchor& a, int64_t hostNs);
    // Under the lock: the anchor that holds at `hostNs`, after adding the
    // wander's anchors up to it.
    const Anchor& anchorAtLocked(int64_t hostNs) const;
    // Under the lock: the anchors of the wander, the temperature swing and
    // the scheduled steps up to `hostNs`.
    void extendWanderLocked(int64_t hostNs) const;
    // Under the lock: a scheduled step of `ticks` made at `hostNs`, and the
    // jumps made by an instant (the own count of ownTicksAt).
    void recordJumpLocked(int64_t hostNs, int64_t ticks) const;
    int64_t jumpedAtLocked(int64_t hostNs) const;
    // Under the lock: the rate's swing at `hostNs`.
    double swingPpmAtLocked(int64_t hostNs) const;
    // Under the lock, adding no anchor: the latest one at or before
    // `hostNs` (else the oldest, extrapolated back), and the reading there.
    const Anchor& keptAnchorAtLocked(int64_t hostNs) const;
    int64_t keptTicksAtLocked(int64_t hostNs) const;
    // Under the lock: the inverse of keptTicksAtLocked.
    int64_t hostNsAtLocked(int64_t ticks) const;
    // Under the lock: the clock jumps by `ticks` now.
    void jumpLocked(int64_t ticks);
    // Under the lock: one anchor at `hostNs` with the given rate.
    void restartLocked(int64_t hostNs, double ticks, double ppm);

    mutable std::mutex _m;
    // Oldest first; a few recent ones, so that instants slightly in the past
    // (an exposure start, another thread's read) are still exact.
    mutable std::deque<Anchor> _anchors;
    double _basePpm = 0.0;
    double _wanderStepPpm = 0.0; // standard deviation of one move
    mutable double _wanderPpm = 0.0;
    mutable std::mt19937 _wanderRng;
    double _swingAmplitudePpm = 0.0;
    double _swingPeriodNs = 1.0;
    int64_t _swingStartNs = 0;
    int64_t _stepOnReset = 0;
    // Steps to come, by host instant.
    mutable std::multimap<int64_t, int64_t> _scheduledSteps;
    // The jumps so far, each to the nearest whole cycle (see ownTicksAt).
    mutable int64_t _jumpedCycleTicks = 0;
    // The latest scheduled steps made: (host instant, whole-cycle jump).
    mutable std::deque<std::pair<int64_t, int64_t>> _scheduledJumps;
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
    mutable std::mutex _m;
    TransactionTiming _timing;
    std::mt19937 _rng;
};

} // namespace orvex::sim
