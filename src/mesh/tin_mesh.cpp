#include "mesh/tin_mesh.hpp"

#include <CGAL/Delaunay_triangulation_2.h>
#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Triangulation_face_base_with_info_2.h>
#include <CGAL/Triangulation_vertex_base_with_info_2.h>

#include <algorithm>
#include <cmath>
#include <utility>

namespace krel::mesh {

namespace {

using Kernel = CGAL::Exact_predicates_inexact_constructions_kernel;
using VertexBase = CGAL::Triangulation_vertex_base_with_info_2<std::int32_t, Kernel>;  // node number
using FaceBase = CGAL::Triangulation_face_base_with_info_2<std::int32_t, Kernel>;      // kept triangle, -1: dropped
using Tds = CGAL::Triangulation_data_structure_2<VertexBase, FaceBase>;
using Delaunay = CGAL::Delaunay_triangulation_2<Kernel, Tds>;
using Point = Kernel::Point_2;

// Triangle rotated to start at its smallest node; the turn is kept.
Triangle canonical(std::int32_t a, std::int32_t b, std::int32_t c) {
    if (b < a && b < c) return {b, c, a};
    if (c < a && c < b) return {c, a, b};
    return {a, b, c};
}

}  // namespace

struct Mesh::Impl {
    const Nodes* nodes = nullptr;
    Delaunay dt;
    Delaunay::Face_handle last;  // where the next walk starts
};

Mesh::Mesh(const Nodes& nodes, const Clip& clip) : impl_(std::make_unique<Impl>()) {
    impl_->nodes = &nodes;
    // Relative float coordinates widen to double exactly, so the predicates
    // decide on the very values the run thinned with.
    std::vector<std::pair<Point, std::int32_t>> points;
    points.reserve(nodes.x.size());
    for (std::int32_t i = 0; i < nodes.size(); ++i) {
        const float x = nodes.x[static_cast<std::size_t>(i)], y = nodes.y[static_cast<std::size_t>(i)];
        // A coordinate that overflowed to infinity (or a NaN) has no place in
        // the plane and breaks the library's predicates: such a node stays
        // in the vertex list but in no triangle.
        if (!std::isfinite(x) || !std::isfinite(y)) continue;
        points.emplace_back(Point(x, y), i);
    }
    Delaunay& dt = impl_->dt;
    // Range insertion sorts the points along a space-filling curve first;
    // the sort is deterministic, so equal inputs give equal triangulations
    // also where four nodes lie on one circle.
    dt.insert(points.begin(), points.end());
    points.clear();
    points.shrink_to_fit();
    if (dt.dimension() < 2) return;

    const bool by_hull = clip.hull != nullptr && clip.hull->active();
    const double max2 = clip.max_edge * clip.max_edge;
    auto too_long = [&](std::int32_t a, std::int32_t b) {
        const double dx = static_cast<double>(nodes.x[static_cast<std::size_t>(a)]) - nodes.x[static_cast<std::size_t>(b)];
        const double dy = static_cast<double>(nodes.y[static_cast<std::size_t>(a)]) - nodes.y[static_cast<std::size_t>(b)];
        return dx * dx + dy * dy > max2;
    };
    // Kept faces grouped by their smallest node (a counting sort: each
    // triangle starts there), then ordered within the group: the triangle
    // order depends on the nodes alone, not on the library's memory layout.
    const auto nn = static_cast<std::size_t>(nodes.size());
    std::vector<std::int64_t> first(nn + 1, 0);
    std::vector<Delaunay::Face_handle> faces;
    faces.reserve(static_cast<std::size_t>(dt.number_of_faces()));
    for (auto f = dt.finite_faces_begin(); f != dt.finite_faces_end(); ++f) {
        ++delaunay_;
        f->info() = -1;
        const std::int32_t a = f->vertex(0)->info(), b = f->vertex(1)->info(), c = f->vertex(2)->info();
        if (clip.max_edge > 0.0 && (too_long(a, b) || too_long(b, c) || too_long(c, a))) continue;
        if (by_hull) {
            // Centroid in absolute coordinates, as the reader tests points.
            auto abs_x = [&](std::int32_t k) { return static_cast<double>(nodes.x[static_cast<std::size_t>(k)]) + clip.xorig; };
            auto abs_y = [&](std::int32_t k) { return static_cast<double>(nodes.y[static_cast<std::size_t>(k)]) + clip.yorig; };
            const double cx = (abs_x(a) + abs_x(b) + abs_x(c)) / 3.0;
            const double cy = (abs_y(a) + abs_y(b) + abs_y(c)) / 3.0;
            if (!io::inside_hull(*clip.hull, cx, cy)) continue;
        }
        ++first[static_cast<std::size_t>(std::min(a, std::min(b, c))) + 1];
        faces.push_back(f);
    }
    for (std::size_t k = 0; k < nn; ++k) first[k + 1] += first[k];
    triangles_.resize(faces.size());
    std::vector<Delaunay::Face_handle> placed(faces.size());
    for (const auto& f : faces) {
        const Triangle t = canonical(f->vertex(0)->info(), f->vertex(1)->info(), f->vertex(2)->info());
        const auto at = static_cast<std::size_t>(first[static_cast<std::size_t>(t[0])]++);
        triangles_[at] = t;
        placed[at] = f;
    }
    faces.clear();
    faces.shrink_to_fit();
    // first[k] is now where group k + 1 starts; groups hold a handful of
    // triangles, so an insertion sort is enough.
    std::size_t begin = 0;
    for (std::size_t k = 0; k < nn; ++k) {
        const auto end = static_cast<std::size_t>(first[k]);
        for (std::size_t i = begin + 1; i < end; ++i) {
            for (std::size_t j = i; j > begin && triangles_[j] < triangles_[j - 1]; --j) {
                std::swap(triangles_[j], triangles_[j - 1]);
                std::swap(placed[j], placed[j - 1]);
            }
        }
        begin = end;
    }
    for (std::size_t i = 0; i < placed.size(); ++i) placed[i]->info() = static_cast<std::int32_t>(i);
}

Mesh::~Mesh() = default;

std::optional<double> Mesh::height(double x, double y) {
    Delaunay& dt = impl_->dt;
    if (dt.dimension() < 2 || !std::isfinite(x) || !std::isfinite(y)) return std::nullopt;
    const Nodes& n = *impl_->nodes;
    Delaunay::Locate_type lt;
    int li = 0;
    Delaunay::Face_handle f = dt.locate(Point(x, y), lt, li, impl_->last);
    if (lt == Delaunay::OUTSIDE_CONVEX_HULL || lt == Delaunay::OUTSIDE_AFFINE_HULL) return std::nullopt;
    impl_->last = f;
    if (lt == Delaunay::VERTEX) {
        // On a node: its height, when some kept triangle has it as a corner.
        const auto v = f->vertex(li);
        auto around = dt.incident_faces(v), done = around;
        do {
            if (!dt.is_infinite(around) && around->info() >= 0) return n.z[static_cast<std::size_t>(v->info())];
        } while (++around != done);
        return std::nullopt;
    }
    if (f->info() < 0 && lt == Delaunay::EDGE) {
        const auto g = f->neighbor(li);
        if (!dt.is_infinite(g) && g->info() >= 0) f = g;
    }
    if (dt.is_infinite(f) || f->info() < 0) return std::nullopt;
    // Linear interpolation from corner 0, in double.
    auto at = [&](int k) { return static_cast<std::size_t>(f->vertex(k)->info()); };
    const double x0 = n.x[at(0)], y0 = n.y[at(0)], z0 = n.z[at(0)];
    const double x1 = static_cast<double>(n.x[at(1)]) - x0, y1 = static_cast<double>(n.y[at(1)]) - y0;
    const double x2 = static_cast<double>(n.x[at(2)]) - x0, y2 = static_cast<double>(n.y[at(2)]) - y0;
    const double px = x - x0, py = y - y0;
    const double d = x1 * y2 - x2 * y1;
    const double l1 = (px * y2 - x2 * py) / d;
    const double l2 = (x1 * py - px * y1) / d;
    return z0 + l1 * (static_cast<double>(n.z[at(1)]) - z0) + l2 * (static_cast<double>(n.z[at(2)]) - z0);
}

}  // namespace krel::mesh
