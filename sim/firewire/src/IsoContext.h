// One isochronous receive context of an open /dev/fw file, as the kernel's
// OHCI driver runs it in packet-per-buffer mode: the program queues
// descriptors (each N packets: N headers of header_size bytes and a 16-bit
// payload length that the N packets share equally), the context takes the
// packets of its channel as they come, writes their payloads into the
// file's mapped buffer and their headers into the next interrupt event.
//
// Exactly as strict as the kernel: a payload length is the low 16 bits of
// the descriptor's control quadlet (8 packets of 8192 bytes wrap to 0 and
// receive nothing), a packet longer than its share is cut, a descriptor
// with the skip bit waits for a packet whose sy field matches START_ISO's,
// packets arriving with no descriptor queued are lost, and headers beyond a
// page between two interrupts are dropped (clients of ABI < 5) or flushed
// in an interrupt event of their own (ABI >= 5).
//
// Threads: queue/start/stop on the program's threads, onFrame on the
// camera's stream thread; one mutex guards the context, never held while
// calling the bus.
#pragma once

#include "EventQueue.h"

#include <orvex/sim/Bus.h>
#include <orvex/sim/FramePattern.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

struct fw_cdev_queue_iso;

namespace orvex::sim::firewire {

// The pages a program mapped from its file: a memfd that the program maps
// and we map a second time, so that a program's munmap never pulls the
// pages from under a frame being written (the kernel keeps them until the
// file is closed too).
class IsoBuffer {
public:
    IsoBuffer(int memFd, uint8_t* ours, std::size_t size, uint64_t vmStart)
        : _memFd(memFd), _data(ours), _size(size), _vmStart(vmStart)
    {
    }
    ~IsoBuffer();
    IsoBuffer(const IsoBuffer&) = delete;
    IsoBuffer& operator=(const IsoBuffer&) = delete;

    uint8_t* data() const { return _data; }
    std::size_t size() const { return _size; }
    uint64_t vmStart() const { return _vmStart; }

private:
    int _memFd;
    uint8_t* _data;
    std::size_t _size;
    uint64_t _vmStart;
};

class IsoContext : public FrameSink {
public:
    IsoContext(std::shared_ptr<EventQueue> events, uint64_t closure, uint32_t channel, uint32_t headerSize,
               uint32_t clientVersion);

    uint32_t channel() const { return _channel; }
    void setBuffer(std::shared_ptr<IsoBuffer> buffer);
    // FW_CDEV_IOC_QUEUE_ISO: the number of descriptors queued, or -errno;
    // advances the request's packets, size and data as the kernel does.
    int queue(fw_cdev_queue_iso& request);
    // FW_CDEV_IOC_START_ISO / STOP_ISO (arguments checked by the caller).
    void start(uint32_t sync, uint32_t tags);
    void stop();
    bool isStarted() const;

    void onFrame(const Frame& frame) override;
    void onCameraRemoved() override {}

    // Bus clock needed to stamp packets.
    void setClock(const std::shared_ptr<Bus>& bus);

private:
    struct Descriptor {
        uint32_t payloadLength; // 16 bits
        uint32_t packets;       // header_length / header_size
        bool interrupt;
        bool skip;
        uint64_t payloadOffset;
    };
    struct Packet {
        const uint8_t* payload;
        uint32_t bytes;
        uint32_t isoHeader;
        uint32_t timestamp; // 16 bits: seconds (3) and cycle (13)
        uint32_t sy;
        uint32_t tag;
    };

    void preparePayloadLocked(const Frame& frame);
    void receiveLocked(const Packet& packet);
    void appendHeaderLocked(const Packet& packet);
    void flushLocked(uint32_t cycle);

    const std::shared_ptr<EventQueue> _events;
    const uint64_t _closure;
    const uint32_t _channel;
    const uint32_t _headerSize;
    const uint32_t _clientVersion;

    mutable std::mutex _m;
    std::weak_ptr<Bus> _bus;
    std::shared_ptr<IsoBuffer> _buffer;
    std::deque<Descriptor> _descriptors;
    uint32_t _packetsInFront = 0;  // packets the front descriptor has taken
    std::vector<uint8_t> _headers; // since the last interrupt
    bool _started = false;
    uint32_t _sync = 0;
    uint32_t _tags = 0;

    // The camera's bytes of the last frame: gradient filled once per
    // geometry, stamped per image.
    std::vector<uint8_t> _payload;
    FrameGeometry _payloadGeometry;
    pattern::StampState _stampState;
};

} // namespace orvex::sim::firewire
