// The estimation library's fixed-size vectors.
#include <orvex/companions/Estimation.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

TEST(Vector, HoldsItsInitialValueAndRefusesIndexesOutsideItsSize)
{
    Vector v(2, 0);
    ASSERT_EQ(v.size(), 2);
    EXPECT_EQ(v[0], 0.0);
    EXPECT_EQ(v[1], 0.0);
    EXPECT_THROW(v[2], std::out_of_range);
    EXPECT_THROW(v[-1], std::out_of_range);
    const Vector& cv = v;
    EXPECT_THROW(cv[2], std::out_of_range);
    EXPECT_THROW(Vector(-1, 0), std::invalid_argument);
    EXPECT_EQ(Vector(0, 1.5).size(), 0);
}

TEST(Vector, CopiesAreIndependent)
{
    Vector a(2, 1.5);
    Vector b(a);
    b[0] = 7.0;
    EXPECT_EQ(a[0], 1.5);

    Vector c(5, 0);
    c = b;
    ASSERT_EQ(c.size(), 2);
    EXPECT_EQ(c[0], 7.0);
    c[1] = -3.0;
    EXPECT_EQ(b[1], 1.5);

    std::vector<Vector> points(3, Vector(2, 0));
    points[1][1] = 4.0;
    EXPECT_EQ(points[0][1], 0.0);
    EXPECT_EQ(points[2][1], 0.0);
}
