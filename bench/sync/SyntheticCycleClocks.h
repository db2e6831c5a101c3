// Synthetic 1394 cycle clocks and a reader that samples them the way the
// synchronisation controller does, for the accuracy bench of the drift and
// offset estimation: minutes of clock time in milliseconds of computing,
// which the simulator's real-time clocks cannot give.
//
// Time is a double in seconds of an ideal reference clock. Each cycle clock
// runs at 24.576 MHz * (1 + ppm / 1e6) from a chosen phase and is read
// through its register (seconds, cycle count, cycle offset), wrapping every
// 128 s. Single-threaded helpers.
#pragma once

#include <orvex/DriftEstimation.h>

#include "sync/CycleTime.h"

#include <cmath>
#include <cstdint>
#include <optional>
#include <random>
#include <utility>
#include <vector>

namespace orvex::test {

constexpr double kNominalTicksPerSecond = nb_ticks_in_1_second;
constexpr double kWrapTicks = nb_ticks_in_2_minutes_as_double;

class CycleClock {
public:
    // ticksAtZero: the unwrapped tick count at time 0.
    CycleClock(double ppm, double ticksAtZero)
        : _ticksPerSecond(kNominalTicksPerSecond * (1.0 + ppm * 1e-6)), _ticksAtZero(ticksAtZero)
    {
    }

    double ticksPerSecond() const { return _ticksPerSecond; }
    double unwrappedTicksAt(double seconds) const { return _ticksAtZero + seconds * _ticksPerSecond; }
    double secondsAtUnwrappedTicks(double ticks) const { return (ticks - _ticksAtZero) / _ticksPerSecond; }

    // The register as a camera returns it, built field by field.
    uint32_t registerAt(double seconds) const
    {
        const double wrapped = std::fmod(std::floor(unwrappedTicksAt(seconds)), kWrapTicks);
        return ticksToCycleTime(static_cast<uint32_t>(wrapped < 0 ? wrapped + kWrapTicks : wrapped));
    }

    // The time, nearest to nearSeconds, at which the clock's wrapped count
    // reads ticks (0 .. wrap period).
    double secondsWhenReading(double ticks, double nearSeconds) const
    {
        const double periods = std::round((unwrappedTicksAt(nearSeconds) - ticks) / kWrapTicks);
        return secondsAtUnwrappedTicks(periods * kWrapTicks + ticks);
    }

private:
    double _ticksPerSecond;
    double _ticksAtZero;
};

// How long one asynchronous register read takes, in microseconds. The value
// is latched somewhere in the middle of the read; a stalled read waits
// either before the value is latched (its request is queued) or after (its
// response is), and delays every read after it.
struct ReadTiming {
    double masterReadUs = 25.0;
    double slaveReadUs = 25.0;
    double jitterUs = 3.0;             // each read lasts its mean plus or minus up to this
    double slowReadProbability = 0.02; // a read stalled by other bus traffic
    double slowReadExtraUs = 400.0;    // a stalled read lasts up to this much longer
    int forcedSlowRead = -1;           // index (0..40) of a read stalled by exactly slowReadExtraUs
    bool forcedStallBeforeLatch = true;
};

// The 41 readings of one measurement: m0, s0, m1, ..., s19, m20, back to back.
struct Readings {
    std::vector<uint32_t> master;
    std::vector<uint32_t> slave;
    double endSeconds = 0.0;
};

class AlternateReader {
public:
    AlternateReader(const CycleClock& master, const CycleClock& slave, ReadTiming timing, uint64_t seed)
        : _master(master), _slave(slave), _timing(timing), _rng(seed)
    {
    }

    Readings read(double startSeconds, int nbSlaveReadings = 20)
    {
        Readings r;
        double now = startSeconds;
        int index = 0;
        for (int i = 0; i < nbSlaveReadings; ++i) {
            r.master.push_back(readOne(_master, _timing.masterReadUs, index++, now));
            r.slave.push_back(readOne(_slave, _timing.slaveReadUs, index++, now));
        }
        r.master.push_back(readOne(_master, _timing.masterReadUs, index, now));
        r.endSeconds = now;
        return r;
    }

private:
    uint32_t readOne(const CycleClock& clock, double meanUs, int index, double& now)
    {
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        double durationUs = meanUs + _timing.jitterUs * (2.0 * unit(_rng) - 1.0);
        double latchUs = durationUs * (0.4 + 0.2 * unit(_rng));
        double stallUs = 0.0;
        bool bStallBeforeLatch = unit(_rng) < 0.5;
        if (unit(_rng) < _timing.slowReadProbability)
            stallUs = _timing.slowReadExtraUs * unit(_rng);
        if (index == _timing.forcedSlowRead) {
            stallUs = _timing.slowReadExtraUs;
            bStallBeforeLatch = _timing.forcedStallBeforeLatch;
        }
        durationUs += stallUs;
        if (bStallBeforeLatch)
            latchUs += stallUs;
        const uint32_t value = clock.registerAt(now + latchUs * 1e-6);
        now += durationUs * 1e-6;
        return value;
    }

