#pragma once
// Both read passes over a set of files, in process: what the console and the
// warnings got, and the points the load pass stored.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "io/getpoints.hpp"

namespace krel::test {

struct Passes {
    std::int64_t explored = 0;
    std::string out;   // console of both passes
    std::string warn;  // warning lines
    std::vector<float> x, y, z;
    double xorig = 0, yorig = 0;
};

// `between` runs after the explore pass, before the node arrays are had.
inline Passes both_passes(const io::ReadSettings& rs, const std::function<void()>& between = {}) {
    Passes p;
    io::StringOut out, warn;
    p.explored = io::getpoints(io::PassMode::explore, rs, nullptr, out, warn);
    if (between) between();
    io::NodeArrays nodes;
    EXPECT_TRUE(nodes.allocate(static_cast<std::int32_t>(std::max<std::int64_t>(1, p.explored / rs.iskip))));
    (void)io::getpoints(io::PassMode::load, rs, &nodes, out, warn);
    p.x.assign(nodes.x.get() + 1, nodes.x.get() + 1 + nodes.n);
    p.y.assign(nodes.y.get() + 1, nodes.y.get() + 1 + nodes.n);
    p.z.assign(nodes.z.get() + 1, nodes.z.get() + 1 + nodes.n);
    p.xorig = nodes.xorig;
    p.yorig = nodes.yorig;
    p.out = out.str();
    p.warn = warn.str();
    return p;
}

}  // namespace krel::test
