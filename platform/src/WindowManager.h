// Window classes and windows (internal). Everything here: kernel lock held.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <orvex/win32/window.h>

#include "Kernel.h"

namespace orvex::win32::detail {

struct WindowClass {
    std::string key; // lower-case name: class names are case-insensitive
    ATOM atom = 0;
    WNDCLASSEXA info{}; // the name pointers are not kept
    bool system = false;
    int windows = 0; // live windows of the class
};

struct Window {
    HWND handle = nullptr;
    std::shared_ptr<WindowClass> windowClass;
    ThreadContext* owner = nullptr; // valid while the window lives
    WNDPROC procedure = nullptr;
    LONG_PTR userData = 0;
    LONG style = 0;
    LONG exStyle = 0;
    LONG_PTR id = 0;
    HINSTANCE instance = nullptr;
    HWND parent = nullptr; // NULL or HWND_MESSAGE
    std::vector<unsigned char> extraBytes;
    bool destroying = false; // between WM_DESTROY and the end of DestroyWindow
};

// A live window (also while it is being destroyed), or nullptr.
std::shared_ptr<Window> findWindow(HWND hwnd);

// Removes every window of a thread that ends, without calling procedures.
void destroyWindowsOfThread(ThreadContext& thread);

} // namespace orvex::win32::detail
