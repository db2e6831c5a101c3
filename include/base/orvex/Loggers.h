// The library's four loggers, obtained by name while the library loads (in
// this order) and alive until it unloads. Shared by every thread: log4cplus
// serialises output.
#pragma once

#include <orvex/Export.h>

#include <log4cplus/logger.h>

// "Orvex": errors, tracer lines and every other diagnostic.
extern ORVEX_API log4cplus::Logger g_OrvexLogger;
// "Orvex.config": smart-feature switching.
extern ORVEX_API log4cplus::Logger g_OrvexCfgLogger;
// "Orvex.stream": one line per image.
extern ORVEX_API log4cplus::Logger g_OrvexStreamLogger;
// "Orvex.lostStream": images dropped from an images buffer.
extern ORVEX_API log4cplus::Logger g_OrvexLostStreamLogger;

namespace orvex {
constexpr const char* kLoggerName = "Orvex";
constexpr const char* kCfgLoggerName = "Orvex.config";
constexpr const char* kStreamLoggerName = "Orvex.stream";
constexpr const char* kLostStreamLoggerName = "Orvex.lostStream";
} // namespace orvex
