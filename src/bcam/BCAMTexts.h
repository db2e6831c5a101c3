// BCAM back end: every text a host can see (error messages and error log
// lines), in one place. Plain constants: any thread.
#pragma once

namespace orvex::bcam {

// --- Source units ------------------------------------------------------------------

constexpr const char* kCameraUnit = "BCAMCamera";
constexpr const char* kServerUnit = "BCAMVideoServer";

// --- Window classes ----------------------------------------------------------------

constexpr const char* kCameraWndClass = "BCAMCameraWndClass";
constexpr const char* kServerWndClass = "BCAMVideoServerWndClass";

// --- Device exceptions ----------------------------------------------------------------

// Followed by the operation's name, ": " and the exception's description.
constexpr const char* kErrCalling = "error calling BCAMCamera::";
constexpr const char* kErrStartAllocating =
    "Error in BCAMCamera::startAcquisition, while allocating resources:";
constexpr const char* kErrStartContinuousShot =
    "Error in BCAMCamera::startAcquisition, while switching to continuous shot:";
constexpr const char* kErrStartGrab =
    "Error in BCAMCamera::startAcquisition, while requesting async image grab:";
// Followed by a double quote and the description.
constexpr const char* kErrStop = "error in BCAMCamera::stopAcquisition: ";
constexpr const char* kErrBytesPerFrame = "error calling BCAMCamera::getNbBytesPerFrame";

// --- Refusals of the camera ----------------------------------------------------------

constexpr const char* kErrAlreadyAcquiring = "camera already acquiring";
constexpr const char* kErrNotAcquiring = "camera not acquiring";
constexpr const char* kErrNotInitialized = "camera not initialized";
// Two blanks before "if", as hosts have always seen it.
constexpr const char* kErrInitFirst = "cannot invoke this method  if camera is not initialized";
constexpr const char* kErrFormat7Required = "camera must be in format7";
constexpr const char* kErrVideoFormat = "video format not supported";
constexpr const char* kErrFrameRate = "video frame rate not supported";
constexpr const char* kErrVideoCfg = "video cfg not supported";
constexpr const char* kErrPixelFormat = "invalid pixel format";
constexpr const char* kErrColorCode = "invalid color code";
constexpr const char* kErrUnknownPixelFormat = "unknown pixel format";
constexpr const char* kErrTriggerMode = "trigger mode not supported";
constexpr const char* kErrGainSelector = "invalid gainSelector";
constexpr const char* kErrInterPacketDelay =
    "interPacketDelay feature not supported by this driver or by this camera";
constexpr const char* kErrTimeBase = "shutter time base must equal to 20";
constexpr const char* kErrFirmware = "invalid camera firmware version";
// Range refusals: text, value, ending, bound.
constexpr const char* kErrShutterValue = "invalid shutter value; equals to ";
constexpr const char* kErrGainValue = "invalid gain value; equals to ";
constexpr const char* kErrBelowMin = " and should be greater than ";
constexpr const char* kErrAboveMax = " and should be lower than ";

// --- Log lines ------------------------------------------------------------------------

constexpr const char* kLogTestCommunication = "Error caught in BCAMCamera::testCommunication: ";
constexpr const char* kLogDestructor = "Erreur dans le destructeur de BCAMCamera: ";
constexpr const char* kLogUnknownBuffer = "buffer id not found in allocated buffers queue (";
constexpr const char* kLogImageReceived = "BCAM image received";
constexpr const char* kLogNotificationRemoved = "BCAM CWM_NEW_IMAGE_AVAILABLE removed";

// --- Server refusals ------------------------------------------------------------------

constexpr const char* kErrResetFirst = "you must call reset before";
// Followed by the driver's description of a failed enumeration or open.
constexpr const char* kErrReset = "error calling BCAMVideoServer::reset: ";

} // namespace orvex::bcam
