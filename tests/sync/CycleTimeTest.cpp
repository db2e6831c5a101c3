// Cycle-time register quadlets and linear tick counts.
#include "sync/CycleTime.h"

#include "support/ErrorOf.h"

#include <orvex/iidc/Registers.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <random>

using orvex::test::refusalOf;

namespace {

orvex::test::Refusal fromMultiSync(std::string message)
{
    return {std::move(message), "MultiSync"};
}

} // namespace

namespace {

constexpr uint32_t quadlet(uint32_t seconds, uint32_t cycles, uint32_t offset)
{
    return (seconds << 25) | (cycles << 12) | offset;
}

} // namespace

TEST(CycleTime, FieldsWeighSecondsCyclesAndTicks)
{
    static_assert(cycleTimeToTicks(quadlet(1, 0, 0)) == 24576000u);
    EXPECT_EQ(cycleTimeToTicks(quadlet(0, 0, 0)), 0u);
    EXPECT_EQ(cycleTimeToTicks(quadlet(0, 1, 0)), 3072u);
    EXPECT_EQ(cycleTimeToTicks(quadlet(0, 0, 3071)), 3071u);
    EXPECT_EQ(cycleTimeToTicks(quadlet(127, 7999, 3071)), 3145727999u);

    EXPECT_EQ(ticksToCycleTime(24576000u), quadlet(1, 0, 0));
    EXPECT_EQ(ticksToCycleTime(3145727999u), quadlet(127, 7999, 3071));
    EXPECT_EQ(ticksToCycleTime(0u), 0u);
    EXPECT_EQ(ticksToCycleTime(24576000u - 1), quadlet(0, 7999, 3071));
}

// Every valid quadlet survives the round trip; the tick count agrees with
// the shift form ((ticks / 3072 - s * 8000 + s * 8768) << 10) + ticks, which
// leans on 24,576,000 + 8768 * 1024 = 2^25.
TEST(CycleTime, ConversionsAreInverseOverTheWholeRange)
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<uint32_t> seconds(0, 127), cycles(0, 7999), offsets(0, 3071);
    for (int i = 0; i < 100000; ++i) {
        const uint32_t q = quadlet(seconds(rng), cycles(rng), offsets(rng));
        const uint32_t ticks = cycleTimeToTicks(q);
        ASSERT_LT(ticks, nb_ticks_in_2_minutes);
        ASSERT_EQ(ticksToCycleTime(ticks), q) << ticks;
        const uint32_t s = ticks / 24576000u;
        ASSERT_EQ(((ticks / 3072u - s * 8000u + s * 8768u) << 10) + ticks, q) << ticks;
    }
}

// A cycle count of 8000 or more is not a valid cycle time; it is converted
// as read (without overflowing 32 bits) and lands at or beyond the wrap
// period, where the offset computation refuses it.
TEST(CycleTime, OutOfRangeFieldsAreConvertedAsReadAndTicksBeyondTheWrapAreRefused)
{
    EXPECT_EQ(cycleTimeToTicks(quadlet(127, 8000, 0)), nb_ticks_in_2_minutes);
    EXPECT_EQ(cycleTimeToTicks(0xFFFFFFFFu), 3146318847u);
    EXPECT_EQ(cycleTimeToTicks(quadlet(0, 8191, 4095)), 8191u * 3072u + 4095u);

    EXPECT_EQ(fromMultiSync("ticks is greater than nb_ticks_in_2_minutes"),
              refusalOf([] { ticksToCycleTime(nb_ticks_in_2_minutes); }));
    EXPECT_EQ(fromMultiSync("ticks is greater than nb_ticks_in_2_minutes"),
              refusalOf([] { ticksToCycleTime(0xFFFFFFFFu); }));
}

TEST(CycleTime, DisagreementOfTwoStampsIsTakenAcrossTheWrapToTheNearest)
{
    using orvex::iidc::signedTicksBetween;
    using orvex::iidc::ticksToCycleTime;
    constexpr uint32_t last = orvex::iidc::kTicksPerWrap - 1;
    EXPECT_EQ(signedTicksBetween(ticksToCycleTime(100), ticksToCycleTime(125)), 25);
    EXPECT_EQ(signedTicksBetween(ticksToCycleTime(125), ticksToCycleTime(100)), -25);
    EXPECT_EQ(signedTicksBetween(ticksToCycleTime(last), ticksToCycleTime(4)), 5) << "a slave past the wrap";
    EXPECT_EQ(signedTicksBetween(ticksToCycleTime(4), ticksToCycleTime(last)), -5)
        << "a master past the wrap";
}
