#include "deflate/selection.hpp"

#include <cmath>

namespace krel::deflate {

Selection::Entry Selection::winner(const Entry& a, const Entry& b) {
    // a covers the lower slots: b wins only when strictly greater.
    if (a.slot == 0) return b;
    if (b.slot == 0) return a;
    return b.v > a.v ? b : a;
}

Selection::Entry Selection::block(std::size_t b) const {
    // The scan's own rule within the block: strictly greater wins, a NaN never.
    const std::int32_t lo = first_ + static_cast<std::int32_t>(b) * kBlock;
    const std::int32_t hi = lo + kBlock - 1 < last_ ? lo + kBlock - 1 : last_;
    Entry e;
    for (std::int32_t s = lo; s <= hi; ++s) {
        const float v = dw_[s];
        if (std::isnan(v)) continue;
        if (e.slot == 0 || v > e.v) e = {v, s};
    }
    return e;
}

void Selection::build(const float* dw, std::int32_t first, std::int32_t last) {
    dw_ = dw;
    first_ = first;
    last_ = last;
    const std::size_t count = last >= first ? static_cast<std::size_t>(last - first + kBlock) / kBlock : 0;
    leaves_ = 1;
    while (leaves_ < count) leaves_ *= 2;
    rebuild();
}

void Selection::rebuild() {
    // assign() keeps the capacity: no allocation after the largest tile.
    tree_.assign(2 * leaves_, Entry{});
    listed_.assign(leaves_, 0);
    const std::size_t blocks = last_ >= first_ ? static_cast<std::size_t>(last_ - first_ + kBlock) / kBlock : 0;
    for (std::size_t b = 0; b < blocks; ++b) tree_[leaves_ + b] = block(b);
    for (std::size_t i = leaves_ - 1; i >= 1; --i) tree_[i] = winner(tree_[2 * i], tree_[2 * i + 1]);
    dirty_.clear();
}

void Selection::flush() {
    // Many changes at once (early in a tile a new node takes over a large
    // share of the points): one linear rebuild is cheaper than the walks.
    if (dirty_.size() * 2 > leaves_) {
        rebuild();
        return;
    }
    for (const std::size_t b : dirty_) {
        listed_[b] = 0;
        std::size_t i = leaves_ + b;
        const Entry e = block(b);
        if (e.slot == tree_[i].slot && e.v == tree_[i].v) continue;
        tree_[i] = e;
        // Up to the root, or until a node comes out as it was: then everything
        // above it is unchanged too.
        for (i /= 2; i >= 1; i /= 2) {
            // Entries never hold a NaN: a plain compare tells an unchanged node.
            const Entry up = winner(tree_[2 * i], tree_[2 * i + 1]);
            if (up.slot == tree_[i].slot && up.v == tree_[i].v) break;
            tree_[i] = up;
        }
    }
    dirty_.clear();
}

std::int32_t select_by_scan(const float* dw, std::int32_t first, std::int32_t last, std::int32_t kmax) {
    float running = -1.0F;
    for (std::int32_t s = first; s <= last; ++s) {
        if (dw[s] > running) {
            running = dw[s];
            kmax = s;
        }
    }
    return kmax;
}

}  // namespace krel::deflate
