#pragma once
// LAS output of the kept nodes: point format 0, class 2 (ground), version
// 1.2, or 1.4 when the first LAS input was 1.4. Scale and offset are those of
// the first LAS input, whose coordinate-system records are copied; without a
// LAS input the scale is 0.001 and the offset the run's origin to the whole
// metre, and no coordinate system is claimed.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "io/mesh_files.hpp"

namespace krel::io {

// What the output takes over from the first LAS input.
struct LasFrame {
    bool from_input = false;        // false: the defaults above
    std::uint8_t version_minor = 2;  // 2, or 4 when the input was 1.4
    std::uint16_t global_encoding = 0;  // only the WKT bit (4) of a 1.4 input
    double scale[3] = {0.001, 0.001, 0.001};
    double offset[3] = {0, 0, 0};
    std::vector<std::string> vlrs;  // whole records (54-byte header and payload), "LASF_Projection" only
};

// Reads the header and the coordinate-system records of a LAS file (which
// the run has read already). Throws IoError when it cannot be read.
[[nodiscard]] LasFrame read_las_frame(const std::string& name);

// The defaults for a run without LAS input, around its origin.
[[nodiscard]] LasFrame default_las_frame(double xorig, double yorig);

// Writes the nodes (0-based; x, y relative to the origin, z absolute) as
// LAS to out. Throws IoError naming `shown` when a node does not fit the
// scale and offset (more than 2^31 steps from the offset).
void write_las(const LasFrame& frame, std::span<const float> x, std::span<const float> y,
               std::span<const float> z, double xorig, double yorig, const std::string& shown, const ByteOut& out);

}  // namespace krel::io
