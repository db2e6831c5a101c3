// The library's hidden windows: one disabled pop-up window per object that
// receives posted messages and timers (cameras, video servers, the
// synchronisation controller), of a window class registered once per
// process and reused, with the object's address in the window's user data.
//
// A window belongs to the thread that created it: its procedure runs there,
// when that thread dispatches messages, and only that thread can destroy it.
#pragma once

#include <orvex/win32.h>

#include <string>

namespace orvex {

// The system's text for a Win32 error number (FormatMessageA from the system
// table, default language, at most 260 characters), without the trailing
// line break; "system error <n>" when the system has none. Any thread.
std::string systemErrorText(DWORD error);

// After a failed class lookup: ERROR_CLASS_DOES_NOT_EXIST lets the caller
// register the class; any other error means the process's window state is
// broken and throws OrvexFatalError with the system's text.
void throwIfClassLookupFatal(DWORD error, const char* unit);

// Registers `className` with `procedure` unless a class of that name exists.
// Throws OrvexFatalError when the class lookup fails other than with
// ERROR_CLASS_DOES_NOT_EXIST, OrvexError when registering fails; both carry
// the system's text and `unit` as source unit. Any thread.
void ensureWindowClass(const char* className, WNDPROC procedure, const char* unit);

class HiddenWindow {
public:
    HiddenWindow() = default;
    // Registers the class if needed (ensureWindowClass), creates the window on
    // the calling thread and stores `owner` in its user data. Throws as
    // ensureWindowClass does, and OrvexError with the system's text when the
    // window cannot be created or take its user data (the window is then
    // destroyed and the class unregistered).
    HiddenWindow(const char* className, WNDPROC procedure, void* owner, const char* unit);
    ~HiddenWindow() { destroy(); }

    HiddenWindow(HiddenWindow&& other) noexcept;
    HiddenWindow& operator=(HiddenWindow&& other) noexcept;
    HiddenWindow(const HiddenWindow&) = delete;
    HiddenWindow& operator=(const HiddenWindow&) = delete;

    // Detaches the owner (messages still queued then reach nobody), destroys
    // the window and unregisters its class unless other windows use it.
    // Called from another thread than the owner, it asks the owning thread
    // to close the window instead. Never throws.
    void destroy() noexcept;

    HWND handle() const { return _hWnd; }
    explicit operator bool() const { return _hWnd != nullptr; }

    // The owner a window carries, or null (during creation, after destroy()).
    // Window-owning thread, inside the procedure.
    template <class Owner> static Owner* ownerOf(HWND wnd)
    {
        return reinterpret_cast<Owner*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
    }

private:
    HWND _hWnd = nullptr;
    std::string _className;
};

} // namespace orvex
