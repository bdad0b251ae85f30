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
#include "io/threads.hpp"
#include "run/outputs.hpp"

namespace krel {

namespace {

bool same_state(const tin::SeedTriple& a, const tin::SeedTriple& b) {
    return a.ix == b.ix && a.iy == b.iy && a.iz == b.iz;
}

void append_xyz(const TileBatch& b, std::span<const std::int32_t> nodes, std::vector<float>& xyz) {
    xyz.reserve(3 * nodes.size());
    for (const std::int32_t i : nodes) {
        xyz.push_back(b.x[i]);
        xyz.push_back(b.y[i]);
        xyz.push_back(b.z[i]);
    }
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

TileEngine::TileEngine(const RunSettings& settings, int workers)
    : s_(settings), collect_kept_(!settings.outputs.empty()), collect_filtered_(wants_mesh(settings)) {
    workers = io::useful_threads(workers);  // each holds a tile working set of up to about 17 MB
    for (int i = 0; i < workers; ++i) {
        auto w = std::make_unique<Worker>();  // aligned new: C++17
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
    r.kept.clear();
    r.filtered.clear();
    if (collect_filtered_) append_xyz(b, tile.first(static_cast<std::size_t>(npt)), r.filtered);
    bool drew = false;
    if (w.deflate) {
        w.kernel.trfind_seeds = seeds.trfind;
        w.kernel.ctrfind_seeds = seeds.ctrfind;
        io::StringOut listing, console;
        npt = deflate::sdeflate(b.x, b.y, b.z, tile.first(static_cast<std::size_t>(npt)), s_.tol, *w.deflate,
                                w.kernel, listing, console);
        drew = w.kernel.trfind_seeds.draws != seeds.trfind.draws || w.kernel.ctrfind_seeds.draws != seeds.ctrfind.draws;
        seeds.trfind = w.kernel.trfind_seeds;
        seeds.ctrfind = w.kernel.ctrfind_seeds;
        r.listing = listing.take();
        r.console = console.take();
    }
    io::swrite(b.x, b.y, b.z, tile.first(static_cast<std::size_t>(npt)), b.xorig, b.yorig, s_.ifmt, r.result);
    if (collect_kept_) append_xyz(b, tile.first(static_cast<std::size_t>(npt)), r.kept);
    r.npt = npt;
    return drew;
}

// What the threads of one run share. Everything but the contents of a job
// that is being worked on is guarded by m; a job belongs to its worker from
// its start until done is set.
struct TileEngine::Schedule {
    Schedule(const TileBatch& batch, std::int32_t window) : b(batch), window(window), jobs(static_cast<std::size_t>(window)) {}

    Job& job_of(std::int32_t t) { return jobs[static_cast<std::size_t>(t % window)]; }
    [[nodiscard]] bool can_start() const { return next <= b.count && next <= emitted + window; }

    const TileBatch& b;
    const std::int32_t window;  // tiles ahead of the one to emit: bounds the results held
    std::vector<Job> jobs;
    std::mutex m;
    std::condition_variable cv;
    std::int32_t next = 1;     // next tile to start
    std::int32_t emitted = 0;  // tiles handed to emit
    bool stop = false;
};

// Takes the next tile (lock held) and runs it outside the lock.
void TileEngine::work_one(Schedule& sc, Worker& w, std::unique_lock<std::mutex>& lock) {
    const std::int32_t t = sc.next++;
    Job& job = sc.job_of(t);
    job.done = false;
    job.error = nullptr;
    // One read of the true state, under the lock that its writer holds.
    job.given = truth_;
    Seeds seeds = job.given;
    lock.unlock();
    try {
        job.drew = process(sc.b, t, w, seeds, job, true);
        job.after = seeds;
    } catch (...) {
        job.error = std::current_exception();
    }
    lock.lock();
    job.done = true;
    sc.cv.notify_all();
}

// Accepts tile t in its turn (no lock held): a tile that drew from a state
// that turned out wrong runs again from the true one, and the true state
// moves on to what the tile left.
void TileEngine::accept(Schedule& sc, std::int32_t t, Job& job) {
    // truth_ is read here without the lock: this thread is its only writer.
    if (job.drew && !(same_state(job.given.trfind, truth_.trfind) && same_state(job.given.ctrfind, truth_.ctrfind))) {
        Seeds seeds = truth_;
        (void)process(sc.b, t, *workers_[0], seeds, job, false);
        job.after = seeds;
        ++reruns_;
    }
    // Workers copy the true state under the lock: it changes only there.
    std::lock_guard<std::mutex> lock(sc.m);
    if (job.drew) truth_ = job.after;
}

void TileEngine::run(const TileBatch& b, const std::function<void(const TileResult&)>& emit) {
    const auto nworkers = static_cast<std::int32_t>(workers_.size());
    Schedule sc(b, nworkers == 1 ? 1 : 2 * nworkers);

    std::vector<std::thread> threads;
    // A thread that cannot be had (memory short) leaves its share to the others.
    try {
        for (std::int32_t i = 1; i < nworkers; ++i) {
            threads.emplace_back([this, &sc, i] {
                std::unique_lock<std::mutex> lock(sc.m);
                for (;;) {
                    sc.cv.wait(lock, [&] { return sc.stop || sc.can_start(); });
                    if (sc.stop) return;
                    work_one(sc, *workers_[static_cast<std::size_t>(i)], lock);
                }
            });
        }
    } catch (const std::system_error&) {
    }
    auto finish = [&] {
        {
            std::lock_guard<std::mutex> lock(sc.m);
            sc.stop = true;
        }
        sc.cv.notify_all();
        for (std::thread& th : threads) th.join();
    };

    try {
        std::unique_lock<std::mutex> lock(sc.m);
        for (std::int32_t t = 1; t <= b.count; ++t) {
            Job& job = sc.job_of(t);
            // The calling thread works too while its tile is not done.
            while (!(sc.next > t && job.done)) {
                if (sc.can_start()) work_one(sc, *workers_[0], lock);
                else sc.cv.wait(lock);
            }
            lock.unlock();
            if (job.error) std::rethrow_exception(job.error);
            accept(sc, t, job);
            emit(job.result);
            lock.lock();
            ++sc.emitted;
            sc.cv.notify_all();
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

}  // namespace krel
