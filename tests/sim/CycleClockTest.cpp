// Bus clocks beyond a constant drift: a rate that wanders from a seed, and a
// jump at a bus reset.
#include "sim/SimTestSupport.h"

#include <orvex/iidc/Registers.h>
#include <orvex/sim/CycleClock.h>

#include <cmath>

using namespace orvex::sim;
using orvex::sim::test::FreshWorld;

namespace {

constexpr int64_t kSecondNs = 1'000'000'000;

// The rate (ppm against the host) over `seconds` of host time from `at`. The
// clock counts whole ticks, so one second resolves only 1/24.576 ppm; a longer
// span measures finer.
double ppmOver(const CycleClock& clock, int64_t at, int seconds = 1)
{
    const int64_t span = seconds * kSecondNs;
    const double ticks = static_cast<double>(clock.ticksAt(at + span) - clock.ticksAt(at));
    return (ticks / (static_cast<double>(orvex::iidc::kTicksPerSecond) * seconds) - 1.0) * 1e6;
}

} // namespace

TEST(CycleClockWander, TheRateWalksFromItsSeedAndTheClockStaysContinuous)
{
    CycleClock a, b, c;
    for (CycleClock* clock : {&a, &b, &c})
        clock->setDriftPpm(30.0);
    a.setWander(3.0, 7);
    b.setWander(3.0, 7);
    c.setWander(3.0, 8);
    const int64_t start = hostNowNs();

    double moved = 0.0;
    bool seedsDiffer = false;
    for (int minute = 1; minute <= 10; ++minute) {
        // Half a second into a step, where the three walks' steps line up.
        const int64_t at = start + minute * 60 * kSecondNs + kSecondNs / 2;
        const double rate = ppmOver(a, at);
        EXPECT_NEAR(rate, ppmOver(b, at), 0.1) << "the same seed, the same walk";
        seedsDiffer = seedsDiffer || std::fabs(rate - ppmOver(c, at)) > 0.1;
        moved = std::max(moved, std::fabs(rate - 30.0));
    }
    EXPECT_TRUE(seedsDiffer);
    EXPECT_GT(moved, 0.1) << "the rate moved";
    EXPECT_LT(moved, 40.0) << "by a few ppm, not tens (over 4 standard deviations at 10 minutes)";

    // No jump where the rate changes: one nanosecond apart reads the same.
    const int64_t change = start + 600 * kSecondNs;
    for (int64_t step = change - 2 * kSecondNs; step < change + 2 * kSecondNs; step += kSecondNs / 4) {
        EXPECT_LE(std::llabs(a.ticksAt(step + 1) - a.ticksAt(step)), 1);
    }
}

TEST(CycleClockWander, SwitchedOffTheRateStaysWhereItWasSet)
{
    CycleClock clock;
    clock.setDriftPpm(-80.0);
    const int64_t start = hostNowNs();
    EXPECT_NEAR(-80.0, ppmOver(clock, start + 300 * kSecondNs, 100), 0.01);
    EXPECT_NEAR(-80.0, clock.driftPpm(), 1e-9);
}

using BusResetClock = FreshWorld;

TEST_F(BusResetClock, AResetJumpsTheBusClockByItsStep)
{
    const int bus = world().addBus(busAt(0, 10.0, 30.0));
    CycleClock& clock = world().bus(bus)->clock();
    const int64_t at = hostNowNs();

    const int64_t before = clock.ticksAt(at);
    world().resetBus(bus);
    EXPECT_EQ(before, clock.ticksAt(at)) << "no step set: a reset changes nothing";

    clock.setStepOnReset(-1'000'000);
    world().resetBus(bus);
    EXPECT_NEAR(static_cast<double>(before - 1'000'000), static_cast<double>(clock.ticksAt(at)), 1.0);
    // Plugging a camera resets the bus too.
    world().addCamera(bus, "Flea2 FL2G-50S5M", 1);
    EXPECT_NEAR(static_cast<double>(before - 2'000'000), static_cast<double>(clock.ticksAt(at)), 1.0);
    EXPECT_NEAR(30.0, clock.driftPpm(), 1e-9) << "the rate is kept";
}

TEST(CycleClockTroubles, AScheduledStepJumpsAtItsInstantOnlyAndKeepsTheRate)
{
    CycleClock clock;
    clock.setDriftPpm(50.0);
    const int64_t start = hostNowNs();
    const int64_t stepAt = start + 2 * kSecondNs;
    clock.scheduleStep(stepAt, 24576); // 1 ms
    clock.scheduleStep(stepAt + kSecondNs, -3072);

    const int64_t before = clock.ticksAt(stepAt - 1000);
    const int64_t after = clock.ticksAt(stepAt + 1000);
    // 2 us of running at 24.576 MHz, about 49 ticks, plus the step.
    EXPECT_NEAR(static_cast<double>(after - before), 24576.0 + 49.0, 2.0);
    const int64_t second = clock.ticksAt(stepAt + kSecondNs + 1000);
    EXPECT_NEAR(static_cast<double>(second - after), 24576000.0 * (1.0 + 50e-6) - 3072.0, 2.0);
    EXPECT_NEAR(50.0, ppmOver(clock, stepAt + 2 * kSecondNs, 10), 0.01);
    // What a node counts runs on through the jumps.
    EXPECT_NEAR(static_cast<double>(clock.ownTicksAt(stepAt + 1000) - clock.ownTicksAt(stepAt - 1000)), 49.0,
                2.0);
}

TEST(CycleClockTroubles, ATemperatureSwingMovesTheRateAlongASine)
{
    CycleClock clock;
    clock.setDriftPpm(30.0);
    clock.setTemperatureSwing(10.0, 40.0);
    const int64_t start = hostNowNs();
    // A quarter period in: +10 ppm; three quarters: -10 ppm; a whole: back.
    EXPECT_NEAR(40.0, ppmOver(clock, start + 10 * kSecondNs), 0.1);
    EXPECT_NEAR(20.0, ppmOver(clock, start + 30 * kSecondNs), 0.1);
    EXPECT_NEAR(30.0, ppmOver(clock, start + 40 * kSecondNs), 0.1);
    // Switched off, the rate is the set one again.
    clock.setTemperatureSwing(0.0, 40.0);
    EXPECT_NEAR(30.0, ppmOver(clock, hostNowNs() + 10 * kSecondNs, 10), 0.01);
}
