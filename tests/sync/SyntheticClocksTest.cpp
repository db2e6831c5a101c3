// End to end over synthetic cycle clocks: a master and a slave 1394 clock
// with a known offset and drift, read alternately with jitter and occasional
// stalled reads, fed through the estimation exactly as the controller does.
#include "sync/SyntheticCycleClocks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

using namespace orvex::test;

namespace {

constexpr double kTicksPerNs = 0.024576;

struct Scenario {
    const char* name;
    double masterPpm;
    double slavePpm;
    double masterWrapsAtSeconds; // the master's count reaches the wrap period then
    double initialOffsetSeconds; // master minus slave at time 0, may be negative
    ReadTiming timing;
};

struct Clocks {
    CycleClock master;
    CycleClock slave;
};

Clocks clocksOf(const Scenario& s)
{
    const CycleClock master(s.masterPpm, kWrapTicks - s.masterWrapsAtSeconds * kNominalTicksPerSecond *
                                                          (1.0 + s.masterPpm * 1e-6));
    const double slaveAtZero = master.unwrappedTicksAt(0.0) - s.initialOffsetSeconds * kNominalTicksPerSecond;
    return {master, CycleClock(s.slavePpm, slaveAtZero)};
}

// The first time after 0 at which the clock's register wraps to zero.
double firstWrapSeconds(const CycleClock& clock)
{
    const double atZero = clock.unwrappedTicksAt(0.0);
    const double next = (std::floor(atZero / kWrapTicks) + 1.0) * kWrapTicks;
    return clock.secondsAtUnwrappedTicks(next);
}

// Consecutive history elements: dates strictly increasing by at most a
// tick period plus a measurement, offsets moving by no more than the drift
// allows. A missed wrap shows up as a jump of a whole period in either.
void expectContinuous(const offsetsByMasterDate& history)
{
    ASSERT_FALSE(history.empty());
    EXPECT_LT(history.front().first, kWrapTicks);
    EXPECT_TRUE(std::any_of(history.begin(), history.end(),
                            [](const auto& e) { return e.second < static_cast<unsigned long>(kWrapTicks); }));
    for (auto prev = history.begin(), it = std::next(prev); it != history.end(); prev = it++) {
        const double dateStep = it->first - prev->first;
        EXPECT_GT(dateStep, 0.0);
        EXPECT_LT(dateStep, 1.1 * kNominalTicksPerSecond);
        const double offsetStep = static_cast<double>(it->second) - static_cast<double>(prev->second);
        EXPECT_LT(std::fabs(offsetStep), 10000.0) << "offset jump " << prev->second << " -> " << it->second;
    }
}

struct RunErrors {
    std::vector<double> driftErrors;  // ticks per second, one per fit
    std::vector<double> offsetErrors; // ticks, one per fit
};

RunErrors run(const Clocks& clocks, const ReadTiming& timing, int nbMeasurements, uint64_t seed)
{
    AlternateReader reader(clocks.master, clocks.slave, timing, seed);
    ControllerImitation controller;
    RunErrors errors;
    const double drift = trueDrift(clocks.master, clocks.slave);
    for (double t : controllerTickTimes(0.0, nbMeasurements)) {
        const Readings readings = reader.read(t);
        const Correction c = controller.correct(readings);
        expectContinuous(controller.history());
        EXPECT_LE(controller.history().size(), 100u);
        if (!c.driftAndOffset)
            continue;
        errors.driftErrors.push_back(static_cast<double>(decodedDrift(c.driftAndOffset->first)) - drift);
        errors.offsetErrors.push_back(
            referenceOffsetError(clocks.master, clocks.slave, controller.history(), c, readings.endSeconds));
    }
    return errors;
}

double largestMagnitude(const std::vector<double>& values)
{
    double largest = 0.0;
    for (double v : values)
        largest = std::max(largest, std::fabs(v));
    return largest;
}

class SyntheticClocks : public ::testing::TestWithParam<Scenario> {};

} // namespace

// 100 measurements: 50 at the fast tick (100 ms), the first fit at the 50th,
// then 50 at the slow tick (1 s); both clocks wrap during the run.
TEST_P(SyntheticClocks, DriftAndOffsetFollowTheTruthAcrossWraps)
{
    const Scenario& s = GetParam();
    const Clocks clocks = clocksOf(s);
    const std::vector<double> ticks = controllerTickTimes(0.0, 100);
    ASSERT_LT(firstWrapSeconds(clocks.master), ticks.back());
    ASSERT_LT(firstWrapSeconds(clocks.slave), ticks.back());

    const RunErrors errors = run(clocks, s.timing, 100, 2024);
    ASSERT_EQ(errors.driftErrors.size(), 51u);
    // Rounded to whole ticks per second, so within a tick of the truth.
    EXPECT_LE(std::fabs(errors.driftErrors.back()), 1.0)
        << "true drift " << trueDrift(clocks.master, clocks.slave);
    EXPECT_LE(std::fabs(errors.offsetErrors.back()), 10.0)
        << "ticks, " << errors.offsetErrors.back() / kTicksPerNs << " ns";
    // From the first write on, a few ticks per second and a few ticks of offset.
    EXPECT_LE(largestMagnitude(errors.driftErrors), 4.0);
    EXPECT_LE(largestMagnitude(errors.offsetErrors), 20.0);
}

