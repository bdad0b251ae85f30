#pragma once
// The fit report: the vertical error of every point the raster filter kept,
// in every tile, against the written mesh. The mesh exists only once every
// tile is done, so the tiles' filtered points wait in a temporary file, in
// tile order, and are read back one tile at a time: memory stays that of one
// tile, whatever the run's size.
//
// Error = point z - mesh height, rounded to float. A point that no kept
// triangle holds (outside the nodes' convex hull, or where the hull or the
// longest edge dropped the triangle) has no error: it is counted apart.
// rms over the covered points in double; max and p95 (nearest rank, the
// ceil(0.95 n)-th smallest) over the absolute errors.

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "io/mesh_files.hpp"
#include "mesh/tin_mesh.hpp"

namespace krel {

struct FitStats {
    std::int64_t points = 0;     // filtered points
    std::int64_t uncovered = 0;  // of those, held by no kept triangle
    double rms = 0.0;            // over the covered points [m]
    float max = 0.0F;            // largest absolute error [m]
    float p95 = 0.0F;            // 95th percentile of the absolute errors [m]
};

class FitReport {
public:
    // Creates the temporary file in $TMPDIR, else in `fallback_folder`,
    // registered for removal on an interrupt. Throws io::IoError.
    explicit FitReport(const std::string& fallback_folder);
    ~FitReport();  // removes the temporary file
    FitReport(const FitReport&) = delete;
    FitReport& operator=(const FitReport&) = delete;

    // One tile's filtered points (x, y relative, z: triples), in tile order.
    void add_tile(std::int32_t tile, std::int64_t nodes, std::span<const float> xyz);

    // Measures every tile against mesh: the CSV (header and one line per
    // tile) goes to csv; returns the whole run's figures.
    FitStats finish(mesh::Mesh& mesh, const io::ByteOut& csv);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The console line of the run's figures, with its LF.
[[nodiscard]] std::string fit_line(std::int64_t triangles, const FitStats& run);

}  // namespace krel
