// The FlyCapture SDK library, loaded at the first call of any SDK function.
//
// The library's SDK functions (FlyCaptureThunks.cpp) all come here: the
// first one loads "PGRFlyCapture.dll" through LoadLibraryA and resolves every
// function with GetProcAddress; later calls go straight through the table.
// The library never unloads it. When the SDK cannot be loaded, every SDK
// function returns FLYCAPTURE_SDK_NOT_LOADED, and flycaptureErrorToString of
// that code is a text naming the library and the loader's reason; a function
// the SDK lacks returns FLYCAPTURE_SDK_FUNCTION_MISSING, whose text names the
// missing functions. The back end turns these texts into its OrvexError
// messages like any other SDK error.
//
// Threads: the load runs once, on whichever thread calls first (others wait
// for it); afterwards the object is immutable and read without locking.
#pragma once

#include "PGRFlyCapture.h"

#include <string>

// Every SDK function the library binds, in declaration order.
#define ORVEX_FLYCAPTURE_FUNCTIONS(X)                                                                        \
    X(flycaptureCreateContext)                                                                               \
    X(flycaptureDestroyContext)                                                                              \
    X(flycaptureInitializePlus)                                                                              \
    X(flycaptureModifyCallback)                                                                              \
    X(flycaptureBusCameraCount)                                                                              \
    X(flycaptureBusEnumerateCamerasEx)                                                                       \
    X(flycaptureQueryCustomImageEx)                                                                          \
    X(flycaptureGetCustomImagePacketInfo)                                                                    \
    X(flycaptureStartCustomImagePacket)                                                                      \
    X(flycaptureSetGrabTimeoutEx)                                                                            \
    X(flycaptureLockLatest)                                                                                  \
    X(flycaptureUnlock)                                                                                      \
    X(flycaptureUnlockAll)                                                                                   \
    X(flycaptureStop)                                                                                        \
    X(flycaptureParseImageTimestamp)                                                                         \
    X(flycaptureGetCameraRegister)                                                                           \
    X(flycaptureSetCameraRegister)                                                                           \
    X(flycaptureSetCameraRegisterBroadcast)                                                                  \
    X(flycaptureReadRegisterBlock)                                                                           \
    X(flycaptureWriteRegisterBlock)                                                                          \
    X(flycaptureGetCameraProperty)                                                                           \
    X(flycaptureSetCameraProperty)                                                                           \
    X(flycaptureGetCameraPropertyEx)                                                                         \
    X(flycaptureSetCameraPropertyEx)                                                                         \
    X(flycaptureGetCameraPropertyRangeEx)                                                                    \
    X(flycaptureGetCameraAbsProperty)                                                                        \
    X(flycaptureGetCameraAbsPropertyRange)                                                                   \
    X(flycaptureSetCameraAbsPropertyEx)                                                                      \
    X(flycaptureErrorToString)

namespace orvex::flycap::sdk {

// Addresses of the SDK's functions; null for one it lacks.
struct SdkFunctions {
#define ORVEX_FLYCAPTURE_POINTER(name) decltype(&::name) name = nullptr;
    ORVEX_FLYCAPTURE_FUNCTIONS(ORVEX_FLYCAPTURE_POINTER)
#undef ORVEX_FLYCAPTURE_POINTER
};

class SdkLibrary {
public:
    // Loads the SDK at the first call.
    static const SdkLibrary& instance();

    bool isLoaded() const { return _loaded; }
    const SdkFunctions& functions() const { return _functions; }
    // Text for FLYCAPTURE_SDK_NOT_LOADED: names the library and the reason.
    const char* loadFailureText() const { return _loadFailure.c_str(); }
    // Text for FLYCAPTURE_SDK_FUNCTION_MISSING: names the missing functions.
    const char* missingFunctionsText() const { return _missingFunctions.c_str(); }

private:
    SdkLibrary();
    bool _loaded = false;
    SdkFunctions _functions;
    std::string _loadFailure;
    std::string _missingFunctions;
};

} // namespace orvex::flycap::sdk
