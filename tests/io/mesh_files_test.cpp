#include "io/mesh_files.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>


namespace {

using krel::io::OutputKind;

// Two triangles over a unit square, far from the origin, one z negative and
// one relative x that needs the origin's rounding.
struct Square {
    std::vector<float> x{0.0F, 1.0F, 1.0F, 0.25F}, y{0.0F, 0.0F, 1.0F, 1.0F}, z{10.0F, 11.0F, 12.5F, -0.25F};
    std::vector<std::array<std::int32_t, 3>> tris{{0, 1, 2}, {0, 2, 3}};
    krel::io::MeshView view() const { return {x, y, z, 612345.5, 5123456.0, tris}; }
};

std::string written(OutputKind kind, const krel::io::MeshView& v) {
    std::string s;
    krel::io::write_mesh(kind, v, [&](std::string_view b) { s += b; });
    return s;
}

TEST(MeshFiles, KindByExtension) {
    struct Case { const char* name; std::optional<OutputKind> want; };
    const Case cases[] = {
        {"a.ply", OutputKind::ply},     {"dir.x/a.OBJ", OutputKind::obj}, {"a.2dm", OutputKind::twodm},
        {"a.msh", OutputKind::msh},     {"a.xml", OutputKind::landxml},   {"a.Las", OutputKind::las},
        {"a.xyz", std::nullopt},        // the result's own kind
        {"ply", std::nullopt},          // no extension
        {"a.laz", std::nullopt},        // compressed: not written
        {"a.ply.bak", std::nullopt},    // the last extension counts
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(krel::io::output_kind(c.name), c.want);
    }
}

TEST(MeshFiles, HandCheckedText) {
    const Square sq;
    struct Case { OutputKind kind; const char* want; };
    const Case cases[] = {
        {OutputKind::obj,
         "# krel 3.12: 4 vertices, 2 triangles\n"
         "v 612345.500 5123456.000 10.000\nv 612346.500 5123456.000 11.000\n"
         "v 612346.500 5123457.000 12.500\nv 612345.750 5123457.000 -0.250\n"
         "f 1 2 3\nf 1 3 4\n"},
        {OutputKind::twodm,
         "MESH2D\nMESHNAME \"krel\"\nE3T 1 1 2 3 1\nE3T 2 1 3 4 1\n"
         "ND 1 612345.500 5123456.000 10.000\nND 2 612346.500 5123456.000 11.000\n"
         "ND 3 612346.500 5123457.000 12.500\nND 4 612345.750 5123457.000 -0.250\n"},
        {OutputKind::msh,
         "$MeshFormat\n2.2 0 8\n$EndMeshFormat\n$Nodes\n4\n"
         "1 612345.500 5123456.000 10.000\n2 612346.500 5123456.000 11.000\n"
         "3 612346.500 5123457.000 12.500\n4 612345.750 5123457.000 -0.250\n"
         "$EndNodes\n$Elements\n2\n1 2 2 1 1 1 2 3\n2 2 2 1 1 1 3 4\n$EndElements\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.kind));
        EXPECT_EQ(written(c.kind, sq.view()), c.want);
    }
    const std::string xml = written(OutputKind::landxml, sq.view());
    EXPECT_NE(xml.find("<P id=\"4\">5123457.000 612345.750 -0.250</P>"), std::string::npos);  // northing first
    EXPECT_NE(xml.find("<F>1 3 4</F>"), std::string::npos);
}

// PLY is binary: after the header come the doubles themselves and the
// faces, each a count of 3 and three ints. An empty mesh is still a file.
TEST(MeshFiles, PlyHoldsTheDoubles) {
    const Square sq;
    const krel::io::MeshView none{{}, {}, {}, 0.0, 0.0, {}};
    for (const bool empty : {false, true}) {
        const std::string ply = written(OutputKind::ply, empty ? none : sq.view());
        const std::size_t nv = empty ? 0 : 4, nf = empty ? 0 : 2;
        const std::string head = "ply\nformat binary_little_endian 1.0\n";
        ASSERT_EQ(ply.substr(0, head.size()), head);
        EXPECT_NE(ply.find("element vertex " + std::to_string(nv) + "\n"), std::string::npos);
        EXPECT_NE(ply.find("element face " + std::to_string(nf) + "\nproperty list uchar int vertex_indices\nend_header\n"),
                  std::string::npos);
        const std::size_t body = ply.find("end_header\n") + 11;
        ASSERT_EQ(ply.size(), body + nv * 24 + nf * 13);
        for (std::size_t i = 0; i < nv; ++i) {
            double p[3];
            std::memcpy(p, ply.data() + body + 24 * i, 24);
            EXPECT_EQ(p[0], static_cast<double>(sq.x[i]) + 612345.5);
            EXPECT_EQ(p[1], static_cast<double>(sq.y[i]) + 5123456.0);
            EXPECT_EQ(p[2], sq.z[i]);
        }
        for (std::size_t k = 0; k < nf; ++k) {
            const char* f = ply.data() + body + nv * 24 + 13 * k;
            std::int32_t t[3];
            std::memcpy(t, f + 1, 12);
            EXPECT_EQ(f[0], 3);
            EXPECT_EQ((std::array<std::int32_t, 3>{t[0], t[1], t[2]}), sq.tris[k]);
        }
    }
}

}  // namespace
