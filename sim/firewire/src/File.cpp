// One open /dev/fwN file: the firewire-cdev ioctls a camera program uses,
// answered over the simulated camera and its bus with the kernel's checks
// and the kernel's event layouts.
#include "Devices.h"

#include "UserMemory.h"

#include <orvex/iidc/Registers.h>

#include <linux/firewire-cdev.h>
#include <linux/firewire-constants.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <sys/mman.h>
#include <unistd.h>

#include "RealCalls.h"

namespace orvex::sim::firewire {

namespace {

constexpr uint32_t kKernelAbiVersion = 5; // FW_CDEV_KERNEL_VERSION of Linux 6.1
constexpr uint64_t kCsrRegisterBase = 0xFFFFF0000000ull;
constexpr uint64_t kCsrConfigRomEnd = 0x800; // broadcasts only above it
constexpr uint32_t kMaxAsyncPayload = 4096;
constexpr std::size_t kBusResetInfoBytes = 36; // GET_INFO copies the unaligned size
constexpr std::size_t kPageBytes = 4096;

template <typename T> bool readArgument(T& to, void* argument)
{
    return copyFromUser(&to, reinterpret_cast<uintptr_t>(argument), sizeof to);
}

template <typename T> bool writeArgument(void* argument, const T& from)
{
    return copyToUser(reinterpret_cast<uintptr_t>(argument), &from, sizeof from);
}

uint32_t fromBigEndian(const uint8_t* at)
{
    return (uint32_t(at[0]) << 24) | (uint32_t(at[1]) << 16) | (uint32_t(at[2]) << 8) | at[3];
}

uint32_t toBigEndian(uint32_t value)
{
    uint32_t out;
    const uint8_t bytes[4] = {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8),
                              uint8_t(value)};
    std::memcpy(&out, bytes, 4);
    return out;
}

uint32_t rcodeOf(Status status)
{
    switch (status) {
    case Status::ok:
        return RCODE_COMPLETE;
    case Status::addressError:
        return RCODE_ADDRESS_ERROR;
    case Status::notConnected:
        return RCODE_NO_ACK;
    default:
        return RCODE_DATA_ERROR;
    }
}

bool isLockRequest(uint32_t tcode)
{
    return tcode >= TCODE_LOCK_MASK_SWAP && tcode <= TCODE_LOCK_VENDOR_DEPENDENT;
}

} // namespace

File::File(Devices& devices, int fd, const Node& node)
    : _devices(devices), _fd(fd), _node(node), _events(std::make_shared<EventQueue>(fd))
{
}

File::~File()
{
    stopReceiving();
    std::lock_guard<std::mutex> lock(_m);
    // The kernel frees a file's isochronous resources when it is closed,
    // without events.
    if (IsoResources* irm = _devices.isoResources(_node.bus))
        for (const auto& [handle, r] : _resources)
            irm->release(r.channel, r.bandwidth);
    if (_context)
        _devices.releaseChannel(_node.bus, _context->channel());
}

void File::shutDown()
{
    _events->shutDown();
    stopReceiving();
}

void File::stopReceiving()
{
    std::shared_ptr<IsoContext> context;
    {
        std::lock_guard<std::mutex> lock(_m);
        if (!_receiving)
            return;
        _receiving = false;
        context = _context;
    }
    context->stop();
    if (const auto bus = World::instance().bus(_node.bus))
        bus->stopListening(context->channel());
}

std::vector<uint8_t> File::busResetEvent(uint32_t generation, uint32_t nodeId, uint32_t localNodeId) const
{
    fw_cdev_event_bus_reset e{};
    e.closure = _busResetClosure;
    e.type = FW_CDEV_EVENT_BUS_RESET;
    e.node_id = nodeId;
    e.local_node_id = localNodeId;
    e.bm_node_id = localNodeId;
    e.irm_node_id = localNodeId;
    e.root_node_id = localNodeId;
    e.generation = generation;
    std::vector<uint8_t> bytes(sizeof e);
    std::memcpy(bytes.data(), &e, sizeof e);
    return bytes;
}

void File::busReset(uint32_t generation, uint32_t nodeId, uint32_t localNodeId)
{
    std::vector<uint8_t> event;
    {
        std::lock_guard<std::mutex> lock(_m);
        if (!_listed)
            return;
        event = busResetEvent(generation, nodeId, localNodeId);
    }
    _events->push(std::move(event));
}

