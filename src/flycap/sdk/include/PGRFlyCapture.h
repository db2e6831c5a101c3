// The FlyCapture SDK functions, types, property codes and pixel formats the
// FlyCapture back end uses, declared by us: the SDK library
// ("PGRFlyCapture.dll"; libPGRFlyCapture.so on Linux) implements them.
//
// Who sees what:
// - The orvex library includes this header as is. The functions are then its
//   own lazy-binding thunks (FlyCaptureBinding.cpp), hidden inside it, which
//   load the SDK at the first call of any of them. The library has no
//   link-time dependency on the SDK.
// - The SDK itself defines PGRFLYCAPTURE_BUILDING_SDK and exports them.
// - A program that links the SDK directly (tests of the simulated SDK)
//   defines PGRFLYCAPTURE_LINK_SDK.
//
// Every function returns an error code: FLYCAPTURE_OK (0) on success,
// FLYCAPTURE_TIMEOUT (21) when no new image arrived within the grab time-out,
// anything else a failure that flycaptureErrorToString describes.
//
// Threads: every function may be called from any thread; calls on one
// context are serialised by the SDK. Bus callbacks run on a thread of the
// SDK's own.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define PGRFLYCAPTURE_CALL_CONVEN __cdecl
#if defined(PGRFLYCAPTURE_BUILDING_SDK)
#define PGRFLYCAPTURE_API __declspec(dllexport)
#elif defined(PGRFLYCAPTURE_LINK_SDK)
#define PGRFLYCAPTURE_API __declspec(dllimport)
#else
#define PGRFLYCAPTURE_API
#endif
#else
// Calling conventions do not exist on this ABI.
#define PGRFLYCAPTURE_CALL_CONVEN
#if defined(PGRFLYCAPTURE_BUILDING_SDK) || defined(PGRFLYCAPTURE_LINK_SDK)
#define PGRFLYCAPTURE_API __attribute__((visibility("default")))
#else
// The library's thunks carry the SDK's names; hidden, so that the SDK, once
// loaded, can never bind to them instead of to itself.
#define PGRFLYCAPTURE_API __attribute__((visibility("hidden")))
#endif
#endif

// Name under which the library loads the SDK (mapped to libPGRFlyCapture.so
// by the Win32 subset on Linux).
#define PGRFLYCAPTURE_LIBRARY_NAME "PGRFlyCapture.dll"