    const CycleClock& _master;
    const CycleClock& _slave;
    ReadTiming _timing;
    std::mt19937_64 _rng;
};

// What one slave correction produced.
struct Correction {
    double masterDate = 0.0; // unrounded, as pushed
    uint32_t roundedSlaveDate = 0;
    double ticksIntoSlaveSecond = 0.0;
    std::optional<std::pair<unsigned long, unsigned long>> driftAndOffset; // once the history is long enough
};

// The slave update of the controller, step by step: 21 master and 20 slave
// readings converted to ticks, 16 pairs rejected, both dates rounded, the
// offset pushed into a history of at most 100, and a fit once it holds 50.
class ControllerImitation {
public:
    static constexpr unsigned int kNbSamplesToReject = 16;
    static constexpr std::size_t kMinNbOffsets = 50;
    static constexpr unsigned int kMaxNbOffsets = 100;

    Correction correct(const Readings& readings)
    {
        std::vector<double> masterSamples, slaveSamples;
        for (uint32_t quadlet : readings.master)
            masterSamples.push_back(static_cast<double>(cycleTimeToTicks(quadlet)));
        for (uint32_t quadlet : readings.slave)
            slaveSamples.push_back(static_cast<double>(cycleTimeToTicks(quadlet)));

        Correction c;
        double slaveDate = 0.0;
        computeMasterAndSlaveDates(masterSamples, slaveSamples, kNbSamplesToReject, c.masterDate, slaveDate);
        const uint32_t m = static_cast<uint32_t>(std::trunc(c.masterDate + 0.5));
        c.roundedSlaveDate = static_cast<uint32_t>(std::trunc(slaveDate + 0.5));
        const unsigned long offset = computeOffset(m, c.roundedSlaveDate);
        pushOffsetInOffsetsByMasterDateColl(c.masterDate, offset, _history, kMaxNbOffsets);
        if (_history.size() < kMinNbOffsets)
            return c;

        const uint32_t second = c.roundedSlaveDate / nb_ticks_in_1_second;
        c.ticksIntoSlaveSecond = static_cast<double>(c.roundedSlaveDate - second * nb_ticks_in_1_second);
        c.driftAndOffset = computeDriftAndOffset(_history, c.ticksIntoSlaveSecond);
        return c;
    }

    const offsetsByMasterDate& history() const { return _history; }

private:
    offsetsByMasterDate _history;
};

// The 24-bit two's complement drift back as a signed number.
inline long decodedDrift(unsigned long drift)
{
    return drift >= 0x800000ul ? static_cast<long>(drift) - 0x1000000l : static_cast<long>(drift);
}

// a - b on the circle of the wrap period, in (-period/2, period/2].
inline double wrappedDifference(double a, double b)
{
    double d = std::fmod(a - b, kWrapTicks);
    if (d > kWrapTicks / 2)
        d -= kWrapTicks;
    else if (d <= -kWrapTicks / 2)
        d += kWrapTicks;
    return d;
}

// Ticks of offset change per second of master time.
inline double trueDrift(const CycleClock& master, const CycleClock& slave)
{
    return (master.ticksPerSecond() - slave.ticksPerSecond()) / master.ticksPerSecond() *
           kNominalTicksPerSecond;
}

// Master minus slave, modulo the wrap period, at the instant the master
// clock reads masterTicks (nearest to nearSeconds).
inline double trueOffsetAtMasterReading(const CycleClock& master, const CycleClock& slave, double masterTicks,
                                        double nearSeconds)
{
    const double t = master.secondsWhenReading(std::fmod(masterTicks, kWrapTicks), nearSeconds);
    const double offset = std::fmod(master.unwrappedTicksAt(t) - slave.unwrappedTicksAt(t), kWrapTicks);
    return offset < 0 ? offset + kWrapTicks : offset;
}

// Where the fitted reference offset is evaluated: ticksIntoSlaveSecond
// master ticks before the newest master date.
inline double referenceMasterTicks(const offsetsByMasterDate& history, double ticksIntoSlaveSecond)
{
    const double ticks = std::fmod(history.back().first - ticksIntoSlaveSecond, kWrapTicks);
    return ticks < 0 ? ticks + kWrapTicks : ticks;
}

// Error of the fitted offset against the true offset at that instant.
inline double referenceOffsetError(const CycleClock& master, const CycleClock& slave,
                                   const offsetsByMasterDate& history, const Correction& c, double nowSeconds)
{
    const double masterTicks = referenceMasterTicks(history, c.ticksIntoSlaveSecond);
    const double truth = trueOffsetAtMasterReading(master, slave, masterTicks, nowSeconds);
    return wrappedDifference(static_cast<double>(c.driftAndOffset->second), truth);
}

// The controller's tick times: 100 ms apart until the slave is corrected
// (history of 50), then 1 s apart.
inline std::vector<double> controllerTickTimes(double startSeconds, int nbTicks)
{
    std::vector<double> times;
    double t = startSeconds;
    for (int i = 0; i < nbTicks; ++i) {
        times.push_back(t);
        t += i + 1 < static_cast<int>(ControllerImitation::kMinNbOffsets) ? 0.1 : 1.0;
    }
    return times;
}

} // namespace orvex::test
