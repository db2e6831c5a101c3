#include "StreamScheduler.h"

#include <orvex/sim/Camera.h>
#include <orvex/sim/HostWait.h>

#include <algorithm>
#include <limits>

namespace orvex::sim {

namespace {
// Asked again at once: before any planned instant.
constexpr int64_t kNowNs = std::numeric_limits<int64_t>::min();
} // namespace

StreamScheduler& StreamScheduler::instance()
{
    // Never destroyed: its thread may outlive every static object's
    // destructor, idle, and must still find it.
    static StreamScheduler* const scheduler = new StreamScheduler;
    return *scheduler;
}

StreamScheduler::Entry* StreamScheduler::find(const Camera& camera)
{
    for (Entry& e : entries_) {
        if (e.camera == &camera)
            return &e;
    }
    return nullptr;
}

void StreamScheduler::add(Camera& camera)
{
    std::lock_guard<std::mutex> lock(m_);
    if (Entry* e = find(camera))
        e->dueNs = kNowNs;
    else
        entries_.push_back(Entry{&camera, kNowNs});
    if (!running_) {
        running_ = true;
        std::thread(&StreamScheduler::run, this).detach();
    }
    cv_.notify_one();
}

void StreamScheduler::remove(Camera& camera)
{
    std::unique_lock<std::mutex> lock(m_);
    entries_.erase(
        std::remove_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.camera == &camera; }),
        entries_.end());
    if (std::this_thread::get_id() == thread_)
        return; // the delivery in progress is this caller's own
    served_.wait(lock, [&] { return serving_ != &camera; });
}

void StreamScheduler::wake(Camera& camera)
{
    std::lock_guard<std::mutex> lock(m_);
    if (Entry* e = find(camera)) {
        e->dueNs = kNowNs;
        cv_.notify_one();
    }
}

void StreamScheduler::run()
{
    std::unique_lock<std::mutex> lock(m_);
    thread_ = std::this_thread::get_id();
    while (!entries_.empty()) {
        auto next = std::min_element(entries_.begin(), entries_.end(),
                                     [](const Entry& a, const Entry& b) { return a.dueNs < b.dueNs; });
        if (next->dueNs != kNowNs && next->dueNs > hostNowNs()) {
            waitUntilHostNs(cv_, lock, next->dueNs);
            continue;
        }
        Camera* camera = next->camera;
        next->dueNs = kNeverNs; // until it answers (or is woken meanwhile)
        serving_ = camera;
        lock.unlock();
        const int64_t dueNs = camera->serviceStream();
        lock.lock();
        serving_ = nullptr;
        served_.notify_all();
        if (Entry* e = find(*camera))
            e->dueNs = std::min(e->dueNs, dueNs);
    }
    running_ = false;
    thread_ = std::thread::id();
}

} // namespace orvex::sim
