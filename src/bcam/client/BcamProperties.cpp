// The property objects' requests and the payload fields they read.
#include "bcam/client/BcamProperties.h"

#include "bcam/client/Bcam.h"

#include <orvex/iidc/Registers.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace Bcam {

namespace req = orvex::bcam::request;
using namespace orvex::bcam;

namespace {

// The highest trigger mode the inquiry quadlet has a bit for.
constexpr DWORD kMaxTriggerMode = 15;
// The highest colour coding id the inquiry quadlet has a bit for.
constexpr DWORD kMaxColorCoding = 31;

} // namespace

std::vector<uint32_t> CProperty::Request(const RequestEntry& entry, std::vector<uint32_t> in,
                                         const char* context) const
{
    in.resize(entry.inBytes / 4);
    std::vector<uint32_t> out(entry.outBytes / 4);
    _device.Request(entry, in.data(), out.data(), context);
    return out;
}

DWORD CRawRegister::Read() const
{
    return Request(req::kGetProperty, {Number(), kItemValue}, "CBcam::CRawRegister::Read()")[0] &
           orvex::iidc::kControlValueMask;
}

void CRawRegister::Assign(DWORD value)
{
    Request(req::kSetProperty, {Number(), kItemValue, value}, "CBcam::CRawRegister::Assign()");
}

DWORD CRawRegister::Min() const
{
    const uint32_t inquiry = Request(req::kPropertyInquiry, {Number()}, "CBcam::CRawRegister::Min()")[0];
    // The feature's inquiry quadlet: minimum in bits 12 to 23, maximum in bits 0 to 11.
    return (inquiry >> orvex::iidc::kInquiryMinShift) & orvex::iidc::kInquiryValueMask;
}

DWORD CRawRegister::Max() const
{
    return Request(req::kPropertyInquiry, {Number()}, "CBcam::CRawRegister::Max()")[0] &
           orvex::iidc::kInquiryValueMask;
}

bool CBoolControl::Read() const
{
    return Request(req::kGetProperty, {Number(), kItemOnOff}, "CBcam::CBoolControl::Read()")[0] != 0;
}

void CBoolControl::Assign(bool on)
{
    Request(req::kSetProperty, {Number(), kItemOnOff, on ? 1u : 0u}, "CBcam::CBoolControl::Assign()");
}

DWORD CMode::Read() const
{
    return Request(req::kGetProperty, {Number(), kItemMode}, "CBcam::CMode::Read()")[0];
}

void CMode::Assign(DWORD mode)
{
    Request(req::kSetProperty, {Number(), kItemMode, mode}, "CBcam::CMode::Assign()");
}

bool CPolarity::Read() const
{
    return Request(req::kGetProperty, {Number(), kItemPolarity}, "CBcam::CPolarity::Read()")[0] != 0;
}

void CPolarity::Assign(bool highActive)
{
    Request(req::kSetProperty, {Number(), kItemPolarity, highActive ? 1u : 0u}, "CBcam::CPolarity::Assign()");
}

CTrigger::CTrigger(CBcam& device)
    : CProperty(device, orvex::iidc::kFeatureTrigger), OnOff(device, orvex::iidc::kFeatureTrigger),
      Mode(device, orvex::iidc::kFeatureTrigger), Polarity(device, orvex::iidc::kFeatureTrigger)
{
}

bool CTrigger::IsModeSupported(DWORD mode) const
{
    if (mode > kMaxTriggerMode)
        return false;
    const uint32_t inquiry =
        Request(req::kPropertyInquiry, {Number()}, "CBcam::CTrigger::IsModeSupported()")[0];
    return (inquiry & orvex::iidc::kTriggerInqPresence) != 0 &&
           (inquiry & orvex::iidc::triggerInqMode(mode)) != 0;
}

std::string CInfo::Text(DWORD which, const char* context) const
{
    const std::vector<uint32_t> out = Request(req::kInfo, {which}, context);
    // The driver's text is zero-terminated within the output; one that is
    // not ends at the buffer's end.
    const auto* bytes = reinterpret_cast<const char*>(out.data());
    const std::size_t size = out.size() * 4;
    return std::string(bytes, std::find(bytes, bytes + size, '\0'));
}

std::string CInfo::ModelName() const
{
    return Text(kInfoModelName, "CBcam::CInfo::ModelName()");
}

std::string CInfo::VendorName() const
{
    return Text(kInfoVendorName, "CBcam::CInfo::VendorName()");
}

