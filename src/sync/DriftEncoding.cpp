// A fitted drift and offset as the two numbers of the sync block.
#include "sync/DriftEncoding.h"

#include "sync/CycleTime.h"
#include "sync/MultiSyncUnit.h"

#include <orvex/OrvexError.h>

#include <cmath>
#include <cstdint>

namespace {

constexpr double kWrap = nb_ticks_in_2_minutes_as_double;
// The sync register holds the drift in 24 bits, two's complement.
constexpr int64_t kDriftModulus = int64_t{1} << 24;
constexpr int64_t kLargestDrift = kDriftModulus / 2 - 1;
constexpr int64_t kSmallestDrift = -kDriftModulus / 2;
constexpr const char* kDriftTooLarge = "fitted drift does not fit in 24 bits";

} // namespace

namespace orvex::sync {

// Into 0 .. period; the half tick of rounding is already added, the integer
// is taken by truncation.
uint32_t truncatedIntoWrap(double offset)
{
    offset = std::fmod(offset, kWrap); // exact, the same as subtracting the period repeatedly
    if (offset < 0.0) {
        offset += kWrap;
        // A value a hair below zero rounds up to the period itself; its
        // truncation is the last tick of the period.
        if (offset >= kWrap)
            offset = std::nextafter(kWrap, 0.0);
    }
    return static_cast<uint32_t>(offset);
}

// Rounded half away from zero; a negative drift as 24-bit two's complement.
// The sign of the fitted drift picks the form, not the sign of the rounded
// value: a drift in (-0.5, 0) rounds to 0 and comes back as 2^24, whose low
// 24 bits (all the sync register keeps) are those of 0.
uint32_t encodedDrift(double drift)
{
    if (!(std::fabs(drift) < static_cast<double>(kDriftModulus)))
        ORVEX_THROW(kMultiSyncUnit, kDriftTooLarge);
    const bool bNegative = drift < 0.0;
    const int64_t rounded = static_cast<int64_t>(bNegative ? drift - 0.5 : drift + 0.5);
    if (rounded < kSmallestDrift || rounded > kLargestDrift)
        ORVEX_THROW(kMultiSyncUnit, kDriftTooLarge);
    return static_cast<uint32_t>(bNegative ? rounded + kDriftModulus : rounded);
}

} // namespace orvex::sync
