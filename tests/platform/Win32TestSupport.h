// Small helpers for the tests of the Win32 subset: a window class that
// records what its procedure receives, a hidden window, and a pump.
#pragma once

#include <gtest/gtest.h>

#include <orvex/win32.h>
#include <orvex/win32_owned.h>

#include <string>
#include <vector>

namespace orvex::win32::test {

// What a window procedure received, in order.
struct Received {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// Messages delivered to RecordingWindow procedures on the calling thread.
inline std::vector<Received>& received()
{
    thread_local std::vector<Received> messages;
    return messages;
}

inline LRESULT CALLBACK recordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    received().push_back({hwnd, message, wParam, lParam});
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// Registers a class for the lifetime of the object (and unregisters it).
class ScopedClass {
public:
    explicit ScopedClass(std::string name, WNDPROC proc = &recordingProc) : _name(std::move(name))
    {
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = proc;
        wc.lpszClassName = _name.c_str();
        _atom = RegisterClassExA(&wc);
    }
    ~ScopedClass() { UnregisterClassA(_name.c_str(), nullptr); }
    ScopedClass(const ScopedClass&) = delete;
    ScopedClass& operator=(const ScopedClass&) = delete;

    const char* name() const { return _name.c_str(); }
    ATOM atom() const { return _atom; }

private:
    std::string _name;
    ATOM _atom = 0;
};

// A disabled pop-up window of `className`, as the library creates them.
inline HWND createHiddenWindow(const char* className)
{
    return CreateWindowExA(0, className, "", WS_POPUP | WS_DISABLED, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                           nullptr);
}

// Owners: a window is destroyed at the end of the scope, on the thread that
// owns it; a kernel handle is closed.
using orvex::win32::OwnedHandle;
using orvex::win32::OwnedWindow;

// Removes and returns every message currently in the calling thread's queue
// that the filter admits (no dispatching).
inline std::vector<MSG> drainQueue(HWND filter = nullptr, UINT first = 0, UINT last = 0)
{
    std::vector<MSG> messages;
    MSG msg;
    while (PeekMessageA(&msg, filter, first, last, PM_REMOVE))
        messages.push_back(msg);
    return messages;
}

// A thread procedure must be WINAPI (stdcall on 32-bit Windows), which a
// lambda cannot be.
template <typename Body> DWORD WINAPI runBody(LPVOID parameter)
{
    (*static_cast<Body*>(parameter))();
    return 0;
}

// Starts a thread running `body` (any callable) and returns its handle.
template <typename Body> HANDLE startThread(Body& body)
{
    return CreateThread(nullptr, 0, &runBody<Body>, &body, 0, nullptr);
}

} // namespace orvex::win32::test
