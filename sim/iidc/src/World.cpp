// The simulated world: its buses and cameras, the trigger line, the
// faults, and the bus events the simulated stacks turn into notifications.
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
            _startupProblem = e.what();
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
        std::lock_guard<std::mutex> lock(_m);
        cameras.swap(_cameras);
        _buses.clear();
    }
    for (const auto& camera : cameras)
        camera->detach();
}

// --- building -----------------------------------------------------------------------

void World::clear()
{
    std::vector<std::shared_ptr<Camera>> cameras;
    {
        std::lock_guard<std::mutex> lock(_m);
        cameras.swap(_cameras);
        _buses.clear();
        _pacing = Pacing::frameRate;
    }
    _faults.clear();
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
            _faults.add(fault);
    } catch (const std::exception& e) {
        clear(); // refused whole: never a partly built world
        throw std::runtime_error("world file \"" + path + "\": " + e.what());
    }
}

std::string World::startupProblem() const
{
    std::lock_guard<std::mutex> lock(_m);
    return _startupProblem;
}

World::BusEntry* World::findBusLocked(int number)
{
    for (BusEntry& e : _buses) {
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
        std::lock_guard<std::mutex> lock(_m);
        number = config.number;
        if (number < 0) {
            number = 0;
            for (const BusEntry& e : _buses)
                number = std::max(number, e.bus->number() + 1);
        } else if (findBusLocked(number)) {
            throw std::invalid_argument("bus " + std::to_string(number) + " already exists");
        }
        BusEntry entry{std::make_shared<Bus>(number, config), {}};
        const auto at = std::find_if(_buses.begin(), _buses.end(),
                                     [number](const BusEntry& e) { return e.bus->number() > number; });
        _buses.insert(at, std::move(entry));
    }
    publish({BusEvent{BusEvent::Kind::busReset, number}});
    return number;
}

void World::removeBus(int number)
{
    std::vector<std::shared_ptr<Camera>> unplugged;
    {
        std::lock_guard<std::mutex> lock(_m);
        const auto it = std::find_if(_buses.begin(), _buses.end(),
                                     [number](const BusEntry& e) { return e.bus->number() == number; });
        if (it == _buses.end())
            throw std::invalid_argument("no bus " + std::to_string(number));
        for (uint32_t serial : it->nodes) {
            for (const auto& c : _cameras) {
                if (c->serialNumber() == serial)
                    unplugged.push_back(c);
            }
        }
        _buses.erase(it);
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
        std::lock_guard<std::mutex> lock(_m);
        if (!findBusLocked(number))
            throw std::invalid_argument("no bus " + std::to_string(number));
    }
    publish({BusEvent{BusEvent::Kind::busReset, number}});
}

std::shared_ptr<Camera> World::addCamera(int bus, const CameraConfig& config)
{
    std::shared_ptr<Camera> camera;
    {
        std::lock_guard<std::mutex> lock(_m);
        BusEntry* entry = findBusLocked(bus);
        if (!entry)
            throw std::invalid_argument("no bus " + std::to_string(bus));
        if (config.serialNumber == 0)
            throw std::invalid_argument("a camera needs a serial number");
        for (const auto& c : _cameras) {
            if (c->serialNumber() == config.serialNumber)
                throw std::invalid_argument("serial number " + std::to_string(config.serialNumber) +
                                            " in use");
        }
        camera = std::make_shared<Camera>(config);
        _cameras.push_back(camera);
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
        std::lock_guard<std::mutex> lock(_m);
        for (BusEntry& e : _buses) {
            const auto it = std::find(e.nodes.begin(), e.nodes.end(), serialNumber);
            if (it != e.nodes.end()) {
                e.nodes.erase(it);
                bus = e.bus->number();
            }
        }
        for (const auto& c : _cameras) {
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
        std::lock_guard<std::mutex> lock(_m);
        BusEntry* entry = findBusLocked(bus);
        if (!entry)
            throw std::invalid_argument("no bus " + std::to_string(bus));
        std::shared_ptr<Camera> camera;
        for (const auto& c : _cameras) {
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
    std::lock_guard<std::mutex> lock(_m);
    std::vector<std::shared_ptr<Camera>> result;
    for (const BusEntry& e : _buses) {
        for (uint32_t serial : e.nodes) {
            for (const auto& c : _cameras) {
                if (c->serialNumber() == serial)
                    result.push_back(c);
            }
        }
    }
    return result;
}

std::shared_ptr<Camera> World::camera(uint32_t serialNumber) const
{
    std::lock_guard<std::mutex> lock(_m);
    for (const auto& c : _cameras) {
        if (c->serialNumber() == serialNumber)
            return c;
    }
    return nullptr;
}

std::shared_ptr<Bus> World::bus(int number) const
{
    std::lock_guard<std::mutex> lock(_m);
    const BusEntry* e = findBusLocked(number);
    return e ? e->bus : nullptr;
}

std::vector<std::shared_ptr<Bus>> World::buses() const
{
    std::lock_guard<std::mutex> lock(_m);
    std::vector<std::shared_ptr<Bus>> result;
    for (const BusEntry& e : _buses)
        result.push_back(e.bus);
    return result;
}

int World::nodeNumber(uint32_t serialNumber) const
{
    std::lock_guard<std::mutex> lock(_m);
    for (const BusEntry& e : _buses) {
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
    std::lock_guard<std::mutex> lock(_m);
    _pacing = pacing;
}

Pacing World::pacing() const
{
    std::lock_guard<std::mutex> lock(_m);
    return _pacing;
}

// --- events ----------------------------------------------------------------------------------

int World::subscribe(Listener listener)
{
    std::lock_guard<std::mutex> lock(_listenersMutex);
    const int id = _nextListenerId++;
    _listeners.emplace_back(id, std::move(listener));
    return id;
}

void World::unsubscribe(int id)
{
    std::lock_guard<std::mutex> lock(_listenersMutex);
    _listeners.erase(std::remove_if(_listeners.begin(), _listeners.end(),
                                    [id](const auto& entry) { return entry.first == id; }),
                     _listeners.end());
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
    std::lock_guard<std::mutex> lock(_listenersMutex);
    for (const BusEvent& event : events) {
        for (const auto& entry : _listeners)
            entry.second(event);
    }
}

} // namespace orvex::sim
