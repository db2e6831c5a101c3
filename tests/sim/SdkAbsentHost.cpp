// A host that loads the orvex library and uses it through its public API
// only: library code that has nothing to do with the FlyCapture SDK, then
// the FlyCapture video server, whose first SDK call loads the SDK.
//
//   orvex_sdk_absent_host absent   the SDK must be missing: the library still
//                                  loads and works, and creating the FlyCapture
//                                  server fails with an OrvexError naming the
//                                  SDK library
//   orvex_sdk_absent_host present  the SDK must load and list cameras
//
// Prints what it found; exit code 0 when the expectation holds.
#include <orvex/FlyCapVideoServer.h>
#include <orvex/IEEE1394VideoServer.h>
#include <orvex/Loggers.h>
#include <orvex/OrvexError.h>
#include <orvex/Version.h>

#include <log4cplus/configurator.h>
#include <log4cplus/initializer.h>
#include <log4cplus/loggingmacros.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr const char* kSdkLibrary = "PGRFlyCapture.dll";

int fail(const std::string& why)
{
    std::printf("FAILED: %s\n", why.c_str());
    return 1;
}

// The message of the OrvexError that creating the server raises, or "" when
// the server was created (and destroyed again).
std::string tryFlyCapServer(unsigned& cameras)
{
    try {
        IEEE1394VideoServer& server = createFlyCapVideoServer(false);
        server.reset(false);
        cameras = static_cast<unsigned>(server.getNbCameras());
        destroyVideoServer();
        return "";
    } catch (const OrvexError& e) {
        return e.what();
    }
}

} // namespace

int main(int argc, char** argv)
{
    log4cplus::Initializer initializer;
    log4cplus::BasicConfigurator::doConfigure();
    const bool expectSdk = argc > 1 && std::strcmp(argv[1], "present") == 0;

    // Library code that needs no SDK.
    const std::string version = GetDllVersion();
    if (version.empty())
        return fail("no library version");
    LOG4CPLUS_INFO(g_OrvexLogger, "host running with orvex " << version);

    unsigned cameras = 0;
    const std::string error = tryFlyCapServer(cameras);
    if (expectSdk) {
        if (!error.empty())
            return fail("the SDK did not load: " + error);
        if (cameras == 0)
            return fail("the SDK sees no camera");
        std::printf("SDK loaded, %u cameras\n", cameras);
        return 0;
    }

    std::printf("createFlyCapVideoServer: %s\n", error.c_str());
    if (error.find(kSdkLibrary) == std::string::npos)
        return fail(std::string("the error does not name ") + kSdkLibrary);
    if (isVideoServerAllocated())
        return fail("a server was left behind");
    // A second attempt fails the same way, and the library keeps working.
    if (tryFlyCapServer(cameras) != error)
        return fail("a second attempt did not fail the same way");
    if (GetDllVersion() != version)
        return fail("library code broken after the failed load");
    std::printf("SDK absent, library fine\n");
    return 0;
}
