#include <orvex/sim/CycleClock.h>

#include <orvex/iidc/Registers.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace orvex::sim {

namespace {
constexpr double kTicksPerNs = iidc::kTickFrequencyHz * 1e-9;
// Below this a wait spins: sleeping costs tens of microseconds on Linux.
constexpr int64_t kSpinLimitNs = 2'000'000;
// Below this a wait does not even yield.
constexpr int64_t kBusyWaitLimitNs = 100'000;
// Anchors kept for instants slightly in the past.
constexpr std::size_t kKeptAnchors = 8;
// However far a drift or the wander goes, the clock neither stands still
// nor runs backwards: instants keep their order and every tick comes.
constexpr double kSlowestRate = 1e-3;

double ticksPerNsAt(double ppm)
{
    return kTicksPerNs * std::max(1.0 + ppm * 1e-6, kSlowestRate);
}

// A jump to the nearest whole cycle, a half cycle up.
int64_t roundToCycles(int64_t ticks)
{
    constexpr int64_t cycle = iidc::kTicksPerCycle;
    int64_t shifted = ticks + cycle / 2;
    int64_t cycles = shifted / cycle;
    if (shifted % cycle < 0)
        --cycles; // floor division for negative jumps
    return cycles * cycle;
}
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
    // A register transaction's few microseconds are spun through without
    // yielding: on a loaded host every yield can cost a whole time slice,
    // which would turn each simulated transaction into milliseconds.
    const bool brief = ns <= kBusyWaitLimitNs;
    while (hostNowNs() < end) {
        if (!brief)
            std::this_thread::yield();
    }
}

CycleClock::CycleClock()
{
    restartLocked(hostNowNs(), 0.0, 0.0);
}

double CycleClock::ticksAt(const Anchor& a, int64_t hostNs)
{
    return a.ticks + static_cast<double>(hostNs - a.hostNs) * a.ticksPerNs;
}

void CycleClock::restartLocked(int64_t hostNs, double ticks, double ppm)
{
    _anchors.clear();
    _anchors.push_back(Anchor{hostNs, ticks, ticksPerNsAt(ppm), ppm});
}

void CycleClock::extendWanderLocked(int64_t hostNs) const
{
    if (_wanderStepPpm <= 0.0)
        return;
    std::normal_distribution<double> move(0.0, _wanderStepPpm);
    while (hostNs >= _anchors.back().hostNs + kWanderStepNs) {
        const Anchor& last = _anchors.back();
        const int64_t at = last.hostNs + kWanderStepNs;
        _wanderPpm += move(_wanderRng);
        const double ppm = _basePpm + _wanderPpm;
        _anchors.push_back(Anchor{at, ticksAt(last, at), ticksPerNsAt(ppm), ppm});
        if (_anchors.size() > kKeptAnchors)
            _anchors.pop_front();
    }
}

const CycleClock::Anchor& CycleClock::keptAnchorAtLocked(int64_t hostNs) const
{
    for (auto it = _anchors.rbegin(); it != _anchors.rend(); ++it) {
        if (it->hostNs <= hostNs)
            return *it;
    }
    return _anchors.front(); // before the oldest kept: extrapolated back
}

const CycleClock::Anchor& CycleClock::anchorAtLocked(int64_t hostNs) const
{
    extendWanderLocked(hostNs);
    return keptAnchorAtLocked(hostNs);
}

int64_t CycleClock::keptTicksAtLocked(int64_t hostNs) const
{
    return static_cast<int64_t>(std::floor(ticksAt(keptAnchorAtLocked(hostNs), hostNs)));
}

int64_t CycleClock::hostNsAtLocked(int64_t ticks) const
{
    // The anchor in force when the clock reaches `ticks`: readings grow
    // from anchor to anchor.
    const double target = static_cast<double>(ticks);
    const Anchor* anchor = &_anchors.front();
    for (auto it = _anchors.rbegin(); it != _anchors.rend(); ++it) {
        if (it->ticks <= target) {
            anchor = &*it;
            break;
        }
    }
    int64_t hostNs =
        anchor->hostNs + static_cast<int64_t>(std::ceil((target - anchor->ticks) / anchor->ticksPerNs));
    // The division rounds: settle on the first nanosecond that reads `ticks`.
    while (keptTicksAtLocked(hostNs) < ticks)
        ++hostNs;
    while (keptTicksAtLocked(hostNs - 1) >= ticks)
        --hostNs;
    return hostNs;
}

