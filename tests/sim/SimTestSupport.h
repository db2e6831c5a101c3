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
    explicit OneCamera(uint32_t serialNumber = 1001) : serialNumber_(serialNumber) {}
    void SetUp() override
    {
        FreshWorld::SetUp();
        bus_ = world().addBus(busAt(0, 10.0));
        camera_ = world().addCamera(bus_, "Grasshopper GRAS-20S4M", serialNumber_);
    }
    uint32_t read(uint32_t address)
    {
        uint32_t value = 0xDEADBEEF;
        EXPECT_EQ(camera_->readRegister(address, value), Status::ok) << std::hex << address;
        return value;
    }
    void write(uint32_t address, uint32_t value)
    {
        EXPECT_EQ(camera_->writeRegister(address, value), Status::ok) << std::hex << address;
    }

    uint32_t serialNumber_;
    int bus_ = 0;
    std::shared_ptr<Camera> camera_;
};

class FrameCollector : public FrameSink {
public:
    void onFrame(const Frame& frame) override
    {
        std::lock_guard<std::mutex> lock(m_);
        frames_.push_back(frame);
        cv_.notify_all();
    }
    void onCameraRemoved() override
    {
        std::lock_guard<std::mutex> lock(m_);
        removed_ = true;
        cv_.notify_all();
    }
    // Waits (bounded, generously) until `count` frames have arrived.
    bool waitFor(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(10))
    {
        std::unique_lock<std::mutex> lock(m_);
        return cv_.wait_for(lock, limit, [&] { return frames_.size() >= count; });
    }
    std::vector<Frame> frames() const
    {
        std::lock_guard<std::mutex> lock(m_);
        return frames_;
    }
    bool removed() const
    {
        std::lock_guard<std::mutex> lock(m_);
        return removed_;
    }

private:
    mutable std::mutex m_;
    std::condition_variable cv_;
    std::vector<Frame> frames_;
    bool removed_ = false;
};

} // namespace orvex::sim::test