int File::ioctl(unsigned long request, void* argument)
{
    if (_events->isShutDown())
        return -ENODEV;
    switch (request) {
    case FW_CDEV_IOC_GET_INFO:
        return getInfo(argument);
    case FW_CDEV_IOC_SEND_REQUEST:
        return sendRequest(argument, false);
    case FW_CDEV_IOC_SEND_BROADCAST_REQUEST:
        return sendRequest(argument, true);
    case FW_CDEV_IOC_ALLOCATE_ISO_RESOURCE:
    case FW_CDEV_IOC_ALLOCATE_ISO_RESOURCE_ONCE:
        return allocateIsoResource(argument);
    case FW_CDEV_IOC_DEALLOCATE_ISO_RESOURCE:
        return deallocateIsoResource(argument);
    case FW_CDEV_IOC_CREATE_ISO_CONTEXT:
        return createIsoContext(argument);
    case FW_CDEV_IOC_QUEUE_ISO:
        return queueIso(argument);
    case FW_CDEV_IOC_START_ISO:
        return startIso(argument);
    case FW_CDEV_IOC_STOP_ISO:
        return stopIso(argument);
    case FW_CDEV_IOC_GET_CYCLE_TIMER:
        return getCycleTimer(argument);
    case FW_CDEV_IOC_GET_CYCLE_TIMER2:
        return getCycleTimer2(argument);
    case FW_CDEV_IOC_INITIATE_BUS_RESET:
        return initiateBusReset(argument);
    case FW_CDEV_IOC_GET_SPEED:
        return static_cast<int>(_node.maxSpeedCode);
    default:
        // Address ranges, responses, descriptors, PHY packets, stream
        // packets, transmit and multichannel contexts: no camera program
        // needs them, and the simulated bus cannot carry them.
        return -ENOTTY;
    }
}

int File::getInfo(void* argument)
{
    fw_cdev_get_info a{};
    if (!readArgument(a, argument))
        return -EFAULT;
    std::lock_guard<std::mutex> lock(_m);
    _clientVersion = a.version;
    const std::size_t have = _node.rom.size() * 4;
    if (a.rom != 0 && !copyToUser(a.rom, _node.rom.data(), std::min<std::size_t>(a.rom_length, have)))
        return -EFAULT;
    a.rom_length = static_cast<uint32_t>(have);
    a.version = kKernelAbiVersion;
    a.card = static_cast<uint32_t>(_node.bus);
    _busResetClosure = a.bus_reset_closure;
    if (a.bus_reset != 0) {
        const std::vector<uint8_t> reset =
            busResetEvent(_devices.generation(_node.bus), _devices.nodeId(_node.serialNumber),
                          _devices.localNodeId(_node.bus));
        if (!copyToUser(a.bus_reset, reset.data(), kBusResetInfoBytes))
            return -EFAULT;
    }
    _listed = true;
    return writeArgument(argument, a) ? 0 : -EFAULT;
}

void File::pushResponse(uint64_t closure, uint32_t rcode, const std::vector<uint32_t>& bigEndianData)
{
    const std::size_t length = bigEndianData.size() * 4;
    // The kernel copies sizeof(struct) + length bytes: the data start inside
    // the struct's tail padding.
    std::vector<uint8_t> event(sizeof(fw_cdev_event_response) + length, 0);
    fw_cdev_event_response head{};
    head.closure = closure;
    head.type = FW_CDEV_EVENT_RESPONSE;
    head.rcode = rcode;
    head.length = static_cast<uint32_t>(length);
    std::memcpy(event.data(), &head, offsetof(fw_cdev_event_response, data));
    if (length)
        std::memcpy(event.data() + offsetof(fw_cdev_event_response, data), bigEndianData.data(), length);
    _events->push(std::move(event));
}

