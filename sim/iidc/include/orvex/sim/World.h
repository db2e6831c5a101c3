// The simulated world: 1394 buses with cameras plugged into them, the
// external trigger line wired to every camera's trigger input, injected
// faults, and the bus events (arrival, removal, reset) that the simulated
// SDK and driver turn into their own notifications.
//
// One process-wide instance (World::instance()) lives in the orvex_sim_iidc
// shared library, so that a test and the simulated SDK it loads see the
// same world. At first use it holds the world described by the file named
// in the environment variable ORVEX_SIM_WORLD (see docs/simulator.md), or
// the built-in default world: bus 0 with a "Grasshopper GRAS-20S4M" and a
// "Grasshopper GRAS-50S5M", bus 1 with a "Flea2 FL2G-50S5M", bus 1's clock
// drifting 30 ppm against bus 0's.
//
// Threads: every member may be called from any thread. The world's mutex
// guards its lists; it is never held while calling a camera or a listener.
// Listeners are called on the thread that changed the world, in the order of
// the changes.
#pragma once

#include <orvex/sim/Bus.h>
#include <orvex/sim/Camera.h>
#include <orvex/sim/CameraConfig.h>
#include <orvex/sim/Faults.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace orvex::sim {

constexpr const char* kWorldFileVariable = "ORVEX_SIM_WORLD";

struct BusEvent {
    enum class Kind {
        busReset, // a bus was reset (every plug, unplug and explicit reset)
        arrival,  // a camera joined a bus
        removal,  // a camera left a bus
        cleared,  // the whole world was emptied (no per-camera events)
    };
    Kind kind;
    int bus = -1;
    uint32_t serialNumber = 0;
};

class World {
public:
    using Listener = std::function<void(const BusEvent&)>;

    static World& instance();

    // --- building ------------------------------------------------------------------
    // Stops every stream, unplugs every camera and forgets every bus, fault
    // and setting; listeners hear one `cleared` event. Cameras still held by
    // a receiver stay alive, disconnected.
    void clear();
    // clear(), then the built-in default world.
    void loadDefault();
    // clear(), then the world described by a JSON file. Throws
    // std::runtime_error (with the file name and the reason) on a file that
    // cannot be read or is malformed, or that names a bus number twice; the
    // world is then empty.
    void loadFile(const std::string& path);
    // Why the file named by ORVEX_SIM_WORLD could not be loaded when the
    // world was first used (the world then started empty); "" when it was
    // loaded or none was named.
    std::string startupProblem() const;

    // Adds a bus (announced with a bus reset) and returns its number.
    int addBus(const BusConfig& config = BusConfig{});
    // Unplugs every camera of the bus (removals), then drops the bus.
    void removeBus(int bus);
    // A bus reset without any change (listeners hear `busReset`).
    void resetBus(int bus);
    // Creates a camera and plugs it into a bus (bus reset, then arrival).
    // Throws std::invalid_argument for an unknown bus or a serial number in use.
    std::shared_ptr<Camera> addCamera(int bus, const CameraConfig& config);
    // A camera of a known model (CameraConfig.h) with default capabilities.
    std::shared_ptr<Camera> addCamera(int bus, const std::string& model, uint32_t serialNumber);
    // Unplugs a camera (bus reset, then removal); the camera keeps existing
    // and can be plugged again, into any bus.
    void unplugCamera(uint32_t serialNumber);
    void plugCamera(uint32_t serialNumber, int bus);

    // --- queries -----------------------------------------------------------------------
    // Connected cameras in enumeration order: by bus number, then plug order.
    std::vector<std::shared_ptr<Camera>> connectedCameras() const;
    std::shared_ptr<Camera> camera(uint32_t serialNumber) const; // plugged or not; null if unknown
    std::shared_ptr<Bus> bus(int number) const;
    std::vector<std::shared_ptr<Bus>> buses() const;
    // Node number of a connected camera on its bus, -1 if unplugged.
    int nodeNumber(uint32_t serialNumber) const;

    // --- stimuli ---------------------------------------------------------------------------
    // Fires the external trigger line: every camera whose trigger is on
    // (source 0) takes the trigger at the same host instant. Returns how many
    // took it.
    int fireExternalTrigger();
    // Sets the level of the external trigger line (it starts low): every
    // connected camera sees the edge at the same host instant
    // (Camera::setTriggerInput). Returns how many took an active edge.
    int setTriggerLine(bool high);
    // A broadcast register write on a bus: one unacknowledged request that
    // every camera of the bus acts on at the same instant, after the
    // request's half of a transaction time. Throws std::invalid_argument for
    // an unknown bus.
    void broadcastWrite(int bus, uint32_t address, uint32_t value);
    // How cameras started from now on produce images (default frameRate).
    void setPacing(Pacing pacing);
    Pacing pacing() const;
    FaultTable& faults() { return _faults; }

    // --- events --------------------------------------------------------------------------------
    int subscribe(Listener listener);
    void unsubscribe(int id);

private:
    World();
    ~World();

    struct BusEntry {
        std::shared_ptr<Bus> bus;
        std::vector<uint32_t> nodes; // serial numbers in plug order
    };
    BusEntry* findBusLocked(int number);
    const BusEntry* findBusLocked(int number) const;
    void publish(const std::vector<BusEvent>& events);

    mutable std::mutex _m;
    std::vector<BusEntry> _buses; // by bus number
    std::vector<std::shared_ptr<Camera>> _cameras;
    Pacing _pacing = Pacing::frameRate;
    std::string _startupProblem;
    FaultTable _faults;

    std::mutex _listenersMutex; // also orders the delivery of events
    std::vector<std::pair<int, Listener>> _listeners;
    int _nextListenerId = 1;
};

// Parses a world description (JSON text) into bus and camera configurations.
// Throws std::runtime_error on malformed input. Used by World::loadFile;
// exposed for tests.
struct WorldDescription {
    Pacing pacing = Pacing::frameRate;
    struct BusDescription {
        BusConfig bus;
        std::vector<CameraConfig> cameras;
    };
    std::vector<BusDescription> buses;
    // For the world's fault table, in the file's order.
    std::vector<FaultTable::Fault> faults;
};
WorldDescription parseWorld(const std::string& jsonText);
WorldDescription defaultWorld();

} // namespace orvex::sim
