#pragma once
// The surface the mesh outputs describe: a Delaunay triangulation of every
// kept node of the run, across tiles, with exact predicates, clipped to the
// hull and to a longest edge. The triangulation library stays inside
// tin_mesh.cpp; callers see node numbers and triangles only.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "io/hull.hpp"

namespace krel::mesh {

// The kept nodes in result order (0-based): x and y relative to the run's
// origin, as the node arrays hold them; z absolute.
struct Nodes {
    std::vector<float> x, y, z;

    [[nodiscard]] std::int32_t size() const { return static_cast<std::int32_t>(x.size()); }
    void push(float px, float py, float pz) {
        x.push_back(px);
        y.push_back(py);
        z.push_back(pz);
    }
};

// Which Delaunay triangles the mesh keeps.
struct Clip {
    const io::Hull* hull = nullptr;  // set and active: the centroid must pass the hull test
    double xorig = 0.0, yorig = 0.0;  // origin of Nodes, for the hull test in absolute coordinates
    double max_edge = 0.0;            // > 0: no edge longer than this [m]
};

using Triangle = std::array<std::int32_t, 3>;  // 0-based node numbers, counterclockwise

class Mesh {
public:
    // Triangulates nodes (which must outlive the mesh) and applies clip.
    // Nodes at the same x and y: one of them is a vertex, the others belong to
    // no triangle. Fewer than three nodes, or all on one line: no triangle.
    Mesh(const Nodes& nodes, const Clip& clip);
    ~Mesh();
    Mesh(const Mesh&) = delete;
    Mesh& operator=(const Mesh&) = delete;

    // The kept triangles, each starting at its smallest node number, sorted:
    // the order depends on the nodes alone.
    [[nodiscard]] const std::vector<Triangle>& triangles() const { return triangles_; }
    // Triangles of the Delaunay triangulation before clipping.
    [[nodiscard]] std::int64_t delaunay_triangles() const { return delaunay_; }

    // Height of the kept surface at (x, y), relative coordinates: linear in
    // the kept triangle holding the point (on a shared edge or node, either
    // side gives the same height). nullopt when no kept triangle holds it:
    // outside the nodes' convex hull, or in a triangle the clip dropped. The
    // search walks from the triangle found last, so nearby queries in a row
    // are cheap.
    [[nodiscard]] std::optional<double> height(double x, double y);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::vector<Triangle> triangles_;
    std::int64_t delaunay_ = 0;
};

}  // namespace krel::mesh
