// The event queue of one open /dev/fw file, readable and pollable through
// its eventfd.
#include "EventQueue.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/eventfd.h>
#include <unistd.h>

namespace orvex::sim::firewire {

void EventQueue::post()
{
    const eventfd_t one = 1;
    // The count cannot overflow in practice (2^64 - 2 events); a failure
    // would leave a reader waiting for an event it can never see.
    (void)eventfd_write(_eventFd, one);
}

void EventQueue::push(std::vector<uint8_t> event)
{
    {
        std::lock_guard<std::mutex> lock(_m);
        if (_shutDown)
            return;
        _events.push_back(std::move(event));
    }
    post();
}

void EventQueue::shutDown()
{
    {
        std::lock_guard<std::mutex> lock(_m);
        if (_shutDown)
            return;
        _shutDown = true;
    }
    post();
}

bool EventQueue::isShutDown() const
{
    std::lock_guard<std::mutex> lock(_m);
    return _shutDown;
}

long EventQueue::pop(void* to, std::size_t bytes)
{
    std::unique_lock<std::mutex> lock(_m);
    if (_events.empty()) {
        lock.unlock();
        post(); // the shutdown count stays for the next reader
        errno = ENODEV;
        return -1;
    }
    const std::vector<uint8_t> event = std::move(_events.front());
    _events.pop_front();
    lock.unlock();
    const std::size_t n = std::min(bytes, event.size());
    std::memcpy(to, event.data(), n);
    return static_cast<long>(n);
}

} // namespace orvex::sim::firewire
