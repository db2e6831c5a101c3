// End to end over the simulator's bus clocks: a master and a slave camera on
// two buses whose cycle clocks run at different rates, their CYCLE_TIME
// registers read alternately through register transactions (master first,
// 21 and 20 readings, as the synchronisation samples them), and the
// estimation fed with what the cameras answered. The truth is the bus clocks
// themselves at the host instants of the readings.
#include <orvex/DriftEstimation.h>
#include <orvex/sim/Bus.h>
#include <orvex/sim/Camera.h>
#include <orvex/sim/CameraConfig.h>

#include "support/ManualClock.h"
#include "sync/CycleTime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

namespace sim = orvex::sim;

constexpr uint32_t kCycleTimeRegister = 0xF0000200; // IEEE 1394 CSR CYCLE_TIME
constexpr int64_t kWrapTicks = 3145728000;
constexpr double kTicksPerSecond = 24576000.0;
constexpr unsigned int kNbSamplesToReject = 16;

int64_t positiveModulo(int64_t value, int64_t period)
{
    const int64_t r = value % period;
    return r < 0 ? r + period : r;
}

// a - b on the circle of the wrap period, in (-period/2, period/2].
double wrappedDifference(double a, double b)
{
    double d = std::fmod(a - b, static_cast<double>(kWrapTicks));
    if (d > kWrapTicks / 2)
        d -= kWrapTicks;
    else if (d <= -kWrapTicks / 2)
        d += kWrapTicks;
    return d;
}

class SimulatedClocks : public testing::Test {
protected:
    // Transactions of 8 µs ± 2 µs on both buses, as in the default world.
    void plugIn(double masterPpm, double slavePpm, sim::TransactionTiming timing = {8000, 2000, 0.0, 0})
    {
        sim::BusConfig masterBus;
        masterBus.driftPpm = masterPpm;
        masterBus.timing = timing;
        sim::BusConfig slaveBus = masterBus;
        slaveBus.driftPpm = slavePpm;
        _pMasterBus = std::make_shared<sim::Bus>(0, masterBus);
        _pSlaveBus = std::make_shared<sim::Bus>(1, slaveBus);
        _pMaster = plugCamera(_pMasterBus, 11);
        _pSlave = plugCamera(_pSlaveBus, 12);
    }
    void TearDown() override
    {
        for (auto* camera : {_pMaster.get(), _pSlave.get()}) {
            if (camera != nullptr)
                camera->detach();
        }
    }

    // Sets both clocks at once: the master reads `masterTicks` now and the
    // slave `offset` ticks less.
    void setClocks(int64_t masterTicks, int64_t offset)
    {
        _pMasterBus->clock().setTicksNow(masterTicks);
        _pSlaveBus->clock().setTicksNow(masterTicks - offset);
    }

    // Master minus slave, modulo the wrap period, at a host instant.
    double trueOffsetAt(int64_t hostNs) const
    {
        return static_cast<double>(positiveModulo(
            _pMasterBus->clock().ticksAt(hostNs) - _pSlaveBus->clock().ticksAt(hostNs), kWrapTicks));
    }
    double trueDrift() const
    {
        const double master = 1.0 + _pMasterBus->clock().driftPpm() * 1e-6;
        const double slave = 1.0 + _pSlaveBus->clock().driftPpm() * 1e-6;
        return (master - slave) / master * kTicksPerSecond;
    }

    struct Dates {
        double master = 0.0;
        double slave = 0.0;
        int64_t hostNs = 0; // half-way through the readings
    };

    // The 41 readings m0, s0, m1, ..., s19, m20 back to back, and the dates.
    // Readings during which the host descheduled this thread for longer than
    // the whole measurement should take are taken again: that delay belongs
    // to the machine running the test, not to the simulated buses.
    Dates measure(unsigned int nbSamplesToReject = kNbSamplesToReject)
    {
        constexpr int64_t kUndisturbedNs = 3000000; // about 8 times the 41 reads
        std::vector<double> master, slave;
        int64_t start = 0, end = 0;
        for (int attempt = 0; attempt < 100; ++attempt) {
            master.clear();
            slave.clear();
            start = sim::hostNowNs();
            for (int i = 0; i < 20; ++i) {
                master.push_back(ticksOf(*_pMaster));
                slave.push_back(ticksOf(*_pSlave));
            }
            master.push_back(ticksOf(*_pMaster));
            end = sim::hostNowNs();
            if (end - start < kUndisturbedNs)
                break;
        }
        Dates dates;
        dates.hostNs = (start + end) / 2;
        computeMasterAndSlaveDates(master, slave, nbSamplesToReject, dates.master, dates.slave);
        return dates;
    }

    static uint32_t rounded(double date) { return static_cast<uint32_t>(std::trunc(date + 0.5)); }

    std::shared_ptr<sim::Bus> _pMasterBus, _pSlaveBus;
    std::unique_ptr<sim::Camera> _pMaster, _pSlave;

private:
    static std::unique_ptr<sim::Camera> plugCamera(const std::shared_ptr<sim::Bus>& bus, uint32_t serial)
    {
        auto camera = std::make_unique<sim::Camera>(*sim::modelConfig("Flea2 FL2G-50S5M", serial));
        camera->attach(bus);
        return camera;
    }
    static double ticksOf(sim::Camera& camera)
    {
        uint32_t quadlet = 0;
        EXPECT_EQ(sim::Status::ok, camera.readRegister(kCycleTimeRegister, quadlet));
        return cycleTimeToTicks(quadlet);
    }
};

