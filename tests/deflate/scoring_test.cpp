#include "deflate/scoring.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using krel::deflate::weight;
using krel::deflate::zval;

TEST(Weight, SlopeAndAreaFactorsAtTheirBounds) {
    struct Case { float a, c, want; const char* what; };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float c45 = std::sqrt(0.5F);
    const Case cases[] = {
        {4.0F, 1.0F, 2.0F, "flat: slope factor 1, area factor sqrt(4)"},
        {100.0F, 1.0F, 10.0F, "area factor sqrt(100)"},
        {0.5F, 1.0F, 1.0F, "area factor floored at 1"},
        {1.0F, c45, 1.0F * (c45 * c45), "45 degrees: c^2 = 0.5"},
        {1.0F, 0.5F, 0.25F, "60 degrees: c^2 = 0.25"},
        {1.0F, 0.3F, 0.25F, "steeper: floored at 0.25"},
        {nan, 1.0F, 1.0F, "NaN area factor falls back to 1"},
        {4.0F, nan, 0.5F, "NaN slope factor falls back to 0.25"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(weight(c.a, 0.5F, c.c), c.want);
    }
}

TEST(Zval, PlaneHeightNormalAndDegenerateTriangle) {
    float a = 0.0F, c = 0.0F;
    // Flat triangle at 5: every point gets 5, the normal is (0, 0, 2 * area).
    EXPECT_EQ(zval(0, 0, 5, 2, 0, 5, 0, 2, 5, 0.5F, 0.5F, a, c), 5.0F);
    EXPECT_EQ(a, 4.0F);
    EXPECT_EQ(c, 1.0F);
    // Inclined at 45 degrees along x: z = x, height at x = 1.5 is 1.5.
    EXPECT_EQ(zval(0, 0, 0, 2, 0, 2, 0, 2, 0, 1.5F, 0.25F, a, c), 1.5F);
    EXPECT_EQ(c * c, (4.0F / a) * (4.0F / a));
    // At each vertex the plane gives the vertex's own height.
    EXPECT_EQ(zval(0, 0, 1, 3, 0, 7, 0, 3, 4, 3, 0, a, c), 7.0F);
    EXPECT_EQ(zval(0, 0, 1, 3, 0, 7, 0, 3, 4, 0, 3, a, c), 4.0F);
    // No extent in plan (collinear in x and y): height 0, c = 1, a still set.
    EXPECT_EQ(zval(0, 0, 1, 1, 1, 2, 2, 2, 4, 5, 5, a, c), 0.0F);
    EXPECT_EQ(c, 1.0F);
    EXPECT_GT(a, 0.0F);
}

}  // namespace
