#pragma once
// Candidate scoring: how badly the current triangulated surface fits a point.
// dd is the signed vertical error (z minus the plane height under the point),
// dw the weighted error by which the greedy loop ranks candidates: a point
// under a large or gently inclined triangle comes before one with the same
// vertical error under a small or steep triangle.

#include <cstdint>

#include "tin/kernel_state.hpp"
#include "tin/trfind.hpp"

namespace krel::deflate {

struct DeflateWork;

constexpr float kAexp = 0.5F;             // area-weighting exponent
constexpr float kRejectedZ = -9999.0F;    // z of a point the loop rejected
constexpr float kRejectedBelow = -9998.0F;  // z below this marks a rejected point

// Height at (px, py) of the plane through the three vertices, differences
// taken from vertex 3. a: length of the normal (twice the triangle's area in
// space); c: |nz| / a, the cosine of the inclination. A triangle without
// extent in plan (nz = 0) gives 0 with c = 1; a is set in every case.
float zval(float x1, float y1, float z1, float x2, float y2, float z2, float x3, float y3, float z3, float px,
           float py, float& a, float& c);

// max(1, a^e) * max(0.25, c^2); a NaN factor falls back to its floor.
float weight(float a, float e, float c);

struct PointError {
    float dd;  // z minus the plane height (the point's own z under a triangle without extent in plan)
    float dw;  // (area factor * slope factor) * |dd|
};

// The error of slot p against the triangle (i1, i2, i3) that contains it:
// zval and weight, with the triangle's part kept in w.memo for later points.
[[nodiscard]] PointError point_error(DeflateWork& w, std::int32_t p, std::int32_t i1, std::int32_t i2,
                                     std::int32_t i3);

// Scores slots 1..nt against the starting triangulation of nnode nodes:
// nodes (lpro set) and points outside it get 0. Rebuilds the selection.
void initial_scoring(DeflateWork& w, std::int32_t nnode, tin::KernelState& kernel);

// Whether ctrfind from near[p] would now answer p's last location without
// a draw; t receives it. True for a last walk that was direct (see
// upcache): p's node's list has not changed since, or p would have been
// visited again. Under the checking mode the walk is made anyway.
[[nodiscard]] bool located_now(const DeflateWork& w, std::int32_t p, std::int32_t nnode,
                               const tin::KernelState& kernel, tin::Triple& t);

// Re-scores after kk became a node (the nearest-node sets already updated):
// kk itself gets 0, then every point of kk's set and of its neighbours' sets,
// in kk's list order, is located afresh and scored; a rejected point or one
// outside the triangulation gets 0. Other points keep their scores. A
// location or point error that provably gives what it gave last time is left
// out; under the checking mode (tin::skip_check) it is done anyway and any
// difference counted.
void upcache(DeflateWork& w, std::int32_t kk, std::int32_t nnode, tin::KernelState& kernel);

}  // namespace krel::deflate
