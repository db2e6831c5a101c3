// Capabilities of the camera models the simulator knows by name.
#include <orvex/sim/CameraConfig.h>

#include <cmath>

namespace orvex::sim {

namespace {

PropertyCaps brightnessCaps()
{
    PropertyCaps p;
    p.rawMin = 0;
    p.rawMax = 255;
    p.absAtRawMin = 0.0;
    p.absStep = 0.1;
    p.defaultRaw = 0;
    p.units = "percent";
    p.unitAbbreviation = "%";
    return p;
}

PropertyCaps autoExposureCaps()
{
    PropertyCaps p;
    p.autoMode = true;
    p.onePush = true;
    p.rawMin = 0;
    p.rawMax = 1000;
    p.absAtRawMin = -5.0;
    p.absStep = 0.01;
    p.defaultRaw = 500; // 0 EV
    p.units = "exposure value";
    p.unitAbbreviation = "EV";
    return p;
}

PropertyCaps shutterCaps()
{
    PropertyCaps p;
    p.autoMode = true;
    p.onOff = false;
    p.rawMin = 1;
    p.rawMax = 4095;
    p.defaultRaw = 500; // 10 ms with a 20 µs time base
    p.units = "milliseconds";
    p.unitAbbreviation = "ms";
    return p;
}

PropertyCaps gainCaps(double minDb, double maxDb)
{
    PropertyCaps p;
    p.autoMode = true;
    p.onOff = false;
    p.absStep = 0.0625;
    p.absAtRawMin = minDb;
    p.rawMin = 0;
    p.rawMax = static_cast<uint32_t>(std::lround((maxDb - minDb) / p.absStep));
    p.defaultRaw = static_cast<uint32_t>(std::lround(-minDb / p.absStep)); // 0 dB
    p.units = "decibels";
    p.unitAbbreviation = "dB";
    return p;
}

PropertyCaps frameRateCaps(double maxFps)
{
    PropertyCaps p;
    p.absStep = 1.0 / 16.0;
    p.absAtRawMin = 1.0;
    p.rawMin = 16; // 1 frame per second
    p.rawMax = 4095;
    p.defaultRaw = static_cast<uint32_t>(maxFps * 16.0);
    p.units = "frames per second";
    p.unitAbbreviation = "fps";
    return p;
}

CameraConfig pointGrey(const std::string& model, uint32_t serial, uint32_t width, uint32_t height, double fps,
                       double minGainDb)
{
    CameraConfig c;
    c.serialNumber = serial;
    c.modelName = model;
    c.vendorName = "Point Grey Research";
    c.vendorId = 0x00B09D;
    c.sensorWidth = width;
    c.sensorHeight = height;
    c.maxFrameRate = fps;
    c.brightness = brightnessCaps();
    c.autoExposure = autoExposureCaps();
    c.shutter = shutterCaps();
    c.gain = gainCaps(minGainDb, 24.0);
    c.frameRate = frameRateCaps(fps);
    return c;
}

CameraConfig basler(const std::string& model, uint32_t serial, uint32_t width, uint32_t height, double fps)
{
    CameraConfig c = pointGrey(model, serial, width, height, fps, 0.0);
    c.vendorName = "Basler";
    c.vendorId = 0x003053;
    c.maxBusSpeed = 400;
    c.smartFeatures = true;
    c.frameInfoItems = 0; // chunks instead
    c.userMemoryE1 = 0;
    c.frameRate.present = false;
    c.unitWidth = 4;
    c.unitHeight = 1;
    c.unitLeft = 4;
    c.unitTop = 1;
    c.gain.absolute = false;
    c.shutter.absolute = false;
    return c;
}

} // namespace

std::optional<CameraConfig> modelConfig(const std::string& modelName, uint32_t serialNumber)
{
    if (modelName == "Grasshopper GRAS-20S4M") {
        CameraConfig c = pointGrey(modelName, serialNumber, 1624, 1224, 30.0, -2.0);
        c.firmwareVersion = 0x01040103;
        return c;
    }
    if (modelName == "Grasshopper GRAS-50S5M") {
        CameraConfig c = pointGrey(modelName, serialNumber, 2448, 2048, 15.0, -2.0);
        c.firmwareVersion = 0x01050204;
        return c;
    }
    if (modelName == "Flea2 FL2G-50S5M") {
        CameraConfig c = pointGrey(modelName, serialNumber, 2448, 2048, 7.5, -1.0);
        c.firmwareVersion = 0x02031005;
        c.userMemoryE1 = 9; // 16 KiB
        c.userMemoryE2 = 5;
        return c;
    }
    if (modelName == "A102f") {
        CameraConfig c = basler(modelName, serialNumber, 1392, 1040, 15.0);
        c.firmwareVersion = 0x00001E00;
        c.extendedVersion = "A102f ID=100 FW=30 v1.0.30.0"; // the firmware is the third field after " v"
        return c;
    }
    if (modelName == "A312f") {
        CameraConfig c = basler(modelName, serialNumber, 782, 582, 53.0);
        c.unitWidth = 2; // 782 columns: the largest image is whole width units
        c.unitLeft = 2;
        c.firmwareVersion = 0x00002000;
        c.extendedVersion = "A312f ID=200 FW=32 v1.0.32.0";
        return c;
    }
    return std::nullopt;
}

std::vector<std::string> knownModels()
{
    return {"Grasshopper GRAS-20S4M", "Grasshopper GRAS-50S5M", "Flea2 FL2G-50S5M", "A102f", "A312f"};
}

} // namespace orvex::sim
