// What the BCAM driver's tests use to talk to it: only the Win32 calls a
// client makes (SetupDi*, CreateFileA, DeviceIoControl, completion ports),
// and the client's rule that turns a device name into an identifier.
#pragma once

#include <orvex/sim/BcamDriver.h>
#include <orvex/win32.h>
#include <orvex/win32_owned.h>

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace orvex::sim::test {

using orvex::win32::OwnedHandle;

// The present interfaces of the BCAM class, in enumeration order.
inline std::vector<std::string> bcamDeviceNames()
{
    std::vector<std::string> names;
    const orvex::win32::OwnedDeviceInfoList owner(SetupDiGetClassDevsA(
        &bcam::kInterfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!owner)
        return names;
    const HDEVINFO set = owner.get();
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &bcam::kInterfaceClass, i, &data); ++i) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &size, nullptr);
        std::vector<char> storage(size);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (SetupDiGetDeviceInterfaceDetailA(set, &data, detail, size, nullptr, nullptr))
            names.emplace_back(detail->DevicePath);
    }
    return names;
}

// The BCAM client's identifier rule: the text after the first "#", padded
// to 16 characters, read two hexadecimal digits at a time.
inline void decodeDeviceName(const std::string& name, uint32_t& high, uint32_t& low)
{
    std::string t = name.substr(name.find('#') + 1);
    if (t.size() < 16)
        t.insert(0, 16 - t.size(), '0');
    auto g = [&t](size_t i) {
        uint32_t value = 0;
        std::istringstream(t.substr(i, 2)) >> std::hex >> value;
        return value;
    };
    low = g(0) + (g(10) << 8) + (g(12) << 16) + (g(14) << 24);
    high = g(2) + (g(4) << 8) + (g(6) << 16) + (g(8) << 24);
}

inline HANDLE openBcamDevice(const std::string& name)
{
    return CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

// One synchronous request on an overlapped handle, with an event of its own,
// as the client's Transmit sends it.
// Returns 0 or the Win32 error.
inline DWORD transmit(HANDLE device, const bcam::RequestEntry& entry, const std::vector<uint32_t>& in,
                      std::vector<uint32_t>* out = nullptr, DWORD* bytes = nullptr)
{
    OwnedHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED overlapped{};
    // The low bit keeps the completion off the handle's completion port,
    // which belongs to the grabs.
    overlapped.hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(event.get()) | 1);
    std::vector<uint32_t> output(entry.outBytes / 4);
    DWORD transferred = 0;
    const DWORD inBytes = static_cast<DWORD>(in.size() * 4);
    BOOL ok = DeviceIoControl(device, entry.code, const_cast<uint32_t*>(in.data()), inBytes, output.data(),
                              entry.outBytes, &transferred, &overlapped);
    if (!ok && GetLastError() == ERROR_IO_PENDING)
        ok = GetOverlappedResult(device, &overlapped, &transferred, TRUE);
    const DWORD error = ok ? 0 : GetLastError();
    if (out)
        *out = output;
    if (bytes)
        *bytes = transferred;
    return error;
}

} // namespace orvex::sim::test
