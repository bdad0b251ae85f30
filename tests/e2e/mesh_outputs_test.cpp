// The -w outputs end to end: every file read back by readers that are not
// krel's (when meshio is installed), the LAS file read back by krel, the same
// bytes for every thread count and memory budget, the classic outputs
// untouched. The refusals are golden cases (mesh_refused_*).

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "support/las_reader.hpp"
#include "support/run_krel.hpp"

namespace {

namespace fs = std::filesystem;
using krel::test::read_file;
using krel::test::run_krel;

const std::vector<std::string> kAllOutputs = {"-w", "m.ply", "-w", "m.obj", "-w", "m.2dm",
                                              "-w", "m.msh", "-w", "m.xml", "-w", "m.las"};

std::vector<std::string> with(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The result's nodes: x, y, z of each line (the plain layout).
std::vector<std::array<double, 3>> result_points(const fs::path& p) {
    std::istringstream in(read_file(p));
    std::vector<std::array<double, 3>> pts;
    std::array<double, 3> v{};
    while (in >> v[0] >> v[1] >> v[2]) pts.push_back(v);
    return pts;
}

TEST(MeshOutputs, EveryFileHoldsTheResultsNodes) {
    krel::test::TempDir dir;
    krel::test::write_terrain(dir.path() / "t.xyz", 30000, 1, 0.5);
    const auto o = run_krel(dir.path(), with({"t.xyz"}, kAllOutputs));
    ASSERT_EQ(o.status, 0) << o.err;
    const auto nodes = result_points(dir.path() / "out.xyz");
    ASSERT_GT(nodes.size(), 100U);

    // The LAS file: a sound header for its points (our own reader), which
    // krel reads back to the result's digits.
    ASSERT_EQ(krel::test::las_output_error(read_file(dir.path() / "m.las")), "");
    const auto a = run_krel(dir.path(), {"m.las", "-r", "-1", "-p", "from_las"});
    const auto b = run_krel(dir.path(), {"out.xyz", "-r", "-1", "-p", "from_xyz"});
    ASSERT_EQ(a.status, 0);
    ASSERT_EQ(b.status, 0);
    EXPECT_TRUE(read_file(dir.path() / "from_las.xyz") == read_file(dir.path() / "from_xyz.xyz"));

    // Read back by other readers (tests/e2e/mesh_check.py): the result's
    // nodes and the same triangles in every file, and as many as a Delaunay
    // triangulation without clipping has, 2n - 2 - hull nodes.
    if (std::system("/usr/bin/python3 -c 'import meshio' > /dev/null 2>&1") != 0) GTEST_SKIP() << "meshio not installed";
    const std::string cmd = "cd '" + dir.path().string() + "' && /usr/bin/python3 " KREL_SOURCE_DIR
                            "/tests/e2e/mesh_check.py out.xyz m.ply m.obj m.msh m.2dm m.xml > counts.out 2> counts.err"
                            " && grep '^m[.]' counts.out > counts.txt";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << read_file(dir.path() / "counts.err");
    const auto counts = krel::test::split_lines(read_file(dir.path() / "counts.txt"));
    ASSERT_EQ(counts.size(), 5U);
    const std::size_t triangles = std::stoul(counts[0].substr(counts[0].rfind(' ') + 1));
    EXPECT_GT(triangles, 2 * nodes.size() - 2 - nodes.size() / 10);
    EXPECT_LE(triangles, 2 * nodes.size() - 5);
}

// The outputs add their lines and files and change nothing else; their
// bytes are those of the serial run for every thread count and budget.
TEST(ThreadedMesh, SameBytesForThreadsAndBudgetClassicUnchanged) {
    krel::test::TempDir dir;
    krel::test::write_terrain(dir.path() / "t.xyz", 120000, 1, 1.0);  // four tiles; -m 1 holds 52,428 points
    const auto plain = run_krel(dir.path(), {"t.xyz", "-p", "plain"});
    ASSERT_EQ(plain.status, 0) << plain.err;
    const std::vector<std::string> files = {"m.ply", "m.obj", "m.2dm", "m.msh", "m.xml", "m.las", "out.fit.csv", "out.xyz", "out.err"};
    std::vector<std::string> want;
    const std::vector<std::vector<std::string>> runs = {{"-j", "1"}, {"-j", "3"}, {"-m", "1"}, {"-m", "1", "-j", "2"}};
    for (const auto& extra : runs) {
        SCOPED_TRACE(extra[0] + " " + extra[1] + (extra.size() > 2 ? " -j 2" : ""));
        const auto o = run_krel(dir.path(), with(with({"t.xyz", "-e", "25"}, kAllOutputs), extra));
        ASSERT_EQ(o.status, 0) << o.err;
        if (want.empty()) {
            for (const auto& f : files) want.push_back(read_file(dir.path() / f));
            EXPECT_TRUE(want[7] == read_file(dir.path() / "plain.xyz"));
            EXPECT_TRUE(want[8] == read_file(dir.path() / "plain.err"));
            // Console: the -e echo after the banner, the mesh line at the end.
            std::string out = o.out;
            const auto echo = out.find(" >longest edge [m] =    25.00\n");
            ASSERT_NE(echo, std::string::npos);
            out.erase(echo, 30);
            const auto mesh = out.rfind(" >mesh ");
            ASSERT_NE(mesh, std::string::npos);
            EXPECT_EQ(out.substr(0, mesh), plain.out);
            EXPECT_EQ(out.find('\n', mesh), out.size() - 1);
            EXPECT_NE(want[6].find("\n4,"), std::string::npos);  // a line per tile
            continue;
        }
        for (std::size_t i = 0; i < files.size(); ++i) EXPECT_TRUE(read_file(dir.path() / files[i]) == want[i]) << files[i];
    }
}

}  // namespace
