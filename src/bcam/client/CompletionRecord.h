// What travels through a device's completion port: the overlapped block of
// a grab, or of a posted notification, followed by the message and the
// caller's context. Allocated by the issuer, freed by the waiter that
// dequeues it (28 bytes on the 32-bit target).
#pragma once

#include <orvex/win32.h>

namespace Bcam::detail {

struct CompletionRecord {
    CompletionRecord();
    ~CompletionRecord();
    CompletionRecord(const CompletionRecord&) = delete;
    CompletionRecord& operator=(const CompletionRecord&) = delete;

    OVERLAPPED overlapped{}; // first: the port hands back its address
    DWORD message = 0;
    DWORD context = 0;
};

// The records allocated and not yet freed, process-wide: none may be lost.
long liveCompletionRecords();

static_assert(sizeof(void*) != 4 || sizeof(CompletionRecord) == 28, "a completion record is 28 bytes");

inline CompletionRecord* recordOf(OVERLAPPED* overlapped)
{
    return reinterpret_cast<CompletionRecord*>(overlapped);
}

} // namespace Bcam::detail
