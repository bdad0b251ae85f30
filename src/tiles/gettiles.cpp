#include "tiles/gettiles.hpp"

#include <cmath>
#include <limits>
#include <string>

#include "io/fortran.hpp"

namespace krel::tiles {

namespace {

// Truncation toward zero that saturates instead of overflowing: grid indices
// of absurd coordinates (or a raster width near 0) stay defined and distinct
// from every real one.
std::int64_t trunc_index(float v) {
    if (std::isnan(v)) return std::numeric_limits<std::int64_t>::min();
    if (v >= 9.2e18F) return std::numeric_limits<std::int64_t>::max();
    if (v <= -9.2e18F) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(v);
}

}  // namespace

// First-appearance numbering of grid cells: open addressing, grown at half
// load. The cell itself is the key, so no two cells share a tile however far
// apart they lie.
class TileNumbering::KeyTable {
public:
    KeyTable() : slots_(64) {}

    // The tile number of cell c, or 0 if the cell is new (then `number` is
    // stored).
    std::int32_t find_or_add(Cell c, std::int32_t number) {
        if (2 * (used_ + 1) > slots_.size()) grow();
        std::size_t i = hash(c) & (slots_.size() - 1);
        for (;;) {
            Slot& s = slots_[i];
            if (s.tile == 0) {
                s = {c, number};
                ++used_;
                return 0;
            }
            if (s.cell == c) return s.tile;
            i = (i + 1) & (slots_.size() - 1);
        }
    }

    [[nodiscard]] std::int32_t find(Cell c) const {
        std::size_t i = hash(c) & (slots_.size() - 1);
        for (;;) {
            const Slot& s = slots_[i];
            if (s.tile == 0) return 0;
            if (s.cell == c) return s.tile;
            i = (i + 1) & (slots_.size() - 1);
        }
    }

private:
    struct Slot {
        Cell cell;
        std::int32_t tile = 0;  // 0: free
    };
    static std::size_t hash(Cell c) {
        const std::uint64_t h =
            (static_cast<std::uint64_t>(c.ix) + static_cast<std::uint64_t>(c.iy) * 0xC2B2AE3D27D4EB4FULL) *
            0x9E3779B97F4A7C15ULL;
        return static_cast<std::size_t>(h ^ (h >> 29));
    }
    void grow() {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        used_ = 0;
        for (const Slot& s : old)
            if (s.tile != 0) (void)find_or_add(s.cell, s.tile);
    }

    std::vector<Slot> slots_;
    std::size_t used_ = 0;
};

TileNumbering::TileNumbering(std::int64_t n, float xmin, float ymin, float ts, float dx, io::TextOut& console)
    : n_(n), table_(std::make_unique<KeyTable>()), console_(console) {
    const float h = 0.5F * dx;
    x0_ = xmin - h;
    y0_ = ymin - h;
    r_ = 1.0F / ts;
}

TileNumbering::~TileNumbering() = default;

// The classic key ix + iy * nxt + 100000, with nxt = trunc((xmax - x0) / ts)
// + 2 columns, is the same for two nodes exactly when their cells (ix, iy)
// are, as long as ix stays below nxt; so the cells are numbered directly,
// which stays exact where the key would overflow (coordinates of 1e21 once
// overflowed nxt, and a key that wrapped around merged distant cells).
TileNumbering::Cell TileNumbering::cell(float x, float y) const {
    return {trunc_index((x - x0_) * r_), trunc_index((y - y0_) * r_)};
}

std::int32_t TileNumbering::sweep(std::int64_t i, float x, float y) {
    const Cell c = cell(x, y);
    // Neighbouring nodes mostly share a tile: remember the last cell.
    if (last_tile_ == 0 || !(c == last_cell_)) {
        const std::int32_t found = table_->find_or_add(c, ntiles_ + 1);
        last_tile_ = found != 0 ? found : ++ntiles_;
        last_cell_ = c;
    }
    if (i % 50001 == 0) {
        spin_ = io::spinner(i / 50000);
        std::string text(1, spin_);
        text += ">tiles";
        text += io::format_i(static_cast<std::int64_t>(static_cast<float>(i) / static_cast<float>(n_) * 100.0F), 4);
        text += '%';
        console_.iimesg(io::format_a(text, 20));
    }
    return last_tile_;
}

std::int32_t TileNumbering::finish() {
    console_.iimesg(std::string(1, spin_));
    console_.line(">Tiles" + io::format_i(ntiles_, 4));
    return ntiles_;
}

std::int32_t TileNumbering::tile_of(float x, float y) const { return table_->find(cell(x, y)); }

std::int32_t gettiles(std::int32_t n, const float* x, const float* y, float ts, float dx,
                      std::int32_t* itile, io::TextOut& console) {
    float xmin = n >= 1 ? x[1] : 0.0F, ymin = n >= 1 ? y[1] : 0.0F;
    for (std::int32_t i = 2; i <= n; ++i) {
        if (x[i] < xmin) xmin = x[i];
        if (y[i] < ymin) ymin = y[i];
    }
    TileNumbering numbering(n, xmin, ymin, ts, dx, console);
    for (std::int32_t i = 1; i <= n; ++i) itile[i] = numbering.sweep(i, x[i], y[i]);
    return numbering.finish();
}

void collect_tiles(std::int32_t n, const std::int32_t* itile, std::int32_t ntiles, std::int32_t* idx,
                   std::vector<std::int64_t>& start) {
    start.assign(static_cast<std::size_t>(ntiles) + 2, 0);
    for (std::int32_t i = 1; i <= n; ++i) ++start[static_cast<std::size_t>(itile[i]) + 1];
    // start[t] becomes the count of nodes in tiles before t.
    start[1] = 0;
    for (std::int32_t t = 2; t <= ntiles + 1; ++t) start[t] += start[t - 1];
    std::vector<std::int64_t> fill(start.begin(), start.end());
    for (std::int32_t i = 1; i <= n; ++i) idx[++fill[static_cast<std::size_t>(itile[i])]] = i;
}

}  // namespace krel::tiles
