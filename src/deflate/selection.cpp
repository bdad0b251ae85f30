#include "deflate/selection.hpp"

#include <cmath>

namespace krel::deflate {

Selection::Entry Selection::winner(const Entry& a, const Entry& b) {
    // a covers the lower slots: b wins only when strictly greater.
    if (a.slot == 0) return b;
    if (b.slot == 0) return a;
    return b.v > a.v ? b : a;
}

Selection::Entry Selection::leaf(std::int32_t slot) const {
    const float v = dw_[slot];
    return std::isnan(v) ? Entry{} : Entry{v, slot};  // a NaN never wins
}

void Selection::build(const float* dw, std::int32_t first, std::int32_t last) {
    dw_ = dw;
    first_ = first;
    last_ = last;
    const std::size_t count = last >= first ? static_cast<std::size_t>(last - first + 1) : 0;
    leaves_ = 1;
    while (leaves_ < count) leaves_ *= 2;
    rebuild();
}

void Selection::rebuild() {
    // assign() keeps the capacity: no allocation after the largest tile.
    tree_.assign(2 * leaves_, Entry{});
    for (std::int32_t s = first_; s <= last_; ++s) tree_[leaves_ + static_cast<std::size_t>(s - first_)] = leaf(s);
    for (std::size_t i = leaves_ - 1; i >= 1; --i) tree_[i] = winner(tree_[2 * i], tree_[2 * i + 1]);
    dirty_.clear();
}

void Selection::flush() {
    // Many changes at once (early in a tile a new node takes over a large
    // share of the points): one linear rebuild is cheaper than the walks.
    if (dirty_.size() * 4 > leaves_) {
        rebuild();
        return;
    }
    for (const std::int32_t slot : dirty_) {
        std::size_t i = leaves_ + static_cast<std::size_t>(slot - first_);
        tree_[i] = leaf(slot);
        // Up to the root, or until a node comes out as it was: then everything
        // above it is unchanged too.
        for (i /= 2; i >= 1; i /= 2) {
            const Entry e = winner(tree_[2 * i], tree_[2 * i + 1]);
            if (e.slot == tree_[i].slot && (e.v == tree_[i].v || (std::isnan(e.v) && std::isnan(tree_[i].v)))) break;
            tree_[i] = e;
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
