// The per-camera images buffer: bounded, locked by itself, freeing each
// pixel buffer exactly once.
#include <orvex/ImagesBuffer.h>

#include "base/CriticalSection.h"
#include "images/ImagesTexts.h"
#include "images/LostImageLine.h"
#include "images/RingQueue.h"

#include <orvex/Loggers.h>
#include <orvex/OrvexError.h>

#include <boost/make_shared.hpp>

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

using namespace orvex::images;
using orvex::CriticalSection;
using orvex::ScopedLock;

namespace {

using SamplePtr = boost::shared_ptr<ImageSample>;

constexpr unsigned long kDefaultBufferMaxSize = 3;
constexpr unsigned int kDefaultTransitQueueMaxSize = 2;
constexpr int kLostImageLevel = orvex::kLevelInfo;

// Frame indexes are 32-bit counters: the buffer orders and ages them modulo 2^32.
uint32_t keyOf(const ImageSample& sample)
{
    return static_cast<uint32_t>(sample.getIdx());
}

// Gives make_shared access to the constructor that only the buffer may use,
// so that a sample and its reference count share one allocation.
class BufferedSample : public ImageSample {
public:
    template <typename... Args>
    explicit BufferedSample(Args&&... args) : ImageSample(std::forward<Args>(args)...)
    {
    }
};

} // namespace

// Who touches what: `transit` belongs to the acquisition thread while it
// acquires; `buffer` belongs to the acquisition thread under csBuffer while
// the locked flag is clear and to the host while the flag is set;
// `obsoleteParams` is touched under csObsoleteParams; `captured` and the
// settings belong to the host. The flags and sizes are atomics because the
// acquisition thread reads them while the host may set them.
struct ImagesBuffer::State {
    struct Entry {
        uint32_t key = 0;
        SamplePtr sample;
    };

    explicit State(bool keep) : bKeepObsoleteParams(keep) {}

    // Everything but the locks, which a copy gets fresh.
    State(const State& other)
        : captured(other.captured), buffer(other.buffer), transit(other.transit),
          obsoleteParams(other.obsoleteParams), nObsoleteParams(other.nObsoleteParams.load()),
          bKeepObsoleteParams(other.bKeepObsoleteParams.load()), bLocked(other.bLocked.load()),
          ulBufferMaxSize(other.ulBufferMaxSize.load()),
          nTransitQueueMaxSize(other.nTransitQueueMaxSize.load())
    {
    }
    State& operator=(const State&) = delete;

    bool isLocked() const { return bLocked.load(std::memory_order_relaxed); }
    bool keepsObsoleteParams() const { return bKeepObsoleteParams.load(std::memory_order_relaxed); }

    void requireLocked() const
    {
        if (!isLocked())
            ORVEX_THROW(kBufferUnit, kMustLockBuffer);
    }

    void keepObsoleteParam(void* param)
    {
        ScopedLock lock(csObsoleteParams);
        obsoleteParams.push_back(param);
        nObsoleteParams.store(obsoleteParams.size(), std::memory_order_release);
    }

    // False when none is left, else the oldest parameter, removed.
    bool takeObsoleteParam(void*& param)
    {
        ScopedLock lock(csObsoleteParams);
        if (obsoleteParams.empty())
            return false;
        param = obsoleteParams.front();
        obsoleteParams.pop_front();
        nObsoleteParams.store(obsoleteParams.size(), std::memory_order_release);
        return true;
    }

    void forgetObsoleteParams()
    {
        ScopedLock lock(csObsoleteParams);
        obsoleteParams.clear();
        nObsoleteParams.store(0, std::memory_order_release);
    }

    // An image leaves the buffer or the transit queue without being captured.
    void dropObsolete(const ImagesBuffer& owner, const ImageSample& sample)
    {
        if (keepsObsoleteParams())
            keepObsoleteParam(sample.getParam());
        owner.logLostImage(sample);
    }

    // First position whose key is not below `key` (the size when none).
    size_t lowerBound(uint32_t key) const
    {
        size_t low = 0;
        size_t high = buffer.size();
        while (low < high) {
            const size_t middle = low + (high - low) / 2;
            if (buffer[middle].key < key)
                low = middle + 1;
            else
                high = middle;
        }
        return low;
    }

    // Position of `key` in the buffer, or the buffer's size when absent.
    size_t find(uint32_t key) const
    {
        const size_t pos = lowerBound(key);
        return pos < buffer.size() && buffer[pos].key == key ? pos : buffer.size();
    }

    // Inserts in index order; false (and `sample` untouched) when the index
    // is already buffered.
    bool insertInOrder(uint32_t key, SamplePtr& sample)
    {
        // Indexes normally grow: look at the newest first.
        if (buffer.empty() || buffer.back().key < key) {
            buffer.push_back(Entry{key, std::move(sample)});
            return true;
        }
        const size_t pos = lowerBound(key);
        if (buffer[pos].key == key)
            return false;
        buffer.insert(pos, Entry{key, std::move(sample)});
        return true;
    }

