// The one thread of the process that delivers the images of every camera
// whose receiver does not pull them itself.
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
    for (Entry& e : _entries) {
        if (e.camera == &camera)
            return &e;
    }
    return nullptr;
}

void StreamScheduler::add(Camera& camera)
{
    std::lock_guard<std::mutex> lock(_m);
    if (Entry* e = find(camera))
        e->dueNs = kNowNs;
    else
        _entries.push_back(Entry{&camera, kNowNs});
    if (!_running) {
        _running = true;
        std::thread(&StreamScheduler::run, this).detach();
    }
    _cv.notify_one();
}

void StreamScheduler::remove(Camera& camera)
{
    std::unique_lock<std::mutex> lock(_m);
    _entries.erase(
        std::remove_if(_entries.begin(), _entries.end(), [&](const Entry& e) { return e.camera == &camera; }),
        _entries.end());
    if (std::this_thread::get_id() == _thread)
        return; // the delivery in progress is this caller's own
    _served.wait(lock, [&] { return _serving != &camera; });
}

void StreamScheduler::wake(Camera& camera)
{
    std::lock_guard<std::mutex> lock(_m);
    if (Entry* e = find(camera)) {
        e->dueNs = kNowNs;
        _cv.notify_one();
    }
}

void StreamScheduler::run()
{
    std::unique_lock<std::mutex> lock(_m);
    _thread = std::this_thread::get_id();
    while (!_entries.empty()) {
        auto next = std::min_element(_entries.begin(), _entries.end(),
                                     [](const Entry& a, const Entry& b) { return a.dueNs < b.dueNs; });
        if (next->dueNs != kNowNs && next->dueNs > hostNowNs()) {
            waitUntilHostNs(_cv, lock, next->dueNs);
            continue;
        }
        Camera* camera = next->camera;
        next->dueNs = kNeverNs; // until it answers (or is woken meanwhile)
        _serving = camera;
        lock.unlock();
        const int64_t dueNs = camera->serviceStream();
        lock.lock();
        _serving = nullptr;
        _served.notify_all();
        if (Entry* e = find(*camera))
            e->dueNs = std::min(e->dueNs, dueNs);
    }
    _running = false;
    _thread = std::thread::id();
}

} // namespace orvex::sim