int File::sendRequest(void* argument, bool broadcast)
{
    fw_cdev_send_request a{};
    if (!readArgument(a, argument))
        return -EFAULT;
    const bool write = a.tcode == TCODE_WRITE_QUADLET_REQUEST || a.tcode == TCODE_WRITE_BLOCK_REQUEST;
    const bool read = a.tcode == TCODE_READ_QUADLET_REQUEST || a.tcode == TCODE_READ_BLOCK_REQUEST;
    if (broadcast) {
        if (!write)
            return -EINVAL;
        if (a.offset < kCsrRegisterBase + kCsrConfigRomEnd)
            return -EACCES; // only units space
    } else if (!write && !read && !isLockRequest(a.tcode)) {
        return -EINVAL;
    }
    const uint32_t speed = broadcast ? SCODE_100 : _node.maxSpeedCode;
    if (a.length > kMaxAsyncPayload || a.length > (512u << speed))
        return -EIO;
    if (a.tcode == TCODE_WRITE_QUADLET_REQUEST && a.length < 4)
        return -EINVAL;
    std::vector<uint8_t> payload(a.length);
    if (a.data != 0 && !copyFromUser(payload.data(), a.data, a.length))
        return -EFAULT;

    if (a.generation != _devices.generation(_node.bus)) {
        pushResponse(a.closure, RCODE_GENERATION, {});
        return 0;
    }
    const auto camera = _node.camera.lock();
    if (!camera) {
        pushResponse(a.closure, RCODE_NO_ACK, {});
        return 0;
    }
    if ((a.offset >> 32) != (kCsrRegisterBase >> 32)) {
        pushResponse(a.closure, RCODE_ADDRESS_ERROR, {});
        return 0;
    }
    const auto address = static_cast<uint32_t>(a.offset);
    const bool block = a.tcode == TCODE_READ_BLOCK_REQUEST || a.tcode == TCODE_WRITE_BLOCK_REQUEST;
    // The cameras answer whole quadlets only; lock requests are not IIDC's.
    if (isLockRequest(a.tcode) || (block && (a.length == 0 || a.length % 4 != 0))) {
        pushResponse(a.closure, RCODE_TYPE_ERROR, {});
        return 0;
    }
    const std::size_t quadlets = block ? a.length / 4 : 1;
    std::vector<uint32_t> values(quadlets);
    if (write)
        for (std::size_t i = 0; i < quadlets; ++i)
            values[i] = fromBigEndian(&payload[i * 4]);

    if (broadcast) {
        for (std::size_t i = 0; i < quadlets; ++i)
            World::instance().broadcastWrite(_node.bus, address + uint32_t(i * 4), values[i]);
        pushResponse(a.closure, RCODE_COMPLETE, {});
        return 0;
    }
    Status status;
    if (write)
        status = block ? camera->writeBlock(address, values.data(), quadlets)
                       : camera->writeRegister(address, values[0]);
    else
        status = block ? camera->readBlock(address, values.data(), quadlets)
                       : camera->readRegister(address, values[0]);
    std::vector<uint32_t> data;
    if (status == Status::ok && read) {
        // A response carries no more than was asked (a quadlet read of
        // fewer than 4 bytes is cut too).
        const std::size_t keep = std::min<std::size_t>(quadlets, a.length / 4);
        for (std::size_t i = 0; i < keep; ++i)
            data.push_back(toBigEndian(values[i]));
    }
    pushResponse(a.closure, rcodeOf(status), data);
    return 0;
}

void File::pushResourceEvent(uint32_t type, uint64_t closure, int handle, int channel, uint32_t bandwidth)
{
    fw_cdev_event_iso_resource e{};
    e.closure = closure;
    e.type = type;
    e.handle = handle;
    e.channel = channel;
    e.bandwidth = static_cast<int32_t>(bandwidth);
    std::vector<uint8_t> bytes(sizeof e);
    std::memcpy(bytes.data(), &e, sizeof e);
    _events->push(std::move(bytes));
}

