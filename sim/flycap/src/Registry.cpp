// The simulated SDK's process-wide state: live contexts by handle and the
// bus callbacks.
#include "Registry.h"
#include "SdkCameras.h"

#include <algorithm>

namespace orvex::sim::flycap {

// --- contexts -----------------------------------------------------------------------

Registry& Registry::instance()
{
    static Registry registry;
    return registry;
}

Registry::Registry()
{
    World::instance(); // outlives the registry
}

Registry::~Registry()
{
    std::map<FlyCaptureContext, std::shared_ptr<Context>> contexts;
    {
        std::lock_guard<std::mutex> lock(_m);
        contexts.swap(_contexts);
    }
    for (auto& entry : contexts)
        entry.second->destroy();
}

FlyCaptureContext Registry::create()
{
    auto context = std::make_shared<Context>();
    FlyCaptureContext handle = context.get();
    std::lock_guard<std::mutex> lock(_m);
    _contexts.emplace(handle, std::move(context));
    return handle;
}

std::shared_ptr<Context> Registry::find(FlyCaptureContext handle) const
{
    std::lock_guard<std::mutex> lock(_m);
    const auto it = _contexts.find(handle);
    return it == _contexts.end() ? nullptr : it->second;
}

bool Registry::destroy(FlyCaptureContext handle)
{
    std::shared_ptr<Context> context;
    {
        std::lock_guard<std::mutex> lock(_m);
        const auto it = _contexts.find(handle);
        if (it == _contexts.end())
            return false;
        context = std::move(it->second);
        _contexts.erase(it);
    }
    context->destroy();
    return true;
}

unsigned Registry::liveContexts() const
{
    std::lock_guard<std::mutex> lock(_m);
    return static_cast<unsigned>(_contexts.size());
}

void Registry::recordInitialization(uint32_t serialNumber, unsigned bufferCount)
{
    std::lock_guard<std::mutex> lock(_m);
    _bufferCounts[serialNumber] = bufferCount;
}

unsigned Registry::bufferCount(uint32_t serialNumber) const
{
    std::lock_guard<std::mutex> lock(_m);
    const auto it = _bufferCounts.find(serialNumber);
    return it == _bufferCounts.end() ? 0 : it->second;
}

std::vector<std::shared_ptr<Context>> Registry::contextsOf(uint32_t serialNumber) const
{
    std::vector<std::shared_ptr<Context>> all;
    {
        std::lock_guard<std::mutex> lock(_m);
        for (const auto& entry : _contexts)
            all.push_back(entry.second);
    }
    // Asked without the registry's lock: a context never calls back into it.
    std::vector<std::shared_ptr<Context>> bound;
    for (auto& context : all) {
        if (context->serialNumber() == serialNumber)
            bound.push_back(std::move(context));
    }
    return bound;
}

uint64_t Registry::droppedImages(uint32_t serialNumber) const
{
    uint64_t dropped = 0;
    for (const auto& context : contextsOf(serialNumber))
        dropped += context->droppedImages();
    return dropped;
}

unsigned Registry::lockedBuffers(uint32_t serialNumber) const
{
    unsigned locked = 0;
    for (const auto& context : contextsOf(serialNumber))
        locked += context->lockedBuffers();
    return locked;
}

// --- bus callbacks --------------------------------------------------------------------------

CallbackDispatcher& CallbackDispatcher::instance()
{
    static CallbackDispatcher dispatcher;
    return dispatcher;
}

CallbackDispatcher::CallbackDispatcher()
{
    _subscription = World::instance().subscribe([this](const BusEvent& event) { onWorldEvent(event); });
}

CallbackDispatcher::~CallbackDispatcher()
{
    World::instance().unsubscribe(_subscription);
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(_m);
        _queue.clear();
        _callbacks.clear();
        thread = std::move(_thread);
    }
    if (thread.joinable())
        thread.join();
}

void CallbackDispatcher::add(FlyCaptureContext context, FlyCaptureCallback callback, void* param)
{
    std::lock_guard<std::mutex> lock(_m);
    _callbacks.push_back({context, callback, param});
}

void CallbackDispatcher::waitForDeliveryLocked(std::unique_lock<std::mutex>& lock)
{
    if (std::this_thread::get_id() == _threadId)
        return; // a callback removing itself (or another) from inside a delivery
    _cv.wait(lock, [this] { return !_delivering; });
}

bool CallbackDispatcher::remove(FlyCaptureContext context, FlyCaptureCallback callback, void* param)
{
    std::unique_lock<std::mutex> lock(_m);
    const auto it = std::find(_callbacks.begin(), _callbacks.end(), Entry{context, callback, param});
    if (it == _callbacks.end())
        return false;
    _callbacks.erase(it);
    waitForDeliveryLocked(lock);
    return true;
}

void CallbackDispatcher::removeAll(FlyCaptureContext context)
{
    std::unique_lock<std::mutex> lock(_m);
    _callbacks.erase(std::remove_if(_callbacks.begin(), _callbacks.end(),
                                    [context](const Entry& e) { return e.context == context; }),
                     _callbacks.end());
    waitForDeliveryLocked(lock);
}

void CallbackDispatcher::onWorldEvent(const BusEvent& event)
{
    if (event.kind == BusEvent::Kind::arrival || event.kind == BusEvent::Kind::removal) {
        const auto camera = World::instance().camera(event.serialNumber);
        if (camera && !isSdkCamera(*camera))
            return; // the BCAM driver's camera
    }
    std::thread finished;
    {
        std::lock_guard<std::mutex> lock(_m);
        Pending pending;
        switch (event.kind) {
        case BusEvent::Kind::busReset:
            pending.message = FLYCAPTURE_MESSAGE_BUS_RESET;
            pending.param = static_cast<unsigned long>(event.bus);
            break;
        case BusEvent::Kind::arrival:
            pending.message = FLYCAPTURE_MESSAGE_DEVICE_ARRIVAL;
            pending.param = event.serialNumber;
            break;
        case BusEvent::Kind::removal:
            pending.message = FLYCAPTURE_MESSAGE_DEVICE_REMOVAL;
            pending.param = event.serialNumber;
            break;
        case BusEvent::Kind::cleared:
            _queue.clear(); // events of a world that no longer exists
            return;
        }
        if (_callbacks.empty())
            return;
        pending.targets = _callbacks;
        _queue.push_back(std::move(pending));
        if (_running)
            return;
        _running = true;
        finished = std::move(_thread);
    }
    // The previous delivering thread has left its loop; it only has to end.
    if (finished.joinable())
        finished.join();
    std::lock_guard<std::mutex> lock(_m);
    _thread = std::thread(&CallbackDispatcher::run, this);
}

void CallbackDispatcher::run()
{
    std::unique_lock<std::mutex> lock(_m);
    _threadId = std::this_thread::get_id();
    while (!_queue.empty()) {
        const Pending pending = std::move(_queue.front());
        _queue.pop_front();
        _delivering = true;
        for (const Entry& target : pending.targets) {
            // Removed since the event was queued: its owner may be gone.
            if (std::find(_callbacks.begin(), _callbacks.end(), target) == _callbacks.end())
                continue;
            lock.unlock();
            target.callback(target.param, pending.message, pending.param);
            lock.lock();
        }
        _delivering = false;
        _cv.notify_all();
    }
    _running = false;
    _threadId = std::thread::id();
}

unsigned CallbackDispatcher::count()
{
    std::lock_guard<std::mutex> lock(_m);
    return static_cast<unsigned>(_callbacks.size());
}

} // namespace orvex::sim::flycap
