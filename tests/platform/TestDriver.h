// A small driver for the device tests, behind the subset's driver boundary:
// it answers some requests at once and keeps others pending until the test
// completes them, and it records what it saw.
#pragma once

#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <orvex/win32.h>
#include <orvex/win32_driver.h>

namespace orvex::win32::test {

using orvex::win32::driver::IoRequest;
using orvex::win32::driver::NTSTATUS;

// {6F1D3A52-0C4B-4E1B-9A37-5B2E8C7D9F01}
constexpr GUID kTestInterfaceClass = {
    0x6F1D3A52, 0x0C4B, 0x4E1B, {0x9A, 0x37, 0x5B, 0x2E, 0x8C, 0x7D, 0x9F, 0x01}};
// {0B8E6C2A-1F3D-4A5E-8B7C-9D0E1F2A3B4C}
constexpr GUID kOtherInterfaceClass = {
    0x0B8E6C2A, 0x1F3D, 0x4A5E, {0x8B, 0x7C, 0x9D, 0x0E, 0x1F, 0x2A, 0x3B, 0x4C}};

constexpr DWORD kTestDeviceType = 0x8010;
// Echo: each output byte is the input byte plus one; answered at once.
constexpr DWORD kEchoBuffered = CTL_CODE(kTestDeviceType, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD kEchoInDirect = CTL_CODE(kTestDeviceType, 0x802, METHOD_IN_DIRECT, FILE_ANY_ACCESS);
constexpr DWORD kEchoOutDirect = CTL_CODE(kTestDeviceType, 0x803, METHOD_OUT_DIRECT, FILE_ANY_ACCESS);
constexpr DWORD kEchoNeither = CTL_CODE(kTestDeviceType, 0x804, METHOD_NEITHER, FILE_ANY_ACCESS);
// Kept pending until completeOldest (a grab, say).
constexpr DWORD kKeepDirect = CTL_CODE(kTestDeviceType, 0x810, METHOD_OUT_DIRECT, FILE_ANY_ACCESS);
constexpr DWORD kKeepBuffered = CTL_CODE(kTestDeviceType, 0x811, METHOD_BUFFERED, FILE_ANY_ACCESS);
// Failed at once with the device-not-ready status.
constexpr DWORD kFailAtOnce = CTL_CODE(kTestDeviceType, 0x820, METHOD_BUFFERED, FILE_ANY_ACCESS);

class TestDevice final : public orvex::win32::driver::Device {
public:
    void deviceControl(const std::shared_ptr<IoRequest>& request) override
    {
        switch (request->controlCode()) {
        case kEchoBuffered:
        case kEchoInDirect:
        case kEchoOutDirect:
        case kEchoNeither:
            echo(*request);
            return;
        case kKeepDirect:
        case kKeepBuffered: {
            std::lock_guard<std::mutex> lock(_mutex);
            _kept.push_back(request);
            return;
        }
        case kFailAtOnce:
            request->complete(orvex::win32::driver::kStatusDeviceNotReady, 0);
            return;
        default:
            request->complete(orvex::win32::driver::kStatusInvalidDeviceRequest, 0);
            return;
        }
    }

    void cancelled(const IoRequest& request) override
    {
        std::lock_guard<std::mutex> lock(_mutex);
        ++_cancelled;
        for (auto it = _kept.begin(); it != _kept.end(); ++it) {
            if (it->get() == &request) {
                _kept.erase(it);
                return;
            }
        }
    }

    void closed(uint64_t file) override
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _closedFiles.push_back(file);
    }

    // Fills the output of the kept request at `index` (0: the oldest) with
    // `fill` and completes it with `status`. False when there is none. Any
    // thread.
    bool completeKept(size_t index, unsigned char fill,
                      NTSTATUS status = orvex::win32::driver::kStatusSuccess)
    {
        std::shared_ptr<IoRequest> request;
        {
            std::lock_guard<std::mutex> lock(_mutex);
            if (index >= _kept.size())
                return false;
            request = _kept[index];
            _kept.erase(_kept.begin() + static_cast<std::ptrdiff_t>(index));
        }
        DWORD written = 0;
        if (auto buffers = request->buffers()) {
            std::memset(buffers.output(), fill, buffers.outputLength());
            written = buffers.outputLength();
        }
        return request->complete(status, written);
    }
    bool completeOldest(unsigned char fill, NTSTATUS status = orvex::win32::driver::kStatusSuccess)
    {
        return completeKept(0, fill, status);
    }

    // The oldest kept request, left kept (to complete it late, as a driver
    // racing a cancellation would).
    std::shared_ptr<IoRequest> oldestKept()
    {
        std::lock_guard<std::mutex> lock(_mutex);
        return _kept.empty() ? nullptr : _kept.front();
    }

    size_t keptCount()
    {
        std::lock_guard<std::mutex> lock(_mutex);
        return _kept.size();
    }
    int cancelledCount()
    {
        std::lock_guard<std::mutex> lock(_mutex);
        return _cancelled;
    }
    std::vector<uint64_t> closedFiles()
    {
        std::lock_guard<std::mutex> lock(_mutex);
        return _closedFiles;
    }

    // The buffers the last echo saw, to check the method's rules.
    const void* lastInput = nullptr;
    void* lastOutput = nullptr;

private:
    void echo(IoRequest& request)
    {
        DWORD written = 0;
        if (auto buffers = request.buffers()) {
            lastInput = buffers.input();
            lastOutput = buffers.output();
            const auto* in = static_cast<const unsigned char*>(buffers.input());
            auto* out = static_cast<unsigned char*>(buffers.output());
            written = std::min(buffers.inputLength(), buffers.outputLength());
            for (DWORD i = 0; i < written; ++i)
                out[i] = static_cast<unsigned char>(in[i] + 1);
        }
        request.complete(orvex::win32::driver::kStatusSuccess, written);
    }

    std::mutex _mutex;
    std::deque<std::shared_ptr<IoRequest>> _kept;
    int _cancelled = 0;
    std::vector<uint64_t> _closedFiles;
};

// A device interface registered for the lifetime of the object.
class ScopedInterface {
public:
    ScopedInterface(const std::string& reference, std::shared_ptr<TestDevice> device,
                    const GUID& classGuid = kTestInterfaceClass)
        : _device(std::move(device)), _path(orvex::win32::driver::addInterface(classGuid, reference, _device))
    {
    }
    ~ScopedInterface() { orvex::win32::driver::removeInterface(_path); }
    ScopedInterface(const ScopedInterface&) = delete;
    ScopedInterface& operator=(const ScopedInterface&) = delete;

    const std::string& path() const { return _path; }
    TestDevice& device() const { return *_device; }

private:
    std::shared_ptr<TestDevice> _device;
    std::string _path;
};

inline HANDLE openDevice(const std::string& path, DWORD flags = FILE_FLAG_OVERLAPPED)
{
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, flags, nullptr);
}

} // namespace orvex::win32::test
