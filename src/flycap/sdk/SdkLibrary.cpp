// Loading the FlyCapture SDK library at the first call of any SDK function
// and binding its functions.
#include "flycap/sdk/SdkLibrary.h"

#include <orvex/Loggers.h>
#include <orvex/win32.h>

#include <log4cplus/loggingmacros.h>

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

SdkLibrary::SdkLibrary()
    : _loadFailure("The FlyCapture SDK library " PGRFLYCAPTURE_LIBRARY_NAME " is loaded"),
      _missingFunctions("The FlyCapture SDK library " PGRFLYCAPTURE_LIBRARY_NAME " has every function")
{
    // Kept for the life of the process: contexts and callbacks live in it.
    const HMODULE module = LoadLibraryA(PGRFLYCAPTURE_LIBRARY_NAME);
    if (!module) {
        const DWORD error = GetLastError();
        _loadFailure = "The FlyCapture SDK library " PGRFLYCAPTURE_LIBRARY_NAME " could not be loaded: " +
                       systemMessage(error) + " (error " + std::to_string(error) + ")";
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
        _missingFunctions = "The FlyCapture SDK library " PGRFLYCAPTURE_LIBRARY_NAME " lacks " + missing;
        LOG4CPLUS_ERROR(g_OrvexLogger, _missingFunctions);
    }
}

} // namespace orvex::flycap::sdk
