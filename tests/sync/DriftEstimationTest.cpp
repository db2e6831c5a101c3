// The numerical rules of the drift and offset estimation, one behaviour per
// test: simultaneous dates from interleaved readings, the offset modulo the
// wrap period, the continuous bounded history, and the fitted drift and
// reference offset. Wrap rules are checked in 32-bit arithmetic whatever the
// width of unsigned long.
#include <orvex/DriftEstimation.h>

#include "support/ErrorOf.h"
#include "support/LogCapture.h"
#include "sync/CycleTime.h"

#include <orvex/Tracer.h>
#include <orvex/Types.h>
#include <orvex/iidc/SyncRegisters.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

using orvex::test::refusalOf;

namespace {

orvex::test::Refusal fromMultiSync(std::string message)
{
    return {std::move(message), "MultiSync"};
}

} // namespace
using orvex::test::LogCapture;

namespace {

constexpr double kWrap = 3145728000.0;
constexpr unsigned long kWrap32 = 3145728000ul;
constexpr bool kLongIsWide = sizeof(unsigned long) > sizeof(uint32_t);

struct Dates {
    double master = -1.0;
    double slave = -1.0;
};

Dates datesOf(const std::vector<double>& master, const std::vector<double>& slave, unsigned int reject)
{
    Dates d;
    computeMasterAndSlaveDates(master, slave, reject, d.master, d.slave);
    return d;
}

std::vector<unsigned long> offsetsOf(const offsetsByMasterDate& coll)
{
    std::vector<unsigned long> offsets;
    for (const auto& element : coll)
        offsets.push_back(element.second);
    return offsets;
}

std::vector<double> datesOf(const offsetsByMasterDate& coll)
{
    std::vector<double> dates;
    for (const auto& element : coll)
        dates.push_back(element.first);
    return dates;
}

offsetsByMasterDate pushAll(const std::vector<std::pair<double, unsigned long>>& elements,
                            unsigned int maxSize)
{
    offsetsByMasterDate coll;
    for (const auto& [date, offset] : elements)
        pushOffsetInOffsetsByMasterDateColl(date, offset, coll, maxSize);
    return coll;
}

} // namespace

// --- simultaneous dates ----------------------------------------------------------------------

TEST(MasterAndSlaveDates, OneSlaveReadingIsPairedWithTheInterpolatedMaster)
{
    const Dates d = datesOf({1000, 1100}, {1040}, 0);
    EXPECT_EQ(d.master, 1050.0);
    EXPECT_EQ(d.slave, 1040.0);
}

// Pairs (key 10: 50, 40), (key 0: 150, 150) from the slave readings and
// (key 5: 100, 95) from the inner master reading; sorted 0, 5, 10.
TEST(MasterAndSlaveDates, TrimmedMeanDropsTheMostExtremeOffsetsHalfAtEachEndOddOneAtTheTop)
{
    const std::vector<double> master = {0, 100, 200};
    const std::vector<double> slave = {40, 150};

    const Dates all = datesOf(master, slave, 0);
    EXPECT_DOUBLE_EQ(all.master, 100.0);
    EXPECT_DOUBLE_EQ(all.slave, 95.0);

    const Dates middle = datesOf(master, slave, 2);
    EXPECT_EQ(middle.master, 100.0);
    EXPECT_EQ(middle.slave, 95.0);

    const Dates lowerTwo = datesOf(master, slave, 1);
    EXPECT_EQ(lowerTwo.master, 125.0);
    EXPECT_EQ(lowerTwo.slave, 122.5);
}

// Master 1000 ticks behind the slave: the negative difference is taken
// modulo the wrap period, so it sorts above a small positive offset.
TEST(MasterAndSlaveDates, NegativeOffsetsSortAsOffsetsJustBelowTheWrapPeriod)
{
    // Keys: slave readings W-1000 and 0, inner master W-100. Rejecting one
    // drops the W-100 pair and averages the other two.
    const Dates d = datesOf({3000, 5000, 5400}, {5000, 5200}, 1);
    EXPECT_EQ(d.master, 4600.0);
    EXPECT_EQ(d.slave, 5100.0);

    // Interpolated master 10 against slave 3,145,727,990: key 20, not a
    // negative key.
    const Dates e = datesOf({5, 15}, {3145727990.0}, 0);
    EXPECT_EQ(e.master, 10.0);
    EXPECT_EQ(e.slave, 3145727990.0);
}

