// The BCAM driver's interface as its client and the simulated driver both
// see it: the device interface class, the I/O control requests with their
// buffer sizes and the layouts of their payloads, the completion messages,
// the driver's and the client's error codes, and where the driver's
// installation lives. Plain constants: any thread, no locking.
//
// Every payload is a sequence of 32-bit quadlets in the host's byte order.
#pragma once

#include <orvex/win32.h>

#include <cstdint>

namespace orvex::bcam {

// {D535C794-A527-4B72-923A-63029FA5D83B}
constexpr GUID kInterfaceClass = {
    0xD535C794, 0xA527, 0x4B72, {0x92, 0x3A, 0x63, 0x02, 0x9F, 0xA5, 0xD8, 0x3B}};

// Output length of a request whose output is the program's image buffer.
constexpr DWORD kBufferSized = 0xFFFFFFFF;

struct RequestEntry {
    DWORD code;
    DWORD inBytes;
    DWORD outBytes;
    const char* name; // also the fault table's function name
};

// The requests, by code. Inputs must have exactly inBytes, outputs at least
// outBytes.
namespace request {
constexpr RequestEntry kFormatInquiry = {0x80102004, 0, 4, "IsVideoFormatSupported"};
constexpr RequestEntry kModeInquiry = {0x80102008, 4, 4, "IsVideoModeSupported"};
constexpr RequestEntry kRateInquiry = {0x8010200C, 8, 4, "IsVideoFrameRateSupported"};
constexpr RequestEntry kSetVideoMode = {0x80102010, 12, 0, "SetVideoMode"};
constexpr RequestEntry kInfo = {0x80102018, 4, 256, "Info"};
constexpr RequestEntry kFormat7Inquiry = {0x8010201C, 4, 56, "Format7Inquiry"};
constexpr RequestEntry kSetImageArea = {0x80102020, 24, 0, "SetImageArea"};
constexpr RequestEntry kGetImageArea = {0x80102024, 4, 16, "GetImageArea"};
constexpr RequestEntry kGetColorCoding = {0x80102028, 4, 4, "GetColorCoding"};
constexpr RequestEntry kSetColorCoding = {0x8010202C, 8, 0, "SetColorCoding"};
constexpr RequestEntry kBytePerFrame = {0x80102030, 4, 28, "BytePerFrame"};
constexpr RequestEntry kContinuousShot = {0x8010203C, 8, 0, "ContinuousShot"};
constexpr RequestEntry kGrabImage = {0x80102041, 0, kBufferSized, "GrabImageAsync"};
constexpr RequestEntry kPropertyInquiry = {0x80102050, 4, 4, "PropertyInquiry"};
constexpr RequestEntry kSetProperty = {0x80102054, 12, 0, "SetProperty"};
constexpr RequestEntry kGetProperty = {0x80102058, 8, 4, "GetProperty"};
constexpr RequestEntry kAllocateResources = {0x80102064, 12, 12, "AllocateResources"};
constexpr RequestEntry kFreeResources = {0x8010206B, 0, 0, "FreeResources"};
constexpr RequestEntry kSetBytePerPacket = {0x8010206C, 8, 0, "SetBytePerPacket"};
constexpr RequestEntry kGetVideoMode = {0x80102070, 0, 12, "GetVideoMode"};
constexpr RequestEntry kCancel = {0x80102093, 0, 0, "Cancel"};
constexpr RequestEntry kReadQuadlet = {0x80103FC0, 8, 4, "ReadQuadlet"};
constexpr RequestEntry kWriteQuadlet = {0x80103FC4, 12, 0, "WriteQuadlet"};

inline constexpr RequestEntry kAll[] = {
    kFormatInquiry,  kModeInquiry,       kRateInquiry,   kSetVideoMode,     kInfo,
    kFormat7Inquiry, kSetImageArea,      kGetImageArea,  kGetColorCoding,   kSetColorCoding,
    kBytePerFrame,   kContinuousShot,    kGrabImage,     kPropertyInquiry,  kSetProperty,
    kGetProperty,    kAllocateResources, kFreeResources, kSetBytePerPacket, kGetVideoMode,
    kCancel,         kReadQuadlet,       kWriteQuadlet};
} // namespace request

// Info: input quadlet 0 chooses the text; the output is a zero-terminated string.
enum InfoText : uint32_t { kInfoModelName = 0, kInfoVendorName = 1, kInfoFirmwareVersion = 2 };

// SetImageArea input: mode, which, first value, second value, 0, 0.
enum ImageAreaItem : uint32_t { kAreaSize = 0, kAreaPosition = 1 };

// GetImageArea output quadlets.
enum ImageAreaOut : unsigned { kAreaLeft = 0, kAreaTop = 1, kAreaWidth = 2, kAreaHeight = 3 };

// Format7Inquiry output quadlets (14 in all; the rest are 0).
enum Format7Out : unsigned {
    kF7MaxWidth = 0,
    kF7MaxHeight = 1,
    kF7UnitWidth = 2,
    kF7UnitHeight = 3,
    kF7UnitLeft = 4,
    kF7UnitTop = 5,
    kF7ColorCodings = 6, // bit (31 - code) per colour code offered
    kF7PacketUnit = 7,
    kF7PacketMax = 8,
};

// BytePerFrame output quadlets (7).
enum BytePerFrameOut : unsigned {
    kFrameBytes = 0, // pixels and chunks: the size of a grab buffer
    kPacketUnit = 1,
    kPacketMax = 2,
    kPacketBytes = 3,
    kPacketsPerFrame = 4,
    kPixelBytes = 5,
    kChunkBytes = 6,
};

// Property requests: feature number (IIDC feature index), item, [value].
enum PropertyItem : uint32_t { kItemValue = 0, kItemOnOff = 1, kItemMode = 2, kItemPolarity = 3 };

// AllocateResources: in (buffer count, buffer size, 0), out (buffer count,
// buffer size, bytes per frame).
enum ResourcesOut : unsigned { kResourceCount = 0, kResourceSize = 1, kResourceFrameBytes = 2 };

// The driver's own completion statuses (customer bit set: they reach the
// program unchanged through GetLastError).
namespace error {
constexpr DWORD kNoResources = 0xE0000001;    // grab without AllocateResources
constexpr DWORD kBufferTooSmall = 0xE0000002; // grab buffer smaller than the frame
constexpr DWORD kTooManyGrabs = 0xE0000003;   // more grabs queued than buffers allocated
constexpr DWORD kValueRefused = 0xE0000004;   // the camera refused the setting
constexpr DWORD kAddressError = 0xE0000005;   // no register at that address
constexpr DWORD kUnsupported = 0xE0000006;    // mode, feature or item the camera lacks
constexpr DWORD kBusy = 0xE0000007;           // not while the camera streams
constexpr DWORD kResourcesInUse = 0xE0000008; // AllocateResources twice
constexpr DWORD kNoBandwidth = 0xE0000009;    // the bus cannot carry the camera's packets too
constexpr DWORD kNoChannel = 0xE000000A;      // every isochronous channel of the bus is taken
} // namespace error

// Completion messages: a grab ended (context: the caller's buffer id), and
// the stop notification a consumer posts to itself (-2 as a 32-bit value).
constexpr DWORD kGrabCompletedMessage = 0x15;
constexpr DWORD kStopMessage = 0xFFFFFFFE;
// Mode and rate index standing for "any" in video mode inquiries.
constexpr DWORD kAnyIndex = 0xFFFFFFFF;

// The client's own codes; "BcamError.dll" has texts for them too.
namespace message {
constexpr DWORD kVersionMismatch = 0x4FF00019; // inserts: %1 found, %2 required ("%d.%d")
constexpr DWORD kNotOpen = 0xCFF00004;         // a request on a device that is not open
constexpr DWORD kUnexpected = 0x8000FFFF;      // the driver's version could not be read
} // namespace message

// The driver's installation as the system keeps it: the service key's
// "ImagePath" (relative to the Windows directory unless absolute), the
// version the client requires of that file, and the message library.
constexpr const char* kServiceKey = "System\\CurrentControlSet\\Services\\bcam";
constexpr const char* kImagePathValue = "ImagePath";
constexpr WORD kRequiredMajorVersion = 1;
constexpr WORD kRequiredMinorVersion = 8;
constexpr const char* kMessageLibrary = "BcamError.dll";

} // namespace orvex::bcam
