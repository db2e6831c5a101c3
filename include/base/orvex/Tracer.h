// Scoped entry and exit tracer.
//
// Built on the stack of the calling thread, it logs "Entering <message>."
// when its logger is enabled for its level and, at TRACE, notes the tick
// count and the thread's kernel and user times. Its destructor logs the
// leaving line, at ERROR at least when an exception is propagating, so a
// failing operation is visible even with TRACE off. Reads only the calling
// thread's own times; never throws from the destructor.
#pragma once

#include <orvex/Export.h>

#include <log4cplus/logger.h>

#include <cstdint>
#include <string>

class ORVEX_API Tracer {
public:
    Tracer(const std::string& message, const log4cplus::Logger& logger, int level);
    ~Tracer();

    Tracer(const Tracer&) = delete;
    Tracer& operator=(const Tracer&) = delete;

private:
    std::string _strMessage;
    log4cplus::Logger _logger;
    int _nLevel;
    int _nUncaughtAtEntry;
    uint32_t _nEntryTicks = 0;
    uint32_t _nEntryKernelMs = 0;
    uint32_t _nEntryUserMs = 0;
    bool _bEntryTimesValid = false;
};

// Whether callers should spend time building a trace message: the library
// passes an empty message when "Orvex" is not enabled for TRACE.
ORVEX_API bool isTracing();
