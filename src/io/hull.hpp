#pragma once
// The hull polygon: points outside it are not read. Vertices are held in
// absolute coordinates (the origin is still 0 when the hull is read), in file
// order, closed implicitly from the last vertex back to the first.

#include <cstdint>
#include <string>
#include <vector>

#include "io/fields.hpp"
#include "io/messages.hpp"
#include "io/textout.hpp"

namespace krel::io {

constexpr std::int32_t kHullCapacity = 1000;

struct Hull {
    std::int32_t nh = 0;                         // vertices held; the test is on only when nh > 2
    std::vector<float> xh = std::vector<float>(kHullCapacity + 1);  // 1-based vertex x
    std::vector<float> yh = std::vector<float>(kHullCapacity + 1);  // 1-based vertex y
    float xhmin = 0, xhmax = 0, yhmin = 0, yhmax = 0;  // box of vertices 1..nh

    [[nodiscard]] bool active() const { return nh > 2; }
};

// Reads vertex lines from src until the list ends (end of input, a blank line,
// a line whose first non-blank character is "/" or comes after "9", or a line
// from which two numbers cannot be read; only the first 64 characters of a
// line count). Stores up to nhmax vertices minus the origin, echoes each stored
// vertex to iout as "(2f12.2)", and raises one warning on iout when more come.
// Returns the number of vertices stored.
std::int32_t irpoly(std::int32_t nhmax, float* xh, float* yh, LineSource& src, TextOut& iout,
                    Tally& tally, double xorig, double yorig);

// 1 when (xp, yp) is inside the polygon of nh vertices (1-based arrays), else 0.
// Float arithmetic throughout: a crossing test of the segment to a reference
// point 10 units outside the box, strict on both sides, so a point exactly on
// an edge counts inside or outside depending on where that edge lies.
std::int32_t iipoly(const float* xh, const float* yh, std::int32_t nh, float xp, float yp);

// Reads the hull file `name` into hull (replacing what it held) and sets its
// box. The echo and the warning box go to iout. Throws IoError when the file
// cannot be read.
void read_hull(const std::string& name, Hull& hull, TextOut& iout, Tally& tally);

// Whether a point read from a file passes the hull (always true when the hull
// is off): the box first, then the polygon, on the coordinates rounded to float.
[[nodiscard]] bool inside_hull(const Hull& hull, double x, double y);

}  // namespace krel::io
