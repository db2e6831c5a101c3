// Conversions between POSIX times and FILETIME units (100 ns).
#pragma once

#include <ctime>

#include <orvex/win32/time.h>

namespace orvex::win32::detail {

FILETIME toFileTime(uint64_t hundredNanoseconds);
uint64_t timespecToHundredNanoseconds(const timespec& time);
// The current UTC time as 100 ns intervals since 1601.
uint64_t systemTimeAsHundredNanoseconds();

} // namespace orvex::win32::detail
