// The texts of the FlyCapture SDK's error codes: every implementation of the
// SDK answers flycaptureErrorToString with these.
#pragma once

#include "PGRFlyCapture.h"

inline const char* flycaptureErrorText(FlyCaptureError error)
{
    switch (error) {
    case FLYCAPTURE_OK:
        return "Function completed successfully";
    case FLYCAPTURE_FAILED:
        return "Function failed";
    case FLYCAPTURE_INVALID_ARGUMENT:
        return "Invalid argument passed to the function";
    case FLYCAPTURE_INVALID_CONTEXT:
        return "Invalid context: not created or already destroyed";
    case FLYCAPTURE_NOT_IMPLEMENTED:
        return "Function not implemented";
    case FLYCAPTURE_NOT_INITIALIZED:
        return "Context not initialized with a camera";
    case FLYCAPTURE_ALREADY_INITIALIZED:
        return "Context already initialized with a camera";
    case FLYCAPTURE_NOT_STARTED:
        return "Image transfer not started";
    case FLYCAPTURE_ALREADY_STARTED:
        return "Image transfer already started";
    case FLYCAPTURE_INVALID_BUS_INDEX:
        return "No camera at this bus index";
    case FLYCAPTURE_INVALID_MODE:
        return "Video mode or pixel format not supported by the camera";
    case FLYCAPTURE_INVALID_CUSTOM_SIZE:
        return "Custom image size, position or packet size not accepted by the camera";
    case FLYCAPTURE_BUFFER_SIZE_TOO_SMALL:
        return "Buffer too small for the result";
    case FLYCAPTURE_DEVICE_REMOVED:
        return "The camera has been removed from the bus";
    case FLYCAPTURE_ADDRESS_ERROR:
        return "The camera has no register at this address";
    case FLYCAPTURE_BUS_ERROR:
        return "Bus transaction failed";
    case FLYCAPTURE_BANDWIDTH_EXCEEDED:
        return "Not enough isochronous bandwidth left on the bus";
    case FLYCAPTURE_NO_FREE_BUFFER:
        return "Every image buffer is locked";
    case FLYCAPTURE_PROPERTY_NOT_PRESENT:
        return "The camera does not have this property";
    case FLYCAPTURE_VALUE_OUT_OF_RANGE:
        return "Property value out of the camera's range";
    case FLYCAPTURE_BUFFER_NOT_LOCKED:
        return "Image buffer not locked";
    case FLYCAPTURE_TIMEOUT:
        return "Grab timed out: no new image";
    case FLYCAPTURE_SDK_NOT_LOADED:
        return "The FlyCapture SDK library could not be loaded";
    case FLYCAPTURE_SDK_FUNCTION_MISSING:
        return "The FlyCapture SDK library lacks a function";
    }
    return "Unknown FlyCapture error code";
}
