// IIDC (DCAM) camera registers: the addresses, fields and bits that the
// library writes and the simulated camera answers, in one place.
//
// Addresses are full 32-bit register addresses below the 1394 high part
// 0xFFFF (the camera's control registers start at 0xF0F00000). Bits are
// numbered from the least significant (bit 31 is the most significant), so a
// mask reads as the value it sets. Plain constants: any thread, no locking.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvex {
namespace iidc {

// ---------------------------------------------------------------------------
// Address space

// High 16 bits of every 48-bit register address (block transfers take it).
constexpr uint16_t kAddressHigh = 0xFFFF;
// The IEEE 1212 CSR space every node has; CYCLE_TIME and the configuration
// ROM live here.
constexpr uint32_t kCsrBase = 0xF0000000;
// The camera's IIDC control registers. The FlyCapture single-register calls
// take an offset from this base, added modulo 2^32.
constexpr uint32_t kRegisterBase = 0xF0F00000;
// Offset from kRegisterBase as the single-register calls take it. The caller
// keeps the low 16 bits of an absolute register address.
constexpr uint32_t kRegisterOffsetMask = 0xFFFF;
// Absolute address of an offset given to a single-register call.
constexpr uint32_t registerAddress(uint32_t offset)
{
    return kRegisterBase + offset; // modulo 2^32 by unsigned arithmetic
}
// A "quadlet offset" register (Format_7 CSR, strobe CSR, user memory data,
// advanced features) holds its target address in quadlets from kCsrBase.
constexpr uint32_t quadletOffsetToAddress(uint32_t quadletOffset)
{
    return (quadletOffset * 4u) | kCsrBase;
}
constexpr uint32_t addressToQuadletOffset(uint32_t address)
{
    return (address - kCsrBase) / 4u;
}

// Generic presence bit of inquiry and feature registers.
constexpr uint32_t kPresence = 0x80000000;

// ---------------------------------------------------------------------------
// IEEE 1394 CSR core registers

// CYCLE_TIME: the node's copy of the bus cycle timer.
constexpr uint32_t kCycleTime = 0xF0000200;
// The single-register offset that reaches CYCLE_TIME from kRegisterBase:
// 0xF0000200 - 0xF0F00000 modulo 2^32.
constexpr uint32_t kCycleTimeRegisterOffset = 0xFF100200;
static_assert(registerAddress(kCycleTimeRegisterOffset) == kCycleTime, "CYCLE_TIME offset wraps to the CSR");
// BUS_TIME: seconds since the bus came up (the cycle timer's seconds field
// extended to 32 bits).
constexpr uint32_t kBusTime = 0xF0000204;

// Cycle-time quadlet layout: seconds bits 31..25, cycle count bits 24..12,
// cycle offset bits 11..0. The clock runs at 24.576 MHz.
constexpr unsigned kCycleSecondsShift = 25;
constexpr uint32_t kCycleSecondsMask = 0x7F;
constexpr unsigned kCycleCountShift = 12;
constexpr uint32_t kCycleCountMask = 0x1FFF;
constexpr uint32_t kCycleOffsetMask = 0xFFF;
constexpr uint32_t kTicksPerCycle = 3072;
constexpr uint32_t kCyclesPerSecond = 8000;
constexpr uint32_t kTicksPerSecond = kTicksPerCycle * kCyclesPerSecond; // 24,576,000
constexpr uint32_t kCycleSecondsWrap = 128;
constexpr uint32_t kTicksPerWrap = kCycleSecondsWrap * kTicksPerSecond; // 3,145,728,000
constexpr double kTickFrequencyHz = 24576000.0;

constexpr uint32_t makeCycleTime(uint32_t seconds, uint32_t cycles, uint32_t offset)
{
    return ((seconds & kCycleSecondsMask) << kCycleSecondsShift) |
           ((cycles & kCycleCountMask) << kCycleCountShift) | (offset & kCycleOffsetMask);
}
constexpr uint32_t cycleSeconds(uint32_t cycleTime)
{
    return cycleTime >> kCycleSecondsShift;
}
constexpr uint32_t cycleCount(uint32_t cycleTime)
{
    return (cycleTime >> kCycleCountShift) & kCycleCountMask;
}
constexpr uint32_t cycleOffset(uint32_t cycleTime)
{
    return cycleTime & kCycleOffsetMask;
}
// Ticks since the last wrap, for a well-formed quadlet (cycle count < 8000).
constexpr uint32_t cycleTimeToTicks(uint32_t cycleTime)
{
    return (cycleSeconds(cycleTime) * kCyclesPerSecond + cycleCount(cycleTime)) * kTicksPerCycle +
           cycleOffset(cycleTime);
}
// The quadlet of a tick count, taken modulo the 128 s wrap.
constexpr uint32_t ticksToCycleTime(uint32_t ticks)
{
    const uint32_t t = ticks % kTicksPerWrap;
    return makeCycleTime(t / kTicksPerSecond, (t / kTicksPerCycle) % kCyclesPerSecond, t % kTicksPerCycle);
}
// `to` - `from` in ticks, taken across the 128 s wrap to the nearest: the
// disagreement of two stamps of one instant.
constexpr int64_t signedTicksBetween(uint32_t fromCycleTime, uint32_t toCycleTime)
{
    constexpr int64_t wrap = kTicksPerWrap;
    int64_t d = (static_cast<int64_t>(cycleTimeToTicks(toCycleTime)) -
                 static_cast<int64_t>(cycleTimeToTicks(fromCycleTime))) %
                wrap;
    if (d >= wrap / 2)
        d -= wrap;
    if (d < -wrap / 2)
        d += wrap;
    return d;
}

// Configuration ROM: bus information block (the node's 64-bit unique id).
constexpr uint32_t kConfigRomBase = 0xF0000400;
constexpr uint32_t kConfigRomBusName = 0xF0000404; // "1394"
constexpr uint32_t kConfigRomGuidHigh = 0xF000040C;
constexpr uint32_t kConfigRomGuidLow = 0xF0000410;
constexpr uint32_t kConfigRomEnd = 0xF0000800;
constexpr uint32_t kBusName1394 = 0x31333934;
// Bus information block, first quadlet: info length (bits 31..24), CRC
// length (bits 23..16, quadlets covered by the CRC), CRC (bits 15..0).
constexpr uint32_t kConfigRomInfoLength = 4;
// Node capabilities (third quadlet): isochronous capable, cycle clock
// accuracy (bits 23..16), max_rec (bits 15..12), link speed (bits 2..0).
constexpr uint32_t kConfigRomNodeCaps = 0xF0000408;
constexpr uint32_t kBusInfoIsochronous = 0x20000000;
constexpr unsigned kBusInfoCycleAccuracyShift = 16;
constexpr unsigned kBusInfoMaxRecShift = 12;
// Root directory, right after the bus information block.
constexpr uint32_t kConfigRomRootDirectory = 0xF0000414;

// Directory entries: key in bits 31..24, value in bits 23..0. Directory and
// leaf entries hold the distance, in quadlets, from the entry to the target.
// Directory and leaf headers: length in quadlets (bits 31..16), CRC-16 of
// those quadlets (bits 15..0).
constexpr unsigned kRomKeyShift = 24;
constexpr uint32_t kRomValueMask = 0x00FFFFFF;
constexpr uint32_t kRomKeyModuleVendorId = 0x03;
constexpr uint32_t kRomKeyNodeCapabilities = 0x0C;
constexpr uint32_t kRomKeyUnitSpecifierId = 0x12;
constexpr uint32_t kRomKeyUnitSwVersion = 0x13;
constexpr uint32_t kRomKeyUnitSubSwVersion = 0x38;
constexpr uint32_t kRomKeyCommandRegsBase = 0x40;
constexpr uint32_t kRomKeyVendorNameLeaf = 0x81;
constexpr uint32_t kRomKeyModelNameLeaf = 0x82;
constexpr uint32_t kRomKeyUnitDirectory = 0xD1;
constexpr uint32_t kRomKeyUnitDependentDirectory = 0xD4;
constexpr uint32_t romEntry(uint32_t key, uint32_t value)
{
    return (key << kRomKeyShift) | (value & kRomValueMask);
}
constexpr uint32_t romKey(uint32_t entry)
{
    return entry >> kRomKeyShift;
}
constexpr uint32_t romValue(uint32_t entry)
{
    return entry & kRomValueMask;
}
// The unit directory of an IIDC camera: the 1394 Trade Association's unit
// specifier id, software version 0x102 (IIDC 1.30 and later, the sub-version
// in the unit dependent directory telling which: 0x10 is 1.31).
constexpr uint32_t kIidcUnitSpecifierId = 0x00A02D;
constexpr uint32_t kIidcUnitSwVersion = 0x000102;
constexpr uint32_t kIidcSubVersion131 = 0x000010;

// ---------------------------------------------------------------------------
// Camera initialisation and inquiry (IIDC)

// INITIALIZE: writing bit 31 returns the camera to its power-up defaults.
constexpr uint32_t kInitialize = 0xF0F00000;
constexpr uint32_t kInitializeBit = 0x80000000;

// V_FORMAT_INQ: bit (31 - n) set when video format n is available.
constexpr uint32_t kVideoFormatInquiry = 0xF0F00100;
// V_MODE_INQ_n: bit (31 - m) set when mode m of format n is available.
constexpr uint32_t kVideoModeInquiryBase = 0xF0F00180;
constexpr uint32_t videoModeInquiry(uint32_t format)
{
    return kVideoModeInquiryBase + 4u * format;
}
// V_RATE_INQ_n_m: bit (31 - r) set when frame-rate index r is available.
constexpr uint32_t kVideoRateInquiryBase = 0xF0F00200;
constexpr uint32_t videoRateInquiry(uint32_t format, uint32_t mode)
{
    return kVideoRateInquiryBase + 0x20u * format + 4u * mode;
}
constexpr uint32_t formatBit(uint32_t index) // also modes and rate indexes
{
    return 0x80000000u >> index;
}
constexpr uint32_t kFormat7 = 7;
// V_CSR_INQ_7_m: quadlet offset of the Format_7 mode m register block.
constexpr uint32_t kFormat7CsrInquiryBase = 0xF0F002E0;
constexpr uint32_t format7CsrInquiry(uint32_t mode)
{
    return kFormat7CsrInquiryBase + 4u * mode;
}

// BASIC_FUNC_INQ.
constexpr uint32_t kBasicFunctionInquiry = 0xF0F00400;
constexpr uint32_t kBasicAdvancedFeature = 0x80000000; // advanced feature area present
constexpr uint32_t kBasicOptionalFunctions = 0x10000000;
constexpr uint32_t kBasicPowerControl = 0x00008000;
constexpr uint32_t kBasicOneShot = 0x00001000;
constexpr uint32_t kBasicMultiShot = 0x00000800;
constexpr uint32_t kBasic1394b = 0x00800000; // 1394b operation mode of ISO_CHANNEL_SPEED
// OPT_FUNC_INQ: the optional functions the camera has.
constexpr uint32_t kOptionalFunctionInquiry = 0xF0F0040C;
constexpr uint32_t kOptionalPio = 0x40000000;
constexpr uint32_t kOptionalSio = 0x20000000;
constexpr uint32_t kOptionalStrobe = 0x10000000; // strobe output block (kStrobeOutputInquiry)
// FEATURE_HI_INQ / FEATURE_LO_INQ: bit (31 - feature index) per present feature.
constexpr uint32_t kFeatureHighInquiry = 0xF0F00404;
constexpr uint32_t kFeatureLowInquiry = 0xF0F00408;
// Advanced_Feature_Inq: quadlet offset of the advanced feature area.
constexpr uint32_t kAdvancedFeatureInquiry = 0xF0F00480;
constexpr uint32_t kAdvancedFeatureBase = 0xF2F00000;
constexpr uint32_t kAdvancedFeatureEnd = 0xF2F10000;
// Quadlet offset of the strobe output register block.
constexpr uint32_t kStrobeOutputInquiry = 0xF0F0048C;

// ---------------------------------------------------------------------------
// Features: inquiry at kFeatureInquiryBase + 4 * index, control (CSR) at
// kFeatureControlBase + 4 * index, absolute-value CSR offset at
// kFeatureAbsoluteOffsetBase + 4 * index.

constexpr uint32_t kFeatureInquiryBase = 0xF0F00500;
constexpr uint32_t kFeatureControlBase = 0xF0F00800;
constexpr uint32_t kFeatureAbsoluteOffsetBase = 0xF0F00700;

constexpr uint32_t kFeatureBrightness = 0;
constexpr uint32_t kFeatureAutoExposure = 1;
constexpr uint32_t kFeatureShutter = 7;
constexpr uint32_t kFeatureGain = 8;
constexpr uint32_t kFeatureTemperature = 11;
constexpr uint32_t kFeatureTrigger = 12;
constexpr uint32_t kFeatureFrameRate = 15;

constexpr uint32_t featureInquiry(uint32_t index)
{
    return kFeatureInquiryBase + 4u * index;
}
constexpr uint32_t featureControl(uint32_t index)
{
    return kFeatureControlBase + 4u * index;
}
// ABS_CSR_INQ: quadlet offset of the feature's absolute-value block, 0 when
// the feature has no absolute control.
constexpr uint32_t featureAbsoluteOffset(uint32_t index)
{
    return kFeatureAbsoluteOffsetBase + 4u * index;
}
// Absolute-value block: IEEE single-precision floats in the feature's unit
// (shutter in seconds, gain in dB, brightness in %, auto exposure in EV,
// frame rate in fps). Only the value is writable.
constexpr uint32_t kAbsMinimum = 0x000;
constexpr uint32_t kAbsMaximum = 0x004;
constexpr uint32_t kAbsValue = 0x008;

// Feature inquiry bits.
constexpr uint32_t kInquiryAbsolute = 0x40000000;
constexpr uint32_t kInquiryOnePush = 0x10000000;
constexpr uint32_t kInquiryReadOut = 0x08000000;
constexpr uint32_t kInquiryOnOff = 0x04000000;
constexpr uint32_t kInquiryAuto = 0x02000000;
constexpr uint32_t kInquiryManual = 0x01000000;
constexpr unsigned kInquiryMinShift = 12; // bits 23..12: minimum raw value
constexpr uint32_t kInquiryValueMask = 0xFFF;

// Feature control (CSR) bits.
constexpr uint32_t kControlAbsolute = 0x40000000;
constexpr uint32_t kControlOnePush = 0x04000000;
constexpr uint32_t kControlOn = 0x02000000;
constexpr uint32_t kControlAuto = 0x01000000;
constexpr unsigned kControlHighValueShift = 12; // bits 23..12
constexpr uint32_t kControlValueMask = 0xFFF;   // bits 11..0: raw value

// Shortcuts for the features the library addresses directly.
constexpr uint32_t kBrightness = featureControl(kFeatureBrightness);     // 0xF0F00800
constexpr uint32_t kAutoExposure = featureControl(kFeatureAutoExposure); // 0xF0F00804
constexpr uint32_t kShutter = featureControl(kFeatureShutter);           // 0xF0F0081C
constexpr uint32_t kGain = featureControl(kFeatureGain);                 // 0xF0F00820
constexpr uint32_t kFrameRate = featureControl(kFeatureFrameRate);       // 0xF0F0083C

// TEMPERATURE (0xF0F0082C): bit 31 presence, bits 11..0 the temperature in
// tenths of a kelvin.
constexpr uint32_t kTemperature = featureControl(kFeatureTemperature);
constexpr uint32_t kTemperatureValueMask = 0xFFF;
constexpr double kTemperatureZeroCelsiusTenthsK = 2731.5;

// TRIGGER_INQ (0xF0F00530).
constexpr uint32_t kTriggerInquiry = featureInquiry(kFeatureTrigger);
constexpr uint32_t kTriggerInqPresence = 0x80000000;
constexpr uint32_t kTriggerInqReadable = 0x08000000;
constexpr uint32_t kTriggerInqOnOff = 0x04000000;
constexpr uint32_t kTriggerInqPolarity = 0x02000000;
constexpr uint32_t kTriggerInqValueRead = 0x01000000;
constexpr uint32_t kTriggerInqSource0 = 0x00800000; // bits 23..20: sources 0 to 3
constexpr uint32_t kTriggerInqSoftware = 0x00010000;
constexpr uint32_t kTriggerInqMode0 = 0x00008000; // bit (15 - m): trigger mode m
constexpr uint32_t triggerInqMode(uint32_t mode)
{
    return kTriggerInqMode0 >> mode;
}
constexpr uint32_t triggerInqSource(uint32_t source)
{
    return kTriggerInqSource0 >> source;
}

// TRIGGER_MODE (0xF0F00830).
constexpr uint32_t kTriggerMode = featureControl(kFeatureTrigger);
constexpr uint32_t kTriggerOn = 0x02000000;       // bit 25
constexpr uint32_t kTriggerPolarity = 0x01000000; // bit 24: 1 = high active, rising edge
constexpr unsigned kTriggerSourceShift = 21;      // bits 23..21
constexpr uint32_t kTriggerSourceMask = 0x7;
constexpr uint32_t kTriggerValue = 0x00100000; // bit 20: level of the trigger input
constexpr unsigned kTriggerModeShift = 16;     // bits 19..16
constexpr uint32_t kTriggerModeMask = 0xF;
constexpr uint32_t kTriggerParameterMask = 0xFFF;
constexpr uint32_t kTriggerSourceSoftware = 7;

// ---------------------------------------------------------------------------
// Camera status and control (IIDC)

// CUR_V_FRM_RATE, CUR_V_MODE, CUR_V_FORMAT: index in bits 31..29.
constexpr uint32_t kCurrentFrameRate = 0xF0F00600;
constexpr uint32_t kCurrentVideoMode = 0xF0F00604;
constexpr uint32_t kCurrentVideoFormat = 0xF0F00608;
constexpr unsigned kCurrentIndexShift = 29;
constexpr uint32_t kCurrentIndexMask = 0xE0000000;
// ISO_SPEED (bits 25..24 on a legacy camera) and ISO_CHANNEL (bits 31..28).
// In 1394b operation mode (bit 15) the channel is bits 13..8 and the speed
// bits 2..0. Speed codes: 0 S100, 1 S200, 2 S400, 3 S800.
constexpr uint32_t kIsoChannelSpeed = 0xF0F0060C;
constexpr unsigned kIsoChannelShift = 28;
constexpr uint32_t kIsoChannelMask = 0xF;
constexpr unsigned kIsoSpeedShift = 24;
constexpr uint32_t kIsoSpeedMask = 0x3;
constexpr uint32_t kIsoOperationMode1394b = 0x00008000;
constexpr unsigned kIso1394bChannelShift = 8;
constexpr uint32_t kIso1394bChannelMask = 0x3F;
constexpr uint32_t kIso1394bSpeedMask = 0x7;
constexpr uint32_t kIsoSpeedS400 = 2;
// Camera_Power: bit 31 switches the camera on.
constexpr uint32_t kCameraPower = 0xF0F00610;
constexpr uint32_t kCameraPowerOn = 0x80000000;
// ISO_EN: bit 31 while the camera streams.
constexpr uint32_t kIsoEnable = 0xF0F00614;
constexpr uint32_t kIsoEnableBit = 0x80000000;
// Software_Trigger: writing bit 31 fires a camera whose trigger is on with
// source kTriggerSourceSoftware; reads bit 31 until the triggered exposure
// has ended.
constexpr uint32_t kSoftwareTriggerStandard = 0xF0F0062C;
constexpr uint32_t kSoftwareTriggerStandardFire = 0x80000000;
// One_Shot (bit 31) sends one image, Multi_Shot (bit 30) sends Count_Number
// (bits 15..0) images; both only while ISO_EN is off, both clear themselves
// when the images are sent.
constexpr uint32_t kOneShot = 0xF0F0061C;
constexpr uint32_t kOneShotBit = 0x80000000;
constexpr uint32_t kMultiShotBit = 0x40000000;
constexpr uint32_t kMultiShotCountMask = 0xFFFF;

// ---------------------------------------------------------------------------
// Format_7 mode register block, offsets from its base address (the quadlet
// offset in V_CSR_INQ_7_m). Two-field registers keep the first-named field in
// bits 31..16 and the second in bits 15..0.

constexpr uint32_t kF7MaxImageSizeInquiry = 0x000; // max width, max height
constexpr uint32_t kF7UnitSizeInquiry = 0x004;     // width unit, height unit
constexpr uint32_t kF7ImagePosition = 0x008;       // left, top
constexpr uint32_t kF7ImageSize = 0x00C;           // width, height
constexpr uint32_t kF7ColorCodingId = 0x010;       // colour code in bits 31..24
constexpr uint32_t kF7ColorCodingInquiry = 0x014;  // bit (31 - code) per colour code
constexpr uint32_t kF7PixelNumberInquiry = 0x034;
constexpr uint32_t kF7TotalBytesHighInquiry = 0x038;
constexpr uint32_t kF7TotalBytesLowInquiry = 0x03C;
constexpr uint32_t kF7PacketParameterInquiry = 0x040; // unit bytes per packet, max bytes per packet
constexpr uint32_t kF7BytePerPacket = 0x044;          // bytes per packet, recommended value
constexpr uint32_t kF7PacketPerFrameInquiry = 0x048;
constexpr uint32_t kF7UnitPositionInquiry = 0x04C; // left unit, top unit
// VALUE_SETTING: bit 31 presence; writing Setting_1 (bit 30) makes the
// camera check and apply the whole setting, and the bit clears when done.
// ErrorFlag_1 (bit 23): position, size or colour coding refused (also set by
// a refused direct write of any of the mode's registers); ErrorFlag_2
// (bit 22): the packet size refused by Setting_1.
constexpr uint32_t kF7ValueSetting = 0x07C;
constexpr uint32_t kF7ValueSettingApply = 0x40000000;
constexpr uint32_t kF7ValueSettingError = 0x00800000;
constexpr uint32_t kF7ValueSettingPacketError = 0x00400000;
constexpr uint32_t kF7BlockSize = 0x080;
constexpr unsigned kF7ColorCodingShift = 24;

constexpr uint32_t kColorCodeMono8 = 0;
constexpr uint32_t kColorCodeMono16 = 5;

constexpr uint32_t packHigh(uint32_t high, uint32_t low)
{
    return ((high & 0xFFFFu) << 16) | (low & 0xFFFFu);
}
constexpr uint32_t highField(uint32_t value)
{
    return value >> 16;
}
constexpr uint32_t lowField(uint32_t value)
{
    return value & 0xFFFFu;
}

// ---------------------------------------------------------------------------
// Camera-specific registers (Point Grey layout)

// Software trigger: writing bit 31 fires one image when the trigger is on;
// reads kSoftwareTriggerReady when the camera can take a trigger.
constexpr uint32_t kSoftwareTrigger = 0xF0F0102C;
constexpr uint32_t kSoftwareTriggerOffset = 0x102C;
constexpr uint32_t kSoftwareTriggerFire = 0x80000000;
constexpr uint32_t kSoftwareTriggerReady = 0x80000001;
constexpr uint32_t kSoftwareTriggerBusy = 0x80000000;

// GPIO control: bit (31 - pin) set configures GPIO pin `pin` (0 to 3) as an
// output. Pin 0 is the external trigger input.
constexpr uint32_t kGpioControl = 0xF0F011F8;
constexpr uint32_t kGpioPinCount = 4;
constexpr uint32_t gpioOutputBit(uint32_t pin)
{
    return 0x80000000u >> pin;
}

// Synchronisation block (two quadlets, see SyncRegisters.h).
constexpr uint32_t kSync = 0xF0F01200;

// User memory: description (bit 31 presence, bits 23..12 e1, bits 11..0 e2:
// 2^e1 * 2^e2 bytes) and the quadlet offset of its data area.
constexpr uint32_t kUserMemoryDescription = 0xF0F01240;
constexpr uint32_t kUserMemoryDataOffset = 0xF0F01244;
constexpr unsigned kUserMemoryE1Shift = 12;
constexpr uint32_t kUserMemoryExponentMask = 0xFFF;

// Embedded frame information (layout in FrameInfo.h).
constexpr uint32_t kFrameInfo = 0xF0F012F8;

// Strobe block, relative to the address of kStrobeOutputInquiry's quadlet
// offset: inquiry of output g at +0x100 + 4 g, control at +0x200 + 4 g.
constexpr uint32_t kStrobeInquiryOffset = 0x100;
constexpr uint32_t kStrobeControlOffset = 0x200;
constexpr uint32_t kStrobeInqReadable = 0x08000000;
constexpr uint32_t kStrobeInqOnOff = 0x04000000;
constexpr uint32_t kStrobeInqPolarity = 0x02000000;
constexpr uint32_t kStrobeOn = 0x02000000;       // bit 25
constexpr uint32_t kStrobePolarity = 0x01000000; // bit 24: 1 = high active
constexpr unsigned kStrobeDelayShift = 12;       // bits 23..12
constexpr uint32_t kStrobeFieldMask = 0xFFF;     // delay and duration (bits 11..0)

// The strobe delay and duration fields encode a time piecewise linearly:
// from each segment's origin, `rawPerMs` raw steps per millisecond. A raw
// value (or a time) belongs to the segment whose origin it exceeds last;
// the origin itself still belongs to the segment before. The raw range ends
// at kStrobeFieldMask (49 ms).
struct StrobeTimeSegment {
    uint32_t timeOriginUs;
    uint32_t rawOrigin;
    uint32_t rawPerMs;
};
constexpr StrobeTimeSegment kStrobeTimeSegments[] = {
    {0, 0, 1024},       {1000, 1024, 512},  {2000, 1536, 512},  {4000, 2048, 256},
    {6000, 2304, 256},  {8000, 2560, 256},  {12000, 2816, 256}, {16000, 3072, 256},
    {24000, 3328, 256}, {32000, 3584, 256}, {48000, 3840, 255},
};
constexpr std::size_t kStrobeTimeSegmentCount = sizeof(kStrobeTimeSegments) / sizeof(kStrobeTimeSegments[0]);
// The segment of a raw field value.
constexpr const StrobeTimeSegment& strobeSegmentOfRaw(uint32_t raw)
{
    std::size_t i = 0;
    while (i + 1 < kStrobeTimeSegmentCount && raw > kStrobeTimeSegments[i + 1].rawOrigin) {
        ++i;
    }
    return kStrobeTimeSegments[i];
}
// The segment of a time in microseconds.
constexpr const StrobeTimeSegment& strobeSegmentOfTime(uint32_t timeUs)
{
    std::size_t i = 0;
    while (i + 1 < kStrobeTimeSegmentCount && timeUs > kStrobeTimeSegments[i + 1].timeOriginUs) {
        ++i;
    }
    return kStrobeTimeSegments[i];
}

// Firmware version: major bits 31..24, minor 23..16, type 15..12, build 11..0.
constexpr uint32_t kFirmwareVersion = 0xF0F01F60;

} // namespace iidc
} // namespace orvex
