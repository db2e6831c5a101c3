// Trace texts of the FlyCapture classes. The text is built only when "Orvex"
// traces; otherwise the tracer gets an empty message, as everywhere in the
// library. Any thread.
#pragma once

#include <orvex/Loggers.h>
#include <orvex/Tracer.h>
#include <orvex/Types.h>

#include "flycap/JoinedText.h"

#include <string>

namespace orvex::flycap {

// The parts joined, when "Orvex" traces.
template <class... Parts> std::string traceText(const Parts&... parts)
{
    if (!isTracing()) {
        return std::string();
    }
    return joined(parts...);
}

inline const char* boolText(bool value)
{
    return value ? "true" : "false";
}

} // namespace orvex::flycap

// Opens the operation's tracer for the rest of the scope.
#define FLYCAP_TRACE(...)                                                                                    \
    const Tracer flycapTracer(::orvex::flycap::traceText(__VA_ARGS__), g_OrvexLogger, ::orvex::kLevelTrace)
