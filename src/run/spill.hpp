#pragma once
// Points kept on disk when they would need more memory than the run's budget:
// the load pass writes them to a temporary file, the tiles are numbered from
// it, and the points are then sorted into groups of consecutive tiles small
// enough for the budget, one file per group, each read back when its turn
// comes. The tiles, their nodes and the nodes' order are those of the run in
// memory, so the results are too.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "io/nodes.hpp"
#include "io/textout.hpp"

namespace krel {

// The points of one group of tiles, as the tile stages take them.
struct TileGroup {
    std::vector<float> x{0.0F}, y{0.0F}, z{0.0F};  // 1-based, the group's nodes in load order
    std::vector<std::int32_t> idx;                 // tile layout, positions 1..n
    std::vector<std::int64_t> start;               // tile t of the group at idx[start[t]+1 .. start[t+1]]
    std::int32_t first_tile = 0;                   // run number of the group's first tile
    std::int32_t tiles = 0;                        // tiles in the group
};

class Spill {
public:
    // Creates the temporary folder in $TMPDIR, else in `fallback_folder`;
    // registers it for removal on an interrupt. Throws io::IoError.
    explicit Spill(const std::string& fallback_folder);
    ~Spill();  // removes the folder and its files
    Spill(const Spill&) = delete;
    Spill& operator=(const Spill&) = delete;

    // Where the load pass stores (n, x, y, z).
    io::PointSink& sink();
    // After the load pass, for the store-as-loaded output: every stored point
    // in load order.
    void each_point(const std::function<void(float, float, float)>& take);
    // After the load pass: numbers the tiles as gettiles would (console:
    // its progress and ">Tiles" line), then sorts the points into groups of
    // at most `group_points` points (a tile larger than that is a group of
    // its own). Returns the tile count.
    std::int32_t tile(float ts, float dx, std::int64_t group_points, io::TextOut& console);
    [[nodiscard]] std::int32_t groups() const;
    // Reads group g (0-based) into `group`, reusing its capacity.
    void read_group(std::int32_t g, TileGroup& group);

    [[nodiscard]] const std::string& folder() const { return folder_; }

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string folder_;
    int cleanup_ = -1;
};

}  // namespace krel