TEST(MasterAndSlaveDates, OnlyTheFirstDecreaseOfAClockIsTakenAsItsWrap)
{
    // 3,145,000,000 then 1,000: the second reading is 3,145,729,000.
    const Dates once = datesOf({3145000000.0, 1000}, {3145364000.0}, 0);
    EXPECT_EQ(once.master, 3145364500.0);
    EXPECT_EQ(once.slave, 3145364000.0);

    // 3,145,000,000, 1,000, 500: the 500 is lifted with the 1,000 but its own
    // decrease is not corrected again.
    const Dates twice = datesOf({3145000000.0, 1000, 500}, {3145364000.0, 3145364100.0}, 0);
    EXPECT_NEAR(twice.master, (3145364500.0 + 3145728750.0 + 3145729000.0) / 3, 1e-5);
}

TEST(MasterAndSlaveDates, MeanDatesAtOrPastTheWrapComeBackBelowIt)
{
    // Master readings 3,145,727,000 and 1,000 (wrapped): mean exactly W, so 0.
    const Dates d = datesOf({3145727000.0, 1000}, {100}, 0);
    EXPECT_EQ(d.master, 0.0);
    EXPECT_EQ(d.slave, 100.0);

    // Both clocks wrapped between their readings: pairs (W+500, W-500),
    // (W+3500, W+3500) and (W+2000, W+1500) average past the wrap.
    const Dates e = datesOf({3145727000.0, 2000, 5000}, {3145727500.0, 3500}, 0);
    EXPECT_NEAR(e.master, 2000.0, 1e-6);
    EXPECT_NEAR(e.slave, 1500.0, 1e-6);
}

// The wrap rules at their boundaries, one tick either side.
TEST(MasterAndSlaveDates, WrapBoundariesAreExact)
{
    // A repeated reading is not a decrease: nothing is lifted.
    EXPECT_EQ(datesOf({1000, 1000}, {1000}, 0).master, 1000.0);

    // A pair whose master and slave dates agree has key 0, the lowest; with
    // the top pair rejected it is kept. Keys: 0 (50, 50), 5 (150, 145),
    // 2.5 (100, 97.5).
    const Dates zeroKey = datesOf({0, 100, 200}, {50, 145}, 1);
    EXPECT_EQ(zeroKey.master, 75.0);
    EXPECT_EQ(zeroKey.slave, 73.75);

    // Mean slave date exactly the period comes back to 0; one tick below stays.
    EXPECT_EQ(datesOf({0, 10, 20}, {3145727000.0, 1000}, 0).slave, 0.0);
    EXPECT_EQ(datesOf({10, 20}, {3145727999.0}, 0).slave, 3145727999.0);
    EXPECT_EQ(datesOf({3145727000.0, 999}, {100}, 0).master, 3145727999.5);
}

