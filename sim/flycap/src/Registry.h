// The simulated SDK's process-wide state: live contexts by handle, and the
// bus callbacks with the SDK's own thread that calls them.
//
// Both objects are created on first use and make sure the world is created
// before them, so that at process exit they are destroyed (streams stopped,
// callback thread joined) while the world still exists.
#pragma once

#include "Context.h"

#include "PGRFlyCapture.h"

#include <orvex/sim/World.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace orvex::sim::flycap {

// Contexts by handle. A handle that is not (or no longer) registered is
// refused with FLYCAPTURE_INVALID_CONTEXT, so a stale handle cannot crash
// the SDK. Thread-safe (own mutex).
class Registry {
public:
    static Registry& instance();
    ~Registry();

    FlyCaptureContext create();
    std::shared_ptr<Context> find(FlyCaptureContext handle) const;
    // Unregisters and destroys; false for an unknown handle.
    bool destroy(FlyCaptureContext handle);

    // Probes for tests (FlyCapProbes.h).
    unsigned liveContexts() const;
    void recordInitialization(uint32_t serialNumber, unsigned bufferCount);
    unsigned bufferCount(uint32_t serialNumber) const;
    // Summed over the live contexts bound to the camera.
    uint64_t droppedImages(uint32_t serialNumber) const;
    unsigned lockedBuffers(uint32_t serialNumber) const;

private:
    Registry();
    std::vector<std::shared_ptr<Context>> contextsOf(uint32_t serialNumber) const;
    mutable std::mutex _m;
    std::map<FlyCaptureContext, std::shared_ptr<Context>> _contexts;
    std::map<uint32_t, unsigned> _bufferCounts; // by serial number, the last initialisation
};

// Bus callbacks. World events are queued on the thread that changed the
// world, each for the callbacks registered at that moment, and delivered in
// order on a thread of the SDK's own; that thread runs while events are
// pending and ends when the queue is empty (the next event starts a new one).
//
// Stop protocol: remove() and removeAll() take the callbacks out of the list
// and, unless called from the delivering thread itself, wait until no
// delivery is in progress: once they return, the removed callbacks are not
// running and will not be called again. A `cleared` world event drops the
// pending events. The destructor unsubscribes from the world, drops the
// pending events and joins the thread.
class CallbackDispatcher {
public:
    static CallbackDispatcher& instance();
    ~CallbackDispatcher();

    void add(FlyCaptureContext context, FlyCaptureCallback callback, void* param);
    // False when no such callback was registered through that context.
    bool remove(FlyCaptureContext context, FlyCaptureCallback callback, void* param);
    void removeAll(FlyCaptureContext context);
    // Probe for tests: callbacks registered now.
    unsigned count();

private:
    CallbackDispatcher();
    struct Entry {
        FlyCaptureContext context;
        FlyCaptureCallback callback;
        void* param;
        bool operator==(const Entry& o) const
        {
            return context == o.context && callback == o.callback && param == o.param;
        }
    };
    struct Pending {
        int message;
        unsigned long param;
        std::vector<Entry> targets;
    };
    void onWorldEvent(const BusEvent& event);
    void run();
    void waitForDeliveryLocked(std::unique_lock<std::mutex>& lock);

    std::mutex _m;
    std::condition_variable _cv;
    std::vector<Entry> _callbacks;
    std::deque<Pending> _queue;
    bool _running = false;
    bool _delivering = false;
    std::thread _thread;
    std::thread::id _threadId;
    int _subscription = 0;
};

} // namespace orvex::sim::flycap