// How far a measured offset may be from the truth. A wrap taken wrongly is
// off by up to half the period; a pairing taken wrongly by about a read
// (200 ticks) every time. A host thread preempted in the middle of the reads
// (on a loaded machine) still spoils a measurement now and then, so the
// typical error is checked against the tight bound and the worst one only
// against the wraps.
void expectOnTheTruth(std::vector<double> errors)
{
    for (double& error : errors)
        error = std::fabs(error);
    std::sort(errors.begin(), errors.end());
    EXPECT_LT(errors[errors.size() / 2], 60.0) << "median error, ticks";
    EXPECT_LT(errors.back(), 50000.0) << "largest error, ticks";
}

// The readings take about 400 µs; the master clock wraps a little after the
// first of them, in the middle, or near the end, and either clock may be the
// one ahead.
TEST_F(SimulatedClocks, OneMeasurementGivesTheOffsetOfTheBusClocksAcrossAWrap)
{
    plugIn(0.0, 30.0);
    std::vector<double> errors;
    for (const int64_t ticksBeforeWrap : {1000, 5000, 9000}) {
        for (const int64_t offset : {int64_t{123456}, int64_t{-2000000}, kWrapTicks / 2 - 10}) {
            setClocks(kWrapTicks - ticksBeforeWrap, offset);
            const Dates dates = measure();
            ASSERT_LT(dates.master, kWrapTicks);
            ASSERT_LT(dates.slave, kWrapTicks);
            const unsigned long measured = computeOffset(rounded(dates.master), rounded(dates.slave));
            errors.push_back(wrappedDifference(static_cast<double>(measured), trueOffsetAt(dates.hostNs)));
        }
    }
    expectOnTheTruth(errors);
}

// Reads now and then held up by bus traffic for half a millisecond (about
// 12,000 ticks): the pairs built from them sort to the ends and are dropped.
TEST_F(SimulatedClocks, ReadsHeldUpByBusTrafficAreLeftOutOfTheMean)
{
    plugIn(0.0, -20.0, {8000, 2000, 0.02, 500000});
    std::vector<double> errors;
    for (int i = 0; i < 15; ++i) {
        const Dates dates = measure();
        const unsigned long measured = computeOffset(rounded(dates.master), rounded(dates.slave));
        errors.push_back(wrappedDifference(static_cast<double>(measured), trueOffsetAt(dates.hostNs)));
    }
    expectOnTheTruth(errors);
}

// Sixty measurements 25 ms apart with the slave 1000 ppm fast: the offset
// falls through zero (from 3,000 ticks, about 24,500 ticks per second) and
// the master clock wraps during the run. The history stays continuous and the
// fit finds the drift and the offset at the slave's last whole second.
// On the manual clock: the readings' own latencies move it, the test moves
// it between measurements.
class SimulatedClocksByHand : public SimulatedClocks {
    orvex::test::ManualClock _clock;
};

TEST_F(SimulatedClocksByHand, DriftAndOffsetFollowTheBusClocksThroughBothWraps)
{
    plugIn(0.0, 1000.0);
    setClocks(kWrapTicks - static_cast<int64_t>(0.15 * kTicksPerSecond), 3000);
    offsetsByMasterDate history;
    uint32_t lastSlaveDate = 0;
    int64_t lastHostNs = 0;
    for (int i = 0; i < 60; ++i) {
        const Dates dates = measure();
        lastSlaveDate = rounded(dates.slave);
        lastHostNs = dates.hostNs;
        const unsigned long offset = computeOffset(rounded(dates.master), lastSlaveDate);
        pushOffsetInOffsetsByMasterDateColl(dates.master, offset, history, 100);
        orvex::test::ManualClock::advance(std::chrono::milliseconds(25));
    }
    ASSERT_EQ(60u, history.size());
    // Each offset moved by the drift over the time since the one before (a
    // loaded host may sleep long between two), never by a wrap period.
    for (auto prev = history.begin(), it = std::next(prev); it != history.end(); prev = it++) {
        EXPECT_GT(it->first, prev->first);
        const double expected = trueDrift() * (it->first - prev->first) / kTicksPerSecond;
        const double step = static_cast<double>(it->second) - static_cast<double>(prev->second);
        EXPECT_LT(std::fabs(step - expected), 50000.0)
            << "offset jump " << prev->second << " -> " << it->second;
    }

    const double ticksIntoSlaveSecond = lastSlaveDate % 24576000u;
    const auto [drift, offset] = computeDriftAndOffset(history, ticksIntoSlaveSecond);
    ASSERT_GE(drift, 0x800000ul) << "a fast slave: negative drift";
    const double decodedDrift = static_cast<double>(drift) - 16777216.0;
    // Loose bounds: a measurement spoilt by preemption pulls the fit a little;
    // a wrap or a sign taken wrongly is off by far more.
    EXPECT_NEAR(trueDrift(), decodedDrift, 0.1 * std::fabs(trueDrift()));

    // The slave's last whole second, in host time.
    const double slaveTicksPerNs = kTicksPerSecond * 1e-9 * (1.0 + _pSlaveBus->clock().driftPpm() * 1e-6);
    const int64_t referenceNs = lastHostNs - static_cast<int64_t>(ticksIntoSlaveSecond / slaveTicksPerNs);
    EXPECT_NEAR(0.0, wrappedDifference(static_cast<double>(offset), trueOffsetAt(referenceNs)), 5000.0);
}

} // namespace
