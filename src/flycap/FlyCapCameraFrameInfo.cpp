// FlyCapCamera: which frame-information items the camera embeds in its
// images, the smart features they stand for, and decoding them from an
// image.
#include "flycap/FlyCapCameraPrivate.h"

#include "flycap/FlyCapCall.h"
#include "flycap/FlyCapTexts.h"
#include "flycap/FlyCapTrace.h"

#include <orvex/ImageSample.h>
#include <orvex/OrvexError.h>
#include <orvex/iidc/FrameInfo.h>
#include <orvex/iidc/Registers.h>

#include <log4cplus/loggingmacros.h>

#include <cstddef>

using namespace orvex::flycap;
using orvex::ScopedLock;
namespace iidc = orvex::iidc;
namespace frameinfo = orvex::iidc::frameinfo;

namespace {

// Milliseconds per cycle offset tick (0.125 ms / 3072) and per cycle.
constexpr double kMsPerCycleOffset = 4.0690104166666664e-05;
constexpr double kMsPerCycle = 0.125;
constexpr double kMsPerSecond = 1000.0;

// The hardware date of a time stamp, summed in this order so that every
// image gives the same rounding.
double hardwareDate(unsigned int seconds, unsigned int cycleCount, unsigned int cycleOffset)
{
    return (static_cast<double>(cycleOffset) * kMsPerCycleOffset +
            static_cast<double>(seconds) * kMsPerSecond) +
           static_cast<double>(cycleCount) * kMsPerCycle;
}

// Bytes of pixel data a sample holds (its image's columns by rows).
std::size_t pixelBytes(const IImage& image)
{
    const ISize& size = image.size();
    if (size.width <= 0 || size.height <= 0) {
        return 0;
    }
    return static_cast<std::size_t>(size.width) * static_cast<std::size_t>(size.height) *
           static_cast<std::size_t>(image.bytesPerPixel());
}

} // namespace

// --- the register ------------------------------------------------------------------

void FlyCapCamera::updateFrameInfoFeatures()
{
    FLYCAP_TRACE("FlyCapCamera::updateFrameInfoFeatures(); (portId=", _pState->_identity._nPortIdx, ")");
    unsigned long value = 0;
    readRegister(iidc::kFrameInfo, value);
    const bool present = (value & frameinfo::kPresent) != 0;
    _pState->_frameInfo._bTimeStampSupported = _pState->_frameInfo._bFrameCounterSupported =
        _pState->_frameInfo._bDCAMInfoSupported = _pState->_frameInfo._bGPIOStatusSupported = present;
    _pState->_frameInfo._bTimeStampEnabled = present && (value & frameinfo::kTimestamp) != 0;
    _pState->_frameInfo._bDCAMInfoEnabled = present && (value & frameinfo::kDcamInfo) == frameinfo::kDcamInfo;
    _pState->_frameInfo._bFrameCounterEnabled = present && (value & frameinfo::kFrameCounter) != 0;
    _pState->_frameInfo._bGPIOStatusEnabled = present && (value & frameinfo::kGpioStatus) != 0;
}

void FlyCapCamera::switchFrameInfoItem(uint32_t bits, bool enable)
{
    checkInitialized();
    checkNotAcquiring();
    unsigned long value = 0;
    readRegister(iidc::kFrameInfo, value);
    value = enable ? (value | bits) : (value & ~static_cast<unsigned long>(bits));
    writeRegister(iidc::kFrameInfo, value);
    updateFrameInfoFeatures();
}

// --- queries and switches ------------------------------------------------------------

