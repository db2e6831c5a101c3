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
        : memFd_(memFd), data_(ours), size_(size), vmStart_(vmStart)
    {
    }
    ~IsoBuffer();
    IsoBuffer(const IsoBuffer&) = delete;
    IsoBuffer& operator=(const IsoBuffer&) = delete;

    uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }
    uint64_t vmStart() const { return vmStart_; }

private:
    int memFd_;
    uint8_t* data_;
    std::size_t size_;
    uint64_t vmStart_;
};

class IsoContext : public FrameSink {
public:
    IsoContext(std::shared_ptr<EventQueue> events, uint64_t closure, uint32_t channel, uint32_t headerSize,
               uint32_t clientVersion);

    uint32_t channel() const { return channel_; }
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

    const std::shared_ptr<EventQueue> events_;
    const uint64_t closure_;
    const uint32_t channel_;
    const uint32_t headerSize_;
    const uint32_t clientVersion_;

    mutable std::mutex m_;
    std::weak_ptr<Bus> bus_;
    std::shared_ptr<IsoBuffer> buffer_;
    std::deque<Descriptor> descriptors_;
    uint32_t packetsInFront_ = 0;  // packets the front descriptor has taken
    std::vector<uint8_t> headers_; // since the last interrupt
    bool started_ = false;
    uint32_t sync_ = 0;
    uint32_t tags_ = 0;

    // The camera's bytes of the last frame: gradient filled once per
    // geometry, stamped per image.
    std::vector<uint8_t> payload_;
    FrameGeometry payloadGeometry_;
    pattern::StampState stampState_;
};

} // namespace orvex::sim::firewire
