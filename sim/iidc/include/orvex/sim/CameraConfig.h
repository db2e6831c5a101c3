// What a simulated camera is: its identity, sensor, capabilities and the
// register values it comes up with. Plain data, copied into the camera when
// it is created; any thread.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace orvex::sim {

// One IIDC feature (brightness, shutter, ...). Raw values are 12-bit; the
// absolute value of raw r is absAtRawMin + (r - rawMin) * absStep, except for
// the shutter, whose absolute value is r times the shutter time base.
struct PropertyCaps {
    bool present = true;
    bool absolute = true; // absolute (floating) control
    bool onePush = false;
    bool readOut = true;
    bool onOff = true;
    bool autoMode = false;
    bool manual = true;
    uint32_t rawMin = 0;
    uint32_t rawMax = 4095; // upper bound; the shutter and frame rate may allow less
    double absAtRawMin = 0.0;
    double absStep = 1.0;
    uint32_t defaultRaw = 0;
    bool defaultOn = true;
    bool defaultAuto = false;
    std::string units;
    std::string unitAbbreviation;
};

struct CameraConfig {
    // Identity.
    uint32_t serialNumber = 0;
    std::string modelName;
    std::string vendorName = "Point Grey Research";
    uint32_t vendorId = 0x00B09D;          // IEEE OUI, upper bits of the node's unique id
    uint32_t firmwareVersion = 0x01000000; // major.minor.type.build (version register)
    std::string extendedVersion;           // text of the extended version smart feature

    // Sensor and transfer.
    uint32_t sensorWidth = 640;
    uint32_t sensorHeight = 480;
    uint32_t unitWidth = 8; // Format_7 size steps (at least 1)
    uint32_t unitHeight = 2;
    uint32_t unitLeft = 2; // Format_7 position steps (at least 1)
    uint32_t unitTop = 2;
    double maxFrameRate = 30.0;     // full sensor height
    double maxRoiFrameRate = 240.0; // readout speed-up of small heights stops here
    uint32_t maxBusSpeed = 800;     // Mb/s: 400 or 800
    // Bytes per packet step (Format_7 unit and minimum). The world file
    // refuses 0; set here, 0 makes a malformed camera that reports a 0 unit
    // and takes any packet size.
    uint32_t packetUnit = 4;
    bool mono16 = true;       // Format_7 offers 16-bit mono besides 8-bit mono
    bool fixedFormats = true; // offers the 8-bit mono fixed formats that fit the sensor

    // Exposure controls.
    PropertyCaps brightness;
    PropertyCaps autoExposure;
    PropertyCaps shutter;
    PropertyCaps gain;
    PropertyCaps frameRate;
    double shutterTimeBase = 20e-6; // seconds per raw shutter step
    // The range the ShutterTimeBase smart feature offers (seconds): a written
    // time base is snapped to the nearest step from the minimum; a step of 0
    // takes any value in range as written.
    float timeBaseIncrement = 1e-6f;
    float timeBaseMin = 1e-6f;
    float timeBaseMax = 1e-3f;
    double temperatureCelsius = 40.0;

    // Trigger, GPIO, strobes.
    bool trigger = true;
    uint32_t triggerModes = 0x3; // bit m: trigger mode m (0 to 15)
    bool softwareTrigger = true;
    uint32_t strobePins = 0x6; // bit g: GPIO pin g has a strobe output (pins 1 to 3)

    // Embedded frame information items the camera offers (FrameInfo.h bits);
    // 0: the frame-information register is absent.
    uint32_t frameInfoItems = 0x147;

    // User memory: 2^e1 * 2^e2 bytes; e1 = 0 means none.
    uint32_t userMemoryE1 = 10;
    uint32_t userMemoryE2 = 6;

    // Smart features (advanced feature area): bit n for feature n (0 to 8).
    bool smartFeatures = false;
    uint32_t smartFeatureMask = 0x1FF;

    // Register values forced on top of the camera's own: an inquiry or other
    // read-only register always reads its override; a writable register gets
    // it as its power-up and INITIALIZE default. Keys are absolute addresses.
    std::map<uint32_t, uint32_t> registerOverrides;
};

// The capabilities of a known camera model, with the given serial number, or
// nothing for an unknown model name. Known: "Grasshopper GRAS-20S4M",
// "Grasshopper GRAS-50S5M", "Flea2 FL2G-50S5M", "A102f", "A312f".
std::optional<CameraConfig> modelConfig(const std::string& modelName, uint32_t serialNumber);
std::vector<std::string> knownModels();

} // namespace orvex::sim
