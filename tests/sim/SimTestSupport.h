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
