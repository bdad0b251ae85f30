// The hull reader on one file, then the inside test at points taken from the
// polygon it read.
//
// Input: the hull file's bytes. The reader must hold at most 1000 vertices,
// echo one line per vertex held, and give a box that holds every vertex; the
// inside test answers 0 or 1, and 0 outside the box.

#include <cmath>
#include <cstdint>
#include <string>

#include "fuzz_support.hpp"
#include "io/hull.hpp"
#include "io/io_error.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace krel::io;
    const krel::fuzz::Scratch& dir = krel::fuzz::scratch();
    dir.clear();
    dir.write("h.txt", std::string_view(reinterpret_cast<const char*>(data), size));

    Hull hull;
    StringOut listing;
    Tally tally;
    try {
        read_hull(dir.file("h.txt"), hull, listing, tally);
    } catch (const IoError&) {
        return 0;
    }
    KREL_FUZZ_CHECK(hull.nh >= 0 && hull.nh <= kHullCapacity);
    std::size_t echoed = 0;
    for (const char c : listing.str())
        if (c == '\n') ++echoed;
    // One line per vertex held, and the warning box when more came.
    KREL_FUZZ_CHECK(echoed >= static_cast<std::size_t>(hull.nh));
    if (!hull.active()) return 0;

    const auto* xh = hull.xh.data();
    const auto* yh = hull.yh.data();
    for (std::int32_t i = 1; i <= hull.nh; ++i) {
        // Vertices that are numbers lie in the box (a NaN vertex cannot come
        // from the reader: it reads no "nan").
        KREL_FUZZ_CHECK(!std::isnan(xh[i]) && !std::isnan(yh[i]));
        KREL_FUZZ_CHECK(xh[i] >= hull.xhmin && xh[i] <= hull.xhmax);
        KREL_FUZZ_CHECK(yh[i] >= hull.yhmin && yh[i] <= hull.yhmax);
    }
    // Vertices, edge midpoints, the box's middle and points just outside it.
    auto probe = [&](float px, float py) {
        const std::int32_t in = iipoly(xh, yh, hull.nh, px, py);
        KREL_FUZZ_CHECK(in == 0 || in == 1);
        if (px < hull.xhmin || px > hull.xhmax || py < hull.yhmin || py > hull.yhmax) KREL_FUZZ_CHECK(in == 0);
        KREL_FUZZ_CHECK(inside_hull(hull, px, py) == (in == 1));
    };
    for (std::int32_t i = 1; i <= hull.nh; ++i) {
        const std::int32_t j = i == hull.nh ? 1 : i + 1;
        probe(xh[i], yh[i]);
        probe(xh[i] * 0.5F + xh[j] * 0.5F, yh[i] * 0.5F + yh[j] * 0.5F);
    }
    probe(hull.xhmin * 0.5F + hull.xhmax * 0.5F, hull.yhmin * 0.5F + hull.yhmax * 0.5F);
    probe(std::nextafter(hull.xhmin, -INFINITY), hull.yhmin);
    probe(hull.xhmax, std::nextafter(hull.yhmax, INFINITY));
    return 0;
}
