#include "support/check_tin.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <numeric>

#include "tin/store.hpp"

namespace krel::test {
namespace {

using testing::AssertionFailure;
using testing::AssertionResult;
using testing::AssertionSuccess;

// Float predicates misjudge orientations only within a few float rounding
// steps of zero; a real fault (a list in the wrong order) is far beyond this.
constexpr double kRelTolerance = 1e-6;

// Sign of the orientation of (a, b, p) in double: +1 left turn, -1 right,
// 0 when it is within float rounding of collinear.
int orientation(double ax, double ay, double bx, double by, double px, double py) {
    const double d1 = (bx - ax) * (py - ay);
    const double d2 = (by - ay) * (px - ax);
    const double tol = kRelTolerance * (std::fabs(d1) + std::fabs(d2));
    if (d1 - d2 > tol) return 1;
    if (d1 - d2 < -tol) return -1;
    return 0;
}

// Angle from direction (ux, uy) to (vx, vy), in (-pi, pi]. A turn within
// rounding of straight back is +pi: the flat triangle of a node linked in on
// a hull arc counts as a half turn, never as minus one.
double turn(double ux, double uy, double vx, double vy) {
    const double cross = ux * vy - uy * vx;
    const double dot = ux * vx + uy * vy;
    const double tol = kRelTolerance * (std::fabs(ux * vy) + std::fabs(uy * vx));
    return std::atan2(std::fabs(cross) <= tol ? 0.0 : cross, dot);
}

// The swap test compares sin12, which is sin(angle1 + angle2) times the four
// side lengths at in1 and in2, with the absolute swtol. Where that product is
// small (sides of a few centimetres) the tolerance stands for a large angle:
// the kernel then keeps non-Delaunay diagonals, and arcs later built next to
// them may fail the test too. Such quadrilaterals are not checked.
constexpr double kMaxAngleTolerance = 1e-3;  // radians

bool swap_test_meaningful(const float* x, const float* y, std::int32_t in1, std::int32_t in2, std::int32_t io1,
                          std::int32_t io2, float swtol) {
    const auto len = [&](std::int32_t a, std::int32_t b) {
        return std::hypot(static_cast<double>(x[a]) - x[b], static_cast<double>(y[a]) - y[b]);
    };
    const double sides = len(in1, io1) * len(in1, io2) * len(in2, io1) * len(in2, io2);
    return swtol <= kMaxAngleTolerance * sides;
}

class Checker {
public:
    Checker(const tin::Store& store, const float* x, const float* y, const std::int32_t* nodes, std::int32_t n)
        : s_(store), x_(x), y_(y), nodes_(nodes), n_(n) {}

    int orient(std::int32_t a, std::int32_t b, std::int32_t c) const {
        return orientation(x_[a], y_[a], x_[b], y_[b], x_[c], y_[c]);
    }
    int orient_p(std::int32_t a, std::int32_t b, float px, float py) const {
        return orientation(x_[a], y_[a], x_[b], y_[b], px, py);
    }
    bool boundary(std::int32_t k) const { return s_.list[s_.lend[k]] < 0; }
    std::int32_t first(std::int32_t k) const { return std::abs(s_.list[s_.lptr[s_.lend[k]]]); }
    std::int32_t last(std::int32_t k) const { return std::abs(s_.list[s_.lend[k]]); }

    // Node after b in a's list: 0 when b is the last of boundary node a, -1
    // when b is not a neighbour of a.
    std::int32_t after(std::int32_t a, std::int32_t b) const {
        const std::int32_t lpl = s_.lend[a];
        std::int32_t lp = lpl;
        do {
            lp = s_.lptr[lp];
            if (std::abs(s_.list[lp]) == b) {
                if (lp == lpl && s_.list[lp] < 0) return 0;
                return std::abs(s_.list[s_.lptr[lp]]);
            }
        } while (lp != lpl);
        return -1;
    }

