// The line estimator: exact lines recovered, vertical and flat ones
// represented, noisy points fitted, undetermined data refused.
#include <orvex/companions/Estimation.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

const double kPi = std::acos(-1.0);

Vector point(double x, double y)
{
    Vector p(2, 0);
    p[0] = x;
    p[1] = y;
    return p;
}

struct Fit {
    bool bOk;
    double theta;
    double rho;

    double slope() const { return std::tan(theta); }
    double intercept() const { return rho / std::cos(theta); }
    double yAt(double x) const { return x * slope() + intercept(); }
};

Fit fit(const std::vector<Vector>& points)
{
    LineEstimator estimator;
    estimator.setDataColl(points);
    const bool bOk = estimator.estim();
    const Vector params = estimator.getEstimParams();
    return {bOk, params[0], params[1]};
}

std::vector<Vector> exactLine(double slope, double intercept, double x0, double step, int n)
{
    std::vector<Vector> points;
    for (int i = 0; i < n; ++i) {
        const double x = x0 + step * i;
        points.push_back(point(x, slope * x + intercept));
    }
    return points;
}

struct ExactLineCase {
    const char* name;
    double slope;
    double intercept;
    double x0;
    double step;
};

class ExactLine : public ::testing::TestWithParam<ExactLineCase> {};

} // namespace

// Points exactly on a line give that line back: slope, intercept, and the
// ordinate at every point, to rounding.
TEST_P(ExactLine, IsRecoveredToRounding)
{
    const ExactLineCase& c = GetParam();
    const std::vector<Vector> points = exactLine(c.slope, c.intercept, c.x0, c.step, 100);
    const Fit f = fit(points);
    ASSERT_TRUE(f.bOk);
    EXPECT_GT(f.theta, -kPi / 2);
    EXPECT_LE(f.theta, kPi / 2);
    // The angle carries the precision: near the vertical, tan amplifies its
    // last-bit error by the slope.
    const double steepness = std::max(1.0, std::fabs(c.slope));
    EXPECT_NEAR(f.slope(), c.slope, 1e-12 * steepness * steepness);
    for (const Vector& p : points) {
        const double tolerance =
            1e-12 * steepness * std::max({1.0, std::fabs(p[1]), std::fabs(p[0] * c.slope)});
        EXPECT_NEAR(f.yAt(p[0]), p[1], tolerance) << "x = " << p[0];
    }
}

INSTANTIATE_TEST_SUITE_P(
    LineEstimator, ExactLine,
    ::testing::Values(ExactLineCase{"unitSlope", 1.0, 0.0, -50.0, 1.0},
                      ExactLineCase{"negativeSlope", -0.5, 12.0, 0.0, 0.25},
                      ExactLineCase{"steep", 1000.0, 7.0, -3.0, 0.01},
                      ExactLineCase{"steepDescending", -2.5e4, 1.0e6, 10.0, 0.5},
                      ExactLineCase{"horizontal", 0.0, 42.0, 0.0, 10.0},
                      // Clock histories: dates near the 128 s wrap, offsets near
                      // 3e9 that move by a few hundred ticks.
                      ExactLineCase{"billionsDrift200ppm", 2.0e-4, 3.0e9, 2.9e9, 2.4576e6},
                      ExactLineCase{"billionsDriftMinus1ppm", -1.0e-6, 1.2e9, 3.0e9, 2.4576e6}),
    [](const ::testing::TestParamInfo<ExactLineCase>& caseInfo) { return caseInfo.param.name; });

TEST(LineEstimator, HorizontalLineHasAngleZeroAndItsOrdinateAsDistance)
{
    const Fit f = fit(exactLine(0.0, 42.0, 1.0e9, 1.0e6, 10));
    ASSERT_TRUE(f.bOk);
    EXPECT_EQ(f.theta, 0.0);
    EXPECT_EQ(f.rho, 42.0);
}

TEST(LineEstimator, VerticalLineIsRepresented)
{
    std::vector<Vector> points;
    for (int i = 0; i < 10; ++i)
        points.push_back(point(7.0, i * 3.0 - 5.0));
    const Fit f = fit(points);
    ASSERT_TRUE(f.bOk);
    EXPECT_NEAR(std::fabs(f.theta), kPi / 2, 1e-15);
    // y cos(theta) - x sin(theta) = rho for every point of x = 7.
    for (const Vector& p : points)
        EXPECT_NEAR(p[1] * std::cos(f.theta) - p[0] * std::sin(f.theta), f.rho, 1e-12);
}

// A slope of 2^-30 (about 1e-9) over abscissas 3e9 with a spread of 1e5,
// every coordinate exactly representable: uncentred sums (sum of x*y near
// 6e20) would lose the slope entirely.
TEST(LineEstimator, NearlyFlatLineWithAbscissasInTheBillionsKeepsItsSlope)
{
    const double slope = std::ldexp(1.0, -30);
    std::vector<Vector> points;
    for (int i = 0; i < 100; ++i)
        points.push_back(point(3.0e9 + 1024.0 * i, 2.0e9 + std::ldexp(1.0, -20) * i));
    const Fit f = fit(points);
    ASSERT_TRUE(f.bOk);
    EXPECT_NEAR(f.slope(), slope, 1e-9 * slope);
    for (const Vector& p : points)
        EXPECT_NEAR(f.yAt(p[0]), p[1], 1e-6);
}

