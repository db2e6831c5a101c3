// SDK functions over libdc1394: camera properties in raw and absolute form,
// read and written through the IIDC feature registers (inquiry, control and
// the absolute-value block) as the camera has them.
//
// The range call answers what the property can do, the property calls what
// it does now; a raw value outside the inquiry's range is refused, as the
// SDK refuses it, before anything reaches the camera.
#include "Transactions.h"

#include "PGRFlyCapture.h"

#include <orvex/iidc/Registers.h>

#include <cmath>
#include <cstring>

using namespace orvex::iidc;
using namespace orvex::flycap::dc1394sdk;

namespace {

struct Property {
    uint32_t feature = 0;
    const char* units = "";
    const char* abbreviation = "";
    float perRegisterUnit = 1.0f; // the SDK's unit per the register's (IIDC gives the shutter in seconds)
};

// The IIDC feature behind an SDK property code, with the SDK's unit texts.
bool propertyOf(FlyCaptureProperty property, Property& p)
{
    switch (property) {
    case FLYCAPTURE_BRIGHTNESS:
        p = {kFeatureBrightness, "percent", "%"};
        return true;
    case FLYCAPTURE_AUTO_EXPOSURE:
        p = {kFeatureAutoExposure, "exposure value", "EV"};
        return true;
    case FLYCAPTURE_SHUTTER:
        p = {kFeatureShutter, "milliseconds", "ms", 1000.0f};
        return true;
    case FLYCAPTURE_GAIN:
        p = {kFeatureGain, "decibels", "dB"};
        return true;
    case FLYCAPTURE_FRAME_RATE:
        p = {kFeatureFrameRate, "frames per second", "fps"};
        return true;
    }
    return false;
}

struct State {
    bool present = false;
    uint32_t inquiry = 0, control = 0;
    uint32_t absBlock = 0;                      // address of the absolute-value block, 0 without one
    float absMin = 0, absMax = 0, absValue = 0; // in the SDK's unit

