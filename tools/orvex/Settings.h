// Camera settings given as command-line options (`info` applies them before
// it reports; `grab` before it acquires): what they are, how they are read
// from the command line and how they reach a camera. Host thread.
#pragma once

#include <orvex/IEEE1394Camera.h>

#include <boost/program_options/options_description.hpp>
#include <boost/program_options/variables_map.hpp>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvex::cli {

struct RegionSetting {
    int left = 0, top = 0, width = 0, height = 0;
};

struct TriggerSetting {
    bool on = false;
    CameraTriggerMode mode = camtm_exposureTimed;
    std::optional<bool> risingEdge; // unset: the camera's polarity stays
};

struct StrobeSetting {
    unsigned long port = 0;
    bool on = false;
    // Both or neither: the delay and duration in microseconds.
    std::optional<unsigned long> delayUs, durationUs;
};

// Every field is optional: only what the user gave is applied.
struct CameraSettings {
    std::optional<RegionSetting> region;
    std::optional<int> packetBytes;
    std::optional<TriggerSetting> trigger;
    std::optional<double> frameRate;
    // In the camera's option units (ExposureUnits below).
    std::optional<double> shutter;
    std::optional<double> gain;
    std::optional<double> brightness;
    std::optional<bool> autoExposure;
    std::vector<StrobeSetting> strobes; // in the order given

    bool empty() const;
};

// The units --shutter and --gain take on one camera. The FlyCapture stack
// works in microseconds and tenths of a decibel, which the options give in
// milliseconds and decibels; the BCAM stack works in the camera's raw
// register values, which have no unit to convert to and are given as they
// are.
struct OptionUnit {
    const char* name;      // as the user reads it: "ms", "dB" or "raw"
    double libraryPerUnit; // library units in one of these
    bool wholeOnly;        // raw values have no fractions
};

struct ExposureUnits {
    OptionUnit shutter;
    OptionUnit gain;
};

ExposureUnits exposureUnitsOf(const IEEE1394Camera& camera);

// Before a start: the smart features that give each image its hardware date
// and an index that shows every lost image. A BCAM camera sends both in
// chunks after the image, only with the extended data stream on; a camera
// without smart features declines all three and keeps its own.
void switchOnImageStamps(IEEE1394Camera& camera);

// A setting the camera refused: names the option and carries the library's
// message.
class SettingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A geometry outside the camera's limits, found before the camera was asked:
// bad input, like a value not of its option's form.
class SettingLimitError : public SettingError {
public:
    using SettingError::SettingError;
};

// Adds --shutter, --gain, --brightness, --frame-rate, --auto-exposure,
// --roi, --packet, --trigger and --strobe to `options`.
void addSettingsOptions(boost::program_options::options_description& options);

// The settings the parsed command line gives. Throws UsageError
// (CommandLine.h) for a value that is not of its option's form.
CameraSettings readSettings(const boost::program_options::variables_map& values);

// Applies the settings to an initialised camera, in the order that lets each
// see the ranges the earlier ones leave: region, packet size, trigger, frame
// rate, shutter, gain, brightness, auto exposure, strobes. A region without
// a packet size gets the largest packet it allows. The region and packet
// size are checked against the camera's limits first (SettingLimitError).
// Stops at the first refusal and throws SettingError; what came before
// stays applied.
//
// A camera takes its image size when acquisition starts: on an acquiring
// camera a new region or packet size is applied between a stop and a start
// (started again after a refusal too), and the returned notes say so.
std::vector<std::string> applySettings(IEEE1394Camera& camera, const CameraSettings& settings);

} // namespace orvex::cli
