#include "io/huge_pages.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "support/sanitized.hpp"

namespace {

constexpr std::size_t kHuge = std::size_t{2} << 20;

// Every size on either side of the 2 MiB line: usable end to end, aligned
// for any object (large ones on a 2 MiB boundary, but under AddressSanitizer,
// where they come from malloc), and released without harm.
TEST(HugePages, ArraysOfEverySize) {
    for (const std::size_t n : {std::size_t{0}, std::size_t{1}, kHuge / 2 - 1, kHuge / 2, kHuge - 1, kHuge, kHuge + 1,
                                5 * kHuge + 3}) {
        SCOPED_TRACE(testing::Message() << n << " bytes");
        krel::io::HugeArray<unsigned char> a = krel::io::allocate_huge_array<unsigned char>(n);
        ASSERT_NE(a.get(), nullptr);
        std::size_t nonzero = 0;
        for (std::size_t i = 0; i < n; ++i) nonzero += a[i] != 0 ? 1 : 0;
        EXPECT_EQ(nonzero, 0U);
        const auto at = reinterpret_cast<std::uintptr_t>(a.get());
        EXPECT_EQ(at % alignof(std::max_align_t), 0U);
        if (n >= kHuge && !krel::test::sanitized()) {
            EXPECT_EQ(at % kHuge, 0U);
        }
        for (std::size_t i = 0; i < n; ++i) a[i] = static_cast<unsigned char>(i * 7);
        std::size_t wrong = 0;
        for (std::size_t i = 0; i < n; ++i) wrong += a[i] != static_cast<unsigned char>(i * 7) ? 1 : 0;
        EXPECT_EQ(wrong, 0U);
    }
    EXPECT_EQ(krel::io::allocate_huge_array<std::int32_t>(static_cast<std::size_t>(-1) / 2).get(), nullptr);
}

// A vector on these arrays keeps its contents while it grows across the line.
TEST(HugePages, VectorGrowsAcrossTheLine) {
    std::vector<std::int32_t, krel::io::HugeAllocator<std::int32_t>> v;
    for (std::int32_t k = 0; k < 3 * static_cast<std::int32_t>(kHuge / sizeof(std::int32_t)); ++k) v.push_back(k);
    std::size_t wrong = 0;
    for (std::size_t k = 0; k < v.size(); ++k) wrong += v[k] != static_cast<std::int32_t>(k) ? 1 : 0;
    EXPECT_EQ(wrong, 0U);
}

// Zeroed every time, also where memory comes back to malloc written on and
// is handed out again: the slot and raster arrays count on it.
TEST(HugePages, ReusedMemoryComesZeroed) {
    for (const std::size_t n : {std::size_t{64}, std::size_t{100000}, kHuge / 2 - 64, kHuge + 5}) {
        SCOPED_TRACE(testing::Message() << n << " bytes");
        for (int round = 0; round < 3; ++round) {
            krel::io::HugeArray<unsigned char> a = krel::io::allocate_huge_array<unsigned char>(n);
            ASSERT_NE(a.get(), nullptr);
            std::size_t nonzero = 0;
            for (std::size_t i = 0; i < n; ++i) nonzero += a[i] != 0 ? 1 : 0;
            EXPECT_EQ(nonzero, 0U);
            std::memset(a.get(), 0xA5, n);
        }
    }
}

// resize(n) without a value gives zeros past the old end, below and across
// the line, and keeps what was there.
TEST(HugePages, VectorResizeGivesZeros) {
    std::vector<std::int32_t, krel::io::HugeAllocator<std::int32_t>> v;
    std::size_t old = 0;
    for (const std::size_t n : {std::size_t{10}, std::size_t{5000}, kHuge / 8, kHuge, 3 * kHuge}) {
        SCOPED_TRACE(testing::Message() << n << " elements");
        v.resize(n);
        std::size_t wrong = 0;
        for (std::size_t k = 0; k < old; ++k) wrong += v[k] != static_cast<std::int32_t>(k) + 1 ? 1 : 0;
        for (std::size_t k = old; k < n; ++k) wrong += v[k] != 0 ? 1 : 0;
        EXPECT_EQ(wrong, 0U);
        for (std::size_t k = old; k < n; ++k) v[k] = static_cast<std::int32_t>(k) + 1;
        old = n;
    }
}

}  // namespace
