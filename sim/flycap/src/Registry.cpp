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
        std::lock_guard<std::mutex> lock(m_);
        contexts.swap(contexts_);
    }
    for (auto& entry : contexts)
        entry.second->destroy();
}

FlyCaptureContext Registry::create()
{
    auto context = std::make_shared<Context>();
    FlyCaptureContext handle = context.get();
    std::lock_guard<std::mutex> lock(m_);
    contexts_.emplace(handle, std::move(context));
    return handle;
}

std::shared_ptr<Context> Registry::find(FlyCaptureContext handle) const
{
    std::lock_guard<std::mutex> lock(m_);
    const auto it = contexts_.find(handle);
    return it == contexts_.end() ? nullptr : it->second;
}

bool Registry::destroy(FlyCaptureContext handle)
{
    std::shared_ptr<Context> context;
    {
        std::lock_guard<std::mutex> lock(m_);
        const auto it = contexts_.find(handle);
        if (it == contexts_.end())
            return false;
        context = std::move(it->second);
        contexts_.erase(it);
    }
    context->destroy();
    return true;
}

unsigned Registry::liveContexts() const
{
    std::lock_guard<std::mutex> lock(m_);
    return static_cast<unsigned>(contexts_.size());
}

void Registry::recordInitialization(uint32_t serialNumber, unsigned bufferCount)
{
    std::lock_guard<std::mutex> lock(m_);
    bufferCounts_[serialNumber] = bufferCount;
}

unsigned Registry::bufferCount(uint32_t serialNumber) const
{
    std::lock_guard<std::mutex> lock(m_);
    const auto it = bufferCounts_.find(serialNumber);
    return it == bufferCounts_.end() ? 0 : it->second;
}

std::vector<std::shared_ptr<Context>> Registry::contextsOf(uint32_t serialNumber) const
{
    std::vector<std::shared_ptr<Context>> all;
    {
        std::lock_guard<std::mutex> lock(m_);
        for (const auto& entry : contexts_)
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
    subscription_ = World::instance().subscribe([this](const BusEvent& event) { onWorldEvent(event); });
}

CallbackDispatcher::~CallbackDispatcher()
{
    World::instance().unsubscribe(subscription_);
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(m_);
        queue_.clear();
        callbacks_.clear();
        thread = std::move(thread_);
    }
    if (thread.joinable())
        thread.join();
}

void CallbackDispatcher::add(FlyCaptureContext context, FlyCaptureCallback callback, void* param)
{
    std::lock_guard<std::mutex> lock(m_);
    callbacks_.push_back({context, callback, param});
}

void CallbackDispatcher::waitForDeliveryLocked(std::unique_lock<std::mutex>& lock)
{
    if (std::this_thread::get_id() == threadId_)
        return; // a callback removing itself (or another) from inside a delivery
    cv_.wait(lock, [this] { return !delivering_; });
}

bool CallbackDispatcher::remove(FlyCaptureContext context, FlyCaptureCallback callback, void* param)
{
    std::unique_lock<std::mutex> lock(m_);
    const auto it = std::find(callbacks_.begin(), callbacks_.end(), Entry{context, callback, param});
    if (it == callbacks_.end())
        return false;
    callbacks_.erase(it);
    waitForDeliveryLocked(lock);
    return true;
}

void CallbackDispatcher::removeAll(FlyCaptureContext context)
{
    std::unique_lock<std::mutex> lock(m_);
    callbacks_.erase(std::remove_if(callbacks_.begin(), callbacks_.end(),
                                    [context](const Entry& e) { return e.context == context; }),
                     callbacks_.end());
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
        std::lock_guard<std::mutex> lock(m_);
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
            queue_.clear(); // events of a world that no longer exists
            return;
        }
        if (callbacks_.empty())
            return;
        pending.targets = callbacks_;
        queue_.push_back(std::move(pending));
        if (running_)
            return;
        running_ = true;
        finished = std::move(thread_);
    }
    // The previous delivering thread has left its loop; it only has to end.
    if (finished.joinable())
        finished.join();
    std::lock_guard<std::mutex> lock(m_);
    thread_ = std::thread(&CallbackDispatcher::run, this);
}

void CallbackDispatcher::run()
{
    std::unique_lock<std::mutex> lock(m_);
    threadId_ = std::this_thread::get_id();
    while (!queue_.empty()) {
        const Pending pending = std::move(queue_.front());
        queue_.pop_front();
        delivering_ = true;
        for (const Entry& target : pending.targets) {
            // Removed since the event was queued: its owner may be gone.
            if (std::find(callbacks_.begin(), callbacks_.end(), target) == callbacks_.end())
                continue;
            lock.unlock();
            target.callback(target.param, pending.message, pending.param);
            lock.lock();
        }
        delivering_ = false;
        cv_.notify_all();
    }
    running_ = false;
    threadId_ = std::thread::id();
}

unsigned CallbackDispatcher::count()
{
    std::lock_guard<std::mutex> lock(m_);
    return static_cast<unsigned>(callbacks_.size());
}

} // namespace orvex::sim::flycap
