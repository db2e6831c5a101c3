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
    : loadFailure_("The FlyCapture SDK library " PGRFLYCAPTURE_LIBRARY_NAME " is loaded"),
      missingFunctions_("The FlyCapture SDK library " PGRFLYCAPTURE_LIBRARY_NAME " has every function")
{
    // Kept for the life of the process: contexts and callbacks live in it.
    const HMODULE module = LoadLibraryA(PGRFLYCAPTURE_LIBRARY_NAME);
    if (!module) {
        const DWORD error = GetLastError();
        loadFailure_ = "The FlyCapture SDK library " PGRFLYCAPTURE_LIBRARY_NAME " could not be loaded: " +
                       systemMessage(error) + " (error " + std::to_string(error) + ")";
        LOG4CPLUS_ERROR(g_OrvexLogger, loadFailure_);
        return;
    }
    loaded_ = true;
    std::string missing;
#define ORVEX_FLYCAPTURE_RESOLVE(name)                                                                       \
    functions_.name = reinterpret_cast<decltype(functions_.name)>(                                           \
        reinterpret_cast<void (*)()>(GetProcAddress(module, #name)));                                        \
    if (!functions_.name)                                                                                    \
        missing += (missing.empty() ? "" : ", ") + std::string(#name);
    ORVEX_FLYCAPTURE_FUNCTIONS(ORVEX_FLYCAPTURE_RESOLVE)
#undef ORVEX_FLYCAPTURE_RESOLVE
    if (!missing.empty()) {
        missingFunctions_ = "The FlyCapture SDK library " PGRFLYCAPTURE_LIBRARY_NAME " lacks " + missing;
        LOG4CPLUS_ERROR(g_OrvexLogger, missingFunctions_);
    }
}

} // namespace orvex::flycap::sdk