TEST(MasterAndSlaveDates, RefusesInconsistentSamplesWithoutWritingTheDates)
{
    const std::string sizes =
        "invalid samples sizes (should be: masterSamples.size() == slaveSamples().size()+1";
    const std::string noPair = "nbSamplesToReject leaves no pair of samples to average";
    const std::string notTicks = "samples must be tick counts between 0 and 4294967295";
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        std::vector<double> master;
        std::vector<double> slave;
        unsigned int reject;
        const std::string& message;
    } cases[] = {
        {{1, 2}, {1, 2}, 0, sizes},
        {{1, 2, 3}, {1}, 0, sizes},
        {{}, {}, 0, sizes},
        {{1}, {}, 0, noPair},
        {{1, 2}, {1}, 1, noPair},
        {{1, 2, 3}, {1, 2}, 3, noPair},
        {std::vector<double>(21, 5.0), std::vector<double>(20, 5.0), 39, noPair},
        {{1, nan, 3}, {1, 2}, 0, notTicks},
        {{1, 2, 3}, {-1, 2}, 0, notTicks},
        {{1, 2, 4294967296.0}, {1, 2}, 0, notTicks},
        {{1, 2, 3}, {1, HUGE_VAL}, 0, notTicks},
    };
    for (const auto& c : cases) {
        double master = -7, slave = -7;
        EXPECT_EQ(fromMultiSync(c.message),
                  refusalOf([&] { computeMasterAndSlaveDates(c.master, c.slave, c.reject, master, slave); }));
        EXPECT_EQ(master, -7);
        EXPECT_EQ(slave, -7);
    }
    // The controller's shape, 21 and 20 readings with 16 rejected, is accepted.
    EXPECT_NO_THROW(datesOf(std::vector<double>(21, 5.0), std::vector<double>(20, 5.0), 16));
}

// --- offset -------------------------------------------------------------------------------------

TEST(Offset, IsMasterMinusSlaveModuloTheWrapPeriod)
{
    EXPECT_EQ(computeOffset(20, 10), 10ul);
    EXPECT_EQ(computeOffset(10, 20), 3145727990ul);
    EXPECT_EQ(computeOffset(0, kWrap32 - 1), 1ul);
    EXPECT_EQ(computeOffset(kWrap32 - 1, 0), kWrap32 - 1);
    EXPECT_EQ(computeOffset(1234, 1234), 0ul);
}

TEST(Offset, OneTickEitherSideOfEqualClocks)
{
    const uint32_t last = 3145727999u;
    EXPECT_EQ(computeOffset(1001, 1000), 1ul);
    EXPECT_EQ(computeOffset(1000, 1001), static_cast<unsigned long>(last));
    EXPECT_EQ(computeOffset(last, last), 0ul);
    EXPECT_EQ(computeOffset(0, 0), 0ul);
}

TEST(Offset, RefusesTickCountsAtOrBeyondTheWrapMasterFirst)
{
    EXPECT_EQ(fromMultiSync("master is greater than nb_ticks_in_2_minutes"),
              refusalOf([] { computeOffset(kWrap32, kWrap32); }));
    EXPECT_EQ(fromMultiSync("master is greater than nb_ticks_in_2_minutes"),
              refusalOf([] { computeOffset(kWrap32, 0); }));
    EXPECT_EQ(fromMultiSync("slave is greater than nb_ticks_in_2_minutes"),
              refusalOf([] { computeOffset(0, kWrap32); }));
    EXPECT_EQ(fromMultiSync("master is greater than nb_ticks_in_2_minutes"),
              refusalOf([] { computeOffset(0xFFFFFFFFul, 0); }));
    if (kLongIsWide) {
        // 2^32 + 10 is not 10.
        const unsigned long wide = static_cast<unsigned long>(std::numeric_limits<uint32_t>::max()) + 11;
        EXPECT_EQ(fromMultiSync("master is greater than nb_ticks_in_2_minutes"),
                  refusalOf([&] { computeOffset(wide, 0); }));
        EXPECT_EQ(fromMultiSync("slave is greater than nb_ticks_in_2_minutes"),
                  refusalOf([&] { computeOffset(0, wide); }));
    }
}

// --- history ------------------------------------------------------------------------------------

TEST(OffsetsHistory, AnOffsetWrappingUpwardsIsLiftedAndBroughtBackOnceTheOldOnesLeave)
{
    offsetsByMasterDate coll = pushAll({{100.0, 3145727000ul}, {200.0, 500ul}}, 2);
    EXPECT_EQ(offsetsOf(coll), (std::vector<unsigned long>{3145727000ul, 3145728500ul}));

    // The element from before the wrap leaves: every offset is above the
    // period, all come back below it together.
    pushOffsetInOffsetsByMasterDateColl(300.0, 1500ul, coll, 2);
    EXPECT_EQ(offsetsOf(coll), (std::vector<unsigned long>{500ul, 1500ul}));
}

