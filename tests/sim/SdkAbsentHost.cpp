// A host that loads the orvex library, uses library code that has nothing
// to do with the FlyCapture SDK, then makes SDK calls through the lazy
// binding (the library's own binding sources, compiled into this program).
//
//   orvex_sdk_absent_host absent   the SDK must be missing: the library still
//                                  loads and works, SDK calls fail with a text
//                                  naming the SDK library
//   orvex_sdk_absent_host present  the SDK must load
//
// Prints what it found; exit code 0 when the expectation holds.
#include "flycap/sdk/PGRFlyCapture.h"

#include <orvex/Loggers.h>
#include <orvex/Version.h>

#include <log4cplus/configurator.h>
#include <log4cplus/initializer.h>
#include <log4cplus/loggingmacros.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int fail(const std::string& why)
{
    std::printf("FAILED: %s\n", why.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    log4cplus::Initializer initializer;
    log4cplus::BasicConfigurator::doConfigure();
    const bool expectSdk = argc > 1 && std::strcmp(argv[1], "present") == 0;

    // Library code that needs no SDK.
    const char* version = GetDllVersion();
    if (!version || !*version)
        return fail("no library version");
    LOG4CPLUS_INFO(g_OrvexLogger, "host running with orvex " << version);

    FlyCaptureContext context = nullptr;
    const FlyCaptureError error = flycaptureCreateContext(&context);
    const std::string text = flycaptureErrorToString(error);
    std::printf("flycaptureCreateContext: %d: %s\n", static_cast<int>(error), text.c_str());

    if (expectSdk) {
        if (error != FLYCAPTURE_OK)
            return fail("the SDK did not load");
        unsigned count = 0;
        if (flycaptureBusCameraCount(&count) != FLYCAPTURE_OK || count == 0)
            return fail("the SDK sees no camera");
        flycaptureDestroyContext(context);
        std::printf("SDK loaded, %u cameras\n", count);
        return 0;
    }

    if (error != FLYCAPTURE_SDK_NOT_LOADED)
        return fail("expected FLYCAPTURE_SDK_NOT_LOADED");
    if (text.find(PGRFLYCAPTURE_LIBRARY_NAME) == std::string::npos)
        return fail("the error text does not name " PGRFLYCAPTURE_LIBRARY_NAME);
    // Every later call fails the same way, with the same text.
    unsigned count = 0;
    if (flycaptureBusCameraCount(&count) != FLYCAPTURE_SDK_NOT_LOADED)
        return fail("a later call did not fail the same way");
    if (text != flycaptureErrorToString(FLYCAPTURE_TIMEOUT))
        return fail("without the SDK every code should describe the missing library");
    // And the library keeps working.
    if (std::strcmp(GetDllVersion(), version) != 0)
        return fail("library code broken after the failed load");
    std::printf("SDK absent, library fine\n");
    return 0;
}
