// A log line with the text a std::ostringstream set to std::fixed builds in
// the classic "C" locale, at a fraction of the cost: no stream to set up,
// no locale to consult, numbers through std::to_chars. For the lines
// written once per image. Any thread; one line per thread.
#pragma once

#include <charconv>
#include <locale>
#include <string>
#include <type_traits>

namespace orvex {

class ClassicLine {
public:
    // Whether a stream would write what this line writes: its numbers
    // follow the global locale, which a host may have changed.
    static bool matchesStreams() { return std::locale() == std::locale::classic(); }

    ClassicLine() { _text.reserve(kTypicalLength); }

    ClassicLine& operator<<(const char* text)
    {
        _text += text;
        return *this;
    }

    template <class Integer, std::enable_if_t<std::is_integral_v<Integer> && !std::is_same_v<Integer, bool> &&
                                                  !std::is_same_v<Integer, char>,
                                              int> = 0>
    ClassicLine& operator<<(Integer value)
    {
        char digits[24];
        const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, value);
        _text.append(digits, end.ptr);
        return *this;
    }

    // Fixed notation, six decimals: printf's "%.6f", which is what the stream does.
    ClassicLine& operator<<(double value)
    {
        // The longest double in fixed notation: sign, 309 digits, point, 6 decimals.
        char digits[320];
        const std::to_chars_result end =
            std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, kDecimals);
        _text.append(digits, end.ptr);
        return *this;
    }

    const std::string& str() const { return _text; }

private:
    static constexpr int kDecimals = 6; // a stream's default precision
    static constexpr std::size_t kTypicalLength = 192;
    std::string _text;
};

} // namespace orvex
