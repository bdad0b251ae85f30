#include "tiles/gettiles.hpp"

#include <array>
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

char spinner(std::int64_t step) {
    static constexpr std::array<char, 4> kSpin{'|', '\\', '|', '/'};
    return kSpin[static_cast<std::size_t>(step % 4)];
}

}  // namespace

// First-appearance numbering of grid keys: open addressing, grown at half load.
class TileNumbering::KeyTable {
public:
    KeyTable() : slots_(64) {}

    // The tile number of key, or 0 if the key is new (then `number` is stored).
    std::int32_t find_or_add(std::int64_t key, std::int32_t number) {
        if (2 * (used_ + 1) > slots_.size()) grow();
        std::size_t i = hash(key) & (slots_.size() - 1);
        for (;;) {
            Slot& s = slots_[i];
            if (s.tile == 0) {
                s = {key, number};
                ++used_;
                return 0;
            }
            if (s.key == key) return s.tile;
            i = (i + 1) & (slots_.size() - 1);
        }
    }

    [[nodiscard]] std::int32_t find(std::int64_t key) const {
        std::size_t i = hash(key) & (slots_.size() - 1);
        for (;;) {
            const Slot& s = slots_[i];
            if (s.tile == 0) return 0;
            if (s.key == key) return s.tile;
            i = (i + 1) & (slots_.size() - 1);
        }
    }

private:
    struct Slot {
        std::int64_t key = 0;
        std::int32_t tile = 0;  // 0: free
    };
    static std::size_t hash(std::int64_t key) {
        std::uint64_t h = static_cast<std::uint64_t>(key) * 0x9E3779B97F4A7C15ULL;
        return static_cast<std::size_t>(h ^ (h >> 29));
    }
    void grow() {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        used_ = 0;
        for (const Slot& s : old)
            if (s.tile != 0) (void)find_or_add(s.key, s.tile);
    }

    std::vector<Slot> slots_;
    std::size_t used_ = 0;
};

TileNumbering::TileNumbering(std::int64_t n, float xmin, float xmax, float ymin, float ts, float dx,
                             io::TextOut& console)
    : n_(n), table_(std::make_unique<KeyTable>()), console_(console) {
    const float h = 0.5F * dx;
    x0_ = xmin - h;
    y0_ = ymin - h;
    r_ = 1.0F / ts;
    nxt_ = trunc_index((xmax - x0_) / ts) + 2;
}

TileNumbering::~TileNumbering() = default;

std::int64_t TileNumbering::key(float x, float y) const {
    const std::int64_t ix = trunc_index((x - x0_) * r_);
    const std::int64_t iy = trunc_index((y - y0_) * r_);
    // Keys are ix + iy * nxt; the numbering depends only on which nodes share
    // a key, so the constant offset of the classic key is not needed.
    // Wrap-around arithmetic: only equality of keys matters.
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(ix) +
                                     static_cast<std::uint64_t>(iy) * static_cast<std::uint64_t>(nxt_));
}

std::int32_t TileNumbering::sweep(std::int64_t i, float x, float y) {
    const std::int64_t k = key(x, y);
    // Neighbouring nodes mostly share a tile: remember the last key.
    if (last_tile_ == 0 || k != last_key_) {
        const std::int32_t found = table_->find_or_add(k, ntiles_ + 1);
        last_tile_ = found != 0 ? found : ++ntiles_;
        last_key_ = k;
    }
    if (i % 50001 == 0) {
        spin_ = spinner(i / 50000);
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

std::int32_t TileNumbering::tile_of(float x, float y) const { return table_->find(key(x, y)); }

std::int32_t gettiles(std::int32_t n, const float* x, const float* y, float ts, float dx,
                      std::int32_t* itile, io::TextOut& console) {
    float xmin = n >= 1 ? x[1] : 0.0F, xmax = xmin, ymin = n >= 1 ? y[1] : 0.0F;
    for (std::int32_t i = 2; i <= n; ++i) {
        if (x[i] < xmin) xmin = x[i];
        if (x[i] > xmax) xmax = x[i];
        if (y[i] < ymin) ymin = y[i];
    }
    TileNumbering numbering(n, xmin, xmax, ymin, ts, dx, console);
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
