// A host built outside the tree: checks what a host relies on first.
#include <orvex/orvex.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

int failures = 0;

void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "FAILED: %s\n", what);
        ++failures;
    }
}

#if !defined(_WIN32)
struct Expected {
    const char* model;
    unsigned long low;
    unsigned long high;
};

// The built-in world's cameras of one stack, in port order, found with no
// call a Windows host would not make.
void checkCameras(IEEE1394VideoServer& server, const std::vector<Expected>& expected, const char* stack)
{
    const std::string what = std::string(stack) + " lists the default cameras";
    try {
        server.reset(false);
        check(server.getNbCameras() == static_cast<int>(expected.size()), what.c_str());
        for (size_t port = 0; port < expected.size(); ++port) {
            IEEE1394Camera& camera = server.getCamera(static_cast<int>(port));
            check(camera.getModelName() == expected[port].model, (what + ": model").c_str());
            check(camera.getUniqueId() == CamGUID(expected[port].low, expected[port].high),
                  (what + ": identifier").c_str());
        }
    } catch (const OrvexError& e) {
        std::fprintf(stderr, "%s: %s\n", stack, e.what());
        check(false, what.c_str());
    }
    destroyVideoServer();
}
#endif

} // namespace

int main()
{
    // The library created its loggers while loading, before any call.
    check(log4cplus::Logger::exists("Orvex"), "logger Orvex exists");
    check(log4cplus::Logger::exists("Orvex.config"), "logger Orvex.config exists");
    check(log4cplus::Logger::exists("Orvex.stream"), "logger Orvex.stream exists");
    check(log4cplus::Logger::exists("Orvex.lostStream"), "logger Orvex.lostStream exists");

    const char* version = GetDllVersion();
    check(std::strcmp(version, "32-bit Edition Version 1.1 Build 1112 2010-02-08 ") == 0, "version text");
    check(GetDllVersion() == version, "version buffer is the same on every call");
    check(std::wcscmp(GetDllVersionUnicode(), L"32-bit Edition Version 1.1 Build 1112 2010-02-08 ") == 0,
          "wide version text");
    check(GetDllVersionMajor() == 1 && GetDllVersionMinor() == 1 && GetDllBuildNumber() == 1112,
          "version numbers");

    check(to_string(camtm_triggerWidth) == "camtm_triggerWidth", "to_string");
    check(to_string(static_cast<CameraTriggerMode>(2)) == "unknown", "to_string of an unknown mode");

    try {
        ORVEX_THROW("consumer", "a message for the host");
    } catch (const OrvexError& e) {
        check(std::string(e.what()) == "a message for the host", "OrvexError::what");
    }

    check(CamGUID(1, 2) < CamGUID(0, 3), "CamGUID ordering");

#if !defined(_WIN32)
    // The installed package brings the simulated stacks with their default
    // world; a Windows machine has the cameras it has.
    checkCameras(createFlyCapVideoServer(false),
                 {{"Grasshopper GRAS-20S4M", 7240101, 0},
                  {"Grasshopper GRAS-50S5M", 8120202, 0},
                  {"Flea2 FL2G-50S5M", 9050303, 0}},
                 "FlyCapture");
    checkCameras(createBCAMVideoServer(false),
                 {{"A102f", 20110404, 0x00305300}, {"A312f", 20120505, 0x00305300}}, "BCAM");
#endif

    std::printf("%s: %d failure(s)\n", version, failures);
    return failures == 0 ? 0 : 1;
}
