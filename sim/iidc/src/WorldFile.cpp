// World descriptions: the built-in default world and the JSON world file
// (format in docs/simulator.md), read with Boost.PropertyTree.
#include <orvex/sim/World.h>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <iomanip>
#include <limits>
#include <set>
#include <sstream>
#include <stdexcept>

namespace orvex::sim {

namespace pt = boost::property_tree;

namespace {

constexpr double kDefaultLatencyUs = 8.0;
constexpr double kDefaultJitterUs = 2.0;
constexpr double kRawValueMax = 4095.0; // feature values are 12-bit
// The frame-rate register holds the rate in sixteenths of a frame per second.
constexpr double kMaxFrameRate = kRawValueMax / 16.0;
// A bus transaction slower than a second is no bus; the bound also keeps the
// nanosecond counts far inside int64_t.
constexpr double kMaxTransactionUs = 1e6;
constexpr uint32_t kMaxUserMemoryExponent = 24; // 16 MiB
constexpr uint32_t kMaxSensorSide = 0xFFFF;
// A frame is allocated whole, several times over: 16 Mi pixels (4096 x 4096)
// is a large machine-vision sensor and keeps a 16-bit frame at 32 MiB.
constexpr uint64_t kMaxSensorPixels = 4096ull * 4096ull;
// The size and position steps are 16-bit register fields; the packet step
// cannot exceed the largest isochronous packet (S800).
constexpr uint32_t kMaxUnit = 0xFFFF;
constexpr uint32_t kMaxPacketUnit = 8192;
// BUS_TIME counts seconds in 32 bits.
constexpr double kMaxClockSeconds = 4294967295.0;
// IEEE 1394 allows a cycle master 100 ppm; ten times that is a broken
// crystal, still a clock. Far beyond, the tick arithmetic overflows.
constexpr double kMaxDriftPpm = 1000.0;
// A wander far beyond any crystal's; a clock event (a step, a swing's
// period) at most a year away; a step of less than one register wrap.
constexpr double kMaxWanderPpmPerSqrtMinute = 100.0;
constexpr double kMaxClockEventSeconds = 365.0 * 86400.0;
constexpr double kMaxStepTicks = 3145727999.0;
// The temperature register holds tenths of a kelvin in 12 bits.
constexpr double kMinCelsius = -273.15;
constexpr double kMaxCelsius = (4095.0 - 2731.5) / 10.0;
// Seconds per raw shutter step: a nanosecond to a second.
constexpr double kMinTimeBase = 1e-9;
constexpr double kMaxTimeBase = 1.0;
// Absolute values are 32-bit floats in the camera; far inside their range.
constexpr double kMaxAbsolute = 1e9;
constexpr double kMinAbsoluteStep = 1e-9;
// Isochronous bytes per cycle: at most what S3200 carries (4 x 9830).
constexpr uint32_t kMaxIsoBandwidth = 39320;
// Trigger modes 0..15 and GPIO pins 0..3 are what the registers describe.
constexpr uint32_t kMaxTriggerModes = 0xFFFF;
constexpr uint32_t kMaxStrobePins = 0xF;
// A world file is typed by hand or written by a script: a few kilobytes.
// Its structure is six levels deep; the reader recurses once per level.
constexpr std::size_t kMaxNesting = 16;
// An injected stall longer than an hour is a hang, which a test can have
// without the simulator's help; the bound keeps nanoseconds inside int64_t.
constexpr double kMaxStallUs = 3600e6;
constexpr const char* kAnyInFile = "any";

// Unknown keys and keys given twice are refused: the reader keeps both
// copies of a repeated key and would use the first silently.
void requireKnownKeys(const pt::ptree& node, const std::set<std::string>& known, const std::string& where)
{
    std::set<std::string> seen;
    for (const auto& child : node) {
        if (!known.count(child.first))
            throw std::runtime_error("unknown key \"" + child.first + "\" in " + where);
        if (!seen.insert(child.first).second)
            throw std::runtime_error("key \"" + child.first + "\" repeated in " + where);
    }
}

// A list in the file: either absent, empty ("[]" reads as an empty node) or
// made of unnamed entries; an object or a single value is not a list.
const pt::ptree& listOf(const pt::ptree& node, const std::string& key, const pt::ptree& none,
                        const std::string& where)
{
    const pt::ptree& list = node.get_child(key, none);
    const bool named = std::any_of(list.begin(), list.end(), [](const auto& c) { return !c.first.empty(); });
    if (named || (list.empty() && !list.data().empty()))
        throw std::runtime_error(key + " must be a list in " + where);
    return list;
}

// The deepest nesting of objects and arrays, found without recursion so
// that no text can exhaust the stack: the reader recurses per level.
void requireShallow(const std::string& text)
{
    std::size_t depth = 0;
    std::size_t line = 1;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n')
            ++line;
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            if (++depth > kMaxNesting)
                throw std::runtime_error("line " + std::to_string(line) + ": nested deeper than " +
                                         std::to_string(kMaxNesting) + " levels");
        } else if ((c == '}' || c == ']') && depth > 0) {
            --depth;
        }
    }
}

