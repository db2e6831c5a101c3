// The camera's image stream: free run at its frame rate, triggers, unpaced
// production, the facts stamped into each image, and the clock correction
// that the sync block sets up.
//
// Free run follows the bus cycle clock, as a real camera's does: each image
// starts on a cycle boundary, its grid advances by the frame period in bus
// ticks, and a camera that cannot send an image (its receiver holds the
// delivering thread, the host is loaded) skips whole periods without moving
// its phase. So cameras on one bus keep a fixed distance between their time
// stamps, whatever the bus clock's rate against the host.
//
// No thread of the camera's own produces the images. A receiver that pulls
// them (the simulated SDK) takes, whenever it asks, every image that has
// become due since it last asked, made with the camera's state of that
// moment: each call that changes the camera first brings the stream up to
// date (catchUpLocked), so an image due before a register write carries the
// registers from before it. A receiver that wants them pushed (the driver,
// an isochronous channel, tests) gets them from the process's one
// StreamScheduler thread, on time.
//
// Stop protocol: stopStream (or detach, or the destructor) clears _streaming
// under the camera's lock, releases it and removes the camera from the
// scheduler, which waits for a delivery in progress; no delivery holds the
// camera's lock, so a sink that is busy delivering cannot block the stop.
#include <orvex/sim/Camera.h>
#include <orvex/sim/HostWait.h>

#include <orvex/iidc/FrameInfo.h>
#include <orvex/iidc/Registers.h>
#include <orvex/iidc/SmartFeatures.h>
#include <orvex/iidc/SyncRegisters.h>

#include "CameraLayout.h"
#include "StreamScheduler.h"

#include <algorithm>
#include <cmath>

