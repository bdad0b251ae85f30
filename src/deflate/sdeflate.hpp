#pragma once
// Greedy insertion of one tile: from a flat surface over four frame corners,
// insert the point with the largest weighted error, one at a time, until the
// root-mean-square vertical error of the tile's points falls below the
// tolerance at a checkpoint.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "deflate/selection.hpp"
#include "io/huge_pages.hpp"
#include "io/textout.hpp"
#include "tiles/tile_size.hpp"
#include "tin/kernel_state.hpp"
#include "tin/store.hpp"
#include "tin/test_seam.hpp"
#include "tin/trfind.hpp"

namespace krel::deflate {

// Slots of the largest tile's working set.
constexpr std::int32_t kSlots = tiles::kTileSlots;

// One array of a tile working set: a view into the set's single block.
template <class T>
class SlotArray {
public:
    T& operator[](std::size_t i) { return p_[i]; }
    const T& operator[](std::size_t i) const { return p_[i]; }
    T* data() { return p_; }
    const T* data() const { return p_; }
    [[nodiscard]] std::size_t size() const { return n_; }

private:
    friend struct DeflateWork;
    T* p_ = nullptr;
    std::size_t n_ = 0;
};

// Working set of one tile, indexed by slot (1-based): slots 1 to 4 are the
// frame corners, slot j + 4 the tile's j-th point. Grown as tiles need it and
// reused; every call sets what it reads for slots 1..nt, so the contents left
// by earlier tiles (or by none) never matter. The per-slot arrays share one
// block (io::allocate_huge): a full-size set is about 13 MB, touched at
// random.
struct DeflateWork {
    SlotArray<float> x, y, z;        // slot coordinates; z = -9999 for a rejected point
    SlotArray<tin::XY> xy;           // x and y again side by side, for the walks and the sets
    SlotArray<std::int32_t> near;    // point: its nearest node; node: first member of its set
    SlotArray<std::int32_t> next;    // next member of the same set, 0 at the end
    SlotArray<float> ds;             // point: squared distance to near
    SlotArray<float> dd;             // signed vertical error; 0 for nodes and rejected points
    SlotArray<float> dw;             // weighted error, the selection key
    SlotArray<std::int32_t> lpro;    // 1 when the slot is a node of the triangulation
    SlotArray<std::int32_t> inx;     // inx[m]: slot of the m-th node, corners first
    // The last location of each point: its triangle (i3 = 0: outside or
    // none) and, when the walk was direct (tin::WalkInfo), the start node's
    // last neighbour then and the first neighbour the point was on or left
    // of. upcache decides from it which walks cannot change.
    struct LastWalk {
        std::int32_t i1, i2, i3, nl, na;
    };
    SlotArray<LastWalk> walk;
    // What a point's error needs of the triangle it lies in, in location
    // order (i1, i2, i3), computed once for the many points that share it.
    struct TriangleFit {
        std::int32_t i1 = 0, i2 = 0, i3 = 0;  // vertices; i1 = 0: none
        float dx1, dy1, dx2, dy2, nz;         // differences from vertex 3, normal's z
        float factor;                         // area factor * slope factor
        float x3, y3, z1, z2, z3;             // the vertices' values the plane height reads
    };
    // A wedge (a, b) of the node c whose set upcache visits: what the final
    // test of a walk that ends in triangle (a, b, c) and the error of a point
    // in it need, differences formed once as the walk and the fit form them.
    struct Wedge {
        float ax, ay, bx, by;   // a and b
        float bax, bay;         // b - a
        float cbx, cby;         // c - b
        float acx, acy;         // a - c
        float bcx, bcy;         // b - c
        float za, zb;           // z of a and b
        float nz, factor;       // normal's z, area factor * slope factor
    };
    // The list of the node whose set upcache is visiting, read once for the
    // whole set; ring_pos[v] is the 1-based place of v in it (0: not in it;
    // all 0 between sets).
    struct Ring {
        std::size_t m = 0;              // neighbours
        std::vector<std::int32_t> v;    // neighbours from the first (after lend) to the last, as stored
        std::vector<tin::XY> xy;        // their coordinates
        std::vector<float> dx, dy;      // the same less the set node's, for the side tests four at a time
        // Wedge i (v[i], v[i + 1], set node; the last wedge closes on v[0]),
        // made when the first walk of the set's visit ends in it.
        std::vector<Wedge> wedge;
        std::uint64_t wedge_made = 0;   // bit i: wedge[i] holds wedge i
        void grow(std::size_t size);    // room for `size` neighbours and the padding
    };
    Ring ring;
    SlotArray<std::int32_t> ring_pos;
    tin::Store store;                // the triangulation, six entries per slot
    Selection select;                // largest dw over slots 5..nt
    std::int32_t nt = 0;             // slots in use

