// An isochronous receive context: queued packets filled from the camera's
// images into the mapped buffer, with the interrupt events the kernel sends.
#include "IsoContext.h"

#include "RealCalls.h"
#include "UserMemory.h"

#include <linux/firewire-cdev.h>
#include <linux/firewire-constants.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/mman.h>

namespace orvex::sim::firewire {

namespace {

constexpr std::size_t kPageBytes = 4096;       // the kernel's header buffer
constexpr uint32_t kAutoFlushVersion = 5;      // FW_CDEV_VERSION_AUTO_FLUSH_ISO_OVERFLOW
constexpr std::size_t kMaxDescriptors = 65536; // the DMA program's room
constexpr uint32_t kIidcTag = 1;               // IIDC streams carry tag 1
constexpr uint32_t kFrameStartSy = 1;          // sy of a frame's first packet
constexpr int64_t kCycleNs = 125000;

uint32_t payloadLength(uint32_t control)
{
    return control & 0xFFFF;
}
uint32_t headerLength(uint32_t control)
{
    return control >> 24;
}

void putBigEndian(uint8_t* at, uint32_t value)
{
    at[0] = uint8_t(value >> 24);
    at[1] = uint8_t(value >> 16);
    at[2] = uint8_t(value >> 8);
    at[3] = uint8_t(value);
}

// The 16-bit time stamp of a received packet: cycle seconds (3 bits) and
// cycle count (13 bits) of the CYCLE_TIME quadlet.
uint32_t timestampOf(uint32_t cycleTime)
{
    return (((cycleTime >> 25) & 0x7) << 13) | ((cycleTime >> 12) & 0x1FFF);
}

} // namespace

IsoBuffer::~IsoBuffer()
{
    munmap(_data, _size);
    real::close(_memFd);
}

IsoContext::IsoContext(std::shared_ptr<EventQueue> events, uint64_t closure, uint32_t channel,
                       uint32_t headerSize, uint32_t clientVersion)
    : _events(std::move(events)), _closure(closure), _channel(channel), _headerSize(headerSize),
      _clientVersion(clientVersion)
{
}

void IsoContext::setBuffer(std::shared_ptr<IsoBuffer> buffer)
{
    std::lock_guard<std::mutex> lock(_m);
    _buffer = std::move(buffer);
}

void IsoContext::setClock(const std::shared_ptr<Bus>& bus)
{
    std::lock_guard<std::mutex> lock(_m);
    _bus = bus;
}

int IsoContext::queue(fw_cdev_queue_iso& request)
{
    std::lock_guard<std::mutex> lock(_m);
    uint64_t payload = 0, bufferEnd = 0;
    if (_buffer && request.data != 0 && request.data - _buffer->vmStart() < _buffer->size()) {
        payload = request.data - _buffer->vmStart();
        bufferEnd = _buffer->size();
    }
    const uint64_t first = request.packets;
    const uint64_t end = first + request.size;
    uint64_t p = first;
    int count = 0;
    while (p < end) {
        uint32_t control = 0;
        if (!copyFromUser(&control, p, sizeof control))
            return -EFAULT;
        const uint32_t length = payloadLength(control);
        const uint32_t headerBytes = headerLength(control);
        if (headerBytes == 0 || headerBytes % _headerSize != 0)
            return -EINVAL;
        const uint64_t next = p + sizeof control; // receive: no header quadlets follow
        if (next > end)
            return -EINVAL;
        if (payload + length > bufferEnd)
            return -EINVAL;
        if (_descriptors.size() >= kMaxDescriptors)
            break;
        _descriptors.push_back(Descriptor{length, headerBytes / _headerSize,
                                          (control & FW_CDEV_ISO_INTERRUPT) != 0,
                                          (control & FW_CDEV_ISO_SKIP) != 0, payload});
        p = next;
        payload += length;
        ++count;
    }
    request.size -= static_cast<uint32_t>(p - first);
    request.packets = p;
    request.data = (_buffer ? _buffer->vmStart() : 0) + payload;
    return count;
}

void IsoContext::start(uint32_t sync, uint32_t tags)
{
    std::lock_guard<std::mutex> lock(_m);
    _started = true;
    _sync = sync;
    _tags = tags;
}

void IsoContext::stop()
{
    std::lock_guard<std::mutex> lock(_m);
    _started = false;
}

bool IsoContext::isStarted() const
{
    std::lock_guard<std::mutex> lock(_m);
    return _started;
}

void IsoContext::preparePayloadLocked(const Frame& frame)
{
    const FrameGeometry& g = frame.geometry;
    const std::size_t pixels = static_cast<std::size_t>(g.imageBytes());
    const std::size_t bytes = pixels + pattern::chunkBytes(frame);
    const std::size_t packets = g.bytesPerPacket ? (bytes + g.bytesPerPacket - 1) / g.bytesPerPacket : 0;
    const std::size_t total = packets * g.bytesPerPacket;
    if (g != _payloadGeometry || _payload.size() != total) {
        _payload.assign(total, 0);
        pattern::fill(_payload.data(), g);
        _stampState = {};
        _payloadGeometry = g;
    }
    pattern::stamp(_payload.data(), g, frame, _stampState);
    if (bytes > pixels)
        pattern::writeChunks(_payload.data(), pixels, frame);
}

void IsoContext::onFrame(const Frame& frame)
{
    std::lock_guard<std::mutex> lock(_m);
    const auto bus = _bus.lock();
    if (!_started || !bus || frame.geometry.bytesPerPacket == 0)
        return;
    preparePayloadLocked(frame);
    const uint32_t packetBytes = frame.geometry.bytesPerPacket;
    const std::size_t packets = _payload.size() / packetBytes;
    // The packets left the camera one per cycle, the last at deliveredNs.
    for (std::size_t i = 0; i < packets; ++i) {
        const int64_t sentNs = frame.deliveredNs - int64_t(packets - 1 - i) * kCycleNs;
        Packet packet;
        packet.payload = _payload.data() + i * packetBytes;
        packet.bytes = packetBytes;
        packet.sy = i == 0 ? kFrameStartSy : 0;
        packet.tag = kIidcTag;
        packet.isoHeader =
            (packetBytes << 16) | (packet.tag << 14) | (_channel << 8) | (TCODE_STREAM_DATA << 4) | packet.sy;
        packet.timestamp = timestampOf(bus->clock().cycleTimeAt(sentNs));
        receiveLocked(packet);
    }
}

void IsoContext::receiveLocked(const Packet& packet)
{
    if (!(_tags & (1u << packet.tag)))
        return; // the context does not match this tag
    if (_descriptors.empty())
        return; // no buffer queued: the packet is lost
    Descriptor& d = _descriptors.front();
    if (_packetsInFront == 0 && d.skip && packet.sy != _sync)
        return; // waiting for the start of a frame
    // Header bytes past the first two quadlets are the payload's first ones.
    const uint32_t headerPayload = _headerSize > 8 ? std::min(_headerSize - 8, packet.bytes) : 0;
    const uint32_t share = d.payloadLength / d.packets;
    const uint32_t bytes = std::min(packet.bytes - headerPayload, share);
    if (bytes > 0 && _buffer) {
        const uint64_t at = d.payloadOffset + uint64_t(_packetsInFront) * share;
        if (at + bytes <= _buffer->size())
            std::memcpy(_buffer->data() + at, packet.payload + headerPayload, bytes);
    }
    appendHeaderLocked(packet);
    if (++_packetsInFront < d.packets)
        return;
    const bool interrupt = d.interrupt;
    _descriptors.pop_front();
    _packetsInFront = 0;
    if (interrupt)
        flushLocked(packet.timestamp);
}

void IsoContext::appendHeaderLocked(const Packet& packet)
{
    if (_headers.size() + _headerSize > kPageBytes) {
        if (_clientVersion < kAutoFlushVersion)
            return; // dropped, as the kernel does for older clients
        flushLocked(packet.timestamp);
    }
    const std::size_t at = _headers.size();
    _headers.resize(at + _headerSize, 0);
    putBigEndian(&_headers[at], packet.isoHeader);
    if (_headerSize >= 8)
        putBigEndian(&_headers[at + 4], packet.timestamp);
    if (_headerSize > 8) {
        const std::size_t extra = std::min<std::size_t>(_headerSize - 8, packet.bytes);
        std::memcpy(&_headers[at + 8], packet.payload, extra);
    }
}

void IsoContext::flushLocked(uint32_t cycle)
{
    // struct fw_cdev_event_iso_interrupt with its headers after the fixed
    // part (the kernel copies sizeof + header_length bytes).
    std::vector<uint8_t> event(sizeof(fw_cdev_event_iso_interrupt) + _headers.size(), 0);
    fw_cdev_event_iso_interrupt head{};
    head.closure = _closure;
    head.type = FW_CDEV_EVENT_ISO_INTERRUPT;
    head.cycle = cycle;
    head.header_length = static_cast<uint32_t>(_headers.size());
    std::memcpy(event.data(), &head, offsetof(fw_cdev_event_iso_interrupt, header));
    std::memcpy(event.data() + offsetof(fw_cdev_event_iso_interrupt, header), _headers.data(),
                _headers.size());
    _headers.clear();
    _events->push(std::move(event));
}

} // namespace orvex::sim::firewire