    AssertionResult structure(std::vector<char>& member, std::int32_t& nb) const {
        const auto lnew = s_.lnew;
        if (lnew < 1 || lnew > static_cast<std::int32_t>(s_.list.size()))
            return AssertionFailure() << "lnew " << lnew << " outside the store";
        std::int32_t max_node = 0;
        for (std::int32_t m = 1; m <= n_; ++m) {
            const std::int32_t k = nodes_[m];
            if (k < 1 || k > s_.capacity()) return AssertionFailure() << "node list entry " << m << " = " << k;
            max_node = std::max(max_node, k);
        }
        member.assign(static_cast<std::size_t>(max_node) + 1, 0);
        for (std::int32_t m = 1; m <= n_; ++m) {
            if (member[nodes_[m]]) return AssertionFailure() << "node " << nodes_[m] << " listed twice";
            member[nodes_[m]] = 1;
        }
        const auto is_member = [&](std::int32_t j) {
            return j >= 1 && j < static_cast<std::int32_t>(member.size()) && member[j];
        };

        std::vector<std::int32_t> seen(member.size(), 0);
        nb = 0;
        for (std::int32_t m = 1; m <= n_; ++m) {
            const std::int32_t k = nodes_[m];
            const std::int32_t lpl = s_.lend[k];
            if (lpl < 1 || lpl >= lnew) return AssertionFailure() << "node " << k << ": lend " << lpl;
            std::int32_t lp = lpl;
            std::int32_t degree = 0;
            do {
                lp = s_.lptr[lp];
                if (lp < 1 || lp >= lnew) return AssertionFailure() << "node " << k << ": entry " << lp;
                const std::int32_t v = s_.list[lp];
                const std::int32_t j = std::abs(v);
                if (v < 0 && lp != lpl)
                    return AssertionFailure() << "node " << k << ": negative entry " << v << " before its last";
                if (!is_member(j) || j == k) return AssertionFailure() << "node " << k << ": neighbour " << v;
                if (seen[j] == k) return AssertionFailure() << "node " << k << ": neighbour " << j << " twice";
                seen[j] = k;
                if (++degree > n_) return AssertionFailure() << "node " << k << ": list not circular";
            } while (lp != lpl);
            if (degree < 2) return AssertionFailure() << "node " << k << ": " << degree << " neighbour(s)";
            if (boundary(k)) ++nb;
        }
        return AssertionSuccess();
    }

    AssertionResult arcs_and_triangles() const {
        for (std::int32_t m = 1; m <= n_; ++m) {
            const std::int32_t k = nodes_[m];
            const std::int32_t lpl = s_.lend[k];
            std::int32_t lp = lpl;
            double winding = 0.0;
            do {
                lp = s_.lptr[lp];
                const std::int32_t a = std::abs(s_.list[lp]);
                if (after(a, k) < 0) return AssertionFailure() << "arc " << k << "-" << a << " missing at " << a;
                if (lp == lpl && boundary(k)) break;  // last -> first is no triangle
                const std::int32_t b = std::abs(s_.list[s_.lptr[lp]]);
                if (orient(k, a, b) < 0)
                    return AssertionFailure() << "triangle (" << k << ", " << a << ", " << b << ") is clockwise";
                if (after(a, b) != k || after(b, k) != a)
                    return AssertionFailure() << "triangle (" << k << ", " << a << ", " << b << ") not seen from "
                                              << a << " and " << b;
                winding += turn(x_[a] - x_[k], y_[a] - y_[k], x_[b] - x_[k], y_[b] - y_[k]);
            } while (lp != lpl);
            const double full = 2.0 * std::numbers::pi;
            if (!boundary(k) && std::fabs(winding - full) > 1e-3)
                return AssertionFailure() << "interior node " << k << ": neighbours wind " << winding / full << " times";
            if (boundary(k) && winding > std::numbers::pi + 1e-3)
                return AssertionFailure() << "boundary node " << k << ": reflex hull angle " << winding;
        }
        return AssertionSuccess();
    }

