#pragma once
// Arrays large enough to be backed by 2 MiB pages. The node arrays and the
// tile working sets are large and read at random: with 4 KiB pages every
// first touch is a page fault (a tenth of a million-point run's time went to
// them, more with two threads) and most reads miss the address cache. Where
// the system gives such pages only on request (transparent huge pages in
// "madvise" mode), an array asks for them; elsewhere the request changes
// nothing. An array of 1 MiB or more takes its size rounded up to whole 2 MiB
// pages of address space (2 MiB more only while it is being placed); a
// smaller one comes from malloc.

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace krel::io {

// Room for `bytes`, zeroed, aligned for any object; null when it cannot be
// had. Released by release_huge with the same size. Zeroed at no cost: a
// fresh mapping is zero, and calloc knows when its memory is; a page that
// is never written is never touched.
void* allocate_huge(std::size_t bytes) noexcept;
void release_huge(void* p, std::size_t bytes) noexcept;

struct HugeDeleter {
    std::size_t bytes = 0;
    bool part = false;  // a part of a larger array, released with that
    void operator()(void* p) const noexcept {
        if (!part) release_huge(p, bytes);
    }
};
template <class T>
using HugeArray = std::unique_ptr<T[], HugeDeleter>;

// Bytes rounded up to whole cache lines: the offset of the next array where
// several share one block, each on lines of its own.
constexpr std::size_t whole_lines(std::size_t bytes) { return (bytes + 63) / 64 * 64; }

// n objects of a trivial type, zeroed; null when they cannot be had.
template <class T>
HugeArray<T> allocate_huge_array(std::size_t n) noexcept {
    static_assert(std::is_trivially_default_constructible_v<T> && std::is_trivially_destructible_v<T>);
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) return HugeArray<T>(nullptr, HugeDeleter{0});
    const std::size_t bytes = n * sizeof(T);
    return HugeArray<T>(static_cast<T*>(allocate_huge(bytes)), HugeDeleter{bytes});
}

// The same for a std::vector's storage. An element value-initialised by the
// vector (resize(n), no value) is left as the storage has it, zero: so a
// large array sized up front costs only the pages its use writes. That holds
// for a vector that only grows (a shrunk one would get its old values back
// on growing again within its capacity); give a value where that matters.
template <class T>
struct HugeAllocator {
    using value_type = T;
    template <class U>
    void construct(U*) noexcept {
        static_assert(std::is_arithmetic_v<U>);
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
    HugeAllocator() = default;
    template <class U>
    HugeAllocator(const HugeAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
        void* p = allocate_huge(n * sizeof(T));
        if (p == nullptr) throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t n) noexcept { release_huge(p, n * sizeof(T)); }
    template <class U>
    bool operator==(const HugeAllocator<U>&) const noexcept {
        return true;
    }
};

}  // namespace krel::io