int File::allocateIsoResource(void* argument)
{
    fw_cdev_allocate_iso_resource a{};
    if (!readArgument(a, argument))
        return -EFAULT;
    if ((a.channels == 0 && a.bandwidth == 0) || a.bandwidth > kBandwidthUnitsInitial)
        return -EINVAL;
    IsoResources* irm = _devices.isoResources(_node.bus);
    if (!irm)
        return -ENODEV;
    // The kernel hands out the lowest free handle (its idr): a handle whose
    // allocation failed is taken again by the next one.
    int handle = 0;
    {
        std::lock_guard<std::mutex> lock(_m);
        while (_resources.count(handle) || _pending.count(handle))
            ++handle;
        _pending.insert(handle);
    }
    a.handle = static_cast<uint32_t>(handle);
    if (!writeArgument(argument, a)) {
        std::lock_guard<std::mutex> lock(_m);
        _pending.erase(handle);
        return -EFAULT;
    }
    const IsoResources::Allocation got = irm->allocate(a.channels, a.bandwidth);
    {
        std::lock_guard<std::mutex> lock(_m);
        _pending.erase(handle);
        if (got.channel >= 0 || got.bandwidth > 0)
            _resources[handle] = Resource{a.closure, got.channel, got.bandwidth};
    }
    pushResourceEvent(FW_CDEV_EVENT_ISO_RESOURCE_ALLOCATED, a.closure, handle, got.channel, got.bandwidth);
    return 0;
}

int File::deallocateIsoResource(void* argument)
{
    fw_cdev_deallocate a{};
    if (!readArgument(a, argument))
        return -EFAULT;
    Resource r{};
    {
        std::lock_guard<std::mutex> lock(_m);
        const auto it = _resources.find(static_cast<int>(a.handle));
        if (it == _resources.end())
            return -EINVAL;
        r = it->second;
        _resources.erase(it);
    }
    if (IsoResources* irm = _devices.isoResources(_node.bus))
        irm->release(r.channel, r.bandwidth);
    // The deallocation event carries the closure given at allocation.
    pushResourceEvent(FW_CDEV_EVENT_ISO_RESOURCE_DEALLOCATED, r.closure, static_cast<int>(a.handle),
                      r.channel, r.bandwidth);
    return 0;
}

int File::createIsoContext(void* argument)
{
    fw_cdev_create_iso_context a{};
    if (!readArgument(a, argument))
        return -EFAULT;
    if (a.type != FW_CDEV_ISO_CONTEXT_RECEIVE)
        return -EINVAL; // transmit and multichannel contexts are not simulated
    if (a.header_size < 4 || (a.header_size & 3) || a.channel > 63)
        return -EINVAL;
    std::lock_guard<std::mutex> lock(_m);
    if (_context)
        return -EBUSY;
    if (!_devices.claimChannel(_node.bus, a.channel))
        return -EBUSY;
    _context = std::make_shared<IsoContext>(_events, a.closure, a.channel, a.header_size, _clientVersion);
    _context->setBuffer(_buffer);
    a.handle = 0;
    return writeArgument(argument, a) ? 0 : -EFAULT;
}

int File::queueIso(void* argument)
{
    fw_cdev_queue_iso a{};
    if (!readArgument(a, argument))
        return -EFAULT;
    std::shared_ptr<IsoContext> context;
    {
        std::lock_guard<std::mutex> lock(_m);
        context = _context;
    }
    if (!context || a.handle != 0)
        return -EINVAL;
    const int queued = context->queue(a);
    if (!writeArgument(argument, a))
        return -EFAULT;
    return queued;
}

int File::startIso(void* argument)
{
    fw_cdev_start_iso a{};
    if (!readArgument(a, argument))
        return -EFAULT;
    std::lock_guard<std::mutex> lock(_m);
    if (!_context || a.handle != 0)
        return -EINVAL;
    if (a.tags == 0 || a.tags > 15 || a.sync > 15)
        return -EINVAL;
    const auto bus = World::instance().bus(_node.bus);
    if (!bus)
        return -ENODEV;
    _context->setClock(bus);
    _context->start(a.sync, a.tags);
    if (!_receiving) {
        bus->listen(_context->channel(), _context);
        _receiving = true;
    }
    return 0;
}

int File::stopIso(void* argument)
{
    fw_cdev_stop_iso a{};
    if (!readArgument(a, argument))
        return -EFAULT;
    {
        std::lock_guard<std::mutex> lock(_m);
        if (!_context || a.handle != 0)
            return -EINVAL;
    }
    stopReceiving();
    return 0;
}

