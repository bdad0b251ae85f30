#include "deflate/selection.hpp"

#include <bit>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace krel::deflate {

namespace {

// The first of the 16 values v[0..15] (never NaN) that is the largest: the
// scan's own rule, strictly greater wins, among entries in slot order.
std::size_t first_largest(const float* v) {
#if defined(__SSE2__)
    const __m128 a0 = _mm_loadu_ps(v);
    const __m128 a1 = _mm_loadu_ps(v + 4);
    const __m128 a2 = _mm_loadu_ps(v + 8);
    const __m128 a3 = _mm_loadu_ps(v + 12);
    __m128 m = _mm_max_ps(_mm_max_ps(a0, a1), _mm_max_ps(a2, a3));
    m = _mm_max_ps(m, _mm_shuffle_ps(m, m, _MM_SHUFFLE(1, 0, 3, 2)));
    m = _mm_max_ps(m, _mm_shuffle_ps(m, m, _MM_SHUFFLE(2, 3, 0, 1)));
    const int at = _mm_movemask_ps(_mm_cmpeq_ps(a0, m)) | _mm_movemask_ps(_mm_cmpeq_ps(a1, m)) << 4 |
                   _mm_movemask_ps(_mm_cmpeq_ps(a2, m)) << 8 | _mm_movemask_ps(_mm_cmpeq_ps(a3, m)) << 12;
    return static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(at)));
#else
    std::size_t best = 0;
    for (std::size_t i = 1; i < 16; ++i)
        if (v[i] > v[best]) best = i;
    return best;
#endif
}

// Lists entry e of a level's dirty list once, when `now` is set, without a
// jump on either.
void list_once(std::vector<std::uint32_t>& dirty, std::vector<std::uint8_t>& listed, std::size_t& ndirty,
               std::size_t e, bool now) {
    dirty[ndirty] = static_cast<std::uint32_t>(e);
    ndirty += static_cast<std::size_t>(now & (listed[e] == 0));
    listed[e] |= static_cast<std::uint8_t>(now);
}

std::size_t groups(std::size_t n) { return (n + 15) / 16; }

}  // namespace

void Selection::slot_group(std::size_t g) {
    const std::int32_t lo = first_ + static_cast<std::int32_t>(g << kShift);
    const std::int32_t count = last_ - lo + 1 < static_cast<std::int32_t>(kFan) ? last_ - lo + 1
                                                                                : static_cast<std::int32_t>(kFan);
    // The group's scores with NaNs (and the slots past last) as kNone,
    // below every score.
    float v[kFan];
#if defined(__SSE2__)
    if (count == static_cast<std::int32_t>(kFan)) {
        const __m128 none = _mm_set1_ps(kNone);
        for (std::size_t i = 0; i < kFan; i += 4) {
            const __m128 s = _mm_loadu_ps(dw_ + lo + static_cast<std::int32_t>(i));
            const __m128 number = _mm_cmpord_ps(s, s);
            _mm_storeu_ps(v + i, _mm_or_ps(_mm_and_ps(number, s), _mm_andnot_ps(number, none)));
        }
    } else
#endif
    {
        for (std::int32_t i = 0; i < static_cast<std::int32_t>(kFan); ++i) {
            const float s = i < count ? dw_[lo + i] : kNone;
            v[i] = std::isnan(s) ? kNone : s;
        }
    }
    const std::size_t i = first_largest(v);
    Level& l = levels_[0];
    l.v[g] = v[i];
    l.slot[g] = v[i] == kNone ? 0 : lo + static_cast<std::int32_t>(i);
}

void Selection::entry_group(std::size_t level, std::size_t g) {
    const Level& below = levels_[level - 1];
    const std::size_t i = (g << kShift) + first_largest(below.v.data() + (g << kShift));
    Level& l = levels_[level];
    l.v[g] = below.v[i];
    l.slot[g] = below.slot[i];
}

void Selection::build(const float* dw, std::int32_t first, std::int32_t last) {
    dw_ = dw;
    first_ = first;
    last_ = last;
    const std::size_t slots = last >= first ? static_cast<std::size_t>(last - first + 1) : 0;
    // Level 0 has an entry per group of slots, each further level one per
    // group of the level below, up to a single entry. assign() keeps the
    // capacity: no allocation after the largest tile.
    std::size_t n = groups(slots);
    std::size_t depth = 0;
    for (;;) {
        if (levels_.size() <= depth) levels_.emplace_back();
        Level& l = levels_[depth];
        l.n = n;
        // At least one group, so that an empty range still has entry 0.
        const std::size_t room = (n > kFan ? groups(n) : 1) * kFan;
        l.v.assign(room, kNone);
        l.slot.assign(room, 0);
        l.dirty.assign(n + 1, 0);
        l.listed.assign(n, 0);
        l.ndirty = 0;
        ++depth;
        if (n <= 1) break;
        n = groups(n);
    }
    levels_.resize(depth);
    groups_ = &levels_[0];
    rebuild();
}

void Selection::rebuild() {
    for (std::size_t g = 0; g < levels_[0].n; ++g) slot_group(g);
    for (std::size_t k = 1; k < levels_.size(); ++k)
        for (std::size_t g = 0; g < levels_[k].n; ++g) entry_group(k, g);
    Level& l = levels_[0];
    for (std::size_t i = 0; i < l.ndirty; ++i) l.listed[l.dirty[i]] = 0;
    l.ndirty = 0;
    best_ = levels_.back().slot[0];
}

void Selection::flush() {
    // Many changes at once (early in a tile a new node takes over a large
    // share of the points): one linear rebuild is cheaper than the paths.
    if (levels_[0].ndirty * 2 > levels_[0].n) {
        rebuild();
        return;
    }
    // Level by level: a group rescanned lists the entry above it when its
    // winner changed, so each entry of a path is rescanned once.
    const std::size_t depth = levels_.size();
    for (std::size_t k = 0; k < depth; ++k) {
        Level& l = levels_[k];
        for (std::size_t i = 0; i < l.ndirty; ++i) {
            const std::size_t g = l.dirty[i];
            l.listed[g] = 0;
            const float v = l.v[g];
            const std::int32_t slot = l.slot[g];
            if (k == 0) {
                slot_group(g);
            } else {
                entry_group(k, g);
            }
            if (k + 1 < depth) {
                Level& up = levels_[k + 1];
                list_once(up.dirty, up.listed, up.ndirty, g >> kShift, l.v[g] != v || l.slot[g] != slot);
            }
        }
        l.ndirty = 0;
    }
    best_ = levels_.back().slot[0];
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
