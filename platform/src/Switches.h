// Process-wide test switches, read by the functions whose behaviour they
// change (see <orvex/win32_testing.h>).
#pragma once

#include <orvex/win32_testing.h>

namespace orvex::win32::detail {

DWORD tickCountOffset();
// The system time as the test switches make it, from the real one (100 ns
// units since 1601).
uint64_t switchedSystemTime(uint64_t realHundredNanoseconds);
testing::Wow64 wow64Mode();

} // namespace orvex::win32::detail
