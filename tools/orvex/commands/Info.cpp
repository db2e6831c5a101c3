// `orvex info CAMERA`: one camera's geometry, packet limits, trigger, ranges
// and temperature, after the settings given on the command line.
#include "commands/Info.h"

#include "Reports.h"
#include "Session.h"

#include <orvex/orvex.h>

#include <iostream>

namespace orvex::cli::commands::info {

const char* const kSummary =
    "  info CAMERA    initialise one camera and print what it reports: geometry,\n"
    "                 packet limits, trigger, shutter and gain ranges, temperature.\n"
    "                 CAMERA is a port index (0, 1, ...) or a GUID (0x...); the\n"
    "                 camera settings below are applied first\n";

Options parse(const CommandLineValues& line)
{
    if (!line.camera)
        throw UsageError("info needs a camera: a port index or a GUID");
    return Options{line.common, *line.camera, line.settings};
}

int run(const Options& options)
{
    if (const int refused = checkStack(options.common, StackUse{}))
        return refused;
    Session session(backendOf(options.common), false);
    IEEE1394Camera* camera = session.findCamera(options.camera);
    if (camera == nullptr) {
        std::cerr << "orvex: no camera " << options.camera << " (try 'orvex list')\n";
        return kExitFailure;
    }
    try {
        camera->init();
    } catch (const Error& error) {
        std::cerr << "orvex: camera " << options.camera << " cannot be initialised: " << error.what() << "\n";
        return kExitFailure;
    }
    try {
        applySettings(*camera, options.settings);
    } catch (const SettingLimitError& error) {
        std::cerr << "orvex: " << error.what() << "\n";
        return kExitUsage;
    } catch (const SettingError& error) {
        std::cerr << "orvex: " << error.what() << "\n";
        return kExitFailure;
    }
    printCameraInfo(*camera, std::cout, std::cerr);
    return 0;
}

} // namespace orvex::cli::commands::info
