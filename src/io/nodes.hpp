#pragma once
// The run's node arrays: what the load pass stores and every later stage reads.

#include <cstdint>
#include <memory>

#include "io/huge_pages.hpp"

namespace krel::io {

// Where a load pass that does not keep its points in memory puts them: node
// n (1-based, in load order) with x and y relative to the origin. A node
// number given twice (the last slot overwritten) replaces the earlier values.
class PointSink {
public:
    virtual ~PointSink() = default;
    virtual void store(std::int64_t n, float x, float y, float z) = 0;
};

// All arrays are 1-based (entry 0 unused) with room for `capacity` nodes. x and
// y are relative to the origin, the absolute x and y of the first stored point;
// z is absolute. Twenty bytes per node in all.
struct NodeArrays {
    HugeArray<float> x, y, z;                // coordinates, 1..n
    HugeArray<std::int32_t> itile;           // tile number of each node, 1..n
    HugeArray<std::int32_t> idx;             // node numbers laid out tile by tile
    std::int32_t capacity = 0;               // nodes the arrays hold
    std::int32_t n = 0;                      // nodes stored by the load pass
    double xorig = 0.0, yorig = 0.0;         // origin of x and y
    PointSink* sink = nullptr;               // set: the load pass stores here, not in x, y, z
    // The five in one block: a run of a few hundred thousand points has them
    // on a 2 MiB page or two instead of five arrays of small pages.
    HugeArray<std::byte> block{nullptr, HugeDeleter{}};

    // Allocates the five arrays without throwing; false (and nothing held)
    // when any of them cannot be had.
    [[nodiscard]] bool allocate(std::int32_t cap);
    void release();
};

}  // namespace krel::io
