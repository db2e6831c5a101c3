// Ownership of one FlyCapture SDK context: creation and destruction.
#include "flycap/SdkContext.h"

#include "flycap/FlyCapTexts.h"

#include <orvex/Loggers.h>

#include <log4cplus/loggingmacros.h>

#include <utility>

namespace orvex::flycap {

namespace {

void destroyContext(FlyCaptureContext context) noexcept
{
    if (context == nullptr) {
        return;
    }
    const FlyCaptureError error = flycaptureDestroyContext(context);
    if (error != FLYCAPTURE_OK) {
        try {
            LOG4CPLUS_ERROR(g_OrvexLogger, kLogDestroyContextFailed << sdkErrorText(error));
        } catch (...) {
            // A destructor's log line is not worth a terminate.
        }
    }
}

} // namespace

SdkContext SdkContext::create(const CallSite& site)
{
    FlyCaptureContext context = nullptr;
    checkSingle(site, flycaptureCreateContext(&context));
    return SdkContext(context);
}

// Should the share's allocation fail, shared_ptr destroys the context itself.
SdkContext::SdkContext(FlyCaptureContext context) : _context(context), _shared(context, &destroyContext) {}

SdkContext::SdkContext(SdkContext&& other) noexcept
    : _context(std::exchange(other._context, nullptr)), _shared(std::move(other._shared))
{
}

SdkContext& SdkContext::operator=(SdkContext&& other) noexcept
{
    if (this != &other) {
        _shared = std::move(other._shared);
        _context = std::exchange(other._context, nullptr);
    }
    return *this;
}

} // namespace orvex::flycap
