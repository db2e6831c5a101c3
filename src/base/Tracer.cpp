// Scoped entry and exit tracer: the trace lines at construction and
// destruction.
#include <orvex/Tracer.h>

#include "base/UntracedScope.h"

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

namespace {

// A tracer's entry figures, for the leaving line.
struct EntryTimes {
    uint32_t ticks;
    uint32_t kernelMs;
    uint32_t userMs;
};

int leavingLevel(int level, bool failing)
{
    return failing && level < orvex::kLevelError ? orvex::kLevelError : level;
}

// The leaving line, at the level leavingLevel gives; every tracer's comes
// from here.
void logLeaving(const log4cplus::Logger& logger, int level, const std::string& message, bool failing,
                const EntryTimes* entry)
{
    uint32_t exitKernelMs = 0;
    uint32_t exitUserMs = 0;
    const bool timesValid = entry != nullptr && readThreadTimes(exitKernelMs, exitUserMs);
    const int exitLevel = leavingLevel(level, failing);
    if (!logger.isEnabledFor(exitLevel))
        return;
    std::ostringstream line;
    line << "Leaving " << message << (failing ? " because of exception." : ".");
    if (timesValid) {
        const uint32_t exitTicks = GetTickCount();
        line << " entered at = " << entry->ticks << " ms; left at = " << exitTicks
             << " ms; absolute duration = " << static_cast<uint32_t>(exitTicks - entry->ticks)
             << " ms; kernel mode duration = " << static_cast<uint32_t>(exitKernelMs - entry->kernelMs)
             << " ms; user mode duration = " << static_cast<uint32_t>(exitUserMs - entry->userMs) << " ms";
    }
    logger.forcedLog(exitLevel, line.str(), __FILE__, __LINE__);
}

} // namespace

Tracer::~Tracer()
{
    try {
        // Only an exception thrown inside the traced scope counts, not one
        // that was already unwinding when the tracer was built.
        const bool failing = std::uncaught_exceptions() > _nUncaughtAtEntry;
        const EntryTimes entry{_nEntryTicks, _nEntryKernelMs, _nEntryUserMs};
        logLeaving(_logger, _nLevel, _strMessage, failing, _bEntryTimesValid ? &entry : nullptr);
    } catch (...) {
        // A destructor that logs must never throw: losing one trace line is
        // better than terminating the host.
    }
}

namespace orvex {

void traceUntracedScopeFailed(const log4cplus::Logger& logger, int level) noexcept
{
    try {
        logLeaving(logger, level, std::string(), true, nullptr);
    } catch (...) {
        // As a tracer's destructor: the exception on its way matters more.
    }
}

} // namespace orvex

bool isTracing()
{
    return g_OrvexLogger.isEnabledFor(orvex::kLevelTrace);
}
