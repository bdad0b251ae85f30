#pragma once
// The mesh files: the kept nodes and the triangles over them in the formats
// that viewers, hydraulic models and surveying software read. Vertices are
// numbered in result order; files that count from 1 (OBJ, 2dm, Gmsh,
// LandXML) add 1 to the node number.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>

namespace krel::io {

enum class OutputKind { ply, obj, twodm, msh, landxml, las };

// The kind an output name asks for by its extension (.ply, .obj, .2dm, .msh,
// .xml, .las; any case), nullopt for any other name.
[[nodiscard]] std::optional<OutputKind> output_kind(std::string_view name);

// The nodes (0-based; x and y relative to the origin, z absolute) and the
// triangles (0-based node numbers, counterclockwise).
struct MeshView {
    std::span<const float> x, y, z;
    double xorig = 0.0, yorig = 0.0;
    std::span<const std::array<std::int32_t, 3>> triangles;
};

using ByteOut = std::function<void(std::string_view)>;

// Writes the mesh as `kind` (not las) to out, in pieces. Absolute x and y are
// formed as the result writer forms them (the float widened, then the origin
// added). Binary PLY holds those doubles; the text formats print x, y and z
// with three decimals, as the result does.
void write_mesh(OutputKind kind, const MeshView& mesh, const ByteOut& out);

}  // namespace krel::io
