// A host built outside the tree: checks what a host relies on first.
#include <orvex/orvex.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

int failures = 0;

void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "FAILED: %s\n", what);
        ++failures;
    }
}

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

    std::printf("%s: %d failure(s)\n", version, failures);
    return failures == 0 ? 0 : 1;
}
