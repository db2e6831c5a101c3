// The least-squares fit of a slave's clock against the master's: drift and
// offset from the kept history.
#include <orvex/DriftEstimation.h>

#include "sync/CycleTime.h"
#include "sync/DriftEncoding.h"
#include "sync/MultiSyncUnit.h"

#include <orvex/Loggers.h>
#include <orvex/OrvexError.h>
#include <orvex/Tracer.h>
#include <orvex/Types.h>
#include <orvex/companions/Estimation.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace {

using orvex::kMultiSyncUnit;

constexpr double kWrap = nb_ticks_in_2_minutes_as_double;
constexpr double kTicksPerSecond = nb_ticks_in_1_second;
constexpr double kLargestTickCount = 4294967295.0;

bool isTickCount(double value)
{
    return value >= 0.0 && value <= kLargestTickCount; // false for NaN too
}

// Offsets are 32-bit on the cameras and on the 32-bit target; reading them
// through uint32_t gives the same wraps where unsigned long is wider.
uint32_t asOffset32(unsigned long offset)
{
    return static_cast<uint32_t>(offset);
}

// --- computeMasterAndSlaveDates ------------------------------------------------------------

struct SimultaneousDates {
    double key; // apparent master-minus-slave offset of the pair
    double masterDate;
    double slaveDate;
};

// A clock read in a row wraps at most once: the first decrease marks the
// wrap, and every reading from there on is lifted by one period.
std::vector<double> unwrappedOnce(std::vector<double> samples)
{
    for (std::size_t i = 1; i < samples.size(); ++i) {
        if (samples[i] < samples[i - 1]) {
            for (std::size_t j = i; j < samples.size(); ++j)
                samples[j] += kWrap;
            break;
        }
    }
    return samples;
}

double apparentOffset(double master, double slave)
{
    const double key = master - slave;
    return key < 0.0 ? key + kWrap : key;
}

// Each slave reading against the master interpolated between its two
// neighbours, then each inner master reading against the interpolated slave;
// sorted by apparent offset, pairs of equal offset in that order.
std::vector<SimultaneousDates> simultaneousDatesByOffset(const std::vector<double>& m,
                                                         const std::vector<double>& s)
{
    const std::size_t n = s.size();
    std::vector<SimultaneousDates> pairs;
    pairs.reserve(2 * n - 1);
    for (std::size_t i = 0; i < n; ++i) {
        const double masterDate = (m[i + 1] + m[i]) * 0.5;
        pairs.push_back({apparentOffset(masterDate, s[i]), masterDate, s[i]});
    }
    for (std::size_t i = 1; i < n; ++i) {
        const double slaveDate = (s[i - 1] + s[i]) * 0.5;
        pairs.push_back({apparentOffset(m[i], slaveDate), m[i], slaveDate});
    }
    std::stable_sort(pairs.begin(), pairs.end(),
                     [](const SimultaneousDates& a, const SimultaneousDates& b) { return a.key < b.key; });
    return pairs;
}

double belowWrap(double date)
{
    return date >= kWrap ? date - kWrap : date;
}

// --- pushOffsetInOffsetsByMasterDateColl ---------------------------------------------------

// The first date not before lastDate that is date plus whole wrap periods.
// Counts the periods instead of adding them one by one so that a history of
// absurd dates cannot keep the loop going.
double notBefore(double date, double lastDate)
{
    if (!(date < lastDate))
        return date;
    double periods = std::ceil((lastDate - date) / kWrap);
    if (periods > 1.0 && date + (periods - 1.0) * kWrap >= lastDate)
        periods -= 1.0;
    date += periods * kWrap;
    for (int i = 0; i < 2 && date < lastDate; ++i)
        date += kWrap;
    return date;
}

void addToEveryOffset(offsetsByMasterDate& coll, uint32_t amount)
{
    for (auto& element : coll)
        element.second = asOffset32(element.second) + amount; // modulo 2^32
}

// Keeps the sequence continuous when the new offset is more than half a
// period away from the previous one: the offset wrapped through zero.
uint32_t continuousOffset(uint32_t offset, offsetsByMasterDate& coll)
{
    const uint32_t lastOffset = asOffset32(coll.back().second);
    if (offset > lastOffset && offset - lastOffset > half_nb_ticks_in_2_minutes)
        addToEveryOffset(coll, nb_ticks_in_2_minutes); // wrapped downwards: lift the history
    else if (lastOffset > offset && lastOffset - offset > half_nb_ticks_in_2_minutes)
        offset += nb_ticks_in_2_minutes; // wrapped upwards: lift the new offset, modulo 2^32
    return offset;
}

// Once the front has moved past a wrap, the whole history can move back by
// whole periods; usually one.
void bringDatesBelowWrap(offsetsByMasterDate& coll)
{
    const double periods = std::floor(coll.front().first / kWrap);
    if (!(periods >= 1.0))
        return;
    for (auto& element : coll)
        element.first -= periods * kWrap;
    for (int i = 0; i < 2 && coll.front().first >= kWrap; ++i) {
        for (auto& element : coll)
            element.first -= kWrap;
    }
}

void bringOffsetsBelowWrap(offsetsByMasterDate& coll)
{
    const auto atOrAboveWrap = [](const offsetsByMasterDate::value_type& element) {
        return asOffset32(element.second) >= nb_ticks_in_2_minutes;
    };
    // One subtraction brings any 32-bit value below the period, so this runs at most once.
    while (std::all_of(coll.begin(), coll.end(), atOrAboveWrap)) {
        for (auto& element : coll)
            element.second = asOffset32(element.second) - nb_ticks_in_2_minutes;
    }
}

// --- computeDriftAndOffset -----------------------------------------------------------------

