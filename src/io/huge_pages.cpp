#include "io/huge_pages.hpp"

#include <sys/mman.h>

namespace krel::io {

namespace {
constexpr std::size_t kHuge = std::size_t{2} << 20;
}

void* allocate_huge(std::size_t bytes) noexcept {
    if (bytes < kHuge) return std::malloc(bytes == 0 ? 1 : bytes);
    const std::size_t whole = (bytes + kHuge - 1) / kHuge * kHuge;
    if (whole < bytes) return nullptr;
    void* p = nullptr;
    if (posix_memalign(&p, kHuge, whole) != 0) return nullptr;
    // Only advice: where it is refused the array works on small pages.
    (void)madvise(p, whole, MADV_HUGEPAGE);
    return p;
}

}  // namespace krel::io
