#include "deflate/scoring.hpp"

#include <cmath>
#include <cstdlib>

#include "deflate/sdeflate.hpp"
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
    float w = std::pow(a, e);
    if (w < 1.0F || std::isnan(w)) w = 1.0F;
    return w * s;
}

PointError point_error(DeflateWork& w, std::int32_t p, std::int32_t i1, std::int32_t i2, std::int32_t i3) {
    DeflateWork::TriangleMemo& m = w.memo;
    if (m.i1 != i1 || m.i2 != i2 || m.i3 != i3) {
        // The same operations as zval, split into the triangle's part and
        // the point's part so that the first can be kept.
        m = {i1, i2, i3, w.x[i1] - w.x[i3], w.y[i1] - w.y[i3], w.x[i2] - w.x[i3], w.y[i2] - w.y[i3], 0.0F, 0.0F};
        const float dz1 = w.z[i1] - w.z[i3];
        const float dz2 = w.z[i2] - w.z[i3];
        const float nx = m.dy1 * dz2 - dz1 * m.dy2;
        const float ny = dz1 * m.dx2 - dz2 * m.dx1;
        m.nz = m.dx1 * m.dy2 - m.dy1 * m.dx2;
        const float a = std::sqrt((nx * nx + ny * ny) + m.nz * m.nz);
        const float c = m.nz == 0.0F ? 1.0F : std::fabs(m.nz) / a;
        m.factor = weight(a, kAexp, c);
    }
    float h = 0.0F;  // no extent in plan: the plane height is taken as 0
    if (m.nz != 0.0F) {
        const float ex = w.x[p] - w.x[i3];
        const float ey = w.y[p] - w.y[i3];
        const float alpha = (m.dy2 * ex - m.dx2 * ey) / m.nz;
        const float beta = (m.dx1 * ey - ex * m.dy1) / m.nz;
        h = w.z[i3] * ((1.0F - alpha) - beta) + (w.z[i1] * alpha + w.z[i2] * beta);
    }
    const float dd = w.z[p] - h;
    return {dd, m.factor * std::fabs(dd)};
}

void initial_scoring(DeflateWork& w, std::int32_t nnode, tin::KernelState& kernel) {
    const std::int32_t nt = w.nt;
    for (std::int32_t s = 1; s <= nt; ++s) {
        w.dd[s] = 0.0F;
        w.dw[s] = 0.0F;
        if (w.lpro[s] != 0) continue;
        const tin::Triple t =
            tin::ctrfind(w.near[s], w.x[s], w.y[s], nnode, w.x.data(), w.y.data(), w.store, w.inx.data(), kernel);
        if (t.i3 == 0) continue;
        const PointError e = point_error(w, s, t.i1, t.i2, t.i3);
        w.dd[s] = e.dd;
        w.dw[s] = e.dw;
    }
    w.select.build(w.dw.data(), 5, nt);
}

namespace {

// Locate first: the walk may draw from the seed triple whatever the outcome.
void rescore(DeflateWork& w, std::int32_t p, std::int32_t nnode, tin::KernelState& kernel) {
    const tin::Triple t =
        tin::ctrfind(w.near[p], w.x[p], w.y[p], nnode, w.x.data(), w.y.data(), w.store, w.inx.data(), kernel);
    if (t.i3 == 0 || w.z[p] < kRejectedBelow) {
        w.score(p, 0.0F, 0.0F);
        return;
    }
    const PointError e = point_error(w, p, t.i1, t.i2, t.i3);
    w.score(p, e.dd, e.dw);
}

void rescore_set(DeflateWork& w, std::int32_t owner, std::int32_t nnode, tin::KernelState& kernel) {
    for (std::int32_t p = w.near[owner]; p != 0; p = w.next[p]) rescore(w, p, nnode, kernel);
}

}  // namespace

void upcache(DeflateWork& w, std::int32_t kk, std::int32_t nnode, tin::KernelState& kernel) {
    w.score(kk, 0.0F, 0.0F);
    rescore_set(w, kk, nnode, kernel);
    // Neighbours by list position, first (after lend) to last (at lend).
    const std::int32_t lpl = w.store.lend[kk];
    std::int32_t lp = lpl;
    do {
        lp = w.store.lptr[lp];
        rescore_set(w, std::abs(w.store.list[lp]), nnode, kernel);
    } while (lp != lpl);
}

}  // namespace krel::deflate
