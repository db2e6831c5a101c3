// FlyCapCamera: which frame-information items the camera embeds in its
// images.
#include <orvex/FlyCapCamera.h>

#include "flycap/FlyCapTrace.h"

#include <orvex/iidc/FrameInfo.h>
#include <orvex/iidc/Registers.h>

namespace iidc = orvex::iidc;
namespace frameinfo = orvex::iidc::frameinfo;

void FlyCapCamera::updateFrameInfoFeatures()
{
    FLYCAP_TRACE("FlyCapCamera::updateFrameInfoFeatures(); (portId=", _nPortIdx, ")");
    unsigned long value = 0;
    readRegister(iidc::kFrameInfo, value);
    const bool present = (value & frameinfo::kPresent) != 0;
    _bTimeStampSupported = _bFrameCounterSupported = _bDCAMInfoSupported = _bGPIOStatusSupported = present;
    _bTimeStampEnabled = present && (value & frameinfo::kTimestamp) != 0;
    _bDCAMInfoEnabled = present && (value & frameinfo::kDcamInfo) == frameinfo::kDcamInfo;
    _bFrameCounterEnabled = present && (value & frameinfo::kFrameCounter) != 0;
    _bGPIOStatusEnabled = present && (value & frameinfo::kGpioStatus) != 0;
}