// Noise on both coordinates: perpendicular least squares stays unbiased
// where regressing y on x would flatten the slope, and swapping the axes
// mirrors the angle.
TEST(LineEstimator, NoisyPointsGiveTheTotalLeastSquaresLine)
{
    std::mt19937 rng(1234);
    std::normal_distribution<double> noise(0.0, 5.0);
    std::uniform_real_distribution<double> along(-20.0, 20.0);
    const double trueSlope = 1.0, trueIntercept = 100.0;
    std::vector<Vector> points, swapped;
    for (int i = 0; i < 4000; ++i) {
        const double x = along(rng);
        const double px = x + noise(rng);
        const double py = trueSlope * x + trueIntercept + noise(rng);
        points.push_back(point(px, py));
        swapped.push_back(point(py, px));
    }
    const Fit f = fit(points);
    ASSERT_TRUE(f.bOk);
    // Regression of y on x would give about 0.84 here.
    EXPECT_NEAR(f.slope(), trueSlope, 0.03);
    EXPECT_NEAR(f.intercept(), trueIntercept, 0.5);

    const Fit g = fit(swapped);
    ASSERT_TRUE(g.bOk);
    EXPECT_NEAR(f.theta + g.theta, kPi / 2, 1e-12);
}

TEST(LineEstimator, NoisyNearlyFlatClockHistoryStaysWithinItsStatisticalError)
{
    std::mt19937 rng(99);
    std::normal_distribution<double> noise(0.0, 30.0); // ticks
    const double slope = 8.0e-5, base = 2.9e9;
    std::vector<Vector> points;
    for (int i = 0; i < 100; ++i) {
        const double x = 3.0e9 + i * 2.4576e7;
        points.push_back(point(x, base + slope * (x - 3.0e9) + noise(rng)));
    }
    const Fit f = fit(points);
    ASSERT_TRUE(f.bOk);
    // Standard error of the slope: 30 / (2.4576e7 * sqrt(100 * 99 * 101 / 12)) ~ 4.2e-9.
    EXPECT_NEAR(f.slope(), slope, 2.5e-8);
    EXPECT_NEAR(f.yAt(3.0e9 + 50 * 2.4576e7), base + slope * 50 * 2.4576e7, 20.0);
}

// Points without a direction fall back to the horizontal line through their
// centroid, so that a caller extrapolating y still gets their ordinate;
// unusable numbers fall back to zeros. Either way the previous fit is gone.
TEST(LineEstimator, UndeterminedDataFailsAndReportsItsFallback)
{
    struct Case {
        const char* name;
        std::vector<Vector> points;
        double rho;
    };
    const std::vector<Case> cases = {
        {"no point", {}, 0.0},
        {"one point", {point(1, 2)}, 2.0},
        {"coincident points", {point(3e9, 5), point(3e9, 5), point(3e9, 5)}, 5.0},
        {"square corners", {point(0, 0), point(1, 0), point(0, 1), point(1, 1)}, 0.5},
        {"not a number", {point(0, 0), point(1, std::nan("")), point(2, 2)}, 0.0},
        {"infinite", {point(0, 0), point(HUGE_VAL, 1)}, 0.0},
        {"overflowing moments", {point(-1e200, 0), point(1e200, 1)}, 0.0},
    };
    for (const Case& c : cases) {
        LineEstimator estimator;
        estimator.setDataColl(exactLine(2.0, 1.0, 0.0, 1.0, 5));
        ASSERT_TRUE(estimator.estim());
        estimator.setDataColl(c.points);
        EXPECT_FALSE(estimator.estim()) << c.name;
        const Vector params = estimator.getEstimParams();
        ASSERT_EQ(params.size(), 2) << c.name;
        EXPECT_EQ(params[0], 0.0) << c.name;
        EXPECT_EQ(params[1], c.rho) << c.name;
    }
}

TEST(LineEstimator, RefusesPointsThatAreNotPairsAndKeepsItsData)
{
    LineEstimator estimator;
    const Vector before = estimator.getEstimParams();
    ASSERT_EQ(before.size(), 2);
    EXPECT_EQ(before[0], 0.0);

    estimator.setDataColl(exactLine(0.5, 3.0, 0.0, 1.0, 4));
    std::vector<Vector> bad = exactLine(1.0, 0.0, 0.0, 1.0, 3);
    bad.push_back(Vector(3, 0));
    EXPECT_THROW(estimator.setDataColl(bad), std::invalid_argument);

    ASSERT_TRUE(estimator.estim());
    const Vector params = estimator.getEstimParams();
    EXPECT_NEAR(std::tan(params[0]), 0.5, 1e-15);
}
