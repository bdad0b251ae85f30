#include "tin/crtri.hpp"

#include <cassert>

namespace krel::tin {

bool crtri(std::int32_t ncc, const std::int32_t* /*lcc*/, std::int32_t /*i1*/, std::int32_t /*i2*/,
           std::int32_t /*i3*/) {
    assert(ncc <= 0 && "constraint curves are not supported");
    (void)ncc;
    return false;
}

std::int32_t indxcc(std::int32_t ncc, const std::int32_t* /*lcc*/, std::int32_t /*n*/, const Store& /*store*/) {
    assert(ncc < 1 && "constraint curves are not supported");
    (void)ncc;
    return 0;
}

}  // namespace krel::tin
