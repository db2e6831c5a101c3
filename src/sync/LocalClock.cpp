// The local date-time with microsecond resolution that the staleness rule
// measures.
#include "sync/LocalClock.h"

#include <orvex/win32.h>

#include <boost/date_time/c_local_time_adjustor.hpp>
#include <boost/date_time/gregorian/gregorian_types.hpp>

#include <cstdint>

namespace orvex::sync {

namespace {
constexpr int64_t kHundredNanosecondsPerMicrosecond = 10;
} // namespace

boost::posix_time::ptime localTimeNow()
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const uint64_t sinceEpoch = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    // FILETIME counts 100 ns intervals from 1601-01-01, UTC.
    const boost::posix_time::ptime utc =
        boost::posix_time::ptime(boost::gregorian::date(1601, 1, 1)) +
        boost::posix_time::microseconds(static_cast<int64_t>(sinceEpoch) / kHundredNanosecondsPerMicrosecond);
    return boost::date_time::c_local_adjustor<boost::posix_time::ptime>::utc_to_local(utc);
}

} // namespace orvex::sync
