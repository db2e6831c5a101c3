// Test support for the FlyCapture back end over the simulated SDK: a fixture
// that starts every test from an empty simulated world and leaves no server
// behind, and a message pump for the test thread, which owns the server's and
// the cameras' hidden windows.
#pragma once

#include "PGRFlyCapture.h"

#include <orvex/FlyCapCamera.h>
#include <orvex/FlyCapVideoServer.h>
#include <orvex/OrvexError.h>
#include <orvex/sim/FlyCapProbes.h>
#include <orvex/sim/World.h>
#include <orvex/win32.h>

#include "support/ErrorOf.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>

namespace orvex::test {

// The model names the FlyCapture back end recognises.
constexpr const char* kGras20 = "Grasshopper GRAS-20S4M";
constexpr const char* kGras50 = "Grasshopper GRAS-50S5M";
constexpr const char* kFlea2 = "Flea2 FL2G-50S5M";

// Dispatches the test thread's window messages until `done` holds. The limit
// only keeps a broken test from hanging; no test measures time with it.
inline bool pumpUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::milliseconds(10000))
{
    const auto giveUp = std::chrono::steady_clock::now() + limit;
    while (true) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&msg);
        }
        if (done()) {
            return true;
        }
        if (std::chrono::steady_clock::now() > giveUp) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

// Dispatches what is already queued.
inline void pumpPending()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageA(&msg);
    }
}

// Waits (dispatching nothing) until a message `message` is queued for the
// test thread; it stays queued.
inline bool waitUntilQueued(UINT message, std::chrono::milliseconds limit = std::chrono::milliseconds(10000))
{
    const auto giveUp = std::chrono::steady_clock::now() + limit;
    MSG msg;
    while (!PeekMessageA(&msg, nullptr, message, message, PM_NOREMOVE)) {
        if (std::chrono::steady_clock::now() > giveUp) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    return true;
}

// A probe of the simulated SDK (FlyCapProbes.h), looked up in the library the
// back end loaded (the first SDK call loads it). A missing probe fails the test.
template <class Probe> Probe sdkProbe(const char* name)
{
    const HMODULE sdk = GetModuleHandleA(PGRFLYCAPTURE_LIBRARY_NAME);
    const FARPROC address = sdk != nullptr ? GetProcAddress(sdk, name) : nullptr;
    if (address == nullptr) {
        ADD_FAILURE() << "the simulated SDK is not loaded or lacks " << name;
        return nullptr;
    }
    return reinterpret_cast<Probe>(reinterpret_cast<void (*)()>(address));
}

// SDK contexts created and not yet destroyed.
inline unsigned liveSdkContexts()
{
    const auto probe = sdkProbe<sim::flycap::LiveContextsProbe>(sim::flycap::kLiveContextsProbe);
    return probe != nullptr ? probe() : 0;
}

// Bus callbacks registered with the SDK.
inline unsigned sdkBusCallbacks()
{
    const auto probe = sdkProbe<sim::flycap::BusCallbacksProbe>(sim::flycap::kBusCallbacksProbe);
    return probe != nullptr ? probe() : 0;
}

// The image buffers the SDK was last initialised with for a camera.
inline unsigned sdkBufferCount(uint32_t serialNumber)
{
    const auto probe = sdkProbe<sim::flycap::BufferCountProbe>(sim::flycap::kBufferCountProbe);
    return probe != nullptr ? probe(serialNumber) : 0;
}

// An empty simulated world with one bus, no faults; the server and every
// camera are destroyed after the test.
// A register as the camera's own readRegister gives it.
inline uint32_t readQuadlet(IEEE1394Camera& camera, uint32_t address)
{
    unsigned long value = 0;
    camera.readRegister(address, value);
    return static_cast<uint32_t>(value);
}

// A Grasshopper whose ranges come out round: shutter 0.5 to 81.9 ms in
// 20 us steps (80 ms while the frame rate runs at its 12.5 fps), frame rate
// 1 to 12.5 fps in 1/16 fps steps, gain -2 to 24 dB in 1/16 dB steps,
// brightness 0 to 25.5 in tenths.
inline sim::CameraConfig roundCamera(uint32_t serialNumber)
{
    sim::CameraConfig config = *sim::modelConfig(kGras20, serialNumber);
    // Small enough for the packets never to hold the frame rate back.
    config.sensorWidth = 640;
    config.sensorHeight = 480;
    // Comes up in Format_7, so no fixed-format rate clips the frame rate.
    config.fixedFormats = false;
    config.shutter.rawMin = 25;
    config.maxFrameRate = 12.5;
    config.frameRate.defaultRaw = 200;
    config.frameRate.autoMode = true; // capable, and off
    return config;
}

class SimulatedBuses : public ::testing::Test {
protected:
    void SetUp() override
    {
        world().clear();
        world().faults().clear();
        bus0 = world().addBus();
    }

    void TearDown() override
    {
        if (isVideoServerAllocated()) {
            destroyVideoServer();
        }
        pumpPending();
        world().faults().clear();
        world().clear();
    }

    static sim::World& world() { return sim::World::instance(); }

    // A camera of a known model, plugged into `bus`.
    std::shared_ptr<sim::Camera> addCamera(int bus, const std::string& model, uint32_t serialNumber)
    {
        return world().addCamera(bus, model, serialNumber);
    }

    // The configuration of a known model, to be changed before plugging.
    static sim::CameraConfig modelConfig(const std::string& model, uint32_t serialNumber)
    {
        return *sim::modelConfig(model, serialNumber);
    }

    // The only camera of the bus, listed by a new server (and initialised
    // when asked); cameras plugged before are unplugged.
    IEEE1394Camera& listOne(const sim::CameraConfig& config, bool init)
    {
        if (isVideoServerAllocated()) {
            destroyVideoServer();
        }
        for (const auto& camera : world().connectedCameras()) {
            world().unplugCamera(camera->serialNumber());
        }
        world().addCamera(bus0, config);
        IEEE1394VideoServer& server = createFlyCapVideoServer(false);
        server.reset(init);
        return server.getCamera(0);
    }
    IEEE1394Camera& listOne(const std::string& model, uint32_t serialNumber, bool init)
    {
        return listOne(modelConfig(model, serialNumber), init);
    }

    // Makes the next `count` calls of `function` on the camera fail.
    void failNext(const std::string& function, unsigned count, FlyCaptureError error, uint32_t serialNumber)
    {
        world().faults().failNext(function, count, static_cast<int>(error), serialNumber);
    }

    int bus0 = -1;
};

} // namespace orvex::test
