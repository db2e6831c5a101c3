// The events of one open /dev/fw file. The file's real descriptor is an
// eventfd in semaphore mode whose count is the number of events waiting, so
// that poll, select and epoll on it, blocking and non-blocking reads behave
// as on the kernel's file without our having to wrap them: a read first
// takes one count from the eventfd (blocking as the file's flags say), then
// one event from the queue.
//
// Once the device has left the bus the queue is shut down: the events still
// queued can be read, then every read fails with ENODEV (a count stays
// posted so that readers wake and poll reports the file readable).
//
// Threads: any; one mutex guards the queue, never held while calling out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace orvex::sim::firewire {

class EventQueue {
public:
    explicit EventQueue(int eventFd) : _eventFd(eventFd) {}

    // Queues one event (its bytes as the kernel would copy them to a read).
    // Ignored after shutdown.
    void push(std::vector<uint8_t> event);
    void shutDown();
    bool isShutDown() const;
    // After one count was taken from the eventfd: copies the oldest event,
    // truncated to `bytes`, and returns the bytes copied; -1 with errno
    // ENODEV when the device is gone and no event is left.
    long pop(void* to, std::size_t bytes);

private:
    void post();

    const int _eventFd;
    mutable std::mutex _m;
    std::deque<std::vector<uint8_t>> _events;
    bool _shutDown = false;
};

} // namespace orvex::sim::firewire
