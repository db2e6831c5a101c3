// FlyCapture back end: every text a host can see (error messages, the call
// texts quoted by failed SDK calls, error log lines), in one place. Trace
// lines stay with the operation that writes them. Plain constants: any
// thread.
#pragma once

namespace orvex::flycap {

// --- Source units ----------------------------------------------------------------

constexpr const char* kServerUnit = "FlyCapVideoServer";
constexpr const char* kCameraUnit = "FlyCapCamera";

// --- Refusals of the camera ----------------------------------------------------------

constexpr const char* kErrInitFirst = "\"init\" method must be called before";
constexpr const char* kErrAcquiring = "cannot be invoked while camera is acquiring";
constexpr const char* kErrAlreadyAcquiring = "camera acquisition already started";
constexpr const char* kErrNotAcquiring = "camera not acquiring";
constexpr const char* kErrNoFormat7 = "format 7 not supported by this camera";
constexpr const char* kErrPixelFormatNotImplemented =
    "support for this pixel format is not implemented in this class yet";
constexpr const char* kErrPixelFormatUnsupported = "requested pixel format is not supported by the camera";
constexpr const char* kErrShutterAbsent = "shutter property not available for this camera";
constexpr const char* kErrGainAbsent = "gain property not available for this camera";
constexpr const char* kErrGainIgnored = "gain value is ignored!";
constexpr const char* kErrInvalidGainSelector = "invalid gainSelector";
constexpr const char* kErrBrightnessAbsent = "brightness property not available for this camera";
// getBrightnessMin's own spelling, kept as hosts have always seen it.
constexpr const char* kErrBrightnessMinAbsent = "frightness property not available for this camera";
constexpr const char* kErrFrameRateUnsupported = "frame rate feature not supported";
constexpr const char* kErrFrameRateDisabled = "frame rate feature not enabled";
constexpr const char* kErrAutoExposureUnsupported = "auto exposure is not supported";
constexpr const char* kErrTemperatureUnavailable = "temperature feature is not available";
// Range refusals of the exposure setters and refreshers: the text, then
// "<value> < <bound>)" or "<value> > <bound>)".
constexpr const char* kErrShutterBelowMin = "shutter lower than min shutter allowed (";
constexpr const char* kErrShutterAboveMax = "shutter greater than max shutter allowed (";
constexpr const char* kErrCachedShutterBelowMin = "shutter value lower than min shutter allowed (";
constexpr const char* kErrCachedShutterAboveMax = "shutter value greater than max shutter allowed (";
constexpr const char* kErrGainBelowMin = "gain value lower than min gain allowed (";
constexpr const char* kErrGainAboveMax = "gain value greater than max gain allowed (";
constexpr const char* kErrBrightnessBelowMin = "brightness value lower than min brightness allowed (";
constexpr const char* kErrBrightnessAboveMax = "brightness value greater than max brightness allowed (";
constexpr const char* kErrFrameRateBelowMin = "frameRate lower than min frameRate allowed (";
constexpr const char* kErrFrameRateAboveMax = "frameRate greater than max frameRate allowed (";
constexpr const char* kErrInterPacketDelay = "inter packet delay not supported by the camera";
constexpr const char* kErrColorCodeUnsupported = "requested color code is not supported by the camera";
constexpr const char* kErrColorCodePixelFormatNotImplemented =
    "support for this pixel format is not implemented yet";
// Geometry refusals: the text, then the values it names and ")".
constexpr const char* kErrWidthBeyondMax = "invalid image width: xImgOffset + requested width would be "
                                           "greater than max allowed img width (";
constexpr const char* kErrHeightBeyondMax = "invalid image height: yImgOffset + requested height would be "
                                            "greater than max allowed img height (";
constexpr const char* kErrWidthNotUnit = "requested width is not a multiple of unit img width (";
constexpr const char* kErrHeightNotUnit = "requested height is not a multiple of unit img height (";
constexpr const char* kErrLeftBeyondMax = "invalid image x offset: requested xImgOffset + imgWidth would be "
                                          "greater than max allowed img width (";
constexpr const char* kErrTopBeyondMax = "invalid image y offset: requested yImgOffset + imgHeight would be "
                                         "greater than max allowed img height (";
constexpr const char* kErrPacketAboveMax = "requested packet size is greater than max allowed (";
constexpr const char* kErrPacketBelowMin = "requested packet size is lower than min allowed (";
constexpr const char* kErrPacketNotUnit =
    "requested packet size is not a multiple of unit packet size allowed (";
constexpr const char* kNotAMultipleOf = " not a multiple of ";
// Refusals of the trigger getters ("the camera") and of init's trigger
// reset ("this camera").
constexpr const char* kErrTriggerAbsent = "trigger feature is not supported by the camera";
constexpr const char* kErrTriggerUnreadable = "trigger params are not readable on the camera";
constexpr const char* kErrTriggerAbsentHere = "trigger feature is not supported by this camera";
constexpr const char* kErrTriggerUnreadableHere = "trigger params are not readable on this camera";
constexpr const char* kErrTriggerNotSwitchable = "trigger cannot be turned on/off on this camera";
constexpr const char* kErrTriggerModeNotImplemented =
    "support for default trigger mode of this camera is not implemented yet";
constexpr const char* kErrTriggerPolarityFixed = "trigger polarity cannot be changed";
// "requested trigger mode (" + the mode + this.
constexpr const char* kErrTriggerModeUnsupported = "requested trigger mode (";
constexpr const char* kErrTriggerModeUnsupportedEnd = ") is not supported by the camera";
constexpr const char* kErrSoftwareTriggerUnsupported = "software trigger is not supported";
constexpr const char* kErrSoftwareTriggerBroadcastUnsupported = "software trigger broadcast is not supported";
// Strobe outputs. A pin not in the list: the pin, then this (the closing
// parenthesis never came).
constexpr const char* kErrInvalidGpioId =
    " is an invalid gpioId (does not exist or not configured in output mode";
// This, then the pin.
constexpr const char* kErrStrobeUnsupportedOnPin = "strobe output not supported by the camera on gpioId #";
// "FlyCapCamera::getStrobeOutputPortId(" + the index + this.
constexpr const char* kErrStrobePortIdxPrefix = "FlyCapCamera::getStrobeOutputPortId(";
constexpr const char* kErrStrobePortIdxEnd = "): invalid idx";
// Said for delays too.
constexpr const char* kErrStrobeTimeTooLong = "nDuration cannot exceed 63930";
constexpr const char* kErrStrobeRawTooLarge = "nRawData cannot exceed 0xFFF";
// "FlyCapCamera::" + operation + this: operations later versions provide.
constexpr const char* kErrNotAvailableYet = " is not available yet";
// After "readUserMemory" or "writeUserMemory".
constexpr const char* kErrUserMemoryRange = ": offset + data size exceeds memory range (";
constexpr const char* kErrUserMemoryNoBuffer = ": no data buffer given for ";

// Refusals of startAcquisition: the text, then "<sum> > <maximum>)".
constexpr const char* kErrPacketSumOnBus =
    "sum of packet sizes of acquiring cameras on bus exceeds max allowed (";
// Errors that end the acquisition thread.
constexpr const char* kErrInvalidPixelFormat = "invalid pixel format";
constexpr const char* kErrWow64NoBuffer = "flyCapAcquiFunctionWow64: no more available buffer!!!";

// --- Prefixes of failed setter calls: the text, the value, then "): " --------

constexpr const char* kSetterShutter = "error calling FlyCapCamera::setShutter(";
constexpr const char* kSetterGain = "error calling FlyCapCamera::setGain(";
constexpr const char* kSetterFrameRate = "error calling FlyCapCamera::setFrameRate(";
constexpr const char* kSetterPrefixEnd = "): ";

// --- Refusals of the server --------------------------------------------------------

constexpr const char* kErrResetFirst = "you must call reset before";
constexpr const char* kErrRemoveCamera = "FlyCapVideoServer::removeCamera: ";

// --- Error log lines ------------------------------------------------------------------

constexpr const char* kLogDestroyContextFailed = "flycaptureDestroyContext(_fcContext): ";
constexpr const char* kLogEnumerationFailed = "Error calling flycaptureBusEnumerateCamerasEx(bufferSize=";
constexpr const char* kLogEnumerationFound = "); (nb cams finally found: ";

// The acquisition thread's: each followed by the SDK's text.
constexpr const char* kLogUnlockAllFailed = "flycaptureUnlockAll() returned an error: ";
constexpr const char* kLogStopFailed = "flycaptureStop() returned an error: ";
constexpr const char* kLogLockLatestFailed = "flycaptureLockLatest(...) returned an error: ";
// "port # " port "invalid raw shutter: " raw " (rawShutter in register: " raw ")\r\n"
constexpr const char* kLogInvalidRawShutterPort = "port # ";
constexpr const char* kLogInvalidRawShutter = "invalid raw shutter: ";
constexpr const char* kLogInvalidRawShutterRegister = " (rawShutter in register: ";
constexpr const char* kLogInvalidRawShutterEnd = ")\r\n";
// The line of "Orvex.stream" for every image, in its order.
constexpr const char* kStreamNewImage = "acquiFunction; new image grabbed; portId = ";
constexpr const char* kStreamImgId = ";\timgId = ";
constexpr const char* kStreamFrameCounter = ";\tframeCounter = ";
constexpr const char* kStreamSwDate = ";\tsw date = ";
constexpr const char* kStreamHwDate = ";\thw date = ";
constexpr const char* kStreamShutter = ";\t shutter = ";
constexpr const char* kStreamGain = ";\t gain = ";
constexpr const char* kStreamTrigger = ";\t extTrigger: ";
constexpr const char* kStreamStrobe0 = ";\t strobe0: ";
constexpr const char* kStreamStrobe1 = ";\t strobe1: ";
constexpr const char* kStreamOn = "ON";
constexpr const char* kStreamOff = "OFF";

// --- Call texts of retried calls -------------------------------------------------

constexpr const char* kCallPacketInfo =
    "flycaptureGetCustomImagePacketInfo(_fcContext, 0, static_cast<unsigned long>(_xImgSz), "
    "static_cast<unsigned long>(_yImgSz), _fcPixFormat, &_fcPacketInfo)";
constexpr const char* kCallShutterRange =
    "flycaptureGetCameraAbsPropertyRange(_fcContext, FLYCAPTURE_SHUTTER, "
    "&bPresent, &fMinShutter, &fMaxShutter, 0, 0)";
constexpr const char* kCallSetAbsShutter = "flycaptureSetCameraAbsPropertyEx(_fcContext, FLYCAPTURE_SHUTTER, "
                                           "false, true, false, static_cast<float>(_nShutter*.001))";
constexpr const char* kCallGetRawShutter =
    "flycaptureGetCameraProperty(_fcContext, FLYCAPTURE_SHUTTER, &rawShutter, &dummy, &bAuto)";
constexpr const char* kCallSetRawShutter =
    "flycaptureSetCameraProperty(_fcContext, FLYCAPTURE_SHUTTER, rawShutter, dummy, bAuto)";
constexpr const char* kCallGainRange =
    "flycaptureGetCameraAbsPropertyRange(_fcContext, FLYCAPTURE_GAIN, &bPresent, &fMinGain, &fMaxGain, 0, 0)";
constexpr const char* kCallGetRawGain =
    "flycaptureGetCameraProperty(_fcContext, FLYCAPTURE_GAIN, &rawGain, &dummy, &bAuto)";
constexpr const char* kCallBrightnessRange = "flycaptureGetCameraAbsPropertyRange(_fcContext, "
                                             "FLYCAPTURE_BRIGHTNESS, &bPresent, &fMinBrightness, "
                                             "&fMaxBrightness, 0, 0)";
constexpr const char* kCallGetBrightness =
    "flycaptureGetCameraAbsProperty(_fcContext, FLYCAPTURE_BRIGHTNESS, &fBrightness)";
constexpr const char* kCallFrameRateRange =
    "flycaptureGetCameraAbsPropertyRange(_fcContext, FLYCAPTURE_FRAME_RATE, "
    "&_bFrameRateRegisterImplemented, &fMinFrameRate, &fMaxFrameRate, 0, 0)";
constexpr const char* kCallFrameRateEnabled =
    "flycaptureGetCameraPropertyRangeEx(_fcContext, "
    "FLYCAPTURE_FRAME_RATE, 0, 0, 0, &_bFrameRateEnabled, 0, 0, 0, 0)";
constexpr const char* kCallGetFrameRate =
    "flycaptureGetCameraAbsProperty(_fcContext, FLYCAPTURE_FRAME_RATE, &fFrameRate)";
constexpr const char* kCallSetAbsBrightness = "flycaptureSetCameraAbsPropertyEx(_fcContext, "
                                              "FLYCAPTURE_BRIGHTNESS, false, true, false, "
                                              "static_cast<float>(fValue))";
constexpr const char* kCallGetFrameRateControl = "flycaptureGetCameraPropertyEx(_fcContext, "
                                                 "FLYCAPTURE_FRAME_RATE, &bOnePush, &bOnOff, &bAuto, "
                                                 "&nValueA, &nValueB)";
constexpr const char* kCallSetFrameRateControl = "flycaptureSetCameraPropertyEx(_fcContext, "
                                                 "FLYCAPTURE_FRAME_RATE, bOnePush, bEnable, bAuto, "
                                                 "nValueA, nValueB)";
constexpr const char* kCallReadUserMemory = "flycaptureReadRegisterBlock(_fcContext, 0xFFFF, "
                                            "static_cast<unsigned long>(nRegBlockOffset), oldData.get(), "
                                            "static_cast<unsigned long>(nRegBlockSz))";
constexpr const char* kCallWriteUserMemory = "flycaptureWriteRegisterBlock(_fcContext, 0xFFFF, "
                                             "static_cast<unsigned long>(nRegBlockOffset), oldData.get(), "
                                             "static_cast<unsigned long>(nRegBlockSz))";

} // namespace orvex::flycap
