// The SDK functions as the library sees them: each forwards to the loaded
// SDK (SdkLibrary.h), loading it at the first call. Hidden inside the
// library (PGRFlyCapture.h), so they never stand in for the SDK's own.
// Any thread; no lock after the first call.
#include "PGRFlyCapture.h"
#include "flycap/sdk/SdkLibrary.h"

using orvex::flycap::sdk::SdkFunctions;
using orvex::flycap::sdk::SdkLibrary;

namespace {

template <typename Function, typename... Args>
FlyCaptureError forward(Function SdkFunctions::*member, Args... args)
{
    const SdkLibrary& sdk = SdkLibrary::instance();
    if (!sdk.isLoaded())
        return FLYCAPTURE_SDK_NOT_LOADED;
    const Function function = sdk.functions().*member;
    if (!function)
        return FLYCAPTURE_SDK_FUNCTION_MISSING;
    return function(args...);
}

} // namespace

extern "C" {

FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureCreateContext(FlyCaptureContext* pContext)
{
    return forward(&SdkFunctions::flycaptureCreateContext, pContext);
}

FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureDestroyContext(FlyCaptureContext context)
{
    return forward(&SdkFunctions::flycaptureDestroyContext, context);
}

FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureInitializePlus(FlyCaptureContext context,
                                                                   unsigned int uiBusIndex,
                                                                   unsigned int uiNumBuffers,
                                                                   unsigned char** arpBuffers)
{
    return forward(&SdkFunctions::flycaptureInitializePlus, context, uiBusIndex, uiNumBuffers, arpBuffers);
}

FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureModifyCallback(FlyCaptureContext context,
                                                                   FlyCaptureCallback pCallback, void* pParam,
                                                                   bool bAdd)
{
    return forward(&SdkFunctions::flycaptureModifyCallback, context, pCallback, pParam, bAdd);
}

FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureBusCameraCount(unsigned int* puiCount)
{
    return forward(&SdkFunctions::flycaptureBusCameraCount, puiCount);
}

FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureBusEnumerateCamerasEx(FlyCaptureInfoEx* arInfo,
                                                                          unsigned int* puiSize)
{
    return forward(&SdkFunctions::flycaptureBusEnumerateCamerasEx, arInfo, puiSize);
}

FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureQueryCustomImageEx(
    FlyCaptureContext context, unsigned int uiMode, bool* pbAvailable, unsigned int* puiMaxImagePixelsWidth,
    unsigned int* puiMaxImagePixelsHeight, unsigned int* puiPixelUnitHorz, unsigned int* puiPixelUnitVert,
    unsigned int* puiOffsetUnitHorz, unsigned int* puiOffsetUnitVert, unsigned int* puiPixelFormats)
{
    return forward(&SdkFunctions::flycaptureQueryCustomImageEx, context, uiMode, pbAvailable,
                   puiMaxImagePixelsWidth, puiMaxImagePixelsHeight, puiPixelUnitHorz, puiPixelUnitVert,
                   puiOffsetUnitHorz, puiOffsetUnitVert, puiPixelFormats);
}

FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureGetCustomImagePacketInfo(
    FlyCaptureContext context, unsigned int uiMode, unsigned long ulImageWidth, unsigned long ulImageHeight,
    FlyCapturePixelFormat format, FlyCapturePacketInfo* pPacketInfo)
{
    return forward(&SdkFunctions::flycaptureGetCustomImagePacketInfo, context, uiMode, ulImageWidth,
                   ulImageHeight, format, pPacketInfo);
}

FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureStartCustomImagePacket(
    FlyCaptureContext context, unsigned int uiMode, unsigned int uiImagePosLeft, unsigned int uiImagePosTop,
    unsigned int uiWidth, unsigned int uiHeight, unsigned int uiBytesPerPacket, FlyCapturePixelFormat format)
{
    return forward(&SdkFunctions::flycaptureStartCustomImagePacket, context, uiMode, uiImagePosLeft,
                   uiImagePosTop, uiWidth, uiHeight, uiBytesPerPacket, format);
}

FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureSetGrabTimeoutEx(FlyCaptureContext context,
                                                                     unsigned long ulTimeout)
{
    return forward(&SdkFunctions::flycaptureSetGrabTimeoutEx, context, ulTimeout);
}

FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureLockLatest(FlyCaptureContext context,
                                                               FlyCaptureImage* pImage)
{
    return forward(&SdkFunctions::flycaptureLockLatest, context, pImage);
}

FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureUnlock(FlyCaptureContext context,
                                                           unsigned int uiBufferIndex)
{
    return forward(&SdkFunctions::flycaptureUnlock, context, uiBufferIndex);
}

FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureUnlockAll(FlyCaptureContext context)
{
    return forward(&SdkFunctions::flycaptureUnlockAll, context);
}

FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureStop(FlyCaptureContext context)
{
    return forward(&SdkFunctions::flycaptureStop, context);
}

FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureParseImageTimestamp(FlyCaptureContext context,
                                                                        const unsigned char* pData,
                                                                        unsigned int* puiSeconds,
                                                                        unsigned int* puiCycleCount,
                                                                        unsigned int* puiCycleOffset)
{
    return forward(&SdkFunctions::flycaptureParseImageTimestamp, context, pData, puiSeconds, puiCycleCount,
                   puiCycleOffset);
}

FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureGetCameraRegister(FlyCaptureContext context,
                                                                      std::uint32_t ulRegister,
                                                                      std::uint32_t* pulValue)
{
    return forward(&SdkFunctions::flycaptureGetCameraRegister, context, ulRegister, pulValue);
}

FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureSetCameraRegister(FlyCaptureContext context,
                                                                      std::uint32_t ulRegister,
                                                                      std::uint32_t ulValue)
{
    return forward(&SdkFunctions::flycaptureSetCameraRegister, context, ulRegister, ulValue);
}

FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureSetCameraRegisterBroadcast(FlyCaptureContext context,
                                                                               std::uint32_t ulRegister,
                                                                               std::uint32_t ulValue)
{
    return forward(&SdkFunctions::flycaptureSetCameraRegisterBroadcast, context, ulRegister, ulValue);
}

FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureReadRegisterBlock(FlyCaptureContext context,
                                                                      unsigned short usAddrHigh,
                                                                      std::uint32_t ulAddrLow,
                                                                      std::uint32_t* pulBuffer,
                                                                      std::uint32_t ulLength)
{
    return forward(&SdkFunctions::flycaptureReadRegisterBlock, context, usAddrHigh, ulAddrLow, pulBuffer,
                   ulLength);
}

FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureWriteRegisterBlock(FlyCaptureContext context,
                                                                       unsigned short usAddrHigh,
                                                                       std::uint32_t ulAddrLow,
                                                                       const std::uint32_t* pulBuffer,
                                                                       std::uint32_t ulLength)
{
    return forward(&SdkFunctions::flycaptureWriteRegisterBlock, context, usAddrHigh, ulAddrLow, pulBuffer,
                   ulLength);
}

FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureGetCameraProperty(FlyCaptureContext context,
                                                                      FlyCaptureProperty property,
                                                                      std::int32_t* plValueA,
                                                                      std::int32_t* plValueB, bool* pbAuto)
{
    return forward(&SdkFunctions::flycaptureGetCameraProperty, context, property, plValueA, plValueB, pbAuto);
}

FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureSetCameraProperty(FlyCaptureContext context,
                                                                      FlyCaptureProperty property,
                                                                      std::int32_t lValueA,
                                                                      std::int32_t lValueB, bool bAuto)
{
    return forward(&SdkFunctions::flycaptureSetCameraProperty, context, property, lValueA, lValueB, bAuto);
}

FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureGetCameraPropertyEx(FlyCaptureContext context,
                                                                        FlyCaptureProperty property,
                                                                        bool* pbOnePush, bool* pbOnOff,
                                                                        bool* pbAuto, std::int32_t* piValueA,
                                                                        std::int32_t* piValueB)
{
    return forward(&SdkFunctions::flycaptureGetCameraPropertyEx, context, property, pbOnePush, pbOnOff,
                   pbAuto, piValueA, piValueB);
}

FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureSetCameraPropertyEx(FlyCaptureContext context,
                                                                        FlyCaptureProperty property,
                                                                        bool bOnePush, bool bOnOff,
                                                                        bool bAuto, std::int32_t iValueA,
                                                                        std::int32_t iValueB)
{
    return forward(&SdkFunctions::flycaptureSetCameraPropertyEx, context, property, bOnePush, bOnOff, bAuto,
                   iValueA, iValueB);
}

FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureGetCameraPropertyRangeEx(
    FlyCaptureContext context, FlyCaptureProperty property, bool* pbPresent, bool* pbOnePush, bool* pbReadOut,
    bool* pbOnOff, bool* pbAuto, bool* pbManual, std::int32_t* piMin, std::int32_t* piMax)
{
    return forward(&SdkFunctions::flycaptureGetCameraPropertyRangeEx, context, property, pbPresent, pbOnePush,
                   pbReadOut, pbOnOff, pbAuto, pbManual, piMin, piMax);
}

FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureGetCameraAbsProperty(FlyCaptureContext context,
                                                                         FlyCaptureProperty property,
                                                                         float* pfValue)
{
    return forward(&SdkFunctions::flycaptureGetCameraAbsProperty, context, property, pfValue);
}

FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureGetCameraAbsPropertyRange(
    FlyCaptureContext context, FlyCaptureProperty property, bool* pbPresent, float* pfMin, float* pfMax,
    const char** ppszUnits, const char** ppszUnitAbbr)
{
    return forward(&SdkFunctions::flycaptureGetCameraAbsPropertyRange, context, property, pbPresent, pfMin,
                   pfMax, ppszUnits, ppszUnitAbbr);
}

FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureSetCameraAbsPropertyEx(FlyCaptureContext context,
                                                                           FlyCaptureProperty property,
                                                                           bool bOnePush, bool bOnOff,
                                                                           bool bAuto, float fValue)
{
    return forward(&SdkFunctions::flycaptureSetCameraAbsPropertyEx, context, property, bOnePush, bOnOff,
                   bAuto, fValue);
}

const char* PGRFLYCAPTURE_CALL_CONVEN flycaptureErrorToString(FlyCaptureError error)
{
    // The binding's own codes have texts only the binding knows; every other
    // code is the SDK's to describe.
    const SdkLibrary& sdk = SdkLibrary::instance();
    if (error == FLYCAPTURE_SDK_NOT_LOADED)
        return sdk.loadFailureText();
    if (error == FLYCAPTURE_SDK_FUNCTION_MISSING)
        return sdk.missingFunctionsText();
    if (!sdk.isLoaded())
        return sdk.loadFailureText();
    if (!sdk.functions().flycaptureErrorToString)
        return sdk.missingFunctionsText();
    return sdk.functions().flycaptureErrorToString(error);
}

} // extern "C"