int64_t CycleClock::ticksAt(int64_t hostNs) const
{
    std::lock_guard<std::mutex> lock(_m);
    extendWanderLocked(hostNs);
    return keptTicksAtLocked(hostNs);
}

int64_t CycleClock::hostNsAt(int64_t ticks) const
{
    std::lock_guard<std::mutex> lock(_m);
    extendWanderLocked(hostNowNs());
    return hostNsAtLocked(ticks);
}

int64_t CycleClock::ownTicksAt(int64_t hostNs) const
{
    std::lock_guard<std::mutex> lock(_m);
    extendWanderLocked(hostNs);
    return keptTicksAtLocked(hostNs) - _jumpedCycleTicks;
}

int64_t CycleClock::hostNsAtOwn(int64_t ownTicks) const
{
    std::lock_guard<std::mutex> lock(_m);
    extendWanderLocked(hostNowNs());
    return hostNsAtLocked(ownTicks + _jumpedCycleTicks);
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
    std::lock_guard<std::mutex> lock(_m);
    const int64_t now = hostNowNs();
    const Anchor current = anchorAtLocked(now);
    _jumpedCycleTicks += roundToCycles(ticks - static_cast<int64_t>(std::floor(ticksAt(current, now))));
    restartLocked(now, static_cast<double>(ticks), current.ppm);
}

void CycleClock::setDriftPpm(double ppm)
{
    std::lock_guard<std::mutex> lock(_m);
    const int64_t now = hostNowNs();
    const double ticks = ticksAt(anchorAtLocked(now), now);
    _basePpm = ppm;
    restartLocked(now, ticks, _basePpm + _wanderPpm);
}

double CycleClock::driftPpm() const
{
    std::lock_guard<std::mutex> lock(_m);
    return anchorAtLocked(hostNowNs()).ppm;
}

void CycleClock::setWander(double ppmPerSqrtMinute, uint32_t seed)
{
    std::lock_guard<std::mutex> lock(_m);
    const int64_t now = hostNowNs();
    const Anchor current = anchorAtLocked(now);
    restartLocked(now, ticksAt(current, now), current.ppm);
    // A minute holds 60 independent moves: their spread adds up as sqrt(60).
    constexpr double kStepsPerMinute = 60.0e9 / static_cast<double>(kWanderStepNs);
    _wanderStepPpm = ppmPerSqrtMinute > 0.0 ? ppmPerSqrtMinute / std::sqrt(kStepsPerMinute) : 0.0;
    _wanderRng.seed(seed);
}

void CycleClock::step(int64_t ticks)
{
    std::lock_guard<std::mutex> lock(_m);
    const int64_t now = hostNowNs();
    const Anchor current = anchorAtLocked(now);
    _jumpedCycleTicks += roundToCycles(ticks);
    restartLocked(now, ticksAt(current, now) + static_cast<double>(ticks), current.ppm);
}

void CycleClock::setStepOnReset(int64_t ticks)
{
    std::lock_guard<std::mutex> lock(_m);
    _stepOnReset = ticks;
}

void CycleClock::busReset()
{
    int64_t ticks = 0;
    {
        std::lock_guard<std::mutex> lock(_m);
        ticks = _stepOnReset;
    }
    if (ticks != 0)
        step(ticks);
}

TransactionDelays::TransactionDelays(uint32_t seed) : _rng(seed) {}

void TransactionDelays::setTiming(const TransactionTiming& timing)
{
    std::lock_guard<std::mutex> lock(_m);
    _timing = timing;
}

TransactionTiming TransactionDelays::timing() const
{
    std::lock_guard<std::mutex> lock(_m);
    return _timing;
}

std::pair<int64_t, int64_t> TransactionDelays::draw()
{
    std::lock_guard<std::mutex> lock(_m);
    if (_timing.latencyNs <= 0 && _timing.jitterNs <= 0 && _timing.spikeProbability <= 0.0)
        return {0, 0};
    auto half = [this] {
        int64_t ns = _timing.latencyNs / 2;
        if (_timing.jitterNs > 0)
            ns += std::uniform_int_distribution<int64_t>(0, _timing.jitterNs)(_rng);
        if (_timing.spikeProbability > 0.0 && std::bernoulli_distribution(_timing.spikeProbability)(_rng))
            ns += _timing.spikeNs;
        return ns;
    };
    const int64_t request = half();
    const int64_t response = half();
    return {request, response};
}

} // namespace orvex::sim
