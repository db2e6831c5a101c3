// World descriptions: the built-in default world and the JSON world file
// (format in docs/simulator.md), read with Boost.PropertyTree.
#include <orvex/sim/World.h>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <set>
#include <sstream>
#include <stdexcept>

namespace orvex::sim {

namespace pt = boost::property_tree;

namespace {

constexpr double kDefaultLatencyUs = 8.0;
constexpr double kDefaultJitterUs = 2.0;

void requireKnownKeys(const pt::ptree& node, const std::set<std::string>& known, const std::string& where)
{
    for (const auto& child : node) {
        if (!known.count(child.first))
            throw std::runtime_error("unknown key \"" + child.first + "\" in " + where);
    }
}

uint64_t parseUnsigned(const std::string& text, const std::string& what)
{
    try {
        size_t used = 0;
        const unsigned long long value = std::stoull(text, &used, 0);
        if (used != text.size())
            throw std::invalid_argument(text);
        return value;
    } catch (const std::exception&) {
        throw std::runtime_error("\"" + text + "\" is not an unsigned number (" + what + ")");
    }
}

double parseDouble(const std::string& text, const std::string& what)
{
    try {
        size_t used = 0;
        const double value = std::stod(text, &used);
        if (used != text.size())
            throw std::invalid_argument(text);
        return value;
    } catch (const std::exception&) {
        throw std::runtime_error("\"" + text + "\" is not a number (" + what + ")");
    }
}

bool parseBool(const std::string& text, const std::string& what)
{
    if (text == "true")
        return true;
    if (text == "false")
        return false;
    throw std::runtime_error("\"" + text + "\" is not true or false (" + what + ")");
}

uint32_t u32(const pt::ptree& node, const std::string& key, uint32_t fallback)
{
    const auto child = node.get_child_optional(key);
    if (!child)
        return fallback;
    const uint64_t value = parseUnsigned(child->data(), key);
    if (value > 0xFFFFFFFFull)
        throw std::runtime_error(key + " does not fit in 32 bits");
    return static_cast<uint32_t>(value);
}

double f64(const pt::ptree& node, const std::string& key, double fallback)
{
    const auto child = node.get_child_optional(key);
    return child ? parseDouble(child->data(), key) : fallback;
}

bool flag(const pt::ptree& node, const std::string& key, bool fallback)
{
    const auto child = node.get_child_optional(key);
    return child ? parseBool(child->data(), key) : fallback;
}

CameraConfig parseCamera(const pt::ptree& node, const std::string& where)
{
    requireKnownKeys(
        node, {"model",           "like",         "serial",          "vendor",          "sensorWidth",
               "sensorHeight",    "maxFrameRate", "maxBusSpeed",     "firmwareVersion", "extendedVersion",
               "mono16",          "trigger",      "softwareTrigger", "triggerModes",    "strobePins",
               "frameInfoItems",  "userMemoryE1", "userMemoryE2",    "smartFeatures",   "temperatureCelsius",
               "shutterTimeBase", "registers"},
        where);
    const std::string model = node.get<std::string>("model", "");
    const std::string like = node.get<std::string>("like", model);
    if (model.empty())
        throw std::runtime_error("missing \"model\" in " + where);
    const auto serial = node.get_child_optional("serial");
    if (!serial)
        throw std::runtime_error("missing \"serial\" in " + where);
    auto preset = modelConfig(like, u32(node, "serial", 0));
    if (!preset)
        throw std::runtime_error("unknown camera model \"" + like + "\" in " + where +
                                 " (give a known model in \"like\")");
    CameraConfig c = *preset;
    c.modelName = model;
    c.vendorName = node.get<std::string>("vendor", c.vendorName);
    c.sensorWidth = u32(node, "sensorWidth", c.sensorWidth);
    c.sensorHeight = u32(node, "sensorHeight", c.sensorHeight);
    c.maxFrameRate = f64(node, "maxFrameRate", c.maxFrameRate);
    c.maxBusSpeed = u32(node, "maxBusSpeed", c.maxBusSpeed);
    c.firmwareVersion = u32(node, "firmwareVersion", c.firmwareVersion);
    c.extendedVersion = node.get<std::string>("extendedVersion", c.extendedVersion);
    c.mono16 = flag(node, "mono16", c.mono16);
    c.trigger = flag(node, "trigger", c.trigger);
    c.softwareTrigger = flag(node, "softwareTrigger", c.softwareTrigger);
    c.triggerModes = u32(node, "triggerModes", c.triggerModes);
    c.strobePins = u32(node, "strobePins", c.strobePins);
    c.frameInfoItems = u32(node, "frameInfoItems", c.frameInfoItems);
    c.userMemoryE1 = u32(node, "userMemoryE1", c.userMemoryE1);
    c.userMemoryE2 = u32(node, "userMemoryE2", c.userMemoryE2);
    c.smartFeatures = flag(node, "smartFeatures", c.smartFeatures);
    c.temperatureCelsius = f64(node, "temperatureCelsius", c.temperatureCelsius);
    c.shutterTimeBase = f64(node, "shutterTimeBase", c.shutterTimeBase);
    c.frameRate.defaultRaw = static_cast<uint32_t>(c.maxFrameRate * 16.0);
    if (const auto registers = node.get_child_optional("registers")) {
        for (const auto& r : *registers) {
            const uint64_t address = parseUnsigned(r.first, "register address");
            const uint64_t value = parseUnsigned(r.second.data(), "register " + r.first);
            if (address > 0xFFFFFFFFull || value > 0xFFFFFFFFull)
                throw std::runtime_error("register " + r.first + " does not fit in 32 bits");
            c.registerOverrides[static_cast<uint32_t>(address)] = static_cast<uint32_t>(value);
        }
    }
    if (c.sensorWidth == 0 || c.sensorHeight == 0 || c.maxFrameRate <= 0.0)
        throw std::runtime_error("sensor size and frame rate must be positive in " + where);
    if (c.userMemoryE1 + c.userMemoryE2 > 24)
        throw std::runtime_error("user memory larger than 16 MiB in " + where);
    return c;
}

BusConfig parseBus(const pt::ptree& node, const std::string& where)
{
    requireKnownKeys(node,
                     {"number", "speed", "clockSeconds", "driftPpm", "readLatencyUs", "readJitterUs",
                      "spikeProbability", "spikeUs", "isoBandwidth", "cameras"},
                     where);
    BusConfig b;
    if (node.get_child_optional("number"))
        b.number = static_cast<int>(u32(node, "number", 0));
    b.speed = u32(node, "speed", b.speed);
    if (b.speed != 400 && b.speed != 800)
        throw std::runtime_error("speed must be 400 or 800 in " + where);
    b.clockSeconds = f64(node, "clockSeconds", b.clockSeconds);
    if (b.clockSeconds < 0.0)
        throw std::runtime_error("clockSeconds must not be negative in " + where);
    b.driftPpm = f64(node, "driftPpm", b.driftPpm);
    b.timing.latencyNs = static_cast<int64_t>(f64(node, "readLatencyUs", kDefaultLatencyUs) * 1000.0);
    b.timing.jitterNs = static_cast<int64_t>(f64(node, "readJitterUs", kDefaultJitterUs) * 1000.0);
    b.timing.spikeProbability = f64(node, "spikeProbability", 0.0);
    b.timing.spikeNs = static_cast<int64_t>(f64(node, "spikeUs", 0.0) * 1000.0);
    b.isoBandwidth = u32(node, "isoBandwidth", 0);
    return b;
}

} // namespace

WorldDescription parseWorld(const std::string& jsonText)
{
    pt::ptree root;
    try {
        std::istringstream in(jsonText);
        pt::read_json(in, root);
    } catch (const pt::json_parser_error& e) {
        std::ostringstream message;
        message << "line " << e.line() << ": " << e.message();
        throw std::runtime_error(message.str());
    }
    requireKnownKeys(root, {"pacing", "buses"}, "the world");
    WorldDescription world;
    const std::string pacing = root.get<std::string>("pacing", "frameRate");
    if (pacing == "frameRate")
        world.pacing = Pacing::frameRate;
    else if (pacing == "unpaced")
        world.pacing = Pacing::unpaced;
    else
        throw std::runtime_error("pacing must be \"frameRate\" or \"unpaced\"");

    std::set<uint32_t> serials;
    std::set<int> busNumbers;
    int busIndex = 0;
    // get_child with a default returns a reference to that default: it must
    // outlive the loops.
    const pt::ptree none;
    for (const auto& busNode : root.get_child("buses", none)) {
        const std::string where = "bus #" + std::to_string(busIndex++);
        WorldDescription::BusDescription bus;
        bus.bus = parseBus(busNode.second, where);
        // A bus without a number takes the next free one, as World::addBus does.
        if (bus.bus.number < 0)
            bus.bus.number = busNumbers.empty() ? 0 : *busNumbers.rbegin() + 1;
        if (!busNumbers.insert(bus.bus.number).second)
            throw std::runtime_error("bus number " + std::to_string(bus.bus.number) + " repeated in " +
                                     where);
        int cameraIndex = 0;
        for (const auto& cameraNode : busNode.second.get_child("cameras", none)) {
            const std::string cameraWhere = "camera #" + std::to_string(cameraIndex++) + " of " + where;
            CameraConfig camera = parseCamera(cameraNode.second, cameraWhere);
            if (camera.serialNumber == 0 || !serials.insert(camera.serialNumber).second)
                throw std::runtime_error("serial number missing, zero or repeated in " + cameraWhere);
            bus.cameras.push_back(std::move(camera));
        }
        world.buses.push_back(std::move(bus));
    }
    return world;
}

WorldDescription defaultWorld()
{
    WorldDescription world;
    TransactionTiming timing;
    timing.latencyNs = static_cast<int64_t>(kDefaultLatencyUs * 1000.0);
    timing.jitterNs = static_cast<int64_t>(kDefaultJitterUs * 1000.0);

    WorldDescription::BusDescription bus0;
    bus0.bus.number = 0;
    bus0.bus.clockSeconds = 17.25;
    bus0.bus.timing = timing;
    bus0.cameras.push_back(*modelConfig("Grasshopper GRAS-20S4M", 7240101));
    bus0.cameras.push_back(*modelConfig("Grasshopper GRAS-50S5M", 8120202));

    WorldDescription::BusDescription bus1;
    bus1.bus.number = 1;
    bus1.bus.clockSeconds = 93.5;
    bus1.bus.driftPpm = 30.0;
    bus1.bus.timing = timing;
    bus1.cameras.push_back(*modelConfig("Flea2 FL2G-50S5M", 9050303));

    // The BCAM driver's cameras, on a bus of their own.
    WorldDescription::BusDescription bus2;
    bus2.bus.number = 2;
    bus2.bus.speed = 400;
    bus2.bus.clockSeconds = 41.0;
    bus2.bus.driftPpm = -20.0;
    bus2.bus.timing = timing;
    bus2.cameras.push_back(*modelConfig("A102f", 20110404));
    bus2.cameras.push_back(*modelConfig("A312f", 20120505));

    world.buses.push_back(std::move(bus0));
    world.buses.push_back(std::move(bus1));
    world.buses.push_back(std::move(bus2));
    return world;
}

} // namespace orvex::sim
