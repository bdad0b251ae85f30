#include "io/las_out.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "io/fortran.hpp"
#include "io/io_error.hpp"
#include "support/las_writer.hpp"
#include "support/las_reader.hpp"
#include "support/run_krel.hpp"

namespace {

struct Nodes {
    std::vector<float> x{0.0F, 12.345F, 0.0625F}, y{0.0F, 7.5F, 1000.0F}, z{101.125F, -2.5F, 3000.0F};
};

std::string las_bytes(const krel::io::LasFrame& f, const Nodes& n, double xo, double yo) {
    std::string s;
    krel::io::write_las(f, n.x, n.y, n.z, xo, yo, "t.las", [&](std::string_view b) { s += b; });
    return s;
}

// Without a LAS input: thousandths around the origin's whole metre, and the
// decoded values print as the result prints them, also a value halfway
// between two thousandths (x of node 3), which F.3 rounds to even.
TEST(LasOut, DefaultFrameGivesTheResultsDigits) {
    const Nodes n;
    const double xo = 2612345.0, yo = 1234567.5;
    const std::string bytes = las_bytes(krel::io::default_las_frame(xo, yo), n, xo, yo);
    ASSERT_EQ(krel::test::las_output_error(bytes), "");
    const auto r = krel::test::read_las(bytes);
    EXPECT_EQ(r.minor, 2);
    EXPECT_EQ(r.offset[0], 2612345.0);
    EXPECT_EQ(r.offset[1], 1234567.0);
    EXPECT_TRUE(r.vlrs.empty());
    ASSERT_EQ(r.points.size(), 3U);
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(krel::io::format_f(r.points[i][0], 12, 3), krel::io::format_f(static_cast<double>(n.x[i]) + xo, 12, 3));
        EXPECT_EQ(krel::io::format_f(r.points[i][1], 12, 3), krel::io::format_f(static_cast<double>(n.y[i]) + yo, 12, 3));
        EXPECT_EQ(krel::io::format_f(r.points[i][2], 9, 3), krel::io::format_f(n.z[i], 9, 3));
        EXPECT_EQ(r.classes[i], 2);
    }
    EXPECT_EQ(r.max[2], 3000.0);
    EXPECT_EQ(r.min[2], -2.5);
}

// With a LAS input: its version (1.4 stays 1.4), scale, offset, WKT bit and
// coordinate-system records; other records are not copied.
TEST(LasOut, FrameOfTheFirstLasInput) {
    krel::test::TempDir dir;
    for (std::uint8_t minor : {std::uint8_t{2}, std::uint8_t{4}}) {
        SCOPED_TRACE(static_cast<int>(minor));
        krel::test::LasShape shape;
        shape.minor = minor;
        shape.scale = {0.01, 0.01, 0.001};
        shape.offset = {600000.0, 5100000.0, 0.0};
        shape.vlrs = {"GEOKEYS", "not a system"};
        std::string file = krel::test::las_file(shape, {{100, 200, 300}});
        const std::size_t first = minor == 4 ? 375 : 227;
        std::memcpy(file.data() + first + 2, "LASF_Projection\0", 16);  // the first record only
        file[6] = 0x10;                                                // WKT
        krel::test::write_file(dir.path() / "in.las", file);
        const auto frame = krel::io::read_las_frame((dir.path() / "in.las").string());
        ASSERT_EQ(frame.vlrs.size(), 1U);
        const Nodes n;
        const std::string bytes = las_bytes(frame, n, 600001.0, 5100002.0);
        ASSERT_EQ(krel::test::las_output_error(bytes), "");
        const auto r = krel::test::read_las(bytes);
        EXPECT_EQ(r.minor, minor);
        EXPECT_EQ(r.global_encoding, minor == 4 ? 0x10 : 0);
        EXPECT_EQ(r.scale[0], 0.01);
        EXPECT_EQ(r.offset[1], 5100000.0);
        ASSERT_EQ(r.vlrs.size(), 1U);
        EXPECT_EQ(r.vlrs[0].substr(54), "GEOKEYS");
        EXPECT_NEAR(r.points[1][0], 600001.0 + 12.345, 0.0051);  // half a step of 0.01
    }
}

TEST(LasOut, NodeBeyondTheScaleIsAnError) {
    struct Case { float x; double xorig; const char* what; };
    const Case cases[] = {
        {3.0e6F, 0.0, "3000 km at a millimetre: beyond 2^31 steps"},
        {0.0F, 1.0e20, "an origin no 64-bit thousandth holds"},
        {3.0e38F, 0.0, "near the float range"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Nodes n;
        n.x[2] = c.x;
        EXPECT_THROW((void)las_bytes(krel::io::default_las_frame(c.xorig, 0.0), n, c.xorig, 0.0), krel::io::IoError);
    }
}

}  // namespace
