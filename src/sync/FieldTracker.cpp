// Field mode's tracker of one slave: a bank of Kalman filters for the
// wander, and the step test that restarts the history.
#include "sync/FieldTracker.h"

#include "sync/CycleTime.h"
#include "sync/DriftEncoding.h"

#include <algorithm>
#include <cmath>

namespace orvex::sync {

namespace {

constexpr double kWrap = nb_ticks_in_2_minutes_as_double;
constexpr double kTicksPerSecond = nb_ticks_in_1_second;

// The bank: one filter per strength of wander, in ppm per sqrt(minute), from
// a quartz in a still room to one next to a fan that cycles. Each runs on
// every offset; the one whose predictions have been best lately gives the
// estimate. A steady clock thus gets the long averaging that beats read
// jitter, a wandering one the short memory that keeps up with it, without a
// setting to guess per lab.
constexpr double kWanderPpmPerSqrtMinute[] = {0.003, 0.02, 0.1, 0.3, 1.0, 3.0};
// The measurement noise the wander strengths are expressed against: the
// spread of one offset (a trimmed mean of 23 pairs of register reads with a
// few microseconds of jitter each) is of this order. Only the ratio of
// wander to noise shapes a filter; a wrong guess here shifts which filter of
// the bank wins, not how well the winner does.
constexpr double kMeasurementNoiseTicks = 20.0;
// How far back the prediction errors count when filters are compared, in
// seconds: long enough that a lucky run of offsets does not switch filters,
// short enough to follow a clock whose wander changes with the weather.
constexpr double kScoreMemorySeconds = 20.0;
// A drift nobody knows yet: up to 1000 ppm, in measurement-noise units.
constexpr double kUnknownDriftVariance = (1000.0 * kTicksPerSecond * 1e-6 / kMeasurementNoiseTicks) *
                                         (1000.0 * kTicksPerSecond * 1e-6 / kMeasurementNoiseTicks);

// Step detection. An offset is far off when its prediction error exceeds
// kStepSpreads times the spread of recent prediction errors: with errors
// close to normal, 8 spreads happen by chance far less than once a year of
// ticks, and the spread already includes what the wander adds. Below
// kMinStepTicks (10 us) a jump is left to the filters, which absorb it
// within seconds; the floor keeps a filter that has settled very tightly
// from calling every stalled read a step. Before kMinTestedOffsets offsets
// the spread means nothing and nothing is tested.
constexpr double kStepSpreads = 8.0;
constexpr double kMinStepTicks = 250.0;
constexpr unsigned kMinTestedOffsets = 10;

// Into -wrap/2 .. wrap/2: offsets differ by little, or by little across a wrap.
double signedAcrossWrap(double difference)
{
    difference = std::fmod(difference, kWrap);
    if (difference >= kWrap / 2)
        difference -= kWrap;
    else if (difference < -kWrap / 2)
        difference += kWrap;
    return difference;
}

double reducedToWrap(double offset)
{
    offset = std::fmod(offset, kWrap);
    return offset < 0.0 ? offset + kWrap : offset;
}

double processNoiseOf(double ppmPerSqrtMinute)
{
    // Ticks per second of drift per sqrt(second), in measurement-noise units.
    const double perSqrtSecond = ppmPerSqrtMinute * 1e-6 * kTicksPerSecond / std::sqrt(60.0);
    const double inNoiseUnits = perSqrtSecond / kMeasurementNoiseTicks;
    return inNoiseUnits * inNoiseUnits;
}

} // namespace

void FieldTracker::Filter::start(double measuredOffset, double keptDrift, double driftVariance)
{
    offset = reducedToWrap(measuredOffset);
    drift = keptDrift;
    p00 = 1.0; // one measurement's worth
    p01 = 0.0;
    p11 = driftVariance;
}

double FieldTracker::Filter::predictionError(double dtSeconds, double measuredOffset) const
{
    return signedAcrossWrap(measuredOffset - (offset + drift * dtSeconds));
}

void FieldTracker::Filter::update(double dtSeconds, double measuredOffset, double scoreWeight)
{
    const double dt = dtSeconds;
    const double q = processNoise;
    // Predict: offset grows by the drift; the drift took a random walk.
    const double a00 = p00 + 2.0 * dt * p01 + dt * dt * p11 + q * dt * dt * dt / 3.0;
    const double a01 = p01 + dt * p11 + q * dt * dt / 2.0;
    const double a11 = p11 + q * dt;
    const double error = predictionError(dt, measuredOffset);
    score = score * (1.0 - scoreWeight) + error * error * scoreWeight;
    // Correct with the measured offset (unit variance).
    const double s = a00 + 1.0;
    const double k0 = a00 / s;
    const double k1 = a01 / s;
    offset = reducedToWrap(offset + drift * dt + k0 * error);
    drift += k1 * error;
    p00 = (1.0 - k0) * a00;
    p01 = (1.0 - k0) * a01;
    p11 = a11 - k1 * a01;
}

void FieldTracker::reset()
{
    *this = FieldTracker();
}

const FieldTracker::Filter& FieldTracker::chosen() const
{
    return *std::min_element(_filters.begin(), _filters.end(),
                             [](const Filter& a, const Filter& b) { return a.score < b.score; });
}

double FieldTracker::chosenWanderPpmPerSqrtMinute() const
{
    const auto index = static_cast<std::size_t>(&chosen() - _filters.data());
    return kWanderPpmPerSqrtMinute[index];
}

void FieldTracker::startFilters(double measuredOffset, bool keepDrift)
{
    for (std::size_t i = 0; i < kFilters; ++i) {
        Filter& f = _filters[i];
        f.processNoise = processNoiseOf(kWanderPpmPerSqrtMinute[i]);
        // A step moves the clock, not its rate: the drift learnt so far stays.
        if (keepDrift)
            f.start(measuredOffset, f.drift, f.p11);
        else
            f.start(measuredOffset, 0.0, kUnknownDriftVariance);
    }
}

void FieldTracker::accept(double masterDate, double measuredOffset, double dtSeconds)
{
    // The first errors weigh as much as a mean of what there is: a running
    // mean whose memory grows to kScoreMemorySeconds.
    const double weight =
        std::max(dtSeconds / kScoreMemorySeconds, _count < 2 ? 1.0 : 1.0 / static_cast<double>(_count));
    for (Filter& f : _filters)
        f.update(dtSeconds, measuredOffset, std::min(weight, 1.0));
    _lastDate = masterDate;
    ++_count;
}

FieldTracker::Verdict FieldTracker::add(double masterDate, uint32_t offset)
{
    const double measured = static_cast<double>(offset);
    if (!_bInitialised) {
        startFilters(measured, false);
        _bInitialised = true;
        _lastDate = masterDate;
        _count = 1;
        return Verdict::accepted;
    }
    const double sinceLast = reducedToWrap(masterDate - _lastDate) / kTicksPerSecond;
    const Filter& best = chosen();
    const double error = best.predictionError(sinceLast, measured);
    const double threshold = std::max(kStepSpreads * std::sqrt(best.score), kMinStepTicks);
    if (_count >= kMinTestedOffsets && std::fabs(error) > threshold) {
        // One far offset may be a measurement gone wrong (every read of it
        // stalled alike); two in a row that agree on the jump are a step.
        if (_bHolding && std::fabs(error - _heldError) <= threshold) {
            startFilters(_heldOffset, true);
            _count = 1;
            _lastDate = _heldDate;
            _bHolding = false;
            accept(masterDate, measured, reducedToWrap(masterDate - _heldDate) / kTicksPerSecond);
            return Verdict::step;
        }
        _bHolding = true;
        _heldDate = masterDate;
        _heldOffset = measured;
        _heldError = error;
        return Verdict::held;
    }
    _bHolding = false;
    accept(masterDate, measured, sinceLast);
    return Verdict::accepted;
}

std::pair<unsigned long, unsigned long> FieldTracker::driftAndOffset(double ticksIntoSlaveSecond) const
{
    const Filter& best = chosen();
    const double offset = best.offset - best.drift * (ticksIntoSlaveSecond / kTicksPerSecond) + 0.5;
    return {encodedDrift(best.drift), truncatedIntoWrap(offset)};
}

} // namespace orvex::sync
