// SDK functions: camera properties in raw and absolute form.
//
// Values mean what they mean in the real SDK, whatever a host makes of them:
// the range call (flycaptureGetCameraPropertyRangeEx) answers what the
// property can do (one-push, read-out, on/off, auto, manual capable), the
// property calls (flycaptureGetCameraPropertyEx) what it does now (one-push
// running, switched on, automatic). A one-push asked for through a setter
// runs on the camera and its flag clears when the adjustment is done.
#include "Call.h"
#include "Status.h"

#include "PGRFlyCapture.h"

#include <orvex/iidc/Registers.h>

#include <mutex>
#include <set>
#include <string>

using namespace orvex::iidc;
using namespace orvex::sim;
using namespace orvex::sim::flycap;

namespace {

// The IIDC feature behind an SDK property code.
bool featureOf(FlyCaptureProperty property, uint32_t& feature)
{
    switch (property) {
    case FLYCAPTURE_BRIGHTNESS:
        feature = kFeatureBrightness;
        return true;
    case FLYCAPTURE_AUTO_EXPOSURE:
        feature = kFeatureAutoExposure;
        return true;
    case FLYCAPTURE_SHUTTER:
        feature = kFeatureShutter;
        return true;
    case FLYCAPTURE_GAIN:
        feature = kFeatureGain;
        return true;
    case FLYCAPTURE_FRAME_RATE:
        feature = kFeatureFrameRate;
        return true;
    }
    return false;
}

// Common entry: context, camera, feature and its current state.
FlyCaptureError enterProperty(const char* function, FlyCaptureContext context, FlyCaptureProperty property,
                              std::shared_ptr<Camera>& camera, uint32_t& feature, PropertyValue& value)
{
    std::shared_ptr<Context> c;
    if (const FlyCaptureError error = enterCamera(function, context, c, camera))
        return error;
    if (!featureOf(property, feature))
        return FLYCAPTURE_INVALID_ARGUMENT;
    return toError(camera->property(feature, value));
}

template <typename T> void put(T* target, T value)
{
    if (target)
        *target = value;
}

// Unit texts handed to the caller stay valid for the life of the process,
// whatever happens to the camera they came from.
const char* intern(const char* text)
{
    static std::mutex m;
    static std::set<std::string> texts;
    std::lock_guard<std::mutex> lock(m);
    return texts.insert(text).first->c_str();
}

} // namespace

