// Ownership of one FlyCapture SDK context: creation and destruction.
#include "flycap/SdkContext.h"

#include "flycap/FlyCapTexts.h"

#include <orvex/Loggers.h>

#include <log4cplus/loggingmacros.h>

#include <utility>

namespace orvex::flycap {

SdkContext SdkContext::create(const CallSite& site)
{
    FlyCaptureContext context = nullptr;
    checkSingle(site, flycaptureCreateContext(&context));
    return SdkContext(context);
}

SdkContext::~SdkContext()
{
    destroy();
}

SdkContext::SdkContext(SdkContext&& other) noexcept : _context(std::exchange(other._context, nullptr)) {}

SdkContext& SdkContext::operator=(SdkContext&& other) noexcept
{
    if (this != &other) {
        destroy();
        _context = std::exchange(other._context, nullptr);
    }
    return *this;
}

void SdkContext::destroy() noexcept
{
    if (_context == nullptr) {
        return;
    }
    const FlyCaptureError error = flycaptureDestroyContext(_context);
    _context = nullptr;
    if (error != FLYCAPTURE_OK) {
        try {
            LOG4CPLUS_ERROR(g_OrvexLogger, kLogDestroyContextFailed << sdkErrorText(error));
        } catch (...) {
            // A destructor's log line is not worth a terminate.
        }
    }
}

} // namespace orvex::flycap
