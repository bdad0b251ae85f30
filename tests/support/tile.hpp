#pragma once
// A tile's nodes as the run holds them: 1-based arrays (entry 0 unused),
// nodes numbered in the order they are added.

#include <cstdint>
#include <numeric>
#include <vector>

namespace krel::test {

struct Tile {
    std::vector<float> x{0.0F}, y{0.0F}, z{0.0F};

    void add(float px, float py, float pz) {
        x.push_back(px);
        y.push_back(py);
        z.push_back(pz);
    }
    [[nodiscard]] int size() const { return static_cast<int>(x.size()) - 1; }

    // Node numbers 1 .. size() in list order.
    [[nodiscard]] std::vector<std::int32_t> all() const {
        std::vector<std::int32_t> idx(static_cast<std::size_t>(size()));
        std::iota(idx.begin(), idx.end(), 1);
        return idx;
    }
};

}  // namespace krel::test
