#pragma once
// Arrays large enough to be backed by 2 MiB pages. The node arrays and the
// tile working sets are read at random: with 4 KiB pages every first touch is
// a page fault (a tenth of a million-point run's time went to them, more with
// two threads) and most reads miss the address cache. Where the system gives
// such pages only on request (transparent huge pages in "madvise" mode), an
// array asks for them; elsewhere the request changes nothing. Contents are
// never initialised.

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>

namespace krel::io {

struct FreeDeleter {
    void operator()(void* p) const noexcept { std::free(p); }
};
template <class T>
using HugeArray = std::unique_ptr<T[], FreeDeleter>;

// Room for n objects of a trivial type, uninitialised; null when it cannot
// be had. Arrays of 2 MiB or more start on a 2 MiB boundary and span whole
// 2 MiB pages.
void* allocate_huge(std::size_t bytes) noexcept;

template <class T>
HugeArray<T> allocate_huge_array(std::size_t n) noexcept {
    static_assert(std::is_trivially_default_constructible_v<T> && std::is_trivially_destructible_v<T>);
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) return nullptr;
    return HugeArray<T>(static_cast<T*>(allocate_huge(n * sizeof(T))));
}

// The same for a std::vector's storage (value-initialised by the vector as
// usual).
template <class T>
struct HugeAllocator {
    using value_type = T;
    HugeAllocator() = default;
    template <class U>
    HugeAllocator(const HugeAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
        void* p = allocate_huge(n * sizeof(T));
        if (p == nullptr) throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t) noexcept { std::free(p); }
    template <class U>
    bool operator==(const HugeAllocator<U>&) const noexcept {
        return true;
    }
};

}  // namespace krel::io
