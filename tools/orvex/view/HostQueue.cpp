// Runs on the main thread the work the HTTP threads queue for it.
#include "view/HostQueue.h"

namespace orvex::cli {

bool HostQueue::post(std::function<void()> job)
{
    {
        const std::lock_guard<std::mutex> lock(_mutex);
        if (_closed)
            return false;
        _jobs.push_back(std::move(job));
    }
    SetEvent(_wake.get());
    return true;
}

void HostQueue::runPending()
{
    _lastRun.store(std::chrono::steady_clock::now().time_since_epoch().count());
    std::deque<std::function<void()>> jobs;
    {
        const std::lock_guard<std::mutex> lock(_mutex);
        jobs.swap(_jobs);
    }
    for (auto& job : jobs)
        job();
}

bool HostQueue::tookWorkWithin(std::chrono::milliseconds time) const
{
    const std::chrono::steady_clock::time_point last{std::chrono::steady_clock::duration(_lastRun.load())};
    return std::chrono::steady_clock::now() - last < time;
}

void HostQueue::close()
{
    std::deque<std::function<void()>> dropped;
    {
        const std::lock_guard<std::mutex> lock(_mutex);
        _closed = true;
        dropped.swap(_jobs);
    }
    // Destroying the jobs outside the lock breaks their promises: callers wake.
}

} // namespace orvex::cli
