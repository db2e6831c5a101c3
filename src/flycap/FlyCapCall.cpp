// The FlyCapture SDK call checks: how each call's failure is reported,
// quoting the call's text.
#include "flycap/FlyCapCall.h"

#include "flycap/DeviceRemoval.h"

#include <orvex/Loggers.h>
#include <orvex/OrvexError.h>
#include <orvex/companions/CamGUID.h>

#include <log4cplus/loggingmacros.h>

namespace orvex::flycap {

std::string sdkErrorText(FlyCaptureError error)
{
    const char* text = flycaptureErrorToString(error);
    return text != nullptr ? std::string(text) : std::string();
}

std::string retriedFailureText(uint32_t serialNumber, const char* callText, FlyCaptureError error)
{
    return "cam guid #0x" + CamGUID(serialNumber, 0).to_string() + "; " + callText + ": " +
           sdkErrorText(error);
}

void logFailedAttempt(const std::string& failureText)
{
    LOG4CPLUS_ERROR(g_OrvexLogger, failureText);
}

void failRetriedCall(const CallSite& site, uint32_t serialNumber, const std::string& failureText)
{
    DeviceRemoval::post(serialNumber);
    failCall(site, failureText);
}

void failCall(const CallSite& site, const std::string& failureText)
{
    throw OrvexError(site.line, site.unit, failureText, &g_OrvexLogger, kLevelError);
}

void checkSingle(const CallSite& site, FlyCaptureError error)
{
    if (error != FLYCAPTURE_OK) {
        failCall(site, sdkErrorText(error));
    }
}

} // namespace orvex::flycap
