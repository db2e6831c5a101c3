// The library's hidden windows: class registration, creation with the
// owner in the user data, and destruction on the owning thread.
#include "base/HiddenWindow.h"

#include <orvex/OrvexError.h>

#include <utility>

namespace orvex {
namespace {

constexpr DWORD kMessageTextCapacity = 260;

// Throws the recoverable error for the calling thread's last error.
[[noreturn]] void throwLastError(const char* unit, DWORD error)
{
    ORVEX_THROW(unit, systemErrorText(error));
}

} // namespace

std::string systemErrorText(DWORD error)
{
    char text[kMessageTextCapacity] = {};
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, kMessageTextCapacity, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
        message.pop_back();
    }
    if (message.empty()) {
        message = "system error " + std::to_string(error);
    }
    return message;
}

void throwIfClassLookupFatal(DWORD error, const char* unit)
{
    if (error != ERROR_CLASS_DOES_NOT_EXIST) {
        ORVEX_THROW_FATAL(unit, systemErrorText(error));
    }
}

void ensureWindowClass(const char* className, WNDPROC procedure, const char* unit)
{
    WNDCLASSEXA existing = {};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExA(nullptr, className, &existing)) {
        return;
    }
    throwIfClassLookupFatal(GetLastError(), unit);
    WNDCLASSEXA wndClass = {};
    wndClass.cbSize = sizeof wndClass;
    wndClass.lpfnWndProc = procedure;
    wndClass.lpszClassName = className;
    // Another thread may have registered it since the lookup: that is fine.
    if (RegisterClassExA(&wndClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        throwLastError(unit, GetLastError());
    }
}

HiddenWindow::HiddenWindow(const char* className, WNDPROC procedure, void* owner, const char* unit)
    : _className(className)
{
    ensureWindowClass(className, procedure, unit);
    _hWnd = CreateWindowExA(0, className, "", WS_POPUP | WS_DISABLED, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                            nullptr);
    if (_hWnd == nullptr) {
        throwLastError(unit, GetLastError());
    }
    SetLastError(ERROR_SUCCESS); // a previous value of 0 is not a failure
    if (SetWindowLongPtrA(_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owner)) == 0 &&
        GetLastError() != ERROR_SUCCESS) {
        const DWORD error = GetLastError();
        destroy();
        throwLastError(unit, error);
    }
}

HiddenWindow::HiddenWindow(HiddenWindow&& other) noexcept
    : _hWnd(std::exchange(other._hWnd, nullptr)), _className(std::move(other._className))
{
}

HiddenWindow& HiddenWindow::operator=(HiddenWindow&& other) noexcept
{
    if (this != &other) {
        destroy();
        _hWnd = std::exchange(other._hWnd, nullptr);
        _className = std::move(other._className);
    }
    return *this;
}

void HiddenWindow::destroy() noexcept
{
    const HWND wnd = std::exchange(_hWnd, nullptr);
    if (wnd == nullptr) {
        return;
    }
    SetWindowLongPtrA(wnd, GWLP_USERDATA, 0);
    if (!DestroyWindow(wnd)) {
        // Not the owning thread: its default processing of WM_CLOSE destroys
        // the window the next time it dispatches.
        PostMessageA(wnd, WM_CLOSE, 0, 0);
        return;
    }
    // Fails while other objects' windows use the class; it is reused then.
    UnregisterClassA(_className.c_str(), nullptr);
}

} // namespace orvex
