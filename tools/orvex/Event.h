// An auto-reset Win32 event, closed with its owner.
#pragma once

#include <orvex/win32.h>
#include <orvex/win32_owned.h>

namespace orvex::cli {

class Event : public win32::OwnedHandle {
public:
    Event() : win32::OwnedHandle(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}
};

} // namespace orvex::cli
