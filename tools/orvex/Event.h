// An auto-reset Win32 event, closed with its owner.
#pragma once

#include <orvex/win32.h>

namespace orvex::cli {

class Event {
public:
    Event() : _handle(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}
    ~Event()
    {
        if (_handle != nullptr)
            CloseHandle(_handle);
    }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    HANDLE get() const { return _handle; }

private:
    HANDLE _handle;
};

} // namespace orvex::cli
