#include <orvex/sim/CycleClock.h>

#include <orvex/iidc/Registers.h>

#include <chrono>
#include <cmath>
#include <thread>

namespace orvex::sim {

namespace {
constexpr double kTicksPerNs = iidc::kTickFrequencyHz * 1e-9;
// Below this a wait spins: sleeping costs tens of microseconds on Linux.
constexpr int64_t kSpinLimitNs = 2'000'000;
} // namespace

int64_t hostNowNs()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

void waitNs(int64_t ns)
{
    if (ns <= 0)
        return;
    const int64_t end = hostNowNs() + ns;
    if (ns > kSpinLimitNs)
        std::this_thread::sleep_for(std::chrono::nanoseconds(ns - kSpinLimitNs / 2));
    while (hostNowNs() < end)
        std::this_thread::yield();
}

CycleClock::CycleClock() : anchor_{hostNowNs(), 0.0, kTicksPerNs, 0.0} {}

double CycleClock::ticksAt(const Anchor& a, int64_t hostNs)
{
    return a.ticks + static_cast<double>(hostNs - a.hostNs) * a.ticksPerNs;
}

CycleClock::Anchor CycleClock::anchor() const
{
    std::lock_guard<std::mutex> lock(m_);
    return anchor_;
}

int64_t CycleClock::ticksAt(int64_t hostNs) const
{
    return static_cast<int64_t>(std::floor(ticksAt(anchor(), hostNs)));
}

uint32_t CycleClock::cycleTimeAt(int64_t hostNs) const
{
    int64_t ticks = ticksAt(hostNs) % static_cast<int64_t>(iidc::kTicksPerWrap);
    if (ticks < 0)
        ticks += iidc::kTicksPerWrap;
    return iidc::ticksToCycleTime(static_cast<uint32_t>(ticks));
}

void CycleClock::setTicksNow(int64_t ticks)
{
    std::lock_guard<std::mutex> lock(m_);
    anchor_.hostNs = hostNowNs();
    anchor_.ticks = static_cast<double>(ticks);
}

void CycleClock::setDriftPpm(double ppm)
{
    std::lock_guard<std::mutex> lock(m_);
    const int64_t now = hostNowNs();
    anchor_.ticks = ticksAt(anchor_, now);
    anchor_.hostNs = now;
    anchor_.ppm = ppm;
    anchor_.ticksPerNs = kTicksPerNs * (1.0 + ppm * 1e-6);
}

double CycleClock::driftPpm() const
{
    return anchor().ppm;
}

TransactionDelays::TransactionDelays(uint32_t seed) : rng_(seed) {}

void TransactionDelays::setTiming(const TransactionTiming& timing)
{
    std::lock_guard<std::mutex> lock(m_);
    timing_ = timing;
}

TransactionTiming TransactionDelays::timing() const
{
    std::lock_guard<std::mutex> lock(m_);
    return timing_;
}

std::pair<int64_t, int64_t> TransactionDelays::draw()
{
    std::lock_guard<std::mutex> lock(m_);
    if (timing_.latencyNs <= 0 && timing_.jitterNs <= 0 && timing_.spikeProbability <= 0.0)
        return {0, 0};
    auto half = [this] {
        int64_t ns = timing_.latencyNs / 2;
        if (timing_.jitterNs > 0)
            ns += std::uniform_int_distribution<int64_t>(0, timing_.jitterNs)(rng_);
        if (timing_.spikeProbability > 0.0 && std::bernoulli_distribution(timing_.spikeProbability)(rng_))
            ns += timing_.spikeNs;
        return ns;
    };
    const int64_t request = half();
    const int64_t response = half();
    return {request, response};
}

} // namespace orvex::sim
