// The system message table: English texts of the error numbers this layer
// produces, with the trailing line break every Windows system message has.
#pragma once

#include <orvex/win32/base.h>

namespace orvex::win32::detail {

// The text for `messageId`, or nullptr when the table has none.
const char* systemMessageText(DWORD messageId);

} // namespace orvex::win32::detail
