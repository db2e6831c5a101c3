// JSON texts for the viewer's answers, written directly: a handful of flat
// objects do not need a library.
#pragma once

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>

namespace orvex::cli {

// `text` as a JSON string, quotes included. Control characters are escaped;
// bytes above 0x7F pass as they are (the library's texts are UTF-8 or ASCII).
inline std::string jsonString(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// A number, or null when it is not finite (JSON has no NaN).
inline std::string jsonNumber(double value)
{
    if (!std::isfinite(value))
        return "null";
    std::ostringstream out;
    out.precision(12);
    out << value;
    return out.str();
}

} // namespace orvex::cli