extern "C" {

FlyCaptureError flycaptureGetCameraProperty(FlyCaptureContext context, FlyCaptureProperty property,
                                            std::int32_t* plValueA, std::int32_t* plValueB, bool* pbAuto)
{
    std::shared_ptr<Camera> camera;
    uint32_t feature;
    PropertyValue v;
    if (const FlyCaptureError error =
            enterProperty("flycaptureGetCameraProperty", context, property, camera, feature, v))
        return error;
    put(plValueA, static_cast<std::int32_t>(v.raw));
    put(plValueB, static_cast<std::int32_t>(v.rawHigh));
    put(pbAuto, v.autoMode);
    return FLYCAPTURE_OK;
}

FlyCaptureError flycaptureSetCameraProperty(FlyCaptureContext context, FlyCaptureProperty property,
                                            std::int32_t lValueA, std::int32_t lValueB, bool bAuto)
{
    std::shared_ptr<Camera> camera;
    uint32_t feature;
    PropertyValue v;
    if (const FlyCaptureError error =
            enterProperty("flycaptureSetCameraProperty", context, property, camera, feature, v))
        return error;
    if (lValueA < 0 || lValueB < 0)
        return FLYCAPTURE_VALUE_OUT_OF_RANGE;
    return toError(camera->setPropertyRaw(feature, false, v.on, bAuto, static_cast<uint32_t>(lValueA),
                                          static_cast<uint32_t>(lValueB)));
}

FlyCaptureError flycaptureGetCameraPropertyEx(FlyCaptureContext context, FlyCaptureProperty property,
                                              bool* pbOnePush, bool* pbOnOff, bool* pbAuto,
                                              std::int32_t* piValueA, std::int32_t* piValueB)
{
    std::shared_ptr<Camera> camera;
    uint32_t feature;
    PropertyValue v;
    if (const FlyCaptureError error =
            enterProperty("flycaptureGetCameraPropertyEx", context, property, camera, feature, v))
        return error;
    put(pbOnePush, v.onePush);
    put(pbOnOff, v.on);
    put(pbAuto, v.autoMode);
    put(piValueA, static_cast<std::int32_t>(v.raw));
    put(piValueB, static_cast<std::int32_t>(v.rawHigh));
    return FLYCAPTURE_OK;
}

FlyCaptureError flycaptureSetCameraPropertyEx(FlyCaptureContext context, FlyCaptureProperty property,
                                              bool bOnePush, bool bOnOff, bool bAuto, std::int32_t iValueA,
                                              std::int32_t iValueB)
{
    std::shared_ptr<Camera> camera;
    uint32_t feature;
    PropertyValue v;
    if (const FlyCaptureError error =
            enterProperty("flycaptureSetCameraPropertyEx", context, property, camera, feature, v))
        return error;
    if (iValueA < 0 || iValueB < 0)
        return FLYCAPTURE_VALUE_OUT_OF_RANGE;
    return toError(camera->setPropertyRaw(feature, bOnePush, bOnOff, bAuto, static_cast<uint32_t>(iValueA),
                                          static_cast<uint32_t>(iValueB)));
}

FlyCaptureError flycaptureGetCameraPropertyRangeEx(FlyCaptureContext context, FlyCaptureProperty property,
                                                   bool* pbPresent, bool* pbOnePush, bool* pbReadOut,
                                                   bool* pbOnOff, bool* pbAuto, bool* pbManual,
                                                   std::int32_t* piMin, std::int32_t* piMax)
{
    std::shared_ptr<Camera> camera;
    uint32_t feature;
    PropertyValue v;
    FlyCaptureError error =
        enterProperty("flycaptureGetCameraPropertyRangeEx", context, property, camera, feature, v);
    if (error == FLYCAPTURE_PROPERTY_NOT_PRESENT)
        error = FLYCAPTURE_OK; // an absent property is an answer, not a failure
    if (error != FLYCAPTURE_OK)
        return error;
    put(pbPresent, v.present);
    put(pbOnePush, v.onePushCapable);
    put(pbReadOut, v.readOutCapable);
    put(pbOnOff, v.onOffCapable);
    put(pbAuto, v.autoCapable);
    put(pbManual, v.manualCapable);
    put(piMin, static_cast<std::int32_t>(v.rawMin));
    put(piMax, static_cast<std::int32_t>(v.rawMax));
    return FLYCAPTURE_OK;
}

FlyCaptureError flycaptureGetCameraAbsProperty(FlyCaptureContext context, FlyCaptureProperty property,
                                               float* pfValue)
{
    std::shared_ptr<Camera> camera;
    uint32_t feature;
    PropertyValue v;
    if (const FlyCaptureError error =
            enterProperty("flycaptureGetCameraAbsProperty", context, property, camera, feature, v))
        return error;
    if (!v.absoluteCapable)
        return FLYCAPTURE_NOT_IMPLEMENTED;
    put(pfValue, static_cast<float>(v.absValue));
    return FLYCAPTURE_OK;
}

FlyCaptureError flycaptureGetCameraAbsPropertyRange(FlyCaptureContext context, FlyCaptureProperty property,
                                                    bool* pbPresent, float* pfMin, float* pfMax,
                                                    const char** ppszUnits, const char** ppszUnitAbbr)
{
    std::shared_ptr<Camera> camera;
    uint32_t feature;
    PropertyValue v;
    FlyCaptureError error =
        enterProperty("flycaptureGetCameraAbsPropertyRange", context, property, camera, feature, v);
    if (error == FLYCAPTURE_PROPERTY_NOT_PRESENT)
        error = FLYCAPTURE_OK;
    if (error != FLYCAPTURE_OK)
        return error;
    const bool present = v.present && v.absoluteCapable;
    put(pbPresent, present);
    put(pfMin, present ? static_cast<float>(v.absMin) : 0.0f);
    put(pfMax, present ? static_cast<float>(v.absMax) : 0.0f);
    put(ppszUnits, present ? intern(v.units) : "");
    put(ppszUnitAbbr, present ? intern(v.unitAbbreviation) : "");
    return FLYCAPTURE_OK;
}

FlyCaptureError flycaptureSetCameraAbsPropertyEx(FlyCaptureContext context, FlyCaptureProperty property,
                                                 bool bOnePush, bool bOnOff, bool bAuto, float fValue)
{
    std::shared_ptr<Camera> camera;
    uint32_t feature;
    PropertyValue v;
    if (const FlyCaptureError error =
            enterProperty("flycaptureSetCameraAbsPropertyEx", context, property, camera, feature, v))
        return error;
    return toError(camera->setPropertyAbsolute(feature, bOnePush, bOnOff, bAuto, fValue));
}

} // extern "C"
