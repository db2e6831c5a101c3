#include <orvex/sim/Bus.h>

#include <orvex/iidc/Registers.h>

#include <cmath>

namespace orvex::sim {

namespace {
// 80 % of a 125 µs cycle is left to isochronous traffic.
uint32_t defaultBandwidth(uint32_t speedMbps)
{
    return static_cast<uint32_t>(speedMbps * 1e6 / 8.0 * 125e-6 * 0.8);
}
} // namespace

Bus::Bus(int number, const BusConfig& config)
    : number_(number), speed_(config.speed),
      isoBandwidth_(config.isoBandwidth ? config.isoBandwidth : defaultBandwidth(config.speed)),
      delays_(static_cast<uint32_t>(1394 + number))
{
    clock_.setTicksNow(static_cast<int64_t>(std::llround(config.clockSeconds * iidc::kTickFrequencyHz)));
    clock_.setDriftPpm(config.driftPpm);
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
