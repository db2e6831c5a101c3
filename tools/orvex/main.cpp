// orvex: the command-line tool over the public API. Reads the command line,
// checks the simulated world where there is one, and runs one command: list
// the cameras of a stack, tell what one camera reports, grab images to PNG
// files, keep cameras synchronised, or serve the live viewer.
// Exit status: 0 done, 1 a camera or system failure (no such camera, a
// camera or stack error, a back end not available, a simulated world file
// that cannot be loaded, a file that cannot be written), 2 bad usage or bad
// input (the command line, a value outside the camera's limits).
#include "CommandLine.h"
#include "Reports.h"
#include "Session.h"
#include "Settings.h"
#include "Sync.h"

#include <orvex/orvex.h>
#if defined(ORVEX_CLI_OVER_SIMULATOR)
#include <orvex/sim/World.h>
#if !defined(_WIN32)
#include <orvex/win32_testing.h>
#endif
#endif

#include <log4cplus/consoleappender.h>
#include <log4cplus/initializer.h>
#include <log4cplus/logger.h>
#include <log4cplus/loglevel.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

namespace {

using namespace orvex::cli;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// The library logs through log4cplus; the tool shows those lines on stderr
// only from the level asked for.
bool configureLogging(const std::string& levelName)
{
    const log4cplus::LogLevel level = log4cplus::getLogLevelManager().fromString(levelName);
    if (level == log4cplus::NOT_SET_LOG_LEVEL) {
        return false;
    }
    log4cplus::SharedAppenderPtr appender(new log4cplus::ConsoleAppender(true));
    log4cplus::Logger root = log4cplus::Logger::getRoot();
    root.addAppender(appender);
    root.setLogLevel(level);
    return true;
}

int listCameras(Backend backend)
{
    Session session(backend, true);
    printCameraList(session, std::cout, std::cerr);
    // Listed all the same: a camera that cannot be initialised is a camera failure.
    return session.unavailable().empty() ? 0 : kExitFailure;
}

int showCamera(Backend backend, const std::string& name, const CameraSettings& settings)
{
    Session session(backend, false);
    IEEE1394Camera* camera = session.findCamera(name);
    if (camera == nullptr) {
        std::cerr << "orvex: no camera " << name << " (try 'orvex list')\n";
        return kExitFailure;
    }
    try {
        camera->init();
    } catch (const Error& error) {
        std::cerr << "orvex: camera " << name << " cannot be initialised: " << error.what() << "\n";
        return kExitFailure;
    }
    try {
        applySettings(*camera, settings);
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

// The acquisition thread's variant follows the process; over the simulated
// platform the tool may choose it.
bool chooseVariant(const std::string& variant)
{
#if defined(ORVEX_CLI_OVER_SIMULATOR) && !defined(_WIN32)
    using orvex::win32::testing::Wow64;
    orvex::win32::testing::setWow64(variant == "wow64" ? Wow64::wow64 : Wow64::native);
    return true;
#else
    return variant == "normal";
#endif
}

int grabImages(Backend backend, const Invocation& invocation)
{
    if (!chooseVariant(invocation.variant)) {
        std::cerr << "orvex: the variant follows the process here; --variant " << invocation.variant
                  << " cannot be chosen\n";
        return kExitUsage;
    }
    if (!invocation.grab.outDir.empty()) {
#if !defined(ORVEX_CLI_PNG)
        std::cerr << "orvex: this build cannot write PNG files (built without libpng)\n";
        return kExitFailure;
#endif
        std::error_code error;
        std::filesystem::create_directories(invocation.grab.outDir, error);
        if (error) {
            std::cerr << "orvex: cannot create " << invocation.grab.outDir << ": " << error.message() << "\n";
            return kExitFailure;
        }
    }
    Session session(backend, false);
    return grab(session, invocation.grab, std::cout, std::cerr);
}

int viewCameras(Backend backend, const Invocation& invocation)
{
#if defined(ORVEX_CLI_VIEW)
    Session session(backend, true);
    session.reportUnavailable(std::cerr);
    return runView(session, invocation.view, std::cout, std::cerr);
#else
    (void)backend;
    (void)invocation;
    std::cerr << "orvex: this build cannot serve the viewer (built without libpng, or for Windows)\n";
    return kExitFailure;
#endif
}

// The simulated world the user named with ORVEX_SIM_WORLD, when it could not
// be loaded: an empty world would pass for an empty bus.
std::string simulatedWorldProblem()
{
#if defined(ORVEX_CLI_OVER_SIMULATOR)
    return orvex::sim::World::instance().startupProblem();
#else
    return {};
#endif
}

int run(const Invocation& invocation)
{
    if (invocation.command == Command::help) {
        std::cout << usageText();
        return 0;
    }
    const bool all = invocation.backend == "all";
    if (invocation.backend != "flycap" && invocation.backend != "bcam" && !all) {
        std::cerr << "orvex: unknown back end '" << invocation.backend
                  << "' (expected flycap, bcam or all)\n";
        return kExitUsage;
    }
    if (all && invocation.command != Command::list && invocation.command != Command::view) {
        std::cerr << "orvex: --backend all lists cameras only, or views them; name one stack for a camera\n";
        return kExitUsage;
    }
    const bool syncAsked = invocation.command == Command::sync ||
                           (invocation.command == Command::view && !invocation.view.syncMaster.empty());
    if (invocation.backend == "bcam" && syncAsked) {
        std::cerr << "orvex: sync needs the FlyCapture stack\n";
        return kExitUsage;
    }
    if (const std::string problem = simulatedWorldProblem(); !problem.empty()) {
        std::cerr << "orvex: " << problem << "\n";
        return kExitFailure;
    }
    const Backend backend = invocation.backend == "bcam" ? Backend::bcam : Backend::flycap;
    switch (invocation.command) {
    case Command::list:
        if (all) {
            // One server at a time: each stack's session ends before the next begins.
            const int flycap = listCameras(Backend::flycap);
            const int bcam = listCameras(Backend::bcam);
            return std::max(flycap, bcam);
        }
        return listCameras(backend);
    case Command::grab:
        return grabImages(backend, invocation);
    case Command::sync: {
        Session session(Backend::flycap, false);
        return runSync(
            session,
            SyncOptions{invocation.master, invocation.seconds, invocation.plotFile, invocation.field},
            std::cout, std::cerr);
    }
    case Command::view:
        return viewCameras(backend, invocation);
    default:
        return showCamera(backend, invocation.camera, invocation.settings);
    }
}

} // namespace

int main(int argc, char** argv)
{
    log4cplus::Initializer logging;
    Invocation invocation;
    try {
        invocation = parseCommandLine(argc, argv);
    } catch (const UsageError& error) {
        std::cerr << "orvex: " << error.what() << "\n\n" << usageText();
        return kExitUsage;
    }
    if (!configureLogging(invocation.logLevel)) {
        std::cerr << "orvex: unknown log level '" << invocation.logLevel << "'\n";
        return kExitUsage;
    }
    try {
        return run(invocation);
    } catch (const std::exception& error) {
        std::cerr << "orvex: " << error.what() << "\n";
        return kExitFailure;
    }
}