struct FittedLine {
    double slope;
    double intercept; // ordinate at master date 0
};

FittedLine fitOffsetsAgainstDates(const offsetsByMasterDate& coll)
{
    std::vector<Vector> points;
    points.reserve(coll.size());
    for (const auto& element : coll) {
        Vector& point = points.emplace_back(2, 0);
        point[0] = element.first;
        point[1] = static_cast<double>(asOffset32(element.second));
    }
    LineEstimator estimator;
    estimator.setDataColl(points);
    // Its result is not needed: a history without a direction (all points
    // equal) is reported as the horizontal line through them, drift 0.
    estimator.estim();
    const Vector params = estimator.getEstimParams();
    const double theta = params[0];
    const double rho = params[1];
    return {std::tan(theta), rho / std::cos(theta)};
}

} // namespace

using orvex::sync::encodedDrift;
using orvex::sync::truncatedIntoWrap;

void computeMasterAndSlaveDates(const std::vector<double>& masterSamples,
                                const std::vector<double>& slaveSamples, unsigned int nbSamplesToReject,
                                double& masterDate, double& slaveDate)
{
    if (masterSamples.size() != slaveSamples.size() + 1)
        ORVEX_THROW(kMultiSyncUnit,
                    "invalid samples sizes (should be: masterSamples.size() == slaveSamples().size()+1");
    const std::size_t nbPairs = slaveSamples.empty() ? 0 : 2 * slaveSamples.size() - 1;
    if (nbSamplesToReject >= nbPairs)
        ORVEX_THROW(kMultiSyncUnit, "nbSamplesToReject leaves no pair of samples to average");
    if (!std::all_of(masterSamples.begin(), masterSamples.end(), isTickCount) ||
        !std::all_of(slaveSamples.begin(), slaveSamples.end(), isTickCount))
        ORVEX_THROW(kMultiSyncUnit, "samples must be tick counts between 0 and 4294967295");

    const std::vector<SimultaneousDates> pairs =
        simultaneousDatesByOffset(unwrappedOnce(masterSamples), unwrappedOnce(slaveSamples));

    // Trimmed mean: a read slower than its neighbours moves the interpolated
    // instant, so its pairs sort to either end and are dropped here.
    const std::size_t nbAveraged = nbPairs - nbSamplesToReject;
    const auto first = pairs.begin() + nbSamplesToReject / 2;
    double masterSum = 0.0;
    double slaveSum = 0.0;
    for (auto it = first; it != first + static_cast<std::ptrdiff_t>(nbAveraged); ++it) {
        masterSum += it->masterDate;
        slaveSum += it->slaveDate;
    }
    const double scale = 1.0 / static_cast<double>(nbAveraged);
    masterDate = belowWrap(masterSum * scale);
    slaveDate = belowWrap(slaveSum * scale);
}

unsigned long computeOffset(unsigned long master, unsigned long slave)
{
    if (master >= nb_ticks_in_2_minutes)
        ORVEX_THROW(kMultiSyncUnit, "master is greater than nb_ticks_in_2_minutes");
    if (slave >= nb_ticks_in_2_minutes)
        ORVEX_THROW(kMultiSyncUnit, "slave is greater than nb_ticks_in_2_minutes");
    const uint32_t m = static_cast<uint32_t>(master);
    const uint32_t s = static_cast<uint32_t>(slave);
    return m >= s ? m - s : m - s + nb_ticks_in_2_minutes;
}

void pushOffsetInOffsetsByMasterDateColl(double masterDate, unsigned long offset,
                                         offsetsByMasterDate& offsetsByMasterDateColl, unsigned int maxSize)
{
    if (maxSize == 0)
        ORVEX_THROW(kMultiSyncUnit, "maxSize must be at least 1");
    if (!isTickCount(masterDate))
        ORVEX_THROW(kMultiSyncUnit, "masterDate must be a tick count between 0 and 4294967295");
    if (offset > std::numeric_limits<uint32_t>::max())
        ORVEX_THROW(kMultiSyncUnit, "offset does not fit in 32 bits");

    offsetsByMasterDate& coll = offsetsByMasterDateColl;
    uint32_t offset32 = static_cast<uint32_t>(offset);
    if (!coll.empty()) {
        masterDate = notBefore(masterDate, coll.back().first); // the master clock wrapped
        offset32 = continuousOffset(offset32, coll);
    }
    coll.emplace_back(masterDate, offset32);

    while (coll.size() > maxSize)
        coll.pop_front();
    bringDatesBelowWrap(coll);
    bringOffsetsBelowWrap(coll);
}

std::pair<unsigned long, unsigned long>
computeDriftAndOffset(const offsetsByMasterDate& offsetsByMasterDateColl, double ticksIntoSlaveSecond)
{
    Tracer tracer(isTracing() ? "computeDriftAndOffset(...)" : "", g_OrvexLogger, orvex::kLevelTrace);

    const offsetsByMasterDate& coll = offsetsByMasterDateColl;
    if (coll.size() < 2)
        ORVEX_THROW(kMultiSyncUnit, "collection offsetsByMasterDate contains less than 2 elements");

    const FittedLine line = fitOffsetsAgainstDates(coll);
    const double lastDate = coll.back().first;
    const double drift = kTicksPerSecond * line.slope;
    // The fitted offset at the slave clock's last whole second, plus the half
    // tick that makes the final truncation a rounding.
    const double offset = line.intercept + (lastDate - ticksIntoSlaveSecond) * line.slope + 0.5;
    if (!std::isfinite(drift) || !std::isfinite(offset))
        ORVEX_THROW(kMultiSyncUnit, "the fitted line gives no finite drift and offset");

    return {encodedDrift(drift), truncatedIntoWrap(offset)};
}
