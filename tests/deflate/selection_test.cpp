#include "deflate/selection.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <vector>

namespace {

using krel::deflate::select_by_scan;
using krel::deflate::Selection;

// The tree against the scan under random changes with many ties and NaNs
// (small sets often hold nothing but NaN: the previous choice stays), small
// and large batches between the questions.
TEST(Selection, SameSlotAsTheScan) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (unsigned seed : {1U, 2U, 3U, 4U}) {
        for (int n : {1, 2, 3, 7, 100, 1000}) {
            SCOPED_TRACE(testing::Message() << "seed " << seed << ", " << n << " slots");
            std::mt19937 rng(seed);
            std::vector<float> dw(static_cast<std::size_t>(n) + 5, 0.0F);
            auto draw = [&] {
                switch (rng() % 5) {
                case 0: return nan;
                case 1: return 0.0F;
                case 2: return static_cast<float>(rng() % 4);  // ties
                default: return static_cast<float>(rng() % 1000) / 7.0F;
                }
            };
            for (int s = 5; s < n + 5; ++s) dw[s] = draw();
            Selection sel;
            sel.build(dw.data(), 5, n + 4);
            std::int32_t kmax = 0;
            for (int round = 0; round < 200; ++round) {
                const int changes = round % 10 == 0 ? n : static_cast<int>(rng() % 4);
                for (int c = 0; c < changes; ++c) {
                    const auto s = static_cast<std::int32_t>(5 + rng() % static_cast<unsigned>(n));
                    dw[s] = draw();
                    sel.changed(s);
                }
                sel.flush();
                const std::int32_t scan = select_by_scan(dw.data(), 5, n + 4, kmax);
                const std::int32_t best = sel.best();
                ASSERT_EQ(best != 0 ? best : kmax, scan) << "round " << round;
                kmax = scan;
            }
        }
    }
}

}  // namespace