INSTANTIATE_TEST_SUITE_P(
    DriftEstimation, SyntheticClocks,
    ::testing::Values(
        // Offset 10,000 ticks shrinking by 4,915 ticks per second: through zero.
        Scenario{"slaveFasterOffsetThroughZero", 0.0, 200.0, 20.0, 10000.0 / kNominalTicksPerSecond, {}},
        // Offset just below the period growing: through the period.
        Scenario{"slaveSlowerOffsetThroughWrap", 50.0, -150.0, 30.0, -10000.0 / kNominalTicksPerSecond, {}},
        Scenario{"masterWrapsFirst", -100.0, 100.0, 10.0, 20.0, {}},
        Scenario{"slaveWrapsFirst", 120.0, -80.0, 45.0, -30.0, {}},
        Scenario{"sameRateFiftySecondsApart", 30.0, 30.0, 2.0, 50.0, {}},
        Scenario{"slowerSlaveBusAndStalls", -200.0, 0.0, 25.0, 3.0,
                 ReadTiming{20.0, 45.0, 5.0, 0.04, 1500.0, -1, true}}),
    [](const ::testing::TestParamInfo<Scenario>& scenario) { return std::string(scenario.param.name); });

// Five minutes at the slow tick: the window of 100 slides over two wraps of
// each clock and over the offset growing through the period (at about 60 s),
// the history is renormalised below the period as old elements leave, and
// every fit stays on the truth.
TEST(SyntheticClocksLongRun, HistoryWindowSlidesOverSeveralWrapsWithoutAJump)
{
    const Scenario s{"long", 80.0, -120.0, 40.0, -300000.0 / kNominalTicksPerSecond, {}};
    const Clocks clocks = clocksOf(s);
    const RunErrors errors = run(clocks, s.timing, 350, 7);
    ASSERT_EQ(errors.driftErrors.size(), 301u);
    // Once the window is full (100 offsets), the fit spans 95 s or more.
    const std::vector<double> fullDrift(errors.driftErrors.begin() + 50, errors.driftErrors.end());
    const std::vector<double> fullOffset(errors.offsetErrors.begin() + 50, errors.offsetErrors.end());
    EXPECT_LE(largestMagnitude(fullDrift), 1.0);
    EXPECT_LE(largestMagnitude(fullOffset), 10.0);
}

// One read stalled by 2 ms (about 49,000 ticks), wherever it falls and
// whichever side of the latch the stall is on, moves the pairs built from it
// to the ends of the ordering, where the trimmed mean drops them. A stall
// after the first read or before the last one disturbs a single pair, which
// the plain mean would carry.
TEST(SyntheticClocksOneMeasurement, AStalledReadIsRejectedByTheTrimmedMean)
{
    const Scenario s{"stall", 0.0, 100.0, 60.0, 12.0, {}};
    const Clocks clocks = clocksOf(s);
    const auto offsetError = [&](int stalled, bool bBeforeLatch, unsigned int reject) {
        ReadTiming timing;
        timing.slowReadProbability = 0.0;
        timing.slowReadExtraUs = 2000.0;
        timing.forcedSlowRead = stalled;
        timing.forcedStallBeforeLatch = bBeforeLatch;
        AlternateReader reader(clocks.master, clocks.slave, timing, 3);
        const Readings readings = reader.read(10.0);
        std::vector<double> masterSamples, slaveSamples;
        for (uint32_t q : readings.master)
            masterSamples.push_back(cycleTimeToTicks(q));
        for (uint32_t q : readings.slave)
            slaveSamples.push_back(cycleTimeToTicks(q));
        double masterDate = 0, slaveDate = 0;
        computeMasterAndSlaveDates(masterSamples, slaveSamples, reject, masterDate, slaveDate);
        const double truth = trueOffsetAtMasterReading(clocks.master, clocks.slave, masterDate, 10.0);
        return wrappedDifference(masterDate - slaveDate, truth);
    };
    for (int stalled = 0; stalled <= 40; ++stalled) {
        for (bool bBeforeLatch : {true, false})
            EXPECT_LE(std::fabs(offsetError(stalled, bBeforeLatch, 16)), 30.0)
                << "stalled read " << stalled << (bBeforeLatch ? " before" : " after") << " its latch";
    }
    EXPECT_GT(std::fabs(offsetError(0, false, 0)), 300.0);
    EXPECT_GT(std::fabs(offsetError(40, true, 0)), 300.0);
}
