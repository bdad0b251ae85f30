#include "deflate/scoring.hpp"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstdlib>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "deflate/sdeflate.hpp"
#include "tin/test_seam.hpp"
#include "tin/trfind.hpp"

namespace krel::deflate {

float zval(float x1, float y1, float z1, float x2, float y2, float z2, float x3, float y3, float z3, float px,
           float py, float& a, float& c) {
    const float dx1 = x1 - x3;
    const float dy1 = y1 - y3;
    const float dz1 = z1 - z3;
    const float dx2 = x2 - x3;
    const float dy2 = y2 - y3;
    const float dz2 = z2 - z3;
    const float nx = dy1 * dz2 - dz1 * dy2;
    const float ny = dz1 * dx2 - dz2 * dx1;
    const float nz = dx1 * dy2 - dy1 * dx2;
    a = std::sqrt((nx * nx + ny * ny) + nz * nz);
    if (nz == 0.0F) {
        c = 1.0F;
        return 0.0F;
    }
    c = std::fabs(nz) / a;
    const float ex = px - x3;
    const float ey = py - y3;
    const float alpha = (dy2 * ex - dx2 * ey) / nz;
    const float beta = (dx1 * ey - ex * dy1) / nz;
    return z3 * ((1.0F - alpha) - beta) + (z1 * alpha + z2 * beta);
}

float weight(float a, float e, float c) {
    float s = c * c;
    if (s < 0.25F || std::isnan(s)) s = 0.25F;  // discount capped at 60 degrees
    // With e > 0 and a at most 1 (or NaN), a^e is at most 1 (a faithfully
    // rounded power cannot pass 1, the next float up) or NaN, which the floor
    // below makes 1 either way: the power is taken only where it can count.
    float w = e > 0.0F && !(a > 1.0F) ? 1.0F : std::pow(a, e);
    if (w < 1.0F || std::isnan(w)) w = 1.0F;
    return w * s;
}

namespace {

// zval's steps 2 and 3 and weight, from step 1's differences of vertices 1
// and 2 from vertex 3: the normal's z (nz) and the factor of the errors.
[[gnu::always_inline]] inline float triangle_factor(float dx1, float dy1, float dz1, float dx2, float dy2, float dz2, float& nz) {
    const float nx = dy1 * dz2 - dz1 * dy2;
    const float ny = dz1 * dx2 - dz2 * dx1;
    nz = dx1 * dy2 - dy1 * dx2;
    const float a = std::sqrt((nx * nx + ny * ny) + nz * nz);
    const float c = nz == 0.0F ? 1.0F : std::fabs(nz) / a;
    return weight(a, kAexp, c);
}

// zval's steps 1 to 3 and weight for triangle (i1, i2, i3): everything of a
// point's error that depends on the triangle alone.
DeflateWork::TriangleFit fit_triangle(const DeflateWork& w, std::int32_t i1, std::int32_t i2, std::int32_t i3) {
    const tin::XY v1 = w.xy[static_cast<std::size_t>(i1)];
    const tin::XY v2 = w.xy[static_cast<std::size_t>(i2)];
    const tin::XY v3 = w.xy[static_cast<std::size_t>(i3)];
    DeflateWork::TriangleFit m{i1, i2, i3, v1.x - v3.x, v1.y - v3.y, v2.x - v3.x, v2.y - v3.y, 0.0F, 0.0F,
                               v3.x, v3.y, w.z[static_cast<std::size_t>(i1)], w.z[static_cast<std::size_t>(i2)],
                               w.z[static_cast<std::size_t>(i3)]};
    m.factor = triangle_factor(m.dx1, m.dy1, m.z1 - m.z3, m.dx2, m.dy2, m.z2 - m.z3, m.nz);
    return m;
}

// The rest of zval (steps 5 and 6) and the weighted error, for a point at p
// with height pz in the fitted triangle.
PointError fit_error(const DeflateWork::TriangleFit& m, tin::XY p, float pz) {
    float h = 0.0F;  // no extent in plan: the plane height is taken as 0
    if (m.nz != 0.0F) {
        const float ex = p.x - m.x3;
        const float ey = p.y - m.y3;
        const float alpha = (m.dy2 * ex - m.dx2 * ey) / m.nz;
        const float beta = (m.dx1 * ey - ex * m.dy1) / m.nz;
        h = m.z3 * ((1.0F - alpha) - beta) + (m.z1 * alpha + m.z2 * beta);
    }
    const float dd = pz - h;
    return {dd, m.factor * std::fabs(dd)};
}

}  // namespace

PointError point_error(DeflateWork& w, std::int32_t p, std::int32_t i1, std::int32_t i2, std::int32_t i3) {
    DeflateWork::TriangleFit& m = w.memo[static_cast<std::uint32_t>(i1 + 3 * i2 + 5 * i3) % DeflateWork::kMemo];
    if (m.i1 != i1 || m.i2 != i2 || m.i3 != i3) m = fit_triangle(w, i1, i2, i3);
    return fit_error(m, w.xy[static_cast<std::size_t>(p)], w.z[static_cast<std::size_t>(p)]);
}

void initial_scoring(DeflateWork& w, std::int32_t nnode, tin::KernelState& kernel) {
    const std::int32_t nt = w.nt;
    for (std::int32_t s = 1; s <= nt; ++s) {
        w.dd[s] = 0.0F;
        w.dw[s] = 0.0F;
        w.walk[s] = {};
        if (w.lpro[s] != 0) continue;
        tin::WalkInfo info;
        tin::Triple t;
        tin::ctrfind(w.near[s], w.xy[s].x, w.xy[s].y, nnode, w.xy.data(), w.store, w.inx.data(), kernel, info, t);
        w.walk[s] = {t.i1, t.i2, t.i3, info.nl, info.na};
        if (t.i3 == 0) continue;
        const PointError e = point_error(w, s, t.i1, t.i2, t.i3);
        w.dd[s] = e.dd;
        w.dw[s] = e.dw;
    }
    w.select.build(w.dw.data(), 5, nt);
}

namespace {

// What walk_unchanged and walk_in_star need of the list of n0, the node
// whose set is visited.
// The pointers are w's own, taken once per set: stores to the slot arrays
// could otherwise alias w's members and have them read again every time.
struct OwnerList {
    std::int32_t n0 = 0;
    std::int32_t kk = 0;     // the node just inserted
    std::int32_t nl = 0;     // the value at lend[n0]; 0 when n0 has no list
    std::int32_t kk_at = 0;  // kk's first place in w.ring, 1-based; past the end when absent
    tin::XY n0_xy{}, kk_xy{};  // coordinates of n0 and kk, for the walk's test of kk
    std::size_t m = 0;                    // w.ring.m
    const std::int32_t* v = nullptr;      // w.ring.v
    const tin::XY* v_xy = nullptr;        // w.ring.xy
    const float* dx = nullptr;            // w.ring.dx
    const float* dy = nullptr;            // w.ring.dy
    const std::int32_t* pos = nullptr;    // w.ring_pos
    float z0 = 0.0F;                      // z of n0
};

constexpr std::size_t kCleared = 8;  // ring entries forget_owner clears whatever the length

// Reads n0's list into w.ring and w.ring_pos. Inlined into the set visit:
// as a call it cost autzen_trim 1 to 2 %.
[[gnu::always_inline]] inline OwnerList read_owner(DeflateWork& w, std::int32_t n0, std::int32_t kk) {
    const tin::Store& st = w.store;
    DeflateWork::Ring& r = w.ring;
    OwnerList o;
    o.n0 = n0;
    o.kk = kk;
    o.n0_xy = w.xy[static_cast<std::size_t>(n0)];
    o.kk_xy = w.xy[static_cast<std::size_t>(kk)];
    o.z0 = w.z[static_cast<std::size_t>(n0)];
    r.m = 0;
    r.wedge_made = 0;
    std::fill_n(r.v.data(), kCleared, 0);  // see forget_owner
    const std::int32_t lpl = st.lend[n0];
    if (lpl == 0) return o;
    o.nl = st.list[lpl];
    std::int32_t lp = lpl;
    std::size_t m = 0;
    do {
        lp = st.lptr[lp];
        const std::int32_t v = st.list[lp];
        if (m == r.v.size()) r.grow(m + 1);
        const tin::XY v_xy = w.xy[static_cast<std::size_t>(std::abs(v))];
        r.v[m] = v;
        r.xy[m] = v_xy;
        r.dx[m] = v_xy.x - o.n0_xy.x;
        r.dy[m] = v_xy.y - o.n0_xy.y;
        ++m;
        if (v > 0 && w.ring_pos[static_cast<std::size_t>(v)] == 0)
            w.ring_pos[static_cast<std::size_t>(v)] = static_cast<std::int32_t>(m);
    } while (lp != lpl);
    r.m = m;
    o.kk_at = w.ring_pos[static_cast<std::size_t>(kk)];
    if (o.kk_at == 0) o.kk_at = static_cast<std::int32_t>(m) + 1;
    o.m = m;
    o.v = r.v.data();
    o.v_xy = r.xy.data();
    o.dx = r.dx.data();
    o.dy = r.dy.data();
    o.pos = w.ring_pos.data();
    return o;
}

// Leaves ring_pos all 0 for the next set. A list is mostly no longer than
// kCleared, and so many entries are cleared without a test of the length,
// read_owner having put 0 in those past the list. Clearing an entry that is
// 0 already (a hull neighbour's, slot 0's) changes nothing.
void forget_owner(DeflateWork& w) {
    const std::int32_t* const v = w.ring.v.data();
    std::int32_t* const pos = w.ring_pos.data();
    for (std::size_t i = 0; i < kCleared; ++i) pos[static_cast<std::size_t>(std::abs(v[i]))] = 0;
    for (std::size_t i = kCleared; i < w.ring.m; ++i) pos[static_cast<std::size_t>(std::abs(v[i]))] = 0;
}

// Whether ctrfind from n0 = near[p] would now repeat p's last walk c step for
// step, up to the new list, right after kk was inserted; na receives what
// the walk would now report as its na.
//
// A direct walk (tin::WalkInfo) from n0 read nothing but nl, the value at
// lend[n0], and n0's neighbours from the first one (after lend) up to c.i2,
// comparing each with nl and testing L(v): P on or left of n0->v (at a hull
// node also P on or left of nl->n0), plus coordinates, which do not change
// within a tile; it drew nothing. Since that walk n0's list has changed at
// most by kk's insertion: a list changes only when its node becomes a
// neighbour of the new node, and then every point attached to that node is
// visited; a point never returns to a node it left (near only moves to a new
// node); and a skip leaves c describing the walk on the current list. The
// insertion (intadd, then swaps, each leaving a triangulation whose
// triangles without kk are old ones) turns n0's circular list into the old
// one with one run R of consecutive neighbours, possibly empty, replaced by
// kk, and moves lend only off a neighbour it removes. So lend still holding nl means nl is still
// last, the list reads (prefix, kk, rest) where it read (prefix, R, rest),
// and a neighbour missing now was in R. Everything below also asks that
// c.i2 still follows c.i1: their triangle is still there.
//
// kk after c.i1 (or absent): the walk reads the same nl and the same
// neighbours in the same order up to c.i2: had R or kk's place lain among
// them, kk would be among them, or be the first neighbour (kk right after
// nl). The same reads give the same tests and the same answer; na stays.
//
// kk before c.i1: the walk's answer follows from the L values in reading
// order (WalkInfo): none true before nl gives (nl, first); otherwise from
// the first true one, na, the trues run on to i1, and i2 is false (or the
// trues reach nl, and then the first neighbour, false, gives (nl, first)).
// The old walk had, in old reading order, false before na and true from na
// to c.i1, c.i1 lying in rest. Entries of prefix and rest keep their values;
// only L(kk), one test, is new. Then, case by case:
//  - na = 0: everything before nl was false; the new walk gives the same
//    answer exactly when L(kk) is false too (na stays 0).
//  - na in prefix: the old trues ran from na through R to c.i1; the new walk
//    finds na again, and runs on through kk to c.i1 exactly when L(kk) is
//    true (na stays).
//  - na missing (it was in R): prefix was all false, rest up to c.i1 all
//    true. A true L(kk) starts the run at kk (na = kk), a false one at the
//    first of rest (na = that one, or 0 when it is nl, which step 2 leaves
//    untested, giving (nl, first) = (c.i1, c.i2)); the run goes on to c.i1.
//  - na in rest: prefix and R were false, and so was rest before na. A false
//    L(kk) leaves every read value as it was (na stays); a true one starts a
//    run at kk, which reaches c.i1 only when na follows kk directly (na =
//    kk); otherwise the run ends at the entry after kk.
// At a hull node (nl negative) the search goes on from the first neighbour,
// na, whatever its L (step 3 passed it), so only the case of na in prefix
// applies, with na still first.
// In each case where the answer is the same, the new walk reads only nl,
// the list and coordinates, so it again ends at once in (c.i1, c.i2, n0),
// passes the same final tests (same triangle, same point) and draws nothing.
// Under the forced-draw test hook the call count decides the draws, so
// nothing is skipped then.
//
// n0 and its list are the same for every point of n0's set, so the list is
// read once (OwnerList) and each place is a lookup: reading on from the
// first neighbour, v comes before kk exactly when its first place is below
// kk's first place, and the entry read after v is the next place in the
// ring (the first after the last).
[[gnu::always_inline]] inline bool walk_unchanged(const OwnerList& o, const DeflateWork::LastWalk& c, tin::XY p,
                                                  std::int32_t& na) {
    const std::int32_t at = o.pos[static_cast<std::size_t>(c.i1)];
    if (at == 0) return false;
    const auto after = static_cast<std::size_t>(at) < o.m ? static_cast<std::size_t>(at) : 0;
    if (o.v[after] != c.i2) return false;
    if (o.nl != c.nl) {
        // lend moved: the old last neighbour went in R, and kk took R's
        // place, last now. R may have run on past the old last into the
        // first neighbours; the list then reads from the first one after
        // it, a neighbour the old walk read before na and found false. So
        // with na still there and no later than c.i1, the walk reads, from
        // its first neighbour to c.i2, a tail of what it read before; and it
        // compares those entries with nl only to know where the list ends:
        // neither the old last (gone) nor kk (after c.i2) is among them. Every
        // test and compare, and the answer, are as before. At a hull node nl
        // also enters a test (nl->n0): not this case.
        if (!(c.nl > 0 && o.nl == o.kk && at < o.kk_at && o.pos[static_cast<std::size_t>(c.nl)] == 0 && c.na != 0))
            return false;
        const std::int32_t na_at = o.pos[static_cast<std::size_t>(c.na)];
        if (na_at == 0 || na_at > at) return false;
        na = c.na;
        return true;
    }
    if (at < o.kk_at) {
        na = c.na;
        return true;
    }
    if (at == o.kk_at) return false;  // not a list this argument knows
    // The walk's own test of kk: left_of(n0, kk) at P.
    const bool lk = tin::left(o.n0_xy.x, o.n0_xy.y, o.kk_xy.x, o.kk_xy.y, p.x, p.y);
    if (c.nl < 0) {
        // A hull node: the walk went on from the first neighbour na, which
        // passes step 3's test, and its trues ran on to c.i1. With na still
        // first, the case is that of na in prefix below.
        na = c.na;
        return lk && o.pos[static_cast<std::size_t>(c.na)] == 1;
    }
    if (c.na == 0) {
        na = 0;
        return !lk;
    }
    const std::int32_t na_at = o.pos[static_cast<std::size_t>(c.na)];
    if (na_at == 0) {
        // kk_at < at: the entry after kk exists (0-based index kk_at). When
        // it is nl, step 2 stops there untested: no true before nl, na = 0.
        const std::int32_t first_of_rest = o.v[static_cast<std::size_t>(o.kk_at)];
        na = lk ? o.kk : (first_of_rest == o.nl ? 0 : first_of_rest);
        return true;
    }
    if (na_at == o.kk_at) return false;  // na is an old neighbour, never kk
    if (na_at < o.kk_at) {
        na = c.na;
        return lk;
    }
    if (!lk) {
        na = c.na;
        return true;
    }
    na = o.kk;
    return na_at == o.kk_at + 1;
}

// Bit i set when P lies on or left of n0->v[i], for the m neighbours: the
// test left() makes, with n0->v read from ring.dx, ring.dy and n0->P given.
// Four neighbours a step where the target has the instructions for it: the
// same multiplications and comparison lane by lane, so the same bits.
[[gnu::always_inline]] inline std::uint64_t left_mask(const OwnerList& o, float dx2, float dy2) {
    const std::size_t m = o.m;
    std::uint64_t mask = 0;
#if defined(__SSE2__)
    const __m128 px = _mm_set1_ps(dx2);
    const __m128 py = _mm_set1_ps(dy2);
    for (std::size_t i = 0; i < m; i += 4) {
        const __m128 lhs = _mm_mul_ps(_mm_loadu_ps(o.dx + i), py);
        const __m128 rhs = _mm_mul_ps(px, _mm_loadu_ps(o.dy + i));
        mask |= static_cast<std::uint64_t>(_mm_movemask_ps(_mm_cmpge_ps(lhs, rhs))) << i;
    }
    // The lanes past m read padding.
    return m == 64 ? mask : mask & ((std::uint64_t{1} << m) - 1);
#else
    for (std::size_t i = 0; i < m; ++i) mask |= static_cast<std::uint64_t>(o.dx[i] * dy2 >= dx2 * o.dy[i]) << i;
    return mask;
#endif
}

// The wedge of ring places i1 and i2 = i1 + 1 (or 0 after the last): what
// the walk's final test and a point's error in triangle (v[i1], v[i2], n0)
// need, taken from the same differences the walk and fit_triangle form.
// Inlined, as cross_once below: as calls they cost the set visit about 1 %.
[[gnu::always_inline]] inline DeflateWork::Wedge make_wedge(const DeflateWork& w, const OwnerList& o, std::size_t i1,
                                                             std::size_t i2) {
    const tin::XY a = o.v_xy[i1];
    const tin::XY b = o.v_xy[i2];
    const tin::XY c = o.n0_xy;
    DeflateWork::Wedge g{};
    g.ax = a.x, g.ay = a.y, g.bx = b.x, g.by = b.y;
    g.bax = b.x - a.x, g.bay = b.y - a.y;          // left(a, b) at P
    g.cbx = c.x - b.x, g.cby = c.y - b.y;          // the barycentric value of b1
    g.acx = o.dx[i1], g.acy = o.dy[i1];            // a - c: b2, and dx1, dy1 of the fit
    g.bcx = o.dx[i2], g.bcy = o.dy[i2];            // b - c: dx2, dy2 of the fit
    g.za = w.z[static_cast<std::size_t>(std::abs(o.v[i1]))];
    g.zb = w.z[static_cast<std::size_t>(std::abs(o.v[i2]))];
    // fit_triangle's steps for (a, b, c) with these differences.
    g.factor = triangle_factor(g.acx, g.acy, g.za - o.z0, g.bcx, g.bcy, g.zb - o.z0, g.nz);
    return g;
}

constexpr float kOne = 1.0F;

// Where the walk from n0 ends in n0's star, read from the mask of its side
// tests: the wedge (i1, i2) it crosses into at step 8, and first_left, what
// WalkInfo reports as na. False where the walk goes on beyond what this
// reads: P beyond the hull at a hull node, or step 5 (P on or left of every
// neighbour), which ctrfind decides.
[[gnu::always_inline]] inline bool star_wedge(const OwnerList& o, std::uint64_t on_left, tin::XY p,
                                              std::size_t& i1, std::size_t& i2, std::int32_t& first_left) {
    const std::size_t m = o.m;
    const std::uint64_t before_nl = (std::uint64_t{1} << (m - 1)) - 1;  // neighbours 0..m-2
    i1 = 0;
    first_left = 0;
    if (o.nl > 0) {
        // Step 2: the first neighbour before nl (at m - 1) P is on or left of.
        if ((on_left & before_nl) == 0) {
            i1 = m - 1;  // none: the wedge nl, nf (step 7)
            i2 = 0;
            return true;
        }
        i1 = static_cast<std::size_t>(std::countr_zero(on_left));
        first_left = o.v[i1];
    } else {
        // Step 3, a hull node: P right of n0->nf or of nl->n0 lies beyond
        // the hull. Otherwise the wedge search goes on from nf.
        if ((on_left & 1U) == 0) return false;
        if (!tin::left(o.v_xy[m - 1].x, o.v_xy[m - 1].y, o.n0_xy.x, o.n0_xy.y, p.x, p.y)) return false;
    }
    // Step 4: on from i1 to the first neighbour P is strictly right of. P
    // left of every one up to nl is step 5's case: the wedge nl, nf when P is
    // right of nf (never at a hull node, where it is left), otherwise a case
    // left to ctrfind.
    const std::uint64_t right_after = ~on_left & ((before_nl << 1) | 1U) & ~((std::uint64_t{2} << i1) - 1);
    if (right_after != 0) {
        i2 = static_cast<std::size_t>(std::countr_zero(right_after));
        i1 = i2 - 1;
        return true;
    }
    if ((on_left & 1U) != 0) return false;
    i1 = m - 1;
    i2 = 0;
    return true;
}

constexpr std::size_t kNoWedge = 64;  // a walk that did not end in the star

// Step 9 of the walk from n0 past its first arc n1-n2, P being right of it:
// one crossing (steps 9b to 9e), then step 9a in the triangle beyond, with
// the walk's own reads and tests. It answers only where the walk returns
// there; a hull arc, a cycle, a failed final test (a restart) or a second
// arc to cross give up (false) with nothing changed but kernel.stcom, and
// ctrfind walks again from n0, reading and testing the same, so the answer
// and the draws are the walk's. Not a direct walk (tin::WalkInfo).
[[gnu::always_inline]] inline bool cross_once(const DeflateWork& w, const OwnerList& o, tin::XY p, std::int32_t n1,
                                              std::int32_t n2, tin::KernelState& kernel, tin::Triple& t,
                                              tin::WalkInfo& info) {
    const tin::Store& st = w.store;
    const tin::XY* const xy = w.xy.data();
    const std::int32_t n0 = o.n0;
    std::int32_t lp = tin::lstptr(st.lend[n2], n1, st);
    if (st.list[lp] < 0) return false;  // a hull arc: P lies outside
    lp = st.lptr[lp];
    const std::int32_t n4 = std::abs(st.list[lp]);
    const tin::XY c4 = xy[n4];
    std::int32_t n3 = n0;
    if (tin::left(o.n0_xy.x, o.n0_xy.y, c4.x, c4.y, p.x, p.y)) {
        if (n4 == n1 || n4 == n0) return false;  // a cycle
        n3 = n1;
        n1 = n4;
    } else {
        if (n4 == n2 || n4 == n0) return false;
        n3 = n2;
        n2 = n4;
    }
    const tin::XY a = xy[n1];
    const tin::XY b = xy[n2];
    const tin::XY c = xy[n3];
    if (!tin::left(a.x, a.y, b.x, b.y, p.x, p.y)) return false;  // another arc
    const float b1 = (c.x - b.x) * (p.y - b.y) - (p.x - b.x) * (c.y - b.y);
    const float b2 = (a.x - c.x) * (p.y - c.y) - (p.x - c.x) * (a.y - c.y);
    if (tin::store(kOne + b1, kernel) < kOne || tin::store(kOne + b2, kernel) < kOne) return false;
    t = {n1, n2, n3};
    info = {};
    return true;
}

// ctrfind from n0 when its walk stays in n0's star: the same tests on the
// same coordinates as its steps 2 to 5 and 9, read from the copy of n0's
// list instead of the store. It answers only where that walk returns without
// crossing an arc and without a restart (so without a draw), with the wedge
// it ended in (t is (v[wedge], the next one, n0)); anywhere else (P left of
// every neighbour, P beyond the hull, an arc to cross, a restart, a list
// longer than 64) it gives up (false) having changed nothing but
// kernel.stcom and the ring's wedges, and ctrfind is called.
//
// The walk tests "P on or left of n0->v" for the neighbours v in list order
// until its answer is known. These tests have no side effects, so all of
// them are made at once (left_mask), and the walk's answer is read from the
// mask: the tests it would make give the same values whether or not the
// others are made too.
[[gnu::always_inline]] inline bool walk_in_star(DeflateWork& w, const OwnerList& o, tin::XY p,
                                                tin::KernelState& kernel, tin::Triple& t, tin::WalkInfo& info,
                                                std::size_t& wedge) {
    const std::size_t m = o.m;
    if (m < 3 || m > 64) return false;
    const float ex = p.x - o.n0_xy.x;
    const float ey = p.y - o.n0_xy.y;
    std::size_t i1 = 0;
    std::size_t i2 = 0;
    std::int32_t first_left = 0;
    if (!star_wedge(o, left_mask(o, ex, ey), p, i1, i2, first_left)) return false;
    DeflateWork::Ring& r = w.ring;
    if ((r.wedge_made >> i1 & 1U) == 0) {
        r.wedge[i1] = make_wedge(w, o, i1, i2);
        r.wedge_made |= std::uint64_t{1} << i1;
    }
    const DeflateWork::Wedge& g = r.wedge[i1];
    // Step 9 before any crossing, with a = v[i1], b = v[i2], c = n0: left(a,
    // b) at P, then b1 and b2 as the walk writes them.
    if (!(g.bax * (p.y - g.ay) >= (p.x - g.ax) * g.bay)) {
        wedge = kNoWedge;
        return cross_once(w, o, p, std::abs(o.v[i1]), std::abs(o.v[i2]), kernel, t, info);
    }
    const float b1 = g.cbx * (p.y - g.by) - (p.x - g.bx) * g.cby;
    const float b2 = g.acx * ey - ex * g.acy;
    if (tin::store(kOne + b1, kernel) < kOne || tin::store(kOne + b2, kernel) < kOne) return false;
    t = {std::abs(o.v[i1]), std::abs(o.v[i2]), o.n0};
    info = {o.nl, o.nl > 0 ? first_left : o.v[0]};
    wedge = i1;
    return true;
}

// The error of point p at P in the wedge's triangle: fit_error's steps with
// the wedge's differences (ex, ey are P less n0, as fit_error forms them).
[[gnu::always_inline]] inline PointError wedge_error(const DeflateWork::Wedge& g, const OwnerList& o, tin::XY p,
                                                     float pz) {
    float h = 0.0F;  // no extent in plan: the plane height is taken as 0
    if (g.nz != 0.0F) {
        const float ex = p.x - o.n0_xy.x;
        const float ey = p.y - o.n0_xy.y;
        const float alpha = (g.bcy * ex - g.bcx * ey) / g.nz;
        const float beta = (g.acx * ey - ex * g.acy) / g.nz;
        h = o.z0 * ((1.0F - alpha) - beta) + (g.za * alpha + g.zb * beta);
    }
    const float dd = pz - h;
    return {dd, g.factor * std::fabs(dd)};
}

bool same_bits(float a, float b) { return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b); }

// Checking mode: ctrfind from n0, on a copy of the kernel state, must give
// the walk left out (t, info) and draw nothing. Returns its triangle.
tin::Triple check_walk(const DeflateWork& w, std::int32_t p, std::int32_t n0, std::int32_t nnode,
                       const tin::KernelState& kernel, const tin::Triple& t, const tin::WalkInfo& info,
                       SkipCheck& check) {
    tin::KernelState copy = kernel;
    tin::WalkInfo again;
    tin::Triple u;
    tin::ctrfind(n0, w.xy[p].x, w.xy[p].y, nnode, w.xy.data(), w.store, w.inx.data(), copy, again, u);
    if (u.i1 != t.i1 || u.i2 != t.i2 || u.i3 != t.i3 || copy.ctrfind_seeds.draws != kernel.ctrfind_seeds.draws ||
        again.nl != info.nl || again.na != info.na)
        ++check.mismatches;
    return u;
}

// Checking mode: the scores of p against triangle t by point_error, the
// general route, must be the ones given (the stored scores of a point error
// left out, or those of the wedge's own route).
void check_error(DeflateWork& w, std::int32_t p, const tin::Triple& t, float dd, float dw, SkipCheck& check) {
    const PointError e = point_error(w, p, t.i1, t.i2, t.i3);
    ++check.errors;
    if (!same_bits(e.dd, dd) || !same_bits(e.dw, dw)) ++check.mismatches;
}

// The slot arrays rescore reads, taken once per set (see OwnerList).
struct Slots {
    const tin::XY* xy;
    const float* z;
    DeflateWork::LastWalk* walk;
    const std::int32_t* next;
    bool may_skip;  // no forced draws: the call count does not decide them
};

// Locate first: the walk may draw from the seed triple whatever the outcome.
// The point error is a function of p's and the triangle's coordinates and z
// alone; z changes only when a point is rejected, which the z test catches
// first. So the same triangle as last time gives the scores p holds; and a
// skipped walk needs no z test either, as a rejected point holds 0 from its
// rejection on. n0 is p's node, the owner of the set being visited. kCheck:
// the checking mode, the same decisions with every left-out step made too.
template <bool kCheck>
[[gnu::always_inline]] inline void rescore(DeflateWork& w, const Slots& sl, std::int32_t p, const OwnerList& o,
                                           std::int32_t nnode, tin::KernelState& kernel, SkipCheck* check) {
    const auto ps = static_cast<std::size_t>(p);
    DeflateWork::LastWalk& c = sl.walk[ps];
    const tin::XY pxy = sl.xy[ps];
    const std::int32_t n0 = o.n0;
    std::int32_t na = 0;
    if (c.nl != 0 && c.i3 == n0 && sl.may_skip && walk_unchanged(o, c, pxy, na)) {
        if constexpr (kCheck) {
            if (c.nl < 0) ++check->hull_walks;
            if (c.nl != o.nl) ++check->moved_last;
        }
        c.nl = o.nl;
        c.na = na;
        if constexpr (kCheck) {
            const tin::Triple u = check_walk(w, p, n0, nnode, kernel, {c.i1, c.i2, c.i3}, {c.nl, c.na}, *check);
            ++check->walks;
            if (o.pos[static_cast<std::size_t>(c.i1)] > o.kk_at) ++check->kk_first;
            if (sl.z[ps] < kRejectedBelow) {
                if (w.dd[ps] != 0.0F || w.dw[ps] != 0.0F) ++check->mismatches;
            } else {
                check_error(w, p, u, w.dd[ps], w.dw[ps], *check);
            }
        }
        return;
    }
    tin::WalkInfo info;
    tin::Triple t;
    std::size_t wedge = kNoWedge;
    if (sl.may_skip && walk_in_star(w, o, pxy, kernel, t, info, wedge)) {
        if constexpr (kCheck) {
            (void)check_walk(w, p, n0, nnode, kernel, t, info, *check);
            ++check->star_walks;
            if (wedge == kNoWedge) ++check->one_arc;
        }
        if (wedge != kNoWedge) {
            // In the star the wedge's error costs less than the test of
            // whether the triangle is the last one, which goes either way:
            // it is made every time. The same triangle gives the scores p
            // holds (the checking mode holds both routes to point_error's
            // bits), which the score leaves as they are.
            const float pz = sl.z[ps];
            const PointError e = wedge_error(w.ring.wedge[wedge], o, pxy, pz);
            const bool rejected = pz < kRejectedBelow;
            if constexpr (kCheck) {
                check_error(w, p, t, e.dd, e.dw, *check);
                if (!rejected && t.i1 == c.i1 && t.i2 == c.i2 && t.i3 == c.i3 &&
                    !(same_bits(e.dd, w.dd[ps]) && same_bits(e.dw, w.dw[ps])))
                    ++check->mismatches;
            }
            c = {t.i1, t.i2, t.i3, info.nl, info.na};
            w.score_quietly(p, rejected ? 0.0F : e.dd, rejected ? 0.0F : e.dw);
            return;
        }
    } else {
        tin::ctrfind(n0, pxy.x, pxy.y, nnode, sl.xy, w.store, w.inx.data(), kernel, info, t);
    }
    const bool same = t.i3 != 0 && t.i1 == c.i1 && t.i2 == c.i2 && t.i3 == c.i3;
    c = {t.i1, t.i2, t.i3, info.nl, info.na};
    const float pz = sl.z[ps];
    if (t.i3 == 0 || pz < kRejectedBelow) {
        w.score(p, 0.0F, 0.0F);
        return;
    }
    if (same) {
        if constexpr (kCheck) check_error(w, p, t, w.dd[ps], w.dw[ps], *check);
        return;
    }
    const PointError e = point_error(w, p, t.i1, t.i2, t.i3);
    w.score(p, e.dd, e.dw);
}

// The members of a set are linked in no useful order: the next member's
// records are fetched while this one is scored.
template <bool kCheck>
void rescore_set(DeflateWork& w, std::int32_t owner, std::int32_t kk, std::int32_t nnode, tin::KernelState& kernel,
                 SkipCheck* check) {
    if (w.near[owner] == 0) return;
    const OwnerList list = read_owner(w, owner, kk);
    const Slots sl{w.xy.data(), w.z.data(), w.walk.data(), w.next.data(), tin::force_draw == nullptr};
    float* const dw = w.dw.data();
    for (std::int32_t p = w.near[owner]; p != 0;) {
        assert(w.near[p] == owner);
        const auto np = static_cast<std::size_t>(sl.next[p]);
        __builtin_prefetch(&sl.walk[np]);
        __builtin_prefetch(&sl.next[np]);
        __builtin_prefetch(&sl.xy[np]);
        __builtin_prefetch(&dw[np]);
        rescore<kCheck>(w, sl, p, list, nnode, kernel, check);
        p = static_cast<std::int32_t>(np);
    }
    forget_owner(w);
}

template <bool kCheck>
void rescore_sets(DeflateWork& w, std::int32_t kk, std::int32_t nnode, tin::KernelState& kernel, SkipCheck* check) {
    rescore_set<kCheck>(w, kk, kk, nnode, kernel, check);
    // Neighbours by list position, first (after lend) to last (at lend).
    const std::int32_t lpl = w.store.lend[kk];
    std::int32_t lp = lpl;
    do {
        lp = w.store.lptr[lp];
        rescore_set<kCheck>(w, std::abs(w.store.list[lp]), kk, nnode, kernel, check);
    } while (lp != lpl);
}

}  // namespace

