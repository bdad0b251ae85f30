#include "deflate/selection.hpp"

#include <bit>
#include <cmath>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace krel::deflate {

Selection::Entry Selection::winner(const Entry& a, const Entry& b) {
    // a covers the lower slots: b wins only when strictly greater. Chosen
    // without a jump: which one wins is as good as random.
    const bool take_b = b.slot != 0 && (a.slot == 0 || b.v > a.v);
    return {take_b ? b.v : a.v, take_b ? b.slot : a.slot};
}

Selection::Entry Selection::block(std::size_t b) const {
    // The scan's own rule within the block: strictly greater wins, a NaN
    // never. So the winner is the first slot holding the largest number.
    const std::int32_t lo = first_ + static_cast<std::int32_t>(b) * kBlock;
    const std::int32_t hi = lo + kBlock - 1 < last_ ? lo + kBlock - 1 : last_;
#if defined(__SSE2__)
    if (hi - lo + 1 == kBlock) {
        // Numbers of the block as they are, NaNs as -inf for the maximum;
        // a -inf that is a number is told apart by the ordered mask.
        const __m128 v0 = _mm_loadu_ps(dw_ + lo);
        const __m128 v1 = _mm_loadu_ps(dw_ + lo + 4);
        const __m128 n0 = _mm_cmpord_ps(v0, v0);
        const __m128 n1 = _mm_cmpord_ps(v1, v1);
        const int numbers = _mm_movemask_ps(n0) | _mm_movemask_ps(n1) << 4;
        if (numbers == 0) return {};
        const __m128 low = _mm_set1_ps(-std::numeric_limits<float>::infinity());
        const __m128 w0 = _mm_or_ps(_mm_and_ps(n0, v0), _mm_andnot_ps(n0, low));
        const __m128 w1 = _mm_or_ps(_mm_and_ps(n1, v1), _mm_andnot_ps(n1, low));
        __m128 m = _mm_max_ps(w0, w1);
        m = _mm_max_ps(m, _mm_shuffle_ps(m, m, _MM_SHUFFLE(1, 0, 3, 2)));
        m = _mm_max_ps(m, _mm_shuffle_ps(m, m, _MM_SHUFFLE(2, 3, 0, 1)));
        const int at = (_mm_movemask_ps(_mm_cmpeq_ps(v0, m)) | _mm_movemask_ps(_mm_cmpeq_ps(v1, m)) << 4) & numbers;
        const int i = std::countr_zero(static_cast<unsigned>(at));
        return {dw_[lo + i], lo + i};
    }
#endif
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
