// The shared vocabulary: enumerations whose numbers cross the exported
// interface and are compared with camera data, so every value is fixed.
#pragma once

#include <orvex/Export.h>

#include <string>

enum CameraTriggerMode {
    camtm_exposureTimed = 0, // IIDC trigger mode 0: edge starts exposure, shutter sets its length
    camtm_triggerWidth = 1,  // IIDC trigger mode 1: exposure lasts as long as the pulse
};

enum CameraModel {
    camm_other = 0,
    camm_A102f = 1,
    camm_A312f = 2,
    camm_reserved3 = 3,
    camm_reserved4 = 4,
    camm_GRAS20S4M = 5,
    camm_GRAS50S5M = 6,
    camm_reserved7 = 7,
    camm_reserved8 = 8,
    camm_FL2G50S5M = 9,
};

enum GainSelector {
    gainsel_main = 0,
};

enum ImageValidity {
    imgv_valid = 0,
    imgv_invalid = 1,
    imgv_notChecked = 2,
};

enum SmartFeatureEnum {
    sf_extendedDataStream = 0,
    sf_frameCounter = 1,
    sf_cycleTimeStamp = 2,
    sf_greyLevelValues = 3, // logged without a name
    sf_dcam = 4,
    sf_shutterTimeBase = 5,
    sf_crcChecksum = 6,
    sf_extendedVersionInfo = 7,
    sf_lookupTable = 8,
    sf_gpioStatus = 9,
};

enum CameraDeviceClass {
    camdc_ieee1394 = 1,
};

enum IEEECameraResolution {
    res_none = -1,
    res_160x120 = 0,
    res_320x240 = 1,
    res_640x480 = 2,
    res_800x600 = 3,
    res_1024x768 = 4,
    res_1280x960 = 5,
    res_1600x1200 = 6,
};

enum IEEECameraPixelFormat {
    pf_none = -1,
    pf_yMono = 0, // 8-bit mono
    pf_yuv411 = 1,
    pf_yuv422 = 2,
    pf_yuv444 = 3,
    pf_rgb24 = 4,
    pf_rgb16_555 = 5,
    pf_rgb16_565 = 6,
    pf_rgb32 = 7,
    pf_yMono16 = 8, // 16-bit mono
};

enum IEEECameraFPS {
    fps_none = -1,
    fps_1_875 = 0,
    fps_3_75 = 1,
    fps_7_5 = 2,
    fps_15 = 3,
    fps_30 = 4,
    fps_60 = 5,
    fps_120 = 6,
};

// "camtm_exposureTimed", "camtm_triggerWidth", or "unknown" for any other value.
ORVEX_API std::string to_string(CameraTriggerMode mode);

// The name the library logs for a smart feature; empty for the unnamed
// feature 3 and for values outside the enumeration.
ORVEX_API std::string smartFeatureLoggedName(SmartFeatureEnum feature);

// log4cplus's numeric levels, as the library passes them.
namespace orvex {
constexpr int kLevelTrace = 0;
constexpr int kLevelInfo = 20000;
constexpr int kLevelError = 40000;
constexpr int kLevelFatal = 50000;
} // namespace orvex