bool located_now(const DeflateWork& w, std::int32_t p, std::int32_t nnode, const tin::KernelState& kernel,
                 tin::Triple& t) {
    // The argument of walk_unchanged with no new node at all: a direct walk
    // read nothing but its start node's list and coordinates, and the list
    // of a node changes only when the node becomes a neighbour of a new node,
    // after which every point attached to it is visited and its last walk
    // renewed. A point changes nodes only in cupdate, after which it is
    // visited too. So a direct last walk from near[p] is the walk now.
    const DeflateWork::LastWalk& c = w.walk[static_cast<std::size_t>(p)];
    if (c.nl == 0 || c.i3 != w.near[static_cast<std::size_t>(p)] || tin::force_draw != nullptr) return false;
    t = {c.i1, c.i2, c.i3};
    if (SkipCheck* const check = tin::skip_check; check != nullptr) {
        (void)check_walk(w, p, c.i3, nnode, kernel, t, {c.nl, c.na}, *check);
        ++check->insertions;
    }
    return true;
}

void upcache(DeflateWork& w, std::int32_t kk, std::int32_t nnode, tin::KernelState& kernel) {
    w.score(kk, 0.0F, 0.0F);
    if (SkipCheck* const check = tin::skip_check; check != nullptr) {
        rescore_sets<true>(w, kk, nnode, kernel, check);
    } else {
        rescore_sets<false>(w, kk, nnode, kernel, nullptr);
    }
}

}  // namespace krel::deflate
