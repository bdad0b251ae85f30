// The point reader on one file, explore pass then load pass.
//
// Input: four option bytes, then the file's bytes.
//   byte 0: the file name (".xyz" or ".node", so every layout can be reached)
//           and the thinning factor 1 to 4
//   byte 1: the column selection: none, or three digits 1 to 9 with byte 2
//   byte 2: the digits of the selection (with byte 1)
//   byte 3: the z range and the hull
// The load pass must store what the explore pass counted (all of it without
// thinning, never more than the capacity), with the first point at the origin.

#include <cmath>
#include <cstdint>
#include <string>

#include "fuzz_support.hpp"
#include "io/getpoints.hpp"
#include "io/hull.hpp"
#include "io/io_error.hpp"

namespace {

constexpr float kZ[] = {-9.0e20F, 9.0e20F, 0.0F, 1.0F, 2.5F, -5.0F, 100.0F, 1.0e10F};

// A few hulls as the hull reader holds them; the first two are inactive.
krel::io::Hull make_hull(int which) {
    krel::io::Hull h;
    auto add = [&](float x, float y) {
        ++h.nh;
        h.xh[static_cast<std::size_t>(h.nh)] = x;
        h.yh[static_cast<std::size_t>(h.nh)] = y;
    };
    switch (which) {
    case 1: add(0, 0), add(10, 10); break;
    case 2: add(0, 0), add(10, 0), add(10, 10), add(0, 10); break;
    case 3: add(-1e6F, -1e6F), add(1e6F, -1e6F), add(0, 1e6F); break;
    default: break;
    }
    if (h.nh > 0) {
        h.xhmin = h.xhmax = h.xh[1];
        h.yhmin = h.yhmax = h.yh[1];
        for (std::int32_t i = 2; i <= h.nh; ++i) {
            h.xhmin = std::fmin(h.xhmin, h.xh[static_cast<std::size_t>(i)]);
            h.xhmax = std::fmax(h.xhmax, h.xh[static_cast<std::size_t>(i)]);
            h.yhmin = std::fmin(h.yhmin, h.yh[static_cast<std::size_t>(i)]);
            h.yhmax = std::fmax(h.yhmax, h.yh[static_cast<std::size_t>(i)]);
        }
    }
    return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace krel::io;
    const krel::fuzz::Head head(data, size, 4);
    const krel::fuzz::Scratch& dir = krel::fuzz::scratch();
    dir.clear();
    const std::string leaf = (head.byte(0) & 1) != 0 ? "p.node" : "p.xyz";
    dir.write(leaf, head.rest());
    const std::string name = dir.file(leaf);

    ReadSettings s;
    s.files = {name};
    s.iskip = 1 + ((head.byte(0) >> 1) & 3);
    if ((head.byte(1) & 1) != 0) {
        s.ic1 = 1 + (head.byte(1) >> 1) % 9;
        s.ic2 = 1 + head.byte(2) % 9;
        s.ic3 = 1 + (head.byte(2) / 9) % 9;
        s.icolmax = std::max(s.ic1, std::max(s.ic2, s.ic3));
    }
    s.ztmin = head.pick(3, kZ);
    s.ztmax = kZ[(head.byte(3) >> 3) % 8];
    const Hull hull = make_hull((head.byte(3) >> 6) & 3);
    s.hull = hull.active() ? &hull : nullptr;
    if ((head.byte(1) & 2) != 0) s.classes = *parse_class_list("2,9");

    StringOut console, warnings;
    std::int64_t explored = 0;
    try {
        explored = getpoints(PassMode::explore, s, nullptr, console, warnings);
    } catch (const IoError&) {
        return 0;  // an empty file, a broken node count or LAS header
    }
    KREL_FUZZ_CHECK(explored >= 0);
    NodeArrays nodes;
    const auto capacity = static_cast<std::int32_t>(explored / s.iskip);
    KREL_FUZZ_CHECK(nodes.allocate(capacity));
    StringOut console2, warnings2;
    const std::int64_t loaded = getpoints(PassMode::load, s, &nodes, console2, warnings2);
    KREL_FUZZ_CHECK(loaded == nodes.n);
    KREL_FUZZ_CHECK(nodes.n <= capacity);
    if (s.iskip == 1) KREL_FUZZ_CHECK(nodes.n == explored, std::to_string(nodes.n) + " of " + std::to_string(explored));
    // Slot 1 holds the origin, also when a full array overwrote it.
    if (nodes.n >= 1) KREL_FUZZ_CHECK(nodes.x[1] == 0.0F && nodes.y[1] == 0.0F);
    for (std::int32_t i = 1; i <= nodes.n; ++i) {
        const float z = nodes.z[static_cast<std::size_t>(i)];
        KREL_FUZZ_CHECK(!(s.ztmin > z || z > s.ztmax));
    }
    return 0;
}
