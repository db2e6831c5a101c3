// The line that reports an image dropped from an images buffer.
#pragma once

#include <string>

namespace orvex::images {

// "image suppressed from imageBuffer 0x<buffer address, lower-case hex>
// (became obsolete): (id:<idx>, hwDate:<hwDate, fixed, 3 decimals>,
// shutter:<shutter>, gain:<gain>)". Independent of the locale. Any thread.
std::string composeLostImageLine(const void* buffer, unsigned long idx, double hwDate, int shutter, int gain);

} // namespace orvex::images
