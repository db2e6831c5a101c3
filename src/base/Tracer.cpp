// Scoped entry and exit tracer: the trace lines at construction and
// destruction.
#include <orvex/Tracer.h>

#include <orvex/Loggers.h>
#include <orvex/Types.h>
#include <orvex/win32.h>

#include <exception>
#include <sstream>

namespace {

// Thread times come in 100 ns units; the trace speaks in milliseconds and,
// like the 32-bit tick count, in 32 bits.
uint32_t fileTimeToMilliseconds(const FILETIME& time)
{
    const uint64_t hundredNs = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return static_cast<uint32_t>(hundredNs / 10000u);
}

bool readThreadTimes(uint32_t& kernelMs, uint32_t& userMs)
{
    FILETIME creation{}, exit{}, kernel{}, user{};
    if (!GetThreadTimes(GetCurrentThread(), &creation, &exit, &kernel, &user))
        return false;
    kernelMs = fileTimeToMilliseconds(kernel);
    userMs = fileTimeToMilliseconds(user);
    return true;
}

} // namespace

Tracer::Tracer(const std::string& message, const log4cplus::Logger& logger, int level)
    : _strMessage(message), _logger(logger), _nLevel(level), _nUncaughtAtEntry(std::uncaught_exceptions())
{
    if (!_logger.isEnabledFor(_nLevel))
        return;
    _logger.forcedLog(_nLevel, "Entering " + _strMessage + ".", __FILE__, __LINE__);
    if (_nLevel < 1) {
        _nEntryTicks = GetTickCount();
        _bEntryTimesValid = readThreadTimes(_nEntryKernelMs, _nEntryUserMs);
    }
}

Tracer::~Tracer()
{
    try {
        uint32_t exitKernelMs = 0;
        uint32_t exitUserMs = 0;
        const bool timesValid = _bEntryTimesValid && readThreadTimes(exitKernelMs, exitUserMs);
        // Only an exception thrown inside the traced scope counts, not one
        // that was already unwinding when the tracer was built.
        const bool failing = std::uncaught_exceptions() > _nUncaughtAtEntry;
        const int exitLevel = failing && _nLevel < orvex::kLevelError ? orvex::kLevelError : _nLevel;
        if (!_logger.isEnabledFor(exitLevel))
            return;
        std::ostringstream line;
        line << "Leaving " << _strMessage << (failing ? " because of exception." : ".");
        if (timesValid) {
            const uint32_t exitTicks = GetTickCount();
            line << " entered at = " << _nEntryTicks << " ms; left at = " << exitTicks
                 << " ms; absolute duration = " << static_cast<uint32_t>(exitTicks - _nEntryTicks)
                 << " ms; kernel mode duration = " << static_cast<uint32_t>(exitKernelMs - _nEntryKernelMs)
                 << " ms; user mode duration = " << static_cast<uint32_t>(exitUserMs - _nEntryUserMs)
                 << " ms";
        }
        _logger.forcedLog(exitLevel, line.str(), __FILE__, __LINE__);
    } catch (...) {
        // A destructor that logs must never throw: losing one trace line is
        // better than terminating the host.
    }
}

bool isTracing()
{
    return g_OrvexLogger.isEnabledFor(orvex::kLevelTrace);
}
