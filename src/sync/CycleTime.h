// The wrap period and tick counts the clock synchronisation computes with,
// over the cycle-time register layout of <orvex/iidc/Registers.h>.
//
// All arithmetic is 32-bit unsigned, as on the cameras and the 32-bit target.
// Pure functions, any thread.
#pragma once

#include "sync/MultiSyncUnit.h"

#include <orvex/OrvexError.h>
#include <orvex/iidc/Registers.h>

#include <cstdint>

constexpr uint32_t nb_ticks_in_1_second = orvex::iidc::kTicksPerSecond; // 24,576,000
// 128 s of ticks, not 120: the period after which the 7-bit seconds field
// wraps, and so the wrap period of every date and offset.
constexpr uint32_t nb_ticks_in_2_minutes = orvex::iidc::kTicksPerWrap; // 0xBB800000
constexpr double nb_ticks_in_2_minutes_as_double = nb_ticks_in_2_minutes;
// Two consecutive offsets further apart than this straddle a wrap.
constexpr uint32_t half_nb_ticks_in_2_minutes = nb_ticks_in_2_minutes / 2; // 0x5DC00000

// Ticks since the clock's last wrap. The cycle field is taken as read: a
// count of 8000 or more gives nb_ticks_in_2_minutes or more, which
// computeOffset then refuses.
constexpr uint32_t cycleTimeToTicks(uint32_t quadlet)
{
    return orvex::iidc::cycleTimeToTicks(quadlet);
}

// The register quadlet of a tick count below nb_ticks_in_2_minutes; a larger
// count has no seconds field and throws OrvexError.
inline uint32_t ticksToCycleTime(uint32_t ticks)
{
    if (ticks >= nb_ticks_in_2_minutes)
        ORVEX_THROW(orvex::kMultiSyncUnit, "ticks is greater than nb_ticks_in_2_minutes");
    return orvex::iidc::ticksToCycleTime(ticks);
}
