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
    : number_(number), speed_(config.speed),
      isoBandwidth_(config.isoBandwidth ? config.isoBandwidth : isoBudgetBytes(config.speed)),
      delays_(static_cast<uint32_t>(1394 + number))
{
    clock_.setTicksNow(static_cast<int64_t>(std::llround(config.clockSeconds * iidc::kTickFrequencyHz)));
    clock_.setDriftPpm(config.driftPpm);
    if (config.wanderPpmPerSqrtMinute > 0.0)
        clock_.setWander(config.wanderPpmPerSqrtMinute, config.wanderSeed);
    if (config.temperatureSwingPpm != 0.0 && config.temperaturePeriodSeconds > 0.0)
        clock_.setTemperatureSwing(config.temperatureSwingPpm, config.temperaturePeriodSeconds);
    clock_.setStepOnReset(config.stepOnResetTicks);
    const int64_t created = hostNowNs();
    for (const BusConfig::ScheduledStep& step : config.steps)
        clock_.scheduleStep(created + static_cast<int64_t>(std::llround(step.atSeconds * 1e9)), step.ticks);
    delays_.setTiming(config.timing);
}

bool Bus::reserveBandwidth(uint32_t bytesPerPacket)
{
    std::lock_guard<std::mutex> lock(m_);
    if (inUse_ + bytesPerPacket > isoBandwidth_)
        return false;
    inUse_ += bytesPerPacket;
    return true;
}

void Bus::releaseBandwidth(uint32_t bytesPerPacket)
{
    std::lock_guard<std::mutex> lock(m_);
    inUse_ = bytesPerPacket > inUse_ ? 0 : inUse_ - bytesPerPacket;
}

std::optional<uint32_t> Bus::allocateChannel(uint32_t limit)
{
    std::lock_guard<std::mutex> lock(m_);
    for (uint32_t channel = 0; channel < std::min(limit, kIsoChannels); ++channel) {
        if (channels_.insert(channel).second)
            return channel;
    }
    return std::nullopt;
}

void Bus::releaseChannel(uint32_t channel)
{
    std::lock_guard<std::mutex> lock(m_);
    channels_.erase(channel);
}

bool Bus::isChannelAllocated(uint32_t channel) const
{
    std::lock_guard<std::mutex> lock(m_);
    return channels_.count(channel) != 0;
}

uint32_t Bus::bandwidthInUse() const
{
    std::lock_guard<std::mutex> lock(m_);
    return inUse_;
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
    std::lock_guard<std::mutex> lock(m_);
    receivers_[channel] = std::move(receiver);
}

void Bus::stopListening(uint32_t channel)
{
    std::lock_guard<std::mutex> lock(m_);
    receivers_.erase(channel);
}

void Bus::transmit(uint32_t channel, const Frame& frame)
{
    std::shared_ptr<FrameSink> receiver;
    {
        std::lock_guard<std::mutex> lock(m_);
        const auto it = receivers_.find(channel);
        if (it == receivers_.end())
            return;
        receiver = it->second;
    }
    if (receiver)
        receiver->onFrame(frame);
}

} // namespace orvex::sim
