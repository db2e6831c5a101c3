// The driver's requests as register transactions on the camera.
#include "CameraControl.h"

#include <orvex/iidc/Registers.h>
#include <orvex/sim/BcamDriver.h>

namespace orvex::sim::bcam {

namespace {

using namespace orvex::iidc;

constexpr uint32_t kMaxFormat = 7;
constexpr uint32_t kMaxMode = 7;
constexpr uint32_t kMaxFeature = 31;
// The bits of rate indexes 0 to 7 in an inquiry quadlet.
constexpr uint32_t kEveryRate = 0xFF000000;

NTSTATUS statusOf(Status status)
{
    switch (status) {
    case Status::ok:
        return win32::driver::kStatusSuccess;
    case Status::notConnected:
        return win32::driver::kStatusDeviceNotConnected;
    case Status::addressError:
        return static_cast<NTSTATUS>(error::kAddressError);
    default:
        return static_cast<NTSTATUS>(error::kValueRefused);
    }
}

uint32_t currentIndex(uint32_t value)
{
    return (value & kCurrentIndexMask) >> kCurrentIndexShift;
}

bool failed(NTSTATUS status)
{
    return status != win32::driver::kStatusSuccess;
}

} // namespace

NTSTATUS CameraControl::read(uint32_t address, uint32_t& value) const
{
    return statusOf(_camera->readRegister(address, value));
}

NTSTATUS CameraControl::write(uint32_t address, uint32_t value) const
{
    return statusOf(_camera->writeRegister(address, value));
}

NTSTATUS CameraControl::formatInquiry(uint32_t& bits) const
{
    return read(kVideoFormatInquiry, bits);
}

NTSTATUS CameraControl::modeInquiry(uint32_t format, uint32_t& bits) const
{
    if (format > kMaxFormat)
        return win32::driver::kStatusInvalidParameter;
    return read(videoModeInquiry(format), bits);
}

NTSTATUS CameraControl::rateInquiry(uint32_t format, uint32_t mode, uint32_t& bits) const
{
    if (format > kMaxFormat || mode > kMaxMode)
        return win32::driver::kStatusInvalidParameter;
    if (format != kFormat7)
        return read(videoRateInquiry(format, mode), bits);
    // Format_7 modes have no frame rates: a 1394 driver answers every rate
    // index of a mode that is there, and none of one that is not.
    uint32_t modes = 0;
    const NTSTATUS status = read(videoModeInquiry(format), modes);
    bits = (modes & formatBit(mode)) ? kEveryRate : 0;
    return status;
}

NTSTATUS CameraControl::setVideoMode(uint32_t format, uint32_t mode, uint32_t rate) const
{
    uint32_t rates = 0;
    NTSTATUS status = rateInquiry(format, mode, rates);
    if (failed(status))
        return status;
    const bool fixed = format != kFormat7;
    if (!rates || (fixed && (rate > kMaxMode || !(rates & formatBit(rate)))))
        return static_cast<NTSTATUS>(error::kUnsupported);
    // Format first: the camera checks the mode against the current format.
    status = write(kCurrentVideoFormat, format << kCurrentIndexShift);
    if (!failed(status))
        status = write(kCurrentVideoMode, mode << kCurrentIndexShift);
    if (!failed(status) && fixed)
        status = write(kCurrentFrameRate, rate << kCurrentIndexShift);
    return status;
}

NTSTATUS CameraControl::videoMode(uint32_t& format, uint32_t& mode, uint32_t& rate) const
{
    uint32_t f = 0, m = 0, r = 0;
    NTSTATUS status = read(kCurrentVideoFormat, f);
    if (!failed(status))
        status = read(kCurrentVideoMode, m);
    if (!failed(status))
        status = read(kCurrentFrameRate, r);
    format = currentIndex(f);
    mode = currentIndex(m);
    rate = currentIndex(r);
    return status;
}

NTSTATUS CameraControl::format7Base(uint32_t mode, uint32_t& base) const
{
    if (mode > kMaxMode)
        return win32::driver::kStatusInvalidParameter;
    uint32_t modes = 0;
    NTSTATUS status = read(videoModeInquiry(kFormat7), modes);
    if (failed(status))
        return status;
    if (!(modes & formatBit(mode)))
        return static_cast<NTSTATUS>(error::kUnsupported);
    uint32_t quadletOffset = 0;
    status = read(format7CsrInquiry(mode), quadletOffset);
    base = quadletOffsetToAddress(quadletOffset);
    return status;
}

NTSTATUS CameraControl::format7Inquiry(uint32_t mode, Format7Inquiry& inquiry) const
{
    uint32_t base = 0;
    NTSTATUS status = format7Base(mode, base);
    uint32_t maxSize = 0, unitSize = 0, unitPosition = 0, packets = 0;
    if (!failed(status))
        status = read(base + kF7MaxImageSizeInquiry, maxSize);
    if (!failed(status))
        status = read(base + kF7UnitSizeInquiry, unitSize);
    if (!failed(status))
        status = read(base + kF7UnitPositionInquiry, unitPosition);
    if (!failed(status))
        status = read(base + kF7ColorCodingInquiry, inquiry.colorCodings);
    if (!failed(status))
        status = read(base + kF7PacketParameterInquiry, packets);
    inquiry.maxWidth = highField(maxSize);
    inquiry.maxHeight = lowField(maxSize);
    inquiry.unitWidth = highField(unitSize);
    inquiry.unitHeight = lowField(unitSize);
    inquiry.unitLeft = highField(unitPosition);
    inquiry.unitTop = lowField(unitPosition);
    inquiry.packetUnit = highField(packets);
    inquiry.packetMax = lowField(packets);
    return status;
}

NTSTATUS CameraControl::imageArea(uint32_t mode, ImageArea& area) const
{
    uint32_t base = 0;
    NTSTATUS status = format7Base(mode, base);
    uint32_t position = 0, size = 0;
    if (!failed(status))
        status = read(base + kF7ImagePosition, position);
    if (!failed(status))
        status = read(base + kF7ImageSize, size);
    area = {highField(position), lowField(position), highField(size), lowField(size)};
    return status;
}

// A Format_7 write the camera refuses keeps the old value and raises the
// error bit of VALUE_SETTING; the driver reports it.
NTSTATUS CameraControl::writeChecked(uint32_t base, uint32_t offset, uint32_t value) const
{
    NTSTATUS status = write(base + offset, value);
    uint32_t setting = 0;
    if (!failed(status))
        status = read(base + kF7ValueSetting, setting);
    if (!failed(status) && (setting & kF7ValueSettingError))
        return static_cast<NTSTATUS>(error::kValueRefused);
    return status;
}

NTSTATUS CameraControl::setImageSize(uint32_t mode, uint32_t width, uint32_t height) const
{
    uint32_t base = 0;
    const NTSTATUS status = format7Base(mode, base);
    return failed(status) ? status : writeChecked(base, kF7ImageSize, packHigh(width, height));
}

NTSTATUS CameraControl::setImagePosition(uint32_t mode, uint32_t left, uint32_t top) const
{
    uint32_t base = 0;
    const NTSTATUS status = format7Base(mode, base);
    return failed(status) ? status : writeChecked(base, kF7ImagePosition, packHigh(left, top));
}

NTSTATUS CameraControl::colorCoding(uint32_t mode, uint32_t& code) const
{
    uint32_t base = 0, value = 0;
    NTSTATUS status = format7Base(mode, base);
    if (!failed(status))
        status = read(base + kF7ColorCodingId, value);
    code = value >> kF7ColorCodingShift;
    return status;
}

NTSTATUS CameraControl::setColorCoding(uint32_t mode, uint32_t code) const
{
    uint32_t base = 0, offered = 0;
    NTSTATUS status = format7Base(mode, base);
    if (!failed(status))
        status = read(base + kF7ColorCodingInquiry, offered);
    if (failed(status))
        return status;
    if (code > 31 || !(offered & formatBit(code)))
        return static_cast<NTSTATUS>(error::kUnsupported);
    return writeChecked(base, kF7ColorCodingId, code << kF7ColorCodingShift);
}

NTSTATUS CameraControl::setBytesPerPacket(uint32_t mode, uint32_t bytes) const
{
    uint32_t base = 0;
    const NTSTATUS status = format7Base(mode, base);
    return failed(status) ? status : writeChecked(base, kF7BytePerPacket, bytes << 16);
}

NTSTATUS CameraControl::frameSize(uint32_t mode, FrameSize& size) const
{
    uint32_t base = 0;
    NTSTATUS status = format7Base(mode, base);
    uint32_t packets = 0, packet = 0, totalHigh = 0, totalLow = 0;
    if (!failed(status))
        status = read(base + kF7PacketParameterInquiry, packets);
    if (!failed(status))
        status = read(base + kF7BytePerPacket, packet);
    if (!failed(status))
        status = read(base + kF7PacketPerFrameInquiry, size.packetsPerFrame);
    if (!failed(status))
        status = read(base + kF7TotalBytesHighInquiry, totalHigh);
    if (!failed(status))
        status = read(base + kF7TotalBytesLowInquiry, totalLow);
    if (failed(status))
        return status;
    if (totalHigh)
        return static_cast<NTSTATUS>(error::kUnsupported); // no 4 GiB images on a 32-bit driver
    size.packetUnit = highField(packets);
    size.packetMax = lowField(packets);
    size.packetBytes = highField(packet);
    size.pixelBytes = totalLow;
    // Asked of the camera in one look: walking the smart-feature inquiry
    // registers here would race the host's own walk of them.
    size.chunkBytes = static_cast<uint32_t>(_camera->chunkBytes());
    size.frameBytes = totalLow + size.chunkBytes;
    return status;
}

NTSTATUS CameraControl::propertyInquiry(uint32_t feature, uint32_t& bits) const
{
    if (feature > kMaxFeature)
        return win32::driver::kStatusInvalidParameter;
    return read(featureInquiry(feature), bits);
}

namespace {

// Where each item lives in a feature's control register.
bool itemField(uint32_t feature, uint32_t item, uint32_t& mask, unsigned& shift)
{
    switch (item) {
    case kItemValue:
        mask = kControlValueMask;
        shift = 0;
        return true;
    case kItemOnOff:
        mask = kControlOn;
        shift = 25;
        return true;
    case kItemMode:
        mask = kTriggerModeMask << kTriggerModeShift;
        shift = kTriggerModeShift;
        return feature == kFeatureTrigger;
    case kItemPolarity:
        mask = kTriggerPolarity;
        shift = 24;
        return feature == kFeatureTrigger;
    default:
        return false;
    }
}

} // namespace

NTSTATUS CameraControl::property(uint32_t feature, uint32_t item, uint32_t& value) const
{
    uint32_t mask = 0, inquiry = 0, control = 0;
    unsigned shift = 0;
    if (feature > kMaxFeature || !itemField(feature, item, mask, shift))
        return win32::driver::kStatusInvalidParameter;
    NTSTATUS status = propertyInquiry(feature, inquiry);
    if (failed(status))
        return status;
    if (!(inquiry & kPresence))
        return static_cast<NTSTATUS>(error::kUnsupported);
    status = read(featureControl(feature), control);
    value = (control & mask) >> shift;
    return status;
}

NTSTATUS CameraControl::setProperty(uint32_t feature, uint32_t item, uint32_t value) const
{
    uint32_t mask = 0, inquiry = 0, control = 0;
    unsigned shift = 0;
    if (feature > kMaxFeature || !itemField(feature, item, mask, shift))
        return win32::driver::kStatusInvalidParameter;
    if (value > (mask >> shift))
        return win32::driver::kStatusInvalidParameter;
    NTSTATUS status = propertyInquiry(feature, inquiry);
    if (failed(status))
        return status;
    if (!(inquiry & kPresence))
        return static_cast<NTSTATUS>(error::kUnsupported);
    status = read(featureControl(feature), control);
    if (failed(status))
        return status;
    const uint32_t wanted = (control & ~mask) | (value << shift);
    status = write(featureControl(feature), wanted);
    if (failed(status))
        return status;
    // The camera keeps the old value when it refuses a new one.
    status = read(featureControl(feature), control);
    if (!failed(status) && (control & mask) != (wanted & mask))
        return static_cast<NTSTATUS>(error::kValueRefused);
    return status;
}

NTSTATUS CameraControl::info(uint32_t which, std::string& text) const
{
    if (!_camera->isConnected())
        return win32::driver::kStatusDeviceNotConnected;
    const CameraConfig& config = _camera->config();
    switch (which) {
    case kInfoModelName:
        text = config.modelName;
        return win32::driver::kStatusSuccess;
    case kInfoVendorName:
        text = config.vendorName;
        return win32::driver::kStatusSuccess;
    case kInfoFirmwareVersion:
        text = config.extendedVersion;
        return win32::driver::kStatusSuccess;
    default:
        return win32::driver::kStatusInvalidParameter;
    }
}

} // namespace orvex::sim::bcam
