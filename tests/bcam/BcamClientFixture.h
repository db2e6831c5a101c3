// What the client's tests share: a fresh simulated world with the BCAM
// driver installed (version 1.8) and an A102f and an A312f on a bus of
// their own, a window whose procedure records device broadcasts, and a
// message pump with a bound.
#pragma once

#include "sim/SimTestSupport.h"

#include "bcam/client/BcamExtension.h"

#include <orvex/iidc/Registers.h>
#include <orvex/sim/BcamDriver.h>
#include <orvex/win32.h>
#include <orvex/win32_driver.h>
#include <orvex/win32_owned.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace orvex::bcam::test {

constexpr uint32_t kA102fSerial = 0x102F01;
constexpr uint32_t kA312fSerial = 0x312F02;
constexpr int kBcamBus = 2;
constexpr DWORD kHigh = orvex::iidc::kAddressHigh;

class BcamClientTest : public orvex::sim::test::FreshWorld {
protected:
    void SetUp() override
    {
        FreshWorld::SetUp();
        orvex::sim::bcam::installDriver();
        orvex::sim::bcam::installDriverFiles(orvex::sim::bcam::DriverFileVersion::v1_8);
        world().addBus(busAt(kBcamBus, 5.0));
        world().addCamera(kBcamBus, "A102f", kA102fSerial);
        world().addCamera(kBcamBus, "A312f", kA312fSerial);
    }

    static std::string pathOf(uint32_t serial) { return orvex::sim::bcam::devicePath(serial); }

    uint32_t cameraRegister(uint32_t serial, uint32_t address)
    {
        uint32_t value = 0;
        EXPECT_EQ(orvex::sim::Status::ok, world().camera(serial)->readRegister(address, value));
        return value;
    }
};

// Dispatches the calling thread's messages until `done` holds or about ten
// seconds have passed; returns `done()`.
inline bool pumpUntil(const std::function<bool()>& done)
{
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit)
            return false;
        MSG message{};
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Dispatches the calling thread's messages for `duration`.
inline void pumpFor(std::chrono::milliseconds duration)
{
    const auto end = std::chrono::steady_clock::now() + duration;
    pumpUntil([end] { return std::chrono::steady_clock::now() > end; });
}

// A window of the test thread whose procedure records device broadcasts.
class BroadcastWindow {
public:
    struct Broadcast {
        WPARAM event;
        DWORD deviceType;
        std::string name;
    };

    BroadcastWindow()
    {
        WNDCLASSEXA windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = &BroadcastWindow::procedure;
        windowClass.lpszClassName = kClassName;
        if (!GetClassInfoExA(nullptr, kClassName, &windowClass))
            RegisterClassExA(&windowClass);
        _window.reset(CreateWindowExA(0, kClassName, "", WS_POPUP | WS_DISABLED, 0, 0, 0, 0, nullptr, nullptr,
                                      nullptr, nullptr));
        SetWindowLongPtrA(_window.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    BroadcastWindow(const BroadcastWindow&) = delete;
    BroadcastWindow& operator=(const BroadcastWindow&) = delete;

    HWND handle() const { return _window.get(); }
    const std::vector<Broadcast>& broadcasts() const { return _broadcasts; }
    static WNDPROC ownProcedure() { return &BroadcastWindow::procedure; }

private:
    static constexpr const char* kClassName = "BcamClientTestWindow";

    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto* self = reinterpret_cast<BroadcastWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self != nullptr && message == WM_DEVICECHANGE && lParam != 0) {
            const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
            Broadcast broadcast{wParam, header->dbch_devicetype, {}};
            if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE)
                broadcast.name = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(header)->dbcc_name;
            self->_broadcasts.push_back(broadcast);
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }

    orvex::win32::OwnedWindow _window;
    std::vector<Broadcast> _broadcasts;
};

} // namespace orvex::bcam::test
