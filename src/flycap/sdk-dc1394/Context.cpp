#include "Context.h"

#include <poll.h>

#include <chrono>

namespace orvex::flycap::dc1394sdk {

namespace {

// A waiting lockLatest looks at the context again at least this often, so
// that a stop or a removal never leaves it waiting on a closed capture.
constexpr int kWaitSliceMs = 20;

} // namespace

Context::~Context()
{
    destroy();
}

FlyCaptureError Context::initialize(unsigned busIndex, unsigned bufferCount)
{
    const std::vector<CameraEntry> cameras = Buses::instance().refresh();
    std::lock_guard<std::mutex> lock(m_);
    if (destroyed_)
        return FLYCAPTURE_INVALID_CONTEXT;
    if (camera_)
        return FLYCAPTURE_ALREADY_INITIALIZED;
    if (busIndex >= cameras.size())
        return FLYCAPTURE_INVALID_BUS_INDEX;
    CameraHandle camera = Buses::instance().open(cameras[busIndex]);
    if (!camera)
        return FLYCAPTURE_DEVICE_REMOVED;
    entry_ = cameras[busIndex];
    camera_ = std::move(camera);
    bufferCount_ = bufferCount;
    return FLYCAPTURE_OK;
}

uint32_t Context::serialNumber() const
{
    std::lock_guard<std::mutex> lock(m_);
    return camera_ ? entry_.serialNumber : 0;
}

int Context::bus() const
{
    std::lock_guard<std::mutex> lock(m_);
    return entry_.bus;
}

bool Context::removedLocked() const
{
    return !Buses::instance().present(entry_.guid, entry_.arrival);
}

FlyCaptureError Context::transactionError() const
{
    Buses::instance().refresh();
    std::lock_guard<std::mutex> lock(m_);
    return removedLocked() ? FLYCAPTURE_DEVICE_REMOVED : FLYCAPTURE_BUS_ERROR;
}

FlyCaptureError Context::withCamera(const std::function<FlyCaptureError(dc1394camera_t*)>& call)
{
    FlyCaptureError error;
    {
        std::lock_guard<std::mutex> lock(m_);
        if (destroyed_)
            return FLYCAPTURE_INVALID_CONTEXT;
        if (!camera_)
            return FLYCAPTURE_NOT_INITIALIZED;
        if (removedLocked())
            return FLYCAPTURE_DEVICE_REMOVED;
        error = call(camera_.get());
    }
    return error == FLYCAPTURE_BUS_ERROR ? transactionError() : error;
}

void Context::dropIdleCapturesLocked()
{
    retired_.remove_if([](const std::shared_ptr<Capture>& c) { return !c->anyLocked(); });
}

FlyCaptureError Context::start(const CaptureGeometry& geometry, FlyCapturePixelFormat format)
{
    std::unique_lock<std::mutex> lock(m_);
    if (destroyed_)
        return FLYCAPTURE_INVALID_CONTEXT;
    if (!camera_)
        return FLYCAPTURE_NOT_INITIALIZED;
    if (removedLocked())
        return FLYCAPTURE_DEVICE_REMOVED;
    if (capture_)
        return FLYCAPTURE_ALREADY_STARTED;
    Capture* started = nullptr;
    const FlyCaptureError error =
        Capture::start(Buses::instance().open(entry_), geometry, format, bufferCount_, started);
    if (error == FLYCAPTURE_OK) {
        capture_.reset(started);
        return FLYCAPTURE_OK;
    }
    lock.unlock();
    return error == FLYCAPTURE_BUS_ERROR ? transactionError() : error;
}

FlyCaptureError Context::stop()
{
    std::lock_guard<std::mutex> lock(m_);
    if (!camera_)
        return FLYCAPTURE_NOT_INITIALIZED;
    if (!capture_)
        return removedLocked() ? FLYCAPTURE_DEVICE_REMOVED : FLYCAPTURE_NOT_STARTED;
    capture_->stopSending();
    if (capture_->anyLocked())
        retired_.push_back(std::move(capture_)); // the host still reads its images
    capture_.reset();
    ++stops_;
    return removedLocked() ? FLYCAPTURE_DEVICE_REMOVED : FLYCAPTURE_OK;
}

void Context::setGrabTimeout(unsigned long milliseconds)
{
    std::lock_guard<std::mutex> lock(m_);
    timeoutMs_ = milliseconds;
}

FlyCaptureError Context::lockLatest(FlyCaptureImage& image)
{
    std::unique_lock<std::mutex> lock(m_);
    const bool infinite = timeoutMs_ == FLYCAPTURE_INFINITE;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(infinite ? 0 : timeoutMs_);
    const uint64_t stops = stops_;
    for (;;) {
        if (destroyed_)
            return FLYCAPTURE_INVALID_CONTEXT;
        if (!camera_)
            return FLYCAPTURE_NOT_INITIALIZED;
        if (stops_ != stops || !capture_)
            return removedLocked() ? FLYCAPTURE_DEVICE_REMOVED : FLYCAPTURE_NOT_STARTED;
        bool found = false;
        if (capture_->lockNewest(image, found) != FLYCAPTURE_OK) {
            lock.unlock();
            return transactionError() == FLYCAPTURE_DEVICE_REMOVED ? FLYCAPTURE_DEVICE_REMOVED
                                                                   : FLYCAPTURE_FAILED;
        }
        if (found)
            return FLYCAPTURE_OK;
        int waitMs = kWaitSliceMs;
        if (!infinite) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0)
                return FLYCAPTURE_TIMEOUT;
            waitMs = static_cast<int>(std::min<long long>(left, kWaitSliceMs));
        }
        pollfd wait{capture_->fileDescriptor(), POLLIN, 0};
        // The capture may be closed meanwhile: a poll on a stale descriptor
        // only ends early or late, and the loop looks again under the lock.
        const std::shared_ptr<Capture> keep = capture_;
        lock.unlock();
        ::poll(&wait, 1, waitMs);
        lock.lock();
        if (!removedLocked() && (wait.revents & (POLLERR | POLLHUP | POLLNVAL)) == 0)
            continue;
        if (wait.revents & (POLLERR | POLLHUP)) {
            lock.unlock();
            if (transactionError() == FLYCAPTURE_DEVICE_REMOVED)
                return FLYCAPTURE_DEVICE_REMOVED;
            lock.lock();
        }
    }
}

FlyCaptureError Context::unlock(unsigned int bufferIndex)
{
    std::lock_guard<std::mutex> lock(m_);
    if (!camera_)
        return FLYCAPTURE_NOT_INITIALIZED;
    // Images of a stopped transfer come back first: they are the older ones.
    for (const auto& retired : retired_) {
        if (retired->isLocked(bufferIndex)) {
            const FlyCaptureError error = retired->unlock(bufferIndex);
            dropIdleCapturesLocked();
            return error;
        }
    }
    if (!capture_)
        return bufferIndex < bufferCount_ ? FLYCAPTURE_BUFFER_NOT_LOCKED : FLYCAPTURE_INVALID_ARGUMENT;
    return capture_->unlock(bufferIndex);
}

FlyCaptureError Context::unlockAll()
{
    std::lock_guard<std::mutex> lock(m_);
    if (!camera_)
        return FLYCAPTURE_NOT_INITIALIZED;
    retired_.clear();
    if (capture_)
        capture_->unlockAll();
    return FLYCAPTURE_OK;
}

void Context::destroy()
{
    std::lock_guard<std::mutex> lock(m_);
    destroyed_ = true;
    ++stops_;
    capture_.reset();
    retired_.clear();
}

} // namespace orvex::flycap::dc1394sdk