    AssertionResult hull(std::int32_t nb) const {
        std::int32_t h0 = 0;
        for (std::int32_t m = 1; m <= n_ && h0 == 0; ++m)
            if (boundary(nodes_[m])) h0 = nodes_[m];
        if (h0 == 0) return AssertionFailure() << "no boundary node";
        std::int32_t h = h0;
        std::int32_t steps = 0;
        double turning = 0.0;
        do {
            const std::int32_t f = first(h);
            const std::int32_t p = last(h);
            if (!boundary(f)) return AssertionFailure() << "hull arc " << h << "->" << f << " ends at an interior node";
            if (last(f) != h) return AssertionFailure() << "hull arc " << h << "->" << f << ": " << f << " ends at " << last(f);
            if (orient(p, h, f) < 0) return AssertionFailure() << "hull not convex at " << h;
            turning += turn(x_[h] - x_[p], y_[h] - y_[p], x_[f] - x_[h], y_[f] - y_[h]);
            h = f;
            if (++steps > nb) return AssertionFailure() << "hull cycle from " << h0 << " longer than " << nb;
        } while (h != h0);
        if (steps != nb) return AssertionFailure() << "hull cycle of " << steps << " nodes, " << nb << " marked";
        if (std::fabs(turning - 2.0 * std::numbers::pi) > 1e-3)
            return AssertionFailure() << "hull turns " << turning << " radians";
        return AssertionSuccess();
    }

    AssertionResult delaunay(float swtol) const {
        for (std::int32_t m = 1; m <= n_; ++m) {
            const std::int32_t k = nodes_[m];
            const std::int32_t lpl = s_.lend[k];
            std::int32_t prev = lpl;
            std::int32_t lp = s_.lptr[lpl];
            do {
                const std::int32_t j = std::abs(s_.list[lp]);
                const bool has_left = !(boundary(k) && lp == lpl);               // (k, j, b)
                const bool has_right = !(boundary(k) && lp == s_.lptr[lpl]);     // (k, a, j)
                if (k < j && has_left && has_right) {
                    const std::int32_t b = std::abs(s_.list[s_.lptr[lp]]);
                    const std::int32_t a = std::abs(s_.list[prev]);
                    if (swap_test_meaningful(x_, y_, b, a, k, j, swtol) &&
                        (tin::swptst(b, a, k, j, x_, y_, swtol) || tin::swptst(a, b, j, k, x_, y_, swtol)))
                        return AssertionFailure() << "arc " << k << "-" << j << " fails the swap test (opposite "
                                                  << a << ", " << b << ")";
                }
                prev = lp;
                lp = s_.lptr[lp];
            } while (prev != lpl);
        }
        return AssertionSuccess();
    }

