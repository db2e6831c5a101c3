// Process-wide test switches, read by the functions whose behaviour they
// change (see <orvex/win32_testing.h>).
#pragma once

#include <orvex/win32_testing.h>

namespace orvex::win32::detail {

DWORD tickCountOffset();
testing::Wow64 wow64Mode();

} // namespace orvex::win32::detail
