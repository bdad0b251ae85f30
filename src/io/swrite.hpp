#pragma once
// The result writer: kept nodes in absolute coordinates, one fixed-width line
// each, in one of six layouts.

#include <cstdint>
#include <span>
#include <string>

namespace krel::io {

// Appends the nodes idx[0..) (1-based node numbers into x, y, z) to out:
// "X,Y,Z" first when ifmt is 2, then one line per node in layout ifmt, widened
// (layout ifmt + 1) when xorig or yorig is above 899999.0. X and Y are formed
// in double: the float offset widened, then the origin added.
void swrite(const float* x, const float* y, const float* z, std::span<const std::int32_t> idx,
            double xorig, double yorig, std::int32_t ifmt, std::string& out);

// Appends nodes 1..n unprocessed, "(2f11.2,f9.3)", for the store-as-loaded mode.
void write_as_loaded(const float* x, const float* y, const float* z, std::int32_t first,
                     std::int32_t last, double xorig, double yorig, std::string& out);

}  // namespace krel::io
