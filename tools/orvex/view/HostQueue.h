// Work that the HTTP threads hand to the tool's main thread. The library does
// not guard configuration calls against concurrent use, and the main thread
// owns the cameras' windows, so every camera call of the viewer runs there.
#pragma once

#include "Event.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>

namespace orvex::cli {

class HostQueue {
public:
    // Any thread: runs `job` on the main thread and waits for its result at
    // most `timeout`. Empty when the queue is closed or the main thread did
    // not get to it in time (the job then runs later or never, and owns
    // everything it captured).
    template <class Job>
    auto call(Job job, std::chrono::milliseconds timeout) -> std::optional<decltype(job())>
    {
        using Result = decltype(job());
        auto task = std::make_shared<std::packaged_task<Result()>>(std::move(job));
        std::future<Result> result = task->get_future();
        if (!post([task] { (*task)(); }))
            return std::nullopt;
        if (result.wait_for(timeout) != std::future_status::ready)
            return std::nullopt;
        try {
            return result.get();
        } catch (const std::future_error&) {
            return std::nullopt; // dropped at close
        }
    }

    // Main thread: runs what is waiting, in the order it came.
    void runPending();
    // Any thread: whether the main thread came to its work within `time`,
    // as it does at least every 100 ms unless something holds it.
    bool tookWorkWithin(std::chrono::milliseconds time) const;
    // Signalled when a job is posted, so that the main thread need not poll.
    HANDLE wakeEvent() const { return _wake.get(); }

    // Main thread: whether it is dispatching window messages now, where a
    // handler (a synchronisation tick retrying register transfers) may hold
    // it for seconds. Any thread may ask.
    void setDispatching(bool dispatching) { _bDispatching.store(dispatching); }
    bool dispatching() const { return _bDispatching.load(); }

    // Main thread: refuses further jobs and drops those still waiting, whose
    // callers then get nothing.
    void close();

private:
    bool post(std::function<void()> job);

    std::mutex _mutex;
    std::deque<std::function<void()>> _jobs;
    bool _closed = false;
    std::atomic<bool> _bDispatching{false};
    std::atomic<int64_t> _lastRun{std::chrono::steady_clock::now().time_since_epoch().count()};
    Event _wake;
};

} // namespace orvex::cli
