// The relay floor: a timer thread at a fixed rate handing a counter down a
// chain of threads, measured for CPU and lateness.
#include "RelayFloor.h"

#include <sys/resource.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace orvex::bench {

namespace {

using Clock = std::chrono::steady_clock;

// One hand-off: the latest count and whether the relay is ending.
struct Stage {
    std::mutex m;
    std::condition_variable cv;
    uint64_t count = 0;
    bool ending = false;

    void put(uint64_t value)
    {
        {
            std::lock_guard<std::mutex> lock(m);
            count = value;
        }
        cv.notify_one();
    }
    // The next count after `seen`; 0 once ending.
    uint64_t take(uint64_t seen)
    {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return count != seen || ending; });
        return ending ? 0 : count;
    }
    void end()
    {
        {
            std::lock_guard<std::mutex> lock(m);
            ending = true;
        }
        cv.notify_all();
    }
};

double seconds(const timeval& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
}

} // namespace

RelayFigures runRelay(unsigned threads, double rate, unsigned long warmup, unsigned long images)
{
    // stages[i] feeds thread i + 1; the last stage feeds the caller.
    std::vector<std::unique_ptr<Stage>> stages;
    for (unsigned i = 0; i + 1 < threads; ++i)
        stages.push_back(std::make_unique<Stage>());
    std::vector<std::thread> relays;
    for (size_t i = 0; i + 1 < stages.size(); ++i) {
        relays.emplace_back([&stages, i] {
            uint64_t seen = 0;
            while (const uint64_t count = stages[i]->take(seen)) {
                seen = count;
                stages[i + 1]->put(count);
            }
        });
    }
    Stage timer; // only its `ending` flag and its wake-up
    std::thread ticker([&] {
        const auto period =
            std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rate));
        auto next = Clock::now();
        std::unique_lock<std::mutex> lock(timer.m);
        for (uint64_t count = 1; !timer.ending; ++count) {
            next += period;
            timer.cv.wait_until(lock, next, [&] { return timer.ending; });
            stages.front()->put(count);
        }
    });

    Stage& last = *stages.back();
    RelayFigures figures;
    rusage ru0{}, ru1{};
    uint64_t seen = 0;
    for (unsigned long i = 0; i < warmup; ++i)
        seen = last.take(seen);
    getrusage(RUSAGE_SELF, &ru0);
    const auto t0 = Clock::now();
    for (; figures.images < images; ++figures.images)
        seen = last.take(seen);
    const auto t1 = Clock::now();
    getrusage(RUSAGE_SELF, &ru1);

    timer.end();
    ticker.join();
    for (auto& stage : stages)
        stage->end();
    for (std::thread& relay : relays)
        relay.join();
    figures.elapsedSeconds = std::chrono::duration<double>(t1 - t0).count();
    figures.cpuUserSeconds = seconds(ru1.ru_utime) - seconds(ru0.ru_utime);
    figures.cpuSystemSeconds = seconds(ru1.ru_stime) - seconds(ru0.ru_stime);
    return figures;
}

} // namespace orvex::bench
