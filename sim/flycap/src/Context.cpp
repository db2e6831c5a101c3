#include "Context.h"

#include "Status.h"

#include <orvex/iidc/Registers.h>
#include <orvex/sim/HostWait.h>
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
    std::lock_guard<std::mutex> lock(m_);
    if (destroyed_)
        return FLYCAPTURE_INVALID_CONTEXT;
    if (camera_)
        return FLYCAPTURE_ALREADY_INITIALIZED;
    connection_ = camera->connection();
    camera_ = std::move(camera);
    bufferCount_ = bufferCount;
    return FLYCAPTURE_OK;
}

bool Context::removedLocked() const
{
    return removed_ || !camera_->isConnected() || camera_->connection() != connection_;
}

FlyCaptureError Context::boundCamera(std::shared_ptr<Camera>& camera) const
{
    std::lock_guard<std::mutex> lock(m_);
    if (!camera_)
        return FLYCAPTURE_NOT_INITIALIZED;
    if (removedLocked())
        return FLYCAPTURE_DEVICE_REMOVED;
    camera = camera_;
    return FLYCAPTURE_OK;
}

uint32_t Context::serialNumber() const
{
    std::lock_guard<std::mutex> lock(m_);
    return camera_ ? camera_->serialNumber() : 0;
}

void Context::prepareRingLocked(const FrameGeometry& geometry)
{
    const bool samePixels = ring_.size() == bufferCount_ && geometry_.width == geometry.width &&
                            geometry_.height == geometry.height &&
                            geometry_.bytesPerPixel == geometry.bytesPerPixel;
    if (ring_.size() != bufferCount_)
        ring_.resize(bufferCount_);
    for (Buffer& b : ring_) {
        if (b.state == BufferState::locked) {
            // Lent to the host until it unlocks: never written meanwhile. With
            // other pixels, the host keeps reading the old memory and the
            // index, still locked, gets a buffer of the new size.
            if (!samePixels) {
                retired_.push_back(std::move(b.data));
                allocateLocked(b, geometry);
            }
            continue;
        }
        if (!samePixels)
            allocateLocked(b, geometry);
        b.state = BufferState::free;
        b.sequence = 0;
    }
    geometry_ = geometry;
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
        std::lock_guard<std::mutex> lock(m_);
        if (!camera_)
            return FLYCAPTURE_NOT_INITIALIZED;
        if (removedLocked())
            return FLYCAPTURE_DEVICE_REMOVED;
        if (streaming_)
            return FLYCAPTURE_ALREADY_STARTED;
        camera = camera_;
    }
    const FlyCaptureError configured = toError(camera->configureFormat7(geometry));
    if (configured != FLYCAPTURE_OK)
        return configured;

    const Pacing pacing = World::instance().pacing();
    {
        std::lock_guard<std::mutex> lock(m_);
        prepareRingLocked(geometry);
        pixelFormat_ = format;
        unpaced_ = pacing == Pacing::unpaced;
        streaming_ = true; // before the camera starts: its first image may come at once
    }
    const FlyCaptureError started = toError(camera->startStream(shared_from_this(), pacing));
    if (started != FLYCAPTURE_OK) {
        std::lock_guard<std::mutex> lock(m_);
        streaming_ = false;
    }
    return started;
}

