// Host time and the buses' cycle clocks: drift, wander, steps and the
// temperature swing, each a function of host time.
#include <orvex/sim/CycleClock.h>

#include <orvex/iidc/Registers.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
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

// A test's clock in place of the steady clock, if any.
std::atomic<const HostClock*> g_hostClock{nullptr};
} // namespace

int64_t hostNowNs()
{
    if (const HostClock* clock = g_hostClock.load(std::memory_order_acquire))
        return clock->nowNs();
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

bool hostClockIsSteady()
{
    return g_hostClock.load(std::memory_order_acquire) == nullptr;
}

void setHostClock(const HostClock* clock)
{
    g_hostClock.store(clock, std::memory_order_release);
}

void waitNs(int64_t ns)
{
    if (ns <= 0)
        return;
    if (const HostClock* clock = g_hostClock.load(std::memory_order_acquire)) {
        clock->waitNs(ns);
        return;
    }
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

void CycleClock::recordJumpLocked(int64_t hostNs, int64_t ticks) const
{
    const int64_t cycles = roundToCycles(ticks);
    _jumpedCycleTicks += cycles;
    _scheduledJumps.emplace_back(hostNs, cycles);
    if (_scheduledJumps.size() > kKeptAnchors)
        _scheduledJumps.pop_front();
}

int64_t CycleClock::jumpedAtLocked(int64_t hostNs) const
{
    // A scheduled step may be made before the instant asked about has come
    // (a read further on made it): undo those after `hostNs`.
    int64_t jumped = _jumpedCycleTicks;
    for (auto it = _scheduledJumps.rbegin(); it != _scheduledJumps.rend() && it->first > hostNs; ++it)
        jumped -= it->second;
    return jumped;
}

double CycleClock::swingPpmAtLocked(int64_t hostNs) const
{
    if (_swingAmplitudePpm == 0.0)
        return 0.0;
    constexpr double kTwoPi = 6.283185307179586;
    return _swingAmplitudePpm *
           std::sin(kTwoPi * static_cast<double>(hostNs - _swingStartNs) / _swingPeriodNs);
}

void CycleClock::extendWanderLocked(int64_t hostNs) const
{
    const bool moving = _wanderStepPpm > 0.0 || _swingAmplitudePpm != 0.0;
    std::normal_distribution<double> move(0.0, _wanderStepPpm > 0.0 ? _wanderStepPpm : 1.0);
    for (;;) {
        const Anchor last = _anchors.back();
        const int64_t nextMove = moving ? last.hostNs + kWanderStepNs : INT64_MAX;
        const int64_t nextStep = _scheduledSteps.empty() ? INT64_MAX : _scheduledSteps.begin()->first;
        const int64_t at = std::min(nextMove, nextStep);
        if (at > hostNs)
            return;
        if (nextStep <= nextMove) {
            // A step falls between two moves: the rate goes on unchanged.
            const int64_t ticks = _scheduledSteps.begin()->second;
            _scheduledSteps.erase(_scheduledSteps.begin());
            recordJumpLocked(at, ticks);
            _anchors.push_back(
                Anchor{at, ticksAt(last, at) + static_cast<double>(ticks), last.ticksPerNs, last.ppm});
        } else {
            if (_wanderStepPpm > 0.0)
                _wanderPpm += move(_wanderRng);
            const double ppm = _basePpm + _wanderPpm + swingPpmAtLocked(at);
            _anchors.push_back(Anchor{at, ticksAt(last, at), ticksPerNsAt(ppm), ppm});
        }
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
    return keptTicksAtLocked(hostNs) - jumpedAtLocked(hostNs);
}

int64_t CycleClock::hostNsAtOwn(int64_t ownTicks) const
{
    return hostNsAtOwn(ownTicks, hostNowNs(), nullptr);
}

int64_t CycleClock::hostNsAtOwn(int64_t ownTicks, int64_t nowNs, int64_t* busTicks) const
{
    std::lock_guard<std::mutex> lock(_m);
    extendWanderLocked(nowNs);
    const int64_t hostNs = hostNsAtLocked(ownTicks + _jumpedCycleTicks);
    if (busTicks) {
        extendWanderLocked(hostNs);
        *busTicks = keptTicksAtLocked(hostNs);
    }
    return hostNs;
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

void CycleClock::setTemperatureSwing(double amplitudePpm, double periodSeconds)
{
    std::lock_guard<std::mutex> lock(_m);
    const int64_t now = hostNowNs();
    const Anchor current = anchorAtLocked(now);
    // The swing starts (or ends) at zero: the rate is the set one plus the wander.
    restartLocked(now, ticksAt(current, now), _basePpm + _wanderPpm);
    _swingAmplitudePpm = periodSeconds > 0.0 ? amplitudePpm : 0.0;
    _swingPeriodNs = periodSeconds > 0.0 ? periodSeconds * 1e9 : 1.0;
    _swingStartNs = now;
}

void CycleClock::scheduleStep(int64_t atHostNs, int64_t ticks)
{
    std::lock_guard<std::mutex> lock(_m);
    const int64_t now = hostNowNs();
    extendWanderLocked(now);
    // Never before an instant the clock has already been read at.
    _scheduledSteps.emplace(std::max({atHostNs, now, _anchors.back().hostNs}), ticks);
    extendWanderLocked(now); // one already due is made now
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