    // Moves every waiting image into the buffer, dropping what became
    // obsolete. Acquisition thread, under csBuffer, with the flag clear.
    void moveTransitIntoBuffer(const ImagesBuffer& owner)
    {
        const unsigned long maxSize = ulBufferMaxSize.load(std::memory_order_relaxed);
        while (!transit.empty()) {
            SamplePtr sample = std::move(transit.front());
            transit.pop_front();
            const uint32_t key = keyOf(*sample);
            // A duplicate index is let go here, without a report.
            insertInOrder(key, sample);
            dropLowestBeyond(owner, maxSize);
            dropOlderThan(owner, key, maxSize);
        }
    }

    // At most one image per insertion, so a lowered maximum is reached
    // through the age rule rather than all at once.
    void dropLowestBeyond(const ImagesBuffer& owner, unsigned long maxSize)
    {
        if (buffer.size() <= maxSize)
            return;
        dropObsolete(owner, *buffer.front().sample);
        buffer.pop_front();
    }

    // Drops every image more than maxSize indexes older than `newest`,
    // modulo 2^32: after a counter restart (newest below the buffered
    // indexes) the wrap-around makes the higher indexes obsolete.
    void dropOlderThan(const ImagesBuffer& owner, uint32_t newest, unsigned long maxSize)
    {
        buffer.removeIf([&](Entry& entry) {
            const uint32_t age = newest - entry.key;
            if (age <= maxSize)
                return false;
            dropObsolete(owner, *entry.sample);
            return true;
        });
    }

    // The oldest waiting images beyond the transit maximum are dropped.
    // Acquisition thread.
    void trimTransit(const ImagesBuffer& owner)
    {
        const unsigned int maxSize = nTransitQueueMaxSize.load(std::memory_order_relaxed);
        while (transit.size() > maxSize) {
            dropObsolete(owner, *transit.front());
            transit.pop_front();
        }
    }

    SamplePtr captured;
    RingQueue<Entry> buffer; // ascending by key, keys unique
    RingQueue<SamplePtr> transit;
    RingQueue<void*> obsoleteParams;
    // Mirrors obsoleteParams.size(), so that asking whether one is available
    // (every pass of an acquisition thread that recycles) takes no lock.
    std::atomic<size_t> nObsoleteParams{0};
    std::atomic<bool> bKeepObsoleteParams;
    std::atomic<bool> bLocked{false};
    CriticalSection csBuffer;
    CriticalSection csObsoleteParams;
    std::atomic<unsigned long> ulBufferMaxSize{kDefaultBufferMaxSize};
    std::atomic<unsigned int> nTransitQueueMaxSize{kDefaultTransitQueueMaxSize};
};

ImagesBuffer::ImagesBuffer(bool keepObsoleteParams) : _pState(std::make_unique<State>(keepObsoleteParams)) {}

ImagesBuffer::ImagesBuffer(const ImagesBuffer& other) : _pState(std::make_unique<State>(*other._pState)) {}

ImagesBuffer& ImagesBuffer::operator=(const ImagesBuffer& other)
{
    if (this != &other)
        _pState = std::make_unique<State>(*other._pState);
    return *this;
}

// The state's members go in reverse order: the locks before the queues, the
// captured image last; samples die with their last reference.
ImagesBuffer::~ImagesBuffer() = default;

void ImagesBuffer::setBufferMaxSize(unsigned long size)
{
    if (size == 0)
        ORVEX_THROW(kBufferUnit, kBufferMaxSizeZero);
    _pState->ulBufferMaxSize.store(size, std::memory_order_relaxed);
}

int ImagesBuffer::getBufferMaxSize() const
{
    return static_cast<int>(_pState->ulBufferMaxSize.load(std::memory_order_relaxed));
}

void ImagesBuffer::setTransitQueueMaxSize(unsigned int size)
{
    _pState->nTransitQueueMaxSize.store(size, std::memory_order_relaxed);
}

unsigned int ImagesBuffer::getTransitQueueMaxSize() const
{
    return _pState->nTransitQueueMaxSize.load(std::memory_order_relaxed);
}

void ImagesBuffer::lockBuffer()
{
    ScopedLock lock(_pState->csBuffer);
    _pState->bLocked.store(true, std::memory_order_relaxed);
}

void ImagesBuffer::unlockBuffer()
{
    ScopedLock lock(_pState->csBuffer);
    _pState->bLocked.store(false, std::memory_order_relaxed);
}

