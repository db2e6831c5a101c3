// How a fitted drift and offset become the two numbers of the sync block,
// shared by the least-squares fit and field mode's tracker. Pure, any thread.
#pragma once

#include <cstdint>

namespace orvex::sync {

// Into 0 .. wrap period by whole periods; the caller has added the half tick
// that makes this truncation a rounding.
uint32_t truncatedIntoWrap(double offset);
// Ticks per second rounded half away from zero, a negative drift as 24-bit
// two's complement. Throws OrvexError when it does not fit in 24 bits.
uint32_t encodedDrift(double drift);

} // namespace orvex::sync
