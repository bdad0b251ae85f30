#include <malloc.h>
#include <pthread.h>

#include <iostream>

#include "run/run.hpp"

int main(int argc, char** argv) {
    // One malloc arena for all threads: each extra arena reserves 64 MB of
    // address space, which a run under an address-space limit needs for its
    // points. The threads allocate little (per tile, not per point).
    mallopt(M_ARENA_MAX, 1);
    // Worker and reader threads need little stack (no recursion, the arrays
    // are on the heap): 1 MB each instead of 8, for the same reason.
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) == 0) {
        pthread_attr_setstacksize(&attr, std::size_t{1} << 20);
        pthread_setattr_default_np(&attr);
        pthread_attr_destroy(&attr);
    }
    std::ios::sync_with_stdio(false);
    return static_cast<int>(krel::run(argc, argv, std::cout, std::cerr, std::cin));
}
