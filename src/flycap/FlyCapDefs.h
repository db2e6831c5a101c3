// FlyCapture back end: the window messages, window classes, sizes, call texts
// and messages that more than one place uses. Register addresses and bits
// come from <orvex/iidc/Registers.h>. Plain constants: any thread.
#pragma once

#include <orvex/win32.h>

#include <cstdint>

namespace orvex::flycap {

// --- Hidden windows ------------------------------------------------------------

constexpr const char* kServerWndClass = "FlyCapVideoServerWndClass";
constexpr const char* kCameraWndClass = "FlyCaptureCameraWndClass";

// Messages of the server's window; wParam 0, lParam the camera's serial number.
constexpr UINT kMsgDeviceArrival = 0x8001;
constexpr UINT kMsgDeviceRemoval = 0x8002;

// --- Sizes ---------------------------------------------------------------------------

// Bytes per packet that the acquiring cameras of one bus may use together.
constexpr unsigned int kMaxPacketSzOnBus = 9830;
// Enumeration entries allocated per camera the SDK counts.
constexpr unsigned int kEnumerationEntriesPerCamera = 5;
// SDK image buffers: under WOW64, else the images buffer's sizes plus this.
constexpr uint32_t kWow64NbImgBuffers = 5;
constexpr uint32_t kExtraNbImgBuffers = 4;
// The shutter is given in microseconds: its time base is fixed.
constexpr float kShutterTimeBase = 1e-6f;

// --- Source units ------------------------------------------------------------

constexpr const char* kServerUnit = "FlyCapVideoServer";
constexpr const char* kCameraUnit = "FlyCapCamera";

// --- Messages ------------------------------------------------------------------

constexpr const char* kErrInitFirst = "\"init\" method must be called before";
constexpr const char* kErrAcquiring = "cannot be invoked while camera is acquiring";
constexpr const char* kErrPixelFormatNotImplemented =
    "support for this pixel format is not implemented in this class yet";
constexpr const char* kErrShutterAbsent = "shutter property not available for this camera";
constexpr const char* kErrGainAbsent = "gain property not available for this camera";
constexpr const char* kErrInvalidGainSelector = "invalid gainSelector";
constexpr const char* kErrBrightnessAbsent = "brightness property not available for this camera";
constexpr const char* kErrFrameRateUnsupported = "frame rate feature not supported";
constexpr const char* kErrInterPacketDelay = "inter packet delay not supported by the camera";
// Refusals of the trigger getters and setters ("the camera") and of the
// trigger switch ("this camera").
constexpr const char* kErrTriggerAbsent = "trigger feature is not supported by the camera";
constexpr const char* kErrTriggerUnreadable = "trigger params are not readable on the camera";
constexpr const char* kErrTriggerAbsentHere = "trigger feature is not supported by this camera";
constexpr const char* kErrTriggerUnreadableHere = "trigger params are not readable on this camera";
constexpr const char* kErrTriggerNotSwitchable = "trigger cannot be turned on/off on this camera";

// --- Call texts quoted by retried calls used in more than one place -----------

constexpr const char* kCallShutterRange =
    "flycaptureGetCameraAbsPropertyRange(_fcContext, FLYCAPTURE_SHUTTER, "
    "&bPresent, &fMinShutter, &fMaxShutter, 0, 0)";
constexpr const char* kCallGetRawShutter =
    "flycaptureGetCameraProperty(_fcContext, FLYCAPTURE_SHUTTER, &rawShutter, &dummy, &bAuto)";

} // namespace orvex::flycap