namespace orvex::sim {

using namespace orvex::iidc;

namespace {

// Images a pulling receiver has not taken yet, at most: older ones make
// room and count as superseded, as they would have in any ring of buffers
// smaller than this.
constexpr std::size_t kMaxPendingImages = 4096;

int64_t positiveModulo(int64_t value, int64_t modulus)
{
    const int64_t r = value % modulus;
    return r < 0 ? r + modulus : r;
}

constexpr int64_t kCycleTicks = kTicksPerCycle;

// The last cycle boundary at or before `ticks`.
int64_t cycleBoundaryUpTo(int64_t ticks)
{
    return ticks - positiveModulo(ticks, kCycleTicks);
}

// The first cycle boundary at or after `ticks`.
int64_t cycleBoundaryFrom(int64_t ticks)
{
    return -cycleBoundaryUpTo(-ticks);
}

} // namespace

bool Camera::producingLocked() const
{
    return _streaming && _bus && transmittingLocked() && (reg(kCameraPower) & kCameraPowerOn);
}

Status Camera::startStream(std::shared_ptr<FrameSink> sink, Pacing pacing, bool bandwidthHeld)
{
    std::unique_lock<std::mutex> lock(_m);
    if (_streaming && _isoOwned)
        stopStreamLocked(lock, false); // a receiver takes over what the registers started
    _isoOwned = false;
    return startStreamLocked(lock, std::move(sink), pacing, bandwidthHeld);
}

Status Camera::startStreamLocked(std::unique_lock<std::mutex>& lock, std::shared_ptr<FrameSink> sink,
                                 Pacing pacing, bool bandwidthHeld)
{
    if (!_bus)
        return Status::notConnected;
    if (_streaming)
        return Status::alreadyStreaming;
    if (!(reg(kCameraPower) & kCameraPowerOn))
        return Status::poweredOff;
    const FrameGeometry g = currentGeometryLocked();
    if (g.width == 0 || g.height == 0 || g.bytesPerPacket == 0)
        return Status::invalidMode;
    if (!bandwidthHeld && !_bus->reserveBandwidth(g.bytesPerPacket))
        return Status::bandwidthExceeded;
    (void)lock;
    _reservedBandwidth = bandwidthHeld ? 0 : g.bytesPerPacket;
    _streaming = true;
    _pacing = pacing;
    _streamGeometry = g;
    _pulled = pacing == Pacing::frameRate && sink && sink->pullsImages();
    _sink = std::move(sink);
    _triggers.clear();
    _freeRun = FreeRunPlan{};
    _busyUntilNs = 0;
    _pending.clear();
    _superseded = 0;
    _idleAtCatchUp = false;
    _lastCatchUpNs = hostNowNs();
    _regs[kIsoEnable] = kIsoEnableBit;
    if (pacing == Pacing::frameRate && !_pulled)
        StreamScheduler::instance().add(*this);
    return Status::ok;
}

void Camera::stopStream()
{
    std::unique_lock<std::mutex> lock(_m);
    if (_streaming)
        stopStreamLocked(lock, false);
}

void Camera::stopStreamLocked(std::unique_lock<std::mutex>& lock, bool removed)
{
    const bool scheduled = _pacing == Pacing::frameRate && !_pulled;
    _streaming = false;
    _regs[kIsoEnable] = 0;
    _triggers.clear();
    _pending.clear();
    _superseded = 0;
    if (_bus)
        _bus->releaseBandwidth(_reservedBandwidth);
    _reservedBandwidth = 0;
    std::shared_ptr<FrameSink> sink = std::move(_sink);
    lock.unlock();
    if (scheduled)
        StreamScheduler::instance().remove(*this);
    if (removed && sink)
        sink->onCameraRemoved();
    lock.lock();
}

bool Camera::isStreaming() const
{
    std::lock_guard<std::mutex> lock(_m);
    return _streaming;
}

FrameGeometry Camera::streamGeometry() const
{
    std::lock_guard<std::mutex> lock(_m);
    return _streamGeometry;
}

std::optional<Frame> Camera::pullFrame()
{
    std::lock_guard<std::mutex> lock(_m);
    if (_pacing != Pacing::unpaced || !producingLocked() || triggerOnLocked())
        return std::nullopt;
    // A lost image still moves the frame counter: the receiver sees the gap.
    Frame frame = makeFrameLocked(hostNowNs(), false, false);
    while (_streamFaults.takeLoss())
        frame = makeFrameLocked(hostNowNs(), false, false);
    return frame;
}

bool Camera::nextImageLocked(int64_t now, bool pulled, Frame& frame, int64_t& nextNs)
{
    if (triggerOnLocked()) {
        if (_triggers.empty()) {
            nextNs = kNeverNs;
            return false;
        }
        const Trigger trigger = _triggers.front();
        const int64_t due = trigger.hostNs + triggerDeliveryDelayNsLocked(trigger);
        if (now < due) {
            nextNs = due;
            return false;
        }
        _triggers.pop_front();
        frame = makeFrameLocked(trigger.hostNs, true, trigger.external, trigger.exposureNs, std::nullopt,
                                pulled ? std::optional<int64_t>(due) : std::nullopt);
        return true;
    }
    const int64_t delay = deliveryDelayNsLocked();
    const FreeRunStep step = pulled ? freeRunCatchUpStepLocked(now, delay) : freeRunStepLocked(now, delay);
    if (!step.imageDue) {
        nextNs = step.hostNs;
        return false;
    }
    frame = makeFrameLocked(step.hostNs, false, false, -1, step.busTicks,
                            pulled ? std::optional<int64_t>(step.hostNs + delay) : std::nullopt);
    return true;
}

int64_t Camera::serviceStream()
{
    std::unique_lock<std::mutex> lock(_m);
    for (;;) {
        if (!_streaming || _pulled || _pacing != Pacing::frameRate || !producingLocked())
            return kNeverNs; // until woken: a register, a trigger, a start
        Frame frame;
        int64_t nextNs = kNeverNs;
        if (!nextImageLocked(hostNowNs(), false, frame, nextNs))
            return nextNs;
        if (_streamFaults.takeLoss())
            continue;
        std::shared_ptr<FrameSink> sink = _sink;
        lock.unlock();
        if (sink)
            sink->onFrame(frame);
        lock.lock();
    }
}

void Camera::catchUpLocked(int64_t now)
{
    if (!_streaming || !_pulled)
        return;
    if (!producingLocked()) {
        _idleAtCatchUp = true;
        _nextDueNs = kNeverNs;
        _lastCatchUpNs = now;
        return;
    }
    if (_idleAtCatchUp) {
        // Production resumed at the call after the last catch-up: the grid
        // starts afresh from there.
        _freeRun = FreeRunPlan{};
        _idleAtCatchUp = false;
    }
    skipUnkeptImagesLocked(now);
    _sentReading.valid = false;
    Frame frame;
    while (nextImageLocked(now, true, frame, _nextDueNs)) {
        if (_streamFaults.takeLoss())
            continue;
        if (_pending.size() == kMaxPendingImages) {
            _pending.pop_front();
            ++_superseded;
        }
        _pending.push_back(frame);
    }
    _lastCatchUpNs = now;
}

void Camera::skipUnkeptImagesLocked(int64_t now)
{
    // After a long time nobody asked, most free-running images due meanwhile
    // would only push older ones out of the pending list: they move the
    // frame counter and count as superseded without being made.
    // At most one image per bus cycle: a shorter absence cannot have made enough.
    constexpr int64_t kShortestAbsenceNs = int64_t(kMaxPendingImages) * 125'000;
    if (now - _lastCatchUpNs < kShortestAbsenceNs || triggerOnLocked() || !_freeRun.planned)
        return;
    const CycleClock& clock = _bus->clock();
    const int64_t period = periodTicksLocked();
    const int64_t sentTicks = clock.ownTicksAt(now - deliveryDelayNsLocked());
    const int64_t due = (sentTicks - cycleBoundaryFrom(_freeRun.gridTicks)) / period + 1;
    const int64_t skip = due - static_cast<int64_t>(kMaxPendingImages);
    if (skip <= 0)
        return;
    for (int64_t i = 0; i < skip; ++i) {
        ++_frameCounter;
        _streamFaults.takeDamage();
        if (!_streamFaults.takeLoss())
            ++_superseded;
    }
    _freeRun.gridTicks += skip * period;
}

int64_t Camera::pullImages(std::vector<Frame>& images, uint64_t& superseded)
{
    return pullImages(images, superseded, hostNowNs());
}

int64_t Camera::pullImages(std::vector<Frame>& images, uint64_t& superseded, int64_t nowNs)
{
    std::lock_guard<std::mutex> lock(_m);
    superseded = 0;
    if (!_streaming || !_pulled)
        return kNeverNs;
    catchUpLocked(nowNs);
    images.insert(images.end(), _pending.begin(), _pending.end());
    _pending.clear();
    superseded = _superseded;
    _superseded = 0;
    return _nextDueNs;
}

void Camera::rescheduleLocked()
{
    _rescheduled = true;
}

void Camera::wakeReceiver()
{
    std::shared_ptr<FrameSink> sink;
    {
        std::lock_guard<std::mutex> lock(_m);
        if (!_rescheduled)
            return;
        _rescheduled = false;
        if (!_streaming || _pacing != Pacing::frameRate)
            return;
        if (!_pulled) {
            StreamScheduler::instance().wake(*this);
            return;
        }
        sink = _sink;
    }
    if (sink)
        sink->onStreamRescheduled();
}

Camera::FreeRunStep Camera::freeRunStepLocked(int64_t now, int64_t delay)
{
    // A bus reset steps the bus cycle timer, not the camera: it keeps counting its own cycles.
    const CycleClock& clock = _bus->clock();
    if (!_freeRun.planned)
        _freeRun = FreeRunPlan{true, cycleBoundaryFrom(clock.ownTicksAt(now))};
    if (const int64_t stall = _streamFaults.takeStall())
        serveStallLocked(clock, now, stall);
    const int64_t start = cycleBoundaryFrom(_freeRun.gridTicks);
    // Images that started by then have been read out and sent.
    const int64_t sentTicks = clock.ownTicksAt(now - delay);
    if (start > sentTicks)
        return FreeRunStep{false, clock.hostNsAtOwn(start) + delay, std::nullopt};
    // Behind: the images meanwhile were not taken; the newest one sent is,
    // on the same grid (no burst of late images, no new phase).
    const int64_t period = periodTicksLocked();
    const int64_t lastBoundary = cycleBoundaryUpTo(sentTicks);
    const int64_t grid = _freeRun.gridTicks + (lastBoundary - _freeRun.gridTicks) / period * period;
    _freeRun.gridTicks = grid + period;
    return FreeRunStep{true, clock.hostNsAtOwn(cycleBoundaryFrom(grid)), std::nullopt};
}

Camera::FreeRunStep Camera::freeRunCatchUpStepLocked(int64_t now, int64_t delay)
{
    // The receiver asks late, the camera was not: every image of the grid
    // sent by now is made, each at its own instant.
    const CycleClock& clock = _bus->clock();
    if (!_freeRun.planned)
        _freeRun = FreeRunPlan{true, cycleBoundaryFrom(clock.ownTicksAt(_lastCatchUpNs))};
    if (const int64_t stall = _streamFaults.takeStall())
        serveStallLocked(clock, _lastCatchUpNs, stall);
    const int64_t start = cycleBoundaryFrom(_freeRun.gridTicks);
    // Every image of a catch-up and the look past the last compare with one
    // reading of the clock.
    const int64_t sentNs = now - delay;
    if (!_sentReading.valid || _sentReading.hostNs != sentNs)
        _sentReading = SentReading{true, sentNs, clock.ownTicksAt(sentNs)};
    if (start > _sentReading.ownTicks)
        return FreeRunStep{false, clock.hostNsAtOwn(start, now, nullptr) + delay, std::nullopt};
    _freeRun.gridTicks += periodTicksLocked();
    int64_t busTicks = 0;
    const int64_t startNs = clock.hostNsAtOwn(start, now, &busTicks);
    return FreeRunStep{true, startNs, busTicks};
}

void Camera::serveStallLocked(const CycleClock& clock, int64_t now, int64_t stallNs)
{
    // Nothing starts until the stall has passed from the planned image (or
    // from now, if later); the stream resumes at the next point of its grid.
    const int64_t planned = clock.hostNsAtOwn(cycleBoundaryFrom(_freeRun.gridTicks));
    const int64_t resume = cycleBoundaryFrom(clock.ownTicksAt(std::max(planned, now) + stallNs));
    // The first grid point g + k * period whose cycle boundary is at or
    // after `resume`: g + k * period > resume - one cycle.
    const int64_t shortOfResume = resume - kCycleTicks - _freeRun.gridTicks;
    if (shortOfResume >= 0) {
        const int64_t period = periodTicksLocked();
        _freeRun.gridTicks += (shortOfResume / period + 1) * period;
    }
}

int64_t Camera::periodTicksLocked() const
{
    // At most one image per cycle: each starts on a cycle boundary of its own.
    return std::max<int64_t>(std::llround(periodLocked() * kTickFrequencyHz), kCycleTicks);
}

bool Camera::acceptTriggerLocked(int64_t hostNs, bool external, int64_t exposureNs)
{
    if (!triggerOnLocked())
        return false;
    if (!producingLocked() || hostNs < _busyUntilNs) {
        ++_droppedTriggers;
        return false;
    }
    const Trigger trigger{hostNs, external, exposureNs};
    _triggers.push_back(trigger);
    _busyUntilNs = _pacing == Pacing::unpaced ? hostNs : hostNs + triggerDeliveryDelayNsLocked(trigger);
    rescheduleLocked();
    return true;
}

void Camera::deliverTriggersUnpaced()
{
    std::unique_lock<std::mutex> lock(_m);
    while (_pacing == Pacing::unpaced && producingLocked() && !_triggers.empty()) {
        const Trigger trigger = _triggers.front();
        _triggers.pop_front();
        const Frame frame = makeFrameLocked(trigger.hostNs, true, trigger.external, trigger.exposureNs);
        if (_streamFaults.takeLoss())
            continue;
        std::shared_ptr<FrameSink> sink = _sink;
        lock.unlock();
        if (sink)
            sink->onFrame(frame);
        lock.lock();
    }
}

Frame Camera::makeFrameLocked(int64_t exposureStartNs, bool triggered, bool externalTrigger,
                              int64_t exposureNs, std::optional<int64_t> busTicksAtStart,
                              std::optional<int64_t> deliveredNs)
{
    trackOnePushLocked(exposureStartNs);
    frameSentLocked();
    applyAutoExposureLocked();
    Frame f;
    f.geometry = _streamGeometry;
    f.frameCounter = _frameCounter++;
    f.exposureStartNs = exposureStartNs;
    f.exposureNs = exposureNs >= 0 ? exposureNs : static_cast<int64_t>(exposureLocked() * 1e9);
    f.deliveredNs = deliveredNs ? *deliveredNs : hostNowNs();
    if (_bus) {
        // One reading of the bus clock for both stamps.
        const int64_t busTicks = busTicksAtStart ? *busTicksAtStart : _bus->clock().ticksAt(exposureStartNs);
        f.busCycleTime = ticksToCycleTime(static_cast<uint32_t>(positiveModulo(busTicks, kTicksPerWrap)));
        f.cycleTime = _forcedTimeStamp.value_or(stampAtTicksLocked(busTicks));
    } else {
        f.busCycleTime = 0;
        f.cycleTime = _forcedTimeStamp.value_or(0u);
    }
    f.gainRegister = reg(kGain);
    f.shutterRegister = reg(kShutter);
    f.triggered = triggered;

    f.gpioLevels = gpioLevelsLocked(exposureStartNs, f.exposureNs, externalTrigger);

    f.frameInfoRegister = reg(kFrameInfo) & frameinfo::kAllItems; // 0 where the camera has none
    chunkSettingsLocked(f.smartChunks, f.crcChunk);
    f.frameInfoDamage = _streamFaults.takeDamage();
    return f;
}

// --- clock synchronisation ---------------------------------------------------------

uint32_t Camera::stampLocked(int64_t hostNs) const
{
    return _bus ? stampAtTicksLocked(_bus->clock().ticksAt(hostNs)) : 0;
}

uint32_t Camera::stampAtTicksLocked(int64_t busTicks) const
{
    double ticks = static_cast<double>(busTicks);
    if (_sync.active) {
        const double elapsedSeconds = static_cast<double>(busTicks - _sync.referenceTicks) / kTicksPerSecond;
        ticks += static_cast<double>(_sync.offsetTicks) + _sync.drift * elapsedSeconds;
    }
    const int64_t wrapped = positiveModulo(static_cast<int64_t>(std::floor(ticks)), kTicksPerWrap);
    return ticksToCycleTime(static_cast<uint32_t>(wrapped));
}

uint32_t Camera::stampCycleTimeAt(int64_t hostNs) const
{
    std::lock_guard<std::mutex> lock(_m);
    return stampLocked(hostNs);
}

void Camera::writeSyncLocked(unsigned quadlet, uint32_t value, int64_t now)
{
    _sync.quadlets[quadlet] = value;
    if (quadlet != 1)
        return; // the block takes effect with its last quadlet
    if (_sync.quadlets[0] == 0 && _sync.quadlets[1] == 0) {
        _sync.active = false;
        return;
    }
    // The reference instant: the latest moment, at or before now, at which
    // this camera's clock read (reference second, cycle 0, offset 0).
    const int64_t nowTicks = _bus->clock().ticksAt(now);
    const int64_t intoWrap = positiveModulo(nowTicks, kTicksPerWrap);
    const int64_t secondNow = intoWrap / kTicksPerSecond;
    const int64_t secondsBack = positiveModulo(secondNow - syncReferenceSecond(value), kCycleSecondsWrap);
    _sync.referenceTicks =
        nowTicks - positiveModulo(nowTicks, kTicksPerSecond) - secondsBack * kTicksPerSecond;
    _sync.offsetTicks = cycleTimeToTicks(_sync.quadlets[0]);
    _sync.drift = syncDrift(value);
    _sync.active = true;
}

uint32_t Camera::frameCounter() const
{
    std::lock_guard<std::mutex> lock(_m);
    return _frameCounter;
}

void Camera::setFrameCounter(uint32_t next)
{
    std::lock_guard<std::mutex> lock(_m);
    catchUpLocked(hostNowNs());
    _frameCounter = next;
}

void Camera::forceTimeStamp(std::optional<uint32_t> cycleTime)
{
    std::lock_guard<std::mutex> lock(_m);
    catchUpLocked(hostNowNs());
    _forcedTimeStamp = cycleTime;
}

void Camera::loseNextImages(unsigned count)
{
    std::lock_guard<std::mutex> lock(_m);
    catchUpLocked(hostNowNs());
    _streamFaults.loseNext(count);
}

void Camera::stallStream(int64_t ns)
{
    {
        std::lock_guard<std::mutex> lock(_m);
        catchUpLocked(hostNowNs());
        _streamFaults.stallFor(ns);
        rescheduleLocked(); // the next image is planned again
    }
    wakeReceiver();
}

void Camera::damageNextFrameInfo(FrameInfoDamage damage, unsigned count)
{
    std::lock_guard<std::mutex> lock(_m);
    catchUpLocked(hostNowNs());
    _streamFaults.damageNext(damage, count);
}

uint64_t Camera::lostImages() const
{
    std::lock_guard<std::mutex> lock(_m);
    return _streamFaults.lostImages();
}

uint64_t Camera::droppedTriggers() const
{
    std::lock_guard<std::mutex> lock(_m);
    return _droppedTriggers;
}

} // namespace orvex::sim