TEST(OffsetsHistory, AnOffsetWrappingDownwardsLiftsTheHistory)
{
    const offsetsByMasterDate coll = pushAll({{100.0, 500ul}, {200.0, 3145727000ul}}, 100);
    EXPECT_EQ(offsetsOf(coll), (std::vector<unsigned long>{3145728500ul, 3145727000ul}));
}

TEST(OffsetsHistory, OnlyAJumpOfMoreThanHalfThePeriodIsAWrap)
{
    EXPECT_EQ(offsetsOf(pushAll({{1, 0ul}, {2, 1572864000ul}}, 10)),
              (std::vector<unsigned long>{0ul, 1572864000ul}));
    EXPECT_EQ(offsetsOf(pushAll({{1, 1572864000ul}, {2, 0ul}}, 10)),
              (std::vector<unsigned long>{1572864000ul, 0ul}));
    EXPECT_EQ(offsetsOf(pushAll({{1, 0ul}, {2, 1572864001ul}}, 10)),
              (std::vector<unsigned long>{kWrap32, 1572864001ul}));
    EXPECT_EQ(offsetsOf(pushAll({{1, 1572864001ul}, {2, 0ul}}, 10)),
              (std::vector<unsigned long>{1572864001ul, kWrap32}));
}

// Lifting by the period is a 32-bit addition: values past 2^32 wrap around,
// on every platform.
TEST(OffsetsHistory, LiftingOffsetsWrapsModulo2To32)
{
    // The history is lifted: 1,200,000,000 + 3,145,728,000 - 2^32 = 50,760,704.
    EXPECT_EQ(offsetsOf(pushAll({{1, 1200000000ul}, {2, 2772864001ul}}, 10)),
              (std::vector<unsigned long>{50760704ul, 2772864001ul}));

    // The new offset is lifted: 2,000,000,000 + 3,145,728,000 - 2^32 = 850,760,704.
    offsetsByMasterDate coll = {{1.0, 4000000000ul}};
    pushOffsetInOffsetsByMasterDateColl(2.0, 2000000000ul, coll, 10);
    EXPECT_EQ(offsetsOf(coll), (std::vector<unsigned long>{4000000000ul, 850760704ul}));
}

TEST(OffsetsHistory, AMasterDateThatWentBackIsMovedPastTheLastOne)
{
    offsetsByMasterDate coll = pushAll({{3000000000.0, 7ul}, {1000.0, 7ul}}, 100);
    EXPECT_EQ(datesOf(coll), (std::vector<double>{3000000000.0, 3145729000.0}));

    // As many periods as needed.
    coll = {{kWrap - 1, 7ul}, {2 * kWrap + 10, 7ul}};
    pushOffsetInOffsetsByMasterDateColl(5.0, 7ul, coll, 100);
    EXPECT_EQ(coll.back().first, 5.0 + 3 * kWrap);

    // Exactly one period back lands on the last date, not a period past it.
    coll = {{kWrap - 10, 7ul}, {5.0 + kWrap, 7ul}};
    pushOffsetInOffsetsByMasterDateColl(5.0, 7ul, coll, 100);
    EXPECT_EQ(coll.back().first, 5.0 + kWrap);

    // An equal date stays.
    coll = {{1234.5, 7ul}};
    pushOffsetInOffsetsByMasterDateColl(1234.5, 7ul, coll, 100);
    EXPECT_EQ(coll.back().first, 1234.5);
}

