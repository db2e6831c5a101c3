// A simulated 1394 bus: its cameras, cycle clock, bandwidth, resets and the
// timing of register transactions.
#include <orvex/sim/Bus.h>

#include <orvex/iidc/Registers.h>

#include <algorithm>
#include <cmath>

namespace orvex::sim {

namespace {
// IEEE 1394's isochronous budget at S400; other speeds scale with it.
constexpr uint32_t kIsoBudgetS400 = 4915;
} // namespace

Bus::Bus(int number, const BusConfig& config)
    : _number(number), _speed(config.speed),
      _isoBandwidth(config.isoBandwidth ? config.isoBandwidth : isoBudgetBytes(config.speed)),
      _delays(static_cast<uint32_t>(1394 + number))
{
    _clock.setTicksNow(static_cast<int64_t>(std::llround(config.clockSeconds * iidc::kTickFrequencyHz)));
    _clock.setDriftPpm(config.driftPpm);
    if (config.wanderPpmPerSqrtMinute > 0.0)
        _clock.setWander(config.wanderPpmPerSqrtMinute, config.wanderSeed);
    if (config.temperatureSwingPpm != 0.0 && config.temperaturePeriodSeconds > 0.0)
        _clock.setTemperatureSwing(config.temperatureSwingPpm, config.temperaturePeriodSeconds);
    _clock.setStepOnReset(config.stepOnResetTicks);
    const int64_t created = hostNowNs();
    for (const BusConfig::ScheduledStep& step : config.steps)
        _clock.scheduleStep(created + static_cast<int64_t>(std::llround(step.atSeconds * 1e9)), step.ticks);
    _delays.setTiming(config.timing);
}

bool Bus::reserveBandwidth(uint32_t bytesPerPacket)
{
    std::lock_guard<std::mutex> lock(_m);
    if (_inUse + bytesPerPacket > _isoBandwidth)
        return false;
    _inUse += bytesPerPacket;
    return true;
}

void Bus::releaseBandwidth(uint32_t bytesPerPacket)
{
    std::lock_guard<std::mutex> lock(_m);
    _inUse = bytesPerPacket > _inUse ? 0 : _inUse - bytesPerPacket;
}

std::optional<uint32_t> Bus::allocateChannel(uint32_t limit)
{
    std::lock_guard<std::mutex> lock(_m);
    for (uint32_t channel = 0; channel < std::min(limit, kIsoChannels); ++channel) {
        if (_channels.insert(channel).second)
            return channel;
    }
    return std::nullopt;
}

void Bus::releaseChannel(uint32_t channel)
{
    std::lock_guard<std::mutex> lock(_m);
    _channels.erase(channel);
}

bool Bus::isChannelAllocated(uint32_t channel) const
{
    std::lock_guard<std::mutex> lock(_m);
    return _channels.count(channel) != 0;
}

uint32_t Bus::bandwidthInUse() const
{
    std::lock_guard<std::mutex> lock(_m);
    return _inUse;
}

uint32_t Bus::maxPacketBytes(uint32_t speedMbps)
{
    if (speedMbps >= 800)
        return 8192;
    if (speedMbps >= 400)
        return 4096;
    if (speedMbps >= 200)
        return 2048;
    return 1024;
}

} // namespace orvex::sim

namespace orvex::sim {

uint32_t Bus::isoBudgetBytes(uint32_t speedMbps)
{
    return static_cast<uint32_t>(uint64_t(kIsoBudgetS400) * speedMbps / 400);
}

void Bus::listen(uint32_t channel, std::shared_ptr<FrameSink> receiver)
{
    if (channel >= kIsoChannels)
        return;
    std::lock_guard<std::mutex> lock(_m);
    _receivers[channel] = std::move(receiver);
}

void Bus::stopListening(uint32_t channel)
{
    std::lock_guard<std::mutex> lock(_m);
    _receivers.erase(channel);
}

void Bus::transmit(uint32_t channel, const Frame& frame)
{
    std::shared_ptr<FrameSink> receiver;
    {
        std::lock_guard<std::mutex> lock(_m);
        const auto it = _receivers.find(channel);
        if (it == _receivers.end())
            return;
        receiver = it->second;
    }
    if (receiver)
        receiver->onFrame(frame);
}

} // namespace orvex::sim