void ImagesBuffer::addImage(boost::shared_ptr<ImageSample> sample)
{
    if (!sample)
        ORVEX_THROW(kBufferUnit, kNullSample);
    State& state = *_pState;
    state.transit.push_back(std::move(sample));
    // The unlocked read only spares the lock while the host holds the
    // buffer; the decision is taken again under the lock.
    if (!state.isLocked()) {
        ScopedLock lock(state.csBuffer);
        if (!state.isLocked())
            state.moveTransitIntoBuffer(*this);
    }
    state.trimTransit(*this);
}

void ImagesBuffer::addImage(unsigned long idx, double swDate, double hwDate, unsigned char* data,
                            int bufferSize, int width, int height, ImageValidity validity, int shutter,
                            int gain, bool copy, HWND notifiedWnd, unsigned long notificationMsg, void* param)
{
    addImage(boost::make_shared<BufferedSample>(idx, swDate, hwDate, data, bufferSize, width, height,
                                                validity, shutter, gain, copy, notifiedWnd, notificationMsg,
                                                param));
}

unsigned long ImagesBuffer::getBufferSize() const
{
    _pState->requireLocked();
    return static_cast<unsigned long>(_pState->buffer.size());
}

boost::shared_ptr<ImageSample> ImagesBuffer::getBufferContent(unsigned long pos) const
{
    const State& state = *_pState;
    state.requireLocked();
    const size_t size = state.buffer.size();
    if (pos >= size) {
        ORVEX_THROW(kBufferUnit, kInvalidBufferPositionHead + std::to_string(pos) +
                                     kInvalidBufferPositionMiddle + std::to_string(size));
    }
    return state.buffer[size - 1 - pos].sample;
}

boost::shared_ptr<ImageSample> ImagesBuffer::captureImage(unsigned long idx)
{
    State& state = *_pState;
    state.requireLocked();
    if (state.captured)
        ORVEX_THROW(kBufferUnit, kAlreadyCaptured);
    const size_t pos = state.find(static_cast<uint32_t>(idx));
    if (pos == state.buffer.size())
        ORVEX_THROW(kBufferUnit, kInvalidImageIdx);
    // Moved, not copied: the slot is erased below anyway.
    state.captured = std::move(state.buffer[pos].sample);
    for (size_t older = 0; older < pos; ++older)
        state.dropObsolete(*this, *state.buffer[older].sample);
    for (size_t erased = 0; erased <= pos; ++erased)
        state.buffer.pop_front();
    return state.captured;
}

boost::shared_ptr<ImageSample> ImagesBuffer::getCapturedImage() const
{
    if (!_pState->captured)
        ORVEX_THROW(kBufferUnit, kNoImageCaptured);
    return _pState->captured;
}

bool ImagesBuffer::isImageCaptured() const
{
    return static_cast<bool>(_pState->captured);
}

void ImagesBuffer::releaseImage()
{
    State& state = *_pState;
    if (!state.captured)
        ORVEX_THROW(kBufferUnit, kNoImageCaptured);
    if (state.keepsObsoleteParams())
        state.keepObsoleteParam(state.captured->getParam());
    state.captured.reset();
}

void ImagesBuffer::keepObsoleteParams(bool keep)
{
    if (!keep)
        _pState->forgetObsoleteParams();
    _pState->bKeepObsoleteParams.store(keep, std::memory_order_relaxed);
}

bool ImagesBuffer::areObsoleteParamsKept() const
{
    return _pState->keepsObsoleteParams();
}

bool ImagesBuffer::isObsoleteParamAvailable()
{
    State& state = *_pState;
    if (!state.keepsObsoleteParams())
        ORVEX_THROW(kBufferUnit, kObsoleteParamsNotKept);
    return state.nObsoleteParams.load(std::memory_order_acquire) != 0;
}

void* ImagesBuffer::getObsoleteParam()
{
    State& state = *_pState;
    if (!state.keepsObsoleteParams())
        ORVEX_THROW(kBufferUnit, kObsoleteParamsNotKept);
    void* param = nullptr;
    if (!state.takeObsoleteParam(param))
        ORVEX_THROW(kBufferUnit, kNoObsoleteParam);
    return param;
}

void ImagesBuffer::destroyObsoleteParams()
{
    _pState->forgetObsoleteParams();
}

void ImagesBuffer::reset()
{
    State& state = *_pState;
    if (state.captured)
        releaseImage();
    state.forgetObsoleteParams();
    state.buffer.clear();
    state.transit.clear();
}

void ImagesBuffer::logLostImage(const ImageSample& sample) const
{
    if (!g_OrvexLostStreamLogger.isEnabledFor(kLostImageLevel))
        return;
    // Shutter and gain as the 32-bit signed values they are on the camera.
    const int shutter = static_cast<int32_t>(static_cast<uint32_t>(sample._ulShutter));
    const int gain = static_cast<int32_t>(sample._lGain);
    g_OrvexLostStreamLogger.forcedLog(
        kLostImageLevel, composeLostImageLine(this, sample._ulIdx, sample._dHWDate, shutter, gain), __FILE__,
        __LINE__);
}
