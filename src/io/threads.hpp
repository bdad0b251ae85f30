#pragma once
// How many threads a task that asks for some is given.

#include <algorithm>
#include <thread>

namespace krel::io {

// At least one; beyond four per hardware thread more workers only take
// memory (each holds a working set of its own), and an absurd -j must not
// take all of it. Nothing the run writes depends on the count.
[[nodiscard]] inline int useful_threads(int asked) {
    const unsigned cores = std::thread::hardware_concurrency();
    const int most = 4 * static_cast<int>(cores == 0 ? 1 : std::min(cores, 1024U));
    return std::clamp(asked, 1, most);
}

}  // namespace krel::io
