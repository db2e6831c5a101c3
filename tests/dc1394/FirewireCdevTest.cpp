// The /dev/fw* devices at the kernel's own interface (linux/firewire-cdev.h),
// for what libdc1394 never tries: the checks and event layouts a real
// kernel has, so that a program that works here works on a real card. Run
// under scripts/with-simulated-firewire.sh over the default world.
#include <linux/firewire-cdev.h>
#include <linux/firewire-constants.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint64_t kRegisters = 0xFFFFF0F00000ull; // IIDC command registers
constexpr uint32_t kGras20Serial = 7240101;

uint64_t u64(const void* p)
{
    return reinterpret_cast<uintptr_t>(p);
}

// An open node with its bus generation and ROM, found by serial number
// (the bus information block's fifth quadlet).
class Node {
public:
    explicit Node(uint32_t serial)
    {
        DIR* dir = opendir("/dev");
        if (!dir)
            return;
        while (dirent* e = readdir(dir)) {
            if (std::strncmp(e->d_name, "fw", 2) != 0)
                continue;
            const std::string path = std::string("/dev/") + e->d_name;
            const int fd = open(path.c_str(), O_RDWR);
            if (fd < 0)
                continue;
            uint32_t rom[256] = {};
            fw_cdev_event_bus_reset reset{};
            fw_cdev_get_info info{};
            info.version = 4;
            info.rom = u64(rom);
            info.rom_length = sizeof rom;
            info.bus_reset = u64(&reset);
            if (ioctl(fd, FW_CDEV_IOC_GET_INFO, &info) == 0 && rom[4] == serial) {
                _fd = fd;
                _generation = reset.generation;
                _romBytes = info.rom_length;
                std::memcpy(_rom, rom, sizeof rom);
                break;
            }
            close(fd);
        }
        closedir(dir);
    }
    ~Node()
    {
        if (_fd >= 0)
            close(_fd);
    }
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    int fd() const { return _fd; }
    uint32_t generation() const { return _generation; }
    uint32_t romBytes() const { return _romBytes; }
    uint32_t rom(int i) const { return _rom[i]; }

    int request(uint32_t tcode, uint64_t offset, void* data, uint32_t length, uint32_t generation,
                unsigned long ioctlCode = FW_CDEV_IOC_SEND_REQUEST)
    {
        fw_cdev_send_request r{};
        r.tcode = tcode;
        r.offset = offset;
        r.data = u64(data);
        r.length = length;
        r.generation = generation;
        r.closure = 0xC105;
        return ioctl(_fd, ioctlCode, &r);
    }

    // The next event of a type, at most `bytes` long.
    std::vector<uint8_t> event(uint32_t type, std::size_t bytes = 4096)
    {
        for (int i = 0; i < 16; ++i) {
            std::vector<uint8_t> e(bytes);
            const ssize_t n = read(_fd, e.data(), e.size());
            if (n < 0)
                return {};
            e.resize(static_cast<std::size_t>(n));
            uint32_t t = 0;
            std::memcpy(&t, e.data() + 8, 4);
            if (t == type)
                return e;
        }
        return {};
    }

private:
    int _fd = -1;
    uint32_t _generation = 0;
    uint32_t _romBytes = 0;
    uint32_t _rom[256] = {};
};

fw_cdev_event_response response(const std::vector<uint8_t>& e)
{
    fw_cdev_event_response r{};
    std::memcpy(&r, e.data(), std::min(e.size(), sizeof r));
    return r;
}

