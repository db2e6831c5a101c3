// FlyCapCamera: which frame-information items the camera embeds in its
// images.
#include "flycap/FlyCapCameraPrivate.h"

#include "flycap/FlyCapTexts.h"
#include "flycap/FlyCapTrace.h"

#include <orvex/iidc/FrameInfo.h>
#include <orvex/iidc/Registers.h>

namespace iidc = orvex::iidc;
namespace frameinfo = orvex::iidc::frameinfo;

void FlyCapCamera::updateFrameInfoFeatures()
{
    FLYCAP_TRACE("FlyCapCamera::updateFrameInfoFeatures(); (portId=", _pState->_nPortIdx, ")");
    unsigned long value = 0;
    readRegister(iidc::kFrameInfo, value);
    const bool present = (value & frameinfo::kPresent) != 0;
    _pState->_bTimeStampSupported = _pState->_bFrameCounterSupported = _pState->_bDCAMInfoSupported =
        _pState->_bGPIOStatusSupported = present;
    _pState->_bTimeStampEnabled = present && (value & frameinfo::kTimestamp) != 0;
    _pState->_bDCAMInfoEnabled = present && (value & frameinfo::kDcamInfo) == frameinfo::kDcamInfo;
    _pState->_bFrameCounterEnabled = present && (value & frameinfo::kFrameCounter) != 0;
    _pState->_bGPIOStatusEnabled = present && (value & frameinfo::kGpioStatus) != 0;
}
