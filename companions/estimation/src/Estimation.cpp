// Estimation library: the parameter estimators (the total least squares
// line) over the small fixed-size vectors.
#include <orvex/companions/Estimation.h>

#include <cmath>
#include <cstddef>
#include <string>

Vector::Vector(int size, InitValueType init) : TVector<double>(size, init) {}

Vector::Vector(const Vector& other) = default;

Vector& Vector::operator=(const Vector& other) = default;

Vector::~Vector() = default;

Estimator::Estimator(int nbParams) : _params(nbParams, 0.0) {}

Estimator::~Estimator() = default;

void Estimator::setDataColl(const std::vector<Vector>& dataColl)
{
    _dataColl = dataColl;
}

bool Estimator::estim()
{
    Vector params(_params.size(), 0.0);
    const bool bFitted = computeParams(_dataColl, params);
    _params = params;
    return bFitted;
}

const Vector Estimator::getEstimParams() const
{
    return _params;
}

namespace {

constexpr int kNbLineParams = 2;
constexpr int kX = 0;
constexpr int kY = 1;

struct Moments {
    double meanX = 0.0;
    double meanY = 0.0;
    double sxx = 0.0; // centred second moments (sums, not averages)
    double syy = 0.0;
    double sxy = 0.0;
};

// Means in two passes: the second adds the mean residual, which recovers the
// rounding lost when summing large abscissas. Second moments are then taken
// about those means, never as sum(x*x) - n*mean*mean, which would cancel
// catastrophically for x near 3e9 and y varying by a few units.
Moments centredMoments(const std::vector<Vector>& points)
{
    const double n = static_cast<double>(points.size());
    Moments m;
    for (const Vector& p : points) {
        m.meanX += p[kX];
        m.meanY += p[kY];
    }
    m.meanX /= n;
    m.meanY /= n;

    double residualX = 0.0;
    double residualY = 0.0;
    for (const Vector& p : points) {
        residualX += p[kX] - m.meanX;
        residualY += p[kY] - m.meanY;
    }
    m.meanX += residualX / n;
    m.meanY += residualY / n;

    for (const Vector& p : points) {
        const double dx = p[kX] - m.meanX;
        const double dy = p[kY] - m.meanY;
        m.sxx += dx * dx;
        m.syy += dy * dy;
        m.sxy += dx * dy;
    }
    return m;
}

} // namespace

LineEstimator::LineEstimator() : Estimator(kNbLineParams) {}

LineEstimator::~LineEstimator() = default;

void LineEstimator::setDataColl(const std::vector<Vector>& dataColl)
{
    for (std::size_t i = 0; i < dataColl.size(); ++i) {
        if (dataColl[i].size() != 2)
            throw std::invalid_argument("LineEstimator: point " + std::to_string(i) + " has " +
                                        std::to_string(dataColl[i].size()) + " elements instead of 2");
    }
    Estimator::setDataColl(dataColl);
}

bool LineEstimator::computeParams(const std::vector<Vector>& dataColl, Vector& params) const
{
    if (dataColl.empty())
        return false;

    // A non-finite point, or sums that overflow, leave a moment non-finite.
    const Moments m = centredMoments(dataColl);
    if (!std::isfinite(m.meanX) || !std::isfinite(m.meanY) || !std::isfinite(m.sxx) ||
        !std::isfinite(m.syy) || !std::isfinite(m.sxy))
        return false;
    // No principal direction: every line through the centre fits equally
    // well. The horizontal one keeps the ordinate, which is what a caller
    // extrapolating y wants from a single point.
    if (dataColl.size() < 2 || (m.sxy == 0.0 && m.sxx == m.syy)) {
        params[1] = m.meanY;
        return false;
    }

    // The line's direction is the principal axis of the scatter; the half
    // angle form keeps full relative precision for slopes near 1e-6.
    const double theta = 0.5 * std::atan2(2.0 * m.sxy, m.sxx - m.syy);
    // The line passes through the centroid.
    const double rho = m.meanY * std::cos(theta) - m.meanX * std::sin(theta);

    params[0] = theta;
    params[1] = rho;
    return true;
}