    const tin::Store& s_;
    const float* x_;
    const float* y_;
    const std::int32_t* nodes_;
    std::int32_t n_;
};

}  // namespace

AssertionResult check_tin(const tin::Store& store, const float* x, const float* y, const std::int32_t* nodes,
                          std::int32_t n, float swtol) {
    if (n < 3) return AssertionFailure() << n << " nodes";
    std::vector<std::int32_t> all;
    if (nodes == nullptr) {
        all.resize(static_cast<std::size_t>(n) + 1);
        std::iota(all.begin(), all.end(), 0);
        nodes = all.data();
    }
    const Checker c(store, x, y, nodes, n);
    std::vector<char> member;
    std::int32_t nb = 0;
    if (auto r = c.structure(member, nb); !r) return r;
    if (auto r = c.arcs_and_triangles(); !r) return r;
    if (auto r = c.hull(nb); !r) return r;
    if (store.lnew - 1 != 6 * n - 2 * nb - 6)
        return AssertionFailure() << "lnew " << store.lnew << " for " << n << " nodes, " << nb << " on the hull";
    return c.delaunay(swtol);
}

std::vector<std::int32_t> neighbours(const tin::Store& store, std::int32_t k) {
    std::vector<std::int32_t> out;
    const std::int32_t lpl = store.lend[k];
    std::int32_t lp = lpl;
    do {
        lp = store.lptr[lp];
        out.push_back(store.list[lp]);
    } while (lp != lpl && out.size() <= store.list.size());
    return out;
}

AssertionResult check_location(const tin::Store& store, const float* x, const float* y, const std::int32_t* nodes,
                               std::int32_t n, float px, float py, std::int32_t i1, std::int32_t i2,
                               std::int32_t i3) {
    struct Triple {
        std::int32_t i1 = 0, i2 = 0, i3 = 0;
    };
    const Triple t{i1, i2, i3};
    const Checker c(store, x, y, nodes, n);
    // Brute force: the triangles that contain P strictly (away from every
    // side by more than rounding).
    std::int32_t strict_count = 0;
    Triple strict;
    for (std::int32_t m = 1; m <= n; ++m) {
        const std::int32_t k = nodes[m];
        const std::int32_t lpl = store.lend[k];
        std::int32_t lp = lpl;
        do {
            lp = store.lptr[lp];
            if (lp == lpl && c.boundary(k)) break;
            const std::int32_t a = std::abs(store.list[lp]);
            const std::int32_t b = std::abs(store.list[store.lptr[lp]]);
            if (k > a || k > b) continue;  // each triangle once, from its lowest vertex
            if (c.orient_p(k, a, px, py) > 0 && c.orient_p(a, b, px, py) > 0 && c.orient_p(b, k, px, py) > 0) {
                ++strict_count;
                strict = {k, a, b};
            }
        } while (lp != lpl);
    }
    if (strict_count > 1) return AssertionFailure() << "triangles overlap at the query point";

    if (t.i1 == 0) return AssertionFailure() << "not located (0, 0, 0)";
    if (t.i3 != 0) {
        if (c.after(t.i1, t.i2) != t.i3)
            return AssertionFailure() << "(" << t.i1 << ", " << t.i2 << ", " << t.i3 << ") is no triangle";
        if (c.orient_p(t.i1, t.i2, px, py) < 0 || c.orient_p(t.i2, t.i3, px, py) < 0 ||
            c.orient_p(t.i3, t.i1, px, py) < 0)
            return AssertionFailure() << "(" << t.i1 << ", " << t.i2 << ", " << t.i3 << ") does not contain the point"
                                      << (strict_count ? "" : " (brute force finds none either)");
        return AssertionSuccess();
    }
    if (strict_count == 1)
        return AssertionFailure() << "answered outside, but (" << strict.i1 << ", " << strict.i2 << ", " << strict.i3
                                  << ") contains the point";
    if (!c.boundary(t.i1) || !c.boundary(t.i2))
        return AssertionFailure() << "outside answer " << t.i1 << ", " << t.i2 << " not on the hull";
    // The chain i2 -> ... -> i1 counterclockwise: P right of each arc; the
    // arcs on either side of it do not face P.
    std::int32_t h = t.i2;
    for (std::int32_t steps = 0; h != t.i1; ++steps) {
        const std::int32_t f = c.first(h);
        if (c.orient_p(h, f, px, py) > 0)
            return AssertionFailure() << "hull arc " << h << "->" << f << " in the visible chain does not face the point";
        if (steps > n) return AssertionFailure() << "visible chain does not reach " << t.i1;
        h = f;
    }
    if (c.orient_p(c.last(t.i2), t.i2, px, py) < 0)
        return AssertionFailure() << "hull arc " << c.last(t.i2) << "->" << t.i2 << " also faces the point";
    if (c.orient_p(t.i1, c.first(t.i1), px, py) < 0)
        return AssertionFailure() << "hull arc " << t.i1 << "->" << c.first(t.i1) << " also faces the point";
    return AssertionSuccess();
}

}  // namespace krel::test
