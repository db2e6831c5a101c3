// Camera-identity library: parsing, formatting and comparing a camera's
// 64-bit identifier.
#include <orvex/companions/CamGUID.h>

#include <cctype>
#include <cstdio>
#include <stdexcept>

namespace {

constexpr std::size_t kMaxDigits = 16;

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    const int lower = std::tolower(static_cast<unsigned char>(c));
    if (lower >= 'a' && lower <= 'f')
        return lower - 'a' + 10;
    return -1;
}

} // namespace

CamGUID::~CamGUID() = default;

std::string CamGUID::to_string() const
{
    char text[kMaxDigits + 1];
    std::snprintf(text, sizeof text, "%08X%08X", static_cast<unsigned>(_nHigh), static_cast<unsigned>(_nLow));
    return text;
}

void CamGUID::from_string(const std::string& text)
{
    std::size_t pos = 0;
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        pos = 2;
    const std::size_t digits = text.size() - pos;
    if (digits == 0 || digits > kMaxDigits)
        throw std::invalid_argument("invalid camera identifier: \"" + text + "\"");
    uint64_t value = 0;
    for (; pos < text.size(); ++pos) {
        const int digit = hexDigitValue(text[pos]);
        if (digit < 0)
            throw std::invalid_argument("invalid camera identifier: \"" + text + "\"");
        value = (value << 4) | static_cast<uint64_t>(digit);
    }
    _nLow = static_cast<uint32_t>(value);
    _nHigh = static_cast<uint32_t>(value >> 32);
}