std::vector<std::string> nodeNames()
{
    std::vector<std::string> names;
    if (DIR* dir = opendir("/dev")) {
        while (dirent* e = readdir(dir))
            if (std::strncmp(e->d_name, "fw", 2) == 0)
                names.push_back(e->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void worldCommand(const char* line)
{
    const int fd = open("/dev/fw-sim-control", O_WRONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(write(fd, line, std::strlen(line)), static_cast<ssize_t>(std::strlen(line)));
    close(fd);
}

TEST(FirewireCdev, DevListsOneNodePerConnectedCameraNumberedFromZero)
{
    // The default world's five cameras.
    EXPECT_EQ(nodeNames(), (std::vector<std::string>{"fw0", "fw1", "fw2", "fw3", "fw4"}));
    Node node(kGras20Serial);
    ASSERT_GE(node.fd(), 0);
    ASSERT_NO_FATAL_FAILURE(worldCommand("unplug 7240101\n"));
    EXPECT_EQ(nodeNames().size(), 4u);
    // The file of the camera that left: ioctls fail with ENODEV, reads too
    // once nothing is queued (a poll wakes).
    uint32_t data = 0;
    errno = 0;
    EXPECT_EQ(node.request(TCODE_READ_QUADLET_REQUEST, kRegisters, &data, 4, node.generation()), -1);
    EXPECT_EQ(errno, ENODEV);
    pollfd p{node.fd(), POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 1000), 1);
    uint8_t buffer[64];
    errno = 0;
    EXPECT_EQ(read(node.fd(), buffer, sizeof buffer), -1);
    EXPECT_EQ(errno, ENODEV);
    // Back on its bus, the camera takes the lowest free node number again.
    ASSERT_NO_FATAL_FAILURE(worldCommand("plug 7240101 0\n"));
    EXPECT_EQ(nodeNames(), (std::vector<std::string>{"fw0", "fw1", "fw2", "fw3", "fw4"}));
    Node again(kGras20Serial);
    EXPECT_GE(again.fd(), 0);
    EXPECT_GT(again.generation(), node.generation());
}

TEST(FirewireCdev, GetInfoGivesTheRomInHostOrderAndTheBusResetState)
{
    Node node(kGras20Serial);
    ASSERT_GE(node.fd(), 0);
    EXPECT_EQ(node.rom(1), 0x31333934u);    // "1394"
    EXPECT_EQ(node.rom(3) >> 8, 0x00B09Du); // vendor id above the GUID's high byte
    EXPECT_EQ(node.romBytes() % 4, 0u);
    EXPECT_GT(node.romBytes(), 20u);
    // A ROM pointer the program does not own: EFAULT, not a crash.
    fw_cdev_get_info info{};
    info.version = 4;
    info.rom = 8;
    info.rom_length = 1024;
    errno = 0;
    EXPECT_EQ(ioctl(node.fd(), FW_CDEV_IOC_GET_INFO, &info), -1);
    EXPECT_EQ(errno, EFAULT);
    errno = 0;
    EXPECT_EQ(ioctl(node.fd(), FW_CDEV_IOC_GET_INFO, reinterpret_cast<void*>(16)), -1);
    EXPECT_EQ(errno, EFAULT);
}

TEST(FirewireCdev, RequestsAreCheckedAsTheKernelChecksThem)
{
    Node node(kGras20Serial);
    ASSERT_GE(node.fd(), 0);
    uint32_t big[2048] = {};
    errno = 0;
    EXPECT_EQ(node.request(TCODE_READ_BLOCK_REQUEST, kRegisters, big, 4100, node.generation()), -1);
    EXPECT_EQ(errno, EIO); // more than 4096 bytes
    errno = 0;
    EXPECT_EQ(node.request(TCODE_WRITE_QUADLET_REQUEST, kRegisters, big, 2, node.generation()), -1);
    EXPECT_EQ(errno, EINVAL); // a quadlet write of fewer than 4 bytes
    errno = 0;
    EXPECT_EQ(node.request(TCODE_READ_QUADLET_RESPONSE, kRegisters, big, 4, node.generation()), -1);
    EXPECT_EQ(errno, EINVAL); // not a request
    errno = 0;
    EXPECT_EQ(node.request(TCODE_WRITE_QUADLET_REQUEST, 0xFFFFF0000400ull, big, 4, node.generation(),
                           FW_CDEV_IOC_SEND_BROADCAST_REQUEST),
              -1);
    EXPECT_EQ(errno, EACCES); // broadcasts reach units space only
    errno = 0;
    EXPECT_EQ(node.request(TCODE_WRITE_QUADLET_REQUEST, kRegisters, reinterpret_cast<void*>(8), 4,
                           node.generation()),
              -1);
    EXPECT_EQ(errno, EFAULT);
}

TEST(FirewireCdev, ResponsesCarryTheRcodeTheDataBigEndianAndTheClosure)
{
    Node node(kGras20Serial);
    ASSERT_GE(node.fd(), 0);
    uint32_t data = 0;
    // The bus information block's "1394" through a quadlet read.
    ASSERT_EQ(node.request(TCODE_READ_QUADLET_REQUEST, 0xFFFFF0000404ull, &data, 4, node.generation()), 0);
    std::vector<uint8_t> e = node.event(FW_CDEV_EVENT_RESPONSE);
    ASSERT_GE(e.size(), sizeof(fw_cdev_event_response) + 4);
    fw_cdev_event_response r = response(e);
    EXPECT_EQ(r.closure, 0xC105u);
    EXPECT_EQ(r.rcode, unsigned(RCODE_COMPLETE));
    EXPECT_EQ(r.length, 4u);
    const uint8_t* d = e.data() + offsetof(fw_cdev_event_response, data);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(d), 4), "1394");

    // A stale generation: the kernel answers RCODE_GENERATION, no data.
    ASSERT_EQ(node.request(TCODE_READ_QUADLET_REQUEST, 0xFFFFF0000404ull, &data, 4, node.generation() + 1),
              0);
    r = response(node.event(FW_CDEV_EVENT_RESPONSE));
    EXPECT_EQ(r.rcode, unsigned(RCODE_GENERATION));
    EXPECT_EQ(r.length, 0u);

    // Outside the CSR space: an address error.
    ASSERT_EQ(node.request(TCODE_READ_QUADLET_REQUEST, 0x000100000000ull, &data, 4, node.generation()), 0);
    EXPECT_EQ(response(node.event(FW_CDEV_EVENT_RESPONSE)).rcode, unsigned(RCODE_ADDRESS_ERROR));
}

TEST(FirewireCdev, IsoResourcesAreRefusedBeyondTheBusBudgetAndGivenBackWithTheirClosure)
{
    Node node(kGras20Serial);
    ASSERT_GE(node.fd(), 0);
    fw_cdev_allocate_iso_resource a{};
    a.bandwidth = 4916; // more than IEEE 1394's 4915 units
    a.channels = 1;
    errno = 0;
    EXPECT_EQ(ioctl(node.fd(), FW_CDEV_IOC_ALLOCATE_ISO_RESOURCE, &a), -1);
    EXPECT_EQ(errno, EINVAL);
    a = {};
    errno = 0;
    EXPECT_EQ(ioctl(node.fd(), FW_CDEV_IOC_ALLOCATE_ISO_RESOURCE, &a), -1); // nothing asked
    EXPECT_EQ(errno, EINVAL);

    a.closure = 0xA110C;
    a.channels = uint64_t(1) << 5;
    a.bandwidth = 3000;
    ASSERT_EQ(ioctl(node.fd(), FW_CDEV_IOC_ALLOCATE_ISO_RESOURCE, &a), 0);
    fw_cdev_event_iso_resource got{};
    std::vector<uint8_t> e = node.event(FW_CDEV_EVENT_ISO_RESOURCE_ALLOCATED);
    ASSERT_EQ(e.size(), sizeof got);
    std::memcpy(&got, e.data(), sizeof got);
    EXPECT_EQ(got.closure, 0xA110Cu);
    EXPECT_EQ(got.channel, 5);
    EXPECT_EQ(got.bandwidth, 3000);

    // 3000 + 2000 > 4915: refused, channel and bandwidth both.
    fw_cdev_allocate_iso_resource b{};
    b.closure = 0xB;
    b.channels = 0xFFFF;
    b.bandwidth = 2000;
    ASSERT_EQ(ioctl(node.fd(), FW_CDEV_IOC_ALLOCATE_ISO_RESOURCE, &b), 0);
    fw_cdev_event_iso_resource refused{};
    e = node.event(FW_CDEV_EVENT_ISO_RESOURCE_ALLOCATED);
    ASSERT_EQ(e.size(), sizeof refused);
    std::memcpy(&refused, e.data(), sizeof refused);
    EXPECT_LT(refused.channel, 0);
    EXPECT_EQ(refused.bandwidth, 0);

    fw_cdev_deallocate d{};
    d.handle = a.handle;
    ASSERT_EQ(ioctl(node.fd(), FW_CDEV_IOC_DEALLOCATE_ISO_RESOURCE, &d), 0);
    fw_cdev_event_iso_resource freed{};
    e = node.event(FW_CDEV_EVENT_ISO_RESOURCE_DEALLOCATED);
    ASSERT_EQ(e.size(), sizeof freed);
    std::memcpy(&freed, e.data(), sizeof freed);
    EXPECT_EQ(freed.closure, 0xA110Cu); // the allocation's closure
    EXPECT_EQ(freed.channel, 5);
    EXPECT_EQ(freed.bandwidth, 3000);
    errno = 0;
    EXPECT_EQ(ioctl(node.fd(), FW_CDEV_IOC_DEALLOCATE_ISO_RESOURCE, &d), -1); // already given back
    EXPECT_EQ(errno, EINVAL);
    // Now 2000 units fit.
    ASSERT_EQ(ioctl(node.fd(), FW_CDEV_IOC_ALLOCATE_ISO_RESOURCE, &b), 0);
    e = node.event(FW_CDEV_EVENT_ISO_RESOURCE_ALLOCATED);
    ASSERT_EQ(e.size(), sizeof refused);
    std::memcpy(&refused, e.data(), sizeof refused);
    EXPECT_EQ(refused.channel, 0);
    EXPECT_EQ(refused.bandwidth, 2000);
}

TEST(FirewireCdev, IsoContextsAndQueuesAreCheckedAsTheKernelChecksThem)
{
    Node node(kGras20Serial);
    ASSERT_GE(node.fd(), 0);
    fw_cdev_create_iso_context c{};
    c.type = FW_CDEV_ISO_CONTEXT_RECEIVE;
    c.header_size = 6; // not a whole quadlet
    c.channel = 3;
    errno = 0;
    EXPECT_EQ(ioctl(node.fd(), FW_CDEV_IOC_CREATE_ISO_CONTEXT, &c), -1);
    EXPECT_EQ(errno, EINVAL);
    c.header_size = 8;
    c.channel = 64;
    errno = 0;
    EXPECT_EQ(ioctl(node.fd(), FW_CDEV_IOC_CREATE_ISO_CONTEXT, &c), -1);
    EXPECT_EQ(errno, EINVAL);
    c.channel = 3;
    ASSERT_EQ(ioctl(node.fd(), FW_CDEV_IOC_CREATE_ISO_CONTEXT, &c), 0);
    EXPECT_EQ(c.handle, 0u);
    errno = 0;
    EXPECT_EQ(ioctl(node.fd(), FW_CDEV_IOC_CREATE_ISO_CONTEXT, &c), -1);
    EXPECT_EQ(errno, EBUSY); // one context per file

    // Private mappings are refused; a shared one is the buffer.
    errno = 0;
    EXPECT_EQ(mmap(nullptr, 65536, PROT_READ, MAP_PRIVATE, node.fd(), 0), MAP_FAILED);
    EXPECT_EQ(errno, EINVAL);
    void* buffer = mmap(nullptr, 65536, PROT_READ | PROT_WRITE, MAP_SHARED, node.fd(), 0);
    ASSERT_NE(buffer, MAP_FAILED);
    errno = 0;
    EXPECT_EQ(mmap(nullptr, 4096, PROT_READ, MAP_SHARED, node.fd(), 0), MAP_FAILED);
    EXPECT_EQ(errno, EBUSY); // one buffer per file

    uint32_t packets[2] = {FW_CDEV_ISO_PAYLOAD_LENGTH(4096) | FW_CDEV_ISO_HEADER_LENGTH(0),
                           FW_CDEV_ISO_PAYLOAD_LENGTH(4096) | FW_CDEV_ISO_HEADER_LENGTH(12)};
    fw_cdev_queue_iso q{};
    q.packets = u64(packets);
    q.data = u64(buffer);
    q.size = 4;
    errno = 0;
    EXPECT_EQ(ioctl(node.fd(), FW_CDEV_IOC_QUEUE_ISO, &q), -1); // a header length of 0
    EXPECT_EQ(errno, EINVAL);
    q.packets = u64(&packets[1]);
    errno = 0;
    EXPECT_EQ(ioctl(node.fd(), FW_CDEV_IOC_QUEUE_ISO, &q), -1); // 12 is not a multiple of 8
    EXPECT_EQ(errno, EINVAL);
    // A payload past the buffer's end.
    uint32_t tooFar = FW_CDEV_ISO_PAYLOAD_LENGTH(8192) | FW_CDEV_ISO_HEADER_LENGTH(8);
    q.packets = u64(&tooFar);
    q.data = u64(buffer) + 61440;
    errno = 0;
    EXPECT_EQ(ioctl(node.fd(), FW_CDEV_IOC_QUEUE_ISO, &q), -1);
    EXPECT_EQ(errno, EINVAL);
    // Two good descriptors: both queued, the request advanced past them.
    uint32_t good[2] = {FW_CDEV_ISO_PAYLOAD_LENGTH(4096) | FW_CDEV_ISO_HEADER_LENGTH(8),
                        FW_CDEV_ISO_PAYLOAD_LENGTH(4096) | FW_CDEV_ISO_HEADER_LENGTH(16)};
    q.packets = u64(good);
    q.data = u64(buffer);
    q.size = sizeof good;
    EXPECT_EQ(ioctl(node.fd(), FW_CDEV_IOC_QUEUE_ISO, &q), 2);
    EXPECT_EQ(q.size, 0u);
    EXPECT_EQ(q.packets, u64(good) + sizeof good);
    EXPECT_EQ(q.data, u64(buffer) + 8192);

    fw_cdev_start_iso s{};
    s.tags = 0; // matches nothing
    errno = 0;
    EXPECT_EQ(ioctl(node.fd(), FW_CDEV_IOC_START_ISO, &s), -1);
    EXPECT_EQ(errno, EINVAL);
    s.tags = FW_CDEV_ISO_CONTEXT_MATCH_ALL_TAGS;
    s.handle = 1;
    errno = 0;
    EXPECT_EQ(ioctl(node.fd(), FW_CDEV_IOC_START_ISO, &s), -1);
    EXPECT_EQ(errno, EINVAL);
    munmap(buffer, 65536);
}

uint32_t bigEndianAt(const uint8_t* at)
{
    return (uint32_t(at[0]) << 24) | (uint32_t(at[1]) << 16) | (uint32_t(at[2]) << 8) | at[3];
}

TEST(FirewireCdev, ReceivedPacketsCarryTheirIsoHeadersAndOneCycleEach)
{
    Node node(kGras20Serial);
    ASSERT_GE(node.fd(), 0);
    fw_cdev_create_iso_context c{};
    c.type = FW_CDEV_ISO_CONTEXT_RECEIVE;
    c.header_size = 8; // iso header and time stamp
    c.channel = 0;     // the camera's channel after power-up
    c.closure = 0x150;
    ASSERT_EQ(ioctl(node.fd(), FW_CDEV_IOC_CREATE_ISO_CONTEXT, &c), 0);
    constexpr std::size_t kBytes = 1 << 20;
    void* buffer = mmap(nullptr, kBytes, PROT_READ | PROT_WRITE, MAP_SHARED, node.fd(), 0);
    ASSERT_NE(buffer, MAP_FAILED);
    // Four packets of up to 8192 bytes each, starting at a frame's first.
    uint32_t control = FW_CDEV_ISO_PAYLOAD_LENGTH(4 * 8191) | FW_CDEV_ISO_HEADER_LENGTH(4 * 8) |
                       FW_CDEV_ISO_INTERRUPT | FW_CDEV_ISO_SKIP;
    fw_cdev_queue_iso q{};
    q.packets = u64(&control);
    q.data = u64(buffer);
    q.size = sizeof control;
    ASSERT_EQ(ioctl(node.fd(), FW_CDEV_IOC_QUEUE_ISO, &q), 1);
    fw_cdev_start_iso s{};
    s.cycle = -1;
    s.sync = 1;
    s.tags = FW_CDEV_ISO_CONTEXT_MATCH_ALL_TAGS;
    ASSERT_EQ(ioctl(node.fd(), FW_CDEV_IOC_START_ISO, &s), 0);

    uint8_t on[4] = {0x80, 0, 0, 0}; // ISO_EN
    ASSERT_EQ(node.request(TCODE_WRITE_QUADLET_REQUEST, 0xFFFFF0F00614ull, on, 4, node.generation()), 0);
    EXPECT_EQ(response(node.event(FW_CDEV_EVENT_RESPONSE)).rcode, unsigned(RCODE_COMPLETE));
    pollfd p{node.fd(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 5000), 1);
    const std::vector<uint8_t> e = node.event(FW_CDEV_EVENT_ISO_INTERRUPT);
    ASSERT_EQ(e.size(), sizeof(fw_cdev_event_iso_interrupt) + 4 * 8);
    fw_cdev_event_iso_interrupt head{};
    std::memcpy(&head, e.data(), offsetof(fw_cdev_event_iso_interrupt, header));
    EXPECT_EQ(head.closure, 0x150u);
    EXPECT_EQ(head.header_length, 32u);
    const uint8_t* h = e.data() + offsetof(fw_cdev_event_iso_interrupt, header);
    uint32_t previousCycle = 0;
    for (int i = 0; i < 4; ++i) {
        const uint32_t iso = bigEndianAt(h + 8 * i);
        const uint32_t stamp = bigEndianAt(h + 8 * i + 4) & 0xFFFF;
        SCOPED_TRACE(i);
        EXPECT_GT(iso >> 16, 0u);               // data length
        EXPECT_EQ((iso >> 8) & 0x3F, 0u);       // channel
        EXPECT_EQ((iso >> 4) & 0xF, 0xAu);      // isochronous data block
        EXPECT_EQ(iso & 0xF, i == 0 ? 1u : 0u); // sy: a frame's first packet
        // One packet a cycle: 8000 cycles a second, 3 bits of seconds.
        const uint32_t cycle = (stamp >> 13) * 8000 + (stamp & 0x1FFF);
        if (i > 0) {
            EXPECT_EQ(cycle, (previousCycle + 1) % 64000);
        }
        previousCycle = cycle;
        if (i == 3) {
            EXPECT_EQ(head.cycle, stamp); // the interrupt packet's time
        }
    }
    uint8_t off[4] = {0, 0, 0, 0};
    ASSERT_EQ(node.request(TCODE_WRITE_QUADLET_REQUEST, 0xFFFFF0F00614ull, off, 4, node.generation()), 0);
    fw_cdev_stop_iso stop{};
    EXPECT_EQ(ioctl(node.fd(), FW_CDEV_IOC_STOP_ISO, &stop), 0);
    munmap(buffer, kBytes);
}

TEST(FirewireCdev, UnknownIoctlsAndWritesAreRefused)
{
    Node node(kGras20Serial);
    ASSERT_GE(node.fd(), 0);
    errno = 0;
    EXPECT_EQ(ioctl(node.fd(), _IO('#', 0x7F)), -1);
    EXPECT_EQ(errno, ENOTTY);
    const char text[] = "x";
    errno = 0;
    EXPECT_EQ(write(node.fd(), text, 1), -1);
    EXPECT_EQ(errno, EINVAL);
    // Nothing pending: a non-blocking poll says so.
    pollfd p{node.fd(), POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 0), 0);
    errno = 0;
    EXPECT_EQ(open("/dev/fw63", O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
    // Reached through openat too.
    const int fd = openat(AT_FDCWD, "/dev/fw0", O_RDWR);
    ASSERT_GE(fd, 0);
    fw_cdev_get_info info{};
    info.version = 4;
    EXPECT_EQ(ioctl(fd, FW_CDEV_IOC_GET_INFO, &info), 0);
    close(fd);
}

} // namespace
