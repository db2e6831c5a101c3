// How every FlyCapture SDK call of the back end reports failure, in one
// place. A call returns an error code (FLYCAPTURE_OK on success); each call
// site uses one of these styles:
//
// - retried (callRetried): made up to twice. A failed attempt that is not the
//   last is logged at ERROR on "Orvex"; after the last one the server's
//   device-removal message is posted for the camera and OrvexError is thrown
//   with "cam guid #0x<guid>; <call text>: <SDK text>". Used by the cache
//   refreshers (packet information, shutter, gain, brightness, frame rate
//   and the raw-to-real maps) and, with three attempts, by the block
//   transfers of writeUserMemory.
// - single (checkSingle): made once; OrvexError with the SDK's text alone,
//   nothing logged or posted. Used for context creation and binding, the bus
//   callback switch, the camera count, the Format_7 query, init's exposure
//   reset and the block read of readUserMemory.
// - setter (checkSetter): made once; OrvexError with the setter's prefix, the
//   SDK's text and " (error code = <code>)". For the public setters.
// - register access (callRegisterAccess): two attempts with the register
//   operation's own text; logged between attempts, no device-removal message.
//
// Not checked here: the enumeration, whose failure is logged and yields an
// empty list; testCommunication's single read, reported as false; and
// destroying a context, whose failure is logged (see SdkContext).
//
// Every failure is thrown with the caller's place: pass FLYCAP_SITE(unit).
// Any thread: nothing here keeps state. Failure texts are built and the
// removal posted only on failure.
#pragma once

#include "PGRFlyCapture.h"

#include <cstdint>
#include <string>

namespace orvex::flycap {

// Where an SDK call is made: the error a failure throws names this place.
struct CallSite {
    const char* unit;
    int line;
};

// The calling line, under the caller's source unit.
#define FLYCAP_SITE(unit) (::orvex::flycap::CallSite{(unit), __LINE__})

// The SDK's text for an error code.
std::string sdkErrorText(FlyCaptureError error);

// "cam guid #0x" + the CamGUID text of (serialNumber, 0) + "; " + callText +
// ": " + the SDK's text.
std::string retriedFailureText(uint32_t serialNumber, const char* callText, FlyCaptureError error);

// Logs the failure text of an attempt that will be repeated.
void logFailedAttempt(const std::string& failureText);

// After the last failed attempt of a retried call: posts the device-removal
// message for the camera, then throws with the failure text.
[[noreturn]] void failRetriedCall(const CallSite& site, uint32_t serialNumber,
                                  const std::string& failureText);

// Throws the failure text of a call that is not tried again.
[[noreturn]] void failCall(const CallSite& site, const std::string& failureText);

constexpr unsigned kRetriedAttempts = 2;
constexpr unsigned kBlockTransferAttempts = 3;

// Retried call of `call` (returns FlyCaptureError) for the camera with
// `serialNumber`.
template <class Call>
void callRetried(const CallSite& site, uint32_t serialNumber, const char* callText, Call&& call,
                 unsigned attempts = kRetriedAttempts)
{
    for (unsigned attempt = 1;; ++attempt) {
        const FlyCaptureError error = call();
        if (error == FLYCAPTURE_OK) {
            return;
        }
        const std::string text = retriedFailureText(serialNumber, callText, error);
        if (attempt >= attempts) {
            failRetriedCall(site, serialNumber, text);
        }
        logFailedAttempt(text);
    }
}

// Single call: throws the SDK's text when `error` is a failure.
void checkSingle(const CallSite& site, FlyCaptureError error);

// Setter call: throws prefix + SDK text + " (error code = " + code + ")"
// when `error` is a failure. `prefix` (returns std::string) runs only then.
template <class Prefix> void checkSetter(const CallSite& site, FlyCaptureError error, Prefix&& prefix)
{
    if (error != FLYCAPTURE_OK) {
        failCall(site, prefix() + sdkErrorText(error) +
                           " (error code = " + std::to_string(static_cast<unsigned>(error)) + ")");
    }
}

// Register access: two attempts; `text` (returns the text before the SDK's,
// e.g. "Error in FlyCapCamera::readRegister(0x...): ") runs only on failure.
template <class Call, class Text> void callRegisterAccess(const CallSite& site, Call&& call, Text&& text)
{
    for (unsigned attempt = 1;; ++attempt) {
        const FlyCaptureError error = call();
        if (error == FLYCAPTURE_OK) {
            return;
        }
        const std::string failure = text() + sdkErrorText(error);
        if (attempt >= kRetriedAttempts) {
            failCall(site, failure);
        }
        logFailedAttempt(failure);
    }
}

} // namespace orvex::flycap