std::string rangeText(double low, double high)
{
    std::ostringstream text;
    text << std::setprecision(12) << low << " to " << high;
    return text.str();
}

[[noreturn]] void outOfRange(const std::string& key, double value, double low, double high,
                             const std::string& where)
{
    std::ostringstream message;
    message << key << " " << std::setprecision(12) << value << " is outside " << rangeText(low, high)
            << " in " << where;
    throw std::runtime_error(message.str());
}

uint64_t parseUnsigned(const std::string& text, const std::string& what)
{
    try {
        // stoull skips blanks and negates a leading minus, so that "-1"
        // would wrap to the largest value: only digits may start a number.
        if (text.empty() || !std::isdigit(static_cast<unsigned char>(text.front())))
            throw std::invalid_argument(text);
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
        // stod takes "inf" and "nan", which no setting of the world means.
        if (used != text.size() || !std::isfinite(value))
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

// A number the camera or bus can hold: `low` to `high`, else a refusal
// naming the key and the range.
double ranged(const pt::ptree& node, const std::string& key, double fallback, double low, double high,
              const std::string& where)
{
    const double value = f64(node, key, fallback);
    if (value < low || value > high)
        outOfRange(key, value, low, high, where);
    return value;
}

uint32_t rangedU32(const pt::ptree& node, const std::string& key, uint32_t fallback, uint32_t low,
                   uint32_t high, const std::string& where)
{
    const uint32_t value = u32(node, key, fallback);
    if (value < low || value > high)
        outOfRange(key, value, low, high, where);
    return value;
}

// A time in microseconds, 0 to `maxUs`, as nanoseconds.
int64_t nanoseconds(const pt::ptree& node, const std::string& key, double fallbackUs,
                    const std::string& where, double maxUs = kMaxTransactionUs)
{
    const double us = f64(node, key, fallbackUs);
    if (us < 0.0 || us > maxUs) {
        std::ostringstream message;
        message << key << " must be 0 to " << std::fixed << std::setprecision(0) << maxUs << " in " << where;
        throw std::runtime_error(message.str());
    }
    return static_cast<int64_t>(us * 1000.0);
}

// The property's absolute value at a raw value, and the raw value (exact,
// not rounded) of an absolute one. The shutter's absolute value is the raw
// value times the time base, in milliseconds.
double absoluteOf(const PropertyCaps& p, bool isShutter, double timeBase, double raw)
{
    return isShutter ? raw * timeBase * 1000.0 : p.absAtRawMin + (raw - p.rawMin) * p.absStep;
}

// The raw value of `value` when it lies on a raw step of 0..4095, else a
// refusal naming the property and the step.
uint32_t rawOf(const PropertyCaps& p, bool isShutter, double timeBase, double value, const std::string& what)
{
    const double step = isShutter ? timeBase * 1000.0 : p.absStep;
    const double raw = isShutter ? value / step : p.rawMin + (value - p.absAtRawMin) / step;
    const double whole = std::round(raw);
    if (!(std::fabs(raw - whole) < 1e-6) || whole < 0.0 || whole > kRawValueMax) {
        std::ostringstream message;
        message << what << " " << value << " is not a whole number of steps of " << step
                << " from 0 to 4095 steps";
        throw std::runtime_error(message.str());
    }
    return static_cast<uint32_t>(whole);
}

// A property's keys: presence, absolute control and automatic mode, the
// range and default in absolute units (milliseconds for the shutter, whose
// step is the time base; the others keep their raw minimum and take "step").
void parseProperty(const pt::ptree& node, PropertyCaps& p, bool isShutter, double timeBase,
                   const std::string& where)
{
    requireKnownKeys(node, {"present", "absolute", "auto", "min", "max", "step", "default"}, where);
    p.present = flag(node, "present", p.present);
    p.absolute = flag(node, "absolute", p.absolute);
    p.autoMode = flag(node, "auto", p.autoMode);
    const double defaultValue = ranged(node, "default", absoluteOf(p, isShutter, timeBase, p.defaultRaw),
                                       -kMaxAbsolute, kMaxAbsolute, where);
    const double maxValue =
        ranged(node, "max", absoluteOf(p, isShutter, timeBase, p.rawMax), -kMaxAbsolute, kMaxAbsolute, where);
    if (!isShutter) {
        p.absStep = ranged(node, "step", p.absStep, kMinAbsoluteStep, kMaxAbsolute, where);
        p.absAtRawMin = ranged(node, "min", p.absAtRawMin, -kMaxAbsolute, kMaxAbsolute, where);
    } else if (node.get_child_optional("step")) {
        throw std::runtime_error("the shutter's step is the camera's shutterTimeBase, in " + where);
    } else {
        p.rawMin = rawOf(
            p, true, timeBase,
            ranged(node, "min", absoluteOf(p, true, timeBase, p.rawMin), -kMaxAbsolute, kMaxAbsolute, where),
            "min of " + where);
    }
    p.rawMax = rawOf(p, isShutter, timeBase, maxValue, "max of " + where);
    if (p.rawMax < p.rawMin)
        throw std::runtime_error("max below min in " + where);
    // A default the new range no longer holds is pulled into it.
    const double clamped = std::min(std::max(defaultValue, absoluteOf(p, isShutter, timeBase, p.rawMin)),
                                    absoluteOf(p, isShutter, timeBase, p.rawMax));
    if (node.get_child_optional("default") && clamped != defaultValue)
        throw std::runtime_error("default outside min..max in " + where);
    p.defaultRaw = static_cast<uint32_t>(std::llround(
        isShutter ? clamped / (timeBase * 1000.0) : p.rawMin + (clamped - p.absAtRawMin) / p.absStep));
}

// A step or unit the camera divides by: 0 is refused.
uint32_t positive(const pt::ptree& node, const std::string& key, uint32_t fallback, const std::string& where)
{
    const uint32_t value = u32(node, key, fallback);
    if (value == 0)
        throw std::runtime_error(key + " must be at least 1 in " + where);
    return value;
}

CameraConfig parseCamera(const pt::ptree& node, const std::string& where)
{
    requireKnownKeys(
        node, {"model",           "like",         "serial",          "vendor",          "sensorWidth",
               "sensorHeight",    "maxFrameRate", "maxBusSpeed",     "firmwareVersion", "extendedVersion",
               "mono16",          "trigger",      "softwareTrigger", "triggerModes",    "strobePins",
               "frameInfoItems",  "userMemoryE1", "userMemoryE2",    "smartFeatures",   "temperatureCelsius",
               "shutterTimeBase", "registers",    "unitWidth",       "unitHeight",      "unitLeft",
               "unitTop",         "packetUnit",   "maxRoiFrameRate", "brightness",      "autoExposure",
               "shutter",         "gain",         "frameRate"},
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
    if (c.maxBusSpeed != 400 && c.maxBusSpeed != 800)
        throw std::runtime_error("maxBusSpeed must be 400 or 800 in " + where);
    c.firmwareVersion = u32(node, "firmwareVersion", c.firmwareVersion);
    c.extendedVersion = node.get<std::string>("extendedVersion", c.extendedVersion);
    c.mono16 = flag(node, "mono16", c.mono16);
    c.trigger = flag(node, "trigger", c.trigger);
    c.softwareTrigger = flag(node, "softwareTrigger", c.softwareTrigger);
    c.triggerModes = rangedU32(node, "triggerModes", c.triggerModes, 0, kMaxTriggerModes, where);
    c.strobePins = rangedU32(node, "strobePins", c.strobePins, 0, kMaxStrobePins, where);
    c.frameInfoItems = u32(node, "frameInfoItems", c.frameInfoItems);
    c.userMemoryE1 = u32(node, "userMemoryE1", c.userMemoryE1);
    c.userMemoryE2 = u32(node, "userMemoryE2", c.userMemoryE2);
    c.smartFeatures = flag(node, "smartFeatures", c.smartFeatures);
    c.temperatureCelsius =
        ranged(node, "temperatureCelsius", c.temperatureCelsius, kMinCelsius, kMaxCelsius, where);
    c.shutterTimeBase = ranged(node, "shutterTimeBase", c.shutterTimeBase, kMinTimeBase, kMaxTimeBase, where);
    if (!(c.maxFrameRate > 0.0 && c.maxFrameRate <= kMaxFrameRate))
        throw std::runtime_error("maxFrameRate must be above 0 and at most 255.9375 in " + where);
    c.frameRate.defaultRaw = static_cast<uint32_t>(c.maxFrameRate * 16.0);
    c.unitWidth = positive(node, "unitWidth", c.unitWidth, where);
    c.unitHeight = positive(node, "unitHeight", c.unitHeight, where);
    c.unitLeft = positive(node, "unitLeft", c.unitLeft, where);
    c.unitTop = positive(node, "unitTop", c.unitTop, where);
    c.packetUnit = positive(node, "packetUnit", c.packetUnit, where);
    for (const auto& [key, unit] :
         {std::pair{"unitWidth", c.unitWidth}, std::pair{"unitHeight", c.unitHeight},
          std::pair{"unitLeft", c.unitLeft}, std::pair{"unitTop", c.unitTop}}) {
        if (unit > kMaxUnit)
            outOfRange(key, unit, 1, kMaxUnit, where);
    }
    if (c.packetUnit > kMaxPacketUnit)
        outOfRange("packetUnit", c.packetUnit, 1, kMaxPacketUnit, where);
    c.maxRoiFrameRate = f64(node, "maxRoiFrameRate", c.maxRoiFrameRate);
    if (!(c.maxRoiFrameRate > 0.0 && c.maxRoiFrameRate <= kMaxFrameRate))
        throw std::runtime_error("maxRoiFrameRate must be above 0 and at most 255.9375 in " + where);
    const std::pair<const char*, PropertyCaps*> properties[] = {
        {"brightness", &c.brightness}, {"autoExposure", &c.autoExposure},
        {"shutter", &c.shutter},       {"gain", &c.gain},
        {"frameRate", &c.frameRate},
    };
    for (const auto& [key, caps] : properties) {
        if (const auto property = node.get_child_optional(key))
            parseProperty(*property, *caps, caps == &c.shutter, c.shutterTimeBase,
                          std::string(key) + " of " + where);
    }
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
    // The size inquiry registers hold width and height in 16 bits each.
    if (c.sensorWidth > kMaxSensorSide || c.sensorHeight > kMaxSensorSide)
        throw std::runtime_error("sensor size above 65535 in " + where);
    if (uint64_t{c.sensorWidth} * c.sensorHeight > kMaxSensorPixels)
        throw std::runtime_error("sensor of " + std::to_string(c.sensorWidth) + " x " +
                                 std::to_string(c.sensorHeight) +
                                 " pixels is above 16777216 (4096 x 4096) in " + where);
    // A camera reports its full sensor as the largest Format_7 image, which
    // must be whole size units: otherwise it would refuse its own power-up size.
    if (c.sensorWidth % c.unitWidth != 0 || c.sensorHeight % c.unitHeight != 0)
        throw std::runtime_error("sensor size is not a multiple of unitWidth and unitHeight in " + where);
    // Each exponent on its own first: their sum could wrap.
    if (c.userMemoryE1 > kMaxUserMemoryExponent || c.userMemoryE2 > kMaxUserMemoryExponent ||
        c.userMemoryE1 + c.userMemoryE2 > kMaxUserMemoryExponent)
        throw std::runtime_error("user memory larger than 16 MiB in " + where);
    return c;
}

// A jump of a bus clock in ticks: a whole number, less than one wrap of the
// cycle-time register (128 s) either way.
int64_t stepTicks(const pt::ptree& node, const std::string& key, const std::string& where)
{
    const double ticks = ranged(node, key, 0.0, -kMaxStepTicks, kMaxStepTicks, where);
    if (ticks != std::floor(ticks))
        throw std::runtime_error(key + " must be a whole number of ticks in " + where);
    return static_cast<int64_t>(ticks);
}

// The clock's wander, temperature swing and steps.
void parseClockTroubles(const pt::ptree& node, BusConfig& b, const std::string& where)
{
    b.wanderPpmPerSqrtMinute =
        ranged(node, "wanderPpmPerSqrtMinute", 0.0, 0.0, kMaxWanderPpmPerSqrtMinute, where);
    b.wanderSeed = u32(node, "wanderSeed", b.wanderSeed);
    b.temperatureSwingPpm = ranged(node, "temperatureSwingPpm", 0.0, -kMaxDriftPpm, kMaxDriftPpm, where);
    b.temperaturePeriodSeconds =
        ranged(node, "temperaturePeriodSeconds", 0.0, 0.0, kMaxClockEventSeconds, where);
    if (b.temperatureSwingPpm != 0.0 && b.temperaturePeriodSeconds < 1.0)
        throw std::runtime_error(
            "temperaturePeriodSeconds must be at least 1 with a temperatureSwingPpm in " + where);
    b.stepOnResetTicks = stepTicks(node, "stepOnResetTicks", where);
    const pt::ptree none;
    int index = 0;
    for (const auto& stepNode : listOf(node, "steps", none, where)) {
        const std::string stepWhere = "step #" + std::to_string(index++) + " of " + where;
        requireKnownKeys(stepNode.second, {"atSeconds", "ticks"}, stepWhere);
        if (!stepNode.second.get_child_optional("atSeconds") || !stepNode.second.get_child_optional("ticks"))
            throw std::runtime_error("a step needs \"atSeconds\" and \"ticks\" in " + stepWhere);
        BusConfig::ScheduledStep step;
        step.atSeconds = ranged(stepNode.second, "atSeconds", 0.0, 0.0, kMaxClockEventSeconds, stepWhere);
        step.ticks = stepTicks(stepNode.second, "ticks", stepWhere);
        b.steps.push_back(step);
    }
}

BusConfig parseBus(const pt::ptree& node, const std::string& where)
{
    requireKnownKeys(node,
                     {"number", "speed", "clockSeconds", "driftPpm", "readLatencyUs", "readJitterUs",
                      "spikeProbability", "spikeUs", "isoBandwidth", "wanderPpmPerSqrtMinute", "wanderSeed",
                      "temperatureSwingPpm", "temperaturePeriodSeconds", "stepOnResetTicks", "steps",
                      "cameras"},
                     where);
    BusConfig b;
    if (node.get_child_optional("number")) {
        const uint32_t number = u32(node, "number", 0);
        if (number > uint32_t(std::numeric_limits<int>::max()))
            throw std::runtime_error("bus number too large in " + where);
        b.number = static_cast<int>(number);
    }
    b.speed = u32(node, "speed", b.speed);
    if (b.speed != 400 && b.speed != 800)
        throw std::runtime_error("speed must be 400 or 800 in " + where);
    b.clockSeconds = ranged(node, "clockSeconds", b.clockSeconds, 0.0, kMaxClockSeconds, where);
    b.driftPpm = ranged(node, "driftPpm", b.driftPpm, -kMaxDriftPpm, kMaxDriftPpm, where);
    b.timing.latencyNs = nanoseconds(node, "readLatencyUs", kDefaultLatencyUs, where);
    b.timing.jitterNs = nanoseconds(node, "readJitterUs", kDefaultJitterUs, where);
    b.timing.spikeProbability = f64(node, "spikeProbability", 0.0);
    if (b.timing.spikeProbability < 0.0 || b.timing.spikeProbability > 1.0)
        throw std::runtime_error("spikeProbability must be 0 to 1 in " + where);
    b.timing.spikeNs = nanoseconds(node, "spikeUs", 0.0, where);
    b.isoBandwidth = rangedU32(node, "isoBandwidth", 0, 0, kMaxIsoBandwidth, where);
    parseClockTroubles(node, b, where);
    return b;
}

// The SDK function or driver request a fault acts on: a name as the calls
// give it (letters, digits, underscores), or "any".
std::string faultFunction(const pt::ptree& node, const std::string& where)
{
    const auto child = node.get_child_optional("function");
    if (!child)
        throw std::runtime_error("missing \"function\" in " + where);
    std::string name = child->data();
    if (name == kAnyInFile)
        return FaultTable::kAnyFunction;
    const bool identifier = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
    });
    if (!identifier)
        throw std::runtime_error("function \"" + name + "\" is no function name (or \"any\") in " + where);
    return name;
}

// A code of either stack: FlyCapture's errors and the driver's 32-bit
// statuses (0xE0000001, 0xC0000001) alike, kept as the int the table holds,
// bit for bit.
int faultCode(const pt::ptree& node)
{
    const uint32_t code = u32(node, "errorCode", 0);
    if (code <= uint32_t(std::numeric_limits<int32_t>::max()))
        return static_cast<int>(code);
    return -static_cast<int>(0xFFFFFFFFu - code) - 1;
}

FaultTable::Fault parseFault(const pt::ptree& node, const std::set<uint32_t>& serials,
                             const std::string& where)
{
    requireKnownKeys(node, {"function", "serial", "address", "skip", "count", "errorCode", "stallUs"}, where);
    FaultTable::Fault fault;
    fault.function = faultFunction(node, where);
    if (const auto serial = node.get_child_optional("serial"); serial && serial->data() != kAnyInFile) {
        fault.serialNumber = u32(node, "serial", 0);
        // A serial no camera of the file has would never match: a typo.
        if (!serials.count(fault.serialNumber))
            throw std::runtime_error("serial " + serial->data() +
                                     " is no camera of the world (or \"any\") in " + where);
    }
    if (node.get_child_optional("address"))
        fault.address = u32(node, "address", 0);
    fault.skip = u32(node, "skip", 0);
    fault.count = u32(node, "count", 1);
    if (fault.count == 0)
        throw std::runtime_error("count must be at least 1 in " + where);
    if (node.get_child_optional("errorCode"))
        fault.errorCode = faultCode(node);
    fault.delayNs = nanoseconds(node, "stallUs", 0.0, where, kMaxStallUs);
    // Neither failing nor stalling, the fault would only hide the calls from
    // the faults after it; the driver's image faults also need a code.
    if (!fault.errorCode && fault.delayNs == 0)
        throw std::runtime_error("a fault needs errorCode, stallUs or both in " + where);
    return fault;
}

} // namespace

