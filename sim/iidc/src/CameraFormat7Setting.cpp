// Format_7 settings the IIDC 1.30 way, besides the direct writes: the camera
// keeps what a host wrote but refused, and on Setting_1 (VALUE_SETTING bit
// 30) checks position, size, colour coding and packet size together, applies
// them or raises ErrorFlag_1 (geometry) or ErrorFlag_2 (packet size).
//
// Also here: forced Format_7 inquiry registers (world file "registers")
// become the camera's capabilities, so that it acts on what it reports.
#include <orvex/sim/Camera.h>

#include "CameraLayout.h"

#include <orvex/iidc/Registers.h>

#include <algorithm>

namespace orvex::sim {

using namespace orvex::iidc;

namespace {

bool isSettingRegister(uint32_t offset)
{
    return offset == kF7ImagePosition || offset == kF7ImageSize || offset == kF7ColorCodingId ||
           offset == kF7BytePerPacket;
}

// A forced inquiry register of Format_7 mode 0, if the configuration has one.
bool forcedFormat7(const CameraConfig& config, uint32_t offset, uint32_t& value)
{
    const auto it = config.registerOverrides.find(layout::kFormat7Mode0 + offset);
    if (it == config.registerOverrides.end())
        return false;
    value = it->second;
    return true;
}

// Fields of 0 say nothing usable (a step or size of 0): the model's own stay.
void takeNonZero(uint32_t field, uint32_t& target)
{
    if (field != 0)
        target = field;
}

} // namespace

CameraConfig Camera::withForcedInquiries(CameraConfig config)
{
    uint32_t value = 0;
    if (forcedFormat7(config, kF7MaxImageSizeInquiry, value)) {
        takeNonZero(highField(value), config.sensorWidth);
        takeNonZero(lowField(value), config.sensorHeight);
    }
    if (forcedFormat7(config, kF7UnitSizeInquiry, value)) {
        takeNonZero(highField(value), config.unitWidth);
        takeNonZero(lowField(value), config.unitHeight);
    }
    if (forcedFormat7(config, kF7UnitPositionInquiry, value)) {
        takeNonZero(highField(value), config.unitLeft);
        takeNonZero(lowField(value), config.unitTop);
    }
    if (forcedFormat7(config, kF7ColorCodingInquiry, value))
        config.mono16 = value & formatBit(kColorCodeMono16);
    if (forcedFormat7(config, kF7PacketParameterInquiry, value))
        takeNonZero(highField(value), config.packetUnit);
    return config;
}

void Camera::applyForcedPacketLimits(PacketLimits& limits) const
{
    uint32_t value = 0;
    if (!forcedFormat7(_config, kF7PacketParameterInquiry, value) || lowField(value) == 0)
        return;
    // The largest packet the camera claims, whatever the image.
    limits.maxBytes = std::max(limits.unitBytes, lowField(value) / limits.unitBytes * limits.unitBytes);
}

void Camera::writeFormat7SettingLocked(uint32_t offset, uint32_t value)
{
    if (offset == kF7ValueSetting && (value & kF7ValueSettingApply)) {
        applyFormat7SettingLocked();
        return;
    }
    writeFormat7Locked(offset, value);
    if (!isSettingRegister(offset))
        return;
    if (reg(layout::kFormat7Mode0 + kF7ValueSetting) & kF7ValueSettingError)
        _format7Pending[offset] = value; // refused now, perhaps fine with the next writes
    else
        _format7Pending.erase(offset);
}

void Camera::applyFormat7SettingLocked()
{
    const uint32_t base = layout::kFormat7Mode0;
    auto setting = [&](uint32_t offset) {
        const auto it = _format7Pending.find(offset);
        return it != _format7Pending.end() ? it->second : reg(base + offset);
    };
    const uint32_t position = setting(kF7ImagePosition);
    const uint32_t size = setting(kF7ImageSize);
    const uint32_t coding = setting(kF7ColorCodingId) >> kF7ColorCodingShift;
    const uint32_t left = highField(position), top = lowField(position);
    const uint32_t width = highField(size), height = lowField(size);
    const bool geometryOk = width > 0 && height > 0 && width % _config.unitWidth == 0 &&
                            height % _config.unitHeight == 0 && left % _config.unitLeft == 0 &&
                            top % _config.unitTop == 0 && uint64_t(left) + width <= _config.sensorWidth &&
                            uint64_t(top) + height <= _config.sensorHeight &&
                            (coding == kColorCodeMono8 || (coding == kColorCodeMono16 && _config.mono16));
    if (!geometryOk) {
        // Nothing applied; the host may correct one register and ask again.
        _regs[base + kF7ValueSetting] = kPresence | kF7ValueSettingError;
        return;
    }
    const PacketLimits limits = packetLimitsLocked(width, height, coding == kColorCodeMono16 ? 2 : 1);
    const auto pendingPacket = _format7Pending.find(kF7BytePerPacket);
    uint32_t packet = highField(reg(base + kF7BytePerPacket));
    bool packetOk = true;
    if (pendingPacket != _format7Pending.end()) {
        const uint32_t asked = highField(pendingPacket->second);
        packetOk = asked >= limits.unitBytes && asked % limits.unitBytes == 0 && asked <= limits.maxBytes;
        if (packetOk)
            packet = asked;
    }
    packet = std::min(packet, limits.maxBytes);

    _regs[base + kF7ImagePosition] = position;
    _regs[base + kF7ImageSize] = size;
    _regs[base + kF7ColorCodingId] = coding << kF7ColorCodingShift;
    _regs[base + kF7BytePerPacket] = packHigh(packet, limits.maxBytes);
    _regs[base + kF7ValueSetting] = kPresence | (packetOk ? 0 : kF7ValueSettingPacketError);
    for (const uint32_t offset : {kF7ImagePosition, kF7ImageSize, kF7ColorCodingId})
        _format7Pending.erase(offset);
    if (packetOk)
        _format7Pending.erase(kF7BytePerPacket);
}

} // namespace orvex::sim
