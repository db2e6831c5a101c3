// Loading the FlyCapture SDK library chosen by ORVEX_FLYCAP_SDK and
// resolving every function the library calls.
#include "flycap/sdk/SdkLibrary.h"

#include <orvex/Loggers.h>
#include <orvex/win32.h>

#include <log4cplus/loggingmacros.h>

#include <cstdlib>

namespace orvex::flycap::sdk {

namespace {

constexpr DWORD kMessageCapacity = 260;

std::string systemMessage(DWORD error)
{
    char text[kMessageCapacity] = {};
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, kMessageCapacity, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return message.empty() ? "system error " + std::to_string(error) : message;
}

} // namespace

const SdkLibrary& SdkLibrary::instance()
{
    static const SdkLibrary library;
    return library;
}

std::string SdkLibrary::selectedLibraryName(const char* selection, std::string& refusal)
{
    refusal.clear();
    if (!selection || !*selection)
        return PGRFLYCAPTURE_LIBRARY_NAME;
    if (std::string(selection) == kDc1394Selection)
        return PGRFLYCAPTURE_DC1394_LIBRARY_NAME;
    refusal = std::string(kSdkSelectionVariable) + "=\"" + selection + "\" names no FlyCapture SDK (\"" +
              kDc1394Selection + "\", or unset for " PGRFLYCAPTURE_LIBRARY_NAME ")";
    return {};
}

SdkLibrary::SdkLibrary()
{
    std::string refusal;
    const std::string name = selectedLibraryName(std::getenv(kSdkSelectionVariable), refusal);
    _loadFailure = "The FlyCapture SDK library " + name + " is loaded";
    _missingFunctions = "The FlyCapture SDK library " + name + " has every function";
    if (!refusal.empty()) {
        _loadFailure = "The FlyCapture SDK library could not be chosen: " + refusal;
        LOG4CPLUS_ERROR(g_OrvexLogger, _loadFailure);
        return;
    }
    // Kept for the life of the process: contexts and callbacks live in it.
    const HMODULE module = LoadLibraryA(name.c_str());
    if (!module) {
        const DWORD error = GetLastError();
        _loadFailure = "The FlyCapture SDK library " + name +
                       " could not be loaded: " + systemMessage(error) + " (error " + std::to_string(error) +
                       ")";
        LOG4CPLUS_ERROR(g_OrvexLogger, _loadFailure);
        return;
    }
    _loaded = true;
    std::string missing;
#define ORVEX_FLYCAPTURE_RESOLVE(name)                                                                       \
    _functions.name = reinterpret_cast<decltype(_functions.name)>(                                           \
        reinterpret_cast<void (*)()>(GetProcAddress(module, #name)));                                        \
    if (!_functions.name)                                                                                    \
        missing += (missing.empty() ? "" : ", ") + std::string(#name);
    ORVEX_FLYCAPTURE_FUNCTIONS(ORVEX_FLYCAPTURE_RESOLVE)
#undef ORVEX_FLYCAPTURE_RESOLVE
    if (!missing.empty()) {
        _missingFunctions = "The FlyCapture SDK library " + name + " lacks " + missing;
        LOG4CPLUS_ERROR(g_OrvexLogger, _missingFunctions);
    }
}

} // namespace orvex::flycap::sdk