    // Triangles scored lately by any walk: the points of one set mostly fall
    // in the few triangles around its node. A triangle's entry is fixed by
    // its vertices (kMemo entries). Node coordinates do not change within a
    // tile; sdeflate forgets them all at the start of every tile.
    static constexpr std::size_t kMemo = 8;
    std::array<TriangleFit, kMemo> memo;

    explicit DeflateWork(std::int32_t slots = 0);
    [[nodiscard]] std::int32_t slots() const { return static_cast<std::int32_t>(x.size()) - 1; }
    // Grows every array to at least `slots` (never shrinks). A growth leaves
    // every entry 0: nothing is kept, as every tile sets every slot it reads
    // (and leaves ring_pos all 0).
    void reserve(std::int32_t slots);

    // Sets slot p's scores and keeps the selection current.
    // Most re-scored points keep their triangle and so their score: only a
    // real change reaches the selection.
    void score(std::int32_t p, float dd_p, float dw_p) {
        const auto i = static_cast<std::size_t>(p);
        dd[i] = dd_p;
        const float old = dw[i];
        dw[i] = dw_p;
        if (p >= 5 && differs(old, dw_p)) select.changed(p);
    }
    // The same for a point (p >= 5) without a jump on whether the score
    // changed, where that goes either way.
    void score_quietly(std::int32_t p, float dd_p, float dw_p) {
        const auto i = static_cast<std::size_t>(p);
        dd[i] = dd_p;
        const float old = dw[i];
        dw[i] = dw_p;
        select.changed_if(p, differs(old, dw_p));
    }
    // A change the selection must see: NaN to NaN is none.
    static bool differs(float old, float now) { return !(old == now || (old != old && now != now)); }

private:
    io::HugeArray<std::byte> block_;
};

// Checking mode of upcache's skipped work: set tin::skip_check (tests only).
using SkipCheck = tin::SkipCheck;

struct DeflateOptions {
    bool scan = false;                       // select by a full scan instead of the tree
    std::vector<std::int32_t>* trace = nullptr;  // receives every selected slot, when given
};

// The checkpoint's two figures over slots first..last, in one pass: the sum
// of the squares dd[s] * dd[s], added in slot order from 0; and the largest
// |dd[s]| that is a number, or -1 when none is: what a scan in slot order
// keeps with "e > emax or emax is NaN", since emax, starting at -1, never
// becomes a NaN.
struct Spread {
    float sum = 0.0F;
    float emax = -1.0F;
};
[[nodiscard]] Spread spread(const float* dd, std::int32_t first, std::int32_t last);

// Where greedy insertion of a tile stands between two steps.
struct Insertion {
    std::int32_t nnode = 4;  // nodes in the triangulation, corners included
    std::int32_t kmax = 0;   // slot chosen by the last step
    std::int32_t ichk = 5;   // node count of the next checkpoint
    std::int32_t nchk = 0;   // checkpoints passed without stopping
};

enum class Step {
    inserted,  // the chosen point is a node now
    rejected,  // the chosen point could not be inserted; it is marked and scored 0
    done,      // the tolerance is met at a checkpoint, or nothing is left to insert
};

// The steps of sdeflate, for a caller that stops on a rule of its own (a node
// budget, a test). start_insertion loads the tile into w, builds the frame's
// triangulation and scores every point; false: the tile is kept as it is
// (fewer than 100 points, or a frame that does not triangulate).
// insert_next chooses the point with the largest score, writes the
// checkpoint line when one is due and tests the stopping rules, then inserts
// the point and re-scores what it changed. keep_nodes rewrites idx[0 .. kept)
// with the nodes in input order and returns kept.
[[nodiscard]] bool start_insertion(const float* x, const float* y, const float* z, std::span<const std::int32_t> idx,
                                   DeflateWork& w, Insertion& ins, tin::KernelState& kernel, io::TextOut& console);
[[nodiscard]] Step insert_next(DeflateWork& w, Insertion& ins, float tol, tin::KernelState& kernel,
                               io::TextOut& listing, const DeflateOptions& options = {});
std::int32_t keep_nodes(const DeflateWork& w, std::span<std::int32_t> idx);

// Thins one tile: the steps above until insert_next is done. x, y, z: the run's node arrays (1-based); idx: the tile's
// node numbers. A tile of 99 points or fewer is left as it is, and so is one
// whose frame does not triangulate (coordinates that are not finite). Otherwise
// rewrites idx[0 .. kept) with the inserted points in their input order and
// returns kept (at least 1). Writes one line "(f10.5,f10.5,f10.3)" per
// checkpoint (percent of slots that are nodes, rms, largest |dd|) to listing;
// the initial triangulation's messages go to console. tol > 0.
std::int32_t sdeflate(const float* x, const float* y, const float* z, std::span<std::int32_t> idx, float tol,
                      DeflateWork& w, tin::KernelState& kernel, io::TextOut& listing, io::TextOut& console,
                      const DeflateOptions& options = {});

}  // namespace krel::deflate
