#include "deflate/sdeflate.hpp"

#include <algorithm>

#include <cmath>
#include <new>
#include <type_traits>
#include <limits>
#include <string>

#include "deflate/scoring.hpp"
#include "io/fortran.hpp"
#include "tin/caddnod.hpp"
#include "tin/ctrmesh.hpp"
#include "tin/cupdate.hpp"

namespace krel::deflate {

namespace {

constexpr std::int32_t kMinPoints = 100;      // smaller tiles are kept whole
constexpr std::int32_t kMaxNodes = kSlots - 1;  // the loop stops once nnode exceeds it
constexpr float kFrame = 0.1F;                // frame corners this far outside the points

// One checkpoint line: percent of slots that are nodes, rms and largest |dd|
// of the tile's points. The sum of squares goes in slot order: its float
// rounding depends on it.
float checkpoint(const DeflateWork& w, std::int32_t nnode, io::TextOut& listing) {
    const Spread figures = spread(w.dd.data(), 5, w.nt);
    float sum = figures.sum;
    const float emax = figures.emax;
    // Divided by the point count minus one.
    if (w.nt - 5 >= 1) sum = sum / static_cast<float>(w.nt - 5);
    const float rms = std::sqrt(sum);
    const float pct = static_cast<float>(nnode - 4) / static_cast<float>(w.nt) * 100.0F;
    listing.line(io::format_f(pct, 10, 5) + io::format_f(rms, 10, 5) + io::format_f(emax, 10, 3));
    return rms;
}

// A frame coordinate 0.1 below (or above) the points' extreme v. Far from
// the origin (|v| of 2^21 and more) 0.1 is under half a float step, v - 0.1
// rounds back to v, and the outermost points would lie on the frame, or all
// four corners on one line for a tile whose points share a y (or an x), which
// does not triangulate. The next float outward keeps every point strictly
// inside; nearer the origin the corner is v - 0.1 (v + 0.1) as it stands.
float below(float v) {
    const float c = v - kFrame;
    return c < v ? c : std::nextafter(v, -std::numeric_limits<float>::infinity());
}
float above(float v) {
    const float c = v + kFrame;
    return c > v ? c : std::nextafter(v, std::numeric_limits<float>::infinity());
}

}  // namespace

Spread spread(const float* dd, std::int32_t first, std::int32_t last) {
    // The sum is one chain of additions, each waiting on the last; the
    // maximum, a second chain beside it, costs nothing more. A NaN never
    // replaces the maximum (the compare is false), so it never is one.
    Spread f;
    for (std::int32_t s = first; s <= last; ++s) {
        const float d = dd[s];
        f.sum = f.sum + d * d;
        const float e = std::fabs(d);
        if (e > f.emax) f.emax = e;
    }
    return f;
}

DeflateWork::DeflateWork(std::int32_t slots) {
    ring.grow(64);
    reserve(slots);
}

void DeflateWork::Ring::grow(std::size_t size) {
    // The side tests read four neighbours at a time, up to three past the last.
    const std::size_t n = std::max({size, 2 * v.size(), std::size_t{64}});
    v.resize(n);
    xy.resize(n);
    dx.resize(n + 3);
    dy.resize(n + 3);
    wedge.resize(64);
}

void DeflateWork::reserve(std::int32_t slots) {
    if (slots <= this->slots()) return;
    // At least doubling, so tiles of growing size allocate seldom; a full-size
    // set up front costs a small run more than its thinning (page faults).
    slots = std::max(slots, std::min(kSlots, 2 * this->slots()));
    const auto n = static_cast<std::size_t>(slots) + 1;
    // Each array on its own cache lines, in one block.
    std::size_t bytes = 0;
    const auto place = [&](auto& a) {
        using T = std::remove_reference_t<decltype(a[0])>;
        const std::size_t at = bytes;
        bytes += io::whole_lines(n * sizeof(T));
        return at;
    };
    const auto each = [&](auto f) {
        f(x), f(y), f(z), f(ds), f(dd), f(dw), f(near), f(next), f(lpro), f(inx), f(xy), f(walk), f(ring_pos);
    };
    each([&](auto& a) { (void)place(a); });
    // The store first: should either fail, slots() still tells what both hold.
    store.reserve_nodes(slots);
    // Zeroed, and nothing copied: a copy would write pages the next tile may
    // never touch.
    io::HugeArray<std::byte> block = io::allocate_huge_array<std::byte>(bytes);
    if (!block) throw std::bad_alloc();
    bytes = 0;
    each([&](auto& a) {
        using T = std::remove_reference_t<decltype(a[0])>;
        a.p_ = reinterpret_cast<T*>(block.get() + place(a));
        a.n_ = n;
    });
    block_ = std::move(block);
}

bool start_insertion(const float* x, const float* y, const float* z, std::span<const std::int32_t> idx,
                     DeflateWork& w, Insertion& ins, tin::KernelState& kernel, io::TextOut& console) {
    const auto npt = static_cast<std::int32_t>(idx.size());
    if (npt < kMinPoints) return false;

    // Load: slot j + 4 holds the tile's j-th point.
    w.nt = npt + 4;
    w.reserve(w.nt);
    w.memo.fill({});
    const std::int32_t nt = w.nt;
    for (std::int32_t j = 1; j <= npt; ++j) {
        const std::int32_t i = idx[static_cast<std::size_t>(j - 1)];
        w.x[j + 4] = x[i];
        w.y[j + 4] = y[i];
        w.z[j + 4] = z[i];
    }

    // Frame: the points' box widened by 0.1 on every side (see below()),
    // counterclockwise from the lower left, all at the height of the tile's
    // first point. NaN coordinates never widen the box.
    float xmin = w.x[5], xmax = w.x[5], ymin = w.y[5], ymax = w.y[5];
    for (std::int32_t s = 6; s <= nt; ++s) {
        if (w.x[s] < xmin) xmin = w.x[s];
        if (w.x[s] > xmax) xmax = w.x[s];
        if (w.y[s] < ymin) ymin = w.y[s];
        if (w.y[s] > ymax) ymax = w.y[s];
    }
    w.x[1] = below(xmin), w.y[1] = below(ymin);
    w.x[2] = above(xmax), w.y[2] = below(ymin);
    w.x[3] = above(xmax), w.y[3] = above(ymax);
    w.x[4] = below(xmin), w.y[4] = above(ymax);
    for (std::int32_t s = 1; s <= 4; ++s) w.z[s] = w.z[5];
    for (std::int32_t s = 1; s <= nt; ++s) w.xy[s] = {w.x[s], w.y[s]};

    // Starting triangulation of the corners and the nearest-node sets. Four
    // corners of a proper box always triangulate; only coordinates that are
    // not finite numbers make a frame that does not, and then the store holds
    // no triangulation to insert into: the tile is kept whole rather than
    // thinned on whatever an earlier tile left there.
    ins = Insertion{};
    if (tin::ctrmesh(ins.nnode, w.x.data(), w.y.data(), nt, w.store, w.near.data(), w.next.data(), w.ds.data(),
                     kernel, console) < 0)
        return false;
    for (std::int32_t m = 1; m <= ins.nnode; ++m) {
        w.inx[m] = m;
        w.lpro[m] = 1;
    }
    for (std::int32_t s = ins.nnode + 1; s <= nt; ++s) {
        w.inx[s] = 0;
        w.lpro[s] = 0;
    }
    initial_scoring(w, ins.nnode, kernel);
    return true;
}

Step insert_next(DeflateWork& w, Insertion& ins, float tol, tin::KernelState& kernel, io::TextOut& listing,
                 const DeflateOptions& options) {
    const std::int32_t nt = w.nt;
    std::int32_t& kmax = ins.kmax;
    w.select.flush();
    if (options.scan) {
        kmax = select_by_scan(w.dw.data(), 5, nt, kmax);
    } else if (const std::int32_t best = w.select.best(); best != 0) {
        kmax = best;
    }
    if (options.trace != nullptr) options.trace->push_back(kmax);
    // The chosen slot's records are far from the last ones used: asked for
    // together, their misses overlap instead of following one another.
    {
        const auto k = static_cast<std::size_t>(kmax);
        __builtin_prefetch(&w.lpro[k]);
        __builtin_prefetch(&w.z[k]);
        __builtin_prefetch(&w.dw[k]);
        __builtin_prefetch(&w.walk[k]);
        __builtin_prefetch(&w.near[k]);
        __builtin_prefetch(&w.xy[k]);
    }

    if (ins.nnode >= ins.ichk) {
        const float rms = checkpoint(w, ins.nnode, listing);
        if (tol > rms) return Step::done;
        ++ins.nchk;
        ins.ichk = ins.ichk + static_cast<std::int32_t>(std::pow(static_cast<float>(ins.nchk), 1.6F));
    }
    if (ins.nnode > kMaxNodes || ins.nnode >= nt) return Step::done;
    // Nothing left to insert: no slot chosen, the choice is already a node,
    // or it is a rejected point whose score is 0 (it would be chosen again
    // and again).
    if (kmax < 1 || w.lpro[kmax] == 1 || (w.z[kmax] < kRejectedBelow && w.dw[kmax] == 0.0F)) return Step::done;

    tin::Triple at;
    const std::int32_t ier =
        located_now(w, kmax, ins.nnode, kernel, at)
            ? tin::caddnod_located(kmax, at, ins.nnode, w.xy.data(), w.store, w.inx.data(), kernel)
            : tin::caddnod(kmax, w.near[kmax], ins.nnode, w.x.data(), w.y.data(), w.store, w.inx.data(), kernel);
    // -4: a failed swap, but the node is already linked in and counted.
    if (ier != 0 && ier != -4) {
        w.z[kmax] = kRejectedZ;
        w.score(kmax, 0.0F, 0.0F);
        return Step::rejected;
    }
    w.lpro[kmax] = 1;
    tin::cupdate(kmax, w.xy.data(), w.store, w.near.data(), w.next.data(), w.ds.data());
    upcache(w, kmax, ins.nnode, kernel);
    return Step::inserted;
}

std::int32_t keep_nodes(const DeflateWork& w, std::span<std::int32_t> idx) {
    // The inserted points in input order; idx[s - 5] is read before any write
    // reaches it.
    std::int32_t kept = 0;
    for (std::int32_t s = 5; s <= w.nt; ++s)
        if (w.lpro[s] == 1) idx[static_cast<std::size_t>(kept++)] = idx[static_cast<std::size_t>(s - 5)];
    return kept;
}

std::int32_t sdeflate(const float* x, const float* y, const float* z, std::span<std::int32_t> idx, float tol,
                      DeflateWork& w, tin::KernelState& kernel, io::TextOut& listing, io::TextOut& console,
                      const DeflateOptions& options) {
    Insertion ins;
    if (!start_insertion(x, y, z, idx, w, ins, kernel, console)) return static_cast<std::int32_t>(idx.size());
    while (insert_next(w, ins, tol, kernel, listing, options) != Step::done) {
    }
    return keep_nodes(w, idx);
}

}  // namespace krel::deflate
