// The /dev/fw nodes of the simulated world: one per connected camera, its
// configuration ROM, and the bus generations that resets advance.
#include "Devices.h"

#include "RealCalls.h"

#include <orvex/iidc/Registers.h>

#include <linux/firewire-constants.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fcntl.h>
#include <sstream>
#include <stdexcept>
#include <sys/eventfd.h>
#include <unistd.h>

namespace orvex::sim::firewire {

namespace {

std::atomic<bool> g_active{false};

constexpr uint32_t kLocalBusNodeId = 0xFFC0; // bus id 0x3FF: the local bus
constexpr std::size_t kMaxRomQuadlets = 256;

uint32_t speedCode(uint32_t mbps)
{
    return mbps >= 800 ? SCODE_800 : mbps >= 400 ? SCODE_400 : mbps >= 200 ? SCODE_200 : SCODE_100;
}

std::string makeDirectory()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/orvex-fw-XXXXXX";
    if (!mkdtemp(pattern.data()))
        return {};
    return pattern;
}

template <typename T> bool parseNumber(const std::string& word, T& value)
{
    const char* end = word.data() + word.size();
    const auto [at, ec] = std::from_chars(word.data(), end, value);
    return ec == std::errc() && at == end;
}

} // namespace

Devices& Devices::instance()
{
    static Devices devices;
    return devices;
}

bool Devices::active()
{
    return g_active.load(std::memory_order_acquire);
}

Devices::Devices()
{
    World& world = World::instance();
    _directory = makeDirectory();
    _listenerId = world.subscribe([this](const BusEvent& event) { onWorldEvent(event); });
    onWorldEvent(BusEvent{BusEvent::Kind::arrival});
    g_active.store(true, std::memory_order_release);
}

Devices::~Devices()
{
    // Process exit: calls that come later (a close from another exit
    // handler) go straight to the C library.
    g_active.store(false, std::memory_order_release);
    World::instance().unsubscribe(_listenerId);
    std::lock_guard<std::mutex> lock(_m);
    _nodes.clear();
    writeDirectoryLocked();
    if (!_directory.empty())
        rmdir(_directory.c_str());
}

Node Devices::readNode(const std::shared_ptr<Camera>& camera, int bus)
{
    Node node;
    node.serialNumber = camera->serialNumber();
    node.bus = bus;
    node.camera = camera;
    const auto busPtr = camera->bus();
    node.maxSpeedCode = speedCode(std::min(camera->config().maxBusSpeed, busPtr ? busPtr->speed() : 400u));
    // The kernel reads the ROM once when the node appears: the bus
    // information block's CRC length says how far it reaches.
    uint32_t first = 0;
    if (camera->readRegister(iidc::kConfigRomBase, first) != Status::ok)
        return node;
    const std::size_t length = std::min<std::size_t>(
        1 + std::max<uint32_t>((first >> 24) & 0xFF, (first >> 16) & 0xFF), kMaxRomQuadlets);
    node.rom.push_back(first);
    for (std::size_t i = 1; i < length; ++i) {
        uint32_t q = 0;
        if (camera->readRegister(iidc::kConfigRomBase + uint32_t(4 * i), q) != Status::ok)
            break;
        node.rom.push_back(q);
    }
    return node;
}

