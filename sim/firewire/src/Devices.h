// The simulated world's cameras as Linux firewire character devices: one
// node (/dev/fwN, N the lowest free number, as the kernel hands them out)
// per connected camera, its configuration ROM read once at arrival as the
// kernel does, a bus generation per bus that every reset advances, each
// bus's isochronous resource manager, and the open files.
//
// Programs find the nodes through opendir("/dev"), which the interposer
// answers with a private directory holding one entry per node; they open
// "/dev/fwN", which becomes an open File here.
//
// A control file, kControlPath, lets a test program written only against
// libdc1394 change the world: each line written to it is a command,
// "unplug SERIAL", "plug SERIAL BUS" or "reset BUS"; a bad line fails the
// write with EINVAL.
//
// Threads: any. One mutex guards the tables; it is never held while calling
// a camera, the world or a file's event queue. World events arrive on the
// thread that changed the world.
#pragma once

#include "EventQueue.h"
#include "IsoContext.h"
#include "IsoResources.h"

#include <orvex/sim/World.h>

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace orvex::sim::firewire {

constexpr const char* kControlPath = "/dev/fw-sim-control";

struct Node {
    int minor = -1;
    uint32_t serialNumber = 0;
    int bus = -1;
    std::vector<uint32_t> rom; // host byte order
    std::weak_ptr<Camera> camera;
    uint32_t maxSpeedCode = 0; // SCODE_* of the camera's link
};

class Devices;

// One open /dev/fwN file.
class File {
public:
    File(Devices& devices, int fd, const Node& node);
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    int fd() const { return _fd; }
    int bus() const { return _node.bus; }
    uint32_t serialNumber() const { return _node.serialNumber; }
    EventQueue& events() { return *_events; }

    // The ioctl; 0 or a count on success, -errno on failure.
    int ioctl(unsigned long request, void* argument);
    // A program's mmap of the file; MAP_FAILED with errno set on failure.
    void* mmap(void* address, std::size_t length, int protection, int flags);
    // The device left the bus: queued events stay readable, then ENODEV.
    void shutDown();
    // A bus reset of this file's bus (only files that asked GET_INFO hear it).
    void busReset(uint32_t generation, uint32_t nodeId, uint32_t localNodeId);

private:
    struct Resource {
        uint64_t closure;
        int channel;
        uint32_t bandwidth;
    };

    int getInfo(void* argument);
    int sendRequest(void* argument, bool broadcast);
    int allocateIsoResource(void* argument);
    int deallocateIsoResource(void* argument);
    int createIsoContext(void* argument);
    int queueIso(void* argument);
    int startIso(void* argument);
    int stopIso(void* argument);
    struct ClockPair {
        bool valid;
        uint32_t cycleTime;
        timespec local;
    };
    ClockPair readClocks(clockid_t clock) const;
    int getCycleTimer(void* argument);
    int getCycleTimer2(void* argument);
    int initiateBusReset(void* argument);
    void stopReceiving();
    void pushResponse(uint64_t closure, uint32_t rcode, const std::vector<uint32_t>& bigEndianData);
    void pushResourceEvent(uint32_t type, uint64_t closure, int handle, int channel, uint32_t bandwidth);
    std::vector<uint8_t> busResetEvent(uint32_t generation, uint32_t nodeId, uint32_t localNodeId) const;

    Devices& _devices;
    const int _fd;
    const Node _node;
    const std::shared_ptr<EventQueue> _events;

    std::mutex _m;
    uint32_t _clientVersion = 0;
    uint64_t _busResetClosure = 0;
    bool _listed = false; // GET_INFO was called: bus resets are reported
    std::map<int, Resource> _resources;
    std::set<int> _pending; // handles of allocations under way
    std::shared_ptr<IsoBuffer> _buffer;
    std::shared_ptr<IsoContext> _context;
    bool _receiving = false; // the context listens on the bus
};

class Devices {
public:
    static Devices& instance();
    // True once instance() has been built (cheap: for every close and read).
    static bool active();

    // The private directory that stands for /dev.
    std::string directory() const { return _directory; }

    // Opens "/dev/fwN": a new descriptor, or -1 with errno.
    int open(int minor, int flags);
    int openControl(int flags);
    std::shared_ptr<File> file(int fd) const;
    bool isControl(int fd) const;
    // Forgets a file (the caller closes the descriptor).
    std::shared_ptr<File> release(int fd);
    void releaseControl(int fd);
    // Runs the control commands in `text`; false (EINVAL) on a bad one.
    bool control(const std::string& text);

    // Bus facts for the files.
    uint32_t generation(int bus) const;
    // Node ids as the bus reset event gives them (0xFFC0 | node number).
    uint32_t nodeId(uint32_t serialNumber) const;
    uint32_t localNodeId(int bus) const;
    IsoResources* isoResources(int bus);
    // One receive context per channel per card (EBUSY otherwise).
    bool claimChannel(int bus, uint32_t channel);
    void releaseChannel(int bus, uint32_t channel);

private:
    Devices();
    ~Devices();

    struct BusState {
        uint32_t generation = 1;
        std::unique_ptr<IsoResources> irm;
        uint64_t receiving = 0; // channels with a receive context
    };

    void onWorldEvent(const BusEvent& event);
    // Makes the node table follow the world's connected cameras; returns the
    // files of nodes that went away.
    std::vector<std::shared_ptr<File>> syncNodesLocked(std::vector<std::shared_ptr<Camera>> cameras,
                                                       std::vector<Node> fresh);
    void writeDirectoryLocked() const;
    static Node readNode(const std::shared_ptr<Camera>& camera, int bus);
    BusState& busLocked(int bus);

    std::string _directory;
    int _listenerId = 0;
    mutable std::mutex _m;
    std::vector<Node> _nodes;
    std::map<int, BusState> _buses;
    std::map<int, std::shared_ptr<File>> _files;
    std::map<int, bool> _controls;
};

} // namespace orvex::sim::firewire
