// Camera settings from the command line (or the viewer's form): read,
// checked against the camera's limits, and applied in order.
#include "Settings.h"

#include "CommonOptions.h"

#include <orvex/BCAMCamera.h>

#include <boost/program_options.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <functional>
#include <iomanip>
#include <sstream>

namespace po = boost::program_options;

namespace orvex::cli {
namespace {

// Option names, each used where it is declared, read and reported.
constexpr const char* kShutter = "shutter";
constexpr const char* kGain = "gain";
constexpr const char* kBrightness = "brightness";
constexpr const char* kFrameRate = "frame-rate";
constexpr const char* kAutoExposure = "auto-exposure";
constexpr const char* kRoi = "roi";
constexpr const char* kPacket = "packet";
constexpr const char* kTrigger = "trigger";
constexpr const char* kStrobe = "strobe";

// What the shutter and gain setters take, in the library's units: the
// shutter is an unsigned 32-bit register value, the gain a signed 32-bit one.
constexpr double kLongestShutter = 4294967295.0;
constexpr double kLowestGain = -2147483648.0;
constexpr double kHighestGain = 2147483647.0;

constexpr const char* kShutterForm = "milliseconds, or raw units on a BCAM camera";
constexpr const char* kGainForm = "decibels, or raw units on a BCAM camera";

[[noreturn]] void badValue(const char* option, const std::string& text, const std::string& expected)
{
    throw UsageError(std::string("--") + option + " '" + text + "': expected " + expected);
}

std::vector<std::string> fieldsOf(const std::string& text)
{
    std::vector<std::string> fields;
    std::istringstream in(text);
    std::string field;
    while (std::getline(in, field, ',')) {
        fields.push_back(field);
    }
    if (!text.empty() && text.back() == ',') {
        fields.emplace_back(); // an empty last field is still a field, and a wrong one
    }
    return fields;
}

// Whole text as a finite number; nothing else.
std::optional<double> numberOf(const std::string& text)
{
    try {
        std::size_t used = 0;
        const double value = std::stod(text, &used);
        if (used == text.size() && std::isfinite(value)) {
            return value;
        }
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

std::optional<long long> integerOf(const std::string& text)
{
    try {
        std::size_t used = 0;
        const long long value = std::stoll(text, &used, 10);
        if (used == text.size()) {
            return value;
        }
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

// A signed int as the camera interface takes it: the camera judges its range.
std::optional<int> intOf(const std::string& text)
{
    const auto value = integerOf(text);
    if (!value || *value < INT32_MIN || *value > INT32_MAX) {
        return std::nullopt;
    }
    return static_cast<int>(*value);
}

std::optional<unsigned long> unsignedOf(const std::string& text)
{
    const auto value = integerOf(text);
    if (!value || *value < 0 || *value > UINT32_MAX) {
        return std::nullopt;
    }
    return static_cast<unsigned long>(*value);
}

std::optional<bool> onOffOf(const std::string& text)
{
    if (text == "on") {
        return true;
    }
    if (text == "off") {
        return false;
    }
    return std::nullopt;
}

std::optional<CameraTriggerMode> triggerModeOf(const std::string& text)
{
    if (text == "0" || text == "exposureTimed" || text == to_string(camtm_exposureTimed)) {
        return camtm_exposureTimed;
    }
    if (text == "1" || text == "triggerWidth" || text == to_string(camtm_triggerWidth)) {
        return camtm_triggerWidth;
    }
    return std::nullopt;
}

const std::string* textOf(const po::variables_map& values, const char* option)
{
    return values.count(option) ? &values[option].as<std::string>() : nullptr;
}

std::optional<double> readNumber(const po::variables_map& values, const char* option, const std::string& what)
{
    const std::string* text = textOf(values, option);
    if (text == nullptr) {
        return std::nullopt;
    }
    const auto value = numberOf(*text);
    if (!value) {
        badValue(option, *text, what);
    }
    return value;
}

RegionSetting readRegion(const std::string& text)
{
    const std::vector<std::string> fields = fieldsOf(text);
    const char* expected = "X,Y,WIDTH,HEIGHT in pixels, none negative";
    if (fields.size() != 4) {
        badValue(kRoi, text, expected);
    }
    std::optional<int> parts[4];
    for (std::size_t i = 0; i < 4; ++i) {
        parts[i] = intOf(fields[i]);
        // The camera takes the fields as unsigned registers: -2 would wrap.
        if (!parts[i] || *parts[i] < 0) {
            badValue(kRoi, text, expected);
        }
    }
    return {*parts[0], *parts[1], *parts[2], *parts[3]};
}

TriggerSetting readTrigger(const std::string& text)
{
    const char* expected = "off, or MODE[,rising|falling] with MODE 0 (exposureTimed) or 1 (triggerWidth)";
    TriggerSetting trigger;
    if (text == "off") {
        return trigger;
    }
    const std::vector<std::string> fields = fieldsOf(text);
    if (fields.empty() || fields.size() > 2) {
        badValue(kTrigger, text, expected);
    }
    const auto mode = triggerModeOf(fields[0]);
    if (!mode) {
        badValue(kTrigger, text, expected);
    }
    trigger.on = true;
    trigger.mode = *mode;
    if (fields.size() == 2) {
        if (fields[1] != "rising" && fields[1] != "falling") {
            badValue(kTrigger, text, expected);
        }
        trigger.risingEdge = fields[1] == "rising";
    }
    return trigger;
}

StrobeSetting readStrobe(const std::string& text)
{
    const char* expected = "PORT,on|off[,DELAY_US,DURATION_US]";
    const std::vector<std::string> fields = fieldsOf(text);
    if (fields.size() != 2 && fields.size() != 4) {
        badValue(kStrobe, text, expected);
    }
    StrobeSetting strobe;
    const auto port = unsignedOf(fields[0]);
    const auto on = onOffOf(fields[1]);
    if (!port || !on) {
        badValue(kStrobe, text, expected);
    }
    strobe.port = *port;
    strobe.on = *on;
    if (fields.size() == 4) {
        strobe.delayUs = unsignedOf(fields[2]);
        strobe.durationUs = unsignedOf(fields[3]);
        if (!strobe.delayUs || !strobe.durationUs) {
            badValue(kStrobe, text, expected);
        }
    }
    return strobe;
}

// Runs one setting; a refusal of the camera names the option as given.
void applyOne(const std::string& option, const std::function<void()>& apply)
{
    try {
        apply();
    } catch (const SettingError&) {
        throw; // already names its option
    } catch (const std::exception& error) {
        throw SettingError(option + ": " + error.what());
    }
}

std::string optionText(const char* option, const std::string& value)
{
    return std::string("--") + option + " " + value;
}

// Enough digits for any raw register value and any millisecond shutter.
std::string numberText(double value)
{
    std::ostringstream text;
    text << std::setprecision(12) << value;
    return text.str();
}

// The option's value in the library's units. What the unit cannot take (a
// fraction of a raw value, more than the setter's 32 bits hold) is refused
// here rather than reaching the camera rounded or wrapped.
double libraryValue(double value, const OptionUnit& unit, double lowest, double highest)
{
    const double scaled = value * unit.libraryPerUnit;
    if (unit.wholeOnly && scaled != std::floor(scaled)) {
        throw std::invalid_argument(std::string("expected a whole number of ") + unit.name + " units");
    }
    const double rounded = std::round(scaled);
    if (rounded < lowest || rounded > highest) {
        throw std::out_of_range("expected " + numberText(lowest / unit.libraryPerUnit) + " to " +
                                numberText(highest / unit.libraryPerUnit) + " " + unit.name);
    }
    return rounded;
}

void applyTrigger(IEEE1394Camera& camera, const TriggerSetting& trigger)
{
    if (!trigger.on) {
        camera.turnOnTrigger(false);
        return;
    }
    camera.setTriggerMode(trigger.mode);
    if (trigger.risingEdge) {
        camera.setPolarity(*trigger.risingEdge);
    }
    camera.turnOnTrigger(true);
}

void applyStrobe(IEEE1394Camera& camera, const StrobeSetting& strobe)
{
    if (strobe.delayUs && strobe.durationUs) {
        // The option has no polarity: the output keeps the one it has.
        camera.enableStrobeOutput(strobe.port, strobe.on, camera.getStrobeOutputPolarity(strobe.port),
                                  *strobe.delayUs, *strobe.durationUs);
    } else {
        camera.enableStrobeOutput(strobe.port, strobe.on);
    }
}

// A size or position on the camera's grid: a camera that reports no step
// (malformed data) has none to keep to.
bool onSteps(int value, int step)
{
    return step <= 0 || value % step == 0;
}

void checkRegion(IEEE1394Camera& camera, const RegionSetting& r, const std::string& option)
{
    int maxWidth = 0, maxHeight = 0, unitWidth = 0, unitHeight = 0, unitLeft = 0, unitTop = 0;
    camera.getMaxSize(maxWidth, maxHeight);
    camera.getUnitSize(unitWidth, unitHeight);
    camera.getUnitPos(unitLeft, unitTop);
    const bool fits = r.width >= std::max(unitWidth, 1) && r.height >= std::max(unitHeight, 1) &&
                      onSteps(r.width, unitWidth) && onSteps(r.height, unitHeight) &&
                      onSteps(r.left, unitLeft) && onSteps(r.top, unitTop) && r.width <= maxWidth &&
                      r.height <= maxHeight && r.left <= maxWidth - r.width && r.top <= maxHeight - r.height;
    if (!fits) {
        std::ostringstream message;
        message << option << ": this camera takes a size of " << std::max(unitWidth, 1) << " x "
                << std::max(unitHeight, 1) << " to " << maxWidth << " x " << maxHeight
                << " pixels in steps of " << unitWidth << " x " << unitHeight
                << ", at a position in steps of " << unitLeft << " x " << unitTop << ", inside " << maxWidth
                << " x " << maxHeight;
        throw SettingLimitError(message.str());
    }
}

void checkPacket(IEEE1394Camera& camera, int bytes, const std::string& option)
{
    const int lowest = camera.getMinNbBytesPerPacket();
    const int highest = camera.getMaxNbBytesPerPacket();
    const int unit = camera.getUnitNbBytesPerPacket();
    if (bytes < lowest || bytes > highest || !onSteps(bytes, unit)) {
        throw SettingLimitError(option + ": this camera takes " + std::to_string(lowest) + " to " +
                                std::to_string(highest) + " bytes per packet in steps of " +
                                std::to_string(unit) + " with this region");
    }
}

// Region and packet size: the settings that size the images.
void applyGeometry(IEEE1394Camera& camera, const CameraSettings& settings)
{
    // The region bounds the packet size.
    if (const auto& r = settings.region) {
        const std::string value = std::to_string(r->left) + "," + std::to_string(r->top) + "," +
                                  std::to_string(r->width) + "," + std::to_string(r->height);
        const std::string option = optionText(kRoi, value);
        applyOne(option, [&] { checkRegion(camera, *r, option); });
        applyOne(option, [&] { camera.setRoi(r->left, r->top, r->width, r->height); });
    }
    if (settings.packetBytes) {
        const std::string option = optionText(kPacket, std::to_string(*settings.packetBytes));
        applyOne(option, [&] { checkPacket(camera, *settings.packetBytes, option); });
        applyOne(option, [&] { camera.setNbBytesPerPacket(*settings.packetBytes); });
    } else if (settings.region) {
        // A new region changes the packet limits but not the packet size, and
        // the frame-rate range is read again only with a packet size: take
        // the largest packet the region allows, as init does for the sensor.
        applyOne(std::string("--") + kRoi,
                 [&] { camera.setNbBytesPerPacket(camera.getMaxNbBytesPerPacket()); });
    }
}

// The geometry of an acquiring camera: stopped, applied, started again
// (also after a refusal, so that the camera goes on as it was).
std::string applyGeometryWhileAcquiring(IEEE1394Camera& camera, const CameraSettings& settings)
{
    const char* what = settings.region ? "--roi" : "--packet";
    applyOne(what, [&] { camera.stopAcquisition(); });
    try {
        applyGeometry(camera, settings);
    } catch (const SettingError& error) {
        try {
            camera.startAcquisition();
        } catch (const std::exception& restart) {
            throw SettingError(std::string(error.what()) + "; acquisition stays stopped: " + restart.what());
        }
        throw;
    }
    applyOne(what, [&] { camera.startAcquisition(); });
    return std::string(what) + ": the camera sizes its images when acquisition starts: acquisition was "
                               "stopped, the new geometry applied, and acquisition started again";
}

} // namespace

bool CameraSettings::empty() const
{
    return !region && !packetBytes && !trigger && !frameRate && !shutter && !gain && !brightness &&
           !autoExposure && strobes.empty();
}

void switchOnImageStamps(IEEE1394Camera& camera)
{
    camera.enableSmartFeature(sf_extendedDataStream, true);
    camera.enableSmartFeature(sf_cycleTimeStamp, true);
    camera.enableSmartFeature(sf_frameCounter, true);
}

ExposureUnits exposureUnitsOf(const IEEE1394Camera& camera)
{
    if (dynamic_cast<const BCAMCamera*>(&camera) != nullptr) {
        return {{"raw", 1.0, true}, {"raw", 1.0, true}};
    }
    return {{"ms", 1000.0, false}, {"dB", 10.0, false}};
}

void addSettingsOptions(po::options_description& options)
{
    options.add_options() //
        (kShutter, po::value<std::string>()->value_name("MS"),
         "shutter in milliseconds (raw register units on a BCAM camera)") //
        (kGain, po::value<std::string>()->value_name("DB"),
         "gain in decibels (raw register units on a BCAM camera); turns auto exposure off") //
        (kBrightness, po::value<std::string>()->value_name("PCT"), "brightness in percent") //
        (kFrameRate, po::value<std::string>()->value_name("FPS"),
         "frame rate in frames per second (switches the frame-rate control on)")                       //
        (kAutoExposure, po::value<std::string>()->value_name("on|off"), "automatic exposure and gain") //
        (kRoi, po::value<std::string>()->value_name("X,Y,W,H"), "image region in pixels")              //
        (kPacket, po::value<std::string>()->value_name("BYTES"), "bytes per isochronous packet")       //
        (kTrigger, po::value<std::string>()->value_name("off|MODE[,rising|falling]"),
         "external trigger: off, or on in mode 0 (exposureTimed) or 1 (triggerWidth)") //
        (kStrobe,
         po::value<std::vector<std::string>>()->composing()->value_name("PORT,on|off[,DELAY_US,DURATION_US]"),
         "strobe output of a GPIO port; may be repeated");
}

CameraSettings readSettings(const po::variables_map& values)
{
    CameraSettings settings;
    if (const std::string* text = textOf(values, kRoi)) {
        settings.region = readRegion(*text);
    }
    if (const std::string* text = textOf(values, kPacket)) {
        settings.packetBytes = intOf(*text);
        if (!settings.packetBytes || *settings.packetBytes <= 0) {
            badValue(kPacket, *text, "a positive number of bytes");
        }
    }
    if (const std::string* text = textOf(values, kTrigger)) {
        settings.trigger = readTrigger(*text);
    }
    settings.frameRate = readNumber(values, kFrameRate, "frames per second");
    // Bounds common to both units; each camera's own come with its unit.
    settings.shutter = readNumber(values, kShutter, kShutterForm);
    if (settings.shutter && !(*settings.shutter >= 0.0 && *settings.shutter <= kLongestShutter)) {
        badValue(kShutter, *textOf(values, kShutter), kShutterForm);
    }
    settings.gain = readNumber(values, kGain, kGainForm);
    if (settings.gain && std::fabs(*settings.gain) > kHighestGain) {
        badValue(kGain, *textOf(values, kGain), kGainForm);
    }
    settings.brightness = readNumber(values, kBrightness, "percent");
    if (const std::string* text = textOf(values, kAutoExposure)) {
        settings.autoExposure = onOffOf(*text);
        if (!settings.autoExposure) {
            badValue(kAutoExposure, *text, "on or off");
        }
    }
    if (values.count(kStrobe)) {
        for (const std::string& text : values[kStrobe].as<std::vector<std::string>>()) {
            settings.strobes.push_back(readStrobe(text));
        }
    }
    return settings;
}

std::vector<std::string> applySettings(IEEE1394Camera& camera, const CameraSettings& settings)
{
    std::vector<std::string> notes;
    // The region bounds the packet size, the packet size and the trigger
    // bound the frame rate, the frame rate bounds the shutter.
    if ((settings.region || settings.packetBytes) && camera.isAcquisitionStarted()) {
        notes.push_back(applyGeometryWhileAcquiring(camera, settings));
    } else {
        applyGeometry(camera, settings);
    }
    if (settings.trigger) {
        applyOne(std::string("--") + kTrigger, [&] { applyTrigger(camera, *settings.trigger); });
    }
    if (settings.frameRate) {
        applyOne(optionText(kFrameRate, numberText(*settings.frameRate)), [&] {
            camera.setFrameRate(*settings.frameRate);
            // Switching the control on (again) is what re-reads the shutter
            // range the new frame period allows.
            camera.enableFrameRateFeature(true);
        });
    }
    const ExposureUnits units = exposureUnitsOf(camera);
    if (settings.shutter) {
        applyOne(optionText(kShutter, numberText(*settings.shutter)), [&] {
            const double value = libraryValue(*settings.shutter, units.shutter, 0.0, kLongestShutter);
            camera.setShutter(static_cast<unsigned long>(value));
        });
    }
    if (settings.gain) {
        applyOne(optionText(kGain, numberText(*settings.gain)), [&] {
            const double value = libraryValue(*settings.gain, units.gain, kLowestGain, kHighestGain);
            camera.setGain(static_cast<long>(value), gainsel_main);
        });
    }
    if (settings.brightness) {
        applyOne(optionText(kBrightness, numberText(*settings.brightness)),
                 [&] { camera.setBrightness(*settings.brightness); });
    }
    if (settings.autoExposure) {
        applyOne(optionText(kAutoExposure, *settings.autoExposure ? "on" : "off"),
                 [&] { camera.enableAutoExposureFeature(*settings.autoExposure); });
    }
    for (const StrobeSetting& strobe : settings.strobes) {
        std::string value = std::to_string(strobe.port) + (strobe.on ? ",on" : ",off");
        if (strobe.delayUs && strobe.durationUs) {
            value += "," + std::to_string(*strobe.delayUs) + "," + std::to_string(*strobe.durationUs);
        }
        applyOne(optionText(kStrobe, value), [&] { applyStrobe(camera, strobe); });
    }
    return notes;
}

} // namespace orvex::cli
