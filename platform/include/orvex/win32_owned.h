// Owners of Win32 handles: one type per kind of handle, each giving its
// handle back with the function Win32 pairs with it (CloseHandle,
// DestroyWindow, UnregisterDeviceNotification, SetupDiDestroyDeviceInfoList,
// RegCloseKey, FreeLibrary) when the owner goes. Movable, not copyable.
//
// Threads: an owner is used by one thread at a time. A window must be
// destroyed on the thread that created it, so an OwnedWindow ends there.
#pragma once

#include <orvex/win32.h>

#include <utility>

namespace orvex::win32 {

// Kind: `Handle` (the handle type), `isSet(h)` (false for both of the
// values Win32 uses for "no handle" where it has two) and `close(h)`.
template <class Kind> class Owned {
public:
    using Handle = typename Kind::Handle;

    Owned() = default;
    explicit Owned(Handle handle) : _handle(handle) {}
    ~Owned() { reset(); }

    Owned(Owned&& other) noexcept : _handle(other.release()) {}
    Owned& operator=(Owned&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;

    Handle get() const { return _handle; }
    explicit operator bool() const { return Kind::isSet(_handle); }

    // Gives the handle up without closing it.
    Handle release() noexcept { return std::exchange(_handle, Handle{}); }

    // Closes the handle held (if any) and takes `handle`.
    void reset(Handle handle = Handle{}) noexcept
    {
        const Handle old = std::exchange(_handle, handle);
        if (Kind::isSet(old))
            Kind::close(old);
    }

private:
    Handle _handle{};
};

namespace kinds {

// Events, threads, files, devices, completion ports: CreateFileA answers
// INVALID_HANDLE_VALUE where the others answer null.
struct Kernel {
    using Handle = HANDLE;
    static bool isSet(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    static void close(HANDLE handle) { CloseHandle(handle); }
};

struct Window {
    using Handle = HWND;
    static bool isSet(HWND window) { return window != nullptr; }
    static void close(HWND window)
    {
        if (IsWindow(window))
            DestroyWindow(window);
    }
};

struct DeviceNotification {
    using Handle = HDEVNOTIFY;
    static bool isSet(HDEVNOTIFY notification) { return notification != nullptr; }
    static void close(HDEVNOTIFY notification) { UnregisterDeviceNotification(notification); }
};

struct DeviceInfoList {
    using Handle = HDEVINFO;
    static bool isSet(HDEVINFO set) { return set != nullptr && set != INVALID_HANDLE_VALUE; }
    static void close(HDEVINFO set) { SetupDiDestroyDeviceInfoList(set); }
};

struct RegistryKey {
    using Handle = HKEY;
    static bool isSet(HKEY key) { return key != nullptr; }
    static void close(HKEY key) { RegCloseKey(key); }
};

struct Module {
    using Handle = HMODULE;
    static bool isSet(HMODULE module) { return module != nullptr; }
    static void close(HMODULE module) { FreeLibrary(module); }
};

} // namespace kinds

using OwnedHandle = Owned<kinds::Kernel>;
using OwnedWindow = Owned<kinds::Window>;
using OwnedDeviceNotification = Owned<kinds::DeviceNotification>;
using OwnedDeviceInfoList = Owned<kinds::DeviceInfoList>;
using OwnedKey = Owned<kinds::RegistryKey>;
using OwnedModule = Owned<kinds::Module>;

} // namespace orvex::win32
