// The receiver's sleep: a ring after the arm is never missed, whether it
// comes before the sleep starts or during it; an instant ends it too. A
// missed ring shows as a test that hangs until ctest's time-out.
#include <orvex/sim/CycleClock.h>
#include <orvex/sim/WakeBell.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace orvex::sim;

TEST(WakeBell, ARingBetweenTheArmAndTheSleepKeepsTheSleepFromStarting)
{
    WakeBell bell;
    const uint32_t armed = bell.arm();
    bell.ring();
    bell.sleepUntil(armed, kNeverNs); // returns: the ring came after the arm
    // Rung twice more, armed once more: the earlier rings do not count.
    bell.ring();
    const uint32_t again = bell.arm();
    bell.ring();
    bell.sleepUntil(again, kNeverNs);
}

TEST(WakeBell, ARingFromAnotherThreadEndsEveryoneSleepingWithoutAnInstant)
{
    WakeBell bell;
    std::atomic<int> armedOnce{0};
    std::atomic<bool> rung{false};
    auto sleeper = [&] {
        // Sleeps until it has seen the ring, as a receiver re-checks its
        // condition after every return.
        bool first = true;
        while (!rung.load()) {
            const uint32_t armed = bell.arm();
            if (first)
                armedOnce.fetch_add(1);
            first = false;
            bell.sleepUntil(armed, rung.load() ? hostNowNs() : kNeverNs);
        }
    };
    std::thread one(sleeper), two(sleeper);
    while (armedOnce.load() < 2)
        std::this_thread::yield();
    // Most likely asleep by now; either way the ring must reach them.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    rung.store(true);
    bell.ring();
    one.join();
    two.join();
}

TEST(WakeBell, AnInstantEndsTheSleepWithoutARing)
{
    WakeBell bell;
    // Passed already: no sleep at all.
    bell.sleepUntil(bell.arm(), hostNowNs() - 1'000'000);
    // A millisecond ahead: over once it has come.
    const int64_t until = hostNowNs() + 1'000'000;
    while (hostNowNs() < until)
        bell.sleepUntil(bell.arm(), until);
    EXPECT_GE(hostNowNs(), until);
}