void Devices::onWorldEvent(const BusEvent& event)
{
    World& world = World::instance();
    const std::vector<std::shared_ptr<Camera>> cameras = world.connectedCameras();
    std::vector<std::shared_ptr<Camera>> arriving;
    {
        std::lock_guard<std::mutex> lock(_m);
        for (const auto& camera : cameras) {
            const auto bus = camera->bus();
            const int number = bus ? bus->number() : -1;
            const bool known = std::any_of(_nodes.begin(), _nodes.end(), [&](const Node& n) {
                return n.serialNumber == camera->serialNumber() && n.bus == number &&
                       n.camera.lock() == camera;
            });
            if (!known)
                arriving.push_back(camera);
        }
    }
    std::vector<Node> fresh;
    for (const auto& camera : arriving)
        if (const auto bus = camera->bus())
            fresh.push_back(readNode(camera, bus->number()));

    std::vector<std::shared_ptr<File>> gone, reset;
    uint32_t generation = 0, local = 0;
    {
        std::lock_guard<std::mutex> lock(_m);
        gone = syncNodesLocked(cameras, std::move(fresh));
        if (event.kind == BusEvent::Kind::busReset) {
            generation = ++busLocked(event.bus).generation;
            local = kLocalBusNodeId |
                    static_cast<uint32_t>(std::count_if(_nodes.begin(), _nodes.end(),
                                                        [&](const Node& n) { return n.bus == event.bus; }));
            for (const auto& [fd, file] : _files)
                if (file->bus() == event.bus)
                    reset.push_back(file);
        }
    }
    for (const auto& file : gone)
        file->shutDown();
    for (const auto& file : reset) {
        if (std::find(gone.begin(), gone.end(), file) != gone.end())
            continue;
        const int number = world.nodeNumber(file->serialNumber());
        file->busReset(generation, kLocalBusNodeId | static_cast<uint32_t>(std::max(number, 0)), local);
    }
}

std::vector<std::shared_ptr<File>> Devices::syncNodesLocked(std::vector<std::shared_ptr<Camera>> cameras,
                                                            std::vector<Node> fresh)
{
    // Nodes whose camera left (or moved to another bus) go away.
    _nodes.erase(std::remove_if(_nodes.begin(), _nodes.end(),
                                [&](const Node& n) {
                                    const auto camera = n.camera.lock();
                                    const bool stays =
                                        camera &&
                                        std::find(cameras.begin(), cameras.end(), camera) != cameras.end() &&
                                        camera->bus() && camera->bus()->number() == n.bus;
                                    return !stays;
                                }),
                 _nodes.end());
    for (Node& node : fresh) {
        const bool known = std::any_of(_nodes.begin(), _nodes.end(), [&](const Node& n) {
            return n.serialNumber == node.serialNumber && n.bus == node.bus;
        });
        if (known)
            continue;
        int minor = 0;
        while (std::any_of(_nodes.begin(), _nodes.end(), [&](const Node& n) { return n.minor == minor; }))
            ++minor;
        node.minor = minor;
        _nodes.push_back(std::move(node));
    }
    std::sort(_nodes.begin(), _nodes.end(), [](const Node& a, const Node& b) { return a.minor < b.minor; });
    writeDirectoryLocked();

    std::vector<std::shared_ptr<File>> gone;
    for (const auto& entry : _files) {
        const std::shared_ptr<File>& file = entry.second;
        const bool stays = std::any_of(_nodes.begin(), _nodes.end(), [&](const Node& n) {
            return n.serialNumber == file->serialNumber() && n.bus == file->bus();
        });
        if (!stays)
            gone.push_back(file);
    }
    return gone;
}

void Devices::writeDirectoryLocked() const
{
    if (_directory.empty())
        return;
    // Entries are only names: the interposer answers the opens.
    for (int minor = 0; minor < 64; ++minor) {
        const std::string path = _directory + "/fw" + std::to_string(minor);
        const bool present =
            std::any_of(_nodes.begin(), _nodes.end(), [&](const Node& n) { return n.minor == minor; });
        if (present) {
            const int fd = real::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
            if (fd >= 0)
                real::close(fd);
        } else {
            unlink(path.c_str());
        }
    }
}

Devices::BusState& Devices::busLocked(int bus)
{
    BusState& state = _buses[bus];
    if (!state.irm) {
        uint32_t units = kBandwidthUnitsInitial;
        if (const auto b = World::instance().bus(bus))
            units = std::min<uint32_t>(units,
                                       static_cast<uint32_t>(uint64_t(b->isoBandwidth()) * 400 / b->speed()));
        state.irm = std::make_unique<IsoResources>(units);
    }
    return state;
}