TEST(OffsetsHistory, KeepsTheNewestElementsAndBringsDatesBelowTheWrapOnceTheFrontPassedIt)
{
    offsetsByMasterDate coll =
        pushAll({{3000000000.0, 10ul}, {3100000000.0, 11ul}, {1000000.0, 12ul}}, 2); // master wrapped
    EXPECT_EQ(datesOf(coll), (std::vector<double>{3100000000.0, 1000000.0 + kWrap}));
    EXPECT_EQ(offsetsOf(coll), (std::vector<unsigned long>{11ul, 12ul}));

    pushOffsetInOffsetsByMasterDateColl(50000000.0, 13ul, coll, 2);
    EXPECT_EQ(datesOf(coll), (std::vector<double>{1000000.0, 50000000.0}));

    pushOffsetInOffsetsByMasterDateColl(60000000.0, 14ul, coll, 1);
    EXPECT_EQ(datesOf(coll), (std::vector<double>{60000000.0}));
    EXPECT_EQ(offsetsOf(coll), (std::vector<unsigned long>{14ul}));
}

// A date or offset of exactly one period is brought back to 0; one tick
// below stays where it is.
TEST(OffsetsHistory, DatesAndOffsetsAtThePeriodComeBackOneTickBelowStay)
{
    const uint32_t period = 3145728000u;
    EXPECT_EQ(pushAll({{kWrap, 7ul}}, 10).front().first, 0.0);
    EXPECT_EQ(pushAll({{kWrap - 1, 7ul}}, 10).front().first, kWrap - 1);
    EXPECT_EQ(offsetsOf(pushAll({{1, period}}, 10)), (std::vector<unsigned long>{0ul}));
    EXPECT_EQ(offsetsOf(pushAll({{1, period - 1}}, 10)), (std::vector<unsigned long>{period - 1ul}));
    // Every offset must be at or above the period before any moves.
    EXPECT_EQ(offsetsOf(pushAll({{1, period}, {2, period - 1}}, 10)),
              (std::vector<unsigned long>{period, period - 1ul}));
}

TEST(OffsetsHistory, RefusesBadElementsAndLeavesTheHistoryUnchanged)
{
    const offsetsByMasterDate before = pushAll({{100.0, 5ul}, {200.0, 6ul}}, 10);
    struct Case {
        double date;
        unsigned long offset;
        unsigned int maxSize;
        const char* message;
    };
    std::vector<Case> cases = {
        {300.0, 7ul, 0, "maxSize must be at least 1"},
        {std::numeric_limits<double>::quiet_NaN(), 7ul, 10,
         "masterDate must be a tick count between 0 and 4294967295"},
        {HUGE_VAL, 7ul, 10, "masterDate must be a tick count between 0 and 4294967295"},
        {-1.0, 7ul, 10, "masterDate must be a tick count between 0 and 4294967295"},
        {1e300, 7ul, 10, "masterDate must be a tick count between 0 and 4294967295"},
    };
    if (kLongIsWide)
        cases.push_back({300.0, static_cast<unsigned long>(std::numeric_limits<uint32_t>::max()) + 1, 10,
                         "offset does not fit in 32 bits"});
    for (const Case& c : cases) {
        offsetsByMasterDate coll = before;
        EXPECT_EQ(fromMultiSync(c.message),
                  refusalOf([&] { pushOffsetInOffsetsByMasterDateColl(c.date, c.offset, coll, c.maxSize); }));
        EXPECT_EQ(coll, before) << c.message;
    }
}

// --- drift and reference offset ----------------------------------------------------------------

TEST(DriftAndOffset, ALineOfSlope1e6Gives25TicksPerSecondAndTheOffsetAtTheSlaveSecond)
{
    // Slope 0.000001, intercept 1000, newest master date 1,000,000.
    const offsetsByMasterDate coll = {{0.0, 1000ul}, {1000000.0, 1001ul}};
    EXPECT_EQ(computeDriftAndOffset(coll, 0.0), std::make_pair(25ul, 1001ul));      // 1001.5 truncated
    EXPECT_EQ(computeDriftAndOffset(coll, 700000.0), std::make_pair(25ul, 1000ul)); // 1000.8 truncated
}

