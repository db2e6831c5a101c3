// Ownership of a Win32 kernel handle (event, thread): closed with the owner.
// Movable, not copyable; any thread.
#pragma once

#include <orvex/win32.h>

#include <utility>

namespace orvex {

class OwnedHandle {
public:
    OwnedHandle() = default;
    explicit OwnedHandle(HANDLE handle) : _handle(handle) {}
    ~OwnedHandle() { close(); }

    OwnedHandle(OwnedHandle&& other) noexcept : _handle(std::exchange(other._handle, nullptr)) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept
    {
        if (this != &other) {
            close();
            _handle = std::exchange(other._handle, nullptr);
        }
        return *this;
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;

    HANDLE get() const { return _handle; }
    explicit operator bool() const { return _handle != nullptr; }

    void close() noexcept
    {
        if (_handle != nullptr) {
            CloseHandle(_handle);
            _handle = nullptr;
        }
    }

private:
    HANDLE _handle = nullptr;
};

} // namespace orvex
