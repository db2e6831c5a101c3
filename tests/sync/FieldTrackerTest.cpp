// Field mode's tracker on offsets made up here: it settles on a steady
// drift, keeps up with a drift that wanders, holds a lone far offset back,
// takes two far offsets that agree as a step (keeping the drift), and
// crosses the 128 s wrap of dates and offsets.
#include "sync/FieldTracker.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>

namespace {

using orvex::sync::FieldTracker;
using Verdict = FieldTracker::Verdict;

constexpr double kTicksPerSecond = 24576000.0;
constexpr double kWrap = 3145728000.0;
constexpr double kTickSeconds = 0.1; // the fast timer

// The offset a clock pair shows at `seconds`, reduced to the wrap period.
uint32_t wrapped(double offset)
{
    offset = std::fmod(offset, kWrap);
    return static_cast<uint32_t>(std::llround(offset < 0 ? offset + kWrap : offset)) % 3145728000u;
}

double dateAt(double startDate, double seconds)
{
    return std::fmod(startDate + seconds * kTicksPerSecond, kWrap);
}

int32_t driftOf(const std::pair<unsigned long, unsigned long>& estimate)
{
    const auto raw = static_cast<uint32_t>(estimate.first) & 0xFFFFFFu;
    return raw >= 0x800000u ? static_cast<int32_t>(raw) - 0x1000000 : static_cast<int32_t>(raw);
}

// Offset error of an estimate against the truth, across the wrap.
double errorOf(const std::pair<unsigned long, unsigned long>& estimate, double truth)
{
    double d = std::fmod(static_cast<double>(estimate.second) - truth, kWrap);
    if (d > kWrap / 2)
        d -= kWrap;
    if (d < -kWrap / 2)
        d += kWrap;
    return d;
}

TEST(FieldTracker, SettlesOnASteadyDriftAndCrossesTheWrap)
{
    // 3.69 ppm (90.7 ticks/s); dates and offsets both wrap during the run.
    FieldTracker tracker;
    std::mt19937 rng(5);
    std::normal_distribution<double> noise(0.0, 20.0);
    const double startDate = kWrap - 30.0 * kTicksPerSecond;
    const double startOffset = kWrap - 2000.0;
    const double drift = 90.7;
    for (int i = 0; i <= 600; ++i) {
        const double t = i * kTickSeconds;
        EXPECT_EQ(Verdict::accepted,
                  tracker.add(dateAt(startDate, t), wrapped(startOffset + drift * t + noise(rng))))
            << i;
    }
    EXPECT_EQ(tracker.count(), 601u);
    const double t = 600 * kTickSeconds;
    const auto estimate = tracker.driftAndOffset(0.0);
    EXPECT_EQ(driftOf(estimate), 91);
    EXPECT_LT(std::fabs(errorOf(estimate, startOffset + drift * t)), 10.0);
    // Half a second before the last offset: the drift taken back.
    const auto earlier = tracker.driftAndOffset(0.5 * kTicksPerSecond);
    EXPECT_LT(std::fabs(errorOf(earlier, startOffset + drift * (t - 0.5))), 10.0);
    EXPECT_LE(tracker.chosenWanderPpmPerSqrtMinute(), 0.1) << "a steady clock gets the long memory";
}

TEST(FieldTracker, KeepsUpWithAWanderingDrift)
{
    // 1 ppm per sqrt(minute): the drift moves by 3.2 ticks/s every second.
    FieldTracker tracker;
    std::mt19937 rng(11);
    std::normal_distribution<double> noise(0.0, 20.0);
    std::normal_distribution<double> move(0.0, 24.576 / std::sqrt(60.0));
    double drift = -300.0;
    double offset = 5.0e6;
    double worst = 0.0;
    for (int i = 0; i <= 3000; ++i) {
        if (i % 10 == 0)
            drift += move(rng);
        offset += drift * kTickSeconds;
        tracker.add(dateAt(1.0e9, i * kTickSeconds), wrapped(offset + noise(rng)));
        if (i > 600)
            worst = std::max(worst, std::fabs(errorOf(tracker.driftAndOffset(0.0), offset)));
    }
    EXPECT_LT(worst, 40.0);
    EXPECT_GE(tracker.chosenWanderPpmPerSqrtMinute(), 0.3);
}

TEST(FieldTracker, ALoneFarOffsetIsHeldAndTwoThatAgreeAreAStep)
{
    FieldTracker tracker;
    const double drift = 200.0;
    int i = 0;
    const auto offsetAt = [&](int n, double jump) {
        return wrapped(1000.0 + drift * n * kTickSeconds + jump + ((n % 2) ? 15.0 : -15.0));
    };
    for (; i < 100; ++i)
        tracker.add(dateAt(0.0, i * kTickSeconds), offsetAt(i, 0.0));

    // 300 ticks off, once: held back, then the clock is where it was.
    EXPECT_EQ(Verdict::held, tracker.add(dateAt(0.0, i * kTickSeconds), offsetAt(i, 300.0)));
    ++i;
    EXPECT_EQ(Verdict::accepted, tracker.add(dateAt(0.0, i * kTickSeconds), offsetAt(i, 0.0)));
    ++i;
    // Just inside the floor of 250 ticks: taken in.
    EXPECT_EQ(Verdict::accepted, tracker.add(dateAt(0.0, i * kTickSeconds), offsetAt(i, 200.0)));
    ++i;
    EXPECT_EQ(Verdict::accepted, tracker.add(dateAt(0.0, i * kTickSeconds), offsetAt(i, 0.0)));
    ++i;

    // Two far offsets that disagree: the second replaces the first.
    EXPECT_EQ(Verdict::held, tracker.add(dateAt(0.0, i * kTickSeconds), offsetAt(i, 24576.0)));
    ++i;
    EXPECT_EQ(Verdict::held, tracker.add(dateAt(0.0, i * kTickSeconds), offsetAt(i, -24576.0)));
    ++i;
    // The next one agrees with it: a step of -1 ms; the drift is kept.
    EXPECT_EQ(Verdict::step, tracker.add(dateAt(0.0, i * kTickSeconds), offsetAt(i, -24576.0)));
    EXPECT_EQ(tracker.count(), 2u);
    const auto estimate = tracker.driftAndOffset(0.0);
    EXPECT_NEAR(driftOf(estimate), 200, 5);
    EXPECT_LT(std::fabs(errorOf(estimate, 1000.0 + drift * i * kTickSeconds - 24576.0)), 30.0);

    // Too few offsets since the restart to test anything: a jump is taken in.
    ++i;
    EXPECT_EQ(Verdict::accepted, tracker.add(dateAt(0.0, i * kTickSeconds), offsetAt(i, -24576.0 + 100.0)));
    for (++i; i < 140; ++i)
        tracker.add(dateAt(0.0, i * kTickSeconds), offsetAt(i, -24576.0));
    // The step is over: a far offset like the one held before it is held
    // again, not taken for the second half of a step.
    EXPECT_EQ(Verdict::held, tracker.add(dateAt(0.0, i * kTickSeconds), offsetAt(i, -2 * 24576.0)));
    tracker.reset();
    EXPECT_EQ(tracker.count(), 0u);
}

} // namespace
