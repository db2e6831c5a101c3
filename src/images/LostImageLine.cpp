// The log line that reports an image dropped from an images buffer.
#include "images/LostImageLine.h"

#include "images/ImagesTexts.h"

#include <charconv>
#include <cstdint>

namespace orvex::images {

namespace {

// Large enough for any double in fixed notation (up to 309 integer digits).
constexpr size_t kNumberCapacity = 330;

template <typename... Format> void appendNumber(std::string& line, Format... format)
{
    char digits[kNumberCapacity];
    const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, format...);
    line.append(digits, end.ptr);
}

} // namespace

std::string composeLostImageLine(const void* buffer, unsigned long idx, double hwDate, int shutter, int gain)
{
    std::string line;
    line.reserve(128);
    line += kLostLineHead;
    appendNumber(line, reinterpret_cast<uintptr_t>(buffer), 16);
    line += kLostLineId;
    appendNumber(line, idx);
    line += kLostLineHwDate;
    appendNumber(line, hwDate, std::chars_format::fixed, 3);
    line += kLostLineShutter;
    appendNumber(line, shutter);
    line += kLostLineGain;
    appendNumber(line, gain);
    line += kLostLineTail;
    return line;
}

} // namespace orvex::images