TEST(DriftAndOffset, DriftIsRoundedAndNegativeDriftIsA24BitTwosComplement)
{
    const double second = 24576000.0;
    EXPECT_EQ(computeDriftAndOffset({{0.0, 777ul}, {second, 777ul}, {5 * second, 777ul}}, 0.0),
              std::make_pair(0ul, 777ul));
    EXPECT_EQ(computeDriftAndOffset({{0.0, 1000000ul}, {second, 999997ul}}, 0.0).first, 16777213ul);
    EXPECT_EQ(computeDriftAndOffset({{0.0, 1000000ul}, {second, 999998ul}}, 0.0).first, 0xFFFFFEul);
    EXPECT_EQ(computeDriftAndOffset({{0.0, 1000000ul}, {10 * second, 1000024ul}}, 0.0).first, 2ul); // 2.4
    EXPECT_EQ(computeDriftAndOffset({{0.0, 1000000ul}, {10 * second, 1000026ul}}, 0.0).first, 3ul); // 2.6
    EXPECT_EQ(computeDriftAndOffset({{0.0, 1000026ul}, {10 * second, 1000000ul}}, 0.0).first,
              16777213ul); // -2.6
    EXPECT_EQ(computeDriftAndOffset({{0.0, 1000024ul}, {10 * second, 1000000ul}}, 0.0).first,
              16777214ul); // -2.4
}

// A fitted drift between -0.5 and 0 takes the negative branch of the
// rounding: trunc(drift - 0.5) + 2^24 = 2^24. Its low 24 bits, all the sync
// register keeps, are those of 0.
TEST(DriftAndOffset, ADriftJustBelowZeroComesBackAs2To24)
{
    const double second = 24576000.0;
    const auto minusPoint3 = computeDriftAndOffset({{0.0, 1000003ul}, {10 * second, 1000000ul}}, 0.0);
    EXPECT_EQ(minusPoint3.first, 16777216ul);
    EXPECT_EQ(orvex::iidc::makeSyncQuadlet1(static_cast<uint32_t>(minusPoint3.first), 4), 4u);
    EXPECT_EQ(computeDriftAndOffset({{0.0, 1000000ul}, {10 * second, 1000003ul}}, 0.0).first, 0ul);
    EXPECT_EQ(computeDriftAndOffset({{0.0, 1000006ul}, {10 * second, 1000000ul}}, 0.0).first,
              16777215ul); // -0.6
}

TEST(DriftAndOffset, DriftsBeyond24BitsAreRefused)
{
    const double second = 24576000.0;
    // The extreme values of 24-bit two's complement still fit.
    EXPECT_EQ(computeDriftAndOffset({{0.0, 1000000000ul}, {second, 1000000000ul - 8388608ul}}, 0.0).first,
              0x800000ul);
    EXPECT_EQ(computeDriftAndOffset({{0.0, 1000000000ul}, {second, 1000000000ul + 8388607ul}}, 0.0).first,
              0x7FFFFFul);
    EXPECT_EQ(fromMultiSync("fitted drift does not fit in 24 bits"), refusalOf([&] {
                  computeDriftAndOffset({{0.0, 1000000000ul}, {second, 1000000000ul + 8388608ul}}, 0.0);
              }));
    // All offsets measured at one date: a vertical line.
    EXPECT_EQ(fromMultiSync("fitted drift does not fit in 24 bits"), refusalOf([] {
                  computeDriftAndOffset({{5.0, 100ul}, {5.0, 200ul}}, 0.0);
              }));
}

TEST(DriftAndOffset, ReferenceOffsetIsBroughtIntoTheWrapPeriod)
{
    // Extrapolated to -1.2: -1.2 + 0.5 = -0.7, plus the period, truncated.
    EXPECT_EQ(computeDriftAndOffset({{0.0, 0ul}, {10.0, 1ul}}, 22.0).second, 3145727999ul);
    // Offsets kept above the period in the history (continuity across a wrap).
    EXPECT_EQ(computeDriftAndOffset({{0.0, 3145728100ul}, {1e6, 3145728100ul}}, 0.0).second, 100ul);
    EXPECT_EQ(computeDriftAndOffset({{0.0, 0xFFFFFFFFul}, {1e6, 0xFFFFFFFFul}}, 0.0).second,
              0xFFFFFFFFul - kWrap32); // 4,294,967,295.5 less one period
    // At the period and one tick below.
    EXPECT_EQ(computeDriftAndOffset({{0.0, kWrap32}, {1e6, kWrap32}}, 0.0).second, 0ul);
    EXPECT_EQ(computeDriftAndOffset({{0.0, kWrap32 - 1}, {1e6, kWrap32 - 1}}, 0.0).second, kWrap32 - 1);
    // Extrapolated to exactly -0.5: 0. A hair below it: the last tick of
    // the period, never the period itself.
    EXPECT_EQ(computeDriftAndOffset({{0.0, 0ul}, {10.0, 1ul}}, 15.0).second, 0ul);
    EXPECT_EQ(computeDriftAndOffset({{0.0, 0ul}, {10.0, 1ul}}, 15.000000001).second, kWrap32 - 1);
}