    bool can(uint32_t bit) const { return inquiry & bit; }
    bool is(uint32_t bit) const { return control & bit; }
    int32_t rawMin() const { return int32_t((inquiry >> kInquiryMinShift) & kInquiryValueMask); }
    int32_t rawMax() const { return int32_t(inquiry & kInquiryValueMask); }
    int32_t raw() const { return int32_t(control & kControlValueMask); }
    int32_t rawHigh() const { return int32_t((control >> kControlHighValueShift) & kControlValueMask); }
};

float floatOf(uint32_t bits)
{
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

uint32_t bitsOf(float f)
{
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

FlyCaptureError readState(dc1394camera_t* camera, const Property& p, State& s)
{
    if (const FlyCaptureError e = readQuadlets(camera, featureInquiry(p.feature), &s.inquiry, 1))
        return e;
    s.present = s.inquiry & kPresence;
    if (!s.present)
        return FLYCAPTURE_OK;
    if (const FlyCaptureError e = readQuadlets(camera, featureControl(p.feature), &s.control, 1))
        return e;
    if (!s.can(kInquiryAbsolute))
        return FLYCAPTURE_OK;
    uint32_t offset = 0;
    if (const FlyCaptureError e = readQuadlets(camera, featureAbsoluteOffset(p.feature), &offset, 1))
        return e;
    if (offset == 0)
        return FLYCAPTURE_OK;
    s.absBlock = quadletOffsetToAddress(offset);
    uint32_t block[3] = {};
    if (const FlyCaptureError e = readQuadlets(camera, s.absBlock + kAbsMinimum, block, 3))
        return e;
    s.absMin = floatOf(block[kAbsMinimum / 4]) * p.perRegisterUnit;
    s.absMax = floatOf(block[kAbsMaximum / 4]) * p.perRegisterUnit;
    s.absValue = floatOf(block[kAbsValue / 4]) * p.perRegisterUnit;
    return FLYCAPTURE_OK;
}

// The control register's mode bits the camera can take.
uint32_t controlFlags(const State& s, bool onePush, bool on, bool autoMode)
{
    uint32_t v = kPresence;
    if (onePush && s.can(kInquiryOnePush))
        v |= kControlOnePush;
    if (on || !s.can(kInquiryOnOff))
        v |= kControlOn;
    if (autoMode && s.can(kInquiryAuto))
        v |= kControlAuto;
    return v;
}

// Reads the property's state on the context's camera, then runs `then`.
template <typename Then>
FlyCaptureError withProperty(FlyCaptureContext context, FlyCaptureProperty property, bool absentIsAnswer,
                             Then then)
{
    const auto c = findContext(context);
    if (!c)
        return FLYCAPTURE_INVALID_CONTEXT;
    Property p;
    const bool known = propertyOf(property, p);
    return c->withCamera([&](dc1394camera_t* camera) {
        if (!known)
            return FLYCAPTURE_INVALID_ARGUMENT;
        State s;
        if (const FlyCaptureError e = readState(camera, p, s))
            return e;
        if (!s.present && !absentIsAnswer)
            return FLYCAPTURE_PROPERTY_NOT_PRESENT;
        return then(camera, p, s);
    });
}

FlyCaptureError writeRaw(dc1394camera_t* camera, const Property& p, const State& s, bool onePush, bool on,
                         bool autoMode, int32_t value, int32_t valueB)
{
    if (value < 0 || valueB < 0 || value < s.rawMin() || value > s.rawMax())
        return FLYCAPTURE_VALUE_OUT_OF_RANGE;
    const uint32_t control = controlFlags(s, onePush, on, autoMode) | uint32_t(value);
    return writeQuadlets(camera, featureControl(p.feature), &control, 1);
}

} // namespace

extern "C" {

FlyCaptureError flycaptureGetCameraProperty(FlyCaptureContext context, FlyCaptureProperty property,
                                            std::int32_t* plValueA, std::int32_t* plValueB, bool* pbAuto)
{
    return withProperty(context, property, false, [&](dc1394camera_t*, const Property&, const State& s) {
        put(plValueA, s.raw());
        put(plValueB, s.rawHigh());
        put(pbAuto, s.is(kControlAuto));
        return FLYCAPTURE_OK;
    });
}

FlyCaptureError flycaptureSetCameraProperty(FlyCaptureContext context, FlyCaptureProperty property,
                                            std::int32_t lValueA, std::int32_t lValueB, bool bAuto)
{
    return withProperty(context, property, false,
                        [&](dc1394camera_t* camera, const Property& p, const State& s) {
                            return writeRaw(camera, p, s, false, s.is(kControlOn), bAuto, lValueA, lValueB);
                        });
}

FlyCaptureError flycaptureGetCameraPropertyEx(FlyCaptureContext context, FlyCaptureProperty property,
                                              bool* pbOnePush, bool* pbOnOff, bool* pbAuto,
                                              std::int32_t* piValueA, std::int32_t* piValueB)
{
    return withProperty(context, property, false, [&](dc1394camera_t*, const Property&, const State& s) {
        put(pbOnePush, s.is(kControlOnePush));
        put(pbOnOff, s.is(kControlOn));
        put(pbAuto, s.is(kControlAuto));
        put(piValueA, s.raw());
        put(piValueB, s.rawHigh());
        return FLYCAPTURE_OK;
    });
}

FlyCaptureError flycaptureSetCameraPropertyEx(FlyCaptureContext context, FlyCaptureProperty property,
                                              bool bOnePush, bool bOnOff, bool bAuto, std::int32_t iValueA,
                                              std::int32_t iValueB)
{
    return withProperty(context, property, false,
                        [&](dc1394camera_t* camera, const Property& p, const State& s) {
                            return writeRaw(camera, p, s, bOnePush, bOnOff, bAuto, iValueA, iValueB);
                        });
}

FlyCaptureError flycaptureGetCameraPropertyRangeEx(FlyCaptureContext context, FlyCaptureProperty property,
                                                   bool* pbPresent, bool* pbOnePush, bool* pbReadOut,
                                                   bool* pbOnOff, bool* pbAuto, bool* pbManual,
                                                   std::int32_t* piMin, std::int32_t* piMax)
{
    // An absent property is an answer, not a failure.
    return withProperty(context, property, true, [&](dc1394camera_t*, const Property&, const State& s) {
        put(pbPresent, s.present);
        put(pbOnePush, s.present && s.can(kInquiryOnePush));
        put(pbReadOut, s.present && s.can(kInquiryReadOut));
        put(pbOnOff, s.present && s.can(kInquiryOnOff));
        put(pbAuto, s.present && s.can(kInquiryAuto));
        put(pbManual, s.present && s.can(kInquiryManual));
        put(piMin, s.present ? s.rawMin() : 0);
        put(piMax, s.present ? s.rawMax() : 0);
        return FLYCAPTURE_OK;
    });
}

FlyCaptureError flycaptureGetCameraAbsProperty(FlyCaptureContext context, FlyCaptureProperty property,
                                               float* pfValue)
{
    return withProperty(context, property, false, [&](dc1394camera_t*, const Property&, const State& s) {
        if (!s.absBlock)
            return FLYCAPTURE_NOT_IMPLEMENTED;
        put(pfValue, s.absValue);
        return FLYCAPTURE_OK;
    });
}

FlyCaptureError flycaptureGetCameraAbsPropertyRange(FlyCaptureContext context, FlyCaptureProperty property,
                                                    bool* pbPresent, float* pfMin, float* pfMax,
                                                    const char** ppszUnits, const char** ppszUnitAbbr)
{
    return withProperty(context, property, true, [&](dc1394camera_t*, const Property& p, const State& s) {
        const bool present = s.present && s.absBlock;
        put(pbPresent, present);
        put(pfMin, present ? s.absMin : 0.0f);
        put(pfMax, present ? s.absMax : 0.0f);
        put(ppszUnits, present ? p.units : "");
        put(ppszUnitAbbr, present ? p.abbreviation : "");
        return FLYCAPTURE_OK;
    });
}

FlyCaptureError flycaptureSetCameraAbsPropertyEx(FlyCaptureContext context, FlyCaptureProperty property,
                                                 bool bOnePush, bool bOnOff, bool bAuto, float fValue)
{
    return withProperty(
        context, property, false, [&](dc1394camera_t* camera, const Property& p, const State& s) {
            if (!s.absBlock || !std::isfinite(fValue))
                return FLYCAPTURE_INVALID_ARGUMENT;
            if (fValue < s.absMin || fValue > s.absMax)
                return FLYCAPTURE_VALUE_OUT_OF_RANGE;
            // Absolute mode first: the camera takes the value in the property's unit.
            const uint32_t control =
                controlFlags(s, bOnePush, bOnOff, bAuto) | kControlAbsolute | uint32_t(s.raw());
            if (const FlyCaptureError e = writeQuadlets(camera, featureControl(p.feature), &control, 1))
                return e;
            const uint32_t bits = bitsOf(fValue / p.perRegisterUnit);
            return writeQuadlets(camera, s.absBlock + kAbsValue, &bits, 1);
        });
}

} // extern "C"
