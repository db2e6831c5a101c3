// The 1394 cycle-time register layout and the linear tick counts the clock
// synchronisation computes with.
//
// Register quadlet: bits 31..25 seconds (0..127), bits 24..12 cycle count
// (0..7999), bits 11..0 cycle offset (0..3071). One tick is 1/24,576,000 s.
// All arithmetic is 32-bit unsigned, as on the cameras and the 32-bit target.
//
// Pure functions, any thread.
#pragma once

#include "sync/MultiSyncUnit.h"

#include <orvex/OrvexError.h>

#include <cstdint>

constexpr uint32_t nb_ticks_in_1_cycle = 3072;
constexpr uint32_t nb_cycles_in_1_second = 8000;
constexpr uint32_t nb_ticks_in_1_second = nb_cycles_in_1_second * nb_ticks_in_1_cycle; // 24,576,000
// 128 s of ticks, not 120: the period after which the 7-bit seconds field
// wraps, and so the wrap period of every date and offset.
constexpr uint32_t nb_ticks_in_2_minutes = 128 * nb_ticks_in_1_second; // 0xBB800000
constexpr double nb_ticks_in_2_minutes_as_double = 3145728000.0;
// Two consecutive offsets further apart than this straddle a wrap.
constexpr uint32_t half_nb_ticks_in_2_minutes = nb_ticks_in_2_minutes / 2; // 0x5DC00000

static_assert(nb_ticks_in_2_minutes == 0xBB800000u, "wrap period of the cycle clock");
static_assert(static_cast<double>(nb_ticks_in_2_minutes) == nb_ticks_in_2_minutes_as_double,
              "both forms of the wrap period agree");
static_assert(half_nb_ticks_in_2_minutes == 0x5DC00000u, "half the wrap period");

// Ticks since the clock's last wrap. The cycle field is taken as read: a
// count of 8000 or more gives nb_ticks_in_2_minutes or more, which
// computeOffset then refuses.
constexpr uint32_t cycleTimeToTicks(uint32_t quadlet)
{
    const uint32_t seconds = quadlet >> 25;
    const uint32_t cycles = (quadlet >> 12) & 0x1FFFu;
    const uint32_t offset = quadlet & 0xFFFu;
    return (seconds * nb_cycles_in_1_second + cycles) * nb_ticks_in_1_cycle + offset;
}

// The register quadlet of a tick count below nb_ticks_in_2_minutes; a larger
// count has no seconds field and throws OrvexError.
inline uint32_t ticksToCycleTime(uint32_t ticks)
{
    if (ticks >= nb_ticks_in_2_minutes)
        ORVEX_THROW(orvex::kMultiSyncUnit, "ticks is greater than nb_ticks_in_2_minutes");
    const uint32_t seconds = ticks / nb_ticks_in_1_second;
    const uint32_t cycles = ticks / nb_ticks_in_1_cycle - seconds * nb_cycles_in_1_second;
    const uint32_t remainder = ticks % nb_ticks_in_1_cycle;
    return (seconds << 25) + (cycles << 12) + remainder;
}