FlyCaptureError Context::stop()
{
    std::shared_ptr<Camera> camera;
    bool removed;
    {
        std::lock_guard<std::mutex> lock(m_);
        if (!camera_)
            return FLYCAPTURE_NOT_INITIALIZED;
        removed = removedLocked();
        if (!streaming_)
            return removed ? FLYCAPTURE_DEVICE_REMOVED : FLYCAPTURE_NOT_STARTED;
        streaming_ = false;
        camera = camera_;
        cv_.notify_all();
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
    std::lock_guard<std::mutex> lock(m_);
    timeoutMs_ = milliseconds;
}

void Context::storeLocked(const Frame& frame)
{
    if (!streaming_ || frame.geometry != geometry_)
        return;
    Buffer* target = nullptr;
    for (BufferState wanted : {BufferState::free, BufferState::ready}) {
        for (Buffer& b : ring_) {
            if (b.state == wanted && (!target || b.sequence < target->sequence))
                target = &b;
        }
        if (target)
            break;
    }
    if (!target) {
        ++dropped_; // every buffer is lent to the host
        return;
    }
    if (target->state == BufferState::ready)
        ++dropped_; // overwritten before anybody locked it
    pattern::stamp(target->data.get(), geometry_, frame, target->stamp);
    target->frame = frame;
    target->sequence = nextSequence_++;
    target->state = BufferState::ready;
    cv_.notify_all();
}

void Context::onFrame(const Frame& frame)
{
    std::lock_guard<std::mutex> lock(m_);
    storeLocked(frame);
}

void Context::onStreamRescheduled()
{
    std::lock_guard<std::mutex> lock(m_);
    cv_.notify_all();
}

int64_t Context::pullDueLocked()
{
    pulled_.clear();
    uint64_t superseded = 0;
    const int64_t nextNs = camera_->pullImages(pulled_, superseded);
    dropped_ += superseded;
    // Of a batch, only the images the free and waiting buffers can hold
    // survive it; the ones before them would only be written over.
    size_t writable = 0;
    for (const Buffer& b : ring_)
        writable += b.state != BufferState::locked ? 1 : 0;
    size_t first = 0;
    if (streaming_ && pulled_.size() > writable) {
        first = pulled_.size() - writable;
        for (size_t i = 0; i < first; ++i)
            dropped_ += pulled_[i].geometry == geometry_ ? 1 : 0;
    }
    for (size_t i = first; i < pulled_.size(); ++i)
        storeLocked(pulled_[i]);
    return nextNs;
}

void Context::onCameraRemoved()
{
    std::lock_guard<std::mutex> lock(m_);
    removed_ = true;
    cv_.notify_all();
}

void Context::fillImageLocked(unsigned index, FlyCaptureImage& image) const
{
    const Buffer& b = ring_[index];
    image.iRows = static_cast<int>(geometry_.height);
    image.iCols = static_cast<int>(geometry_.width);
    image.iRowInc = static_cast<int>(geometry_.rowBytes());
    image.pixelFormat = pixelFormat_;
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
    std::unique_lock<std::mutex> lock(m_);
    const bool infinite = timeoutMs_ == FLYCAPTURE_INFINITE;
    // Time-outs beyond a year are as good as infinite (and keep the sum in range).
    constexpr uint64_t kLongestMs = 366ull * 24 * 3600 * 1000;
    const int64_t deadlineNs = infinite || timeoutMs_ > kLongestMs
                                   ? kNeverNs
                                   : hostNowNs() + static_cast<int64_t>(timeoutMs_) * 1'000'000;
    for (;;) {
        if (destroyed_)
            return FLYCAPTURE_INVALID_CONTEXT;
        if (!camera_)
            return FLYCAPTURE_NOT_INITIALIZED;
        if (removedLocked())
            return FLYCAPTURE_DEVICE_REMOVED;
        if (!streaming_)
            return FLYCAPTURE_NOT_STARTED;
        int64_t nextImageNs = kNeverNs;
        if (unpaced_) {
            // The camera produces one image on demand (never reaches onFrame).
            if (const auto frame = camera_->pullFrame())
                storeLocked(*frame);
        } else {
            nextImageNs = pullDueLocked();
        }
        int newest = -1;
        for (size_t i = 0; i < ring_.size(); ++i) {
            if (ring_[i].state == BufferState::ready &&
                (newest < 0 || ring_[i].sequence > ring_[size_t(newest)].sequence))
                newest = static_cast<int>(i);
        }
        if (newest >= 0) {
            // Older images nobody locked are dropped.
            for (size_t i = 0; i < ring_.size(); ++i) {
                if (ring_[i].state == BufferState::ready && i != size_t(newest)) {
                    ring_[i].state = BufferState::free;
                    ++dropped_;
                }
            }
            ring_[size_t(newest)].state = BufferState::locked;
            fillImageLocked(static_cast<unsigned>(newest), image);
            return FLYCAPTURE_OK;
        }
        if (deadlineNs != kNeverNs && hostNowNs() >= deadlineNs)
            return FLYCAPTURE_TIMEOUT;
        waitUntilHostNs(cv_, lock, std::min(deadlineNs, nextImageNs));
    }
}

FlyCaptureError Context::unlock(unsigned int bufferIndex)
{
    std::lock_guard<std::mutex> lock(m_);
    if (!camera_)
        return FLYCAPTURE_NOT_INITIALIZED;
    if (bufferIndex >= ring_.size())
        return FLYCAPTURE_INVALID_ARGUMENT;
    if (ring_[bufferIndex].state != BufferState::locked)
        return FLYCAPTURE_BUFFER_NOT_LOCKED;
    ring_[bufferIndex].state = BufferState::free;
    return FLYCAPTURE_OK;
}

FlyCaptureError Context::unlockAll()
{
    std::lock_guard<std::mutex> lock(m_);
    if (!camera_)
        return FLYCAPTURE_NOT_INITIALIZED;
    for (Buffer& b : ring_) {
        if (b.state == BufferState::locked)
            b.state = BufferState::free;
    }
    return FLYCAPTURE_OK;
}

uint64_t Context::droppedImages() const
{
    std::lock_guard<std::mutex> lock(m_);
    return dropped_;
}

unsigned Context::lockedBuffers() const
{
    std::lock_guard<std::mutex> lock(m_);
    unsigned locked = 0;
    for (const Buffer& b : ring_)
        locked += b.state == BufferState::locked ? 1u : 0u;
    return locked;
}

void Context::destroy()
{
    std::shared_ptr<Camera> camera;
    {
        std::lock_guard<std::mutex> lock(m_);
        if (destroyed_)
            return;
        destroyed_ = true;
        if (streaming_ && !removedLocked())
            camera = camera_;
        streaming_ = false;
        cv_.notify_all();
    }
    if (camera)
        camera->stopStream();
}

} // namespace orvex::sim::flycap
