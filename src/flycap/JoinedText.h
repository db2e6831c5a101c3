// Message texts built from parts: each part is streamed in turn, numbers as
// a host reads them, and a manipulator such as std::hex applies to the
// parts after it. Any thread.
#pragma once

#include <sstream>
#include <string>

namespace orvex::flycap {

template <class... Parts> std::string joined(const Parts&... parts)
{
    std::ostringstream text;
    (text << ... << parts);
    return text.str();
}

} // namespace orvex::flycap
