// Request dispatch and the grab queue of one simulated BCAM device.
#include "BcamDevice.h"

#include "Quadlets.h"
#include "RequestLog.h"

#include <orvex/iidc/Registers.h>
#include <orvex/sim/FramePattern.h>
#include <orvex/sim/World.h>

#include <algorithm>
#include <cstring>
#include <optional>

namespace orvex::sim::bcam {

namespace {

bool failed(NTSTATUS status)
{
    return status != win32::driver::kStatusSuccess;
}

NTSTATUS driverError(DWORD code)
{
    return static_cast<NTSTATUS>(code);
}

const RequestEntry* findRequest(DWORD code)
{
    for (const RequestEntry& entry : request::kAll) {
        if (entry.code == code)
            return &entry;
    }
    return nullptr;
}

// Fault table names of the faults that concern images rather than requests.
constexpr const char* kDropImageFault = "DropImage";
constexpr const char* kStallGrabFault = "StallGrab";

} // namespace

BcamDevice::BcamDevice(std::shared_ptr<Camera> camera)
    : _serial(camera->serialNumber()), _control(std::move(camera))
{
}

uint64_t BcamDevice::droppedImages() const
{
    std::lock_guard<std::mutex> lock(_m);
    return _dropped;
}

bool BcamDevice::isGone() const
{
    std::lock_guard<std::mutex> lock(_m);
    return _gone;
}

void BcamDevice::unplugged()
{
    {
        std::lock_guard<std::mutex> lock(_m);
        _gone = true;
        _streaming = false;
    }
    endGrabs(win32::driver::kStatusDeviceNotConnected);
}

void BcamDevice::deviceControl(const std::shared_ptr<win32::driver::IoRequest>& request)
{
    noteRequest(_serial, request->controlCode(), request->inputLength(), request->outputLength());
    const RequestEntry* entry = findRequest(request->controlCode());
    if (!entry) {
        request->complete(win32::driver::kStatusInvalidDeviceRequest, 0);
        return;
    }
    const bool grab = entry->code == request::kGrabImage.code;
    if (request->inputLength() != entry->inBytes || (!grab && request->outputLength() < entry->outBytes)) {
        request->complete(win32::driver::kStatusInvalidParameter, 0);
        return;
    }
    if (isGone()) {
        request->complete(win32::driver::kStatusDeviceNotConnected, 0);
        return;
    }
    if (auto fault = World::instance().faults().consume(entry->name, _serial)) {
        request->complete(static_cast<NTSTATUS>(*fault), 0);
        return;
    }
    if (grab) {
        queueGrab(request);
        return;
    }
    if (entry->code == request::kCancel.code) {
        // Only the calling handle's grabs: another handle's stream goes on.
        endGrabs(win32::driver::kStatusCancelled, request->file());
        request->complete(win32::driver::kStatusSuccess, 0);
        return;
    }
    NTSTATUS status = win32::driver::kStatusSuccess;
    DWORD written = 0;
    {
        // Payloads are copied out and in so that the camera is never called
        // with the request locked.
        std::vector<uint8_t> in(entry->inBytes), out(entry->outBytes);
        {
            win32::driver::BufferAccess access = request->buffers();
            if (!access)
                return; // already cancelled
            if (!in.empty())
                std::memcpy(in.data(), access.input(), in.size());
        }
        status = dispatch(*entry, in.data(), out.data(), written);
        if (!failed(status) && written) {
            win32::driver::BufferAccess access = request->buffers();
            if (!access)
                return;
            std::memcpy(access.output(), out.data(), written);
        }
    }
    request->complete(status, failed(status) ? 0 : written);
}

NTSTATUS BcamDevice::dispatch(const RequestEntry& entry, const void* in, void* out, DWORD& written)
{
    switch (entry.code) {
    case request::kFormatInquiry.code:
    case request::kModeInquiry.code:
    case request::kRateInquiry.code:
    case request::kSetVideoMode.code:
    case request::kGetVideoMode.code:
        return dispatchVideo(entry, in, out, written);
    case request::kFormat7Inquiry.code:
    case request::kSetImageArea.code:
    case request::kGetImageArea.code:
    case request::kGetColorCoding.code:
    case request::kSetColorCoding.code:
    case request::kBytePerFrame.code:
    case request::kSetBytePerPacket.code:
        return dispatchFormat7(entry, in, out, written);
    default:
        return dispatchControl(entry, in, out, written);
    }
}

NTSTATUS BcamDevice::dispatchVideo(const RequestEntry& entry, const void* in, void* out, DWORD& written)
{
    uint32_t value = 0;
    NTSTATUS status = win32::driver::kStatusSuccess;
    switch (entry.code) {
    case request::kFormatInquiry.code:
        status = _control.formatInquiry(value);
        break;
    case request::kModeInquiry.code:
        status = _control.modeInquiry(quadletAt(in, 0), value);
        break;
    case request::kRateInquiry.code:
        status = _control.rateInquiry(quadletAt(in, 0), quadletAt(in, 1), value);
        break;
    case request::kSetVideoMode.code: {
        std::lock_guard<std::mutex> lock(_m);
        if (_streaming)
            return driverError(error::kBusy);
    }
        return _control.setVideoMode(quadletAt(in, 0), quadletAt(in, 1), quadletAt(in, 2));
    default: { // GetVideoMode
        uint32_t format = 0, mode = 0, rate = 0;
        status = _control.videoMode(format, mode, rate);
        putQuadlet(out, 0, format);
        putQuadlet(out, 1, mode);
        putQuadlet(out, 2, rate);
        written = 12;
        return status;
    }
    }
    putQuadlet(out, 0, value);
    written = 4;
    return status;
}

NTSTATUS BcamDevice::dispatchFormat7(const RequestEntry& entry, const void* in, void* out, DWORD& written)
{
    const uint32_t mode = quadletAt(in, 0);
    switch (entry.code) {
    case request::kFormat7Inquiry.code: {
        Format7Inquiry f7;
        const NTSTATUS status = _control.format7Inquiry(mode, f7);
        const uint32_t values[] = {f7.maxWidth, f7.maxHeight,    f7.unitWidth,  f7.unitHeight, f7.unitLeft,
                                   f7.unitTop,  f7.colorCodings, f7.packetUnit, f7.packetMax};
        for (unsigned i = 0; i < std::size(values); ++i)
            putQuadlet(out, i, values[i]);
        written = entry.outBytes;
        return status;
    }
    case request::kSetImageArea.code:
        if (quadletAt(in, 1) == kAreaSize)
            return _control.setImageSize(mode, quadletAt(in, 2), quadletAt(in, 3));
        if (quadletAt(in, 1) == kAreaPosition)
            return _control.setImagePosition(mode, quadletAt(in, 2), quadletAt(in, 3));
        return win32::driver::kStatusInvalidParameter;
    case request::kGetImageArea.code: {
        ImageArea area;
        const NTSTATUS status = _control.imageArea(mode, area);
        putQuadlet(out, kAreaLeft, area.left);
        putQuadlet(out, kAreaTop, area.top);
        putQuadlet(out, kAreaWidth, area.width);
        putQuadlet(out, kAreaHeight, area.height);
        written = entry.outBytes;
        return status;
    }
    case request::kGetColorCoding.code: {
        uint32_t code = 0;
        const NTSTATUS status = _control.colorCoding(mode, code);
        putQuadlet(out, 0, code);
        written = 4;
        return status;
    }
    case request::kSetColorCoding.code:
        return _control.setColorCoding(mode, quadletAt(in, 1));
    case request::kBytePerFrame.code: {
        FrameSize size;
        const NTSTATUS status = _control.frameSize(mode, size);
        putQuadlet(out, kFrameBytes, size.frameBytes);
        putQuadlet(out, kPacketUnit, size.packetUnit);
        putQuadlet(out, kPacketMax, size.packetMax);
        putQuadlet(out, kPacketBytes, size.packetBytes);
        putQuadlet(out, kPacketsPerFrame, size.packetsPerFrame);
        putQuadlet(out, kPixelBytes, size.pixelBytes);
        putQuadlet(out, kChunkBytes, size.chunkBytes);
        written = entry.outBytes;
        return status;
    }
    default: // SetBytePerPacket
        return _control.setBytesPerPacket(mode, quadletAt(in, 1));
    }
}

NTSTATUS BcamDevice::dispatchControl(const RequestEntry& entry, const void* in, void* out, DWORD& written)
{
    uint32_t value = 0;
    NTSTATUS status = win32::driver::kStatusSuccess;
    switch (entry.code) {
    case request::kInfo.code: {
        std::string text;
        status = _control.info(quadletAt(in, 0), text);
        const size_t length = std::min<size_t>(text.size(), entry.outBytes - 1);
        std::memset(out, 0, entry.outBytes);
        std::memcpy(out, text.data(), length);
        written = entry.outBytes;
        return status;
    }
    case request::kContinuousShot.code:
        return continuousShot(quadletAt(in, 1) != 0);
    case request::kPropertyInquiry.code:
        status = _control.propertyInquiry(quadletAt(in, 0), value);
        break;
    case request::kGetProperty.code:
        status = _control.property(quadletAt(in, 0), quadletAt(in, 1), value);
        break;
    case request::kSetProperty.code:
        return _control.setProperty(quadletAt(in, 0), quadletAt(in, 1), quadletAt(in, 2));
    case request::kAllocateResources.code:
        return allocateResources(in, out, written);
    case request::kFreeResources.code:
        return freeResources();
    case request::kReadQuadlet.code:
        if (quadletAt(in, 1) != orvex::iidc::kAddressHigh)
            return driverError(error::kAddressError);
        status = _control.read(quadletAt(in, 0), value);
        break;
    case request::kWriteQuadlet.code:
        if (quadletAt(in, 1) != orvex::iidc::kAddressHigh)
            return driverError(error::kAddressError);
        return _control.write(quadletAt(in, 0), quadletAt(in, 2));
    default:
        return win32::driver::kStatusInvalidDeviceRequest;
    }
    putQuadlet(out, 0, value);
    written = 4;
    return status;
}

NTSTATUS BcamDevice::allocateResources(const void* in, void* out, DWORD& written)
{
    const uint32_t count = quadletAt(in, 0);
    const uint32_t bytes = quadletAt(in, 1);
    if (count == 0 || bytes == 0)
        return win32::driver::kStatusInvalidParameter;
    uint32_t format = 0, mode = 0, rate = 0;
    NTSTATUS status = _control.videoMode(format, mode, rate);
    FrameSize size;
    if (!failed(status))
        status = _control.frameSize(mode, size);
    if (failed(status))
        return status;
    if (bytes < size.frameBytes)
        return driverError(error::kBufferTooSmall);
    {
        std::lock_guard<std::mutex> lock(_m);
        if (_resources.count)
            return driverError(error::kResourcesInUse);
    }
    Resources claimed;
    claimed.count = count;
    claimed.bufferBytes = bytes;
    status = claimIsoResources(size.packetBytes, claimed);
    if (failed(status))
        return status;
    {
        std::lock_guard<std::mutex> lock(_m);
        if (_resources.count) {
            releaseIsoResources(claimed);
            return driverError(error::kResourcesInUse);
        }
        _resources = claimed;
    }
    putQuadlet(out, kResourceCount, count);
    putQuadlet(out, kResourceSize, bytes);
    putQuadlet(out, kResourceFrameBytes, size.frameBytes);
    written = 12;
    return win32::driver::kStatusSuccess;
}

NTSTATUS BcamDevice::claimIsoResources(uint32_t packetBytes, Resources& claimed)
{
    const std::shared_ptr<Camera>& camera = _control.camera();
    std::shared_ptr<Bus> bus = camera->bus();
    uint32_t channelSpeed = 0;
    if (!bus || failed(_control.read(orvex::iidc::kIsoChannelSpeed, channelSpeed)))
        return win32::driver::kStatusDeviceNotConnected;
    // A camera in legacy mode can be told channels 0 to 15 only.
    const bool b = (channelSpeed & orvex::iidc::kIsoOperationMode1394b) != 0;
    const std::optional<uint32_t> channel =
        bus->allocateChannel(b ? Bus::kIsoChannels : orvex::iidc::kIsoChannelMask + 1);
    if (!channel)
        return driverError(error::kNoChannel);
    if (!bus->reserveBandwidth(packetBytes)) {
        bus->releaseChannel(*channel);
        return driverError(error::kNoBandwidth);
    }
    claimed.bus = bus;
    claimed.channel = *channel;
    claimed.bandwidth = packetBytes;
    const uint32_t told =
        b ? (channelSpeed & ~(orvex::iidc::kIso1394bChannelMask << orvex::iidc::kIso1394bChannelShift)) |
                (*channel << orvex::iidc::kIso1394bChannelShift)
          : (channelSpeed & ~(orvex::iidc::kIsoChannelMask << orvex::iidc::kIsoChannelShift)) |
                (*channel << orvex::iidc::kIsoChannelShift);
    const NTSTATUS status = _control.write(orvex::iidc::kIsoChannelSpeed, told);
    if (failed(status))
        releaseIsoResources(claimed);
    return status;
}

void BcamDevice::releaseIsoResources(const Resources& held)
{
    if (!held.bus)
        return;
    held.bus->releaseBandwidth(held.bandwidth);
    held.bus->releaseChannel(held.channel);
}

NTSTATUS BcamDevice::fitBandwidth(uint32_t packetBytes)
{
    std::lock_guard<std::mutex> lock(_m);
    if (!_resources.bus || packetBytes == _resources.bandwidth)
        return win32::driver::kStatusSuccess;
    // The packet size changed since the allocation: trade the old claim for one that fits.
    _resources.bus->releaseBandwidth(_resources.bandwidth);
    if (_resources.bus->reserveBandwidth(packetBytes)) {
        _resources.bandwidth = packetBytes;
        return win32::driver::kStatusSuccess;
    }
    _resources.bus->reserveBandwidth(_resources.bandwidth);
    return driverError(error::kNoBandwidth);
}

NTSTATUS BcamDevice::freeResources()
{
    NTSTATUS status = continuousShot(false);
    endGrabs(win32::driver::kStatusCancelled);
    Resources held;
    {
        std::lock_guard<std::mutex> lock(_m);
        held = std::move(_resources);
        _resources = {};
    }
    releaseIsoResources(held);
    return status;
}

NTSTATUS BcamDevice::continuousShot(bool on)
{
    const std::shared_ptr<Camera>& camera = _control.camera();
    if (!on) {
        bool wasStreaming = false;
        {
            std::lock_guard<std::mutex> lock(_m);
            // A camera plugged again streams for its new device: leave it be.
            wasStreaming = _streaming && !_gone;
            _streaming = false;
        }
        if (wasStreaming)
            camera->stopStream(); // joins the stream thread: no lock of ours held
        return win32::driver::kStatusSuccess;
    }
    {
        std::lock_guard<std::mutex> lock(_m);
        if (!_resources.count)
            return driverError(error::kNoResources);
        if (_streaming)
            return win32::driver::kStatusSuccess;
    }
    uint32_t format = 0, mode = 0, rate = 0;
    FrameSize size;
    NTSTATUS status = _control.videoMode(format, mode, rate);
    if (!failed(status))
        status = _control.frameSize(mode, size);
    if (!failed(status))
        status = fitBandwidth(size.packetBytes);
    if (failed(status))
        return status;
    {
        std::lock_guard<std::mutex> lock(_m);
        if (_streaming)
            return win32::driver::kStatusSuccess;
        _streaming = true;
        _resetLosesImage = false;
    }
    // The bandwidth is the device's, claimed with the resources.
    const Status started = camera->startStream(shared_from_this(), World::instance().pacing(), true);
    if (started == Status::ok || started == Status::alreadyStreaming) {
        pullForQueuedGrabs();
        return win32::driver::kStatusSuccess;
    }
    std::lock_guard<std::mutex> lock(_m);
    _streaming = false;
    switch (started) {
    case Status::notConnected:
        return win32::driver::kStatusDeviceNotConnected;
    default:
        return driverError(error::kValueRefused);
    }
}

void BcamDevice::busReset(int bus)
{
    std::lock_guard<std::mutex> lock(_m);
    if (!_resources.bus || _resources.bus->number() != bus)
        return;
    // The driver claims its channel and bandwidth again in the new bus
    // generation, as the resource manager lets a previous owner do; the
    // image that was on the wire is lost.
    _resetLosesImage = _streaming;
}

void BcamDevice::queueGrab(const RequestPtr& request)
{
    NTSTATUS refusal = win32::driver::kStatusSuccess;
    bool pull = false;
    {
        std::lock_guard<std::mutex> lock(_m);
        if (!_resources.count)
            refusal = driverError(error::kNoResources);
        else if (_grabs.size() + _stalled.size() >= _resources.count)
            refusal = driverError(error::kTooManyGrabs);
        else if (request->outputLength() < _resources.bufferBytes)
            refusal = driverError(error::kBufferTooSmall);
        else if (World::instance().faults().consume(kStallGrabFault, _serial))
            _stalled.push_back(request);
        else {
            _grabs.push_back(request);
            pull = _streaming && World::instance().pacing() == Pacing::unpaced;
        }
    }
    if (failed(refusal)) {
        request->complete(refusal, 0);
        return;
    }
    // Unpaced cameras make an image when the receiver asks: a queued grab asks.
    if (pull) {
        if (auto frame = _control.camera()->pullFrame())
            onFrame(*frame);
    }
}

// Unpaced cameras make an image when the receiver asks: grabs queued before
// the stream started ask now, one image each.
void BcamDevice::pullForQueuedGrabs()
{
    if (World::instance().pacing() != Pacing::unpaced)
        return;
    std::size_t queued = 0;
    {
        std::lock_guard<std::mutex> lock(_m);
        queued = _grabs.size();
    }
    for (std::size_t i = 0; i < queued; ++i) {
        if (auto frame = _control.camera()->pullFrame())
            onFrame(*frame);
    }
}

void BcamDevice::endGrabs(NTSTATUS status, uint64_t file)
{
    std::vector<RequestPtr> ended;
    {
        std::lock_guard<std::mutex> lock(_m);
        for (auto* queue : {&_grabs, &_stalled}) {
            auto keep = std::stable_partition(queue->begin(), queue->end(), [file](const RequestPtr& r) {
                return file != 0 && r->file() != file;
            });
            ended.insert(ended.end(), keep, queue->end());
            queue->erase(keep, queue->end());
        }
    }
    for (const RequestPtr& request : ended)
        request->complete(status, 0);
}

void BcamDevice::cancelled(const win32::driver::IoRequest& request)
{
    std::lock_guard<std::mutex> lock(_m);
    for (auto* queue : {&_grabs, &_stalled}) {
        queue->erase(std::remove_if(queue->begin(), queue->end(),
                                    [&request](const RequestPtr& r) { return r.get() == &request; }),
                     queue->end());
    }
}

NTSTATUS BcamDevice::open(uint64_t file, DWORD access)
{
    (void)file;
    (void)access;
    std::lock_guard<std::mutex> lock(_m);
    if (_gone)
        return win32::driver::kStatusDeviceNotConnected;
    ++_openHandles;
    return win32::driver::kStatusSuccess;
}

void BcamDevice::closed(uint64_t file)
{
    // The subset cancelled the handle's requests already; make sure none is left.
    endGrabs(win32::driver::kStatusCancelled, file);
    bool last = false;
    {
        std::lock_guard<std::mutex> lock(_m);
        last = _openHandles > 0 && --_openHandles == 0;
    }
    // Nobody is left to receive images: the camera stops and the resources go.
    if (last)
        freeResources();
}

BcamDevice::RequestPtr BcamDevice::nextGrab()
{
    std::lock_guard<std::mutex> lock(_m);
    while (!_grabs.empty()) {
        RequestPtr request = std::move(_grabs.front());
        _grabs.pop_front();
        if (!request->hasEnded())
            return request;
    }
    return nullptr;
}

void BcamDevice::onFrame(const Frame& frame)
{
    {
        std::lock_guard<std::mutex> lock(_m);
        if (_resetLosesImage) {
            _resetLosesImage = false;
            ++_dropped;
            return;
        }
    }
    if (World::instance().faults().consume(kDropImageFault, _serial)) {
        std::lock_guard<std::mutex> lock(_m);
        ++_dropped;
        return;
    }
    // One stream thread delivers the images, so taking the oldest grab here
    // completes the grabs in the order they were queued.
    while (RequestPtr request = nextGrab()) {
        if (fillGrab(request, frame))
            return;
    }
    std::lock_guard<std::mutex> lock(_m);
    ++_dropped;
}

bool BcamDevice::fillGrab(const RequestPtr& request, const Frame& frame)
{
    const std::size_t pixels = static_cast<std::size_t>(frame.geometry.imageBytes());
    const std::size_t bytes = pixels + pattern::chunkBytes(frame);
    {
        win32::driver::BufferAccess access = request->buffers();
        if (!access)
            return false; // cancelled meanwhile: the image goes to the next grab
        if (access.outputLength() < bytes) {
            access = {};
            request->complete(driverError(error::kBufferTooSmall), 0);
            return true;
        }
        auto* buffer = static_cast<uint8_t*>(access.output());
        pattern::StampState state;
        pattern::fill(buffer, frame.geometry);
        pattern::stamp(buffer, frame.geometry, frame, state);
        pattern::writeChunks(buffer, pixels, frame);
    }
    request->complete(win32::driver::kStatusSuccess, static_cast<DWORD>(bytes));
    return true;
}

void BcamDevice::onCameraRemoved()
{
    unplugged();
}

} // namespace orvex::sim::bcam