// The cycle timer and a system clock read at one instant, as the kernel
// reads both with interrupts off: the bus clock is a function of host
// (monotonic) time, so the pair comes from one monotonic reading and the
// system clock readings just before and after it.
File::ClockPair File::readClocks(clockid_t clock) const
{
    ClockPair pair{};
    const auto bus = World::instance().bus(_node.bus);
    if (!bus)
        return pair;
    // The pair with the closest system clock readings around the
    // monotonic one; local time is their middle.
    int64_t best = INT64_MAX;
    for (int attempt = 0; attempt < 8 && best > 10000; ++attempt) {
        timespec before{}, monotonic{}, after{};
        clock_gettime(clock, &before);
        clock_gettime(CLOCK_MONOTONIC, &monotonic);
        clock_gettime(clock, &after);
        const int64_t first = before.tv_sec * 1000000000ll + before.tv_nsec;
        const int64_t spread = after.tv_sec * 1000000000ll + after.tv_nsec - first;
        if (spread >= best)
            continue;
        best = spread;
        const int64_t middle = first + spread / 2;
        pair.local =
            timespec{static_cast<time_t>(middle / 1000000000), static_cast<long>(middle % 1000000000)};
        pair.cycleTime = bus->clock().cycleTimeAt(monotonic.tv_sec * 1000000000ll + monotonic.tv_nsec);
    }
    pair.valid = true;
    return pair;
}

int File::getCycleTimer(void* argument)
{
    const ClockPair pair = readClocks(CLOCK_REALTIME);
    if (!pair.valid)
        return -ENODEV;
    fw_cdev_get_cycle_timer a{};
    a.cycle_timer = pair.cycleTime;
    a.local_time = uint64_t(pair.local.tv_sec) * 1000000u + uint64_t(pair.local.tv_nsec) / 1000u;
    return writeArgument(argument, a) ? 0 : -EFAULT;
}

int File::getCycleTimer2(void* argument)
{
    fw_cdev_get_cycle_timer2 a{};
    if (!readArgument(a, argument))
        return -EFAULT;
    if (a.clk_id != CLOCK_REALTIME && a.clk_id != CLOCK_MONOTONIC && a.clk_id != CLOCK_MONOTONIC_RAW)
        return -EINVAL;
    const ClockPair pair = readClocks(a.clk_id);
    if (!pair.valid)
        return -ENODEV;
    a.cycle_timer = pair.cycleTime;
    a.tv_sec = pair.local.tv_sec;
    a.tv_nsec = static_cast<int32_t>(pair.local.tv_nsec);
    return writeArgument(argument, a) ? 0 : -EFAULT;
}

int File::initiateBusReset(void* argument)
{
    fw_cdev_initiate_bus_reset a{};
    if (!readArgument(a, argument))
        return -EFAULT;
    if (a.type != FW_CDEV_LONG_RESET && a.type != FW_CDEV_SHORT_RESET)
        return -EINVAL;
    World::instance().resetBus(_node.bus);
    return 0;
}

void* File::mmap(void* address, std::size_t length, int protection, int flags)
{
    if (_events->isShutDown()) {
        errno = ENODEV;
        return MAP_FAILED;
    }
    if (!(flags & MAP_SHARED) || length == 0) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    std::lock_guard<std::mutex> lock(_m);
    if (_buffer) {
        errno = EBUSY;
        return MAP_FAILED;
    }
    const std::size_t size = (length + kPageBytes - 1) / kPageBytes * kPageBytes;
    const int memFd = memfd_create("orvex-fw-iso", MFD_CLOEXEC);
    if (memFd < 0)
        return MAP_FAILED;
    if (ftruncate(memFd, static_cast<off_t>(size)) != 0) {
        const int e = errno;
        real::close(memFd);
        errno = e == EFBIG || e == EINVAL ? ENOMEM : e;
        return MAP_FAILED;
    }
    void* ours = real::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, memFd, 0);
    if (ours == MAP_FAILED) {
        const int e = errno;
        real::close(memFd);
        errno = e;
        return MAP_FAILED;
    }
    void* theirs = real::mmap(address, length, protection, flags, memFd, 0);
    if (theirs == MAP_FAILED) {
        const int e = errno;
        munmap(ours, size);
        real::close(memFd);
        errno = e;
        return MAP_FAILED;
    }
    _buffer = std::make_shared<IsoBuffer>(memFd, static_cast<uint8_t*>(ours), size,
                                          reinterpret_cast<uintptr_t>(theirs));
    if (_context)
        _context->setBuffer(_buffer);
    return theirs;
}

} // namespace orvex::sim::firewire
