// One context of the simulated FlyCapture SDK: its camera, its buffers, and
// the images it pulls from the camera when the host waits for one.
#include "Context.h"

#include "Status.h"

#include <orvex/iidc/Registers.h>
#include <orvex/sim/HostWait.h>
#include <orvex/sim/WakeBell.h>
#include <orvex/sim/World.h>

#include <algorithm>

namespace orvex::sim::flycap {

namespace {
// Host receive times are given from the moment the SDK was loaded.
const int64_t kHostEpochNs = hostNowNs();
} // namespace

Context::Context() = default;

Context::~Context()
{
    destroy();
}

FlyCaptureError Context::initialize(std::shared_ptr<Camera> camera, unsigned bufferCount)
{
    std::lock_guard<std::mutex> lock(_m);
    if (_destroyed)
        return FLYCAPTURE_INVALID_CONTEXT;
    if (_camera)
        return FLYCAPTURE_ALREADY_INITIALIZED;
    _connection = camera->connection();
    _camera = std::move(camera);
    _bufferCount = bufferCount;
    return FLYCAPTURE_OK;
}

bool Context::removedLocked() const
{
    return _removed || !_camera->connectedAs(_connection);
}

FlyCaptureError Context::boundCamera(std::shared_ptr<Camera>& camera) const
{
    std::lock_guard<std::mutex> lock(_m);
    if (!_camera)
        return FLYCAPTURE_NOT_INITIALIZED;
    if (removedLocked())
        return FLYCAPTURE_DEVICE_REMOVED;
    camera = _camera;
    return FLYCAPTURE_OK;
}

uint32_t Context::serialNumber() const
{
    std::lock_guard<std::mutex> lock(_m);
    return _camera ? _camera->serialNumber() : 0;
}

void Context::prepareRingLocked(const FrameGeometry& geometry)
{
    const bool samePixels = _ring.size() == _bufferCount && _geometry.width == geometry.width &&
                            _geometry.height == geometry.height &&
                            _geometry.bytesPerPixel == geometry.bytesPerPixel;
    if (_ring.size() != _bufferCount)
        _ring.resize(_bufferCount);
    for (Buffer& b : _ring) {
        if (b.state == BufferState::locked) {
            // Lent to the host until it unlocks: never written meanwhile. With
            // other pixels, the host keeps reading the old memory and the
            // index, still locked, gets a buffer of the new size.
            if (!samePixels) {
                _retired.push_back(std::move(b.data));
                allocateLocked(b, geometry);
            }
            continue;
        }
        if (!samePixels)
            allocateLocked(b, geometry);
        b.state = BufferState::free;
        b.sequence = 0;
    }
    _geometry = geometry;
}

void Context::allocateLocked(Buffer& buffer, const FrameGeometry& geometry)
{
    // The gradient goes in once, when the buffer is made; images then only
    // stamp it.
    buffer.data.reset(new uint8_t[geometry.imageBytes()]);
    pattern::fill(buffer.data.get(), geometry);
    buffer.stamp = pattern::StampState{};
}

FlyCaptureError Context::start(const FrameGeometry& geometry, FlyCapturePixelFormat format)
{
    std::shared_ptr<Camera> camera;
    {
        std::lock_guard<std::mutex> lock(_m);
        if (!_camera)
            return FLYCAPTURE_NOT_INITIALIZED;
        if (removedLocked())
            return FLYCAPTURE_DEVICE_REMOVED;
        if (_streaming)
            return FLYCAPTURE_ALREADY_STARTED;
        camera = _camera;
    }
    const FlyCaptureError configured = toError(camera->configureFormat7(geometry));
    if (configured != FLYCAPTURE_OK)
        return configured;

    const Pacing pacing = World::instance().pacing();
    {
        std::lock_guard<std::mutex> lock(_m);
        prepareRingLocked(geometry);
        _pixelFormat = format;
        _unpaced = pacing == Pacing::unpaced;
        _askCamera = true;
        _streaming = true; // before the camera starts: its first image may come at once
    }
    const FlyCaptureError started = toError(camera->startStream(shared_from_this(), pacing));
    if (started != FLYCAPTURE_OK) {
        std::lock_guard<std::mutex> lock(_m);
        _streaming = false;
    }
    return started;
}

FlyCaptureError Context::stop()
{
    std::shared_ptr<Camera> camera;
    bool removed;
    {
        std::lock_guard<std::mutex> lock(_m);
        if (!_camera)
            return FLYCAPTURE_NOT_INITIALIZED;
        removed = removedLocked();
        if (!_streaming)
            return removed ? FLYCAPTURE_DEVICE_REMOVED : FLYCAPTURE_NOT_STARTED;
        _streaming = false;
        camera = _camera;
        _bell.ring();
    }
    // A camera that left the bus stopped by itself (and may stream to
    // another context since it came back).
    if (removed)
        return FLYCAPTURE_DEVICE_REMOVED;
    camera->stopStream();
    return FLYCAPTURE_OK;
}

void Context::setGrabTimeout(unsigned long milliseconds)
{
    std::lock_guard<std::mutex> lock(_m);
    _timeoutMs = milliseconds;
}

bool Context::storeLocked(const Frame& frame)
{
    if (!_streaming || frame.geometry != _geometry)
        return false;
    Buffer* target = nullptr;
    for (BufferState wanted : {BufferState::free, BufferState::ready}) {
        for (Buffer& b : _ring) {
            if (b.state == wanted && (!target || b.sequence < target->sequence))
                target = &b;
        }
        if (target)
            break;
    }
    if (!target) {
        ++_dropped; // every buffer is lent to the host
        return false;
    }
    if (target->state == BufferState::ready)
        ++_dropped; // overwritten before anybody locked it
    pattern::stamp(target->data.get(), _geometry, frame, target->stamp);
    target->frame = frame;
    target->sequence = _nextSequence++;
    target->state = BufferState::ready;
    return true;
}

void Context::onFrame(const Frame& frame)
{
    {
        std::lock_guard<std::mutex> lock(_m);
        if (!storeLocked(frame))
            return;
    }
    // Rung once the lock is free: a sleeper woken under it would find the
    // lock taken and sleep once more on it.
    _bell.ring();
}

void Context::onStreamRescheduled()
{
    std::lock_guard<std::mutex> lock(_m);
    _askCamera = true;
    _bell.ring();
}

int64_t Context::pullDueLocked(int64_t nowNs)
{
    _pulled.clear();
    uint64_t superseded = 0;
    const int64_t nextNs = _camera->pullImages(_pulled, superseded, nowNs);
    _dropped += superseded;
    // Of a batch, only the images the free and waiting buffers can hold
    // survive it; the ones before them would only be written over.
    size_t writable = 0;
    for (const Buffer& b : _ring)
        writable += b.state != BufferState::locked ? 1 : 0;
    size_t first = 0;
    if (_streaming && _pulled.size() > writable) {
        first = _pulled.size() - writable;
        for (size_t i = 0; i < first; ++i)
            _dropped += _pulled[i].geometry == _geometry ? 1 : 0;
    }
    bool stored = false;
    for (size_t i = first; i < _pulled.size(); ++i)
        stored = storeLocked(_pulled[i]) || stored;
    if (stored)
        _bell.ring(); // for another thread locking the same context
    return nextNs;
}

void Context::onCameraRemoved()
{
    std::lock_guard<std::mutex> lock(_m);
    _removed = true;
    _bell.ring();
}

void Context::fillImageLocked(unsigned index, FlyCaptureImage& image) const
{
    const Buffer& b = _ring[index];
    image.iRows = static_cast<int>(_geometry.height);
    image.iCols = static_cast<int>(_geometry.width);
    image.iRowInc = static_cast<int>(_geometry.rowBytes());
    image.pixelFormat = _pixelFormat;
    image.pData = b.data.get();
    image.uiBufferIndex = index;
    image.uiSeqNum = b.frame.frameCounter;
    const int64_t sinceEpoch = b.frame.deliveredNs - kHostEpochNs;
    image.timeStamp.ulSeconds = static_cast<uint32_t>(sinceEpoch / 1000000000);
    image.timeStamp.ulMicroSeconds = static_cast<uint32_t>((sinceEpoch / 1000) % 1000000);
    image.timeStamp.ulCycleSeconds = iidc::cycleSeconds(b.frame.cycleTime);
    image.timeStamp.ulCycleCount = iidc::cycleCount(b.frame.cycleTime);
    image.timeStamp.ulCycleOffset = iidc::cycleOffset(b.frame.cycleTime);
}

FlyCaptureError Context::lockLatest(FlyCaptureImage& image)
{
    std::unique_lock<std::mutex> lock(_m);
    const bool infinite = _timeoutMs == FLYCAPTURE_INFINITE;
    // Time-outs beyond a year are as good as infinite (and keep the sum in range).
    constexpr uint64_t kLongestMs = 366ull * 24 * 3600 * 1000;
    // One reading of the host clock per look serves the deadline, the
    // camera's due instant and its catch-up.
    int64_t nowNs = hostNowNs();
    const int64_t deadlineNs =
        infinite || _timeoutMs > kLongestMs ? kNeverNs : nowNs + static_cast<int64_t>(_timeoutMs) * 1'000'000;
    for (;; nowNs = hostNowNs()) {
        if (_destroyed)
            return FLYCAPTURE_INVALID_CONTEXT;
        if (!_camera)
            return FLYCAPTURE_NOT_INITIALIZED;
        if (removedLocked())
            return FLYCAPTURE_DEVICE_REMOVED;
        if (!_streaming)
            return FLYCAPTURE_NOT_STARTED;
        int64_t nextImageNs = kNeverNs;
        if (_unpaced) {
            // The camera produces one image on demand (never reaches onFrame).
            if (const auto frame = _camera->pullFrame())
                static_cast<void>(storeLocked(*frame)); // seen below by this very thread
        } else {
            // Until the instant the last pull named, or a reschedule, the
            // camera has nothing new: asking it again would only cost.
            if (_askCamera || nowNs >= _nextImageNs) {
                _nextImageNs = pullDueLocked(nowNs);
                _askCamera = false;
            }
            nextImageNs = _nextImageNs;
        }
        int newest = -1;
        for (size_t i = 0; i < _ring.size(); ++i) {
            if (_ring[i].state == BufferState::ready &&
                (newest < 0 || _ring[i].sequence > _ring[size_t(newest)].sequence))
                newest = static_cast<int>(i);
        }
        if (newest >= 0) {
            // Older images nobody locked are dropped.
            for (size_t i = 0; i < _ring.size(); ++i) {
                if (_ring[i].state == BufferState::ready && i != size_t(newest)) {
                    _ring[i].state = BufferState::free;
                    ++_dropped;
                }
            }
            _ring[size_t(newest)].state = BufferState::locked;
            fillImageLocked(static_cast<unsigned>(newest), image);
            return FLYCAPTURE_OK;
        }
        if (deadlineNs != kNeverNs && nowNs >= deadlineNs)
            return FLYCAPTURE_TIMEOUT;
        const uint32_t armed = _bell.arm();
        lock.unlock();
        _bell.sleepUntil(armed, std::min(deadlineNs, nextImageNs));
        lock.lock();
    }
}

FlyCaptureError Context::unlock(unsigned int bufferIndex)
{
    std::lock_guard<std::mutex> lock(_m);
    if (!_camera)
        return FLYCAPTURE_NOT_INITIALIZED;
    if (bufferIndex >= _ring.size())
        return FLYCAPTURE_INVALID_ARGUMENT;
    if (_ring[bufferIndex].state != BufferState::locked)
        return FLYCAPTURE_BUFFER_NOT_LOCKED;
    _ring[bufferIndex].state = BufferState::free;
    return FLYCAPTURE_OK;
}

FlyCaptureError Context::unlockAll()
{
    std::lock_guard<std::mutex> lock(_m);
    if (!_camera)
        return FLYCAPTURE_NOT_INITIALIZED;
    for (Buffer& b : _ring) {
        if (b.state == BufferState::locked)
            b.state = BufferState::free;
    }
    return FLYCAPTURE_OK;
}

uint64_t Context::droppedImages() const
{
    std::lock_guard<std::mutex> lock(_m);
    return _dropped;
}

unsigned Context::lockedBuffers() const
{
    std::lock_guard<std::mutex> lock(_m);
    unsigned locked = 0;
    for (const Buffer& b : _ring)
        locked += b.state == BufferState::locked ? 1u : 0u;
    return locked;
}

void Context::destroy()
{
    std::shared_ptr<Camera> camera;
    {
        std::lock_guard<std::mutex> lock(_m);
        if (_destroyed)
            return;
        _destroyed = true;
        if (_streaming && !removedLocked())
            camera = _camera;
        _streaming = false;
        _bell.ring();
    }
    if (camera)
        camera->stopStream();
}

} // namespace orvex::sim::flycap