extern "C" {

// One SDK session, bound to one camera by flycaptureInitializePlus (or left
// unbound, e.g. for bus callbacks).
typedef void* FlyCaptureContext;

typedef enum FlyCaptureError {
    FLYCAPTURE_OK = 0,
    FLYCAPTURE_FAILED = 1,                 // unspecified failure
    FLYCAPTURE_INVALID_ARGUMENT = 2,       // a null pointer or a value out of its domain
    FLYCAPTURE_INVALID_CONTEXT = 3,        // not a live context
    FLYCAPTURE_NOT_IMPLEMENTED = 4,        // the SDK or the camera lacks this function
    FLYCAPTURE_NOT_INITIALIZED = 5,        // the context is not bound to a camera
    FLYCAPTURE_ALREADY_INITIALIZED = 6,    // the context is already bound
    FLYCAPTURE_NOT_STARTED = 7,            // no image transfer running
    FLYCAPTURE_ALREADY_STARTED = 8,        // image transfer already running
    FLYCAPTURE_INVALID_BUS_INDEX = 9,      // no camera at that port index
    FLYCAPTURE_INVALID_MODE = 10,          // video mode or pixel format not offered
    FLYCAPTURE_INVALID_CUSTOM_SIZE = 11,   // Format_7 geometry or packet size refused
    FLYCAPTURE_BUFFER_SIZE_TOO_SMALL = 12, // the caller's array is too short
    FLYCAPTURE_DEVICE_REMOVED = 13,        // the camera left the bus
    FLYCAPTURE_ADDRESS_ERROR = 14,         // the camera has no register at that address
    FLYCAPTURE_BUS_ERROR = 15,             // the bus transaction failed
    FLYCAPTURE_BANDWIDTH_EXCEEDED = 16,    // not enough isochronous bandwidth on the bus
    FLYCAPTURE_NO_FREE_BUFFER = 17,        // every image buffer is locked by the caller
    FLYCAPTURE_PROPERTY_NOT_PRESENT = 18,  // the camera lacks the property
    FLYCAPTURE_VALUE_OUT_OF_RANGE = 19,    // property value outside the camera's range
    FLYCAPTURE_BUFFER_NOT_LOCKED = 20,     // unlock of a buffer the caller does not hold
    FLYCAPTURE_TIMEOUT = 21,               // no new image within the grab time-out
    FLYCAPTURE_SDK_NOT_LOADED = 100,       // the SDK library could not be loaded
    FLYCAPTURE_SDK_FUNCTION_MISSING = 101, // the SDK library lacks one of these functions
} FlyCaptureError;

typedef enum FlyCaptureProperty {
    FLYCAPTURE_BRIGHTNESS = 0,
    FLYCAPTURE_AUTO_EXPOSURE = 1,
    FLYCAPTURE_SHUTTER = 12,
    FLYCAPTURE_GAIN = 13,
    FLYCAPTURE_FRAME_RATE = 15,
} FlyCaptureProperty;

// One bit each, so that a set of formats is a bit mask.
typedef enum FlyCapturePixelFormat {
    FLYCAPTURE_MONO8 = 0x00000001,
    FLYCAPTURE_MONO16 = 0x00000020,
} FlyCapturePixelFormat;

// Bus callback messages.
#define FLYCAPTURE_MESSAGE_BUS_RESET 2
#define FLYCAPTURE_MESSAGE_DEVICE_ARRIVAL 3
#define FLYCAPTURE_MESSAGE_DEVICE_REMOVAL 4

// Grab time-out that never expires.
#define FLYCAPTURE_INFINITE 0xFFFFFFFFu

#define FLYCAPTURE_NAME_LENGTH 512

// A camera on the buses (flycaptureBusEnumerateCamerasEx).
typedef struct FlyCaptureInfoEx {
    std::uint32_t uiSerialNumber;
    char szModelName[FLYCAPTURE_NAME_LENGTH];
    char szVendorName[FLYCAPTURE_NAME_LENGTH];
    int iBusNumber;
    int iNodeNumber;
    int iMaxBusSpeed; // megabits per second: 400 or 800
} FlyCaptureInfoEx;

// Packet limits of a Format_7 geometry (flycaptureGetCustomImagePacketInfo).
typedef struct FlyCapturePacketInfo {
    std::uint32_t uiMinSizeBytes; // smallest bytes per packet, also the step
    std::uint32_t uiMaxSizeBytes; // largest bytes per packet at the bus speed
    std::uint32_t uiImageSizeBytes;
} FlyCapturePacketInfo;

// Cycle time of an image's start of exposure, and the host's receive time.
typedef struct FlyCaptureTimestamp {
    std::uint32_t ulSeconds; // host time, seconds since the SDK loaded
    std::uint32_t ulMicroSeconds;
    std::uint32_t ulCycleSeconds;
    std::uint32_t ulCycleCount;
    std::uint32_t ulCycleOffset;
} FlyCaptureTimestamp;

// An image lent to the caller by flycaptureLockLatest; pData stays valid
// until the buffer is unlocked (and the SDK never writes into it meanwhile).
typedef struct FlyCaptureImage {
    int iRows;
    int iCols;
    int iRowInc; // bytes from one row to the next
    FlyCapturePixelFormat pixelFormat;
    unsigned char* pData;
    unsigned int uiBufferIndex; // the SDK buffer holding the image, for flycaptureUnlock
    std::uint32_t uiSeqNum;     // images the camera produced before this one
    FlyCaptureTimestamp timeStamp;
} FlyCaptureImage;

// Bus callback: pParam as registered, iMessage one of the messages above,
// ulParam the camera's serial number (arrival, removal) or the bus number
// (bus reset). Runs on a thread of the SDK's own.
typedef void(PGRFLYCAPTURE_CALL_CONVEN* FlyCaptureCallback)(void* pParam, int iMessage,
                                                            unsigned long ulParam);

// --- Contexts ---------------------------------------------------------------

PGRFLYCAPTURE_API FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN
flycaptureCreateContext(FlyCaptureContext* pContext);
PGRFLYCAPTURE_API FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN
flycaptureDestroyContext(FlyCaptureContext context);
// Binds the context to the camera at uiBusIndex (its position in the
// enumeration) with uiNumBuffers image buffers; arpBuffers must be null (the
// SDK allocates the buffers).
PGRFLYCAPTURE_API FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN
flycaptureInitializePlus(FlyCaptureContext context, unsigned int uiBusIndex, unsigned int uiNumBuffers,
                         unsigned char** arpBuffers);
// Adds (bAdd) or removes a bus callback; the context need not be bound.
PGRFLYCAPTURE_API FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN
flycaptureModifyCallback(FlyCaptureContext context, FlyCaptureCallback pCallback, void* pParam, bool bAdd);

// --- Buses ------------------------------------------------------------------

PGRFLYCAPTURE_API FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureBusCameraCount(unsigned int* puiCount);
// Fills up to *puiSize entries (capacity in) and sets *puiSize to the number
// filled; FLYCAPTURE_BUFFER_SIZE_TOO_SMALL when more cameras are connected.
PGRFLYCAPTURE_API FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN
flycaptureBusEnumerateCamerasEx(FlyCaptureInfoEx* arInfo, unsigned int* puiSize);

// --- Format_7 ---------------------------------------------------------------

PGRFLYCAPTURE_API FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureQueryCustomImageEx(
    FlyCaptureContext context, unsigned int uiMode, bool* pbAvailable, unsigned int* puiMaxImagePixelsWidth,
    unsigned int* puiMaxImagePixelsHeight, unsigned int* puiPixelUnitHorz, unsigned int* puiPixelUnitVert,
    unsigned int* puiOffsetUnitHorz, unsigned int* puiOffsetUnitVert, unsigned int* puiPixelFormats);
PGRFLYCAPTURE_API FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureGetCustomImagePacketInfo(
    FlyCaptureContext context, unsigned int uiMode, unsigned long ulImageWidth, unsigned long ulImageHeight,
    FlyCapturePixelFormat format, FlyCapturePacketInfo* pPacketInfo);
// Writes the geometry to the camera and starts the image transfer.
PGRFLYCAPTURE_API FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureStartCustomImagePacket(
    FlyCaptureContext context, unsigned int uiMode, unsigned int uiImagePosLeft, unsigned int uiImagePosTop,
    unsigned int uiWidth, unsigned int uiHeight, unsigned int uiBytesPerPacket, FlyCapturePixelFormat format);

// --- Images -----------------------------------------------------------------

// Longest wait of flycaptureLockLatest, in milliseconds (FLYCAPTURE_INFINITE
// by default).
PGRFLYCAPTURE_API FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN
flycaptureSetGrabTimeoutEx(FlyCaptureContext context, unsigned long ulTimeout);
// Locks the newest image not yet locked, waiting for one up to the grab
// time-out (FLYCAPTURE_TIMEOUT). Images older than it that were never locked
// are dropped.
PGRFLYCAPTURE_API FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureLockLatest(FlyCaptureContext context,
                                                                                 FlyCaptureImage* pImage);
PGRFLYCAPTURE_API FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureUnlock(FlyCaptureContext context,
                                                                             unsigned int uiBufferIndex);
PGRFLYCAPTURE_API FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureUnlockAll(FlyCaptureContext context);
// Stops the image transfer; the buffers stay allocated until the next start
// with another size, or the context's destruction.
PGRFLYCAPTURE_API FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureStop(FlyCaptureContext context);
// Decodes the embedded timestamp at the start of pData (cycle-time quadlet,
// most significant byte first).
PGRFLYCAPTURE_API FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN
flycaptureParseImageTimestamp(FlyCaptureContext context, const unsigned char* pData, unsigned int* puiSeconds,
                              unsigned int* puiCycleCount, unsigned int* puiCycleOffset);

// --- Registers --------------------------------------------------------------

// Single registers: ulRegister is an offset from 0xF0F00000, added modulo
// 2^32 (0xFF100200 reaches CYCLE_TIME).
PGRFLYCAPTURE_API FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN
flycaptureGetCameraRegister(FlyCaptureContext context, std::uint32_t ulRegister, std::uint32_t* pulValue);
PGRFLYCAPTURE_API FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN
flycaptureSetCameraRegister(FlyCaptureContext context, std::uint32_t ulRegister, std::uint32_t ulValue);
// Writes the register in every camera on the context's bus.
PGRFLYCAPTURE_API FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureSetCameraRegisterBroadcast(
    FlyCaptureContext context, std::uint32_t ulRegister, std::uint32_t ulValue);
// Blocks of ulLength quadlets at the 48-bit address (usAddrHigh, ulAddrLow);
// usAddrHigh must be 0xFFFF.
PGRFLYCAPTURE_API FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN
flycaptureReadRegisterBlock(FlyCaptureContext context, unsigned short usAddrHigh, std::uint32_t ulAddrLow,
                            std::uint32_t* pulBuffer, std::uint32_t ulLength);
PGRFLYCAPTURE_API FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN
flycaptureWriteRegisterBlock(FlyCaptureContext context, unsigned short usAddrHigh, std::uint32_t ulAddrLow,
                             const std::uint32_t* pulBuffer, std::uint32_t ulLength);

// --- Properties -------------------------------------------------------------
// Raw values are the camera's 12-bit register values; absolute values are in
// the property's unit (milliseconds, decibels, frames per second, EV,
// percent). Out-pointers given as null are skipped.

PGRFLYCAPTURE_API FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN
flycaptureGetCameraProperty(FlyCaptureContext context, FlyCaptureProperty property, std::int32_t* plValueA,
                            std::int32_t* plValueB, bool* pbAuto);
// Sets the raw value and the automatic mode; leaves absolute mode.
PGRFLYCAPTURE_API FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN
flycaptureSetCameraProperty(FlyCaptureContext context, FlyCaptureProperty property, std::int32_t lValueA,
                            std::int32_t lValueB, bool bAuto);
PGRFLYCAPTURE_API FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN
flycaptureGetCameraPropertyEx(FlyCaptureContext context, FlyCaptureProperty property, bool* pbOnePush,
                              bool* pbOnOff, bool* pbAuto, std::int32_t* piValueA, std::int32_t* piValueB);
PGRFLYCAPTURE_API FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN
flycaptureSetCameraPropertyEx(FlyCaptureContext context, FlyCaptureProperty property, bool bOnePush,
                              bool bOnOff, bool bAuto, std::int32_t iValueA, std::int32_t iValueB);
PGRFLYCAPTURE_API FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureGetCameraPropertyRangeEx(
    FlyCaptureContext context, FlyCaptureProperty property, bool* pbPresent, bool* pbOnePush, bool* pbReadOut,
    bool* pbOnOff, bool* pbAuto, bool* pbManual, std::int32_t* piMin, std::int32_t* piMax);
PGRFLYCAPTURE_API FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN
flycaptureGetCameraAbsProperty(FlyCaptureContext context, FlyCaptureProperty property, float* pfValue);
PGRFLYCAPTURE_API FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN flycaptureGetCameraAbsPropertyRange(
    FlyCaptureContext context, FlyCaptureProperty property, bool* pbPresent, float* pfMin, float* pfMax,
    const char** ppszUnits, const char** ppszUnitAbbr);
// Sets the absolute value (rounded to the nearest raw step) and switches the
// property to absolute mode with the given flags.
PGRFLYCAPTURE_API FlyCaptureError PGRFLYCAPTURE_CALL_CONVEN
flycaptureSetCameraAbsPropertyEx(FlyCaptureContext context, FlyCaptureProperty property, bool bOnePush,
                                 bool bOnOff, bool bAuto, float fValue);

// --- Errors -----------------------------------------------------------------

// A text for every code (unknown codes included); never null, static storage.
PGRFLYCAPTURE_API const char* PGRFLYCAPTURE_CALL_CONVEN flycaptureErrorToString(FlyCaptureError error);

} // extern "C"
