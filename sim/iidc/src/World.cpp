#include <orvex/sim/World.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

namespace orvex::sim {

namespace {

// A world of hundreds of cameras is a few hundred kilobytes; the bound keeps
// a wrong path (/dev/zero, a log) from being read forever.
constexpr std::streamsize kMaxWorldFileBytes = 4 << 20;

std::string readFile(const std::string& path)
{
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error(std::string("cannot be opened: ") +
                                 (errno != 0 ? std::strerror(errno) : "unknown reason"));
    std::string text(static_cast<std::size_t>(kMaxWorldFileBytes) + 1, '\0');
    in.read(text.data(), kMaxWorldFileBytes + 1);
    if (in.bad())
        throw std::runtime_error(std::string("cannot be read: ") +
                                 (errno != 0 ? std::strerror(errno) : "unknown reason"));
    if (in.gcount() > kMaxWorldFileBytes)
        throw std::runtime_error("larger than 4 MiB");
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

} // namespace

World& World::instance()
{
    static World world;
    return world;
}

World::World()
{
    const char* path = std::getenv(kWorldFileVariable);
    if (path && *path) {
        try {
            loadFile(path);
        } catch (const std::exception& e) {
            // No caller to report to yet: an empty world makes the problem
            // visible at the first enumeration, and a program that asks
            // (startupProblem) can refuse to go on.
            startupProblem_ = e.what();
            std::cerr << "orvex simulator: " << e.what() << "; starting with an empty world\n";
        }
    } else {
        loadDefault();
    }
}

World::~World()
{
    // Process exit: stop every stream; nobody listens any more.
    std::vector<std::shared_ptr<Camera>> cameras;
    {
        std::lock_guard<std::mutex> lock(m_);
        cameras.swap(cameras_);
        buses_.clear();
    }
    for (const auto& camera : cameras)
        camera->detach();
}

// --- building -----------------------------------------------------------------------

void World::clear()
{
    std::vector<std::shared_ptr<Camera>> cameras;
    {
        std::lock_guard<std::mutex> lock(m_);
        cameras.swap(cameras_);
        buses_.clear();
        pacing_ = Pacing::frameRate;
    }
    faults_.clear();
    for (const auto& camera : cameras)
        camera->detach();
    publish({BusEvent{BusEvent::Kind::cleared}});
}

void World::loadDefault()
{
    clear();
    const WorldDescription description = defaultWorld();
    for (const auto& b : description.buses) {
        const int number = addBus(b.bus);
        for (const CameraConfig& c : b.cameras)
            addCamera(number, c);
    }
    setPacing(description.pacing);
}

void World::loadFile(const std::string& path)
{
    clear();
    try {
        const WorldDescription description = parseWorld(readFile(path));
        for (const auto& b : description.buses) {
            const int number = addBus(b.bus);
            for (const CameraConfig& c : b.cameras)
                addCamera(number, c);
        }
        setPacing(description.pacing);
        for (const FaultTable::Fault& fault : description.faults)
            faults_.add(fault);
    } catch (const std::exception& e) {
        clear(); // refused whole: never a partly built world
        throw std::runtime_error("world file \"" + path + "\": " + e.what());
    }
}

std::string World::startupProblem() const
{
    std::lock_guard<std::mutex> lock(m_);
    return startupProblem_;
}

World::BusEntry* World::findBusLocked(int number)
{
    for (BusEntry& e : buses_) {
        if (e.bus->number() == number)
            return &e;
    }
    return nullptr;
}

const World::BusEntry* World::findBusLocked(int number) const
{
    return const_cast<World*>(this)->findBusLocked(number);
}

int World::addBus(const BusConfig& config)
{
    int number;
    {
        std::lock_guard<std::mutex> lock(m_);
        number = config.number;
        if (number < 0) {
            number = 0;
            for (const BusEntry& e : buses_)
                number = std::max(number, e.bus->number() + 1);
        } else if (findBusLocked(number)) {
            throw std::invalid_argument("bus " + std::to_string(number) + " already exists");
        }
        BusEntry entry{std::make_shared<Bus>(number, config), {}};
        const auto at = std::find_if(buses_.begin(), buses_.end(),
                                     [number](const BusEntry& e) { return e.bus->number() > number; });
        buses_.insert(at, std::move(entry));
    }
    publish({BusEvent{BusEvent::Kind::busReset, number}});
    return number;
}

void World::removeBus(int number)
{
    std::vector<std::shared_ptr<Camera>> unplugged;
    {
        std::lock_guard<std::mutex> lock(m_);
        const auto it = std::find_if(buses_.begin(), buses_.end(),
                                     [number](const BusEntry& e) { return e.bus->number() == number; });
        if (it == buses_.end())
            throw std::invalid_argument("no bus " + std::to_string(number));
        for (uint32_t serial : it->nodes) {
            for (const auto& c : cameras_) {
                if (c->serialNumber() == serial)
                    unplugged.push_back(c);
            }
        }
        buses_.erase(it);
    }
    std::vector<BusEvent> events;
    for (const auto& camera : unplugged) {
        camera->detach();
        events.push_back({BusEvent::Kind::removal, number, camera->serialNumber()});
    }
    publish(events);
}

void World::resetBus(int number)
{
    {
        std::lock_guard<std::mutex> lock(m_);
        if (!findBusLocked(number))
            throw std::invalid_argument("no bus " + std::to_string(number));
    }
    publish({BusEvent{BusEvent::Kind::busReset, number}});
}

std::shared_ptr<Camera> World::addCamera(int bus, const CameraConfig& config)
{
    std::shared_ptr<Camera> camera;
    {
        std::lock_guard<std::mutex> lock(m_);
        BusEntry* entry = findBusLocked(bus);
        if (!entry)
            throw std::invalid_argument("no bus " + std::to_string(bus));
        if (config.serialNumber == 0)
            throw std::invalid_argument("a camera needs a serial number");
        for (const auto& c : cameras_) {
            if (c->serialNumber() == config.serialNumber)
                throw std::invalid_argument("serial number " + std::to_string(config.serialNumber) +
                                            " in use");
        }
        camera = std::make_shared<Camera>(config);
        cameras_.push_back(camera);
        entry->nodes.push_back(config.serialNumber);
        camera->attach(entry->bus); // takes only the camera's lock
    }
    publish({{BusEvent::Kind::busReset, bus}, {BusEvent::Kind::arrival, bus, config.serialNumber}});
    return camera;
}

std::shared_ptr<Camera> World::addCamera(int bus, const std::string& model, uint32_t serialNumber)
{
    const auto config = modelConfig(model, serialNumber);
    if (!config)
        throw std::invalid_argument("unknown camera model \"" + model + "\"");
    return addCamera(bus, *config);
}

void World::unplugCamera(uint32_t serialNumber)
{
    std::shared_ptr<Camera> camera;
    int bus = -1;
    {
        std::lock_guard<std::mutex> lock(m_);
        for (BusEntry& e : buses_) {
            const auto it = std::find(e.nodes.begin(), e.nodes.end(), serialNumber);
            if (it != e.nodes.end()) {
                e.nodes.erase(it);
                bus = e.bus->number();
            }
        }
        for (const auto& c : cameras_) {
            if (c->serialNumber() == serialNumber)
                camera = c;
        }
    }
    if (!camera || bus < 0)
        throw std::invalid_argument("camera " + std::to_string(serialNumber) + " is not plugged in");
    camera->detach();
    publish({{BusEvent::Kind::busReset, bus}, {BusEvent::Kind::removal, bus, serialNumber}});
}

void World::plugCamera(uint32_t serialNumber, int bus)
{
    {
        std::lock_guard<std::mutex> lock(m_);
        BusEntry* entry = findBusLocked(bus);
        if (!entry)
            throw std::invalid_argument("no bus " + std::to_string(bus));
        std::shared_ptr<Camera> camera;
        for (const auto& c : cameras_) {
            if (c->serialNumber() == serialNumber)
                camera = c;
        }
        if (!camera)
            throw std::invalid_argument("no camera " + std::to_string(serialNumber));
        if (camera->isConnected())
            throw std::invalid_argument("camera " + std::to_string(serialNumber) + " is plugged in already");
        entry->nodes.push_back(serialNumber);
        camera->attach(entry->bus);
    }
    publish({{BusEvent::Kind::busReset, bus}, {BusEvent::Kind::arrival, bus, serialNumber}});
}

// --- queries ---------------------------------------------------------------------------

std::vector<std::shared_ptr<Camera>> World::connectedCameras() const
{
    std::lock_guard<std::mutex> lock(m_);
    std::vector<std::shared_ptr<Camera>> result;
    for (const BusEntry& e : buses_) {
        for (uint32_t serial : e.nodes) {
            for (const auto& c : cameras_) {
                if (c->serialNumber() == serial)
                    result.push_back(c);
            }
        }
    }
    return result;
}

std::shared_ptr<Camera> World::camera(uint32_t serialNumber) const
{
    std::lock_guard<std::mutex> lock(m_);
    for (const auto& c : cameras_) {
        if (c->serialNumber() == serialNumber)
            return c;
    }
    return nullptr;
}

std::shared_ptr<Bus> World::bus(int number) const
{
    std::lock_guard<std::mutex> lock(m_);
    const BusEntry* e = findBusLocked(number);
    return e ? e->bus : nullptr;
}

std::vector<std::shared_ptr<Bus>> World::buses() const
{
    std::lock_guard<std::mutex> lock(m_);
    std::vector<std::shared_ptr<Bus>> result;
    for (const BusEntry& e : buses_)
        result.push_back(e.bus);
    return result;
}

int World::nodeNumber(uint32_t serialNumber) const
{
    std::lock_guard<std::mutex> lock(m_);
    for (const BusEntry& e : buses_) {
        const auto it = std::find(e.nodes.begin(), e.nodes.end(), serialNumber);
        if (it != e.nodes.end())
            return static_cast<int>(it - e.nodes.begin());
    }
    return -1;
}

// --- stimuli -------------------------------------------------------------------------------

int World::fireExternalTrigger()
{
    const int64_t now = hostNowNs();
    int taken = 0;
    for (const auto& camera : connectedCameras()) {
        if (camera->externalTrigger(now))
            ++taken;
    }
    return taken;
}

void World::setPacing(Pacing pacing)
{
    std::lock_guard<std::mutex> lock(m_);
    pacing_ = pacing;
}

Pacing World::pacing() const
{
    std::lock_guard<std::mutex> lock(m_);
    return pacing_;
}

// --- events ----------------------------------------------------------------------------------

int World::subscribe(Listener listener)
{
    std::lock_guard<std::mutex> lock(listenersMutex_);
    const int id = nextListenerId_++;
    listeners_.emplace_back(id, std::move(listener));
    return id;
}

void World::unsubscribe(int id)
{
    std::lock_guard<std::mutex> lock(listenersMutex_);
    listeners_.erase(std::remove_if(listeners_.begin(), listeners_.end(),
                                    [id](const auto& entry) { return entry.first == id; }),
                     listeners_.end());
}

void World::publish(const std::vector<BusEvent>& events)
{
    // A reset may hand the cycle master role to another node: its clock jumps.
    for (const BusEvent& event : events) {
        if (event.kind == BusEvent::Kind::busReset) {
            if (const std::shared_ptr<Bus> reset = bus(event.bus))
                reset->clock().busReset();
        }
    }
    // Held while delivering, so that events from two threads are not
    // interleaved; listeners must only queue the events.
    std::lock_guard<std::mutex> lock(listenersMutex_);
    for (const BusEvent& event : events) {
        for (const auto& entry : listeners_)
            entry.second(event);
    }
}

} // namespace orvex::sim
