// Isochronous transmission as the registers drive it: ISO_EN starts and
// stops it, One_Shot and Multi_Shot send one or N images while ISO_EN is
// off, ISO_CHANNEL_SPEED says where the images go. A receiver's stream (the
// SDK's or the driver's, startStream) is paused and resumed by ISO_EN; when
// no receiver has started one, the registers start the camera's own stream
// and its images go to whoever listens on the channel (Bus::listen).
//
// The register-started stream keeps its thread once started (until a
// receiver takes over, the camera leaves the bus or is destroyed) and holds
// isochronous bandwidth only while it transmits.
#include <orvex/sim/Camera.h>

#include <orvex/iidc/Registers.h>

namespace orvex::sim {

using namespace orvex::iidc;

namespace {

// The camera's end of an isochronous channel.
class ChannelSink : public FrameSink {
public:
    ChannelSink(std::weak_ptr<Bus> bus, uint32_t channel) : _bus(std::move(bus)), _channel(channel) {}
    void onFrame(const Frame& frame) override
    {
        if (const auto bus = _bus.lock())
            bus->transmit(_channel, frame);
    }
    // The listener hears nothing more; it is told nothing, as on a real bus.
    void onCameraRemoved() override {}

private:
    std::weak_ptr<Bus> _bus;
    uint32_t _channel;
};

bool speaks1394b(const CameraConfig& config)
{
    return config.maxBusSpeed >= 800;
}

} // namespace

bool Camera::transmittingLocked() const
{
    return (reg(kIsoEnable) & kIsoEnableBit) || _shotsLeft > 0;
}

uint32_t Camera::isoChannelLocked() const
{
    const uint32_t value = reg(kIsoChannelSpeed);
    if (value & kIsoOperationMode1394b)
        return (value >> kIso1394bChannelShift) & kIso1394bChannelMask;
    return (value >> kIsoChannelShift) & kIsoChannelMask;
}

void Camera::writeIsoChannelSpeedLocked(uint32_t value)
{
    if ((value & kIsoOperationMode1394b) && speaks1394b(_config)) {
        _regs[kIsoChannelSpeed] = kIsoOperationMode1394b |
                                  (value & (kIso1394bChannelMask << kIso1394bChannelShift)) |
                                  (value & kIso1394bSpeedMask);
    } else {
        _regs[kIsoChannelSpeed] =
            value & ((kIsoChannelMask << kIsoChannelShift) | (kIsoSpeedMask << kIsoSpeedShift));
    }
}

void Camera::writeIsoEnableLocked(uint32_t value, After& after)
{
    _freeRun = FreeRunPlan{};
    _streamCv.notify_all();
    if (!(value & kIsoEnableBit)) {
        _regs[kIsoEnable] = 0;
        pauseIsoLocked();
        return;
    }
    // Continuous transmission overrides shots still pending.
    _regs[kIsoEnable] = kIsoEnableBit;
    _regs[kOneShot] = 0;
    _shotsLeft = 0;
    after.startIso = true;
}

void Camera::writeShotLocked(uint32_t value, After& after)
{
    if (reg(kIsoEnable) & kIsoEnableBit)
        return; // shots are for a camera that is not streaming
    const uint32_t count = (value & kOneShotBit)     ? 1
                           : (value & kMultiShotBit) ? value & kMultiShotCountMask
                                                     : 0;
    _shotsLeft = count;
    if (count == 0) {
        // Writing 0 (or a multi-shot of 0 images) stops a multi-shot.
        _regs[kOneShot] = 0;
        pauseIsoLocked();
        return;
    }
    _regs[kOneShot] = (value & kOneShotBit) ? kOneShotBit : kMultiShotBit | count;
    _freeRun = FreeRunPlan{};
    _streamCv.notify_all();
    after.startIso = true;
}

void Camera::frameSentLocked()
{
    if (_shotsLeft == 0 || (reg(kIsoEnable) & kIsoEnableBit))
        return;
    if (--_shotsLeft == 0) {
        _regs[kOneShot] = 0;
        pauseIsoLocked();
    }
}

void Camera::pauseIsoLocked()
{
    if (!_streaming || !_isoOwned || transmittingLocked() || _reservedBandwidth == 0)
        return;
    if (_bus)
        _bus->releaseBandwidth(_reservedBandwidth);
    _reservedBandwidth = 0;
}

void Camera::startIsoTransmission()
{
    std::unique_lock<std::mutex> lock(_m);
    if (!_bus || !transmittingLocked())
        return; // stopped again in the meantime
    auto refuse = [&] {
        // No images can go out (powered off, no valid mode, no bandwidth).
        _regs[kIsoEnable] = 0;
        _regs[kOneShot] = 0;
        _shotsLeft = 0;
    };
    if (!(reg(kCameraPower) & kCameraPowerOn))
        return refuse();
    if (_streaming && !_isoOwned)
        return; // a receiver's stream: the registers only pause and resume it
    const auto sink = std::make_shared<ChannelSink>(_bus, isoChannelLocked());
    if (_streaming) {
        // The camera's own stream, idle since its last transmission: it
        // sends the current mode on the current channel.
        if (_reservedBandwidth != 0)
            return;
        const FrameGeometry g = currentGeometryLocked();
        if (g.bytesPerPacket == 0 || !_bus->reserveBandwidth(g.bytesPerPacket))
            return refuse();
        _reservedBandwidth = g.bytesPerPacket;
        _streamGeometry = g;
        _sink = sink;
        return;
    }
    const bool isoEnable = reg(kIsoEnable) & kIsoEnableBit;
    if (startStreamLocked(lock, sink, Pacing::frameRate) != Status::ok)
        return refuse();
    _isoOwned = true;
    _regs[kIsoEnable] = isoEnable ? kIsoEnableBit : 0;
}

} // namespace orvex::sim
