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
    std::optional<double> shutterMs;
    std::optional<double> gainDb;
    std::optional<double> brightness;
    std::optional<bool> autoExposure;
    std::vector<StrobeSetting> strobes; // in the order given

    bool empty() const;
};

// A setting the camera refused: names the option and carries the library's
// message.
class SettingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
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
// a packet size gets the largest packet it allows. Stops at the
// first refusal and throws SettingError; what came before stays applied.
void applySettings(IEEE1394Camera& camera, const CameraSettings& settings);

} // namespace orvex::cli
