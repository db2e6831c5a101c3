// Video formats of the camera (fixed 8-bit mono modes and Format_7 mode 0),
// packet sizes at the bus speed, and the timing they lead to: frame rate
// limits, exposure limits, frame period and transfer time.
#include <orvex/sim/Camera.h>

#include "CameraLayout.h"

#include <orvex/iidc/Registers.h>

#include <algorithm>
#include <cmath>

namespace orvex::sim {

using namespace orvex::iidc;

namespace {

constexpr double kCycleSeconds = 125e-6;

struct FixedMode {
    uint32_t format, mode, width, height;
};
// The 8-bit mono modes of formats 0 to 2.
constexpr FixedMode kFixedModes[] = {
    {0, 5, 640, 480}, {1, 2, 800, 600}, {1, 5, 1024, 768}, {2, 2, 1280, 960}, {2, 5, 1600, 1200},
};

double rateOfIndex(uint32_t index)
{
    return 1.875 * double(1u << index);
}

uint32_t roundUp(uint64_t value, uint32_t unit)
{
    return static_cast<uint32_t>((value + unit - 1) / unit * unit);
}

// Bytes per packet of a fixed (mono 8) mode, as IIDC's format tables give
// them: a frame takes 480 packets at 15 frames per second (1024 x 768: 512,
// one and a half lines each), half as many at twice the rate.
uint32_t fixedPacketBytes(uint32_t width, uint32_t height, double fps)
{
    const double packetsAt15 = (width == 1024 && height == 768) ? 512.0 : 480.0;
    const double packetsPerFrame = packetsAt15 * 15.0 / fps;
    return roundUp(static_cast<uint64_t>(std::ceil(width * double(height) / packetsPerFrame)), 4);
}

uint32_t currentIndex(uint32_t value)
{
    return value >> kCurrentIndexShift;
}

// A packet size on the camera's step. A camera configured with a step of 0
// (malformed, as a host may meet one) reports 0 and takes any size.
bool onPacketStep(uint32_t bytesPerPacket, uint32_t unit)
{
    return unit == 0 || bytesPerPacket % unit == 0;
}

bool packetSizeAllowed(uint32_t bytesPerPacket, const PacketLimits& limits)
{
    return bytesPerPacket >= std::max<uint32_t>(limits.unitBytes, 1) &&
           onPacketStep(bytesPerPacket, limits.unitBytes) && bytesPerPacket <= limits.maxBytes;
}

} // namespace

bool Camera::format7Available() const
{
    // Depends on the configuration alone: no lock needed.
    const auto it = _config.registerOverrides.find(kVideoFormatInquiry);
    return it == _config.registerOverrides.end() || (it->second & formatBit(kFormat7));
}

uint32_t Camera::maxPacketBytesLocked() const
{
    const uint32_t speed = _bus ? std::min(_bus->speed(), _config.maxBusSpeed) : _config.maxBusSpeed;
    return Bus::maxPacketBytes(speed);
}

uint32_t Camera::isoSpeedMbpsLocked() const
{
    const auto it = _regs.find(kIsoChannelSpeed);
    if (it == _regs.end())
        return layout::kPowerUpIsoSpeedMbps;
    const uint32_t value = it->second;
    const uint32_t code = (value & kIsoOperationMode1394b) ? (value & kIso1394bSpeedMask)
                                                           : ((value >> kIsoSpeedShift) & kIsoSpeedMask);
    return 100u << code;
}

PacketLimits Camera::packetLimitsLocked(uint32_t width, uint32_t height, uint32_t bytesPerPixel) const
{
    return packetLimitsAtLocked(width, height, bytesPerPixel, isoSpeedMbpsLocked());
}

PacketLimits Camera::packetLimitsAtLocked(uint32_t width, uint32_t height, uint32_t bytesPerPixel,
                                          uint32_t isoSpeedMbps) const
{
    PacketLimits limits;
    limits.unitBytes = _config.packetUnit;
    limits.imageBytes = uint64_t(width) * height * bytesPerPixel;
    // Reported as configured; the arithmetic steps by at least one byte.
    const uint32_t unit = std::max<uint32_t>(_config.packetUnit, 1);
    const uint64_t wholeImage = roundUp(limits.imageBytes, unit);
    // IIDC ties the largest packet to the speed the camera sends at now,
    // never beyond what its link carries.
    const uint32_t speedMax =
        std::min(maxPacketBytesLocked(), Bus::maxPacketBytes(isoSpeedMbps)) / unit * unit;
    limits.maxBytes =
        static_cast<uint32_t>(std::max<uint64_t>(unit, std::min<uint64_t>(wholeImage, speedMax)));
    applyForcedPacketLimits(limits);
    return limits;
}

PacketLimits Camera::packetLimits(uint32_t width, uint32_t height, uint32_t bytesPerPixel) const
{
    std::lock_guard<std::mutex> lock(_m);
    return packetLimitsLocked(width, height, bytesPerPixel);
}

bool Camera::fixedModeLocked(uint32_t format, uint32_t mode, uint32_t& width, uint32_t& height) const
{
    if (!_config.fixedFormats)
        return false;
    for (const FixedMode& m : kFixedModes) {
        if (m.format == format && m.mode == mode && m.width <= _config.sensorWidth &&
            m.height <= _config.sensorHeight) {
            width = m.width;
            height = m.height;
            return true;
        }
    }
    return false;
}

uint32_t Camera::rateInquiryLocked(uint32_t format, uint32_t mode) const
{
    uint32_t width, height;
    if (!fixedModeLocked(format, mode, width, height))
        return 0;
    uint32_t rates = 0;
    for (uint32_t r = 0; r < 6; ++r) {
        const double fps = rateOfIndex(r);
        if (fps <= sensorFrameRateLocked(height) + 1e-9 &&
            fixedPacketBytes(width, height, fps) <= maxPacketBytesLocked())
            rates |= formatBit(r);
    }
    return rates;
}

uint32_t Camera::modeInquiryLocked(uint32_t format) const
{
    if (format == kFormat7)
        return format7Available() ? formatBit(0) : 0;
    uint32_t modes = 0;
    if (format <= 2) {
        for (uint32_t m = 0; m < 8; ++m) {
            if (rateInquiryLocked(format, m))
                modes |= formatBit(m);
        }
    }
    return modes;
}

uint32_t Camera::formatInquiryLocked() const
{
    uint32_t formats = 0;
    for (uint32_t f = 0; f <= 2; ++f) {
        if (modeInquiryLocked(f))
            formats |= formatBit(f);
    }
    if (format7Available())
        formats |= formatBit(kFormat7);
    return formats;
}

void Camera::writeCurrentIndexLocked(uint32_t address, uint32_t value)
{
    const uint32_t index = currentIndex(value);
    uint32_t format = currentIndex(reg(kCurrentVideoFormat));
    uint32_t mode = currentIndex(reg(kCurrentVideoMode));
    uint32_t rate = currentIndex(reg(kCurrentFrameRate));

    if (address == kCurrentVideoFormat) {
        if (!(formatInquiryLocked() & formatBit(index)))
            return; // a camera ignores a format it does not offer
        format = index;
    } else if (address == kCurrentVideoMode) {
        if (!(modeInquiryLocked(format) & formatBit(index)))
            return;
        mode = index;
    } else {
        if (format != kFormat7 && !(rateInquiryLocked(format, mode) & formatBit(index)))
            return;
        rate = index;
    }
    // Keep the triple valid: the first offered mode, the fastest offered rate.
    const uint32_t modes = modeInquiryLocked(format);
    if (!(modes & formatBit(mode))) {
        for (mode = 0; mode < 8 && !(modes & formatBit(mode)); ++mode) {
        }
    }
    if (format != kFormat7) {
        const uint32_t rates = rateInquiryLocked(format, mode);
        if (!(rates & formatBit(rate))) {
            for (uint32_t r = 0; r < 6; ++r) {
                if (rates & formatBit(r))
                    rate = r;
            }
        }
    }
    _regs[kCurrentVideoFormat] = format << kCurrentIndexShift;
    _regs[kCurrentVideoMode] = mode << kCurrentIndexShift;
    _regs[kCurrentFrameRate] = rate << kCurrentIndexShift;
}

bool Camera::readFormat7Locked(uint32_t offset, uint32_t& value) const
{
    const FrameGeometry g = format7GeometryLocked();
    const PacketLimits limits = packetLimitsLocked(g.width, g.height, g.bytesPerPixel);
    switch (offset) {
    case kF7MaxImageSizeInquiry:
        value = packHigh(_config.sensorWidth, _config.sensorHeight);
        return true;
    case kF7UnitSizeInquiry:
        value = packHigh(_config.unitWidth, _config.unitHeight);
        return true;
    case kF7UnitPositionInquiry:
        value = packHigh(_config.unitLeft, _config.unitTop);
        return true;
    case kF7ColorCodingInquiry:
        value = formatBit(kColorCodeMono8) | (_config.mono16 ? formatBit(kColorCodeMono16) : 0);
        return true;
    case kF7PixelNumberInquiry:
        value = g.width * g.height;
        return true;
    case kF7TotalBytesHighInquiry:
        value = static_cast<uint32_t>(limits.imageBytes >> 32);
        return true;
    case kF7TotalBytesLowInquiry:
        value = static_cast<uint32_t>(limits.imageBytes);
        return true;
    case kF7PacketParameterInquiry:
        value = packHigh(limits.unitBytes, limits.maxBytes);
        return true;
    case kF7PacketPerFrameInquiry:
        value = g.packetsPerFrame();
        return true;
    default:
        return false;
    }
}

void Camera::writeFormat7Locked(uint32_t offset, uint32_t value)
{
    const uint32_t base = layout::kFormat7Mode0;
    uint32_t position = reg(base + kF7ImagePosition);
    uint32_t size = reg(base + kF7ImageSize);
    uint32_t coding = reg(base + kF7ColorCodingId) >> kF7ColorCodingShift;
    uint32_t bytesPerPacket = highField(reg(base + kF7BytePerPacket));

    bool valid = true;
    switch (offset) {
    case kF7ImagePosition:
        position = value;
        break;
    case kF7ImageSize:
        size = value;
        break;
    case kF7ColorCodingId:
        coding = value >> kF7ColorCodingShift;
        valid = coding == kColorCodeMono8 || (coding == kColorCodeMono16 && _config.mono16);
        break;
    case kF7BytePerPacket:
        bytesPerPacket = highField(value);
        break;
    case kF7ValueSetting:
        _regs[base + kF7ValueSetting] = kPresence;
        return;
    default:
        return; // inquiry registers are read-only
    }
    const uint32_t left = highField(position), top = lowField(position);
    const uint32_t width = highField(size), height = lowField(size);
    valid = valid && width > 0 && height > 0 && width % _config.unitWidth == 0 &&
            height % _config.unitHeight == 0 && left % _config.unitLeft == 0 && top % _config.unitTop == 0 &&
            left + width <= _config.sensorWidth && top + height <= _config.sensorHeight;
    const PacketLimits limits = packetLimitsLocked(width, height, coding == kColorCodeMono16 ? 2 : 1);
    if (valid && offset == kF7BytePerPacket) {
        valid = packetSizeAllowed(bytesPerPacket, limits);
    }
    if (!valid) {
        // The camera keeps its settings and flags the refused one.
        _regs[base + kF7ValueSetting] = kPresence | kF7ValueSettingError;
        return;
    }
    // A geometry change may leave the packet size above the new maximum.
    bytesPerPacket = std::min(bytesPerPacket, limits.maxBytes);
    _regs[base + kF7ImagePosition] = position;
    _regs[base + kF7ImageSize] = size;
    _regs[base + kF7ColorCodingId] = coding << kF7ColorCodingShift;
    _regs[base + kF7BytePerPacket] = packHigh(bytesPerPacket, limits.maxBytes);
    _regs[base + kF7ValueSetting] = kPresence;
}

Status Camera::configureFormat7(const FrameGeometry& g)
{
    return transact([&](int64_t, After&) {
        if (!format7Available())
            return Status::invalidMode;
        if (_streaming)
            return Status::alreadyStreaming;
        if (g.bytesPerPixel != 1 && !(g.bytesPerPixel == 2 && _config.mono16))
            return Status::invalidMode;
        const bool geometryOk = g.width > 0 && g.height > 0 && g.width % _config.unitWidth == 0 &&
                                g.height % _config.unitHeight == 0 && g.left % _config.unitLeft == 0 &&
                                g.top % _config.unitTop == 0 &&
                                uint64_t(g.left) + g.width <= _config.sensorWidth &&
                                uint64_t(g.top) + g.height <= _config.sensorHeight;
        if (!geometryOk)
            return Status::invalidGeometry;
        const PacketLimits limits = packetLimitsLocked(g.width, g.height, g.bytesPerPixel);
        if (!packetSizeAllowed(g.bytesPerPacket, limits))
            return Status::invalidGeometry;
        const uint32_t base = layout::kFormat7Mode0;
        _regs[kCurrentVideoFormat] = kFormat7 << kCurrentIndexShift;
        _regs[kCurrentVideoMode] = 0;
        _regs[base + kF7ImagePosition] = packHigh(g.left, g.top);
        _regs[base + kF7ImageSize] = packHigh(g.width, g.height);
        _regs[base + kF7ColorCodingId] = (g.bytesPerPixel == 2 ? kColorCodeMono16 : kColorCodeMono8)
                                         << kF7ColorCodingShift;
        _regs[base + kF7BytePerPacket] = packHigh(g.bytesPerPacket, limits.maxBytes);
        _regs[base + kF7ValueSetting] = kPresence;
        _format7Pending.clear(); // a whole new setting: nothing refused is held any more
        enforceRangesLocked();
        return Status::ok;
    });
}

FrameGeometry Camera::format7GeometryLocked() const
{
    return _format7GeometryMemo.get(_regs, [this] { return workOutFormat7GeometryLocked(); });
}

FrameGeometry Camera::workOutFormat7GeometryLocked() const
{
    FrameGeometry g;
    const uint32_t base = layout::kFormat7Mode0;
    const uint32_t position = reg(base + kF7ImagePosition);
    const uint32_t size = reg(base + kF7ImageSize);
    g.left = highField(position);
    g.top = lowField(position);
    g.width = highField(size);
    g.height = lowField(size);
    g.bytesPerPixel = (reg(base + kF7ColorCodingId) >> kF7ColorCodingShift) == kColorCodeMono16 ? 2 : 1;
    g.bytesPerPacket = highField(reg(base + kF7BytePerPacket));
    return g;
}

FrameGeometry Camera::currentGeometryLocked() const
{
    FrameGeometry g;
    const uint32_t format = currentIndex(reg(kCurrentVideoFormat));
    if (format == kFormat7)
        return format7GeometryLocked();
    uint32_t width = 0, height = 0;
    if (fixedModeLocked(format, currentIndex(reg(kCurrentVideoMode)), width, height)) {
        g.width = width;
        g.height = height;
        g.bytesPerPacket = fixedPacketBytes(width, height, rateOfIndex(currentIndex(reg(kCurrentFrameRate))));
    }
    return g;
}

double Camera::sensorFrameRateLocked(uint32_t height) const
{
    // Reading out fewer rows is faster, down to the sensor's limit.
    const double rate = _config.maxFrameRate * _config.sensorHeight / std::max<uint32_t>(height, 1);
    return std::min(rate, std::max(_config.maxRoiFrameRate, _config.maxFrameRate));
}

double Camera::maxFrameRateLocked() const
{
    const uint32_t format = currentIndex(reg(kCurrentVideoFormat));
    if (format != kFormat7)
        return rateOfIndex(currentIndex(reg(kCurrentFrameRate)));
    const FrameGeometry g = currentGeometryLocked();
    double rate = sensorFrameRateLocked(g.height);
    const uint32_t packets = g.packetsPerFrame();
    if (packets)
        rate = std::min(rate, 1.0 / (packets * kCycleSeconds));
    return rate;
}

double Camera::maxExposureLocked() const
{
    const double longest = _config.shutter.rawMax * _timeBase;
    if (triggerOnLocked())
        return longest; // the trigger, not the frame rate, paces the camera
    const uint32_t format = currentIndex(reg(kCurrentVideoFormat));
    if (format != kFormat7)
        return std::min(longest, 1.0 / rateOfIndex(currentIndex(reg(kCurrentFrameRate))));
    const uint32_t frameRate = reg(kFrameRate);
    if (_config.frameRate.present && (frameRate & kControlOn))
        return std::min(longest, 1.0 / absOfLocked(kFeatureFrameRate, frameRate & kControlValueMask));
    return longest;
}

double Camera::exposureLocked() const
{
    return _exposureMemo.get(_regs, [this] { return workOutExposureLocked(); });
}

double Camera::workOutExposureLocked() const
{
    if (!_config.shutter.present)
        return 1e-3;
    return (reg(kShutter) & kControlValueMask) * _timeBase;
}

double Camera::periodLocked() const
{
    return _periodMemo.get(_regs, [this] { return workOutPeriodLocked(); });
}

double Camera::workOutPeriodLocked() const
{
    const uint32_t format = currentIndex(reg(kCurrentVideoFormat));
    if (format != kFormat7)
        return 1.0 / rateOfIndex(currentIndex(reg(kCurrentFrameRate)));
    const double fastest = 1.0 / maxFrameRateLocked();
    const uint32_t frameRate = reg(kFrameRate);
    if (_config.frameRate.present && (frameRate & kControlOn))
        return std::max(fastest, 1.0 / absOfLocked(kFeatureFrameRate, frameRate & kControlValueMask));
    return std::max(fastest, exposureLocked());
}

int64_t Camera::deliveryDelayNsLocked() const
{
    const FrameGeometry g = _streaming ? _streamGeometry : currentGeometryLocked();
    const double transfer = g.packetsPerFrame() * kCycleSeconds;
    return static_cast<int64_t>((exposureLocked() + transfer) * 1e9);
}

double Camera::exposureSeconds() const
{
    std::lock_guard<std::mutex> lock(_m);
    return exposureLocked();
}

double Camera::framePeriodSeconds() const
{
    std::lock_guard<std::mutex> lock(_m);
    return periodLocked();
}

} // namespace orvex::sim
