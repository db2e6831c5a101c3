// The camera's register space: transactions, dispatch by address, and the
// power-up defaults that INITIALIZE restores.
#include <orvex/sim/Camera.h>

#include "CameraLayout.h"
#include "ConfigRom.h"

#include <orvex/iidc/FrameInfo.h>
#include <orvex/iidc/Registers.h>
#include <orvex/iidc/SyncRegisters.h>

#include <cmath>

namespace orvex::sim {

using namespace orvex::iidc;

const char* toString(Status status)
{
    switch (status) {
    case Status::ok:
        return "ok";
    case Status::notConnected:
        return "camera not connected";
    case Status::addressError:
        return "no register at this address";
    case Status::invalidArgument:
        return "invalid argument";
    case Status::notPresent:
        return "property not present";
    case Status::outOfRange:
        return "value out of range";
    case Status::invalidMode:
        return "video mode not offered";
    case Status::invalidGeometry:
        return "image geometry refused";
    case Status::bandwidthExceeded:
        return "isochronous bandwidth exceeded";
    case Status::alreadyStreaming:
        return "already streaming";
    case Status::notStreaming:
        return "not streaming";
    case Status::poweredOff:
        return "camera powered off";
    }
    return "unknown status";
}

Camera::Camera(const CameraConfig& config)
    : _config(withForcedInquiries(config)), _configRom(buildConfigRom(_config))
{
    if (_config.userMemoryE1 != 0)
        _userMemory.assign(size_t(1) << (_config.userMemoryE1 + _config.userMemoryE2), 0xFF);
    std::lock_guard<std::mutex> lock(_m);
    resetRegistersLocked();
}

Camera::~Camera()
{
    std::unique_lock<std::mutex> lock(_m);
    if (_streaming)
        stopStreamLocked(lock, false);
}

// --- bus attachment -------------------------------------------------------------

void Camera::attach(std::shared_ptr<Bus> bus)
{
    std::lock_guard<std::mutex> lock(_m);
    _bus = std::move(bus);
    ++_connection;
    _attachedAs.store(_connection, std::memory_order_release);
    _frameCounter = 0;
    resetRegistersLocked();
}

void Camera::detach()
{
    std::unique_lock<std::mutex> lock(_m);
    if (!_bus)
        return;
    if (_streaming)
        stopStreamLocked(lock, true);
    _bus.reset();
    _attachedAs.store(0, std::memory_order_release);
}

bool Camera::isConnected() const
{
    std::lock_guard<std::mutex> lock(_m);
    return _bus != nullptr;
}

uint64_t Camera::connection() const
{
    std::lock_guard<std::mutex> lock(_m);
    return _connection;
}

bool Camera::connectedAs(uint64_t connection) const
{
    return connection != 0 && _attachedAs.load(std::memory_order_acquire) == connection;
}

std::shared_ptr<Bus> Camera::bus() const
{
    std::lock_guard<std::mutex> lock(_m);
    return _bus;
}

// --- transactions -----------------------------------------------------------------

Status Camera::transact(const std::function<Status(int64_t now, After& after)>& act)
{
    std::shared_ptr<Bus> bus = this->bus();
    if (!bus)
        return Status::notConnected;
    const auto delays = bus->delays().draw();
    waitNs(delays.first);
    After after;
    Status status;
    {
        std::lock_guard<std::mutex> lock(_m);
        const int64_t now = hostNowNs();
        if (_bus) {
            // Images due before the transaction are made with the state
            // from before it.
            catchUpLocked(now);
            // One-push adjustments end on their own; a transaction sees them
            // ended, and starts those the SDK's property calls asked for.
            trackOnePushLocked(now);
            status = act(now, after);
            trackOnePushLocked(now);
        } else {
            status = Status::notConnected;
        }
    }
    finish(after);
    waitNs(delays.second);
    return status;
}

void Camera::finish(const After& after)
{
    if (after.startIso)
        startIsoTransmission();
    if (after.deliverTriggers)
        deliverTriggersUnpaced();
    wakeReceiver();
}

Status Camera::readRegister(uint32_t address, uint32_t& value)
{
    return transact([&](int64_t now, After&) { return readLocked(address, value, now); });
}

Status Camera::writeRegister(uint32_t address, uint32_t value)
{
    return transact([&](int64_t now, After& after) { return writeLocked(address, value, now, after); });
}

Status Camera::readBlock(uint32_t address, uint32_t* values, std::size_t count)
{
    return transact([&](int64_t now, After&) {
        for (std::size_t i = 0; i < count; ++i) {
            const Status s = readLocked(address + uint32_t(4 * i), values[i], now);
            if (s != Status::ok)
                return s;
        }
        return Status::ok;
    });
}

Status Camera::writeBlock(uint32_t address, const uint32_t* values, std::size_t count)
{
    return transact([&](int64_t now, After& after) {
        for (std::size_t i = 0; i < count; ++i) {
            const Status s = writeLocked(address + uint32_t(4 * i), values[i], now, after);
            if (s != Status::ok)
                return s;
        }
        return Status::ok;
    });
}

// --- register dispatch ---------------------------------------------------------------

namespace {
bool inRange(uint32_t address, uint32_t begin, uint32_t end)
{
    return address >= begin && address < end;
}
} // namespace

uint32_t Camera::reg(uint32_t address) const
{
    return _regs.get(address);
}

bool Camera::readOverride(uint32_t address, uint32_t& value) const
{
    const auto it = _config.registerOverrides.find(address);
    if (it == _config.registerOverrides.end() || _regs.count(address))
        return false;
    value = it->second;
    return true;
}

void Camera::holdCycleTime(std::optional<uint32_t> cycleTime)
{
    std::lock_guard<std::mutex> lock(_m);
    _heldCycleTime = cycleTime;
}

Status Camera::readLocked(uint32_t address, uint32_t& value, int64_t now) const
{
    if (readOverride(address, value))
        return Status::ok;

    if (inRange(address, kCsrBase, kConfigRomEnd)) {
        const int64_t ticks = _bus->clock().ticksAt(now);
        if (address == kCycleTime) {
            value = _heldCycleTime.value_or(_bus->clock().cycleTimeAt(now));
        } else if (address == kBusTime) {
            value = static_cast<uint32_t>(ticks / int64_t(kTicksPerSecond));
        } else if (address >= kConfigRomBase && (address - kConfigRomBase) / 4 < _configRom.size()) {
            value = _configRom[(address - kConfigRomBase) / 4];
        } else {
            value = 0;
        }
        return Status::ok;
    }

    if (inRange(address, layout::kControlAreaBegin, layout::kControlAreaEnd)) {
        if (address == kSync || address == kSync + 4) {
            value = _sync.quadlets[(address - kSync) / 4];
            return Status::ok;
        }
        const auto it = _regs.find(address);
        if (it != _regs.end()) {
            value = it->second;
            return Status::ok;
        }
        if (!readInquiryLocked(address, value, now))
            value = 0;
        return Status::ok;
    }

    if (!_userMemory.empty() &&
        inRange(address, layout::kUserMemoryData, layout::kUserMemoryData + uint32_t(_userMemory.size()))) {
        const uint8_t* p = &_userMemory[(address - layout::kUserMemoryData) & ~3u];
        value = (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
        return Status::ok;
    }

    if (inRange(address, kAdvancedFeatureBase, kAdvancedFeatureEnd)) {
        value = readAdvancedLocked(address);
        return Status::ok;
    }
    return Status::addressError;
}

Status Camera::writeLocked(uint32_t address, uint32_t value, int64_t now, After& after)
{
    if (inRange(address, kCsrBase, kConfigRomEnd))
        return Status::ok; // the cycle master owns the timer; the ROM is read-only

    if (inRange(address, layout::kControlAreaBegin, layout::kControlAreaEnd)) {
        if (address == kInitialize) {
            if (value & kInitializeBit)
                resetRegistersLocked();
        } else if (address == kCurrentFrameRate || address == kCurrentVideoMode ||
                   address == kCurrentVideoFormat) {
            writeCurrentIndexLocked(address, value);
        } else if (address == kCameraPower) {
            _regs[kCameraPower] = value & kCameraPowerOn;
            rescheduleLocked();
        } else if (address == kIsoEnable) {
            writeIsoEnableLocked(value, after);
        } else if (address == kIsoChannelSpeed) {
            writeIsoChannelSpeedLocked(value);
        } else if (address == kOneShot) {
            writeShotLocked(value, after);
        } else if (address == kTriggerMode) {
            writeTriggerModeLocked(value);
        } else if (inRange(address, kFeatureControlBase, featureControl(16))) {
            writeFeatureLocked((address - kFeatureControlBase) / 4, value);
            writeOnePushLocked((address - kFeatureControlBase) / 4, value, now);
        } else if (writeAbsoluteLocked(address, value)) {
            // an absolute value: the feature's raw value follows
        } else if (address == kSoftwareTrigger || address == kSoftwareTriggerStandard) {
            writeSoftwareTriggerLocked(address, value, now, after);
        } else if (address == kGpioControl) {
            _regs[kGpioControl] = value & 0xF0000000u;
        } else if (address == kSync || address == kSync + 4) {
            writeSyncLocked((address - kSync) / 4, value, now);
        } else if (address == kFrameInfo) {
            if (_regs.count(kFrameInfo))
                _regs[kFrameInfo] =
                    frameinfo::kPresent | (value & _config.frameInfoItems & frameinfo::kAllItems);
        } else if (inRange(address, layout::kFormat7Mode0, layout::kFormat7Mode0 + kF7BlockSize)) {
            if (format7Available())
                writeFormat7SettingLocked(address - layout::kFormat7Mode0, value);
        } else if (inRange(address, layout::strobeControl(0), layout::strobeControl(kGpioPinCount))) {
            const auto it = _regs.find(address);
            if (it != _regs.end()) {
                const uint32_t writable =
                    kStrobeOn | kStrobePolarity | (kStrobeFieldMask << kStrobeDelayShift) | kStrobeFieldMask;
                _regs.set(it->first, kPresence | (value & writable));
            }
        }
        // Every other address of the area: read-only or unimplemented.
        enforceRangesLocked();
        return Status::ok;
    }

    if (!_userMemory.empty() &&
        inRange(address, layout::kUserMemoryData, layout::kUserMemoryData + uint32_t(_userMemory.size()))) {
        uint8_t* p = &_userMemory[(address - layout::kUserMemoryData) & ~3u];
        p[0] = uint8_t(value >> 24);
        p[1] = uint8_t(value >> 16);
        p[2] = uint8_t(value >> 8);
        p[3] = uint8_t(value);
        return Status::ok;
    }

    if (inRange(address, kAdvancedFeatureBase, kAdvancedFeatureEnd)) {
        writeAdvancedLocked(address, value);
        enforceRangesLocked();
        return Status::ok;
    }
    return Status::addressError;
}

bool Camera::readInquiryLocked(uint32_t address, uint32_t& value, int64_t now) const
{
    if (address == kVideoFormatInquiry) {
        value = formatInquiryLocked();
    } else if (inRange(address, videoModeInquiry(0), videoModeInquiry(8))) {
        value = modeInquiryLocked((address - kVideoModeInquiryBase) / 4);
    } else if (inRange(address, videoRateInquiry(0, 0), videoRateInquiry(3, 0))) {
        const uint32_t offset = address - kVideoRateInquiryBase;
        value = rateInquiryLocked(offset / 0x20, (offset % 0x20) / 4);
    } else if (address == format7CsrInquiry(0)) {
        value = format7Available() ? addressToQuadletOffset(layout::kFormat7Mode0) : 0;
    } else if (address == kBasicFunctionInquiry) {
        uint32_t optional = 0;
        if (!readOverride(kOptionalFunctionInquiry, optional))
            readInquiryLocked(kOptionalFunctionInquiry, optional, now);
        value = (_config.smartFeatures ? kBasicAdvancedFeature : 0) |
                (optional ? kBasicOptionalFunctions : 0) | (_config.maxBusSpeed >= 800 ? kBasic1394b : 0) |
                kBasicPowerControl | kBasicOneShot | kBasicMultiShot;
    } else if (address == kOptionalFunctionInquiry) {
        // What the inquiries of the optional blocks say, forced ones included.
        uint32_t strobe = 0;
        if (!readOverride(kStrobeOutputInquiry, strobe))
            readInquiryLocked(kStrobeOutputInquiry, strobe, now);
        value = strobe ? kOptionalStrobe : 0;
    } else if (address == kFeatureHighInquiry) {
        value = 0;
        for (uint32_t f = 0; f < 16; ++f) {
            if (featureInquiryLocked(f) & kPresence)
                value |= formatBit(f);
        }
    } else if (address == kAdvancedFeatureInquiry) {
        value = _config.smartFeatures ? addressToQuadletOffset(kAdvancedFeatureBase) : 0;
    } else if (address == kStrobeOutputInquiry) {
        value = _config.strobePins ? addressToQuadletOffset(layout::kStrobeBlock) : 0;
    } else if (inRange(address, featureInquiry(0), featureInquiry(16))) {
        value = featureInquiryLocked((address - kFeatureInquiryBase) / 4);
    } else if (address == kTemperature) {
        const double tenthsK = _config.temperatureCelsius * 10.0 + kTemperatureZeroCelsiusTenthsK;
        value = kPresence | (static_cast<uint32_t>(std::lround(tenthsK)) & kTemperatureValueMask);
    } else if (inRange(address, layout::strobeInquiry(0), layout::strobeInquiry(kGpioPinCount))) {
        const uint32_t pin = (address - layout::strobeInquiry(0)) / 4;
        const bool output = reg(kGpioControl) & gpioOutputBit(pin);
        value = ((_config.strobePins >> pin) & 1u) && output
                    ? kPresence | kStrobeInqReadable | kStrobeInqOnOff | kStrobeInqPolarity
                    : 0;
    } else if (inRange(address, layout::kFormat7Mode0, layout::kFormat7Mode0 + kF7BlockSize)) {
        return format7Available() && readFormat7Locked(address - layout::kFormat7Mode0, value);
    } else if (address == kUserMemoryDescription) {
        value = _userMemory.empty()
                    ? 0
                    : kPresence | (_config.userMemoryE1 << kUserMemoryE1Shift) | _config.userMemoryE2;
    } else if (address == kUserMemoryDataOffset) {
        value = _userMemory.empty() ? 0 : addressToQuadletOffset(layout::kUserMemoryData);
    } else if (address == kFirmwareVersion) {
        value = _config.firmwareVersion;
    } else if (address == kSoftwareTrigger || address == kSoftwareTriggerStandard) {
        value = readSoftwareTriggerLocked(address, now);
    } else if (readAbsoluteLocked(address, value)) {
        // absolute-value offsets and blocks
    } else {
        return false;
    }
    return true;
}

// --- power-up defaults -------------------------------------------------------------------

RegisterFile::Map Camera::defaultRegisters() const
{
    RegisterFile::Map r;
    r[kCameraPower] = kCameraPowerOn;
    r[kIsoEnable] = 0;
    r[kIsoChannelSpeed] = kIsoSpeedS400 << kIsoSpeedShift; // channel 0

    // Video format: the largest 8-bit mono fixed mode when there is one, at
    // its fastest offered rate; Format_7 otherwise.
    uint32_t format = kFormat7, mode = 0, rate = 0;
    if (_config.fixedFormats) {
        for (uint32_t f = 0; f <= 2; ++f) {
            for (uint32_t m = 0; m < 8; ++m) {
                uint32_t w, h;
                if (!fixedModeLocked(f, m, w, h))
                    continue;
                const uint32_t rates = rateInquiryLocked(f, m);
                for (uint32_t i = 0; i < 6; ++i) {
                    if (rates & formatBit(i)) {
                        format = f;
                        mode = m;
                        rate = i;
                    }
                }
            }
        }
    }
    r[kCurrentVideoFormat] = format << kCurrentIndexShift;
    r[kCurrentVideoMode] = mode << kCurrentIndexShift;
    r[kCurrentFrameRate] = rate << kCurrentIndexShift;

    const std::pair<uint32_t, const PropertyCaps*> features[] = {
        {kFeatureBrightness, &_config.brightness}, {kFeatureAutoExposure, &_config.autoExposure},
        {kFeatureShutter, &_config.shutter},       {kFeatureGain, &_config.gain},
        {kFeatureFrameRate, &_config.frameRate},
    };
    for (const auto& [feature, p] : features) {
        if (!p->present)
            continue;
        uint32_t v = kPresence | (p->defaultRaw & kControlValueMask);
        if (p->defaultOn || !p->onOff)
            v |= kControlOn;
        if (p->defaultAuto && p->autoMode)
            v |= kControlAuto;
        r[featureControl(feature)] = v;
    }
    if (triggerInquiryLocked() & kTriggerInqPresence) // off, low active, source 0, mode 0
        r[kTriggerMode] = kPresence | (triggerInputLevelLocked(kPresence) ? kTriggerValue : 0);

    r[kGpioControl] = 0;
    if (_config.frameInfoItems)
        r[kFrameInfo] = frameinfo::kPresent;
    for (uint32_t pin = 0; pin < kGpioPinCount; ++pin) {
        if (strobePresentLocked(pin))
            r[layout::strobeControl(pin)] = kPresence;
    }
    if (format7Available()) {
        const uint32_t base = layout::kFormat7Mode0;
        r[base + kF7ImagePosition] = 0;
        r[base + kF7ImageSize] = packHigh(_config.sensorWidth, _config.sensorHeight);
        r[base + kF7ColorCodingId] = kColorCodeMono8 << kF7ColorCodingShift;
        const PacketLimits limits =
            packetLimitsAtLocked(_config.sensorWidth, _config.sensorHeight, 1, layout::kPowerUpIsoSpeedMbps);
        r[base + kF7BytePerPacket] = packHigh(limits.maxBytes, limits.maxBytes);
        r[base + kF7ValueSetting] = kPresence;
    }

    // Forced defaults of writable registers.
    for (const auto& [address, value] : _config.registerOverrides) {
        if (r.count(address))
            r[address] = value;
    }
    return r;
}

void Camera::resetRegistersLocked()
{
    // The stream's receiver stays attached; the camera stops sending until
    // the host enables isochronous transfer again.
    _regs.assign(defaultRegisters());
    _shotsLeft = 0;
    pauseIsoLocked();
    _onePushDoneNs.fill(0);
    _format7Pending.clear();
    _sync = Sync{};
    _frameCounter = 0;
    _triggers.clear();
    _freeRun = FreeRunPlan{};
    _busyUntilNs = 0;
    _accessControl[0] = _accessControl[1] = sf::kAllOnes;
    for (uint32_t& q : _inquiryId)
        q = 0;
    _smartEnabled = 0;
    _timeBase = _config.shutterTimeBase;
    _regs.touch(); // the exposure follows the time base
    enforceRangesLocked();
    rescheduleLocked();
}

} // namespace orvex::sim
