// How every FlyCapture SDK call of the back end reports failure, in one
// place. A call returns an error code (FLYCAPTURE_OK on success); each call
// site picks one of these styles and quotes its call text:
//
// - retried: made up to twice (three times for user-memory block transfers).
//   A failed attempt that is not the last is logged at ERROR on "Orvex"; after
//   the last one the server's device-removal message is posted for the camera
//   and OrvexError is thrown with "cam guid #0x<guid>; <call text>: <SDK text>".
// - single: made once; OrvexError with the SDK's text alone, nothing logged
//   or posted.
// - setter: made once; OrvexError with the setter's prefix, the SDK's text and
//   " (error code = <code>)".
// - register access: two attempts with the register operation's own text, no
//   device-removal message.
//
// Any thread: nothing here keeps state. Building the failure text and posting
// are done only on failure.
#pragma once

#include "PGRFlyCapture.h"

#include <cstdint>
#include <string>

namespace orvex::flycap {

// The SDK's text for an error code.
std::string sdkErrorText(FlyCaptureError error);

// "cam guid #0x" + the CamGUID text of (serialNumber, 0) + "; " + callText +
// ": " + the SDK's text.
std::string retriedFailureText(uint32_t serialNumber, const char* callText, FlyCaptureError error);

// Logs the failure text of an attempt that will be repeated.
void logFailedAttempt(const std::string& failureText);

// After the last failed attempt of a retried call: posts the device-removal
// message for the camera, then throws with the failure text.
[[noreturn]] void failRetriedCall(uint32_t serialNumber, const std::string& failureText);

// Throws the failure text of a call that is not retried again.
[[noreturn]] void failCall(const std::string& failureText);

constexpr unsigned kRetriedAttempts = 2;
constexpr unsigned kBlockTransferAttempts = 3;

// Retried call of `call` (returns FlyCaptureError) for the camera with
// `serialNumber`; see above.
template <class Call>
void callRetried(uint32_t serialNumber, const char* callText, Call&& call,
                 unsigned attempts = kRetriedAttempts)
{
    for (unsigned attempt = 1;; ++attempt) {
        const FlyCaptureError error = call();
        if (error == FLYCAPTURE_OK) {
            return;
        }
        const std::string text = retriedFailureText(serialNumber, callText, error);
        if (attempt >= attempts) {
            failRetriedCall(serialNumber, text);
        }
        logFailedAttempt(text);
    }
}

// Single call: throws the SDK's text when `error` is a failure.
void checkSingle(FlyCaptureError error);

// Setter call: throws prefix + SDK text + " (error code = " + code + ")"
// when `error` is a failure. `prefix` (returns std::string) runs only then.
template <class Prefix> void checkSetter(FlyCaptureError error, Prefix&& prefix)
{
    if (error != FLYCAPTURE_OK) {
        failCall(prefix() + sdkErrorText(error) +
                 " (error code = " + std::to_string(static_cast<unsigned>(error)) + ")");
    }
}

// Register access: two attempts; `text` (returns the text before the SDK's,
// e.g. "Error in FlyCapCamera::readRegister(0x...): ") runs only on failure.
template <class Call, class Text> void callRegisterAccess(Call&& call, Text&& text)
{
    for (unsigned attempt = 1;; ++attempt) {
        const FlyCaptureError error = call();
        if (error == FLYCAPTURE_OK) {
            return;
        }
        const std::string failure = text() + sdkErrorText(error);
        if (attempt >= kRetriedAttempts) {
            failCall(failure);
        }
        logFailedAttempt(failure);
    }
}

} // namespace orvex::flycap
