// A scope that opened no Tracer because its logger was not enabled for the
// tracer's level when the scope began (a hot path reads the level once and
// skips the tracer's cost), and that still owes the line such a tracer
// writes when an exception leaves it.
#pragma once

#include <log4cplus/logger.h>

namespace orvex {

// Writes what a Tracer built with an empty message at `level` on `logger`
// writes when an exception leaves its scope: "Leaving  because of
// exception.", at ERROR at least, if the logger is enabled for that. Call
// from the handler that rethrows.
void traceUntracedScopeFailed(const log4cplus::Logger& logger, int level) noexcept;

} // namespace orvex
