#pragma once
// Nearest-node sets: for every point that is not (yet) a node, the node of
// the triangulation nearest to it, kept as one singly linked set per node.
//
// All arrays are 1-based, sized by the caller for every index in use:
//   near[i]  point i: the node it is attached to, 0 if none;
//            node j:  the first member of j's set, 0 if the set is empty;
//   next[i]  the member after i in the same set, 0 at the end;
//   ds[i]    point i: squared distance to near[i] (float).

#include <cstdint>

#include "tin/store.hpp"
#include "tin/trfind.hpp"

namespace krel::tin {

// Squared plan distance of nodes a and b in float, dx*dx first: a fused
// multiply-add or a wider intermediate moves the last bit, and ties between
// nodes then go elsewhere.
inline float squared_distance(const float* x, const float* y, std::int32_t a, std::int32_t b) {
    const float dx = x[a] - x[b];
    const float dy = y[a] - y[b];
    return dx * dx + dy * dy;
}
inline float squared_distance(const XY* xy, std::int32_t a, std::int32_t b) {
    const float dx = xy[a].x - xy[b].x;
    const float dy = xy[a].y - xy[b].y;
    return dx * dx + dy * dy;
}

// Takes kk out of the set it belongs to (that of near[kk]) and gives it an
// empty set of its own: near[kk] = 0. A kk attached to no node (near 0), or
// missing from its node's set, only gets near[kk] = 0.
void leave_near_set(std::int32_t kk, std::int32_t* near, std::int32_t* next);

// Moves to kk's set every member of a neighbour's set that is strictly closer
// to kk than to its node; a point at equal distance stays. Neighbours are
// visited in the order of kk's list, first to last; moved points are pushed
// at the front of kk's set. Expects kk in the store with its neighbours.
void take_nearer_points(std::int32_t kk, const float* x, const float* y, const Store& store, std::int32_t* near,
                        std::int32_t* next, float* ds);

// The update after point kk became a node: leave_near_set, then
// take_nearer_points. Each non-node point then again belongs to the set of
// its nearest node, provided the triangulation is Delaunay.
void cupdate(std::int32_t kk, const float* x, const float* y, const Store& store, std::int32_t* near,
             std::int32_t* next, float* ds);

// The same over coordinates kept as pairs (tin::XY): the same distances.
void cupdate(std::int32_t kk, const XY* xy, const Store& store, std::int32_t* near, std::int32_t* next, float* ds);

}  // namespace krel::tin