std::string CInfo::CameraFirmwareVersion() const
{
    return Text(kInfoFirmwareVersion, "CBcam::CInfo::CameraFirmwareVersion()");
}

void CImageSize::Read(DWORD& width, DWORD& height) const
{
    const std::vector<uint32_t> out = Request(req::kGetImageArea, {Number()}, "CBcam::CImageSize::Read()");
    width = out[kAreaWidth];
    height = out[kAreaHeight];
}

void CImageSize::Assign(DWORD width, DWORD height)
{
    Request(req::kSetImageArea, {Number(), kAreaSize, width, height}, "CBcam::CImageSize::Assign()");
}

void CImageSize::Inc(DWORD& width, DWORD& height) const
{
    const std::vector<uint32_t> out = Request(req::kFormat7Inquiry, {Number()}, "CBcam::CImageSize::Inc()");
    width = out[kF7UnitWidth];
    height = out[kF7UnitHeight];
}

void CImagePosition::Read(DWORD& left, DWORD& top) const
{
    const std::vector<uint32_t> out =
        Request(req::kGetImageArea, {Number()}, "CBcam::CImagePosition::Read()");
    left = out[kAreaLeft];
    top = out[kAreaTop];
}

void CImagePosition::Assign(DWORD left, DWORD top)
{
    Request(req::kSetImageArea, {Number(), kAreaPosition, left, top}, "CBcam::CImagePosition::Assign()");
}

void CImagePosition::Inc(DWORD& left, DWORD& top) const
{
    const std::vector<uint32_t> out =
        Request(req::kFormat7Inquiry, {Number()}, "CBcam::CImagePosition::Inc()");
    left = out[kF7UnitLeft];
    top = out[kF7UnitTop];
}

DWORD CColorCoding::Read() const
{
    return Request(req::kGetColorCoding, {Number()}, "CBcam::CColorCoding::Read()")[0];
}

void CColorCoding::Assign(DWORD code)
{
    Request(req::kSetColorCoding, {Number(), code}, "CBcam::CColorCoding::Assign()");
}

bool CColorCoding::IsSupported(DWORD code) const
{
    if (code > kMaxColorCoding)
        return false;
    const uint32_t offered =
        Request(req::kFormat7Inquiry, {Number()}, "CBcam::CColorCoding::IsSupported()")[kF7ColorCodings];
    return (offered & orvex::iidc::formatBit(code)) != 0;
}

DWORD CBytePerPacket::Read() const
{
    return Request(req::kBytePerFrame, {Number()}, "CBcam::CBytePerPacket::Read()")[kPacketBytes];
}

void CBytePerPacket::Assign(DWORD bytes)
{
    Request(req::kSetBytePerPacket, {Number(), bytes}, "CBcam::CBytePerPacket::Assign()");
}

DWORD CBytePerPacket::Inc() const
{
    return Request(req::kBytePerFrame, {Number()}, "CBcam::CBytePerPacket::Inc()")[kPacketUnit];
}

DWORD CBytePerPacket::Max() const
{
    return Request(req::kBytePerFrame, {Number()}, "CBcam::CBytePerPacket::Max()")[kPacketMax];
}

CFormatSevenMode::CFormatSevenMode(CBcam& device, DWORD mode)
    : CProperty(device, mode), ImageSize(device, mode), ImagePosition(device, mode),
      ColorCoding(device, mode), BytePerPacket(device, mode)
{
}

void CFormatSevenMode::MaxSize(DWORD& width, DWORD& height) const
{
    const std::vector<uint32_t> out =
        Request(req::kFormat7Inquiry, {Number()}, "CBcam::FormatSeven::MaxSize()");
    width = out[kF7MaxWidth];
    height = out[kF7MaxHeight];
}

DWORD CFormatSevenMode::BytePerFrame() const
{
    return Request(req::kBytePerFrame, {Number()}, "CBcam::FormatSeven::BytePerFrame()")[kFrameBytes];
}

CFormatSeven::CFormatSeven(CBcam& device)
{
    _modes.reserve(kModes);
    for (DWORD mode = 0; mode < kModes; ++mode)
        _modes.emplace_back(device, mode);
}

CFormatSevenMode& CFormatSeven::operator[](DWORD mode)
{
    if (mode >= kModes)
        throw BcamException(ERROR_INVALID_PARAMETER, "CBcam::FormatSeven[]");
    return _modes[mode];
}

void CContinuousShot::Assign(bool on)
{
    Request(req::kContinuousShot, {0, on ? 1u : 0u}, "CBcam::CContinuousShot::Assign()");
}

} // namespace Bcam
