#include "io/huge_pages.hpp"

#include <cstdint>
#include <sys/mman.h>

namespace krel::io {

namespace {

constexpr std::size_t kHuge = std::size_t{2} << 20;

// Under AddressSanitizer every array comes from malloc, where reads and
// writes past its end are caught.
constexpr bool kPlain =
#if defined(__SANITIZE_ADDRESS__)
    true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    true;
#else
    false;
#endif
#else
    false;
#endif

// Arrays from half a page up: one 2 MiB page is touched (and, where memory
// is handed to the machine on first touch, supplied) at a fraction of the
// cost of 256 or more small ones.
constexpr std::size_t kHugeFrom = kHuge / 2;

// Whole 2 MiB pages: a part at the end would be served in small pages.
std::size_t mapped(std::size_t bytes) { return (bytes + kHuge - 1) / kHuge * kHuge; }

}  // namespace

void* allocate_huge(std::size_t bytes) noexcept {
    if (kPlain || bytes < kHugeFrom) return std::calloc(bytes == 0 ? 1 : bytes, 1);
    const std::size_t len = mapped(bytes);
    if (len < bytes) return nullptr;
    // Map 2 MiB more and give back what lies before the first 2 MiB boundary
    // and after the array; under a tight address-space limit, where the extra
    // cannot be had, the array starts wherever it may.
    void* p = nullptr;
    if (len + kHuge > len) p = ::mmap(nullptr, len + kHuge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p != MAP_FAILED && p != nullptr) {
        const auto at = reinterpret_cast<std::uintptr_t>(p);
        const std::uintptr_t start = (at + kHuge - 1) / kHuge * kHuge;
        if (start > at) ::munmap(p, start - at);
        if (start + len < at + len + kHuge) ::munmap(reinterpret_cast<void*>(start + len), at + kHuge - start);
        p = reinterpret_cast<void*>(start);
    } else {
        p = ::mmap(nullptr, len, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) return nullptr;
    }
    // Only advice: where it is refused the array lives on small pages.
    (void)::madvise(p, len, MADV_HUGEPAGE);
    return p;
}

void release_huge(void* p, std::size_t bytes) noexcept {
    if (p == nullptr) return;
    if (kPlain || bytes < kHugeFrom) {
        std::free(p);
        return;
    }
    ::munmap(p, mapped(bytes));
}

}  // namespace krel::io
