#pragma once
// Constraint-curve queries. krel never has constraint curves (ncc is always
// 0), so only the answers for ncc = 0 exist; lcc is never read.

#include <cstdint>

#include "tin/store.hpp"

namespace krel::tin {

// Whether triangle (i1, i2, i3) lies in a constraint region: false for
// ncc <= 0. Expects ncc <= 0.
bool crtri(std::int32_t ncc, const std::int32_t* lcc, std::int32_t i1, std::int32_t i2, std::int32_t i3);

// Index of the constraint curve that bounds the exterior: 0 for ncc < 1.
// Expects ncc < 1.
std::int32_t indxcc(std::int32_t ncc, const std::int32_t* lcc, std::int32_t n, const Store& store);

}  // namespace krel::tin