TEST(DriftAndOffset, HistoryOffsetsAreRead32BitWide)
{
    if (!kLongIsWide)
        GTEST_SKIP() << "unsigned long is 32-bit here";
    const unsigned long wide = static_cast<unsigned long>(std::numeric_limits<uint32_t>::max()) + 1;
    EXPECT_EQ(computeDriftAndOffset({{0.0, wide + 5}, {1e6, wide + 5}}, 0.0), std::make_pair(0ul, 5ul));
}

TEST(DriftAndOffset, AHistoryAtOnePointGivesItsOffsetWithoutDrift)
{
    EXPECT_EQ(computeDriftAndOffset({{42.0, 123456ul}, {42.0, 123456ul}}, 0.0),
              std::make_pair(0ul, 123456ul));
}

TEST(DriftAndOffset, RefusesShortHistoriesAndUnusableReferences)
{
    EXPECT_EQ(fromMultiSync("collection offsetsByMasterDate contains less than 2 elements"),
              refusalOf([] { computeDriftAndOffset({}, 0.0); }));
    EXPECT_EQ(fromMultiSync("collection offsetsByMasterDate contains less than 2 elements"), refusalOf([] {
                  computeDriftAndOffset({{1.0, 2ul}}, 0.0);
              }));
    EXPECT_EQ(fromMultiSync("the fitted line gives no finite drift and offset"), refusalOf([] {
                  computeDriftAndOffset({{0.0, 1ul}, {1e6, 2ul}}, std::numeric_limits<double>::quiet_NaN());
              }));
    EXPECT_EQ(fromMultiSync("the fitted line gives no finite drift and offset"), refusalOf([] {
                  computeDriftAndOffset({{0.0, 1ul}, {1e6, 2ul}}, -HUGE_VAL);
              }));
}

TEST(DriftAndOffset, IsTracedAndAFailureLeavesAtError)
{
    const offsetsByMasterDate coll = {{0.0, 1000ul}, {1000000.0, 1001ul}};
    {
        LogCapture capture("Orvex", log4cplus::TRACE_LOG_LEVEL);
        computeDriftAndOffset(coll, 0.0);
        const auto lines = capture.lines();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0].message, "Entering computeDriftAndOffset(...).");
        const std::string prefix = "Leaving computeDriftAndOffset(...). entered at = ";
        EXPECT_EQ(lines[1].message.compare(0, prefix.size(), prefix), 0) << lines[1].message;
        EXPECT_NE(lines[1].message.find(" ms; user mode duration = "), std::string::npos) << lines[1].message;
    }
    {
        LogCapture capture("Orvex", log4cplus::INFO_LOG_LEVEL);
        computeDriftAndOffset(coll, 0.0);
        EXPECT_TRUE(capture.lines().empty());

        EXPECT_THROW(computeDriftAndOffset({}, 0.0), OrvexError);
        const auto lines = capture.lines();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0].level, orvex::kLevelError);
        EXPECT_EQ(lines[0].message, "collection offsetsByMasterDate contains less than 2 elements");
        EXPECT_EQ(lines[1].level, orvex::kLevelError);
        EXPECT_EQ(lines[1].message, "Leaving  because of exception.");
    }
}
