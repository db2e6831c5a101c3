// Helpers for the simulator's tests: a fresh world per test and a frame sink
// that collects what a camera streams.
#pragma once

#include <orvex/sim/World.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace orvex::sim::test {

// Every test starts and ends with an empty world.
class FreshWorld : public ::testing::Test {
protected:
    void SetUp() override { World::instance().clear(); }
    void TearDown() override { World::instance().clear(); }
    World& world() { return World::instance(); }

    static BusConfig busAt(int number, double clockSeconds, double driftPpm = 0.0, uint32_t speed = 800)
    {
        BusConfig b;
        b.number = number;
        b.clockSeconds = clockSeconds;
        b.driftPpm = driftPpm;
        b.speed = speed;
        return b;
    }
};

// One Grasshopper on one bus, reached through its raw registers.
class OneCamera : public FreshWorld {
protected:
    explicit OneCamera(uint32_t serialNumber = 1001) : _serialNumber(serialNumber) {}
    void SetUp() override
    {
        FreshWorld::SetUp();
        _bus = world().addBus(busAt(0, 10.0));
        _camera = world().addCamera(_bus, "Grasshopper GRAS-20S4M", _serialNumber);
    }
    uint32_t read(uint32_t address)
    {
        uint32_t value = 0xDEADBEEF;
        EXPECT_EQ(_camera->readRegister(address, value), Status::ok) << std::hex << address;
        return value;
    }
    void write(uint32_t address, uint32_t value)
    {
        EXPECT_EQ(_camera->writeRegister(address, value), Status::ok) << std::hex << address;
    }

    uint32_t _serialNumber;
    int _bus = 0;
    std::shared_ptr<Camera> _camera;
};

class FrameCollector : public FrameSink {
public:
    void onFrame(const Frame& frame) override
    {
        std::lock_guard<std::mutex> lock(_m);
        _frames.push_back(frame);
        _cv.notify_all();
    }
    void onCameraRemoved() override
    {
        std::lock_guard<std::mutex> lock(_m);
        _removed = true;
        _cv.notify_all();
    }
    // Waits (bounded, generously) until `count` frames have arrived.
    bool waitFor(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(10))
    {
        std::unique_lock<std::mutex> lock(_m);
        return _cv.wait_for(lock, limit, [&] { return _frames.size() >= count; });
    }
    std::vector<Frame> frames() const
    {
        std::lock_guard<std::mutex> lock(_m);
        return _frames;
    }
    bool removed() const
    {
        std::lock_guard<std::mutex> lock(_m);
        return _removed;
    }

private:
    mutable std::mutex _m;
    std::condition_variable _cv;
    std::vector<Frame> _frames;
    bool _removed = false;
};

} // namespace orvex::sim::test
