// The SDK's error code for a camera model status.
#pragma once

#include "PGRFlyCapture.h"

#include <orvex/sim/Camera.h>

namespace orvex::sim::flycap {

inline FlyCaptureError toError(Status status)
{
    switch (status) {
    case Status::ok:
        return FLYCAPTURE_OK;
    case Status::notConnected:
        return FLYCAPTURE_DEVICE_REMOVED;
    case Status::addressError:
        return FLYCAPTURE_ADDRESS_ERROR;
    case Status::invalidArgument:
        return FLYCAPTURE_INVALID_ARGUMENT;
    case Status::notPresent:
        return FLYCAPTURE_PROPERTY_NOT_PRESENT;
    case Status::outOfRange:
        return FLYCAPTURE_VALUE_OUT_OF_RANGE;
    case Status::invalidMode:
        return FLYCAPTURE_INVALID_MODE;
    case Status::invalidGeometry:
        return FLYCAPTURE_INVALID_CUSTOM_SIZE;
    case Status::bandwidthExceeded:
        return FLYCAPTURE_BANDWIDTH_EXCEEDED;
    case Status::alreadyStreaming:
        return FLYCAPTURE_ALREADY_STARTED;
    case Status::notStreaming:
        return FLYCAPTURE_NOT_STARTED;
    case Status::poweredOff:
        return FLYCAPTURE_FAILED;
    }
    return FLYCAPTURE_FAILED;
}

} // namespace orvex::sim::flycap
