#pragma once
// The tile partition: a square grid of tiles 400 raster cells wide, numbered
// in the order in which their first node occurs in the node arrays.

#include <cstdint>
#include <memory>
#include <vector>

#include "io/textout.hpp"

namespace krel::tiles {

// Gives every node 1..n its tile number in itile[1..n] (1-based arrays) and
// returns the tile count. ts is the tile width (400 * dx), dx the raster width
// (for the half-cell shift of the grid origin). Shows the sweep's progress and
// the ">Tiles" line on console. Linear in n for any number of tiles.
std::int32_t gettiles(std::int32_t n, const float* x, const float* y, float ts, float dx,
                      std::int32_t* itile, io::TextOut& console);

// The same numbering for nodes that are not all in memory: construct it with
// the smallest x and y of all n nodes (from node 1 on, as gettiles finds
// them), call
// sweep() for nodes 1..n in order, then finish(). After
// finish(), tile_of() gives the tile of any of the nodes again.
class TileNumbering {
public:
    TileNumbering(std::int64_t n, float xmin, float ymin, float ts, float dx, io::TextOut& console);
    ~TileNumbering();
    TileNumbering(const TileNumbering&) = delete;
    TileNumbering& operator=(const TileNumbering&) = delete;

    // Tile of node i (the next one in order); shows the sweep's progress.
    std::int32_t sweep(std::int64_t i, float x, float y);
    // Prints the last spinner and the ">Tiles" line; returns the tile count.
    std::int32_t finish();
    // Tile of a node already swept (0 for a grid cell no node was in).
    [[nodiscard]] std::int32_t tile_of(float x, float y) const;
    [[nodiscard]] std::int32_t tiles() const { return ntiles_; }

private:
    // A tile of the grid: column and row from the grid origin.
    struct Cell {
        std::int64_t ix = 0, iy = 0;
        bool operator==(const Cell&) const = default;
    };
    [[nodiscard]] Cell cell(float x, float y) const;

    class KeyTable;
    std::int64_t n_;
    float x0_, y0_, r_;
    std::unique_ptr<KeyTable> table_;
    Cell last_cell_;
    std::int32_t last_tile_ = 0;
    std::int32_t ntiles_ = 0;
    char spin_ = '|';
    io::TextOut& console_;
};

// Lays the nodes out tile by tile: idx[1..n] receives the node numbers of tile
// 1 in increasing order, then those of tile 2, and so on; start[t] (t = 1..ntiles)
// is the position in idx before tile t's first node, start[ntiles + 1] = n.
void collect_tiles(std::int32_t n, const std::int32_t* itile, std::int32_t ntiles, std::int32_t* idx,
                   std::vector<std::int64_t>& start);

}  // namespace krel::tiles