bool FlyCapCamera::isTimeStampFeatureSupported() const
{
    FLYCAP_TRACE("FlyCapCamera::isTimeStampFeatureSupported(); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    return _pState->_frameInfo._bTimeStampSupported;
}

bool FlyCapCamera::isTimeStampFeatureEnabled() const
{
    FLYCAP_TRACE("FlyCapCamera::isTimeStampFeatureEnabled(); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    return _pState->_frameInfo._bTimeStampEnabled;
}

bool FlyCapCamera::enableTimeStampFeature(bool enable)
{
    FLYCAP_TRACE("FlyCapCamera::enableTimeStampFeature(bEnable=", boolText(enable),
                 "); (portId=", _pState->_identity._nPortIdx, ")");
    switchFrameInfoItem(frameinfo::kTimestamp, enable);
    return _pState->_frameInfo._bTimeStampEnabled;
}

bool FlyCapCamera::isFrameCounterFeatureSupported() const
{
    FLYCAP_TRACE("FlyCapCamera::isFrameCounterFeatureSupported(); (portId=", _pState->_identity._nPortIdx,
                 ")");
    checkInitialized();
    return _pState->_frameInfo._bFrameCounterSupported;
}

bool FlyCapCamera::isFrameCounterFeatureEnabled() const
{
    FLYCAP_TRACE("FlyCapCamera::isFrameCounterFeatureEnabled(); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    return _pState->_frameInfo._bFrameCounterEnabled;
}

bool FlyCapCamera::enableFrameCounterFeature(bool enable)
{
    FLYCAP_TRACE("FlyCapCamera::enableFrameCounterFeature(bEnable=", boolText(enable),
                 "); (portId=", _pState->_identity._nPortIdx, ")");
    switchFrameInfoItem(frameinfo::kFrameCounter, enable);
    return _pState->_frameInfo._bFrameCounterEnabled;
}

bool FlyCapCamera::isGPIOStatusFeatureSupported() const
{
    FLYCAP_TRACE("FlyCapCamera::isGPIOStatusFeatureSupported(); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    return _pState->_frameInfo._bGPIOStatusSupported;
}

bool FlyCapCamera::isGPIOStatusEnabled() const
{
    FLYCAP_TRACE("FlyCapCamera::isGPIOStatusEnabled(); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    return _pState->_frameInfo._bGPIOStatusEnabled;
}

bool FlyCapCamera::enableGPIOStatusFeature(bool enable)
{
    FLYCAP_TRACE("FlyCapCamera::enableGPIOStatusFeature(bEnable=", boolText(enable),
                 "); (portId=", _pState->_identity._nPortIdx, ")");
    switchFrameInfoItem(frameinfo::kGpioStatus, enable);
    return _pState->_frameInfo._bGPIOStatusEnabled;
}

bool FlyCapCamera::isDCAMInfoFeatureSupported() const
{
    FLYCAP_TRACE("FlyCapCamera::isDCAMInfoFeatureSupported(); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    return _pState->_frameInfo._bDCAMInfoSupported;
}

bool FlyCapCamera::isDCAMInfoFeatureEnabled()
{
    FLYCAP_TRACE("FlyCapCamera::isDCAMInfoFeatureEnabled(); (portId=", _pState->_identity._nPortIdx, ")");
    checkInitialized();
    return _pState->_frameInfo._bDCAMInfoEnabled;
}

bool FlyCapCamera::enableDCAMInfoFeature(bool enable)
{
    FLYCAP_TRACE("FlyCapCamera::enableDCAMInfoFeature(bEnable=", boolText(enable),
                 "); (portId=", _pState->_identity._nPortIdx, ")");
    switchFrameInfoItem(frameinfo::kDcamInfo, enable);
    return _pState->_frameInfo._bDCAMInfoEnabled;
}

// --- smart features ----------------------------------------------------------------------

bool FlyCapCamera::areSmartFeaturesSupported()
{
    FLYCAP_TRACE("FlyCapCamera::areSmartFeaturesSupported(); (portId=", _pState->_identity._nPortIdx, ")");
    // The GPIO status alone does not make a camera smart.
    return _pState->_frameInfo._bTimeStampSupported || _pState->_frameInfo._bFrameCounterSupported ||
           _pState->_frameInfo._bDCAMInfoSupported;
}

bool FlyCapCamera::isSmartFeatureEnabled(SmartFeatureEnum feature)
{
    FLYCAP_TRACE("FlyCapCamera::isSmartFeatureEnabled(sf=", static_cast<int>(feature),
                 "); (portId=", _pState->_identity._nPortIdx, ")");
    switch (feature) {
    case sf_extendedDataStream:
        return areSmartFeaturesSupported();
    case sf_frameCounter:
        return isFrameCounterFeatureEnabled();
    case sf_cycleTimeStamp:
        return isTimeStampFeatureEnabled();
    case sf_dcam:
        return isDCAMInfoFeatureEnabled();
    case sf_shutterTimeBase:
        return true;
    case sf_gpioStatus:
        return isGPIOStatusEnabled();
    default:
        return false;
    }
}

bool FlyCapCamera::enableSmartFeature(SmartFeatureEnum feature, bool enable)
{
    FLYCAP_TRACE("FlyCapCamera::enableSmartFeature(sf=", static_cast<int>(feature),
                 ", bEnable=", boolText(enable), "); (portId=", _pState->_identity._nPortIdx, ")");
    switch (feature) {
    case sf_extendedDataStream:
        return !enable || areSmartFeaturesSupported();
    case sf_frameCounter:
        return enableFrameCounterFeature(enable);
    case sf_cycleTimeStamp:
        return enableTimeStampFeature(enable);
    case sf_dcam:
        return enableDCAMInfoFeature(enable);
    case sf_shutterTimeBase:
        return true;
    case sf_gpioStatus:
        return enableGPIOStatusFeature(enable);
    default:
        return false;
    }
}

// --- decoding ------------------------------------------------------------------------------

// The sample comes by value: the protected signature the camera's subclasses
// see keeps its own reference for the time of the call.
void FlyCapCamera::readFrameInfo(
    boost::shared_ptr<ImageSample> sample) // NOLINT(performance-unnecessary-value-param)
{
    FLYCAP_TRACE("FlyCapCamera::readFrameInfo(...); (portId=", _pState->_identity._nPortIdx, ")");
    decodeFrameInfo(*sample);
}

void FlyCapCamera::decodeFrameInfo(ImageSample& sample)
{
    const IImage* image = sample.getImage();
    if (image == nullptr || image->data() == nullptr) {
        return;
    }
    const auto* p = static_cast<const uint8_t*>(image->data());
    // The enabled flags say where each item is, as the camera lays them out.
    uint32_t enabled = 0;
    enabled |= _pState->_frameInfo._bTimeStampEnabled ? frameinfo::kTimestamp : 0u;
    enabled |= _pState->_frameInfo._bDCAMInfoEnabled ? frameinfo::kDcamInfo : 0u;
    enabled |= _pState->_frameInfo._bFrameCounterEnabled ? frameinfo::kFrameCounter : 0u;
    enabled |= _pState->_frameInfo._bGPIOStatusEnabled ? frameinfo::kGpioStatus : 0u;
    // An image too small for an item carries no value for it.
    const frameinfo::Items items = frameinfo::decode(p, pixelBytes(*image), enabled);

    if (items.hasTimestamp) {
        unsigned int seconds = 0, cycleCount = 0, cycleOffset = 0;
        checkSingle(FLYCAP_SITE(kCameraUnit),
                    flycaptureParseImageTimestamp(_pState->_fcContext.get(),
                                                  p + frameinfo::layoutOf(enabled).timestamp, &seconds,
                                                  &cycleCount, &cycleOffset));
        sample.setHWDate(hardwareDate(seconds, cycleCount, cycleOffset));
    }
    if (items.hasDcamInfo) {
        readDcamInfo(sample, static_cast<int32_t>(items.rawGain), static_cast<int32_t>(items.rawShutter));
    }
    if (items.hasFrameCounter) {
        sample.setIdx(items.frameCounter);
    }
    if (items.hasGpioStatus) {
        sample.setTriggerStatus((items.gpioStatus & frameinfo::kGpioTriggerInput) != 0);
        sample.setStrobeOutStatus(0, (items.gpioStatus & frameinfo::kGpioStrobe0) != 0);
        sample.setStrobeOutStatus(1, (items.gpioStatus & frameinfo::kGpioStrobe1) != 0);
    }
}

void FlyCapCamera::readDcamInfo(ImageSample& sample, int32_t rawGain, int32_t rawShutter)
{
    {
        ScopedLock lock(_pState->_exposure._csMapGain);
        const auto found = _pState->_exposure._mapGainRawToReal.find(rawGain);
        if (found != _pState->_exposure._mapGainRawToReal.end()) {
            sample.setGain(found->second);
        }
    }
    ScopedLock lock(_pState->_exposure._csMapShutter);
    const auto found = _pState->_exposure._mapShutterRawToReal.find(rawShutter);
    if (found != _pState->_exposure._mapShutterRawToReal.end()) {
        sample.setShutter(found->second);
        return;
    }
    int32_t registerShutter = 0;
    int32_t dummy = 0;
    bool bAuto = false;
    callRetried(FLYCAP_SITE(kCameraUnit), _pState->_identity._nSerialNumber, kCallGetRawShutter, [&] {
        return flycaptureGetCameraProperty(_pState->_fcContext.get(), FLYCAPTURE_SHUTTER, &registerShutter,
                                           &dummy, &bAuto);
    });
    LOG4CPLUS_ERROR(g_OrvexLogger, kLogInvalidRawShutterPort
                                       << _pState->_identity._nPortIdx << kLogInvalidRawShutter << rawShutter
                                       << kLogInvalidRawShutterRegister << registerShutter
                                       << kLogInvalidRawShutterEnd);
}