int Devices::open(int minor, int flags)
{
    std::lock_guard<std::mutex> lock(_m);
    const auto it =
        std::find_if(_nodes.begin(), _nodes.end(), [&](const Node& n) { return n.minor == minor; });
    if (it == _nodes.end()) {
        errno = ENOENT;
        return -1;
    }
    const int fd = eventfd(0, EFD_SEMAPHORE | ((flags & O_NONBLOCK) ? EFD_NONBLOCK : 0) |
                                  ((flags & O_CLOEXEC) ? EFD_CLOEXEC : 0));
    if (fd < 0)
        return -1;
    _files[fd] = std::make_shared<File>(*this, fd, *it);
    return fd;
}

int Devices::openControl(int flags)
{
    const int fd = eventfd(0, (flags & O_CLOEXEC) ? EFD_CLOEXEC : 0);
    if (fd < 0)
        return -1;
    std::lock_guard<std::mutex> lock(_m);
    _controls[fd] = true;
    return fd;
}

std::shared_ptr<File> Devices::file(int fd) const
{
    std::lock_guard<std::mutex> lock(_m);
    const auto it = _files.find(fd);
    return it == _files.end() ? nullptr : it->second;
}

bool Devices::isControl(int fd) const
{
    std::lock_guard<std::mutex> lock(_m);
    return _controls.count(fd) != 0;
}

std::shared_ptr<File> Devices::release(int fd)
{
    std::lock_guard<std::mutex> lock(_m);
    const auto it = _files.find(fd);
    if (it == _files.end())
        return nullptr;
    std::shared_ptr<File> file = std::move(it->second);
    _files.erase(it);
    return file;
}

void Devices::releaseControl(int fd)
{
    std::lock_guard<std::mutex> lock(_m);
    _controls.erase(fd);
}

bool Devices::control(const std::string& text)
{
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream in(line);
        std::vector<std::string> words;
        for (std::string w; in >> w;)
            words.push_back(w);
        if (words.empty())
            continue;
        uint32_t serial = 0;
        int bus = 0;
        try {
            if (words[0] == "unplug" && words.size() == 2 && parseNumber(words[1], serial)) {
                World::instance().unplugCamera(serial);
            } else if (words[0] == "plug" && words.size() == 3 && parseNumber(words[1], serial) &&
                       parseNumber(words[2], bus)) {
                World::instance().plugCamera(serial, bus);
            } else if (words[0] == "reset" && words.size() == 2 && parseNumber(words[1], bus) &&
                       World::instance().bus(bus)) {
                World::instance().resetBus(bus);
            } else {
                errno = EINVAL;
                return false;
            }
        } catch (const std::exception&) {
            errno = EINVAL;
            return false;
        }
    }
    return true;
}

uint32_t Devices::generation(int bus) const
{
    std::lock_guard<std::mutex> lock(_m);
    const auto it = _buses.find(bus);
    return it == _buses.end() ? 1 : it->second.generation;
}

uint32_t Devices::nodeId(uint32_t serialNumber) const
{
    return kLocalBusNodeId | static_cast<uint32_t>(std::max(World::instance().nodeNumber(serialNumber), 0));
}

uint32_t Devices::localNodeId(int bus) const
{
    std::lock_guard<std::mutex> lock(_m);
    return kLocalBusNodeId | static_cast<uint32_t>(std::count_if(
                                 _nodes.begin(), _nodes.end(), [&](const Node& n) { return n.bus == bus; }));
}

IsoResources* Devices::isoResources(int bus)
{
    std::lock_guard<std::mutex> lock(_m);
    return busLocked(bus).irm.get();
}

bool Devices::claimChannel(int bus, uint32_t channel)
{
    std::lock_guard<std::mutex> lock(_m);
    BusState& state = busLocked(bus);
    const uint64_t bit = uint64_t(1) << channel;
    if (state.receiving & bit)
        return false;
    state.receiving |= bit;
    return true;
}

void Devices::releaseChannel(int bus, uint32_t channel)
{
    std::lock_guard<std::mutex> lock(_m);
    busLocked(bus).receiving &= ~(uint64_t(1) << channel);
}

} // namespace orvex::sim::firewire
