// The local date-time with microsecond resolution that the staleness rule
// between ticks measures: the system time (GetSystemTimeAsFileTime, which
// tests can shift) converted to local time. Any thread.
#pragma once

#include <boost/date_time/posix_time/posix_time_types.hpp>

namespace orvex::sync {

boost::posix_time::ptime localTimeNow();

} // namespace orvex::sync