WorldDescription parseWorld(const std::string& jsonText)
{
    requireShallow(jsonText);
    pt::ptree root;
    try {
        std::istringstream in(jsonText);
        pt::read_json(in, root);
    } catch (const pt::json_parser_error& e) {
        std::ostringstream message;
        message << "line " << e.line() << ": " << e.message();
        throw std::runtime_error(message.str());
    }
    requireKnownKeys(root, {"pacing", "buses", "faults"}, "the world");
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
    for (const auto& busNode : listOf(root, "buses", none, "the world")) {
        const std::string where = "bus #" + std::to_string(busIndex++);
        WorldDescription::BusDescription bus;
        bus.bus = parseBus(busNode.second, where);
        // A bus without a number takes the next free one, as World::addBus does.
        if (bus.bus.number < 0) {
            if (!busNumbers.empty() && *busNumbers.rbegin() == std::numeric_limits<int>::max())
                throw std::runtime_error("no free bus number after the highest in " + where);
            bus.bus.number = busNumbers.empty() ? 0 : *busNumbers.rbegin() + 1;
        }
        if (!busNumbers.insert(bus.bus.number).second)
            throw std::runtime_error("bus number " + std::to_string(bus.bus.number) + " repeated in " +
                                     where);
        int cameraIndex = 0;
        for (const auto& cameraNode : listOf(busNode.second, "cameras", none, where)) {
            const std::string cameraWhere = "camera #" + std::to_string(cameraIndex++) + " of " + where;
            CameraConfig camera = parseCamera(cameraNode.second, cameraWhere);
            if (camera.serialNumber == 0 || !serials.insert(camera.serialNumber).second)
                throw std::runtime_error("serial number missing, zero or repeated in " + cameraWhere);
            bus.cameras.push_back(std::move(camera));
        }
        world.buses.push_back(std::move(bus));
    }
    // After the buses: a fault names one of their cameras.
    int faultIndex = 0;
    for (const auto& faultNode : listOf(root, "faults", none, "the world"))
        world.faults.push_back(
            parseFault(faultNode.second, serials, "fault #" + std::to_string(faultIndex++)));
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
