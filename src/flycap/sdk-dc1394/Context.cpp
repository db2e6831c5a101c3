// One context of the FlyCapture SDK over libdc1394: its camera, its
// capture, and its registers.
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
    std::lock_guard<std::mutex> lock(_m);
    if (_destroyed)
        return FLYCAPTURE_INVALID_CONTEXT;
    if (_camera)
        return FLYCAPTURE_ALREADY_INITIALIZED;
    if (busIndex >= cameras.size())
        return FLYCAPTURE_INVALID_BUS_INDEX;
    CameraHandle camera = Buses::instance().open(cameras[busIndex]);
    if (!camera)
        return FLYCAPTURE_DEVICE_REMOVED;
    _entry = cameras[busIndex];
    _camera = std::move(camera);
    _bufferCount = bufferCount;
    return FLYCAPTURE_OK;
}

uint32_t Context::serialNumber() const
{
    std::lock_guard<std::mutex> lock(_m);
    return _camera ? _entry.serialNumber : 0;
}

int Context::bus() const
{
    std::lock_guard<std::mutex> lock(_m);
    return _entry.bus;
}

bool Context::removedLocked() const
{
    return !Buses::instance().present(_entry.guid, _entry.arrival);
}

FlyCaptureError Context::cameraUsableLocked() const
{
    if (_destroyed)
        return FLYCAPTURE_INVALID_CONTEXT;
    if (!_camera)
        return FLYCAPTURE_NOT_INITIALIZED;
    return removedLocked() ? FLYCAPTURE_DEVICE_REMOVED : FLYCAPTURE_OK;
}

FlyCaptureError Context::transactionError() const
{
    Buses::instance().refresh();
    std::lock_guard<std::mutex> lock(_m);
    return removedLocked() ? FLYCAPTURE_DEVICE_REMOVED : FLYCAPTURE_BUS_ERROR;
}

FlyCaptureError Context::withCamera(const std::function<FlyCaptureError(dc1394camera_t*)>& call)
{
    FlyCaptureError error;
    {
        std::lock_guard<std::mutex> lock(_m);
        const FlyCaptureError usable = cameraUsableLocked();
        if (usable != FLYCAPTURE_OK)
            return usable;
        error = call(_camera.get());
    }
    return error == FLYCAPTURE_BUS_ERROR ? transactionError() : error;
}

void Context::dropIdleCapturesLocked()
{
    _retired.remove_if([](const std::shared_ptr<Capture>& c) { return !c->anyLocked(); });
}

FlyCaptureError Context::start(const CaptureGeometry& geometry, FlyCapturePixelFormat format)
{
    std::unique_lock<std::mutex> lock(_m);
    const FlyCaptureError usable = cameraUsableLocked();
    if (usable != FLYCAPTURE_OK)
        return usable;
    if (_capture)
        return FLYCAPTURE_ALREADY_STARTED;
    Capture* started = nullptr;
    const FlyCaptureError error =
        Capture::start(Buses::instance().open(_entry), geometry, format, _bufferCount, started);
    if (error == FLYCAPTURE_OK) {
        _capture.reset(started);
        return FLYCAPTURE_OK;
    }
    lock.unlock();
    return error == FLYCAPTURE_BUS_ERROR ? transactionError() : error;
}

FlyCaptureError Context::stop()
{
    std::lock_guard<std::mutex> lock(_m);
    if (!_camera)
        return FLYCAPTURE_NOT_INITIALIZED;
    if (!_capture)
        return removedLocked() ? FLYCAPTURE_DEVICE_REMOVED : FLYCAPTURE_NOT_STARTED;
    _capture->stopSending();
    if (_capture->anyLocked())
        _retired.push_back(std::move(_capture)); // the host still reads its images
    _capture.reset();
    ++_stops;
    return removedLocked() ? FLYCAPTURE_DEVICE_REMOVED : FLYCAPTURE_OK;
}

void Context::setGrabTimeout(unsigned long milliseconds)
{
    std::lock_guard<std::mutex> lock(_m);
    _timeoutMs = milliseconds;
}

FlyCaptureError Context::lockLatest(FlyCaptureImage& image)
{
    std::unique_lock<std::mutex> lock(_m);
    const bool infinite = _timeoutMs == FLYCAPTURE_INFINITE;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(infinite ? 0 : _timeoutMs);
    const uint64_t stops = _stops;
    for (;;) {
        if (_destroyed)
            return FLYCAPTURE_INVALID_CONTEXT;
        if (!_camera)
            return FLYCAPTURE_NOT_INITIALIZED;
        if (_stops != stops || !_capture)
            return removedLocked() ? FLYCAPTURE_DEVICE_REMOVED : FLYCAPTURE_NOT_STARTED;
        bool found = false;
        if (_capture->lockNewest(image, found) != FLYCAPTURE_OK) {
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
        pollfd wait{_capture->fileDescriptor(), POLLIN, 0};
        // The capture may be closed meanwhile: a poll on a stale descriptor
        // only ends early or late, and the loop looks again under the lock.
        const std::shared_ptr<Capture> keep = _capture;
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
    std::lock_guard<std::mutex> lock(_m);
    if (!_camera)
        return FLYCAPTURE_NOT_INITIALIZED;
    // Images of a stopped transfer come back first: they are the older ones.
    for (const auto& retired : _retired) {
        if (retired->isLocked(bufferIndex)) {
            const FlyCaptureError error = retired->unlock(bufferIndex);
            dropIdleCapturesLocked();
            return error;
        }
    }
    if (!_capture)
        return bufferIndex < _bufferCount ? FLYCAPTURE_BUFFER_NOT_LOCKED : FLYCAPTURE_INVALID_ARGUMENT;
    return _capture->unlock(bufferIndex);
}

FlyCaptureError Context::unlockAll()
{
    std::lock_guard<std::mutex> lock(_m);
    if (!_camera)
        return FLYCAPTURE_NOT_INITIALIZED;
    _retired.clear();
    if (_capture)
        _capture->unlockAll();
    return FLYCAPTURE_OK;
}

void Context::destroy()
{
    std::lock_guard<std::mutex> lock(_m);
    _destroyed = true;
    ++_stops;
    _capture.reset();
    _retired.clear();
}

} // namespace orvex::flycap::dc1394sdk
