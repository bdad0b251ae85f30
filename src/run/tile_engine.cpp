#include "run/tile_engine.hpp"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <span>
#include <system_error>
#include <thread>

#include "deflate/sdeflate.hpp"
#include "filter/sfilt.hpp"
#include "io/swrite.hpp"
#include "io/textout.hpp"

namespace krel {

namespace {

bool same_state(const tin::SeedTriple& a, const tin::SeedTriple& b) {
    return a.ix == b.ix && a.iy == b.iy && a.iz == b.iz;
}

}  // namespace

// Aligned and padded to whole cache lines: the kernel's scratch cell and the
// scoring memo are written all the time, and must not share a line with the
// next worker's.
struct alignas(128) TileEngine::Worker {
    filter::FilterWork filter;
    std::optional<deflate::DeflateWork> deflate;
    alignas(128) tin::KernelState kernel;  // swtol and scratch of this worker; seeds set per tile
    char pad[128];
};

struct TileEngine::Job {
    TileResult result;
    Seeds given;                          // the state the tile ran from
    Seeds after;                          // the state it left
    bool drew = false;                    // it drew from a seed triple
    std::vector<std::int32_t> filtered;   // the filter's nodes, for a second run
    std::exception_ptr error;
    bool done = false;
};

TileEngine::TileEngine(const RunSettings& settings, int workers, std::int32_t draw_every, deflate::SkipCheck* check)
    : s_(settings), check_(check) {
    if (workers < 1) workers = 1;
    // Each worker holds a whole tile working set (about 17 MB). Beyond a few
    // per hardware thread more of them only take memory, and an absurd -j
    // must not take all of it; the output does not depend on the count.
    const unsigned cores = std::thread::hardware_concurrency();
    const int most = 4 * static_cast<int>(cores == 0 ? 1 : std::min(cores, 1024U));
    if (workers > most) workers = most;
    for (int i = 0; i < workers; ++i) {
        auto w = std::make_unique<Worker>();  // aligned new: C++17
        w->kernel.draw_every = draw_every;
        if (settings.tol > 0.0F) w->deflate.emplace();
        workers_.push_back(std::move(w));
    }
}

TileEngine::~TileEngine() = default;

bool TileEngine::process(const TileBatch& b, std::int32_t t, Worker& w, Seeds& seeds, Job& job,
                         bool keep_filtered) {
    const auto first = static_cast<std::size_t>((*b.start)[static_cast<std::size_t>(t)]);
    const auto last = static_cast<std::size_t>((*b.start)[static_cast<std::size_t>(t) + 1]);
    const std::span<std::int32_t> tile(b.idx + 1 + first, last - first);
    TileResult& r = job.result;
    r.tile = b.first_tile + t - 1;
    r.before = static_cast<std::int64_t>(tile.size());
    r.console.clear();
    r.listing.clear();
    r.result.clear();
    std::int64_t npt;
    if (keep_filtered) {
        npt = filter::sfilt(b.x, b.y, b.z, tile, s_.dx, w.filter);
        if (w.deflate) job.filtered.assign(tile.begin(), tile.begin() + static_cast<std::ptrdiff_t>(npt));
    } else {
        // A second run: the filter's nodes come from the first.
        npt = static_cast<std::int64_t>(job.filtered.size());
        std::copy(job.filtered.begin(), job.filtered.end(), tile.begin());
    }
    bool drew = false;
    if (w.deflate) {
        w.kernel.trfind_seeds = seeds.trfind;
        w.kernel.ctrfind_seeds = seeds.ctrfind;
        w.kernel.ctrfind_calls = 0;
        io::StringOut listing, console;
        deflate::DeflateOptions options;
        options.check = check_;
        npt = deflate::sdeflate(b.x, b.y, b.z, tile.first(static_cast<std::size_t>(npt)), s_.tol, *w.deflate,
                                w.kernel, listing, console, options);
        drew = w.kernel.trfind_seeds.draws != seeds.trfind.draws || w.kernel.ctrfind_seeds.draws != seeds.ctrfind.draws;
        seeds.trfind = w.kernel.trfind_seeds;
        seeds.ctrfind = w.kernel.ctrfind_seeds;
        r.listing = listing.take();
        r.console = console.take();
    }
    io::swrite(b.x, b.y, b.z, tile.first(static_cast<std::size_t>(npt)), b.xorig, b.yorig, s_.ifmt, r.result);
    r.npt = npt;
    return drew;
}

void TileEngine::run(const TileBatch& b, const std::function<void(const TileResult&)>& emit) {
    const auto nworkers = static_cast<std::int32_t>(workers_.size());
    // Tiles ahead of the one to emit: bounds the results held in memory.
    const std::int32_t window = nworkers == 1 ? 1 : 2 * nworkers;
    std::vector<Job> jobs(static_cast<std::size_t>(window));
    auto job_of = [&](std::int32_t t) -> Job& { return jobs[static_cast<std::size_t>(t % window)]; };

    std::mutex m;
    std::condition_variable cv;
    std::int32_t next = 1;     // next tile to start
    std::int32_t emitted = 0;  // tiles handed to emit
    bool stop = false;

    // Takes the next tile when its turn is near enough; runs it outside the lock.
    auto work_one = [&](Worker& w, std::unique_lock<std::mutex>& lock) {
        const std::int32_t t = next++;
        Job& job = job_of(t);
        job.done = false;
        job.error = nullptr;
        job.given = truth_;
        Seeds seeds = truth_;
        lock.unlock();
        try {
            job.drew = process(b, t, w, seeds, job, true);
            job.after = seeds;
        } catch (...) {
            job.error = std::current_exception();
        }
        lock.lock();
        job.done = true;
        cv.notify_all();
    };
    auto can_start = [&] { return next <= b.count && next <= emitted + window; };

    std::vector<std::thread> threads;
    // A thread that cannot be had (memory short) leaves its share to the others.
    try {
        for (std::int32_t i = 1; i < nworkers; ++i) {
            threads.emplace_back([&, i] {
                std::unique_lock<std::mutex> lock(m);
                for (;;) {
                    cv.wait(lock, [&] { return stop || can_start(); });
                    if (stop) return;
                    work_one(*workers_[static_cast<std::size_t>(i)], lock);
                }
            });
        }
    } catch (const std::system_error&) {
    }
    auto finish = [&] {
        {
            std::lock_guard<std::mutex> lock(m);
            stop = true;
        }
        cv.notify_all();
        for (std::thread& th : threads) th.join();
    };

    try {
        std::unique_lock<std::mutex> lock(m);
        for (std::int32_t t = 1; t <= b.count; ++t) {
            Job& job = job_of(t);
            // The calling thread works too while its tile is not done.
            while (!(next > t && job.done)) {
                if (can_start()) work_one(*workers_[0], lock);
                else cv.wait(lock);
            }
            lock.unlock();
            if (job.error) std::rethrow_exception(job.error);
            if (job.drew && !(same_state(job.given.trfind, truth_.trfind) &&
                              same_state(job.given.ctrfind, truth_.ctrfind))) {
                // It drew from a state that turned out wrong: again from the true one.
                Seeds seeds = truth_;
                (void)process(b, t, *workers_[0], seeds, job, false);
                job.after = seeds;
                ++reruns_;
            }
            if (job.drew) truth_ = job.after;
            emit(job.result);
            lock.lock();
            ++emitted;
            cv.notify_all();
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

}  // namespace krel
